#include "gfx/toolkit/png/imagepng.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/stream.h"

// libpng reports errors by longjmp back into the function that called setjmp.
// Those functions hold only plain pointers, kept in a state record in the
// caller's frame, so the jump skips no destructor and every pointer survives
// it.

namespace {

constexpr int64_t kMaxPixels = (int64_t)1 << 26;
// Bounds no real texture reaches, so that a small file cannot make libpng
// allocate what its chunk lengths claim (a text chunk claiming gigabytes),
// inflate a compressed chunk without end or keep thousands of ancillary
// chunks. libpng sizes a text chunk's buffer from the length alone, so the
// allocation hook holds the block bound itself: within the side limit no
// row or chunk libpng needs comes near it (the pixels are the image's own).
constexpr png_uint_32 kMaxSide = 1u << 16;
constexpr png_alloc_size_t kMaxBlock = (png_alloc_size_t)8 << 20;
constexpr png_uint_32 kMaxCachedChunks = 128;
constexpr uint64_t kMaxInflation = 1032;

struct PngState {
    Stream *stream;
    png_structp png;
    png_infop info;
    Image *image;
    png_bytep *rows;
};

void SilentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void SilentWarning(png_structp, png_const_charp) {}
png_voidp EngineAlloc(png_structp, png_alloc_size_t size) { return size <= kMaxBlock ? Engine_Malloc(size) : nullptr; }
void EngineFree(png_structp, png_voidp block)
{
    if (block) Engine_Free(block);
}

void ReadData(png_structp png, png_bytep data, size_t length)
{
    PngState *state = (PngState *)png_get_io_ptr(png);
    if (!state || !state->stream || length > 0xffffffffu ||
        Stream_Read(state->stream, data, (uint32_t)length) != length)
        png_error(png, "short read");
}

void WriteData(png_structp png, png_bytep data, size_t length)
{
    PngState *state = (PngState *)png_get_io_ptr(png);
    if (!state || !state->stream || length > 0xffffffffu || !Stream_Write(state->stream, data, (uint32_t)length))
        png_error(png, "short write");
}

void Flush(png_structp) {}

bool MakeRowTable(PngState *s)
{
    s->rows = (png_bytep *)Engine_Malloc(sizeof(png_bytep) * (size_t)(s->image->height ? s->image->height : 1));
    if (!s->rows) return false;
    for (int32_t y = 0; y < s->image->height; y++) s->rows[y] = s->image->pixels + (size_t)y * s->image->stride;
    return true;
}

// Frees what a read or write made; on a failed read the image goes too.
void Release(PngState *s, bool reading, bool keepImage)
{
    if (reading) png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr);
    else png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr);
    if (s->rows) Engine_Free(s->rows);
    s->rows = nullptr;
    if (!keepImage && s->image) {
        Image_Destroy(s->image);
        s->image = nullptr;
    }
}

