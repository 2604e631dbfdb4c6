// BMP image files: reading 1-, 4-, 8-, 16-, 24- and 32-bit files (RLE8 too)
// into images, and writing images as 24-bit files.
#pragma once

#include <cstdint>

struct Image;

enum : uint32_t {
    IMAGEBMP_PLUGIN_ID = 0x19D,
};

// Header kinds.
enum : int32_t {
    IMAGEBMP_WINDOWS = 1,
    IMAGEBMP_OS2 = 2,
};

// Reads a BMP file through a stream on path into a new image of depth 4 (1-
// and 4-bit files), 8 or 32. Null when the file is missing, malformed or of a
// kind not read (RLE4, top-down rows); the caller destroys the image.
Image *ImageBmp_Read(const char *path);
// Writes a 24-bit bottom-up file of a 4-, 8- or 32-bit image (alpha is not
// stored). Returns image, or null when the file cannot be written.
Image *ImageBmp_Write(Image *image, const char *path);
// Decodes one stored row (bits per pixel as stored; 15 means 5:5:5, 16
// means 5:6:5) into row y of image. noSwap takes 24-bit pixels in R, G, B
// order. 0 with 0x80000008 for a depth and bit count that do not pair.
int ImageBmp_DecodeRow(Image *image, int32_t y, const uint8_t *source, int32_t bits, int noSwap);

// Sizes of the file header (14), the info header (40 or 12), both (54 or 26)
// and a stored row (bits x width rounded up to 32 bits, in bytes); 0 for an
// unknown kind.
int32_t ImageBmp_HeaderSize(int32_t kind);
int32_t ImageBmp_InfoHeaderSize(int32_t kind);
int32_t ImageBmp_HeadersSize(int32_t kind);
int32_t ImageBmp_RowSize(int32_t kind, int32_t bits, int32_t width);
