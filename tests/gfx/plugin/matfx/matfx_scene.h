// The material-effects drawing tests' scene: the plugins' scene with an
// ambient light for atomics, a device profile chosen before the engine starts,
// textures and materials made to measure, quads drawn through the effects
// pipeline, and the device calls and states the drawing leaves. Goldens live
// in tests/gfx/plugin/matfx/golden/.
#pragma once

#include <string>

#include "gfx/plugin/matfx/d3d8matfx.h"
#include "tests/gfx/plugin/plugin_fixture.h"

// Device profiles: the stand-in's defaults (one stage), two stages with
// modulate-2x, full capabilities (three stages, multiply-add, modulate-2x),
// full with pixel shaders.
enum Profile { MINIMAL, TWO_STAGES, FULL, SHADERS };

constexpr uint32_t kTextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED;
constexpr uint32_t kUntextured = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT;

class MatFXSceneTest : public PluginSceneTest {
protected:
    Profile profile = MINIMAL;
    void SetUp() override
    {
        answers.blendStages = profile == MINIMAL ? 1 : profile == TWO_STAGES ? 2 : 3;
        answers.modulate2x = profile != MINIMAL;
        answers.multiplyAdd = profile >= FULL;
        answers.pixelShaders = profile == SHADERS;
        PluginSceneTest::SetUp();
        Light_SetFlags(AddLight(LIGHT_AMBIENT, {1, 1, 1, 1}), LIGHT_LIGHT_ATOMICS);
    }
    // A size x size texture of squares in colours a and b (0xAARRGGBB), in
    // 8888 (with alpha) or 888, point sampled and wrapped; owned.
    Texture* Pattern(int size, int square, uint32_t a, uint32_t b, bool alpha = false)
    {
        Raster* r = Raster_Create(size, size, 0, RASTERTYPETEXTURE | (alpha ? RASTERFORMAT8888 : RASTERFORMAT888));
        uint8_t* p = Raster_Lock(r, 0, RASTERLOCKWRITE);
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++)
                Bytes_StoreU32(p + y * r->stride + 4 * x, ((x / square + y / square) & 1) ? a : b);
        Raster_Unlock(r);
        Texture* t = Own(Texture_Create(r));
        t->filterAddressing = TEXTUREFILTERNEAREST | 0x1100;
        return t;
    }
    Texture* Solid(uint32_t colour, bool alpha = false) { return Pattern(4, 4, colour, colour, alpha); }
    Material* NewMaterial(Texture* texture = nullptr, uint32_t type = MATFX_NONE)
    {
        Material* m = Own(MakeMaterial());
        Material_SetTexture(m, texture);
        if (type) MatFX_SetMaterialEffects(m, type);
        return m;
    }
    Material* Env(Texture* base, Texture* env, float coefficient, Frame* frame = nullptr, uint32_t fbAlpha = 0)
    {
        Material* m = NewMaterial(base, MATFX_ENVMAP);
        MatFX_SetEnvMap(m, env, frame, fbAlpha, coefficient);
        return m;
    }
    Material* Dual(Texture* base, Texture* dual, uint32_t src, uint32_t dst)
    {
        Material* m = NewMaterial(base, MATFX_DUAL);
        MatFX_SetDualTexture(m, dual);
        MatFX_SetDualBlendModes(m, src, dst);
        return m;
    }
    // A bump map taken from the base's own alpha at 1.5, with an environment
    // when env is given.
    Material* Bump(Texture* base, Texture* env = nullptr, uint32_t fbAlpha = 0, float coefficient = 0)
    {
        Material* m = NewMaterial(base, env ? MATFX_BUMPENVMAP : MATFX_BUMPMAP);
        MatFX_SetBumpMapTexture(m, nullptr);
        MatFX_SetBumpMapCoefficient(m, 1.5f);
        if (env) MatFX_SetEnvMap(m, env, nullptr, fbAlpha, coefficient);
        return m;
    }
    // A square of side `size` facing the camera at (x, y, z) with n x n quads,
    // drawn with the effects pipeline, prelit white and unlit unless flags
    // say otherwise. With `dome` its normals lean out from the centre, so that
    // camera-space environment coordinates vary across it.
    Atomic* AddFX(Material* m, float x, float y, float z, uint32_t flags, int n = 1, float size = 2.0f,
                  bool dome = false)
    {
        Geometry* g = MakeGrid(n, size, flags, m);
        for (int32_t v = 0; dome && v < g->numVertices; v++) {
            const Vec3 p = g->morphTarget[0].verts[v];
            g->morphTarget[0].normals[v] = Vec3{p.x, p.y, -0.8f * size};
            Vec3_Normalise(&g->morphTarget[0].normals[v]);
        }
        Atomic* a = Add(g, x, y, z);
        MatFX_EnableAtomicEffects(a);
        return a;
    }
    // The device calls drawing the atomics makes.
    std::string Calls(const std::vector<Atomic*>& list)
    {
        std::string text;
        Snapshot(camera, [&] {
            text = Record([&] {
                for (Atomic* a : list) Atomic_Render(a);
            });
        });
        return text;
    }
    static int Draws(const std::string& text) { return Count(text, "DrawIndexedPrimitive("); }
    // The back buffer against golden/<name>.png; the one-stage run owns the
    // goldens (HELM_REGEN_GOLDEN rewrites them there).
    std::string Golden(const char* name, int tolerance = 3)
    {
        const char* regen = getenv("HELM_REGEN_GOLDEN");
        if (profile != MINIMAL && regen && regen[0] == '1') return "";
        return MatchGolden(std::string("gfx/plugin/matfx/golden/") + name, profile == MINIMAL ? tolerance : 4);
    }
    static void ExpectColour(uint32_t pixel, int r, int g, int b, const char* what)
    {
        const uint32_t want = (uint32_t)std::min(r, 255) << 16 | std::min(g, 255) << 8 | std::min(b, 255);
        EXPECT_LE(raster_test::ColourDistance(pixel, want), 3) << what << std::hex << " 0x" << pixel;
    }
    static uint32_t EngineState(int32_t state)
    {
        uint32_t v = 0;
        D3D8_EngineRenderStateGet(state, &v);
        return v;
    }
};

// A scene on one device profile.
template <Profile P>
class MatFXOn : public MatFXSceneTest {
protected:
    void SetUp() override
    {
        profile = P;
        MatFXSceneTest::SetUp();
    }
};
// A scene on each profile of the parameter.
class MatFXEachProfileTest : public MatFXSceneTest, public ::testing::WithParamInterface<Profile> {
protected:
    void SetUp() override
    {
        profile = GetParam();
        MatFXSceneTest::SetUp();
    }
};
