// A small scene for the material-effects drawing tests: a world with a
// camera at the origin looking along +z and an ambient light, atomics drawn
// through the material-effects pipeline, textures made to measure, and
// helpers to read the stage states the drawing leaves behind.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "gfx/core/camera.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/plugin/matfx/d3d8matfx.h"
#include "platform/direct3d/d3d8_present.h"
#include "tests/gfx/plugin/plugin_fixture.h"
#include "tests/test_env.h"

class MatFXSceneTest : public PluginTest {
protected:
    World* world = nullptr;
    Camera* camera = nullptr;
    Light* ambient = nullptr;
    std::vector<Atomic*> atomics;
    std::vector<Frame*> frames;
    std::vector<Material*> materials;
    std::vector<Texture*> textures;

    // Full capabilities: three stages, multiply-add and modulate-2x.
    void FullCaps()
    {
        answers.blendStages = 3;
        answers.multiplyAdd = true;
        answers.modulate2x = true;
    }
    void SetUp() override
    {
        PluginTest::SetUp();
        WorldBox box = {{-200, -200, -200}, {200, 200, 200}};
        world = World_Create(&box);
        camera = MakeCamera();
        Camera_SetFarClipPlane(camera, 100);
        World_AddCamera(world, camera);
        ambient = Light_Create(LIGHT_AMBIENT);
        Light_SetFlags(ambient, LIGHT_LIGHT_ATOMICS);
        World_AddLight(world, ambient);
    }
    void TearDown() override
    {
        for (Atomic* a : atomics) {
            World_RemoveAtomic(world, a);
            Atomic_Destroy(a);
        }
        for (Frame* f : frames) Frame_Destroy(f);
        for (Material* m : materials) Material_Destroy(m);
        for (Texture* t : textures) Texture_Destroy(t);
        World_RemoveLight(world, ambient);
        Light_Destroy(ambient);
        World_RemoveCamera(world, camera);
        DestroyCamera(camera);
        World_Destroy(world);
        PluginTest::TearDown();
    }

