#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/shell.h"
#include "content_fixture.h"
#include "drawing_fixture.h"
#include "engine/billboard.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "engine/sprite3d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "tests/gfx/world/world_shapes.h"

namespace {

using drawingtest::MatchGolden;
using drawingtest::Pixel;

// The content layer's set-up with the views' module over a 640 x 480
// window: the main camera, the world and the 2D toolkit come from View_Init.
class ViewTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        App_SetScreenSize(640, 480);
        ASSERT_EQ(View_Init(), 1);
        ASSERT_EQ(Sprite3d_Init(), 1);
        root = Node_Create(nullptr);
        eye = Node_Create(nullptr);
    }
    void TearDown() override
    {
        for (RenderObj*& o : objects) RenderObj_Release(&o);
        Sprite3d_Shutdown();
        View_Shutdown();
        Toolkit2D_Close();
        ContentTest::TearDown();
    }

    // A square of side `size` at (x, y, z) under the root, facing -z, in the
    // colour; blend flags as the mesh loader gives them (fog on).
    RenderObj* Square(float x, float y, float z, float size, uint8_t r, uint8_t g, uint8_t b,
                      uint32_t blend = RENDEROBJ_FOG)
    {
        Material* m = Material_Create();
        m->colour[0] = r, m->colour[1] = g, m->colour[2] = b, m->colour[3] = 255;
        Geometry* geometry = worldshapes::Grid(2, 2, size, 76, m);
        Material_Destroy(m);
        Atomic* atomic = Atomic_Create();
        Atomic_SetGeometry(atomic, geometry, 0);
        Geometry_Destroy(geometry);
        World_AddAtomic(View_GetWorld(), atomic);
        RenderObj* o = RenderObj_Create(atomic);
        o->blendFlags = blend;
        Node* n = Node_Create(root);
        const Vec3 p = {x, y, z};
        Node_SetPosition(n, &p);
        Node_SetVisual(n, o);
        objects.push_back(o);
        return o;
    }
    void Look(Node* node, Vec3 from, Vec3 at)
    {
        const Vec3 up = {0, 1, 0};
        Node_SetPosition(node, &from);
        Node_SetOrientation(node, &at, &up);
    }
    // One frame as the state stack brackets it: the main camera's update
    // around fn, then the present.
    void Frame(const std::function<void()>& fn)
    {
        View_SetMainUpdating(1);
        static const uint8_t kBlack[4] = {0, 0, 0, 255};
        Camera_Clear(View_GetMainCamera(), (void*)kBlack, 3);
        fn();
        View_SetMainUpdating(0);
    }
    Node* root = nullptr;
    Node* eye = nullptr;
    std::vector<RenderObj*> objects;
};

TEST_F(ViewTest, ViewsTakeTheirRectanglesOfTheWindow)
{
    View* lower = View_CreateFractional(0, 0.5f, 1, 0.5f, 0.1f, 100);
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(lower->colour->offsetX, 0);
    EXPECT_EQ(lower->colour->offsetY, 240);
    EXPECT_EQ(lower->colour->width, 640);
    EXPECT_EQ(lower->colour->height, 240);
    EXPECT_EQ(lower->depth->offsetY, 240);
    EXPECT_EQ(lower->width, 640);
    EXPECT_EQ(lower->height, 240);
    EXPECT_FLOAT_EQ(lower->aspect, 0.75f);
    EXPECT_FLOAT_EQ(lower->fov, 0.5f);
    EXPECT_EQ(lower->clearColour[1], 96);
    EXPECT_EQ(lower->fogColour, 0xFFFFFFFFu);
    EXPECT_EQ(View_Create(600, 0, 100, 10, 0.1f, 100), nullptr);
    EXPECT_EQ(View_Create(0, 0, 0, 10, 0.1f, 100), nullptr);
    EXPECT_EQ(List_Count(View_GetPool()), 1u);
    View_DestroyRef(&lower);
    EXPECT_EQ(lower, nullptr);
    EXPECT_EQ(List_Count(View_GetPool()), 0u);
}

TEST_F(ViewTest, TheFieldOfViewGivesTheCameraWindow)
{
    struct Case {
        float fy, fh, aspect;
    };
    for (const Case c : {Case{0, 1, 0.75f}, Case{0, 0.5f, 0.75f}, Case{0.5f, 0.5f, 0.5f}, Case{0, 1, -0.75f}}) {
        View* view = View_CreateFractional(0, c.fy, 1, c.fh, 0.1f, 100);
        view->aspect = c.aspect;
        View_SetFov(view, 0.8f);
        const float t = std::tan(0.8f);
        const Vec2 w = view->camera->viewWindow;
        EXPECT_FLOAT_EQ(w.y, 0.5f * t);
        // x / y = -(viewport width / height) x (window height / width) / aspect.
        const float ratio = -(640.0f / (480.0f * c.fh)) * (480.0f / 640.0f) / c.aspect;
        EXPECT_NEAR(w.x / w.y, ratio, 1e-5f) << c.fh << " " << c.aspect;
        if (c.aspect == 0.75f) {
            EXPECT_NEAR(w.x / w.y, -(float)view->width / view->height, 1e-5f);
        }
        EXPECT_EQ(view->fogChanged, 1);
        View_Destroy(view);
    }
    View* view = View_CreateFractional(0, 0, 1, 1, 0.1f, 100);
    View_SetAspect(view, 4, 2);
    EXPECT_FLOAT_EQ(view->aspect, 0.5f);
    View_Destroy(view);
}

