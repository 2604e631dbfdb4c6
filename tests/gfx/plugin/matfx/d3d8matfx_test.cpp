#include "gfx/plugin/matfx/d3d8matfx.h"

#include <functional>

#include "gfx/core/pipeline.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/pipelines.h"
#include "tests/gfx/plugin/matfx/matfx_scene.h"

using namespace worldtest;

namespace {

constexpr uint32_t kUnlitTextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED;
constexpr uint32_t kUnlitPlain = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT;

// Capability profiles: the stand-in's defaults (one stage), two stages with
// modulate-2x, and full capabilities.
enum Profile { MINIMAL, TWO_STAGES, FULL };

class MatFXDrawTest : public MatFXSceneTest {
protected:
    void UseProfile(Profile p)
    {
        if (p == TWO_STAGES) answers.blendStages = 2, answers.modulate2x = true;
        if (p == FULL) FullCaps();
    }
    // Between the draws of the recording: the text from the first draw on.
    static std::string AfterFirstDraw(const std::string& text)
    {
        const size_t at = text.find("DrawIndexedPrimitive(");
        return at == std::string::npos ? "" : text.substr(at + 1);
    }
};

template <Profile P>
class MatFXProfileTest : public MatFXDrawTest {
protected:
    void SetUp() override
    {
        UseProfile(P);
        MatFXDrawTest::SetUp();
    }
};
using MatFXMinimalTest = MatFXProfileTest<MINIMAL>;
using MatFXTwoStageTest = MatFXProfileTest<TWO_STAGES>;
using MatFXFullTest = MatFXProfileTest<FULL>;

TEST_F(MatFXMinimalTest, ACoefficientThatRoundsToZeroOrIsNegativeDrawsThePlainMeshOnce)
{
    Texture *base = Solid(0xFF808080u), *env = Solid(0xFF204060u);
    for (float c : {0.0f, 0.001f, -0.5f}) {
        Atomic* a = Add(Env(base, env, c), 0, 0, 5, kUnlitTextured);
        const std::string calls = Calls({a});
        EXPECT_EQ(Draws(calls), 1) << c;
        EXPECT_EQ(Count(calls, "0x10000"), 0) << c;  // no environment coordinates
    }
    // Above 1 the coefficient is full strength, not wrapped round.
    Atomic* over = Add(Env(nullptr, env, 1.01f), 0, 0, 5, kUnlitPlain);
    const std::string calls = Calls({over});
    EXPECT_EQ(Draws(calls), 1);
    EXPECT_TRUE(Before(calls, "SetTextureStageState(0, 1, 0x7)", "DrawIndexedPrimitive("));
}

// Without a base and at full strength the environment is added on stage 0
// alone, whatever the device.
TEST_F(MatFXMinimalTest, AFullEnvironmentWithoutABaseIsOneAdditiveStage0Pass)
{
    Atomic* a = Add(Env(nullptr, Solid(0xFF204060u), 1.0f), 0, 0, 5, kUnlitPlain);
    const std::string calls = Calls({a});
    EXPECT_EQ(Draws(calls), 1);
    EXPECT_TRUE(Before(calls, "SetTextureStageState(0, 11, 0x10000)", "DrawIndexedPrimitive("));
    EXPECT_TRUE(Before(calls, "SetTextureStageState(0, 1, 0x7)", "DrawIndexedPrimitive("));
    EXPECT_EQ(D3D8_GetStageRaster(0), nullptr);
    EXPECT_EQ(StageState(0, D3DTSS_TEXCOORDINDEX), 0u);
    EXPECT_EQ(StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), 0u);
}

TEST_F(MatFXFullTest, TranslucencyWithoutFrameBufferAlphaTakesAnUnlitUnfoggedAdditiveSecondPass)
{
    Atomic* a = Add(Env(Solid(0xFF808080u), Solid(0xFF204060u), 0.5f), 0, 0, 5, kUnlitTextured | GEOMETRY_LIGHT);
    for (int32_t v = 0; v < a->geometry->numVertices; v++) a->geometry->preLitLum[v].alpha = 128;
    std::string calls;
    Snapshot(camera, [&] {
        D3D8_SetRenderState(D3DRS_FOGENABLE, 1);
        D3D8_SetRenderState(D3DRS_FOGCOLOR, 0x00123456u);
        calls = Record([&] { Atomic_Render(a); });
        EXPECT_EQ(State(D3DRS_FOGCOLOR), 0x00123456u);
        D3D8_SetRenderState(D3DRS_FOGENABLE, 0);
    });
    ASSERT_EQ(Draws(calls), 2);
    const std::string second = AfterFirstDraw(calls);
    for (const char* state : {"SetRenderState(20, 0x2)", "SetRenderState(14, 0x0)", "SetRenderState(137, 0x0)",
                              "SetRenderState(34, 0x0)", "SetRenderState(60, 0x80808080)"})
        EXPECT_TRUE(Before(second, state, "DrawIndexedPrimitive(")) << state;
    EXPECT_EQ(EngineState(RS_SRCBLEND), 5u);
    EXPECT_EQ(EngineState(RS_DESTBLEND), 6u);
    EXPECT_EQ(State(D3DRS_ZWRITEENABLE), 1u);
    EXPECT_EQ(State(D3DRS_LIGHTING), 1u);
}

