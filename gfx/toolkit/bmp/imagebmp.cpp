#include "gfx/toolkit/bmp/imagebmp.h"

#include <cstring>

#include "common/bytes.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/stream.h"

namespace {

constexpr uint32_t kErrUnsupported = 0x80000009u;  // RLE4, top-down, a palette after an unknown header
constexpr uint32_t kErrDepthBits = 0x80000008u;
// Larger images are refused before any allocation: a corrupt header must not
// ask for gigabytes.
constexpr int64_t kMaxPixels = (int64_t)1 << 26;
constexpr int32_t kMaxSide = 1 << 16;
// Palette entries that the file does not supply.
constexpr uint8_t kMissingEntry[4] = {0, 0, 0, 255};

bool ReadAll(Stream *stream, void *buffer, uint32_t length)
{
    return length == 0 || Stream_Read(stream, buffer, length) == length;
}

bool SkipAll(Stream *stream, uint32_t length) { return length == 0 || Stream_Skip(stream, length) != nullptr; }

struct Header {
    int32_t infoSize;
    int32_t width;
    int32_t height;
    int32_t bits;         // 15 when 16-bit pixels are 5:5:5
    uint32_t compression;
    uint32_t coloursUsed;
    uint32_t pixelOffset;
    uint32_t consumed;    // bytes read so far
};

// Reads both headers (and the bit-field masks of a 16-bit file). Fails
// without an error for a short read or a file that is not a BMP.
bool ReadHeader(Stream *stream, Header *h)
{
    uint8_t b[52];
    if (!ReadAll(stream, b, 18)) return false;
    ByteReader r = ByteReader_Init(b, 18);
    if (ByteReader_U8(&r) != 0x42 || ByteReader_U8(&r) != 0x4D) return false;
    ByteReader_Skip(&r, 8);  // file size, reserved
    h->pixelOffset = ByteReader_U32(&r);
    const uint32_t infoSize = ByteReader_U32(&r);
    h->consumed = 18;
    if (infoSize == 12) {
        if (!ReadAll(stream, b, 8)) return false;
        h->consumed += 8;
        r = ByteReader_Init(b, 8);
        h->infoSize = 12;
        h->width = (int16_t)ByteReader_U16(&r);
        h->height = (int16_t)ByteReader_U16(&r);
        ByteReader_Skip(&r, 2);  // planes
        h->bits = ByteReader_U16(&r);
        h->compression = 0;
        h->coloursUsed = 0;
        return true;
    }
    // Every other header is read in the Windows layout; one shorter than that
    // layout would make its fields overlap the palette or the pixels.
    if (infoSize < 40 || infoSize > 0x10000) {
        Error_Raise(kErrUnsupported);
        return false;
    }
    if (!ReadAll(stream, b, 36)) return false;
    h->consumed += 36;
    r = ByteReader_Init(b, 36);
    h->infoSize = (int32_t)infoSize;
    h->width = (int32_t)ByteReader_U32(&r);
    h->height = (int32_t)ByteReader_U32(&r);
    ByteReader_Skip(&r, 2);  // planes
    h->bits = ByteReader_U16(&r);
    h->compression = ByteReader_U32(&r);
    ByteReader_Skip(&r, 12);  // image size, resolution
    h->coloursUsed = ByteReader_U32(&r);
    uint32_t rest = infoSize - 40;
    if (h->bits == 16 && h->compression == 3) {
        // Bit fields: the masks follow a 40-byte header or sit in a larger
        // one. Only the green mask matters: 0x3e0 is 5:5:5, else 5:6:5.
        if (!ReadAll(stream, b, 12)) return false;
        h->consumed += 12;
        rest = rest >= 12 ? rest - 12 : 0;
        if (Bytes_LoadU32(b + 4) == 0x3e0) h->bits = 15;
    }
    if (!SkipAll(stream, rest)) return false;
    h->consumed += rest;
    return true;
}

// Decodes RLE8 data row by row into the row buffer (cleared when allocated;
// a row ended early keeps what the buffer held). Runs and literals are
// clipped at the row's end.
bool DecodeRle8(Stream *stream, Image *image, uint8_t *row)
{
    const int32_t width = image->width;
    int32_t rowsDone = 0, x = 0;
    uint8_t literal[256];
    while (rowsDone < image->height) {
        uint8_t pair[2];
        if (!ReadAll(stream, pair, 2)) return false;
        if (pair[0] > 0) {
            const int32_t n = pair[0] < width - x ? pair[0] : width - x;
            memset(row + x, pair[1], (size_t)n);
            x += n;
        } else if (pair[1] == 0 || pair[1] == 1) {
            // End of row, or end of bitmap: the row being built lands in its
            // own image row either way.
            ImageBmp_DecodeRow(image, image->height - 1 - rowsDone, row, 8, 0);
            rowsDone++;
            x = 0;
            if (pair[1] == 1) break;
        } else if (pair[1] == 2) {
            Error_Raise(kErrUnsupported);  // deltas are not read
            return false;
        } else {
            const uint32_t n = pair[1];
            if (!ReadAll(stream, literal, n + (n & 1))) return false;
            const int32_t kept = (int32_t)n < width - x ? (int32_t)n : width - x;
            memcpy(row + x, literal, (size_t)kept);
            x += kept;
        }
    }
    return true;
}

Image *ReadImage(Stream *stream)
{
    Header h;
    if (!ReadHeader(stream, &h)) return nullptr;
    if (h.height < 0 || h.width <= 0 || h.height == 0) {
        Error_Raise(kErrUnsupported);  // top-down rows are not read; empty images are malformed
        return nullptr;
    }
    const int32_t bits = h.bits;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32) {
        Error_Raise(kErrDepthBits);
        return nullptr;
    }
    const bool rle8 = bits == 8 && h.compression == 1;
    if (bits < 24 && !rle8 && h.compression != 0 && !(h.compression == 3 && bits >= 15)) {
        Error_Raise(kErrUnsupported);  // RLE4, RLE8 at other depths, unknown compressions
        return nullptr;
    }
    if (h.width > kMaxSide || h.height > kMaxSide || (int64_t)h.width * h.height > kMaxPixels) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    // Uncompressed rows must all be in the file before the image is made
    // (run-length rows may end early, so only the bound above holds them).
    uint64_t left = 0;
    const uint64_t rows = (uint64_t)ImageBmp_RowSize(IMAGEBMP_WINDOWS, bits == 15 ? 16 : bits, h.width) * h.height;
    if (!rle8 && Stream_Remaining(stream, &left) && rows > left) {
        Error_Raise(ERR_END_OF_STREAM);
        return nullptr;
    }
    int32_t entries = 0, entrySize = 0;
    if (bits <= 8) {
        if (h.infoSize != 12 && h.infoSize != 40) {
            Error_Raise(kErrUnsupported);
            return nullptr;
        }
        entrySize = h.infoSize == 12 ? 3 : 4;
        entries = (h.coloursUsed >= 1 && h.coloursUsed <= (1u << bits)) ? (int32_t)h.coloursUsed : 1 << bits;
    }
    const int32_t depth = bits <= 4 ? 4 : bits == 8 ? 8 : 32;
    Image *image = Image_Create(h.width, h.height, depth);
    if (!image) return nullptr;
    if (!Image_AllocatePixels(image)) {
        Image_Destroy(image);
        return nullptr;
    }
    bool ok = true;
    if (image->palette) {
        for (int32_t i = 0; i < 1 << depth; i++) memcpy(image->palette + 4 * i, kMissingEntry, 4);
        uint8_t entry[4];
        for (int32_t i = 0; ok && i < entries; i++) {
            ok = ReadAll(stream, entry, (uint32_t)entrySize);
            image->palette[4 * i + 0] = entry[2];
            image->palette[4 * i + 1] = entry[1];
            image->palette[4 * i + 2] = entry[0];
            image->palette[4 * i + 3] = 255;
        }
        h.consumed += (uint32_t)(entries * entrySize);
    }
    if (ok && h.pixelOffset < h.consumed) {
        Error_Raise(kErrUnsupported);  // pixels overlapping the headers or palette
        ok = false;
    }
    ok = ok && SkipAll(stream, h.pixelOffset - h.consumed);
    const int32_t storedBits = bits == 15 ? 16 : bits;
    const size_t rowSize = (size_t)ImageBmp_RowSize(IMAGEBMP_WINDOWS, storedBits, h.width);
    const size_t bufferSize = (size_t)((h.width + 7) & ~7) * (size_t)((storedBits + 7) / 8);
    uint8_t *row = nullptr;
    if (ok) {
        row = (uint8_t *)Engine_Calloc(1, rowSize > bufferSize ? rowSize : bufferSize);
        if (!row) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            ok = false;
        }
    }
    if (ok && rle8) {
        memset(image->pixels, 0, (size_t)image->stride * image->height);
        ok = DecodeRle8(stream, image, row);
    } else {
        for (int32_t i = 0; ok && i < h.height; i++)
            ok = ReadAll(stream, row, (uint32_t)rowSize) && ImageBmp_DecodeRow(image, h.height - 1 - i, row, bits, 0);
    }
    if (row) Engine_Free(row);
    if (!ok) {
        Image_Destroy(image);
        return nullptr;
    }
    return image;
}

}  // namespace

