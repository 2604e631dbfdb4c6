#include "engine/renderobj.h"

#include <cstdio>
#include <cstring>

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
    // A 1 x 1 quad render object in the world (its sphere's radius is about
    // 0.71), with one material of the colour.
    RenderObj* MakeObject(uint8_t r = 255, uint8_t g = 255, uint8_t b = 255, uint8_t a = 255)
    {
        Material* m = Material_Create();
        m->colour[0] = r, m->colour[1] = g, m->colour[2] = b, m->colour[3] = a;
        Geometry* geometry = worldshapes::Grid(1, 1, 1.0f, 76, m);
        Material_Destroy(m);
        Atomic* atomic = Atomic_Create();
        Atomic_SetGeometry(atomic, geometry, 0);
        Geometry_Destroy(geometry);
        World_AddAtomic(world, atomic);
        return RenderObj_Create(atomic);
    }
    Node* At(float x, float y, float z)
    {
        Node* n = Node_Create(nullptr);
        const Vec3 p = {x, y, z};
        Node_SetPosition(n, &p);
        n->world = n->local;
        n->flags &= ~NODE_DIRTY;
        return n;
    }
    static Material* MaterialOf(RenderObj* o) { return MaterialList_GetMaterial(&Atomic_GetGeometry(o->atomic)->matList, 0); }
    // The z of every world transform the device was given, in order.
    static std::vector<float> DrawnDepths(const std::string& text)
    {
        std::vector<float> depths;
        for (size_t at = text.find("SetTransform(256, ["); at != std::string::npos;
             at = text.find("SetTransform(256, [", at + 1)) {
            float m[16];
            if (sscanf(text.c_str() + at, "SetTransform(256, [%g %g %g %g | %g %g %g %g | %g %g %g %g | %g %g %g %g", &m[0],
                       &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7], &m[8], &m[9], &m[10], &m[11], &m[12], &m[13],
                       &m[14], &m[15]) == 16)
                depths.push_back(m[14]);
        }
        return depths;
    }
};

TEST_F(RenderObjTest, BlendFlagsSetTheirRenderStates)
{
    struct Case {
        uint32_t flags;
        int32_t vertexAlpha, src, dst, zTest, zWrite, fog;
    } cases[] = {
        {0, 0, 5, 6, 1, 1, 0},
        {RENDEROBJ_BLEND_ADD, 1, 2, 2, 1, 1, 0},
        {RENDEROBJ_BLEND_MULTIPLY, 1, 1, 4, 1, 1, 0},
        {RENDEROBJ_BLEND_ALPHA, 1, 5, 6, 1, 1, 0},
        {RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_ALPHA, 1, 2, 2, 1, 1, 0},
        {RENDEROBJ_NO_ZTEST, 0, 5, 6, 0, 1, 0},
        {RENDEROBJ_NO_ZWRITE | RENDEROBJ_FOG, 0, 5, 6, 1, 0, 1},
    };
    Draw([&] {
        for (const Case& c : cases) {
            RenderObj_SetBlendMode(c.flags);
            EXPECT_EQ(State(RS_VERTEXALPHAENABLE), c.vertexAlpha) << c.flags;
            EXPECT_EQ(State(RS_SRCBLEND), c.src) << c.flags;
            EXPECT_EQ(State(RS_DESTBLEND), c.dst) << c.flags;
            EXPECT_EQ(State(RS_ZTESTENABLE), c.zTest) << c.flags;
            EXPECT_EQ(State(RS_ZWRITEENABLE), c.zWrite) << c.flags;
            EXPECT_EQ(State(RS_FOGENABLE), c.fog) << c.flags;
        }
        // Flag 8 alone turns vertex alpha on and leaves the factors.
        RenderObj_SetBlendMode(RENDEROBJ_BLEND_ADD);
        RenderObj_SetBlendMode(RENDEROBJ_BLEND_VERTEX);
        EXPECT_EQ(State(RS_VERTEXALPHAENABLE), 1);
        EXPECT_EQ(State(RS_SRCBLEND), 2);
    });
}