TEST_F(MatFXFullTest, APartialEnvironmentOverABaseIsMultipliedAndAddedOnStage1)
{
    Atomic* a = Add(Env(Solid(0xFF808080u), Solid(0xFF204060u), 0.5f), 0, 0, 5, kUnlitTextured);
    const std::string calls = Calls({a});
    EXPECT_EQ(Draws(calls), 1);
    EXPECT_TRUE(Before(calls, "SetTextureStageState(1, 1, 0x19)", "DrawIndexedPrimitive("));
    EXPECT_TRUE(Before(calls, "SetRenderState(60, 0x80808080)", "DrawIndexedPrimitive("));
    EXPECT_TRUE(Before(calls, "SetTextureStageState(1, 11, 0x10000)", "DrawIndexedPrimitive("));
}

// The stage-1 additive set-up is validated the first time; when the device
// refuses it, that mesh and every later one take two passes.
TEST_F(MatFXTwoStageTest, ARefusedAdditiveStage1SetUpFallsBackToTwoPassesFromTheFirstMeshOn)
{
    Texture *base = Solid(0xFF808080u), *env = Solid(0xFF204060u);
    Atomic* a = Add(Env(base, env, 1.0f), -1.5f, 0, 5, kUnlitTextured);
    Atomic* b = Add(Env(base, env, 1.0f), 1.5f, 0, 5, kUnlitTextured);
    D3D8Test_ScriptValidate(D3DERR_TOOMANYOPERATIONS, 0);
    std::string calls = Calls({a});
    EXPECT_EQ(Count(calls, "ValidateDevice("), 1);
    EXPECT_EQ(Draws(calls), 2);
    calls = Calls({b});
    EXPECT_EQ(Count(calls, "ValidateDevice("), 0);
    EXPECT_EQ(Draws(calls), 2);
    EXPECT_EQ(StageState(1, D3DTSS_COLOROP), (uint32_t)D3DTOP_DISABLE);
}

TEST_F(MatFXTwoStageTest, AnAcceptedAdditiveStage1SetUpDrawsOnceAndIsValidatedOnce)
{
    Texture *base = Solid(0xFF808080u), *env = Solid(0xFF204060u);
    Atomic* a = Add(Env(base, env, 1.0f), -1.5f, 0, 5, kUnlitTextured);
    Atomic* b = Add(Env(base, env, 1.0f), 1.5f, 0, 5, kUnlitTextured);
    const std::string calls = Calls({a, b});
    EXPECT_EQ(Count(calls, "ValidateDevice() = 0x0 1"), 1);
    EXPECT_EQ(Draws(calls), 2);
    EXPECT_TRUE(Before(calls, "SetTextureStageState(1, 1, 0x7)", "DrawIndexedPrimitive("));
}

TEST_F(MatFXMinimalTest, EveryDualPairTakesTwoPassesWithItsOwnBlendOnAOneStageDevice)
{
    const uint32_t pairs[][2] = {{9, 1}, {1, 3}, {5, 6}, {9, 3}, {2, 2}, {1, 5}};
    for (const auto& pair : pairs) {
        Atomic* a = Add(Dual(Solid(0xFF808080u), Solid(0x80C0C0C0u, true), pair[0], pair[1]), 0, 0, 5, kUnlitTextured);
        const std::string calls = Calls({a});
        ASSERT_EQ(Draws(calls), 2) << pair[0] << "," << pair[1];
        const std::string second = AfterFirstDraw(calls);
        char src[40], dst[40];
        snprintf(src, sizeof(src), "SetRenderState(19, 0x%x)", pair[0]);
        snprintf(dst, sizeof(dst), "SetRenderState(20, 0x%x)", pair[1]);
        if (pair[0] != 5) {
            EXPECT_TRUE(Before(second, src, "DrawIndexedPrimitive(")) << src;
        }
        if (pair[1] != 6) {
            EXPECT_TRUE(Before(second, dst, "DrawIndexedPrimitive(")) << dst;
        }
        EXPECT_EQ(EngineState(RS_SRCBLEND), 5u);
        EXPECT_EQ(EngineState(RS_DESTBLEND), 6u);
        EXPECT_EQ(Count(calls, "ValidateDevice("), 0);
        World_RemoveAtomic(world, a);
    }
}

