#include "engine/view.h"

#include <cmath>
#include <cstring>

#include "app/shell.h"
#include "common/assert.h"
#include "common/list.h"
#include "engine/billboard.h"
#include "engine/node.h"
#include "engine/renderobj.h"
#include "engine/scenelight.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/toolkit/pickray/pickray.h"
#include "gfx/world/world.h"
#include "gfx/world/worldties.h"

namespace {

struct ViewModule {
    World* world;
    List* pool;
    Raster* mainColour;  // window-sized; views draw into rectangles of it
    Raster* mainDepth;
    Camera* mainCamera;  // presented each frame; the 2D toolkit's device camera
    Frame* mainFrame;
    int mainUpdating;
    int ownWorld;  // the world is View_Init's, destroyed at shut-down
    int32_t videoMode;
};

ViewModule g_view;

constexpr float VIRTUAL_WIDTH = 640.0f;
constexpr float VIRTUAL_HEIGHT = 480.0f;
constexpr float MIN_DEPTH = 1e-6f;

}  // namespace

World* View_GetWorld(void) { return g_view.world; }

void View_SetWorld(World* world) { g_view.world = world; }

void View_ProjectPoint(const View* view, Node* cameraNode, Node* node, Vec3* out, const Vec3* offset)
{
    Vec3 local = offset ? *offset : Vec3{0, 0, 0};
    if (local.z == 0.0f) local.z = 0.1f;
    Mat4 world;
    Node_GetWorldMatrix(node, &world);
    Vec3 point;
    Mat4_TransformPoint(&point, &local, &world);

    Mat4 eye;
    if (cameraNode) {
        Node_GetWorldMatrix(cameraNode, &eye);
    } else {
        const Matrix* m = Frame_GetWorldMatrix(view->frame);
        const Vec3* rows[4] = {&m->right, &m->up, &m->at, &m->pos};
        Mat4_Identity(&eye);
        for (int r = 0; r < 4; r++) eye.m[r][0] = rows[r]->x, eye.m[r][1] = rows[r]->y, eye.m[r][2] = rows[r]->z;
    }
    Mat4 inverse;
    Mat4_InvertAffine(&inverse, &eye);
    Vec3 v;
    Mat4_TransformPoint(&v, &point, &inverse);

    const Camera* camera = view->camera;
    const float depth = std::fabs(v.z) < MIN_DEPTH ? (v.z < 0 ? -MIN_DEPTH : MIN_DEPTH) : v.z;
    // The camera's own screen mapping: x grows along -right / window.x (so a
    // normal view with a negative window x puts +right on the right), y
    // grows downwards; the view offset shifts the centre.
    const float a = -0.5f * camera->recipViewWindow.x, b = -0.5f * camera->recipViewWindow.y;
    out->x = VIRTUAL_WIDTH * (0.5f + a * (v.x / depth - camera->viewOffset.x));
    out->y = VIRTUAL_HEIGHT * (0.5f + b * (v.y / depth + camera->viewOffset.y));
    out->z = v.z;
}

namespace {

constexpr float kWorldExtent = 200.0f;

void SetState(int32_t state, uint32_t value) { RenderState_Set(state, (void*)(uintptr_t)value); }

uint32_t SwapRedBlue(uint32_t colour)
{
    return (colour & 0xFF00FF00u) | (colour & 0xFFu) << 16 | (colour >> 16 & 0xFFu);
}

// A window on the parent raster's rectangle; null when it can't be made.
Raster* SubRaster(Raster* parent, uint32_t type, const RasterRect& rect)
{
    Raster* sub = Raster_Create(0, 0, 0, type | RASTERDONTALLOCATE);
    if (sub && Raster_SubRaster(sub, parent, &rect) != sub) {
        Raster_Destroy(sub);
        return nullptr;
    }
    return sub;
}

void DestroyCamera(Camera* camera, Frame* frame)
{
    if (camera) {
        Camera_SetFrame(camera, nullptr);
        Camera_Destroy(camera);
    }
    if (frame) Frame_Destroy(frame);
}

void DestroyMain(void)
{
    ViewModule& m = g_view;
    if (Toolkit2D_GetDeviceCamera() == m.mainCamera && m.mainCamera) Toolkit2D_SetDeviceCamera(nullptr);
    if (m.mainUpdating && m.mainCamera) Camera_EndUpdate(m.mainCamera);
    m.mainUpdating = 0;
    DestroyCamera(m.mainCamera, m.mainFrame);
    m.mainCamera = nullptr;
    m.mainFrame = nullptr;
    if (m.mainColour) Raster_Destroy(m.mainColour);
    if (m.mainDepth) Raster_Destroy(m.mainDepth);
    m.mainColour = m.mainDepth = nullptr;
}

// The view's frame takes the camera node's world matrix. A camera node
// without a parent has no walk that brings its world matrix up to date: as
// for the root of a draw walk, it is its local one.
void PlaceFrame(View* view, Node* cameraNode)
{
    if (!cameraNode->parent && (cameraNode->flags & NODE_DIRTY)) {
        cameraNode->world = cameraNode->local;
        cameraNode->flags &= ~NODE_DIRTY;
    }
    Node_GetWorldFrameMatrix(cameraNode, &view->frame->modelling);
    Frame_MarkDirty(view->frame);
}

int DestroyOne(void* item, void*)
{
    View_Destroy((View*)item);
    return 0;
}

}  // namespace

