// Image writer of the data tools: pictures the tools draw, written as the
// game reads them.
//
//   BMP: 24-bit, rows stored bottom-up (the game's reader refuses top-down
//        files), each row padded to a multiple of four bytes; alpha is not
//        stored (fonts and sprites carry it in a separate mask image).
//   PNG: 8-bit RGB, or RGBA when any pixel is not opaque, through libpng;
//        no time or text chunks, so equal pictures give equal files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A picture in memory: rows top to bottom, 4 bytes a pixel (red, green,
// blue, alpha), no padding.
struct ToolImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;

    ToolImage() = default;
    // width x height pixels of one colour (0xRRGGBBAA).
    ToolImage(int32_t w, int32_t h, uint32_t colour = 0x000000FFu);
    uint8_t* At(int32_t x, int32_t y) { return &rgba[((size_t)y * (size_t)width + (size_t)x) * 4]; }
    const uint8_t* At(int32_t x, int32_t y) const { return &rgba[((size_t)y * (size_t)width + (size_t)x) * 4]; }
    void Set(int32_t x, int32_t y, uint32_t colour);  // 0xRRGGBBAA; outside the picture: nothing
};

// Largest side the writers take: the game's readers refuse larger pictures.
constexpr int32_t IMAGEWRITER_MAX_SIDE = 8192;

// The file's bytes. An empty vector (error set) for a picture without
// pixels, over IMAGEWRITER_MAX_SIDE, or whose pixel vector has the wrong size.
std::vector<uint8_t> ImageWriter_EncodeBmp(const ToolImage& image, std::string* error);
std::vector<uint8_t> ImageWriter_EncodePng(const ToolImage& image, std::string* error);

// Writes the picture to path as the extension says (".bmp" or ".png", any
// case). 0 with error set ("PATH: ...") for another extension, a refused
// picture or a failed write; nothing is left at path then.
int ImageWriter_Write(const ToolImage& image, const std::string& path, std::string* error);