// What a view's pre-render callback sees of the render states.
struct Seen {
    std::vector<uint32_t> fogColour, fogType, cull;
    std::vector<float> density;
};

void ReadStates(View*, Node*, void* arg)
{
    Seen* seen = (Seen*)arg;
    uint32_t colour = 0, type = 0, cull = 0, density = 0;
    RenderState_Get(15, &colour);
    RenderState_Get(16, &type);
    RenderState_Get(20, &cull);
    RenderState_Get(17, &density);
    float d;
    memcpy(&d, &density, 4);
    seen->fogColour.push_back(colour);
    seen->fogType.push_back(type);
    seen->cull.push_back(cull);
    seen->density.push_back(d);
}

TEST_F(ViewTest, EachViewDrawsWithItsOwnFogAndPutsTheCullingBack)
{
    View* top = View_CreateFractional(0, 0, 1, 0.5f, 0.1f, 100);
    View* bottom = View_CreateFractional(0, 0.5f, 1, 0.5f, 0.1f, 100);
    // The level gives alpha, blue, green, red: stored swapped, the device's
    // A8R8G8B8.
    View_SetFog(top, 1, 0xFF0000FFu, 20, 0.25f);
    View_SetFog(bottom, 2, 0xFF00FF00u, 30, 0.5f);
    bottom->aspect = -0.75f;
    View_UpdateFov(bottom);
    Seen seen;
    View_SetPreRenderCallback(top, ReadStates, &seen);
    View_SetPreRenderCallback(bottom, ReadStates, &seen);
    uint32_t cullAfter[2] = {0, 0};
    Frame([&] {
        RenderState_Set(20, (void*)2);
        for (int pass = 0; pass < 2; pass++) {
            View_Render(top, root, eye);
            RenderState_Get(20, &cullAfter[0]);
            View_Render(bottom, root, eye);
            RenderState_Get(20, &cullAfter[1]);
        }
    });
    ASSERT_EQ(seen.fogColour.size(), 4u);
    for (int pass = 0; pass < 2; pass++) {
        EXPECT_EQ(seen.fogColour[2 * pass], 0xFFFF0000u);
        EXPECT_EQ(seen.fogColour[2 * pass + 1], 0xFF00FF00u);
        EXPECT_EQ(seen.fogType[2 * pass], 1u);
        EXPECT_EQ(seen.fogType[2 * pass + 1], 2u);
        EXPECT_FLOAT_EQ(seen.density[2 * pass], 0.25f);
        EXPECT_FLOAT_EQ(seen.density[2 * pass + 1], 0.5f);
        EXPECT_EQ(seen.cull[2 * pass], 3u);      // a normal view culls counter-clockwise
        EXPECT_EQ(seen.cull[2 * pass + 1], 2u);  // a mirrored one clockwise
    }
    EXPECT_EQ(cullAfter[0], 2u);
    EXPECT_EQ(cullAfter[1], 2u);
    EXPECT_GT(bottom->camera->viewWindow.x, 0.0f);  // mirrored
    EXPECT_FLOAT_EQ(top->camera->fogPlane, 20.0f);
    EXPECT_EQ(top->fogChanged, 0);
}

void Mark(View*, Node*, void* arg) { D3D8Test_Log("%s", (const char*)arg); }

