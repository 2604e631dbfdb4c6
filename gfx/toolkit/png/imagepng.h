// PNG image files through libpng: reading any standard PNG into a 4-, 8- or
// 32-bit image, writing 4-, 8- and 32-bit images.
#pragma once

#include <cstdint>

struct Image;

enum : uint32_t {
    IMAGEPNG_PLUGIN_ID = 0x10D,
};

// Reads the PNG at path into a new image: grey -> depth 8 with a grey ramp
// palette (a grey tRNS key gets alpha 0), palette -> depth 8 (depth 4 below
// 8 bits, one index per byte), RGB, grey+alpha and RGBA -> depth 32, and so
// does 16-bit grey with a tRNS key (alpha 0 where all 16 bits match it).
// 16-bit channels are cut to 8. Null for a null path (0x80000016), a missing
// or malformed file, or one past the reader's bounds (sides over 65536,
// 2^26 pixels, a chunk over 8 MB); the caller destroys the image.
Image *ImagePng_Read(const char *path);
// Writes a 4- or 8-bit image as a palette PNG (PLTE and tRNS of all 2^depth
// entries) or a 32-bit one as RGBA. A null image or path returns image
// without writing; a failed write returns null.
Image *ImagePng_Write(Image *image, const char *path);