TEST_F(RenderObjTest, SpheresTouchingAPlaneFromOutsideAreCulledInNormalAndMirroredViews)
{
    for (float windowX : {0.5f, -0.5f}) {
        SetCameraWindow(windowX, 0.375f);
        PlaceCamera({0, 0, 0});
        struct Case {
            Sphere sphere;
            int inside;
        } cases[] = {
            {{{0, 0, 1001}, 1}, 0},     // beyond the far plane, touching it
            {{{0, 0, 1000.5f}, 1}, 1},  // across it
            {{{0, 0, 10}, 1}, 1},
            {{{0, 0, -5}, 1}, 0},       // behind the camera
            {{{-30, 0, 10}, 1}, 0},     // far to the side
            {{{6, 0, 10}, 1}, 1},       // across the side plane (window 0.5 at depth 10 reaches 5)
        };
        for (const Case& c : cases)
            EXPECT_EQ(RenderObj_FrustumTest(&c.sphere), c.inside) << windowX << " " << c.sphere.center.x << " "
                                                                  << c.sphere.center.z;
    }
}

TEST_F(RenderObjTest, DistanceCullIsNotReportedAsCulled)
{
    RenderObj* o = MakeObject();
    Node* far = At(0, 0, 200);
    const Sphere one = {{0, 0, 121}, 1};
    const Sphere near = {{0, 0, 119}, 1};
    EXPECT_EQ(RenderObj_DistanceCull(&one, cameraNode), 1);
    EXPECT_EQ(RenderObj_DistanceCull(&near, cameraNode), 0);
    std::string text = Draw([&] {
        RenderObj_SetDistanceCull(o, 1);
        EXPECT_EQ(RenderObj_Render(&view, cameraNode, o, far), 1);
    });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive"), 0) << text;
    text = Draw([&] {
        RenderObj_SetDistanceCull(o, 0);
        EXPECT_EQ(RenderObj_Render(&view, cameraNode, o, far), 1);
    });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive"), 1);
    // Behind the camera the frustum culls and says so.
    Node* behind = At(0, 0, -10);
    Draw([&] { EXPECT_EQ(RenderObj_Render(&view, cameraNode, o, behind), 0); });
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, MaterialsAreRewrittenOnlyWhenTheEffectiveAlphaChanges)
{
    RenderObj* o = MakeObject(200, 100, 50, 255);
    RenderObj_SetFlags(o, RENDEROBJ_BLEND_ADD, 1);
    Node* node = At(0, 0, 10);
    Material* m = MaterialOf(o);
    Draw([&] {
        RenderObj_Render(&view, cameraNode, o, node);
        RenderObj_FlushTransparent();
    });
    // Alpha 1 with colour and alpha fading: every byte 255, alpha capped.
    EXPECT_EQ(m->colour[0], 255);
    EXPECT_EQ(m->colour[3], 254);
    // Unchanged alpha: a colour written meanwhile stays.
    m->colour[0] = 7;
    Draw([&] {
        RenderObj_Render(&view, cameraNode, o, node);
        RenderObj_FlushTransparent();
    });
    EXPECT_EQ(m->colour[0], 7);
    // Half: rewritten.
    Node_SetAlpha(node, 0.5f);
    Draw([&] {
        RenderObj_Render(&view, cameraNode, o, node);
        RenderObj_FlushTransparent();
    });
    EXPECT_EQ(m->colour[0], 127);
    EXPECT_EQ(m->colour[3], 127);
    // Alpha only (flag 4): the colour bytes stay.
    RenderObj_SetFlags(o, RENDEROBJ_BLEND_ADD, 0);
    RenderObj_SetFlags(o, RENDEROBJ_BLEND_ALPHA, 1);
    m->colour[0] = 9;
    RenderObj_SetFade(o, 0.5f);
    Draw([&] {
        RenderObj_Render(&view, cameraNode, o, node);
        RenderObj_FlushTransparent();
    });
    EXPECT_EQ(m->colour[0], 9);
    EXPECT_EQ(m->colour[3], 63);
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, ZeroAlphaHidesUntilTheAlphaRises)
{
    RenderObj* o = MakeObject();
    RenderObj_SetFlags(o, RENDEROBJ_BLEND_ALPHA, 1);
    Node* node = At(0, 0, 10);
    auto drawOnce = [&] {
        return Draw([&] {
            RenderObj_Render(&view, cameraNode, o, node);
            RenderObj_FlushTransparent();
        });
    };
    Node_SetAlpha(node, 0.0f);
    EXPECT_EQ(Count(drawOnce(), "DrawIndexedPrimitive"), 0);
    EXPECT_NE(o->state & RENDEROBJ_INVISIBLE, 0u);
    EXPECT_EQ(Count(drawOnce(), "DrawIndexedPrimitive"), 0);
    Node_SetAlpha(node, 0.5f);
    EXPECT_EQ(Count(drawOnce(), "DrawIndexedPrimitive"), 1);
    EXPECT_EQ(o->state & RENDEROBJ_INVISIBLE, 0u);
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, UnblendedObjectWithLowAlphaDrawsAtOnceThenQueuesAndIsNeverFaded)
{
    RenderObj* o = MakeObject(200, 100, 50, 255);
    Node* node = At(0, 0, 10);
    Node_SetAlpha(node, 0.5f);
    std::string text = Draw([&] { RenderObj_Render(&view, cameraNode, o, node); });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive"), 1);
    EXPECT_EQ(RenderObj_GetQueueCount(), 0u);
    EXPECT_NE(o->state & RENDEROBJ_TRANSPARENT, 0u);
    text = Draw([&] { RenderObj_Render(&view, cameraNode, o, node); });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive"), 0);
    EXPECT_EQ(RenderObj_GetQueueCount(), 1u);
    Draw([&] { RenderObj_FlushTransparent(); });
    EXPECT_EQ(MaterialOf(o)->colour[0], 200);
    EXPECT_EQ(MaterialOf(o)->colour[3], 255);
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, QueueHoldsTwelveHundredEightyAndFlushesFarthestFirst)
{
    RenderObj* o = MakeObject();
    Node* node = At(0, 0, 5);
    RenderObj_ResetTransparent();
    for (int i = 0; i < 1280; i++) EXPECT_EQ(RenderObj_QueueTransparent(&view, cameraNode, o, node), 0);
    EXPECT_EQ(RenderObj_QueueTransparent(&view, cameraNode, o, node), 1);
    EXPECT_EQ(RenderObj_GetQueueCount(), 1280u);
    RenderObj_ResetTransparent();

    RenderObj_SetFlags(o, RENDEROBJ_BLEND_ALPHA, 1);
    Node* a = At(0, 0, 5);
    Node* b = At(0, 0, 20);
    Node* c = At(1, 0, 10);
    const std::string text = Draw([&] {
        for (Node* n : {a, b, c}) RenderObj_Render(&view, cameraNode, o, n);
        RenderObj_FlushTransparent();
    });
    EXPECT_EQ(DrawnDepths(text), (std::vector<float>{20, 10, 5})) << text;
    EXPECT_EQ(RenderObj_GetQueueCount(), 0u);
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, DrawWalkSkipsHiddenSubtreesAndChildrenOfCulledVisuals)
{
    RenderObj* o = MakeObject();
    Node* root = Node_Create(nullptr);
    Node* shown = Node_Create(root);
    Node* hidden = Node_Create(root);
    Node* underHidden = Node_Create(hidden);
    Node* behind = Node_Create(root);
    Node* underBehind = Node_Create(behind);
    for (Node* n : {shown, hidden, underHidden, behind, underBehind}) Node_SetVisual(n, o);
    const Vec3 front = {0, 0, 10}, back = {0, 0, -10}, none = {0, 0, 0};
    Node_SetPosition(shown, &front);
    Node_SetPosition(hidden, &front);
    Node_SetPosition(underHidden, &none);
    Node_SetPosition(behind, &back);
    Node_SetPosition(underBehind, &none);  // at -10 too, but its parent is culled
    Node_SetFlags(hidden, NODE_HIDDEN, 1);
    std::string text = Draw([&] { Node_Render(&view, cameraNode, root); });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive"), 1);
    EXPECT_NE(hidden->flags & NODE_DIRTY, 0u);
    EXPECT_NE(underHidden->flags & NODE_DIRTY, 0u);
    EXPECT_NE(behind->flags & NODE_CULLED, 0u);
    EXPECT_EQ(Node_IsCulled(root), 1);
    EXPECT_NE(underBehind->flags & NODE_DIRTY, 0u);  // not reached
    // A node not to be drawn itself still lets its children be drawn.
    const Vec3 ahead = {0, 0, 12};
    Node_SetPosition(underBehind, &ahead);
    Node_SetParent(underBehind, shown);
    Node_SetFlags(shown, NODE_ZERO_SCALE, 1);
    text = Draw([&] { Node_Render(&view, cameraNode, root); });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive"), 1);
    EXPECT_EQ(shown->flags & NODE_CULLED, 0u);
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, RayTestHitsFrontFacesWhereTheNodePlacesTheObject)
{
    RenderObj* o = MakeObject();
    Geometry* g = Atomic_GetGeometry(o->atomic);
    ASSERT_NE(GeomCollision_BuildGeometryData(g), nullptr);
    Node* node = At(5, 0, 10);
    struct Hits {
        std::vector<Vec3> points, normals;
    } hits;
    auto record = [](RenderObj*, float, const Vec3* point, const Vec3* normal, void* data) {
        ((Hits*)data)->points.push_back(*point);
        ((Hits*)data)->normals.push_back(*normal);
        return 1;
    };
    // The grid faces -z: a line running along +z meets its front.
    const Vec3 from = {5.2f, 0.1f, 0}, to = {5.2f, 0.1f, 20};
    EXPECT_EQ(RenderObj_RayTest(o, node, &from, &to, record, &hits), 1u);
    ASSERT_EQ(hits.points.size(), 1u);
    EXPECT_NEAR(hits.points[0].z, 10.0f, 1e-4f);
    EXPECT_NEAR(hits.normals[0].z, -1.0f, 1e-4f);
    // From behind, or beside it: nothing.
    EXPECT_EQ(RenderObj_RayTest(o, node, &to, &from, nullptr, nullptr), 0u);
    const Vec3 beside = {0, 0, 0}, past = {0, 0, 20};
    EXPECT_EQ(RenderObj_RayTest(o, node, &beside, &past, nullptr, nullptr), 0u);
    EXPECT_EQ(Atomic_GetFrame(o->atomic), nullptr);  // back on no frame
    EXPECT_NE(RenderObj_GetRaySlot(), nullptr);
    RenderObj_Release(&o);
}

