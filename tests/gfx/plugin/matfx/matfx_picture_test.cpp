// Pictures of every material effect against golden images. Environment and
// dual-texture scenes are drawn on the stand-in's one-stage device (two
// passes) and on a full-capability one (single passes): both must match the
// one golden, so the two ways of drawing agree. White vertex colours and no
// lighting keep them comparable (the multiplying two-pass pairs apply the
// diffuse colour twice). Flat quads of one colour are checked against
// values worked out by hand.
#include "gfx/plugin/matfx/d3d8matfx.h"

#include "tests/gfx/plugin/matfx/matfx_scene.h"

using namespace worldtest;

namespace {

constexpr uint32_t kTextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED;
constexpr uint32_t kUntextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT;

class MatFXPictureTest : public MatFXSceneTest, public ::testing::WithParamInterface<bool> {
protected:
    bool full = false;
    void SetUp() override
    {
        full = GetParam();
        if (full) FullCaps();
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

INSTANTIATE_TEST_SUITE_P(OneAndThreeStages, MatFXPictureTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Full" : "Minimal"; });

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
