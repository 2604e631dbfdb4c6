// Pictures of every material effect against golden images. Environment and
// dual-texture scenes are drawn on the stand-in's one-stage device (two
// passes), on a full-capability one (single passes) and on one with pixel
// shaders: all must match the one golden, so the ways of drawing agree. White vertex colours and no
// lighting keep them comparable (the multiplying two-pass pairs apply the
// diffuse colour twice). Flat quads of one colour are checked against
// values worked out by hand.
#include "gfx/plugin/matfx/d3d8matfx.h"

#include "tests/gfx/plugin/matfx/matfx_scene.h"

using namespace worldtest;

namespace {

constexpr uint32_t kTextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED;
constexpr uint32_t kUntextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT;

enum Device { MINIMAL, FULL, SHADERS };  // SHADERS: full capabilities and pixel shaders

class MatFXPictureTest : public MatFXSceneTest, public ::testing::WithParamInterface<Device> {
protected:
    bool full = false;
    void SetUp() override
    {
        full = GetParam() != MINIMAL;
        if (full) FullCaps();
        answers.pixelShaders = GetParam() == SHADERS;
        MatFXSceneTest::SetUp();
    }
    std::string Golden(const std::vector<uint32_t>& pixels, const char* name)
    {
        return MatFXGolden(pixels, name, !full, full ? 4 : 3);
    }
    static void ExpectColour(uint32_t pixel, int r, int g, int b, const char* what)
    {
        EXPECT_NEAR(Channel(pixel, 16), std::min(r, 255), 3) << what << std::hex << " 0x" << pixel;
        EXPECT_NEAR(Channel(pixel, 8), std::min(g, 255), 3) << what << std::hex << " 0x" << pixel;
        EXPECT_NEAR(Channel(pixel, 0), std::min(b, 255), 3) << what << std::hex << " 0x" << pixel;
    }
};

// Base (192, 128, 64) and environment (40, 80, 120): added whole, or at
// 0.5 (rounded in the texture factor, 128 / 255).
TEST_P(MatFXPictureTest, FlatEnvironmentMapsAddTheirColourByTheCoefficient)
{
    Texture *base = Solid(0xFFC08040u), *env = Solid(0xFF285078u);
    Add(Env(base, env, 1.0f), 2, 0, 8, kTextured);
    Add(Env(base, env, 0.5f), -2, 0, 8, kTextured);
    Add(Env(nullptr, env, 1.0f), 0, 2, 8, kUntextured);
    Add(Env(nullptr, env, 0.5f), 0, -2, 8, kUntextured);
    const std::vector<uint32_t> p = Draw(atomics);
    ExpectColour(PixelAt(p, 2, 0, 8), 192 + 40, 128 + 80, 64 + 120, "full over a base");
    const float h = 128.0f / 255;
    ExpectColour(PixelAt(p, -2, 0, 8), 192 + (int)(40 * h), 128 + (int)(80 * h), 64 + (int)(120 * h),
                 "half over a base");
    ExpectColour(PixelAt(p, 0, 2, 8), 255, 255, 255, "full over white");
    ExpectColour(PixelAt(p, 0, -2, 8), 255, 255, 255, "half over white");
}

// Base B = (192, 128, 64), dual D = (128, 255, 64) with alpha 128 (a = 0.5).
TEST_P(MatFXPictureTest, FlatDualTexturesCombineByTheirBlendPair)
{
    Texture *base = Solid(0xFFC08040u), *dual = Solid(0x8080FF40u, true);
    struct Pair {
        uint32_t src, dst;
        int r, g, b;
        const char* what;
    };
    const Pair pairs[] = {
        {9, 1, 192 * 128 / 255, 128, 64 * 64 / 255, "multiply (9, 1)"},
        {1, 3, 192 * 128 / 255, 128, 64 * 64 / 255, "multiply (1, 3)"},
        {5, 6, (128 + 192) / 2, (255 + 128) / 2, 64, "blend by dual alpha (5, 6)"},
        {9, 3, 2 * 192 * 128 / 255, 255, 2 * 64 * 64 / 255, "multiply twice (9, 3)"},
        {2, 2, 255, 255, 128, "add (2, 2)"},
        {1, 5, 96, 64, 32, "multiply by dual alpha (1, 5)"},
    };
    const float xs[] = {-3, 0, 3};
    int i = 0;
    for (const Pair& pair : pairs)
        Add(Dual(base, dual, pair.src, pair.dst), xs[i % 3], i < 3 ? 1.5f : -1.5f, 8, kTextured), i++;
    const std::vector<uint32_t> p = Draw(atomics);
    i = 0;
    for (const Pair& pair : pairs) {
        ExpectColour(PixelAt(p, xs[i % 3], i < 3 ? 1.5f : -1.5f, 8), pair.r, pair.g, pair.b, pair.what);
        i++;
    }
}

TEST_P(MatFXPictureTest, EnvironmentMapsWithAndWithoutABaseAndAPartialCoefficient)
{
    Texture* base = Pattern(16, 4, 0xFFC08040u, 0xFF406080u);
    Texture* env = Pattern(16, 2, 0xFF2060C0u, 0xFFE0C040u);
    Add(Env(base, env, 1.0f), 1.6f, 1.45f, 6, kTextured, 8, 2.6f, true);
    Add(Env(nullptr, env, 1.0f), -1.6f, 1.45f, 6, kUntextured, 8, 2.6f, true);
    Add(Env(base, env, 0.4f), 1.6f, -1.45f, 6, kTextured, 8, 2.6f, true);
    Add(Env(nullptr, env, 0.6f), -1.6f, -1.45f, 6, kUntextured, 8, 2.6f, true);
    for (Atomic* a : atomics) Tint(a, RGBA{96, 96, 96, 255});  // room for the environment to add to
    EXPECT_EQ(Golden(Draw(atomics), "matfx_env"), "");
}

// The content layer shares one environment frame among its materials and
// asks for frame-buffer alpha with a half coefficient.
TEST_P(MatFXPictureTest, ASharedEnvironmentFrameTurnsTheMapForEveryMaterial)
{
    Texture* base = Pattern(16, 8, 0xFFA0A0A0u, 0xFF606060u);
    Texture* env = Pattern(16, 4, 0xFF2060C0u, 0xFFE0C040u);
    const Vec3 at = {0.6f, 0.0f, 0.8f};
    Frame* shared = worldshapes::FrameAt(0, 0, 0, &at);
    frames.push_back(shared);
    Add(Env(base, env, 0.5f, shared, 1), 1.7f, 0, 6, kTextured, 8, 3.2f, true);
    Add(Env(nullptr, env, 0.5f, shared, 1), -1.7f, 0, 6, kUntextured, 8, 3.2f, true);
    for (Atomic* a : atomics) Tint(a, RGBA{96, 96, 96, 255});
    EXPECT_EQ(Golden(Draw(atomics), "matfx_env_frame"), "");
}

TEST_P(MatFXPictureTest, EveryDualBlendPairWithAndWithoutABase)
{
    Texture* base = Pattern(16, 4, 0xFFC08040u, 0xFF4080C0u);
    Texture* dual = Pattern(16, 2, 0xC0FFFFFFu, 0x40208020u, true);
    const uint32_t pairs[][2] = {{9, 1}, {1, 3}, {5, 6}, {9, 3}, {2, 2}, {1, 5}};
    for (int i = 0; i < 6; i++) {
        const float x = 3.625f - 1.45f * (float)i;
        Add(Dual(base, dual, pairs[i][0], pairs[i][1]), x, 0.75f, 6, kTextured, 2, 1.3f);
        Add(Dual(nullptr, dual, pairs[i][0], pairs[i][1]), x, -0.75f, 6, kTextured, 2, 1.3f);
    }
    EXPECT_EQ(Golden(Draw(atomics), "matfx_dual"), "");
}

// Bump maps, and environments whose textures have alpha: each of the six
// pixel-shader programs draws one of the upper quads (bump, bump and
// environment, environment over a base and alone, the two frame-buffer-alpha
// kinds of bump and environment) what the blended passes draw. The bump
// masks are at least half, so the frame-buffer alpha (their sum) is 1 there.
// Flat quads with masks of a quarter follow: with shaders their environment
// is added at half strength.
TEST_P(MatFXPictureTest, BumpMapsAndEnvironmentsWithAlphaDrawAlikeWithAndWithoutPixelShaders)
{
    Texture* base = Pattern(16, 4, 0xFFC08040u, 0xFF406080u);
    Texture* env = Pattern(16, 2, 0xC02060C0u, 0x50E0C040u, true);
    Texture* opaqueEnv = Pattern(16, 4, 0xFF2060C0u, 0xFFE0C040u);
    Texture* bumpBase = Pattern(16, 2, 0xFFB09070u, 0x80B09070u, true);
    auto bump = [&](Texture* b, Texture* e, uint32_t fbAlpha, float coefficient) {
        Material* m = NewMaterial(b, e ? MATFX_BUMPENVMAP : MATFX_BUMPMAP);
        MatFX_SetBumpMapTexture(m, nullptr);
        MatFX_SetBumpMapCoefficient(m, 1.5f);
        if (e) MatFX_SetEnvMap(m, e, nullptr, fbAlpha, coefficient);
        return m;
    };
    Material* upper[] = {bump(bumpBase, nullptr, 0, 0),    bump(bumpBase, opaqueEnv, 0, 0.5f),
                         Env(base, env, 0.8f, nullptr, 1), Env(nullptr, env, 0.8f, nullptr, 1),
                         bump(bumpBase, env, 1, 0.7f),     bump(bumpBase, opaqueEnv, 1, 0.7f)};
    for (int i = 0; i < 6; i++)
        Add(upper[i], 3.2f - 3.2f * (float)(i % 3), i < 3 ? 1.45f : -1.45f, 6, i == 3 ? kUntextured : kTextured, 8,
            2.6f, true);
    for (Atomic* a : atomics) Tint(a, RGBA{96, 96, 96, 255});
    EXPECT_EQ(Golden(Draw(atomics), "matfx_bump_env_alpha"), "");
    if (GetParam() == SHADERS) {
        // Each of the six programs drew.
        const std::string calls = Calls(atomics);
        for (int handle = 1; handle <= 6; handle++)
            EXPECT_NE(Count(calls, "SetPixelShader(" + std::to_string(handle) + ")"), 0) << handle;
    }
    // B = (128, 96, 64) with mask 0x40, E = (64, 128, 192), opaque or with alpha 0x80.
    Texture* flatBump = Solid(0x40806040u, true);
    Atomic* opaque = Add(bump(flatBump, Solid(0xFF4080C0u), 1, 1.0f), 1.5f, 0, 9, kTextured);
    Atomic* alpha = Add(bump(flatBump, Solid(0x804080C0u, true), 1, 1.0f), -1.5f, 0, 9, kTextured);
    const std::vector<uint32_t> p = Draw({opaque, alpha});
    // b = B, b.a = 2 x 0x40: B + E b.a (opaque), B + E 0x80 b.a (alpha);
    // without shaders B + E and B + E 0x80.
    const bool shaders = GetParam() == SHADERS;
    const int e1 = shaders ? 128 : 255, e2 = shaders ? 64 : 128;
    ExpectColour(PixelAt(p, 1.5f, 0, 9), 128 + 64 * e1 / 255, 96 + 128 * e1 / 255, 64 + 192 * e1 / 255,
                 "frame-buffer alpha, opaque environment");
    ExpectColour(PixelAt(p, -1.5f, 0, 9), 128 + 64 * e2 / 255, 96 + 128 * e2 / 255, 64 + 192 * e2 / 255,
                 "frame-buffer alpha, environment with alpha");
}

INSTANTIATE_TEST_SUITE_P(Devices, MatFXPictureTest, ::testing::Values(MINIMAL, FULL, SHADERS),
                         [](const ::testing::TestParamInfo<Device>& info) {
                             return info.param == SHADERS ? "Shaders" : info.param == FULL ? "Full" : "Minimal";
                         });

// Effects that have one way of drawing on the stand-in.
class MatFXSinglePictureTest : public MatFXSceneTest {};

TEST_F(MatFXSinglePictureTest, TextureTransformsAndBumpMapsWithAndWithoutAnEnvironment)
{
    Texture* checker = Pattern(16, 4, 0xFFE0A040u, 0xFF3060C0u);
    Matrix uv;
    Matrix_SetIdentity(&uv);
    uv.right.x = 2, uv.up.y = 0.5f, uv.pos.x = 0.25f, uv.pos.y = 0.125f;
    uv.flags = 0;
    Material* transformed = NewMaterial(checker, MATFX_UVTRANSFORM);
    MatFX_SetUVTransformMatrices(transformed, &uv, nullptr);
    Add(transformed, 1.6f, 1.45f, 6, kTextured, 2, 2.6f);
    Add(NewMaterial(checker), -1.6f, 1.45f, 6, kTextured, 2, 2.6f);

    // A base with stripes in its alpha, bumped by a light at the camera.
    Texture* bumpBase = Pattern(16, 2, 0xFFB09070u, 0x20B09070u, true);
    Material* bump = NewMaterial(bumpBase, MATFX_BUMPMAP);
    MatFX_SetBumpMapTexture(bump, nullptr);
    MatFX_SetBumpMapCoefficient(bump, 1.5f);
    Add(bump, 1.6f, -1.45f, 6, kTextured, 8, 2.6f, true);
    Material* bumpEnv = NewMaterial(bumpBase, MATFX_BUMPENVMAP);
    MatFX_SetBumpMapTexture(bumpEnv, nullptr);
    MatFX_SetBumpMapCoefficient(bumpEnv, 1.5f);
    MatFX_SetEnvMap(bumpEnv, Pattern(16, 4, 0xFF2060C0u, 0xFFE0C040u), nullptr, 0, 0.5f);
    Add(bumpEnv, -1.6f, -1.45f, 6, kTextured, 8, 2.6f, true);
    const std::vector<uint32_t> p = Draw(atomics);
    EXPECT_EQ(MatFXGolden(p, "matfx_transform_bump", true), "");
    // The transform repeats the checker twice across: the transformed quad
    // differs from the plain one at many of the same places within them.
    int differing = 0;
    for (float u = -1.1f; u < 1.2f; u += 0.25f)
        for (float v = -1.1f; v < 1.2f; v += 0.25f)
            differing += PixelAt(p, 1.6f + u, 1.45f + v, 6) != PixelAt(p, -1.6f + u, 1.45f + v, 6);
    EXPECT_GT(differing, 20);
}

}  // namespace
