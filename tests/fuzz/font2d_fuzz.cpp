// Fuzzes the font metrics reader: any bytes as a ".met" file of any kind,
// read through an in-memory file table, with small generated images for
// every image name. A font that reads is measured and drawn; the drawing ends
// in immediate-mode stand-ins that stop on a vertex that is not finite or an
// index past the batch. The engine runs on a stand-in device whose rasters are
// records only and whose preferred texture sizes are powers of two rounded
// down, so that the padding paths run too.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/im3d.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "memory_file.h"

namespace {

// ---- Immediate mode: checks instead of drawing ----

uint32_t g_batch = 0;

}  // namespace

void* Im3D_Transform(void* vertices, uint32_t count, const Matrix*, uint32_t)
{
    const Im3DVertex* v = (const Im3DVertex*)vertices;
    if (count > 256) abort();
    for (uint32_t i = 0; i < count; i++)
        if (!std::isfinite(v[i].x) || !std::isfinite(v[i].y) || !std::isfinite(v[i].z) || !std::isfinite(v[i].u) ||
            !std::isfinite(v[i].v))
            abort();
    g_batch = count;
    return vertices;
}

int32_t Im3D_RenderIndexedPrimitive(int32_t, const uint16_t* indices, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        if (indices[i] >= g_batch) abort();
    return 1;
}

int32_t Im3D_End(void)
{
    g_batch = 0;
    return 1;
}

namespace {

// ---- The device: raster records, power-of-two preferred sizes ----

int32_t Accept(void*, void*, int32_t) { return 1; }

int32_t FindRasterFormat(void* out, void* in, int32_t word)
{
    Raster* raster = (Raster*)out;
    const Image* image = (const Image*)in;
    auto floorPow2 = [](int32_t v) {
        int32_t p = 1;
        while (p * 2 <= v) p *= 2;
        return p;
    };
    raster->width = floorPow2(image->width);
    raster->height = floorPow2(image->height);
    raster->depth = 32;
    raster->type = (uint8_t)(word & RASTERTYPEMASK);
    raster->format = (uint8_t)((RASTERFORMAT8888 | (word & 0xF000)) >> 8);
    return 1;
}

int32_t Request(int32_t code, void* out, void*, int32_t);
const EngineDevice kDevice = {1.0f, Request, 0.0f, 1.0f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};

int32_t Request(int32_t code, void* out, void*, int32_t)
{
    switch (code) {
    case REQ_GET_DEVICE: *(EngineDevice*)out = kDevice; return 1;
    case REQ_OPEN:
    case REQ_CLOSE:
    case REQ_START:
    case REQ_STOP: return 1;
    case REQ_STANDARD_FUNCTIONS: {
        StandardFunction* table = (StandardFunction*)out;
        for (int i = 0; i < ENGINE_NUM_STANDARD_FUNCTIONS; i++) table[i] = Accept;
        table[STDFN_IMAGEFINDRASTERFORMAT] = FindRasterFormat;
        return 1;
    }
    default: return 0;
    }
}

// ---- Images by name: the file part's first letter picks one ----

Image* NewImage(int32_t w, int32_t h, int32_t depth)
{
    Image* image = Image_Create(w, h, depth);
    if (image && !Image_AllocatePixels(image)) {
        Image_Destroy(image);
        return nullptr;
    }
    return image;
}

// Two rows of 6-pixel cells in the delimiter colour of (0, 0).
Image* Cells(int32_t depth)
{
    Image* image = NewImage(40, 12, depth);
    if (!image) return nullptr;
    const int32_t bpp = depth == 32 ? 4 : 1;
    for (int32_t y = 0; y < 12; y++)
        for (int32_t x = 0; x < 40; x++) {
            const bool delimiter = (y % 6 == 0) && (x % 7 == 0 || x == 36);
            uint8_t* p = image->pixels + (size_t)y * image->stride + (size_t)(x * bpp);
            memset(p, delimiter ? 0x80 : (x * 5 + y) & 0x7F, (size_t)bpp);
        }
    if (image->palette)
        for (int32_t i = 0; i < (1 << depth); i++) memset(image->palette + 4 * i, i * 7, 4);
    return image;
}

Image* ReadImage(const char* path)
{
    const char* file = strrchr(path, '/');
    file = file ? file + 1 : path;
    switch (file[0]) {
    case 'c': return Cells(32);
    case 'p': return Cells(8);
    case 'q': return Cells(4);
    case 'w': {
        Image* image = NewImage(24, 16, 32);  // not a power of two: padded
        if (image) memset(image->pixels, 0xC0, (size_t)image->stride * 16);
        return image;
    }
    case 'l': return NewImage(5, 1, 32);  // too low for cells
    default: return nullptr;              // missing
    }
}

// ---- The engine, made once ----

Camera* g_camera = nullptr;

void StartEngine()
{
    static int window;
    static const EngineDriver driver = {&kDevice, nullptr};
    Engine_SetDriver(&driver);
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    if (!Engine_Init(nullptr, 0, 0) || !Engine_Open(&window) || !Engine_Start()) {
        fprintf(stderr, "font2d_fuzz: the engine did not start\n");
        abort();
    }
    Image_RegisterFileFormat("img", ReadImage, nullptr);
    FileInterface* io = FileSystem_GetInterface();
    *io = FileInterface{fuzz::Exists, fuzz::Open, fuzz::Close, fuzz::Read,  fuzz::Write, fuzz::Gets,
                        fuzz::Puts,   fuzz::Eof,  fuzz::Seek,  fuzz::Flush, fuzz::Tell};
    g_camera = Camera_Create();
    Camera_SetFrame(g_camera, Frame_Create());
    Camera_SetRaster(g_camera, Raster_Create(160, 120, 0, RASTERTYPECAMERA));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!g_camera) StartEngine();
    fuzz::g_data = data;
    fuzz::g_size = size;
    if (!Toolkit2D_Open(g_camera)) abort();
    Toolkit2D_SetDeviceRect(0, 0, 160, 120);
    Font2D_SetPath("a/;b/");
    Font2D* font = Font2D_Read("font");
    if (font) {
        // Every byte once, and every 16-bit unit up to 0x17F, as strings.
        uint8_t bytes[256];
        uint16_t units[0x180];
        for (int i = 0; i < 255; i++) bytes[i] = (uint8_t)(i + 1);
        bytes[255] = 0;
        for (int i = 0; i < 0x17F; i++) units[i] = (uint16_t)(i + 1);
        units[0x17F] = 0;
        const void* text = (font->flags & FONT2D_WIDE) ? (const void*)units : (const void*)bytes;
        Brush2D* brush = Brush2D_Create();
        const Brush2DColour a = {255, 0, 0, 255}, b = {0, 0, 255, 0};
        Brush2D_SetColours(brush, &a, &b, &a, &b);
        Vec2 anchor = {4, 60};
        if (!std::isfinite(Font2D_GetStringWidth(font, text, 12.0f))) abort();
        Font2D_GetHeight(font);
        Font2D_DrawString(font, text, 12.0f, &anchor, brush);
        Brush2D_Destroy(brush);
        Font2D_Destroy(font);
    }
    Toolkit2D_Close();
    return 0;
}