TEST_F(ViewTest, RenderingRunsPreRenderNodesTransparentPostRenderThenBillboards)
{
    View* view = View_CreateFractional(0, 0, 1, 1, 0.1f, 100);
    Look(eye, {0, 0, 0}, {0, 0, 1});
    Square(0, 0, 5, 1, 255, 0, 0);
    RenderObj* glass = Square(0, 0, 7, 1, 0, 0, 255, RENDEROBJ_BLEND_ALPHA);
    RenderObj_SetAlpha(glass, 0.5f);
    WriteImage("white.png", 255, 255, 255);
    Sprite3d* sprite = Sprite3d_LoadSprite("white.png", nullptr, 4, 0);
    ASSERT_NE(sprite, nullptr);
    const Vec3 at = {0, 0, 3};
    const uint8_t white[4] = {255, 255, 255, 255};
    const float size[2] = {0.5f, 0.5f};
    Billboard_AddFacing(sprite, &at, white, nullptr, size, 0);
    View_SetPreRenderCallback(view, Mark, (void*)"PRE");
    View_SetRenderCallback(view, Mark, (void*)"POST");
    std::string log;
    Frame([&] { log = Record([&] { View_Render(view, root, eye); }); });
    const size_t pre = log.find("PRE"), post = log.find("POST");
    const size_t opaque = log.find("SetTransform(256, [1 0 0 0 | 0 1 0 0 | 0 0 1 0 | 0 0 5 1])");
    const size_t transparent = log.find("SetTransform(256, [1 0 0 0 | 0 1 0 0 | 0 0 1 0 | 0 0 7 1])");
    const size_t billboard = log.find("SetTransform(256, [1 0 0 0 | 0 1 0 0 | 0 0 1 0 | 0 0 0 1])", post);
    ASSERT_NE(pre, std::string::npos) << log;
    ASSERT_NE(opaque, std::string::npos) << log;
    ASSERT_NE(transparent, std::string::npos) << log;
    ASSERT_NE(post, std::string::npos) << log;
    ASSERT_NE(billboard, std::string::npos) << log;
    EXPECT_LT(pre, opaque);
    EXPECT_LT(opaque, transparent);
    EXPECT_LT(transparent, post);
    EXPECT_LT(post, billboard);
    Sprite3d_Release(sprite);
}

TEST_F(ViewTest, PixelRaysRunFromTheNearToTheFarPlaneThroughThePixel)
{
    View* view = View_CreateFractional(0, 0.5f, 1, 0.5f, 0.5f, 50);
    Look(eye, {1, 2, 3}, {0, 0, 1});
    Vec3 start, end;
    const Vec2 centre = {320, 120}, corner = {0, 0};
    ASSERT_EQ(View_GetPixelRay(view, eye, &start, &end, &centre), 1);
    EXPECT_NEAR(start.x, 1.0f, 1e-4f);
    EXPECT_NEAR(start.y, 2.0f, 1e-4f);
    EXPECT_NEAR(start.z, 3.5f, 1e-4f);
    EXPECT_NEAR(end.z, 53.0f, 1e-3f);
    // The top-left pixel: to the left of and above the axis, at the window's
    // extent.
    ASSERT_EQ(View_GetPixelRay(view, nullptr, &start, &end, &corner), 1);
    const Vec2 window = view->camera->viewWindow;
    EXPECT_NEAR(end.x, 1.0f - 50.0f * std::fabs(window.x), 1e-2f);
    EXPECT_NEAR(end.y, 2.0f + 50.0f * window.y, 1e-2f);
}

TEST_F(ViewTest, TheMainCameraResumesAfterAViewAndPresents)
{
    View* view = View_CreateFractional(0, 0, 1, 1, 0.1f, 100);
    EXPECT_EQ(View_IsMainUpdating(), 0);
    View_SetMainUpdating(1);
    View_SetMainUpdating(1);  // no second begin
    EXPECT_EQ(View_IsMainUpdating(), 1);
    View_Render(view, root, eye);
    EXPECT_EQ(View_IsMainUpdating(), 1);
    View_SetMainUpdating(0);
    View_Render(view, root, eye);
    EXPECT_EQ(View_IsMainUpdating(), 0);
    const std::string log = Record([] { View_ShowRaster(); });
    EXPECT_NE(log.find("Present("), std::string::npos) << log;
    EXPECT_EQ(Toolkit2D_GetDeviceCamera(), View_GetMainCamera());
    EXPECT_GT(View_GetMainCamera()->viewWindow.x, 0.0f);
}

}  // namespace

