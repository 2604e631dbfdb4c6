// Pictures of atomics drawn in a lit world, against golden images in
// tests/gfx/world/golden/. After an intended change in rendering, regenerate
// them with HELM_REGEN_GOLDEN=1 build/tests/gfx_tests --gtest_filter='WorldPicture*'
// and look at every rewritten PNG before committing it. The goldens come from
// this code, so the analytic checks below pin what a right picture must show.
#include <array>
#include <cmath>
#include <memory>
#include <set>
#include <string>

#include "gfx/core/camera.h"
#include "gfx/core/raster.h"
#include "platform/direct3d/d3d8_present.h"
#include "tests/gfx/world/world_fixture.h"
#include "tests/test_env.h"

using namespace worldtest;

namespace {

class WorldPictureTest : public WorldTest {
protected:
    World* world = nullptr;
    Camera* camera = nullptr;
    std::vector<Frame*> frames;
    std::vector<Atomic*> atomics;
    std::vector<Light*> lights;

    void SetUp() override
    {
        WorldTest::SetUp();
        WorldBox box = {{-200, -200, -200}, {200, 200, 200}};
        world = World_Create(&box);
        camera = MakeCamera();
        Camera_SetFarClipPlane(camera, 100);
        World_AddCamera(world, camera);
    }
    void TearDown() override
    {
        for (Atomic* a : atomics) {
            World_RemoveAtomic(world, a);
            Atomic_SetFrame(a, nullptr);
            Atomic_Destroy(a);
        }
        for (Light* l : lights) {
            World_RemoveLight(world, l);
            Light_SetFrame(l, nullptr);
            Light_Destroy(l);
        }
        for (Frame* f : frames) Frame_Destroy(f);
        World_RemoveCamera(world, camera);
        DestroyCamera(camera);
        World_Destroy(world);
        WorldTest::TearDown();
    }
    Frame* At(float x, float y, float z, const Vec3* at = nullptr)
    {
        frames.push_back(worldshapes::FrameAt(x, y, z, at));
        return frames.back();
    }
    Atomic* Add(Geometry* g, float x, float y, float z)
    {
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        Atomic_SetFrame(a, At(x, y, z));
        World_AddAtomic(world, a);
        atomics.push_back(a);
        Geometry_Destroy(g);
        return a;
    }
    Light* AddLight(uint8_t kind, LightColour colour, float x, float y, float z, const Vec3* at, float radius = 0)
    {
        Light* l = Light_Create(kind);
        Light_SetColour(l, &colour);
        Light_SetFrame(l, At(x, y, z, at));
        Light_SetRadius(l, radius);
        World_AddLight(world, l);
        lights.push_back(l);
        return l;
    }
    std::vector<uint32_t> Draw()
    {
        return Snapshot(camera, [&] {
            for (Atomic* a : atomics) Atomic_Render(a);
        });
    }
    static std::string MatchGolden(const std::vector<uint32_t>& pixels, const char* name, int tolerance = 3)
    {
        const D3D8DrawSurface& s = D3D8_DeviceState()->backBuffer->surface;
        const std::string path = std::string(HELM_SOURCE_DIR) + "/tests/gfx/world/golden/" + name + ".png";
        const char* regen = getenv("HELM_REGEN_GOLDEN");
        if (regen && regen[0] == '1')
            return D3D8Present_WritePng(&s, nullptr, path.c_str()) == 1 ? "" : "cannot write " + path;
        int w = 0, h = 0;
        std::unique_ptr<uint32_t[]> ref(D3D8Present_ReadPng(path.c_str(), &w, &h));
        if (!ref) return "missing " + path;
        if (w != s.width || h != s.height) return "size differs";
        int off = 0;
        for (size_t i = 0; i < pixels.size(); i++)
            for (int sh = 0; sh < 24; sh += 8)
                if (std::abs((int)((pixels[i] >> sh) & 255) - (int)((ref[i] >> sh) & 255)) > tolerance) {
                    off++;
                    break;
                }
        if (off) {
            D3D8Present_WritePng(&s, nullptr, (TestTmp().string() + "/" + name + "_actual.png").c_str());
            return std::to_string(off) + " pixels differ";
        }
        return "";
    }
    static int Channel(uint32_t c, int shift) { return (int)((c >> shift) & 255); }
};

TEST_F(WorldPictureTest, AQuadAtSixtyDegreesToADirectionalLightShowsAmbientPlusHalfTheDiffuse)
{
    Material* m = MakeMaterial();
    Add(MakeGrid(1, 4.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT, m), 0, 0, 6);
    const Vec3 sixty = {0, -0.8660254f, 0.5f};  // the light travels up-and-in; N . -at = 0.5
    AddLight(LIGHT_DIRECTIONAL, LightColour{1, 1, 1, 1}, 0, 0, 0, &sixty);
    AddLight(LIGHT_AMBIENT, LightColour{0.2f, 0.2f, 0.2f, 1}, 0, 0, 0, nullptr);
    const std::vector<uint32_t> pixels = Draw();
    ASSERT_FALSE(pixels.empty());
    const uint32_t centre = pixels[(size_t)240 * 640 + 320];
    for (int shift : {0, 8, 16}) EXPECT_NEAR(Channel(centre, shift), 0.7 * 255, 2) << std::hex << centre;
    Material_Destroy(m);
}

TEST_F(WorldPictureTest, UnlitUnprelitAtomicsDrawOpaqueBlack)
{
    Material* m = MakeMaterial(200, 100, 50, 128);
    Add(MakeGrid(1, 4.0f, GEOMETRY_POSITIONS, m), 0, 0, 6);
    const std::vector<uint32_t> pixels = Draw();
    ASSERT_FALSE(pixels.empty());
    EXPECT_EQ(pixels[(size_t)240 * 640 + 320] & 0xFFFFFF, 0u);
    EXPECT_EQ(pixels[10] & 0xFFFFFF, 0x404040u);  // the clear colour around it
    Material_Destroy(m);
}

TEST_F(WorldPictureTest, LitTexturedPrelitAndMorphingAtomicsUnderEveryKindOfLight)
{
    Texture* checker = worldshapes::Checker(8, 2, 0xFFFFC040u, 0xFF4060FFu);
    Material* textured = MakeMaterial();
    Material_SetTexture(textured, checker);
    Texture_Destroy(checker);
    Material* tinted = MakeMaterial(255, 200, 120, 255);
    // Lit and textured, left; prelit and textured, right; morphing and lit, middle.
    Add(MakeGrid(4, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT | GEOMETRY_TEXTURED, textured), -3,
        1.5f, 10);
    Geometry* prelit = MakeGrid(4, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED, textured);
    for (int v = 0; v < prelit->numVertices; v++) prelit->preLitLum[v] = RGBA{(uint8_t)(40 * (v % 5)), 255, 128, 255};
    Add(prelit, 3, 1.5f, 10);
    Geometry* morph = MakeGrid(
        4, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT | GEOMETRY_MODULATE_MATERIAL_COLOR, tinted);
    Geometry_AddMorphTarget(morph);
    for (int v = 0; v < morph->numVertices; v++) {
        const Vec3 p = morph->morphTarget[0].verts[v];
        morph->morphTarget[1].verts[v] = Vec3{p.x * 0.5f, p.y * 1.5f, p.z - 1};
        morph->morphTarget[1].normals[v] = Vec3{0, 0, -1};
    }
    MorphTarget_CalcBoundingSphere(&morph->morphTarget[1], &morph->morphTarget[1].boundingSphere);
    Atomic* m = Add(morph, 0, -2, 10);
    Atomic_SetMorphBlend(m, 0, 1, 0.5f, 1.0f);
    const Vec3 down = {0, -0.6f, 0.8f}, spotAt = {0, 0, 1};
    AddLight(LIGHT_AMBIENT, LightColour{0.15f, 0.15f, 0.15f, 1}, 0, 0, 0, nullptr);
    AddLight(LIGHT_DIRECTIONAL, LightColour{0.5f, 0.5f, 0.6f, 1}, 0, 0, 0, &down);
    AddLight(LIGHT_POINT, LightColour{1.0f, 0.2f, 0.2f, 1}, -3, 1.5f, 8.5f, nullptr, 4);
    Light* spot = AddLight(LIGHT_SPOT, LightColour{0.2f, 1.0f, 0.2f, 1}, 0, -2, 5, &spotAt, 12);
    Light_SetConeAngle(spot, 0.3f);
    const std::vector<uint32_t> pixels = Draw();
    ASSERT_FALSE(pixels.empty());
    EXPECT_EQ(MatchGolden(pixels, "world_lights"), "");
    Material_Destroy(textured);
    Material_Destroy(tinted);
}

TEST_F(WorldPictureTest, StripsAndListsOfOneMeshDrawTheSameTriangles)
{
    Material* m = MakeMaterial();
    Geometry* list = MakeGrid(6, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT, m);
    Geometry* strip = MakeGrid(6, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT | GEOMETRY_TRISTRIP, m);
    // Decoded triangles are compared, not pixels.
    auto triangles = [](const Geometry* g) {
        std::multiset<std::array<uint16_t, 3>> out;
        const Mesh& mesh = MeshHeader_Meshes(g->mesh)[0];
        const bool isStrip = g->mesh->flags == MESH_TRIANGLE_STRIP;
        for (uint32_t i = 0; i + 2 < mesh.numIndices; i += isStrip ? 1 : 3) {
            uint16_t a = mesh.indices[i], b = mesh.indices[i + 1], c = mesh.indices[i + 2];
            if (a == b || b == c || a == c) continue;
            if (isStrip && i % 2) std::swap(a, b);
            std::array<uint16_t, 3> t = {a, b, c};
            while (t[0] > t[1] || t[0] > t[2]) t = {t[1], t[2], t[0]};
            out.insert(t);
        }
        return out;
    };
    EXPECT_EQ(triangles(list), triangles(strip));
    Geometry_Destroy(list);
    Geometry_Destroy(strip);
    Material_Destroy(m);
}

}  // namespace