    // A size x size texture of squares in colours a and b (0xAARRGGBB),
    // in 8888 (with alpha) or 888 (without); the scene releases it.
    Texture* Pattern(int size, int square, uint32_t a, uint32_t b, bool alpha = false)
    {
        Raster* r = Raster_Create(size, size, 0, RASTERTYPETEXTURE | (alpha ? RASTERFORMAT8888 : RASTERFORMAT888));
        uint8_t* p = Raster_Lock(r, 0, RASTERLOCKWRITE);
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                const uint32_t c = ((x / square + y / square) & 1) ? a : b;
                memcpy(p + y * r->stride + 4 * x, &c, 4);
            }
        Raster_Unlock(r);
        Texture* t = Texture_Create(r);
        t->filterAddressing = TEXTUREFILTERNEAREST | 0x1100;  // point sampled, wrapped
        textures.push_back(t);
        return t;
    }
    Texture* Solid(uint32_t colour, bool alpha = false) { return Pattern(4, 4, colour, colour, alpha); }

    Material* NewMaterial(Texture* texture = nullptr, uint32_t type = MATFX_NONE)
    {
        Material* m = MakeMaterial();
        Material_SetTexture(m, texture);
        if (type) MatFX_SetMaterialEffects(m, type);
        materials.push_back(m);
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
    Frame* At(float x, float y, float z)
    {
        frames.push_back(worldshapes::FrameAt(x, y, z));
        return frames.back();
    }
    // A square of side `size` facing the camera at (x, y, z) with n x n
    // quads, drawn with the effects pipeline. With `dome` its normals lean
    // out from the centre, so that camera-space environment coordinates vary
    // across it. Prelit white and unlit unless flags say otherwise.
    Atomic* Add(Material* m, float x, float y, float z, uint32_t flags, int n = 1, float size = 2.0f, bool dome = false)
    {
        Geometry* g = MakeGrid(n, size, flags, m);
        if (dome && g->morphTarget[0].normals) {
            for (int32_t v = 0; v < g->numVertices; v++) {
                Vec3 normal = {g->morphTarget[0].verts[v].x, g->morphTarget[0].verts[v].y, -0.8f * size};
                Vec3_Normalise(&normal);
                g->morphTarget[0].normals[v] = normal;
            }
        }
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        Geometry_Destroy(g);
        Atomic_SetFrame(a, At(x, y, z));
        World_AddAtomic(world, a);
        MatFX_EnableAtomicEffects(a);
        atomics.push_back(a);
        return a;
    }
    // Prelit colour of every vertex (before the atomic is first drawn).
    static void Tint(Atomic* a, RGBA colour)
    {
        for (int32_t v = 0; v < a->geometry->numVertices; v++) a->geometry->preLitLum[v] = colour;
    }
    std::vector<uint32_t> Draw(const std::vector<Atomic*>& list, const uint8_t* clear = nullptr)
    {
        return Snapshot(
            camera,
            [&] {
                for (Atomic* a : list) Atomic_Render(a);
            },
            clear);
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
    static uint32_t StageState(uint32_t stage, uint32_t type)
    {
        uint32_t v = 0;
        D3D8_GetTextureStageState(stage, type, &v);
        return v;
    }
    static uint32_t State(uint32_t state)
    {
        uint32_t v = 0;
        D3D8_GetRenderState(state, &v);
        return v;
    }
    static uint32_t EngineState(int32_t state)
    {
        uint32_t v = 0;
        D3D8_EngineRenderStateGet(state, &v);
        return v;
    }
    // The pixel at the projection of world point (x, y, z) for the default
    // camera (640 x 480, unit view window: 320 pixels per unit at z = 1;
    // world +x runs to the left of the picture).
    static uint32_t PixelAt(const std::vector<uint32_t>& pixels, float x, float y, float z)
    {
        const int px = (int)std::lround(320 - 320 * x / z), py = (int)std::lround(240 - 240 * y / z);
        return pixels[(size_t)py * 640 + (size_t)px];
    }
    static int Channel(uint32_t c, int shift) { return (int)((c >> shift) & 255); }
};

// Goldens of the material-effects pictures live in
// tests/gfx/plugin/matfx/golden/. HELM_REGEN_GOLDEN=1 rewrites them from
// the runs that own them (write = true); look at every rewritten PNG before
// committing it. A mismatch leaves the actual picture in the test folder.
inline std::string MatFXGolden(const std::vector<uint32_t>& pixels, const char* name, bool write, int tolerance = 3)
{
    const D3D8DrawSurface& s = D3D8_DeviceState()->backBuffer->surface;
    const std::string path = std::string(HELM_SOURCE_DIR) + "/tests/gfx/plugin/matfx/golden/" + name + ".png";
    const char* regen = getenv("HELM_REGEN_GOLDEN");
    if (write && regen && regen[0] == '1')
        return D3D8Present_WritePng(&s, nullptr, path.c_str()) == 1 ? "" : "cannot write " + path;
    int w = 0, h = 0;
    std::unique_ptr<uint32_t[]> golden(D3D8Present_ReadPng(path.c_str(), &w, &h));
    if (!golden) return "no golden " + path;
    if (w != s.width || h != s.height || pixels.size() != (size_t)w * h) return "another size than " + path;
    size_t worst = 0, differing = 0;
    for (size_t i = 0; i < pixels.size(); i++) {
        int most = 0;
        for (int shift = 0; shift < 24; shift += 8)
            most = std::max(most, std::abs((int)((pixels[i] >> shift) & 255) - (int)((golden[i] >> shift) & 255)));
        if (most > tolerance) differing++;
        worst = std::max(worst, (size_t)most);
    }
    if (!differing) return "";
    D3D8Present_WritePng(&s, nullptr, (TestTmp().string() + "/" + name + "_actual.png").c_str());
    return std::to_string(differing) + " pixels differ from " + name + " (by up to " + std::to_string(worst) + ")";
}