namespace {

// A small world drawn into split-screen views over a back-dome view, with
// fog, billboards and a 2D overlay after the views.
class ViewPictureTest : public ViewTest {
protected:
    void SetUp() override
    {
        ViewTest::SetUp();
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, 640, 480), 1);
        ASSERT_EQ(Sprite_Init(), 1);
        ASSERT_EQ(Font_Init(), 1);
        dome = Node_Create(nullptr);
        // The dome: one far, unfogged square filling the back.
        Node* saved = root;
        root = dome;
        Square(0, 10, 90, 400, 40, 70, 140, 0);
        root = saved;
        // The floor, faced upwards, and pillars in a row going away.
        RenderObj* floor = Square(0, -1, 12, 30, 120, 120, 110);
        (void)floor;
        Node* floorNode = root->child;
        const Vec3 down = {0, -1, 0}, north = {0, 0, 1};
        Node_SetOrientation(floorNode, &down, &north);
        const uint8_t colours[5][3] = {{220, 60, 50}, {60, 200, 80}, {60, 90, 220}, {230, 200, 60}, {200, 80, 200}};
        for (int i = 0; i < 5; i++)
            Square((i % 2 ? 1.5f : -1.5f), 0, 4.0f + 4.0f * i, 2, colours[i][0], colours[i][1], colours[i][2]);
        WriteImage("glow.png", 255, 240, 160);
        glow = Sprite3d_LoadSprite("glow.png", nullptr, 4, 0);
        ASSERT_NE(glow, nullptr);
        domeEye = Node_Create(nullptr);
        Look(domeEye, {0, 0, 0}, {0, 0, 1});
    }
    void TearDown() override
    {
        Sprite3d_Release(glow);
        Font_Shutdown();
        Sprite_Shutdown();
        ViewTest::TearDown();
    }

    // Draws the dome into `back`, then every world view from its eye with
    // billboards on, then the overlay; returns nothing, the picture is in
    // the back buffer.
    void DrawAll(View* back, const std::vector<std::pair<View*, Node*>>& views)
    {
        Frame([&] {
            Billboard_SetActive(0);
            View_Clear(back, 1, 1);
            View_Render(back, dome, domeEye);
            Billboard_SetActive(1);
            for (const auto& v : views) {
                Billboard_ResetCounts();
                const Vec3 spot = {0, 1.5f, 10};
                const uint8_t white[4] = {255, 255, 255, 255};
                const float size[2] = {1.5f, 1.5f};
                Billboard_AddFacing(glow, &spot, white, nullptr, size, 0);
                View_Clear(v.first, 0, 1);
                View_Render(v.first, root, v.second);
            }
            Billboard_SetActive(0);
            // The overlay, after the views: neither culled nor fogged.
            const uint32_t red = 0xC0FF2020;
            Sprite* badge = Sprite_CreateBlank(&red, 60, 30);
            Sprite_DrawAt(badge, 290, 225, 0);
            Sprite_Release(badge);
            Font* font = Font_Load(nullptr, nullptr);
            Font_SetSize(font, 1.5f);
            Font_Printf(font, 8, 20, "VIEWS %d", (int)views.size());
            Font_Release(font);
        });
    }

    Node* dome = nullptr;
    Node* domeEye = nullptr;
    Sprite3d* glow = nullptr;
};

TEST_F(ViewPictureTest, GoldenTwoSplitScreenViewsWithFogOverABackDome)
{
    View* back = View_CreateFractional(0, 0, 1, 1, 1, 200);
    View* top = View_CreateFractional(0, 0, 1, 0.5f, 0.1f, 30);
    View* bottom = View_CreateFractional(0, 0.5f, 1, 0.5f, 0.1f, 30);
    View_SetFog(top, 1, 0xFF806040u, 4, 0);     // blue-grey haze (alpha, blue, green, red)
    View_SetFog(bottom, 1, 0xFF4080C0u, 4, 0);  // warm haze
    Node* a = Node_Create(nullptr);
    Node* b = Node_Create(nullptr);
    Look(a, {0, 1, -2}, {0, -0.1f, 1});
    Look(b, {-4, 2, 0}, {0.35f, -0.15f, 1});
    DrawAll(back, {{top, a}, {bottom, b}});
    EXPECT_EQ(MatchGolden("views_two"), "");
    // The overlay drawn after the views is not culled.
    const uint32_t badge = Pixel(305, 240);
    EXPECT_GT(badge >> 16 & 255, 150u);
    EXPECT_LT(badge >> 8 & 255, 80u);
}

TEST_F(ViewPictureTest, GoldenFourViewsOneOfThemMirrored)
{
    View* back = View_CreateFractional(0, 0, 1, 1, 1, 200);
    std::vector<std::pair<View*, Node*>> views;
    const Vec3 eyes[4][2] = {{{0, 1, -2}, {0, -0.1f, 1}},
                             {{3, 3, 0}, {-0.2f, -0.25f, 1}},
                             {{-3, 0.5f, 2}, {0.15f, 0, 1}},
                             {{0, 6, -4}, {0, -0.5f, 1}}};
    const uint32_t fogs[4] = {0xFF806040u, 0xFF4080C0u, 0xFF808080u, 0xFF2040A0u};
    for (int i = 0; i < 4; i++) {
        View* v = View_CreateFractional(0.5f * (float)(i % 2), 0.5f * (float)(i / 2), 0.5f, 0.5f, 0.1f, 30);
        View_SetFog(v, 1, fogs[i], 4, 0);
        if (i == 3) {
            v->aspect = -v->aspect;  // a rear-view mirror
            View_UpdateFov(v);
        }
        Node* e = Node_Create(nullptr);
        Look(e, eyes[i][0], eyes[i][1]);
        views.push_back({v, e});
    }
    DrawAll(back, views);
    EXPECT_EQ(MatchGolden("views_four"), "");
}

}  // namespace
