// Fuzzes the font metrics reader: any bytes as a ".met" file of any kind,
// with small generated images for every image name. A font that reads is
// measured and drawn into immediate-mode stand-ins that stop on a vertex that
// is not finite or an index past the batch. The stand-in device's rasters are
// records only and its preferred texture sizes are powers of two rounded
// down, so that the padding paths run too.
#include <cmath>
#include <cstdlib>
#include <initializer_list>

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

static uint32_t g_batch = 0;

void* Im3D_Transform(void* vertices, uint32_t count, const Matrix*, uint32_t)
{
    const Im3DVertex* v = (const Im3DVertex*)vertices;
    if (count > 256) abort();
    for (uint32_t i = 0; i < count; i++)
        for (float f : {v[i].x, v[i].y, v[i].z, v[i].u, v[i].v})
            if (!std::isfinite(f)) abort();
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

int32_t Accept(void*, void*, int32_t) { return 1; }

int32_t FindRasterFormat(void* out, void* in, int32_t word)
{
    Raster* raster = (Raster*)out;
    const Image* image = (const Image*)in;
    for (raster->width = 1; raster->width * 2 <= image->width;) raster->width *= 2;
    for (raster->height = 1; raster->height * 2 <= image->height;) raster->height *= 2;
    raster->depth = 32;
    raster->type = (uint8_t)(word & RASTERTYPEMASK);
    raster->format = (uint8_t)((RASTERFORMAT8888 | (word & 0xF000)) >> 8);
    return 1;
}

int32_t Request(int32_t code, void* out, void*, int32_t);
const EngineDevice kDevice = {1.0f, Request, 0.0f, 1.0f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};

int32_t Request(int32_t code, void* out, void*, int32_t)
{
    if (code == REQ_GET_DEVICE) *(EngineDevice*)out = kDevice;
    if (code == REQ_STANDARD_FUNCTIONS) {
        StandardFunction* table = (StandardFunction*)out;
        for (int i = 0; i < ENGINE_NUM_STANDARD_FUNCTIONS; i++) table[i] = Accept;
        table[STDFN_IMAGEFINDRASTERFORMAT] = FindRasterFormat;
    }
    return (uint32_t)code <= REQ_GET_DEVICE || code == REQ_STANDARD_FUNCTIONS;
}

// Images by name: the file part's first letter picks one.

Image* NewImage(int32_t w, int32_t h, int32_t depth)
{
    Image* image = Image_Create(w, h, depth);
    if (image && !Image_AllocatePixels(image)) Image_Destroy(image), image = nullptr;
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

Camera* g_camera = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int window;
    static const EngineDriver driver = {&kDevice, nullptr};
    Engine_SetDriver(&driver);
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    if (!Engine_Init(nullptr, 0, 0) || !Engine_Open(&window) || !Engine_Start()) abort();
    Image_RegisterFileFormat("img", ReadImage, nullptr);
    *FileSystem_GetInterface() = fuzz::Files();
    g_camera = Camera_Create();
    Camera_SetFrame(g_camera, Frame_Create());
    Camera_SetRaster(g_camera, Raster_Create(160, 120, 0, RASTERTYPECAMERA));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Serve(data, size);
    if (!Toolkit2D_Open(g_camera)) abort();
    Toolkit2D_SetDeviceRect(0, 0, 160, 120);
    Font2D_SetPath("a/;b/");
    Font2D* font = Font2D_Read("font");
    if (font) {
        // Every byte once, and every 16-bit unit up to 0x17F, as strings.
        uint8_t bytes[256] = {};
        uint16_t units[0x180] = {};
        for (int i = 0; i < 255; i++) bytes[i] = (uint8_t)(i + 1);
        for (int i = 0; i < 0x17F; i++) units[i] = (uint16_t)(i + 1);
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
