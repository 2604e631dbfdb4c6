#include "tools/lib/imagewrite.h"

#include <png.h>

#include <cctype>
#include <cstring>

#include "tools/lib/toolfile.h"

ToolImage::ToolImage(int32_t w, int32_t h, uint32_t colour) : width(w), height(h)
{
    rgba.resize((size_t)(w > 0 ? w : 0) * (size_t)(h > 0 ? h : 0) * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = (uint8_t)(colour >> 24);
        rgba[i + 1] = (uint8_t)(colour >> 16);
        rgba[i + 2] = (uint8_t)(colour >> 8);
        rgba[i + 3] = (uint8_t)colour;
    }
}

void ToolImage::Set(int32_t x, int32_t y, uint32_t colour)
{
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = At(x, y);
    p[0] = (uint8_t)(colour >> 24);
    p[1] = (uint8_t)(colour >> 16);
    p[2] = (uint8_t)(colour >> 8);
    p[3] = (uint8_t)colour;
}

namespace {

bool Usable(const ToolImage& image, std::string* error)
{
    const char* why = nullptr;
    if (image.width <= 0 || image.height <= 0) why = "the picture has no pixels";
    else if (image.width > IMAGEWRITER_MAX_SIDE || image.height > IMAGEWRITER_MAX_SIDE)
        why = "the picture is larger than the game reads";
    else if (image.rgba.size() != (size_t)image.width * (size_t)image.height * 4)
        why = "the pixel block does not match the picture's size";
    if (why && error) *error = why;
    return !why;
}

void AppendPng(png_structp png, png_bytep data, png_size_t length)
{
    std::vector<uint8_t>* out = (std::vector<uint8_t>*)png_get_io_ptr(png);
    out->insert(out->end(), data, data + length);
}

void FlushPng(png_structp) {}

// Every object with a destructor is the caller's: a long jump out of here
// must not skip one.
void EncodePng(png_structp png, png_infop info, const ToolImage& image, uint8_t* row, std::vector<uint8_t>* out)
{
    bool opaque = true;
    for (size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 255;
    const size_t channels = opaque ? 3 : 4;
    png_set_write_fn(png, out, AppendPng, FlushPng);
    png_set_IHDR(png, info, (png_uint_32)image.width, (png_uint_32)image.height, 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < image.height; y++) {
        const uint8_t* p = image.At(0, y);
        for (int32_t x = 0; x < image.width; x++, p += 4) memcpy(&row[(size_t)x * channels], p, channels);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
}

bool EndsWithNoCase(const std::string& text, const char* end)
{
    const size_t n = strlen(end);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)text[text.size() - n + i]) != tolower((unsigned char)end[i])) return false;
    return true;
}

}  // namespace

std::vector<uint8_t> ImageWriter_EncodeBmp(const ToolImage& image, std::string* error)
{
    std::vector<uint8_t> out;
    if (!Usable(image, error)) return out;
    const uint32_t rowSize = ((uint32_t)image.width * 3 + 3) & ~3u;
    const uint32_t pixelBytes = rowSize * (uint32_t)image.height;
    out.reserve(54 + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    ToolFile_PutU32(&out, 54 + pixelBytes);  // file size
    ToolFile_PutU32(&out, 0);                // reserved
    ToolFile_PutU32(&out, 54);               // offset of the pixels
    ToolFile_PutU32(&out, 40);               // info header size
    ToolFile_PutU32(&out, (uint32_t)image.width);
    ToolFile_PutU32(&out, (uint32_t)image.height);  // positive: bottom-up
    ToolFile_PutU16(&out, 1);                       // planes
    ToolFile_PutU16(&out, 24);                      // bits per pixel
    ToolFile_PutU32(&out, 0);                       // no compression
    ToolFile_PutU32(&out, pixelBytes);
    ToolFile_PutU32(&out, 2835);  // 72 dpi, both ways
    ToolFile_PutU32(&out, 2835);
    ToolFile_PutU32(&out, 0);  // palette entries
    ToolFile_PutU32(&out, 0);  // important colours
    for (int32_t y = image.height - 1; y >= 0; y--) {
        for (int32_t x = 0; x < image.width; x++) {
            const uint8_t* p = image.At(x, y);
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
        }
        for (uint32_t pad = (uint32_t)image.width * 3; pad < rowSize; pad++) out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> ImageWriter_EncodePng(const ToolImage& image, std::string* error)
{
    std::vector<uint8_t> out;
    if (!Usable(image, error)) return out;
    std::vector<uint8_t> row((size_t)image.width * 4);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        if (error) *error = "libpng could not start";
        return {};
    }
    // libpng reports failures by a long jump back here; the encoding itself
    // lies in a function of its own, so no local of this frame changes
    // between the set-up and a jump.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        if (error) *error = "libpng failed to encode the picture";
        return {};
    }
    EncodePng(png, info, image, row.data(), &out);
    png_destroy_write_struct(&png, &info);
    return out;
}

int ImageWriter_Write(const ToolImage& image, const std::string& path, std::string* error)
{
    std::string why;
    std::vector<uint8_t> bytes;
    if (EndsWithNoCase(path, ".bmp")) bytes = ImageWriter_EncodeBmp(image, &why);
    else if (EndsWithNoCase(path, ".png")) bytes = ImageWriter_EncodePng(image, &why);
    else why = "pictures are written as .bmp or .png";
    if (bytes.empty()) {
        if (error) *error = path + ": " + why;
        return 0;
    }
    return ToolFile_Write(path, bytes, error);
}
