// Reading what the game drew: the Direct3D 8 stand-in's back buffer (the
// main camera's colour raster), its pixels, and a comparison with a golden
// image in tests/game/golden/. After an intended change in drawing,
// regenerate them with
//   HELM_REGEN_GOLDEN=1 build/tests/game_tests --gtest_filter='*Golden*'
// and look at every rewritten PNG before committing it.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/d3d8_resource.h"
#include "platform/direct3d/d3d8_test.h"
#include "tests/engine/drawing_fixture.h"
#include "tests/test_env.h"

namespace capture {

using drawingtest::BackBuffer;
using drawingtest::Pixel;
inline int Distance(uint32_t a, uint32_t b) { return drawingtest::ColourDistance(a, b); }

// Empty when the back buffer matches golden/<name>.png within tolerance.
inline std::string MatchGolden(const char* name, int tolerance = 2)
{
    const std::string path = std::string(HELM_SOURCE_DIR) + "/tests/game/golden/" + name + ".png";
    const D3D8DrawSurface& s = BackBuffer();
    const char* regen = getenv("HELM_REGEN_GOLDEN");
    if (regen && regen[0] == '1') return D3D8Present_WritePng(&s, nullptr, path.c_str()) == 1 ? "" : "cannot write " + path;
    int w = 0, h = 0;
    std::unique_ptr<uint32_t[]> golden(D3D8Present_ReadPng(path.c_str(), &w, &h));
    if (!golden) return "missing " + path;
    if (w != s.width || h != s.height) return "size differs from " + path;
    int off = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) off += Distance(Pixel(x, y), golden[(size_t)y * w + x]) > tolerance;
    if (off == 0) return "";
    const std::string out = TestTmp().string() + "/" + name + "_actual.png";
    D3D8Present_WritePng(&s, nullptr, out.c_str());
    return std::to_string(off) + " pixels differ; actual image in " + out;
}

// The lines of the stand-in's recording that start with the prefix.
inline int CountCalls(const char* recording, const std::string& prefix)
{
    int n = 0;
    for (const char* p = recording; p && *p;) {
        const char* end = strchr(p, '\n');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len >= prefix.size() && strncmp(p, prefix.c_str(), prefix.size()) == 0) n++;
        p = end ? end + 1 : p + len;
    }
    return n;
}

}  // namespace capture
