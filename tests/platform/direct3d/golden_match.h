// Comparing what the tests draw with the golden images kept beside them.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/rasteriser_format.h"

namespace raster_test {

// Largest per-channel difference between two colours' red, green and blue.
inline int ColourDistance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int sh = 0; sh < 24; sh += 8) d = std::max(d, std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)));
  return d;
}

// The picture shrunk to cw x ch cells, each the average colour of the
// pixels whose centres lie in it (0xFFRRGGBB); the cell of pixel (x, y).
inline size_t CellOf(int x, int y, int w, int h, int cw, int ch)
{
    return size_t((2 * y + 1) * ch / (2 * h)) * cw + (2 * x + 1) * cw / (2 * w);
}
inline std::vector<uint32_t> ShrinkPicture(const uint32_t* pixels, int w, int h, int cw, int ch)
{
    std::vector<uint32_t> sums(size_t(cw) * ch * 4), cells(size_t(cw) * ch);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t* sum = &sums[CellOf(x, y, w, h, cw, ch) * 4];
            const uint32_t p = pixels[size_t(y) * w + x];
            for (int c = 0; c < 3; ++c) sum[c] += (p >> (8 * c)) & 255;
            sum[3]++;
        }
    for (size_t i = 0; i < cells.size(); ++i) {
        const uint32_t* sum = &sums[i * 4];
        const uint32_t n = std::max(sum[3], 1u);
        cells[i] = 0xFF000000u;
        for (int c = 0; c < 3; ++c) cells[i] |= (sum[c] + n / 2) / n << (8 * c);
    }
    return cells;
}

// Compares a PNG file (a frame a program captured) with a golden PNG: every
// channel within `tolerance` on all but `allowedOff` pixels, or, with `cell`
// above 1, a frame captured at another size: both shrunk to cells of cell x
// cell golden pixels, in which the finer sampling of a bigger target evens
// out while a text or a sprite in another place does not. With
// HELM_REGEN_GOLDEN=1 the file replaces a same-size golden instead. On a
// mismatch the frame and a difference image (the frame dimmed, off pixels
// white) are written as <outPrefix>_actual.png and <outPrefix>_diff.png and
// named in the answer. Returns an empty string on success, else what differs.
inline std::string MatchGoldenFile(const std::string& actual, const std::string& golden, const std::string& outPrefix,
                                   int tolerance = 2, int allowedOff = 0, int cell = 1)
{
    const char* regen = getenv("HELM_REGEN_GOLDEN");
    if (cell == 1 && regen && regen[0] == '1') {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(golden).parent_path(), ec);
        std::filesystem::copy_file(actual, golden, std::filesystem::copy_options::overwrite_existing, ec);
        return ec ? "cannot write " + golden + " from " + actual : "";
    }
    int w = 0, h = 0, rw = 0, rh = 0;
    std::unique_ptr<uint32_t[]> got(D3D8Present_ReadPng(actual.c_str(), &w, &h));
    if (!got) return "missing or unreadable frame " + actual;
    std::unique_ptr<uint32_t[]> ref(D3D8Present_ReadPng(golden.c_str(), &rw, &rh));
    if (!ref) return "missing or unreadable " + golden + " (HELM_REGEN_GOLDEN=1 makes it from " + actual + ")";
    if (cell == 1 && (w != rw || h != rh)) return "size differs from " + golden;
    const int cw = rw / cell, ch = rh / cell;
    const std::vector<uint32_t> a = ShrinkPicture(got.get(), w, h, cw, ch),
                                b = ShrinkPicture(ref.get(), rw, rh, cw, ch);
    std::vector<bool> cellOff(a.size());
    int off = 0, worst = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = ColourDistance(a[i], b[i]);
        worst = std::max(worst, d);
        cellOff[i] = d > tolerance;
        off += cellOff[i];
    }
    if (off <= allowedOff) return "";
    std::vector<uint32_t> diff(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            diff[i] = cellOff[CellOf(x, y, w, h, cw, ch)] ? 0xFFFFFFFFu : 0xFF000000u | ((got[i] >> 2) & 0x3F3F3F);
        }
    const std::string actualOut = outPrefix + "_actual.png", diffOut = outPrefix + "_diff.png";
    std::error_code ec;
    if (actualOut != actual)
        std::filesystem::copy_file(actual, actualOut, std::filesystem::copy_options::overwrite_existing, ec);
    D3D8DrawSurface surface = {D3DFMT_X8R8G8B8, w, h, w * 4, reinterpret_cast<uint8_t*>(diff.data())};
    D3D8Present_WritePng(&surface, nullptr, diffOut.c_str());
    return std::to_string(off) + " of " + std::to_string(a.size()) + (cell == 1 ? " pixels" : " cells") +
           " differ from " + golden + " (worst " + std::to_string(worst) + "); actual frame " + actualOut +
           ", difference " + diffOut;
}

// Compares a drawn surface with the golden PNG `golden` as MatchGoldenFile
// does, through the PNG it writes to `actualOut` (kept on a mismatch).
inline std::string MatchGoldenSurface(const D3D8DrawSurface& s, const std::string& golden, const std::string& actualOut,
                                      int tolerance = 2, int allowedOff = 0)
{
    if (D3D8Present_WritePng(&s, nullptr, actualOut.c_str()) != 1) return "cannot write " + actualOut;
    const std::string prefix = actualOut.substr(0, actualOut.rfind("_actual.png"));
    const std::string result = MatchGoldenFile(actualOut, golden, prefix, tolerance, allowedOff);
    if (result.empty()) std::filesystem::remove(actualOut);
    return result;
}

}  // namespace raster_test
