#include "gfx/plugin/matfx/d3d8matfx.h"

#include "gfx/world/pipelines.h"
#include "tests/gfx/plugin/matfx/matfx_scene.h"

using namespace plugintest;

namespace {

using MatFXMinimalTest = MatFXOn<MINIMAL>;
using MatFXFullTest = MatFXOn<FULL>;

// Every source and destination blend pair a dual material may carry.
const uint32_t kDualPairs[][2] = {{9, 1}, {1, 3}, {5, 6}, {9, 3}, {2, 2}, {1, 5}};

// The text of the recording from its first draw on.
std::string AfterFirstDraw(const std::string& text)
{
    return text.substr(std::min(text.size(), text.find("DrawIndexedPrimitive(") + 1));
}

TEST_F(MatFXMinimalTest, EnvironmentCoefficientsAndDualPairsChooseThePassesOfAOneStageDevice)
{
    Texture *base = Solid(0xFF808080u), *env = Solid(0xFF204060u);
    for (float c : {0.0f, 0.001f, -0.5f}) {  // rounding to zero or negative: the plain mesh once
        const std::string calls = Calls({AddFX(Env(base, env, c), 0, 0, 5, kTextured)});
        EXPECT_EQ(Draws(calls), 1) << c;
        EXPECT_EQ(Count(calls, "0x10000"), 0) << c;  // no environment coordinates
    }
    // Without a base, at full strength (or above: not wrapped round) the
    // environment is added on stage 0 alone (the second time with the states
    // the first left).
    for (float c : {1.01f, 1.0f}) {
        const std::string calls = Calls({AddFX(Env(nullptr, env, c), 0, 0, 5, kUntextured)});
        EXPECT_EQ(Draws(calls), 1);
        EXPECT_TRUE(c == 1 || Before(calls, "SetTextureStageState(0, 11, 0x10000)", "DrawIndexedPrimitive("));
        EXPECT_TRUE(c == 1 || Before(calls, "SetTextureStageState(0, 1, 0x7)", "DrawIndexedPrimitive("));
        EXPECT_EQ(D3D8_GetStageRaster(0), nullptr);
        EXPECT_EQ(StageState(0, D3DTSS_TEXCOORDINDEX) + StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), 0u);
    }
    // Every dual pair takes two passes with its own blend.
    for (const auto& pair : kDualPairs) {
        const std::string calls =
            Calls({AddFX(Dual(base, Solid(0x80C0C0C0u, true), pair[0], pair[1]), 0, 0, 5, kTextured)});
        ASSERT_EQ(Draws(calls), 2) << pair[0] << "," << pair[1];
        const std::string second = AfterFirstDraw(calls);
        const std::string src = "SetRenderState(19, 0x" + std::to_string(pair[0]) + ")",
                          dst = "SetRenderState(20, 0x" + std::to_string(pair[1]) + ")";
        EXPECT_TRUE(pair[0] == 5 || Before(second, src, "DrawIndexedPrimitive(")) << src;  // 5, 6: the fixed states
        EXPECT_TRUE(pair[1] == 6 || Before(second, dst, "DrawIndexedPrimitive(")) << dst;
        EXPECT_EQ(EngineState(RS_SRCBLEND) * 10 + EngineState(RS_DESTBLEND), 56u);
        EXPECT_EQ(Count(calls, "ValidateDevice("), 0);
    }
}

TEST_F(MatFXFullTest, APartialEnvironmentOverABaseIsOneStage1PassAndTranslucencyTakesAnUnlitUnfoggedAdditiveOne)
{
    Atomic* a = AddFX(Env(Solid(0xFF808080u), Solid(0xFF204060u), 0.25f), 0, 0, 5, kTextured);
    std::string calls = Calls({a});
    EXPECT_EQ(Draws(calls), 1);
    for (const char* state :
         {"SetTextureStageState(1, 1, 0x19)", "SetRenderState(60, 0x40404040)", "SetTextureStageState(1, 11, 0x10000)"})
        EXPECT_TRUE(Before(calls, state, "DrawIndexedPrimitive(")) << state;
    Atomic* lit = AddFX(Env(Solid(0xFF808080u), Solid(0xFF204060u), 0.5f), 0, 0, 5, kTextured | GEOMETRY_LIGHT);
    for (int32_t v = 0; v < lit->geometry->numVertices; v++) lit->geometry->preLitLum[v].alpha = 128;
    Snapshot(camera, [&] {
        D3D8_SetRenderState(D3DRS_FOGENABLE, 1);
        D3D8_SetRenderState(D3DRS_FOGCOLOR, 0x00123456u);
        calls = Record([&] { Atomic_Render(lit); });
        EXPECT_EQ(State(D3DRS_FOGCOLOR), 0x00123456u);
        D3D8_SetRenderState(D3DRS_FOGENABLE, 0);
    });
    ASSERT_EQ(Draws(calls), 2);
    for (const char* state : {"SetRenderState(20, 0x2)", "SetRenderState(14, 0x0)", "SetRenderState(137, 0x0)",
                              "SetRenderState(34, 0x0)", "SetRenderState(60, 0x80808080)"})
        EXPECT_TRUE(Before(AfterFirstDraw(calls), state, "DrawIndexedPrimitive(")) << state;
    EXPECT_EQ(EngineState(RS_SRCBLEND) * 10 + EngineState(RS_DESTBLEND), 56u);
    EXPECT_EQ(State(D3DRS_ZWRITEENABLE) + State(D3DRS_LIGHTING), 2u);
}