TEST_F(MatFXTwoStageTest, ARefusedModulate2xDualLosesTheCapabilityAndDrawsTwoPasses)
{
    Texture *base = Solid(0xFF808080u), *dual = Solid(0xFFC0C0C0u);
    Atomic* a = Add(Dual(base, dual, 9, 3), -1.5f, 0, 5, kUnlitTextured);
    Atomic* b = Add(Dual(base, dual, 9, 3), 1.5f, 0, 5, kUnlitTextured);
    D3D8Test_ScriptValidate(D3DERR_UNSUPPORTEDCOLOROPERATION, 0);
    std::string calls = Calls({a});
    EXPECT_EQ(Count(calls, "ValidateDevice("), 1);
    EXPECT_EQ(Draws(calls), 2);
    calls = Calls({b});
    EXPECT_EQ(Count(calls, "ValidateDevice("), 0);
    EXPECT_EQ(Draws(calls), 2);
    // The multiplying pair that needs no modulate-2x still draws once.
    Atomic* c = Add(Dual(base, dual, 9, 1), 0, 2, 5, kUnlitTextured);
    EXPECT_EQ(Draws(Calls({c})), 1);
}

// A quad in the x-y plane with UVs 0..1 and the light 2 units in front of
// its centre: each vertex's second set moves by -(T . L) k, -(B . L) k,
// with L the unit vector to the light, B = T x N and T = dv2 E1 - dv1 E2
// from the vertex's triangle: u runs along +x and v along +y, and the
// grid's triangles turn towards -z, so T comes out along -x.
TEST_F(MatFXMinimalTest, BumpVerticesShiftTheSecondSetAlongTheLight)
{
    Texture* base = Solid(0xFF808080u, true);
    Material* m = NewMaterial(base, MATFX_BUMPMAP);
    MatFX_SetBumpMapTexture(m, nullptr);  // the base's own alpha is the bump: k = c / 4
    MatFX_SetBumpMapCoefficient(m, 2.0f);
    Frame* light = At(0, 0, 3);
    MatFX_SetBumpMapFrame(m, light);
    Atomic* a = Add(m, 0, 0, 5, kUnlitTextured);
    Draw({a});  // instances the quad
    const D3D8MeshInstance& r = D3D8InstanceData_Records(D3D8InstanceData_Get(a->geometry->instanceData))[0];
    std::vector<MatFXBumpVertex> out(r.numVertices);
    ASSERT_EQ(MatFX_BuildBumpVertices(&r, m, Frame_GetWorldMatrix(Atomic_GetFrame(a)), out.data()), 1);
    const float k = 2.0f / 4;
    for (const MatFXBumpVertex& v : out) {
        const Vec3 toLight = {0 - v.x, 0 - v.y, -2 - v.z};  // the light at z = 3 is z = -2 in the quad's space
        const float length = std::sqrt(toLight.x * toLight.x + toLight.y * toLight.y + toLight.z * toLight.z);
        const Vec3 l = {toLight.x / length, toLight.y / length, toLight.z / length};
        const Vec3 t = {-1, 0, 0}, n = {v.nx, v.ny, v.nz};
        const Vec3 b = {t.y * n.z - t.z * n.y, t.z * n.x - t.x * n.z, t.x * n.y - t.y * n.x};
        EXPECT_NEAR(v.u1, v.u0 - (t.x * l.x + t.y * l.y + t.z * l.z) * k, 1e-4f);
        EXPECT_NEAR(v.v1, v.v0 - (b.x * l.x + b.y * l.y + b.z * l.z) * k, 1e-4f);
        EXPECT_EQ(v.colour, 0xFFFFFFFFu);
    }
    // A light on a vertex, or UVs that give no tangent, shift nothing.
    Frame* onVertex = At(out[0].x, out[0].y, 5 + out[0].z);
    MatFX_SetBumpMapFrame(m, onVertex);
    ASSERT_EQ(MatFX_BuildBumpVertices(&r, m, Frame_GetWorldMatrix(Atomic_GetFrame(a)), out.data()), 1);
    EXPECT_EQ(out[0].u1, out[0].u0);
    EXPECT_EQ(out[0].v1, out[0].v0);
    for (int32_t v = 0; v < a->geometry->numVertices; v++) a->geometry->texCoords[0][v] = TexCoords{0.5f, 0.5f};
    Geometry_Lock(a->geometry, GEOMETRY_LOCK_TEXCOORDS1);
    Geometry_Unlock(a->geometry);
    Draw({a});
    ASSERT_EQ(MatFX_BuildBumpVertices(&r, m, Frame_GetWorldMatrix(Atomic_GetFrame(a)), out.data()), 1);
    for (const MatFXBumpVertex& v : out) {
        EXPECT_TRUE(std::isfinite(v.u1) && std::isfinite(v.v1));
        EXPECT_EQ(v.u1, 0.5f);
    }
}

