// Image benchmarks: PNG decoding against libpng's simplified API on the same
// file, BMP decoding, palette quantisation of a random image, and texture
// creation with mip levels on the Direct3D 8 stand-in.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/palquant.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"

namespace {

StandardFunction g_standard[ENGINE_NUM_STANDARD_FUNCTIONS] = {};
int32_t Request(int32_t code, void *out, void *, int32_t);
const EngineDevice kDevice = {1.0f, Request, 0.0f, 1.0f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
int32_t Request(int32_t code, void *out, void *, int32_t)
{
    switch (code) {
    case REQ_GET_DEVICE: *(EngineDevice *)out = kDevice; return 1;
    case REQ_OPEN:
    case REQ_CLOSE:
    case REQ_STOP: return 1;
    case REQ_START: return D3D8_RasterListOpen();
    case REQ_STANDARD_FUNCTIONS: memcpy(out, g_standard, sizeof(g_standard)); return 1;
    default: return 0;
    }
}

std::string g_folder;
IDirect3D8 *g_d3d = nullptr;
IDirect3DDevice8 *g_device = nullptr;

// Starts the engine and a stand-in device once for the whole run.
void StartEngine()
{
    if (g_device) return;
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    D3D8_FillRasterStandardFunctions(g_standard);
    static const EngineDriver driver = {&kDevice, D3D8_RasterPluginAttach};
    Engine_SetDriver(&driver);
    int window = 0;
    if (!Engine_Init(nullptr, 0, 0) || !Engine_Open(&window) || !Engine_Start()) abort();
    g_d3d = Direct3DCreate8(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS params = {};
    params.BackBufferWidth = 64;
    params.BackBufferHeight = 64;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.BackBufferCount = 1;
    params.SwapEffect = D3DSWAPEFFECT_COPY;
    params.Windowed = 1;
    if (g_d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &g_device) < 0)
        abort();
    D3D8DeviceState &s = *D3D8_DeviceState();
    s.d3d = g_d3d;
    s.device = g_device;
    s.deviceType = D3DDEVTYPE_HAL;
    g_d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &s.caps);
    s.displayFormat = D3DFMT_X8R8G8B8;
    s.displayDepth = 32;
    s.zBufferDepth = 32;
    s.depthFormat = D3DFMT_D24X8;
    g_folder = (std::filesystem::temp_directory_path() / "helm_image_bench").string() + "/";
    std::filesystem::create_directories(g_folder);
    Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write);
    Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
    Image_SetPath(g_folder.c_str());
}

// A w x h picture with smooth gradients and some noise, as textures have.
Image *MakePicture(int32_t w, int32_t h, bool noise)
{
    Image *image = Image_Create(w, h, 32);
    Image_AllocatePixels(image);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            uint8_t *p = image->pixels + (size_t)y * image->stride + 4 * x;
            seed = seed * 1103515245u + 12345u;
            const uint8_t n = noise ? (uint8_t)(seed >> 16) : 0;
            p[0] = (uint8_t)(x * 255 / w + (n & 15));
            p[1] = (uint8_t)(y * 255 / h + (n >> 4));
            p[2] = noise ? (uint8_t)(seed >> 24) : (uint8_t)((x ^ y) & 255);
            p[3] = 255;
        }
    return image;
}

const std::string &PictureFile(const char *extension)
{
    static std::string png, bmp;
    std::string &path = extension[0] == 'p' ? png : bmp;
    if (path.empty()) {
        StartEngine();
        path = g_folder + "picture." + extension;
        Image *image = MakePicture(1024, 1024, false);
        if (extension[0] == 'p') ImagePng_Write(image, path.c_str());
        else ImageBmp_Write(image, path.c_str());
        Image_Destroy(image);
    }
    return path;
}

// Reads the 1024 x 1024 picture of the extension with the reader each iteration.
void TimeDecode(benchmark::State &state, const char *extension, Image *(*read)(const char *))
{
    const std::string &path = PictureFile(extension);
    for (auto _ : state) {
        Image *image = read(path.c_str());
        benchmark::DoNotOptimize(image);
        Image_Destroy(image);
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}

void BM_PngDecode1024(benchmark::State &state) { TimeDecode(state, "png", ImagePng_Read); }
BENCHMARK(BM_PngDecode1024)->Unit(benchmark::kMillisecond);

// The baseline: libpng's simplified API decoding the same file to RGBA.
void BM_PngDecode1024SimplifiedApi(benchmark::State &state)
{
    const std::string &path = PictureFile("png");
    std::vector<uint8_t> pixels(1024 * 1024 * 4);
    for (auto _ : state) {
        png_image image;
        memset(&image, 0, sizeof(image));
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path.c_str())) state.SkipWithError("begin");
        image.format = PNG_FORMAT_RGBA;
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) state.SkipWithError("finish");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(BM_PngDecode1024SimplifiedApi)->Unit(benchmark::kMillisecond);

void BM_BmpDecode1024(benchmark::State &state) { TimeDecode(state, "bmp", ImageBmp_Read); }
BENCHMARK(BM_BmpDecode1024)->Unit(benchmark::kMillisecond);

void BM_QuantiseRandom256To256Colours(benchmark::State &state)
{
    StartEngine();
    Image *image = MakePicture(256, 256, true);
    uint8_t palette[1024];
    std::vector<uint8_t> indices(256 * 256);
    for (auto _ : state) {
        PaletteQuantiser q;
        PaletteQuantiser_Create(&q);
        PaletteQuantiser_AddImage(&q, image, 1.0f);
        const int32_t made = PaletteQuantiser_MakePalette(palette, 256, &q);
        PaletteQuantiser_MapImage(indices.data(), 256, 8, 0, &q, image);
        PaletteQuantiser_Destroy(&q);
        if (made != 256) state.SkipWithError("fewer entries");
    }
    Image_Destroy(image);
}
BENCHMARK(BM_QuantiseRandom256To256Colours)->Unit(benchmark::kMillisecond);

// Texture_Read of a 256 x 256 PNG into a texture with automatic mip levels
// (decode, raster create, level 0 and the eight levels below it).
void BM_TextureCreateWithMipLevels(benchmark::State &state)
{
    StartEngine();
    Image *image = MakePicture(256, 256, false);
    ImagePng_Write(image, (g_folder + "mipped.png").c_str());
    Image_Destroy(image);
    TextureDictionary_SetCurrent(nullptr);
    Texture_SetMipmapping(1);
    Texture_SetAutoMipmapping(1);
    for (auto _ : state) {
        Texture *texture = Texture_Read("mipped", nullptr);
        if (!texture) state.SkipWithError("read");
        Texture_Destroy(texture);
    }
    Texture_SetMipmapping(0);
    Texture_SetAutoMipmapping(0);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextureCreateWithMipLevels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
