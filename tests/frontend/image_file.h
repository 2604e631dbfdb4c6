// One-colour images written through the graphics engine's own writers, for
// the front end's tests and benchmark (the engine must be up).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "gfx/core/image.h"
#include "gfx/toolkit/bmp/imagebmp.h"

namespace fetest {

// A w x h BMP of the colour 0xRRGGBB at path (relative to the working
// folder). 1 when written.
inline int WriteBitmap(const std::string& path, int32_t w, int32_t h, uint32_t rgb)
{
    Image* image = Image_Create(w, h, 32);
    if (!image) return 0;
    Image_AllocatePixels(image);
    const uint8_t rgba[4] = {(uint8_t)(rgb >> 16), (uint8_t)(rgb >> 8), (uint8_t)rgb, 255};
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) memcpy(image->pixels + (size_t)y * image->stride + 4 * (size_t)x, rgba, 4);
    const int written = ImageBmp_Write(image, path.c_str()) != nullptr;
    Image_Destroy(image);
    return written;
}

}  // namespace fetest