// The device calls of the engine's start (the plugins' opens among them).
template <bool Shaders>
class MatFXStartTest : public MatFXDrawTest {
protected:
    std::string startCalls;
    void SetUp() override
    {
        answers.pixelShaders = Shaders;
        answers.blendStages = 2;
        D3D8Test_StartRecording();
        MatFXDrawTest::SetUp();
        startCalls = D3D8Test_Recording();
        D3D8Test_StopRecording();
    }
};
using MatFXNoShaderTest = MatFXStartTest<false>;
using MatFXShaderTest = MatFXStartTest<true>;

TEST_F(MatFXNoShaderTest, WithoutPixelShaderSupportNoShaderIsEverMade)
{
    EXPECT_NE(Count(startCalls, "CreateDevice"), 0);
    EXPECT_EQ(Count(startCalls, "CreatePixelShader("), 0);
    Atomic* a = Add(Env(Solid(0xFF808080u), Solid(0xFF204060u, true), 0.5f, nullptr, 1), 0, 0, 5, kUnlitTextured);
    EXPECT_EQ(Count(Calls({a}), "PixelShader("), 1);  // only the mesh's SetPixelShader(0)
}

// The six shaders are made when the device has them, and an environment
// whose texture has alpha draws once through one.
TEST_F(MatFXShaderTest, SixShadersAreMadeAndAnEnvironmentWithAlphaGoesThroughOne)
{
    EXPECT_EQ(Count(startCalls, "CreatePixelShader(0xffff0100) = 0x0"), 6);
    Atomic* a = Add(Env(Solid(0xFF808080u), Solid(0xFF204060u, true), 0.5f, nullptr, 1), 0, 0, 5, kUnlitTextured);
    const std::string calls = Calls({a});
    EXPECT_EQ(Draws(calls), 1);
    EXPECT_TRUE(Before(calls, "SetPixelShaderConstant(0, 1)", "DrawIndexedPrimitive("));
    EXPECT_EQ(Count(calls, "SetPixelShader(0)"), 2);  // before the mesh, and after its shader draw
    EXPECT_EQ(Count(calls, "SetPixelShader("), 3);
}

// After every path the stages hold the fixed values the drawing puts back,
// and a plain atomic drawn by the default pipeline right after it looks as
// it does alone.
class MatFXHygieneTest : public MatFXDrawTest, public ::testing::WithParamInterface<Profile> {
protected:
    void SetUp() override
    {
        UseProfile(GetParam());
        MatFXDrawTest::SetUp();
    }
};