int View_Init(void)
{
    ViewModule& m = g_view;
    View_Shutdown();
    const int32_t w = App_GetScreenWidth(), h = App_GetScreenHeight();
    m.pool = List_Create(sizeof(View));
    m.mainColour = w > 0 && h > 0 ? Raster_Create(w, h, 0, RASTERTYPECAMERA) : nullptr;
    m.mainDepth = m.mainColour ? Raster_Create(w, h, 0, RASTERTYPEZBUFFER) : nullptr;
    m.mainCamera = m.mainDepth ? Camera_Create() : nullptr;
    m.mainFrame = m.mainCamera ? Frame_Create() : nullptr;
    const WorldBox box = {{-kWorldExtent, -kWorldExtent, -kWorldExtent}, {kWorldExtent, kWorldExtent, kWorldExtent}};
    World* world = m.mainFrame ? World_Create(&box) : nullptr;
    if (!m.pool || !world) {
        View_Shutdown();
        return 0;
    }
    Camera_SetFrame(m.mainCamera, m.mainFrame);
    Camera_SetRaster(m.mainCamera, m.mainColour);
    Camera_SetZRaster(m.mainCamera, m.mainDepth);
    // Positive x, as the 2D toolkit maps its user space.
    const Vec2 window = {1.0f, (float)h / (float)w};
    Camera_SetViewWindow(m.mainCamera, &window);
    if (!Toolkit2D_IsOpen()) Toolkit2D_Open(m.mainCamera);
    Toolkit2D_SetDeviceCamera(m.mainCamera);
    m.world = world;
    m.ownWorld = 1;
    return 1;
}

void View_Shutdown(void)
{
    ViewModule& m = g_view;
    if (m.pool) List_ForEach(m.pool, DestroyOne, nullptr);
    List_Destroy(m.pool);
    m.pool = nullptr;
    DestroyMain();
    if (m.ownWorld && m.world) World_Destroy(m.world);
    if (m.ownWorld) m.world = nullptr;
    m.ownWorld = 0;
}

List* View_GetPool(void) { return g_view.pool; }

View* View_Create(int32_t x, int32_t y, int32_t width, int32_t height, float nearClip, float farClip)
{
    ViewModule& m = g_view;
    if (!m.pool || !m.mainColour || width <= 0 || height <= 0 || x < 0 || y < 0 || x + width > m.mainColour->width ||
        y + height > m.mainColour->height)
        return nullptr;
    View* view = (View*)List_Alloc(m.pool);
    if (!view) return nullptr;
    view->camera = Camera_Create();
    view->frame = view->camera ? Frame_Create() : nullptr;
    const RasterRect rect = {x, y, width, height};
    view->colour = view->frame ? SubRaster(m.mainColour, RASTERTYPECAMERA, rect) : nullptr;
    view->depth = view->colour ? SubRaster(m.mainDepth, RASTERTYPEZBUFFER, rect) : nullptr;
    if (!view->depth) {
        View_Destroy(view);
        return nullptr;
    }
    if (Frame* root = App_GetRootFrame()) Frame_AddChild(root, view->frame);
    Camera_SetFrame(view->camera, view->frame);
    Camera_SetRaster(view->camera, view->colour);
    Camera_SetZRaster(view->camera, view->depth);
    Camera_SetNearClipPlane(view->camera, nearClip);
    Camera_SetFarClipPlane(view->camera, farClip);
    view->nearClip = nearClip;
    view->farClip = farClip;
    view->width = (uint16_t)width;
    view->height = (uint16_t)height;
    view->aspect = VIEW_DEFAULT_ASPECT;
    view->fov = VIEW_DEFAULT_FOV;
    static const uint8_t kClear[4] = {0, 96, 144, 255};
    memcpy(view->clearColour, kClear, 4);
    if (m.world) World_AddCamera(m.world, view->camera);
    View_UpdateFov(view);
    View_SetFog(view, 1, 0xFFFFFFFFu, 5.0f, 0.0f);
    return view;
}

View* View_CreateFractional(float x, float y, float width, float height, float nearClip, float farClip)
{
    const float w = (float)App_GetScreenWidth(), h = (float)App_GetScreenHeight();
    return View_Create((int32_t)(x * w), (int32_t)(y * h), (int32_t)(width * w), (int32_t)(height * h), nearClip,
                       farClip);
}