Image *Decode(PngState *s)
{
    s->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning, nullptr,
                                      EngineAlloc, EngineFree);
    if (!s->png) return nullptr;
    s->info = png_create_info_struct(s->png);
    if (!s->info || setjmp(png_jmpbuf(s->png))) {
        Release(s, true, false);
        return nullptr;
    }
    png_set_read_fn(s->png, s, ReadData);
    png_set_user_limits(s->png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(s->png, kMaxBlock);
    png_set_chunk_cache_max(s->png, kMaxCachedChunks);
    png_read_info(s->png, s->info);
    png_uint_32 width, height;
    int bitDepth, colourType;
    png_get_IHDR(s->png, s->info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    if ((int64_t)width * height > kMaxPixels) png_error(s->png, "too large");
    // Deflate expands at most 1032 times: rows that the rest of the file
    // cannot hold even so are refused before the image is made.
    uint64_t left = 0;
    const uint64_t raw = (uint64_t)height * (1 + png_get_rowbytes(s->png, s->info));
    if (Stream_Remaining(s->stream, &left) && raw > kMaxInflation * left + kMaxInflation)
        png_error(s->png, "rows beyond the file");
    if (bitDepth == 16) png_set_strip_16(s->png);
    int32_t depth = 32;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
        if (bitDepth == 16 && png_get_valid(s->png, s->info, PNG_INFO_tRNS)) {
            // An 8-bit ramp cannot hold a 16-bit key (0x12FF and 0x1234 share
            // their high byte): libpng turns the key into alpha on the full
            // 16 bits before the channels are cut to 8.
            png_set_tRNS_to_alpha(s->png);
            png_set_gray_to_rgb(s->png);
            break;
        }
        depth = 8;
        if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(s->png);
        break;
    case PNG_COLOR_TYPE_PALETTE:
        depth = bitDepth < 8 ? 4 : 8;
        if (bitDepth < 8) png_set_packing(s->png);
        break;
    case PNG_COLOR_TYPE_RGB: png_set_filler(s->png, 0xff, PNG_FILLER_AFTER); break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: png_set_gray_to_rgb(s->png); break;
    default: break;  // RGBA
    }
    png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    s->image = Image_Create((int32_t)width, (int32_t)height, depth);
    if (!s->image || !Image_AllocatePixels(s->image)) png_error(s->png, "no memory");
    if (png_get_rowbytes(s->png, s->info) > (size_t)s->image->stride) png_error(s->png, "row layout");
    if (s->image->palette) {
        const int32_t entries = 1 << depth;
        for (int32_t i = 0; i < entries; i++) {
            uint8_t *e = s->image->palette + 4 * i;
            e[0] = e[1] = e[2] = (uint8_t)i;
            e[3] = 255;
        }
        png_colorp plte;
        int count = 0;
        if (colourType == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(s->png, s->info, &plte, &count)) {
            for (int i = 0; i < count && i < entries; i++) {
                s->image->palette[4 * i + 0] = plte[i].red;
                s->image->palette[4 * i + 1] = plte[i].green;
                s->image->palette[4 * i + 2] = plte[i].blue;
            }
        }
        png_bytep alphas = nullptr;
        png_color_16p key = nullptr;
        int transparent = 0;
        if (png_get_tRNS(s->png, s->info, &alphas, &transparent, &key)) {
            if (colourType == PNG_COLOR_TYPE_PALETTE && alphas) {
                for (int i = 0; i < transparent && i < entries; i++) s->image->palette[4 * i + 3] = alphas[i];
            } else if (colourType == PNG_COLOR_TYPE_GRAY && key) {
                // The key grey, scaled as the pixels are to 8 bits (16-bit
                // grey with a key is read at depth 32 above).
                uint32_t grey = key->gray;
                if (bitDepth < 8) grey = grey * 255 / ((1u << bitDepth) - 1);
                s->image->palette[4 * (grey & 255) + 3] = 0;
            }
        }
    }
    if (!MakeRowTable(s)) png_error(s->png, "no memory");
    png_read_image(s->png, s->rows);
    png_read_end(s->png, nullptr);
    Image *image = s->image;
    Release(s, true, true);
    return image;
}

bool Encode(PngState *s, Image *image)
{
    s->png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning, nullptr,
                                       EngineAlloc, EngineFree);
    if (!s->png) return false;
    s->info = png_create_info_struct(s->png);
    if (!s->info || setjmp(png_jmpbuf(s->png))) {
        Release(s, false, true);
        return false;
    }
    png_set_write_fn(s->png, s, WriteData, Flush);
    const bool indexed = image->depth != 32;
    png_set_IHDR(s->png, s->info, (png_uint_32)image->width, (png_uint_32)image->height, indexed ? image->depth : 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_color plte[256];
        png_byte alphas[256];
        const int entries = 1 << image->depth;
        for (int i = 0; i < entries; i++) {
            plte[i].red = image->palette[4 * i];
            plte[i].green = image->palette[4 * i + 1];
            plte[i].blue = image->palette[4 * i + 2];
            alphas[i] = image->palette[4 * i + 3];
        }
        png_set_PLTE(s->png, s->info, plte, entries);
        png_set_tRNS(s->png, s->info, alphas, entries, nullptr);
    }
    png_write_info(s->png, s->info);
    png_set_packing(s->png);
    s->image = image;
    if (!MakeRowTable(s)) png_error(s->png, "no memory");
    png_write_image(s->png, s->rows);
    png_write_end(s->png, nullptr);
    Release(s, false, true);
    return true;
}

}  // namespace

Image *ImagePng_Read(const char *path)
{
    if (!path) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    PngState state = {};
    state.stream = Stream_Open(STREAM_FILENAME, STREAM_READ, path);
    if (!state.stream) return nullptr;
    Image *image = Decode(&state);
    Stream_Close(state.stream, nullptr);
    return image;
}

Image *ImagePng_Write(Image *image, const char *path)
{
    if (!image || !path) return image;
    if (!image->pixels || ((image->depth == 4 || image->depth == 8) && !image->palette)) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    if (image->depth != 4 && image->depth != 8 && image->depth != 32) {
        Error_Raise(0x80000008u);
        return nullptr;
    }
    PngState state = {};
    state.stream = Stream_Open(STREAM_FILENAME, STREAM_WRITE, path);
    if (!state.stream) return nullptr;
    bool ok = Encode(&state, image);
    if (!Stream_Close(state.stream, nullptr)) ok = false;
    return ok ? image : nullptr;
}
