#include "engine/renderobj.h"

#include <cstdio>
#include <cstring>
#include <tuple>

#include "content_fixture.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "tests/gfx/world/world_shapes.h"

namespace {

class RenderObjTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        PlaceCamera({0, 0, 0});
    }
    void TearDown() override
    {
        RenderObj_Release(&object);
        ContentTest::TearDown();
    }
    // A 1 x 1 quad facing -z in the world (its sphere's radius is about
    // 0.71), with one material of the colour.
    RenderObj* MakeObject(uint8_t r = 255, uint8_t g = 255, uint8_t b = 255)
    {
        Material* m = Material_Create();
        m->colour[0] = r, m->colour[1] = g, m->colour[2] = b, m->colour[3] = 255;
        Geometry* geometry = worldshapes::Grid(1, 1, 1.0f, 76, m);
        Material_Destroy(m);
        Atomic* atomic = Atomic_Create();
        Atomic_SetGeometry(atomic, geometry, 0);
        Geometry_Destroy(geometry);
        World_AddAtomic(world, atomic);
        return object = RenderObj_Create(atomic);
    }
    Node* At(float x, float y, float z, Node* parent = nullptr)
    {
        Node* n = Node_Create(parent);
        const Vec3 p = {x, y, z};
        Node_SetPosition(n, &p);
        if (!parent) n->world = n->local, n->flags &= ~NODE_DIRTY;
        return n;
    }
    // The draws of one frame that renders the object at each node and
    // flushes the queue.
    int Drawn(std::vector<Node*> nodes, int flush = 1)
    {
        return Count(Draw([&] {
                         for (Node* n : nodes) RenderObj_Render(&view, cameraNode, object, n);
                         if (flush) RenderObj_FlushTransparent();
                     }),
                     "DrawIndexedPrimitive");
    }
    Material* Colour() { return MaterialList_GetMaterial(&Atomic_GetGeometry(object->atomic)->matList, 0); }
    std::string Rgba()
    {
        char text[16];
        snprintf(text, sizeof text, "%d %d %d", Colour()->colour[0], Colour()->colour[1], Colour()->colour[3]);
        return text;
    }
    RenderObj* object = nullptr;
};

TEST_F(RenderObjTest, BlendFlagsSetTheirRenderStates)
{
    // The flags; vertex alpha, source and destination blend, z test, z write, fog.
    const std::tuple<uint32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t> cases[] = {
        {0, 0, 5, 6, 1, 1, 0},
        {RENDEROBJ_BLEND_ADD, 1, 2, 2, 1, 1, 0},
        {RENDEROBJ_BLEND_MULTIPLY, 1, 1, 4, 1, 1, 0},
        {RENDEROBJ_BLEND_ALPHA, 1, 5, 6, 1, 1, 0},
        {RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_ALPHA, 1, 2, 2, 1, 1, 0},
        {RENDEROBJ_NO_ZTEST, 0, 5, 6, 0, 1, 0},
        {RENDEROBJ_NO_ZWRITE | RENDEROBJ_FOG, 0, 5, 6, 1, 0, 1},
    };
    Draw([&] {
        for (const auto& [flags, vertexAlpha, src, dst, zTest, zWrite, fog] : cases) {
            RenderObj_SetBlendMode(flags);
            EXPECT_EQ(std::vector<int32_t>({State(RS_VERTEXALPHAENABLE), State(RS_SRCBLEND), State(RS_DESTBLEND),
                                            State(RS_ZTESTENABLE), State(RS_ZWRITEENABLE), State(RS_FOGENABLE)}),
                      std::vector<int32_t>({vertexAlpha, src, dst, zTest, zWrite, fog}))
                << flags;
        }
        RenderObj_SetBlendMode(RENDEROBJ_BLEND_ADD);
        RenderObj_SetBlendMode(RENDEROBJ_BLEND_VERTEX);
        EXPECT_EQ(State(RS_VERTEXALPHAENABLE) * 10 + State(RS_SRCBLEND), 12);
    });
}

TEST_F(RenderObjTest, CullingByPlanesInNormalAndMirroredViewsAndByDistanceUnreported)
{
    for (float windowX : {0.5f, -0.5f}) {
        SetCameraWindow(windowX, 0.375f);
        PlaceCamera({0, 0, 0});
        const float cases[][3] = {
            {0, 1001, 0},                 // beyond the far plane, touching it
            {0, 1000.5f, 1},              // across it
            {0, 10, 1},      {0, -5, 0},  // behind the camera
            {-30, 10, 0},                 // far to the side
            {6, 10, 1},                   // across the side plane (window 0.5 at depth 10 reaches 5)
        };
        for (const auto& c : cases) {
            const Sphere s = {{c[0], 0, c[1]}, 1};
            EXPECT_EQ(RenderObj_FrustumTest(&s), c[2]) << windowX << " " << c[0] << " " << c[1];
        }
    }
    MakeObject();
    const Sphere one = {{0, 0, 121}, 1}, near = {{0, 0, 119}, 1};
    EXPECT_EQ(RenderObj_DistanceCull(&one, cameraNode) * 10 + RenderObj_DistanceCull(&near, cameraNode), 10);
    Node* far = At(0, 0, 200);
    RenderObj_SetDistanceCull(object, 1);
    Draw([&] { EXPECT_EQ(RenderObj_Render(&view, cameraNode, object, far), 1); });
    EXPECT_EQ(Drawn({far}), 0);
    RenderObj_SetDistanceCull(object, 0);
    EXPECT_EQ(Drawn({far}), 1);
    Node* behind = At(0, 0, -10);
    Draw([&] { EXPECT_EQ(RenderObj_Render(&view, cameraNode, object, behind), 0); });
}