void View_Destroy(View* view)
{
    if (!view) return;
    if (view->camera && g_view.world) World_RemoveCamera(g_view.world, view->camera);
    if (view->camera) {
        Camera_SetRaster(view->camera, nullptr);
        Camera_SetZRaster(view->camera, nullptr);
    }
    if (view->colour) Raster_Destroy(view->colour);
    if (view->depth) Raster_Destroy(view->depth);
    DestroyCamera(view->camera, view->frame);
    List_Free(g_view.pool, view);
}

void View_DestroyRef(View** view)
{
    if (!view) return;
    View_Destroy(*view);
    *view = nullptr;
}

void View_SetFov(View* view, float radians)
{
    view->fov = radians;
    View_UpdateFov(view);
}

float View_GetFov(const View* view) { return view->fov; }

void View_SetAspect(View* view, float width, float height) { view->aspect = height / width; }

void View_UpdateFov(View* view)
{
    const float w = (float)App_GetScreenWidth(), h = (float)App_GetScreenHeight();
    const float t = std::tan(view->fov);
    const Vec2 window = {(float)view->width / (float)view->height * t / view->aspect * (h / w) * -0.5f, t * 0.5f};
    Camera_SetViewWindow(view->camera, &window);
    view->fogChanged = 1;
}

void View_SetFog(View* view, uint32_t type, uint32_t colour, float distance, float density)
{
    Camera_SetFogDistance(view->camera, distance);
    view->fogType = type;
    view->fogColour = SwapRedBlue(colour);
    view->fogDensity = density;
    view->fogChanged = 1;
}

void View_SetRenderCallback(View* view, ViewCallback function, void* arg)
{
    view->postRender = function;
    view->postRenderArg = function ? arg : nullptr;
}

void View_SetPreRenderCallback(View* view, ViewCallback function, void* arg)
{
    view->preRender = function;
    view->preRenderArg = function ? arg : nullptr;
}

void View_Clear(View* view, int image, int depth)
{
    const int32_t mode = (image ? 1 : 0) | (depth ? 2 : 0);
    if (mode) Camera_Clear(view->camera, view->clearColour, mode);
}

void View_Render(View* view, Node* root, Node* cameraNode)
{
    HELM_ASSERT(view && cameraNode);
    ViewModule& m = g_view;
    const int resume = m.mainUpdating;
    View_SetMainUpdating(0);
    SceneLight_UpdateAll();

    PlaceFrame(view, cameraNode);
    if (!Camera_BeginUpdate(view->camera)) {
        View_SetMainUpdating(resume);
        return;
    }
    RenderObj_SetViewFrustum(view);
    RenderObj_SetReferenceNode(cameraNode);

    // Sent at every render: the render-state cache drops repeats, and each
    // view draws with its own fog.
    SetState(16, view->fogType);
    SetState(15, view->fogColour);
    RenderState_Set(17, &view->fogDensity);
    view->fogChanged = 0;

    uint32_t cull = 2;
    RenderState_Get(20, &cull);
    SetState(20, view->aspect > 0.0f ? 3 : 2);
    SetState(9, 6);
    SetState(5, 0);  // refused by the engine (perspective correction is always on)

    RenderObj_ResetTransparent();
    if (view->preRender) view->preRender(view, cameraNode, view->preRenderArg);
    Node_Render(view, cameraNode, root);
    RenderObj_FlushTransparent();
    if (view->postRender) view->postRender(view, cameraNode, view->postRenderArg);
    Mat4 eye;
    Node_GetWorldMatrix(cameraNode, &eye);
    Billboard_Draw(&eye);

    SetState(20, cull);
    Camera_EndUpdate(view->camera);
    View_SetMainUpdating(resume);
}

int View_GetPixelRay(View* view, Node* cameraNode, Vec3* start, Vec3* end, const Vec2* pixel)
{
    if (cameraNode) {
        PlaceFrame(view, cameraNode);
        Frame_GetWorldMatrix(view->frame);
        Camera_SyncFrustum(&view->camera->object);
    }
    Line line;
    if (!Camera_CalcPixelRay(view->camera, &line, pixel)) return 0;
    *start = line.start;
    *end = line.end;
    return 1;
}

void View_SetMainUpdating(int on)
{
    ViewModule& m = g_view;
    if (!m.mainCamera || (on != 0) == (m.mainUpdating != 0)) return;
    if (on) m.mainUpdating = Camera_BeginUpdate(m.mainCamera) != nullptr;
    else {
        Camera_EndUpdate(m.mainCamera);
        m.mainUpdating = 0;
    }
}

int View_IsMainUpdating(void) { return g_view.mainUpdating; }

void View_ShowRaster(void)
{
    if (g_view.mainColour) Raster_Show(g_view.mainColour, App_GetWindow(), 0);
}

Camera* View_GetMainCamera(void) { return g_view.mainCamera; }

void View_StoreVideoMode(void) { g_view.videoMode = Engine_GetCurrentVideoMode(); }

int32_t View_GetStoredVideoMode(void) { return g_view.videoMode; }