TEST_P(MatFXHygieneTest, EveryPathLeavesTheFixedStatesAndAFollowingDefaultDrawIntact)
{
    Texture* checker = Pattern(8, 2, 0xFFE0A040u, 0xFF3060C0u);
    Texture* env = Pattern(8, 4, 0xFF2040A0u, 0xFFA04020u);
    Texture* alphaBase = Solid(0x80808080u, true);
    Texture* dual = Pattern(8, 2, 0x80C0C0C0u, 0xC0404040u, true);
    Matrix uv;
    Matrix_SetIdentity(&uv);
    uv.right.x = 2, uv.pos.x = 0.25f;
    uv.flags = 0;
    struct Config {
        const char* what;
        std::function<Material*()> make;
        uint32_t flags;
    };
    const std::vector<Config> configs = {
        {"plain", [&] { return NewMaterial(checker); }, kUnlitTextured},
        {"coordinate transform",
         [&] {
             Material* m = NewMaterial(checker, MATFX_UVTRANSFORM);
             MatFX_SetUVTransformMatrices(m, &uv, nullptr);
             return m;
         },
         kUnlitTextured},
        {"environment alone", [&] { return Env(nullptr, env, 1.0f); }, kUnlitPlain},
        {"environment over a base", [&] { return Env(checker, env, 1.0f); }, kUnlitTextured},
        {"partial environment", [&] { return Env(checker, env, 0.4f); }, kUnlitTextured},
        {"environment over a translucent base", [&] { return Env(alphaBase, env, 0.7f); }, kUnlitTextured},
        {"bump map",
         [&] {
             Material* m = NewMaterial(alphaBase, MATFX_BUMPMAP);
             MatFX_SetBumpMapTexture(m, nullptr);
             MatFX_SetBumpMapCoefficient(m, 1);
             return m;
         },
         kUnlitTextured},
        {"bump and environment map",
         [&] {
             Material* m = NewMaterial(alphaBase, MATFX_BUMPENVMAP);
             MatFX_SetBumpMapTexture(m, nullptr);
             MatFX_SetEnvMap(m, env, nullptr, 0, 0.5f);
             return m;
         },
         kUnlitTextured},
        {"dual 9,1", [&] { return Dual(checker, dual, 9, 1); }, kUnlitTextured},
        {"dual 5,6", [&] { return Dual(checker, dual, 5, 6); }, kUnlitTextured},
        {"dual 9,3", [&] { return Dual(checker, dual, 9, 3); }, kUnlitTextured},
        {"dual 2,2", [&] { return Dual(checker, dual, 2, 2); }, kUnlitTextured},
        {"dual 1,5", [&] { return Dual(checker, dual, 1, 5); }, kUnlitTextured},
        {"dual 5,6 without a base", [&] { return Dual(nullptr, dual, 5, 6); }, kUnlitPlain},
        {"dual 2,2 without a base", [&] { return Dual(nullptr, dual, 2, 2); }, kUnlitPlain},
        {"dual with transforms",
         [&] {
             Material* m = NewMaterial(checker, MATFX_DUALUVTRANSFORM);
             MatFX_SetDualTexture(m, dual);
             MatFX_SetDualBlendModes(m, 9, 1);
             MatFX_SetUVTransformMatrices(m, &uv, &uv);
             return m;
         },
         kUnlitTextured | GEOMETRY_TEXTURED2},
    };
    // The plain atomic on the default pipeline, alone, as the reference.
    Material* plainMaterial = NewMaterial(checker);
    Atomic* plain = Add(plainMaterial, 1.5f, 0, 5, kUnlitTextured, 4);
    plain->pipeline = nullptr;
    const std::vector<uint32_t> alone = Draw({plain});
    auto region = [](const std::vector<uint32_t>& pixels) {
        std::vector<uint32_t> out;
        for (int y = 150; y < 330; y++)
            for (int x = 140; x < 300; x++) out.push_back(pixels[(size_t)y * 640 + x] & 0xFFFFFF);
        return out;
    };
    for (const Config& c : configs) {
        SCOPED_TRACE(c.what);
        Atomic* a = Add(c.make(), -1.5f, 0, 5, c.flags, 2);
        const uint32_t stage1Set = StageState(1, D3DTSS_TEXCOORDINDEX);  // paths that use stage 1 leave 1
        Draw({a});
        EXPECT_EQ(StageState(0, D3DTSS_TEXCOORDINDEX), 0u);
        EXPECT_EQ(StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS), 0u);
        EXPECT_TRUE(StageState(1, D3DTSS_TEXCOORDINDEX) == 1u || StageState(1, D3DTSS_TEXCOORDINDEX) == stage1Set);
        EXPECT_EQ(StageState(1, D3DTSS_TEXTURETRANSFORMFLAGS), 0u);
        EXPECT_EQ(StageState(1, D3DTSS_COLOROP), (uint32_t)D3DTOP_DISABLE);
        EXPECT_EQ(D3D8_GetStageRaster(1), nullptr);
        EXPECT_EQ(StageState(2, D3DTSS_COLOROP), (uint32_t)D3DTOP_DISABLE);
        EXPECT_EQ(StageState(0, D3DTSS_COLORARG2), (uint32_t)D3DTA_DIFFUSE);
        EXPECT_EQ(State(D3DRS_ZWRITEENABLE), 1u);
        EXPECT_EQ(EngineState(RS_SRCBLEND), 5u);
        EXPECT_EQ(EngineState(RS_DESTBLEND), 6u);
        EXPECT_TRUE(region(Draw({a, plain})) == region(alone));
        World_RemoveAtomic(world, a);
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, MatFXHygieneTest, ::testing::Values(MINIMAL, TWO_STAGES, FULL));

}  // namespace
