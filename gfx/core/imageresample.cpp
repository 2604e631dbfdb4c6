#include "gfx/core/imageresample.h"

#include <cstddef>
#include <vector>

#include "gfx/core/error.h"
#include "gfx/core/image.h"

namespace {

// A span of source pixels in 16.16 fixed point, [first, last] inclusive.
struct Span {
    int64_t first;
    int64_t last;
};

// Spans of the destination pixels along one axis. The step is computed in
// double precision and the end of every span is clamped to the last source
// pixel, so rounding can never make a span reach past the source.
std::vector<Span> MakeSpans(int32_t sourceSize, int32_t destinationSize)
{
    const int64_t step = (int64_t)((double)sourceSize / (double)destinationSize * 65536.0);
    const int64_t limit = ((int64_t)sourceSize << 16) - 1;
    std::vector<Span> spans((size_t)destinationSize);
    for (int32_t i = 0; i < destinationSize; i++) {
        int64_t first = (int64_t)i * step;
        int64_t last = first + step - 1;
        if (last > limit) last = limit;
        if (first > last) first = last;
        spans[(size_t)i] = {first, last};
    }
    return spans;
}

// Weighted channel values (0..1) of one source row over a span.
void RowAverage(const uint8_t *row, const Span &span, double out[4])
{
    const int64_t firstPixel = span.first >> 16, lastPixel = span.last >> 16;
    if (firstPixel == lastPixel) {
        for (int c = 0; c < 4; c++) out[c] = row[4 * firstPixel + c] / 255.0;
        return;
    }
    double sum[4] = {0, 0, 0, 0};
    const double firstWeight = (double)(((firstPixel + 1) << 16) - span.first) / 65536.0;
    const double lastWeight = (double)(span.last - (lastPixel << 16)) / 65536.0;
    for (int c = 0; c < 4; c++) sum[c] += firstWeight * row[4 * firstPixel + c] / 255.0;
    for (int64_t p = firstPixel + 1; p < lastPixel; p++)
        for (int c = 0; c < 4; c++) sum[c] += row[4 * p + c] / 255.0;
    for (int c = 0; c < 4; c++) sum[c] += lastWeight * row[4 * lastPixel + c] / 255.0;
    const double total = (double)(span.last - span.first) / 65536.0;
    for (int c = 0; c < 4; c++) out[c] = sum[c] / total;
}

}  // namespace

Image *Image_Resample(Image *destination, const Image *source)
{
    if (!destination || !source || !destination->pixels || !source->pixels) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    const int32_t sw = source->width, sh = source->height, dw = destination->width, dh = destination->height;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    if (source->depth != 32 || destination->depth != 32 || (int64_t)dw > ((int64_t)sw << 16) ||
        (int64_t)dh > ((int64_t)sh << 16)) {
        Error_Raise(0x80000009u);
        return nullptr;
    }
    const std::vector<Span> columns = MakeSpans(sw, dw);
    const std::vector<Span> rows = MakeSpans(sh, dh);
    for (int32_t y = 0; y < dh; y++) {
        const Span &rs = rows[(size_t)y];
        const int64_t firstRow = rs.first >> 16, lastRow = rs.last >> 16;
        const double firstWeight = (double)(((firstRow + 1) << 16) - rs.first) / 65536.0;
        const double lastWeight = (double)(rs.last - (lastRow << 16)) / 65536.0;
        const double total = (double)(rs.last - rs.first) / 65536.0;
        uint8_t *out = destination->pixels + (size_t)y * destination->stride;
        for (int32_t x = 0; x < dw; x++) {
            double value[4];
            const Span &cs = columns[(size_t)x];
            if (firstRow == lastRow) {
                RowAverage(source->pixels + (size_t)firstRow * source->stride, cs, value);
            } else {
                double sum[4] = {0, 0, 0, 0}, part[4];
                for (int64_t r = firstRow; r <= lastRow; r++) {
                    const double w = r == firstRow ? firstWeight : r == lastRow ? lastWeight : 1.0;
                    RowAverage(source->pixels + (size_t)r * source->stride, cs, part);
                    for (int c = 0; c < 4; c++) sum[c] += w * part[c];
                }
                for (int c = 0; c < 4; c++) value[c] = sum[c] / total;
            }
            for (int c = 0; c < 4; c++) {
                const double v = value[c] * 255.0 + 0.5;
                out[4 * x + c] = v >= 255.0 ? 255 : v <= 0.0 ? 0 : (uint8_t)v;
            }
        }
    }
    if (source->flags & IMAGE_GAMMACORRECTED) destination->flags |= IMAGE_GAMMACORRECTED;
    return destination;
}

Image *Image_CreateResampled(const Image *source, int32_t width, int32_t height)
{
    if (!source) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    Image *converted = nullptr;
    if (source->depth != 32) {
        converted = Image_Create(source->width, source->height, 32);
        if (!converted) return nullptr;
        if (!Image_AllocatePixels(converted) || !Image_CopyConverted(converted, source)) {
            Image_Destroy(converted);
            return nullptr;
        }
        source = converted;
    }
    Image *result = Image_Create(width, height, 32);
    if (result && (!Image_AllocatePixels(result) || !Image_Resample(result, source))) {
        Image_Destroy(result);
        result = nullptr;
    }
    if (converted) Image_Destroy(converted);
    return result;
}