int32_t ImageBmp_HeaderSize(int32_t kind) { return kind == IMAGEBMP_WINDOWS || kind == IMAGEBMP_OS2 ? 14 : 0; }

int32_t ImageBmp_InfoHeaderSize(int32_t kind)
{
    return kind == IMAGEBMP_WINDOWS ? 40 : kind == IMAGEBMP_OS2 ? 12 : 0;
}

int32_t ImageBmp_HeadersSize(int32_t kind) { return ImageBmp_HeaderSize(kind) + ImageBmp_InfoHeaderSize(kind); }

int32_t ImageBmp_RowSize(int32_t kind, int32_t bits, int32_t width)
{
    if (kind != IMAGEBMP_WINDOWS && kind != IMAGEBMP_OS2) return 0;
    return (int32_t)((((int64_t)bits * width + 31) / 32) * 4);
}

int ImageBmp_DecodeRow(Image *image, int32_t y, const uint8_t *source, int32_t bits, int noSwap)
{
    uint8_t *out = image->pixels + (size_t)y * image->stride;
    const int32_t width = image->width;
    const bool indexed = image->depth == 4 || image->depth == 8;
    if (indexed && (bits == 1 || bits == 4 || (bits == 8 && image->depth == 8))) {
        for (int32_t x = 0; x < width; x++) {
            if (bits == 1) out[x] = (source[x >> 3] >> (7 - (x & 7))) & 1;
            else if (bits == 4) out[x] = (x & 1) ? source[x >> 1] & 15 : source[x >> 1] >> 4;
            else out[x] = source[x];
        }
        return 1;
    }
    if (image->depth != 32 || (bits <= 8 && !image->palette) ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32)) {
        Error_Raise(kErrDepthBits);
        return 0;
    }
    for (int32_t x = 0; x < width; x++, out += 4) {
        switch (bits) {
        case 1: memcpy(out, image->palette + 4 * ((source[x >> 3] >> (7 - (x & 7))) & 1), 4); break;
        case 4: memcpy(out, image->palette + 4 * ((x & 1) ? source[x >> 1] & 15 : source[x >> 1] >> 4), 4); break;
        case 8: memcpy(out, image->palette + 4 * source[x], 4); break;
        case 15:
        case 16: {
            const uint32_t v = Bytes_LoadU16(source + 2 * x);
            out[0] = (uint8_t)(bits == 15 ? (v >> 7) & 0xf8 : (v >> 8) & 0xf8);
            out[1] = (uint8_t)(bits == 15 ? (v >> 2) & 0xf8 : (v >> 3) & 0xfc);
            out[2] = (uint8_t)(v << 3);
            out[3] = 255;
            break;
        }
        case 24:
            out[0] = noSwap ? source[3 * x] : source[3 * x + 2];
            out[1] = source[3 * x + 1];
            out[2] = noSwap ? source[3 * x + 2] : source[3 * x];
            out[3] = 255;
            break;
        default:  // 32: B, G, R, reserved; the fourth byte is not alpha
            out[0] = source[4 * x + 2];
            out[1] = source[4 * x + 1];
            out[2] = source[4 * x];
            out[3] = 255;
            break;
        }
    }
    return 1;
}