// Set-ups a two-stage device may refuse are validated the first time: an
// accepted one draws once from then on; a refused one takes two passes from
// that mesh on (a refused modulate-2x loses only what needs it).
struct Validation {
    const char* what;
    bool dual;
    int32_t refusal;  // 0: accepted
};
class MatFXValidationTest : public MatFXOn<TWO_STAGES>, public ::testing::WithParamInterface<Validation> {};

TEST_P(MatFXValidationTest, DeviceValidationDecidesOnceBetweenOneAndTwoPasses)
{
    const Validation& c = GetParam();
    Texture *base = Solid(0xFF808080u), *second = Solid(c.dual ? 0xFFC0C0C0u : 0xFF204060u);
    auto make = [&] { return c.dual ? Dual(base, second, 9, 3) : Env(base, second, 1.0f); };
    if (c.refusal) D3D8Test_ScriptValidate(c.refusal, 0);
    const int passes = c.refusal ? 2 : 1;
    std::string calls = Calls({AddFX(make(), -1.5f, 0, 5, kTextured)});
    EXPECT_EQ(Count(calls, c.refusal ? "ValidateDevice(" : "ValidateDevice() = 0x0 1"), 1);
    EXPECT_EQ(Draws(calls), passes);
    EXPECT_TRUE(c.refusal || c.dual || Before(calls, "SetTextureStageState(1, 1, 0x7)", "DrawIndexedPrimitive("));
    calls = Calls({AddFX(make(), 1.5f, 0, 5, kTextured)});
    EXPECT_EQ(Count(calls, "ValidateDevice("), 0);
    EXPECT_EQ(Draws(calls), passes);
    EXPECT_EQ(StageState(1, D3DTSS_COLOROP), (uint32_t)D3DTOP_DISABLE);
    if (c.dual) {  // the multiplying pair that needs no modulate-2x draws once whatever happened
        EXPECT_EQ(Draws(Calls({AddFX(Dual(base, second, 9, 1), 0, 2, 5, kTextured)})), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MatFXValidationTest,
                         ::testing::Values(Validation{"additive stage 1 accepted", false, 0},
                                           Validation{"additive stage 1 refused", false, D3DERR_TOOMANYOPERATIONS},
                                           Validation{"modulate-2x accepted", true, 0},
                                           Validation{"modulate-2x refused", true, D3DERR_UNSUPPORTEDCOLOROPERATION}));

// After every path the stages hold the fixed values the drawing puts back,
// and a plain atomic drawn by the default pipeline right after it looks as
// it does alone.
using MatFXHygieneTest = MatFXEachProfileTest;

TEST_P(MatFXHygieneTest, EveryPathLeavesTheFixedStatesAndAFollowingDefaultDrawIntact)
{
    Texture* checker = Pattern(8, 2, 0xFFE0A040u, 0xFF3060C0u);
    Texture* env = Pattern(8, 4, 0xFF2040A0u, 0xFFA04020u);
    Texture* alphaBase = Solid(0x80808080u, true);
    Texture* dual = Pattern(8, 2, 0x80C0C0C0u, 0xC0404040u, true);
    Matrix uv;
    Matrix_SetIdentity(&uv);
    uv.right.x = 2, uv.pos.x = 0.25f, uv.flags = 0;
    auto transformed = [&](Material* m, bool both) {
        MatFX_SetUVTransformMatrices(m, &uv, both ? &uv : nullptr);
        return m;
    };
    Material* dualTransformed = NewMaterial(checker, MATFX_DUALUVTRANSFORM);
    MatFX_SetDualTexture(dualTransformed, dual);
    MatFX_SetDualBlendModes(dualTransformed, 9, 1);
    struct Config {
        std::string what;
        Material* material;
        uint32_t flags;
    };
    std::vector<Config> configs = {
        {"plain", NewMaterial(checker), kTextured},
        {"coordinate transform", transformed(NewMaterial(checker, MATFX_UVTRANSFORM), false), kTextured},
        {"environment alone", Env(nullptr, env, 1.0f), kUntextured},
        {"partial environment alone", Env(nullptr, env, 0.4f), kUntextured},
        {"environment over a base", Env(checker, env, 1.0f), kTextured},
        {"partial environment", Env(checker, env, 0.4f), kTextured},
        {"environment on a frame", Env(checker, env, 0.5f, Own(worldshapes::FrameAt(0, 0, 0))), kTextured},
        {"environment over a translucent base", Env(alphaBase, env, 0.7f), kTextured},
        {"bump map", Bump(alphaBase), kTextured},
        {"bump and environment map", Bump(alphaBase, env, 0, 0.5f), kTextured},
        {"dual with transforms", transformed(dualTransformed, true), kTextured | GEOMETRY_TEXTURED2},
    };
    for (const auto& pair : kDualPairs)
        for (Texture* base : {checker, (Texture*)nullptr})
            configs.push_back(
                {"dual " + std::to_string(pair[0]) + "," + std::to_string(pair[1]) + (base ? "" : " without a base"),
                 Dual(base, dual, pair[0], pair[1]), base ? kTextured : kUntextured});
    // The plain atomic on the default pipeline, alone, as the reference.
    Atomic* plain = AddFX(NewMaterial(checker), 1.5f, 0, 5, kTextured, 4);
    plain->pipeline = nullptr;
    auto region = [](const std::vector<uint32_t>& pixels) {
        std::vector<uint32_t> out;
        for (int y = 150; y < 330; y++)
            for (int x = 140; x < 300; x++) out.push_back(pixels[(size_t)y * 640 + x] & 0xFFFFFF);
        return out;
    };
    const std::vector<uint32_t> alone = region(Draw({plain}));
    for (const auto& c : configs) {
        SCOPED_TRACE(c.what);
        Atomic* a = AddFX(c.material, -1.5f, 0, 5, c.flags, 2);
        const uint32_t stage1Set = StageState(1, D3DTSS_TEXCOORDINDEX);  // paths that use stage 1 leave 1
        Draw({a});
        EXPECT_TRUE(StageState(1, D3DTSS_TEXCOORDINDEX) == 1u || StageState(1, D3DTSS_TEXCOORDINDEX) == stage1Set);
        EXPECT_EQ(std::tuple(StageState(0, D3DTSS_TEXCOORDINDEX), StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS),
                             StageState(1, D3DTSS_TEXTURETRANSFORMFLAGS), StageState(1, D3DTSS_COLOROP),
                             D3D8_GetStageRaster(1), StageState(2, D3DTSS_COLOROP), StageState(0, D3DTSS_COLORARG2),
                             State(D3DRS_ZWRITEENABLE), EngineState(RS_SRCBLEND), EngineState(RS_DESTBLEND)),
                  std::tuple(0u, 0u, 0u, (uint32_t)D3DTOP_DISABLE, nullptr, (uint32_t)D3DTOP_DISABLE,
                             (uint32_t)D3DTA_DIFFUSE, 1u, 5u, 6u));
        EXPECT_TRUE(region(Draw({a, plain})) == alone);
        World_RemoveAtomic(world, a);
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, MatFXHygieneTest, ::testing::Values(MINIMAL, TWO_STAGES, FULL));

// Every material effect against golden images, drawn on the one-stage device
// (two passes), a full one (single passes) and one with pixel shaders: all
// match the one golden.
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
    for (int i = 0; i < 6; i++) {
        Geometry* g = AddFX(quads[i], 3.2f - 3.2f * (float)(i % 3), i < 3 ? 1.45f : -1.45f, 6,
                            i == 3 ? kUntextured : kTextured, 8, 2.6f, true)
                          ->geometry;
        for (int32_t v = 0; v < g->numVertices; v++) g->preLitLum[v] = RGBA{96, 96, 96, 255};  // before the first draw
    }
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
