// Every material effect against golden images, drawn on the one-stage device
// (two passes), a full one (single passes) and one with pixel shaders: all
// match the one golden.
#include "tests/gfx/plugin/matfx/matfx_scene.h"

using namespace plugintest;

namespace {

using MatFXPictureTest = MatFXEachProfileTest;

// Each of the six pixel-shader programs draws one quad as the blended passes
// do; the bump masks are at least half, so the frame-buffer alpha (their sum)
// is 1 there. With shaders, masks of a quarter add the environment at half.
TEST_P(MatFXPictureTest, BumpMapsAndEnvironmentsWithAlphaDrawAlikeWithAndWithoutPixelShaders)
{
    Texture* base = Pattern(16, 4, 0xFFC08040u, 0xFF406080u);
    Texture* env = Pattern(16, 2, 0xC02060C0u, 0x50E0C040u, true);
    Texture* opaqueEnv = Pattern(16, 4, 0xFF2060C0u, 0xFFE0C040u);
    Texture* bumpBase = Pattern(16, 2, 0xFFB09070u, 0x80B09070u, true);
    Material* quads[] = {Bump(bumpBase),
                         Bump(bumpBase, opaqueEnv, 0, 0.5f),
                         Env(base, env, 0.8f, nullptr, 1),
                         Env(nullptr, env, 0.8f, nullptr, 1),
                         Bump(bumpBase, env, 1, 0.7f),
                         Bump(bumpBase, opaqueEnv, 1, 0.7f)};
    for (int i = 0; i < 6; i++)
        AddFX(quads[i], 3.2f - 3.2f * (float)(i % 3), i < 3 ? 1.45f : -1.45f, 6, i == 3 ? kUntextured : kTextured, 8,
              2.6f, true);
    Tint(RGBA{96, 96, 96, 255});
    const std::string calls = Calls(atomics);
    EXPECT_EQ(Golden("matfx_bump_env_alpha"), "");
    for (int handle = 1; profile == SHADERS && handle <= 6; handle++)  // each of the six programs drew
        EXPECT_NE(Count(calls, "SetPixelShader(" + std::to_string(handle) + ")"), 0) << handle;
    // B = (128, 96, 64) with mask 0x40, E = (64, 128, 192), opaque or with
    // alpha 0x80: B + E b.a (opaque) and B + E 0x80 b.a, b.a = 2 x 0x40, with
    // shaders; B + E and B + E 0x80 without.
    Texture* flatBump = Solid(0x40806040u, true);
    Atomic* opaque = AddFX(Bump(flatBump, Solid(0xFF4080C0u), 1, 1.0f), 1.5f, 0, 9, kTextured);
    Atomic* alpha = AddFX(Bump(flatBump, Solid(0x804080C0u, true), 1, 1.0f), -1.5f, 0, 9, kTextured);
    const std::vector<uint32_t> p = Draw({opaque, alpha});
    const int e1 = profile == SHADERS ? 128 : 255, e2 = profile == SHADERS ? 64 : 128;
    ExpectColour(PixelAt(p, 1.5f, 0, 9), 128 + 64 * e1 / 255, 96 + 128 * e1 / 255, 64 + 192 * e1 / 255,
                 "opaque environment");
    ExpectColour(PixelAt(p, -1.5f, 0, 9), 128 + 64 * e2 / 255, 96 + 128 * e2 / 255, 64 + 192 * e2 / 255,
                 "environment with alpha");
}

INSTANTIATE_TEST_SUITE_P(Devices, MatFXPictureTest, ::testing::Values(MINIMAL, FULL, SHADERS),
                         [](const ::testing::TestParamInfo<Profile>& info) {
                             return info.param == SHADERS ? "Shaders" : info.param == FULL ? "Full" : "Minimal";
                         });

}  // namespace