TEST_F(RenderObjTest, ProjectedPointsLandOnTheVirtualScreen)
{
    Node* centre = At(0, 0, 10);
    Vec3 screen;
    View_ProjectPoint(&view, cameraNode, centre, &screen, nullptr);
    EXPECT_NEAR(screen.x, 320.0f, 1e-3f);
    EXPECT_NEAR(screen.y, 240.0f, 1e-3f);
    EXPECT_NEAR(screen.z, 10.1f, 1e-4f);  // a zero depth offset counts as 0.1
    // Half the window to the right and up at depth 10: the right edge is at
    // x = 5 (window 0.5), the top at y = 3.75.
    const Vec3 offset = {5, 3.75f, 0.5f};
    Node* origin = At(0, 0, 9.5f);
    View_ProjectPoint(&view, cameraNode, origin, &screen, &offset);
    EXPECT_NEAR(screen.x, 640.0f, 1e-2f);
    EXPECT_NEAR(screen.y, 0.0f, 1e-2f);
    EXPECT_NEAR(screen.z, 10.0f, 1e-4f);
    // The view's own frame stands in for a missing camera node.
    View_ProjectPoint(&view, nullptr, centre, &screen, nullptr);
    EXPECT_NEAR(screen.x, 320.0f, 1e-3f);
}

}  // namespace
