// Views: rectangles of the window with their cameras, fog and draw order,
// and the main camera around them.
#include <gtest/gtest.h>

#include <cmath>

#include "app/shell.h"
#include "content_fixture.h"
#include "engine/billboard.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "tests/gfx/world/world_shapes.h"

namespace {

// The content layer's set-up with the views' module over a 640 x 480
// window: the main camera, the world and the 2D toolkit come from View_Init.
class ViewTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        App_SetScreenSize(640, 480);
        ASSERT_TRUE(View_Init() && Sprite3d_Init());
        root = Node_Create(nullptr);
        eye = Node_Create(nullptr);
        WriteImage("white.png", 255, 255, 255);
    }
    void TearDown() override
    {
        for (RenderObj*& o : objects) RenderObj_Release(&o);
        Sprite3d_Shutdown();
        View_Shutdown();
        Toolkit2D_Close();
        ContentTest::TearDown();
    }
    // A square of side `size` at (x, y, z) under `parent`, facing -z, in the
    // colour (0xRRGGBB); blend flags as the mesh loader gives them (fog on).
    RenderObj* Square(Node* parent, Vec3 p, float size, uint32_t rgb, uint32_t blend = RENDEROBJ_FOG)
    {
        Material* m = Material_Create();
        m->colour[0] = (uint8_t)(rgb >> 16), m->colour[1] = (uint8_t)(rgb >> 8), m->colour[2] = (uint8_t)rgb;
        m->colour[3] = 255;
        Geometry* geometry = worldshapes::Grid(2, 2, size, 76, m);
        Material_Destroy(m);
        Atomic* atomic = Atomic_Create();
        Atomic_SetGeometry(atomic, geometry, 0);
        Geometry_Destroy(geometry);
        World_AddAtomic(View_GetWorld(), atomic);
        RenderObj* o = RenderObj_Create(atomic);
        o->blendFlags = blend;
        Node* n = Node_Create(parent);
        Node_SetPosition(n, &p);
        Node_SetVisual(n, o);
        objects.push_back(o);
        return o;
    }
    static void Look(Node* node, Vec3 from, Vec3 at)
    {
        const Vec3 up = {0, 1, 0};
        Node_SetPosition(node, &from);
        Node_SetOrientation(node, &at, &up);
    }
    // One frame as the state stack brackets it: the main camera's update
    // around fn.
    static void Frame(const std::function<void()>& fn)
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

TEST_F(ViewTest, ViewsTakeTheirRectanglesTheirWindowFromTheFieldOfViewAndCastPixelRays)
{
    View* lower = View_CreateFractional(0, 0.5f, 1, 0.5f, 0.5f, 50);
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(std::vector<int>({lower->colour->offsetX, lower->colour->offsetY, lower->colour->width,
                                lower->colour->height, lower->depth->offsetY, lower->width, lower->height}),
              std::vector<int>({0, 240, 640, 240, 240, 640, 240}));
    EXPECT_TRUE(Str({lower->aspect, lower->fov, (float)lower->clearColour[1]}) == "0.75 0.5 96" &&
                lower->fogColour == 0xFFFFFFFFu);
    EXPECT_TRUE(!View_Create(600, 0, 100, 10, 0.1f, 100) && !View_Create(0, 0, 0, 10, 0.1f, 100) &&
                List_Count(View_GetPool()) == 1);
    const float cases[][3] = {{0, 1, 0.75f}, {0, 0.5f, 0.75f}, {0.5f, 0.5f, 0.5f}, {0, 1, -0.75f}};
    for (const auto& [y, h, aspect] : cases) {
        View* view = View_CreateFractional(0, y, 1, h, 0.1f, 100);
        view->aspect = aspect;
        View_SetFov(view, 0.8f);
        const Vec2 w = view->camera->viewWindow;
        EXPECT_FLOAT_EQ(w.y, 0.5f * std::tan(0.8f));
        EXPECT_TRUE(std::fabs(w.x / w.y + (640.0f / (480.0f * h)) * (480.0f / 640.0f) / aspect) < 1e-5f &&
                    view->fogChanged == 1)
            << h << " " << aspect;
        View_Destroy(view);
    }
    View* view = View_CreateFractional(0, 0, 1, 1, 0.1f, 100);
    View_SetAspect(view, 4, 2);
    const float aspect = view->aspect;
    View_DestroyRef(&view);
    EXPECT_TRUE(aspect == 0.5f && !view);
    Look(eye, {1, 2, 3}, {0, 0, 1});
    Vec3 start, end;
    const Vec2 centre = {320, 120}, corner = {0, 0};
    EXPECT_TRUE(View_GetPixelRay(lower, eye, &start, &end, &centre) &&
                Dist(start, V(1, 2, 3.5f)) + Dist(end, V(1, 2, 53)) < 1e-3f);
    ASSERT_EQ(View_GetPixelRay(lower, nullptr, &start, &end, &corner), 1);
    const Vec2 window = lower->camera->viewWindow;
    EXPECT_LT(Dist(end, V(1.0f - 50.0f * std::fabs(window.x), 2.0f + 50.0f * window.y, end.z)), 1e-2f);
    int updating = View_IsMainUpdating();
    View_SetMainUpdating(1);
    View_SetMainUpdating(1);  // no second begin
    View_Render(lower, root, eye);
    updating = updating * 10 + View_IsMainUpdating();
    View_SetMainUpdating(0);
    View_Render(lower, root, eye);
    EXPECT_EQ(updating * 10 + View_IsMainUpdating(), 10);
    EXPECT_NE(Record([] { View_ShowRaster(); }).find("Present("), std::string::npos);
    EXPECT_TRUE(Toolkit2D_GetDeviceCamera() == View_GetMainCamera() && View_GetMainCamera()->viewWindow.x > 0.0f);
}

