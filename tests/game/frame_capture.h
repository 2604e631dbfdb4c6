// Reading what the game drew: the Direct3D 8 stand-in's back buffer (the
// main camera's colour raster), its pixels, and a comparison with a golden
// image in tests/game/golden/. After an intended change in drawing,
// regenerate them with
//   HELM_REGEN_GOLDEN=1 build/tests/game_tests --gtest_filter='*Golden*'
// and look at every rewritten PNG before committing it.
#pragma once

#include <cstring>
#include <string>

#include "tests/engine/drawing_fixture.h"
#include "tests/platform/direct3d/golden_match.h"
#include "tests/test_env.h"

namespace capture {

using drawingtest::BackBuffer;
using drawingtest::Pixel;
inline int Distance(uint32_t a, uint32_t b) { return raster_test::ColourDistance(a, b); }

// Empty when the back buffer matches golden/<name>.png within tolerance.
inline std::string MatchGolden(const char* name, int tolerance = 2)
{
    return raster_test::MatchGoldenSurface(BackBuffer(),
                                           std::string(HELM_SOURCE_DIR) + "/tests/game/golden/" + name + ".png",
                                           TestTmp().string() + "/" + name + "_actual.png", tolerance);
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