TEST_F(RenderObjTest, MaterialsFollowTheEffectiveAlphaAndOnlyWhenItChanges)
{
    MakeObject(200, 100, 50);
    Node* node = At(0, 0, 10);
    Node_SetAlpha(node, 0.5f);
    EXPECT_TRUE(Drawn({node}, 0) == 1 && RenderObj_GetQueueCount() == 0 && (object->state & RENDEROBJ_TRANSPARENT));
    EXPECT_TRUE(Drawn({node}, 0) == 0 && RenderObj_GetQueueCount() == 1);
    EXPECT_TRUE(Drawn({}) == 1 && Rgba() == "200 100 255");
    Node_SetAlpha(node, 1.0f);
    RenderObj_SetFlags(object, RENDEROBJ_BLEND_ADD, 1);
    Drawn({node});
    EXPECT_EQ(Rgba(), "255 255 254");
    Colour()->colour[0] = 7;  // unchanged alpha: a colour written meanwhile stays
    Drawn({node});
    EXPECT_EQ(Rgba(), "7 255 254");
    Node_SetAlpha(node, 0.5f);
    Drawn({node});
    EXPECT_EQ(Rgba(), "127 127 127");
    RenderObj_SetFlags(object, RENDEROBJ_BLEND_ADD, 0);
    RenderObj_SetFlags(object, RENDEROBJ_BLEND_ALPHA, 1);
    Colour()->colour[0] = 9;
    RenderObj_SetFade(object, 0.5f);
    Drawn({node});
    EXPECT_EQ(Rgba(), "9 127 63");
    Node_SetAlpha(node, 0.0f);
    EXPECT_TRUE(Drawn({node}) == 0 && (object->state & RENDEROBJ_INVISIBLE) && Drawn({node}) == 0);
    Node_SetAlpha(node, 1.0f);
    EXPECT_TRUE(Drawn({node}) == 1 && !(object->state & RENDEROBJ_INVISIBLE));
}

TEST_F(RenderObjTest, RaysHitFrontFacesWhereTheNodePlacesTheObject)
{
    MakeObject();
    ASSERT_NE(GeomCollision_BuildGeometryData(Atomic_GetGeometry(object->atomic)), nullptr);
    Node* node = At(5, 0, 10);
    std::vector<Vec3> hits;
    auto record = [](RenderObj*, float, const Vec3* point, const Vec3* normal, void* data) {
        ((std::vector<Vec3>*)data)->insert(((std::vector<Vec3>*)data)->end(), {*point, *normal});
        return 1;
    };
    const Vec3 from = {5.2f, 0.1f, 0}, to = {5.2f, 0.1f, 20}, beside = {0, 0, 0}, past = {0, 0, 20};
    ASSERT_TRUE(RenderObj_RayTest(object, node, &from, &to, record, &hits) == 1 && hits.size() == 2);
    EXPECT_EQ(Str({hits[0].z, hits[1].z, 0}), "10 -1 0");
    EXPECT_EQ(RenderObj_RayTest(object, node, &to, &from, nullptr, nullptr) +
                  RenderObj_RayTest(object, node, &beside, &past, nullptr, nullptr),
              0u);
    EXPECT_TRUE(!Atomic_GetFrame(object->atomic) && RenderObj_GetRaySlot());  // back on no frame
}

TEST_F(RenderObjTest, ProjectedPointsLandOnTheVirtualScreen)
{
    Node* centre = At(0, 0, 10);
    Vec3 screen;
    View_ProjectPoint(&view, cameraNode, centre, &screen, nullptr);
    EXPECT_LT(Dist(screen, V(320, 240, 10.1f)), 1e-3f);  // a zero depth offset counts as 0.1
    const Vec3 offset = {5, 3.75f, 0.5f};
    View_ProjectPoint(&view, cameraNode, At(0, 0, 9.5f), &screen, &offset);
    EXPECT_LT(Dist(screen, V(640, 0, 10)), 1e-2f);
    View_ProjectPoint(&view, nullptr, centre, &screen, nullptr);
    EXPECT_NEAR(screen.x, 320.0f, 1e-3f);
}

TEST_F(RenderObjTest, TheQueueHoldsTwelveHundredEightyAndFlushesFarthestFirst)
{
    MakeObject();
    Node* node = At(0, 0, 5);
    RenderObj_ResetTransparent();
    std::string refused;
    for (int i = 0; i <= 1280; i++) refused += RenderObj_QueueTransparent(&view, cameraNode, object, node) ? '1' : '0';
    EXPECT_TRUE(refused == std::string(1280, '0') + "1" && RenderObj_GetQueueCount() == 1280);
    RenderObj_ResetTransparent();
    RenderObj_SetFlags(object, RENDEROBJ_BLEND_ALPHA, 1);
    Node* nodes[3] = {At(0, 0, 5), At(0, 0, 20), At(1, 0, 10)};
    const std::string text = Draw([&] {
        for (Node* n : nodes) RenderObj_Render(&view, cameraNode, object, n);
        RenderObj_FlushTransparent();
    });
    std::vector<float> depths;
    for (size_t at = text.find("SetTransform(256, ["); at != std::string::npos;
         at = text.find("SetTransform(256, [", at + 1)) {
        float m[16];
        if (sscanf(text.c_str() + at, "SetTransform(256, [%g %g %g %g | %g %g %g %g | %g %g %g %g | %g %g %g %g", &m[0],
                   &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7], &m[8], &m[9], &m[10], &m[11], &m[12], &m[13],
                   &m[14], &m[15]) == 16)
            depths.push_back(m[14]);
    }
    EXPECT_TRUE(depths == (std::vector<float>{20, 10, 5}) && RenderObj_GetQueueCount() == 0) << text;
}

}  // namespace