// What a view's callbacks see of the render states: fog colour, type,
// density and culling.
std::vector<std::string> g_states;
void ReadStates(View*, Node*, void* arg)
{
    static const int32_t states[4] = {15, 16, 17, 20};
    uint32_t v[4] = {};
    for (int i = 0; i < 4; i++) RenderState_Get(states[i], &v[i]);
    float density;
    memcpy(&density, &v[2], 4);
    char text[64];
    snprintf(text, sizeof text, "%s %08x %u %g %u", (const char*)arg, v[0], v[1], density, v[3]);
    g_states.push_back(text);
    D3D8Test_Log("%s", (const char*)arg);
}

TEST_F(ViewTest, EachViewDrawsWithItsOwnFogAndCullingInTheOrderOfItsPasses)
{
    View* top = View_CreateFractional(0, 0, 1, 0.5f, 0.1f, 100);
    View* bottom = View_CreateFractional(0, 0.5f, 1, 0.5f, 0.1f, 100);
    View_SetFog(top, 1, 0xFF0000FFu, 20, 0.25f);
    View_SetFog(bottom, 2, 0xFF00FF00u, 30, 0.5f);
    bottom->aspect = -0.75f;  // mirrored
    View_UpdateFov(bottom);
    View_SetPreRenderCallback(top, ReadStates, (void*)"PRE");
    View_SetRenderCallback(top, ReadStates, (void*)"POST");
    View_SetPreRenderCallback(bottom, ReadStates, (void*)"BOTTOM");
    Look(eye, {0, 0, 0}, {0, 0, 1});
    Square(root, {0, 0, 5}, 1, 0xFF0000);
    RenderObj_SetAlpha(Square(root, {0, 0, 7}, 1, 0x0000FF, RENDEROBJ_BLEND_ALPHA), 0.5f);
    Sprite3d* sprite = Sprite3d_LoadSprite("white.png", nullptr, 4, 0);
    const Vec3 at = {0, 0, 3};
    const uint8_t white[4] = {255, 255, 255, 255};
    const float size[2] = {0.5f, 0.5f};
    Billboard_AddFacing(sprite, &at, white, nullptr, size, 0);
    uint32_t cullAfter[2] = {0, 0};
    std::string log;
    Frame([&] {
        RenderState_Set(20, (void*)2);
        for (int pass = 0; pass < 2; pass++) {
            log = Record([&] { View_Render(top, root, eye); });
            RenderState_Get(20, &cullAfter[0]);
            View_Render(bottom, root, eye);
            RenderState_Get(20, &cullAfter[1]);
        }
    });
    EXPECT_EQ(g_states,
              (std::vector<std::string>{"PRE ffff0000 1 0.25 3", "POST ffff0000 1 0.25 3", "BOTTOM ff00ff00 2 0.5 2",
                                        "PRE ffff0000 1 0.25 3", "POST ffff0000 1 0.25 3", "BOTTOM ff00ff00 2 0.5 2"}));
    EXPECT_EQ(std::vector<uint32_t>(cullAfter, cullAfter + 2), (std::vector<uint32_t>{2, 2}));
    EXPECT_TRUE(bottom->camera->viewWindow.x > 0.0f && top->camera->fogPlane == 20.0f && !top->fogChanged);
    const size_t pre = log.find("PRE"), post = log.find("POST");
    const size_t opaque = log.find("SetTransform(256, [1 0 0 0 | 0 1 0 0 | 0 0 1 0 | 0 0 5 1])");
    const size_t transparent = log.find("SetTransform(256, [1 0 0 0 | 0 1 0 0 | 0 0 1 0 | 0 0 7 1])");
    const size_t billboard = log.find("SetTransform(256, [1 0 0 0 | 0 1 0 0 | 0 0 1 0 | 0 0 0 1])", post);
    EXPECT_TRUE(pre != std::string::npos && billboard != std::string::npos && pre < opaque && opaque < transparent &&
                transparent < post && post < billboard)
        << log;
    Sprite3d_Release(sprite);
}

}  // namespace