Image *ImageBmp_Read(const char *path)
{
    if (!path) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    Stream *stream = Stream_Open(STREAM_FILENAME, STREAM_READ, path);
    if (!stream) return nullptr;
    Image *image = ReadImage(stream);
    Stream_Close(stream, nullptr);
    return image;
}

Image *ImageBmp_Write(Image *image, const char *path)
{
    if (!image || !path || !image->pixels) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    const bool indexed = image->depth == 4 || image->depth == 8;
    const uint8_t indexMask = image->depth == 4 ? 15 : 255;  // a 4-bit index is the byte's low four bits
    if ((!indexed && image->depth != 32) || (indexed && !image->palette)) {
        Error_Raise(kErrDepthBits);
        return nullptr;
    }
    const int32_t rowSize = ImageBmp_RowSize(IMAGEBMP_WINDOWS, 24, image->width);
    uint8_t header[54] = {0x42, 0x4D};
    Bytes_StoreU32(header + 2, (uint32_t)(54 + (int64_t)rowSize * image->height));
    Bytes_StoreU32(header + 10, 54);
    Bytes_StoreU32(header + 14, 40);
    Bytes_StoreU32(header + 18, (uint32_t)image->width);
    Bytes_StoreU32(header + 22, (uint32_t)image->height);
    Bytes_StoreU16(header + 26, 1);
    Bytes_StoreU16(header + 28, 24);
    Stream *stream = Stream_Open(STREAM_FILENAME, STREAM_WRITE, path);
    if (!stream) return nullptr;
    bool ok = Stream_Write(stream, header, sizeof(header)) != nullptr;
    // One row at a time through a buffer; without it, pixel by pixel.
    uint8_t *row = (uint8_t *)Engine_Calloc(1, (size_t)rowSize);
    const uint8_t zeros[4] = {0, 0, 0, 0};
    for (int32_t y = image->height - 1; ok && y >= 0; y--) {
        const uint8_t *in = image->pixels + (size_t)y * image->stride;
        for (int32_t x = 0; ok && x < image->width; x++) {
            const uint8_t *c = indexed ? image->palette + 4 * (in[x] & indexMask) : in + 4 * x;
            const uint8_t bgr[3] = {c[2], c[1], c[0]};
            if (row) memcpy(row + 3 * x, bgr, 3);
            else ok = Stream_Write(stream, bgr, 3) != nullptr;
        }
        const uint32_t pad = (uint32_t)(rowSize - 3 * image->width);
        if (ok) ok = row ? Stream_Write(stream, row, (uint32_t)rowSize) != nullptr
                         : (pad == 0 || Stream_Write(stream, zeros, pad) != nullptr);
    }
    if (row) Engine_Free(row);
    if (!Stream_Close(stream, nullptr)) ok = false;
    return ok ? image : nullptr;
}
