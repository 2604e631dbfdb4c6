#include "gfx/core/camera.h"

#include <cmath>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"

namespace {

struct CameraModule {
    FreeList* cameras;
    PluginRegistry registry;
};

CameraModule g_cameras = {nullptr, PLUGIN_REGISTRY_INIT(sizeof(Camera))};

inline Vec3 Add(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 Mul(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

void ComputeZScaleShift(Camera* c)
{
    const EngineDevice& device = g_engineInstance->device;
    float zN = device.zBufferNear, zF = device.zBufferFar;
    float d = (zF - zN) * 0.0001f;
    zN += d;
    zF -= d;
    float n, f;
    if (c->projection == CAMERA_PERSPECTIVE) {
        n = 1.0f / c->nearPlane;
        f = 1.0f / c->farPlane;
    } else {
        n = c->nearPlane;
        f = c->farPlane;
    }
    c->zScale = (zF - zN) / (f - n);
    c->zShift = (zF + zN - (n + f) * c->zScale) * 0.5f;
}

void Changed(Camera* c)
{
    if (Frame* f = Camera_GetFrame(c)) Frame_MarkDirty(f);
}

bool ClipsValid(uint32_t projection, float nearPlane, float farPlane)
{
    if (nearPlane == farPlane) return false;
    if (projection == CAMERA_PERSPECTIVE && (nearPlane <= 0.0f || farPlane <= 0.0f)) return false;
    return true;
}

void SetPlane(FrustumPlane* p, Vec3 normal, float distance)
{
    p->normal = normal;
    p->distance = distance;
}

// A side plane through three corners: the normal of edge1 x edge2
// normalised, then turned so that the frustum's centre lies inside. The
// orientation check keeps culling right whatever the handedness of the
// camera frame and the sign of the view window.
void SetSidePlane(FrustumPlane* p, const Vec3& edge1, const Vec3& edge2, const Vec3& through, const Vec3& centre)
{
    Vec3 n = Cross(edge1, edge2);
    n = Mul(n, Math_InvSqrtTable(Dot(n, n)));
    float d = Dot(n, through);
    if (Dot(n, centre) > d) {
        n = Mul(n, -1.0f);
        d = -d;
    }
    SetPlane(p, n, d);
}

Camera* DefaultBeginUpdate(Camera* camera)
{
    g_engineInstance->currentCamera = camera;
    Frame_SyncDirtyList();
    StandardFunction begin = g_engineInstance->standardFunctions[1];
    if (!begin || !begin(nullptr, camera, 0)) return nullptr;
    return camera;
}

Camera* DefaultEndUpdate(Camera* camera)
{
    StandardFunction end = g_engineInstance->standardFunctions[10];
    if (!end || !end(nullptr, camera, 0)) return nullptr;
    g_engineInstance->currentCamera = nullptr;
    return camera;
}

}  // namespace

Camera* Camera_Create(void)
{
    if (!g_cameras.cameras) {
        Error_Raise(ERR_BAD_ENGINE_STATE);
        return nullptr;
    }
    Camera* c = (Camera*)FreeList_Alloc(g_cameras.cameras);
    if (!c) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(c, 0, sizeof(Camera));
    c->object.header.type = FRAMEOBJECT_CAMERA;
    EngineLink_Init(&c->object.inFrame);
    c->object.sync = Camera_SyncFrustum;
    c->beginUpdate = DefaultBeginUpdate;
    c->endUpdate = DefaultEndUpdate;
    c->viewWindow = {1.0f, 1.0f};
    c->recipViewWindow = {1.0f, 1.0f};
    c->nearPlane = 0.05f;
    c->farPlane = 10.0f;
    c->fogPlane = 5.0f;
    c->projection = CAMERA_PERSPECTIVE;
    ComputeZScaleShift(c);
    c->viewMatrix.flags = 0;
    if (!PluginRegistry_RunConstructors(&g_cameras.registry, c)) {
        FreeList_Free(g_cameras.cameras, c);
        return nullptr;
    }
    return c;
}

int32_t Camera_Destroy(Camera* camera)
{
    PluginRegistry_RunDestructors(&g_cameras.registry, camera);
    if (Camera_GetFrame(camera)) FrameObject_SetFrame(&camera->object, nullptr);
    if (g_engineInstance->currentCamera == camera) g_engineInstance->currentCamera = nullptr;
    FreeList_Free(g_cameras.cameras, camera);
    return 1;
}

Camera* Camera_BeginUpdate(Camera* camera) { return camera->beginUpdate(camera); }
Camera* Camera_EndUpdate(Camera* camera) { return camera->endUpdate(camera); }

Camera* Camera_Clear(Camera* camera, void* colour, int32_t clearMode)
{
    StandardFunction clear = g_engineInstance->standardFunctions[21];
    return clear && clear(camera, colour, clearMode) > 0 ? camera : nullptr;
}

Camera* Camera_SetNearClipPlane(Camera* camera, float distance)
{
    if (!ClipsValid(camera->projection, distance, camera->farPlane)) return nullptr;
    camera->nearPlane = distance;
    ComputeZScaleShift(camera);
    Changed(camera);
    return camera;
}

Camera* Camera_SetFarClipPlane(Camera* camera, float distance)
{
    if (!ClipsValid(camera->projection, camera->nearPlane, distance)) return nullptr;
    camera->farPlane = distance;
    ComputeZScaleShift(camera);
    Changed(camera);
    return camera;
}

Camera* Camera_SetViewWindow(Camera* camera, const Vec2* window)
{
    if (window->x == 0.0f || window->y == 0.0f) return nullptr;
    camera->viewWindow = *window;
    camera->recipViewWindow = {1.0f / window->x, 1.0f / window->y};
    Changed(camera);
    return camera;
}

Camera* Camera_SetViewOffset(Camera* camera, const Vec2* offset)
{
    camera->viewOffset = *offset;
    Changed(camera);
    return camera;
}

Camera* Camera_SetProjection(Camera* camera, uint32_t projection)
{
    if (projection != CAMERA_PERSPECTIVE && projection != CAMERA_PARALLEL) return nullptr;
    if (!ClipsValid(projection, camera->nearPlane, camera->farPlane)) return nullptr;
    camera->projection = projection;
    ComputeZScaleShift(camera);
    Changed(camera);
    return camera;
}

Camera* Camera_SetFogDistance(Camera* camera, float distance)
{
    camera->fogPlane = distance;
    return camera;
}

Camera* Camera_SetRaster(Camera* camera, Raster* raster)
{
    camera->frameBuffer = raster;
    return camera;
}

Camera* Camera_SetZRaster(Camera* camera, Raster* raster)
{
    camera->zBuffer = raster;
    return camera;
}

FrameLinkedObject* Camera_SyncFrustum(FrameLinkedObject* object)
{
    Camera* c = (Camera*)object;
    Frame* frame = Camera_GetFrame(c);
    if (!frame) return object;
    const Matrix* m = &frame->world;
    const Vec3 R = m->right, U = m->up, A = m->at, P = m->pos;
    const float w = c->viewWindow.x, h = c->viewWindow.y;
    const float ox = c->viewOffset.x, oy = c->viewOffset.y;
    const bool perspective = c->projection == CAMERA_PERSPECTIVE;

    // View matrix: columns x and y of the screen mapping, column z = at.
    float a = -0.5f * c->recipViewWindow.x, b = -0.5f * c->recipViewWindow.y;
    float cx = perspective ? 0.5f - ox * a : -(ox * a);
    float cy = perspective ? 0.5f + oy * b : oy * b;
    Vec3 colX = Add(Mul(R, a), Mul(A, cx));
    Vec3 colY = Add(Mul(U, b), Mul(A, cy));
    Matrix& v = c->viewMatrix;
    v.right = {colX.x, colY.x, A.x};
    v.up = {colX.y, colY.y, A.y};
    v.at = {colX.z, colY.z, A.z};
    v.pos = {0.5f - (Dot(P, colX) + cx), 0.5f - (Dot(P, colY) + cy), -Dot(P, A)};
    Matrix_RecomputeFlags(&v, nullptr);

    Vec3* k = c->frustumCorners;
    if (perspective) {
        Vec3 o = Sub(Mul(U, oy), Mul(R, ox));
        Vec3 ci[4];
        ci[0] = Add(Add(A, Mul(R, w)), Mul(U, h));
        ci[1] = Sub(ci[0], Mul(R, 2.0f * w));
        ci[2] = Sub(ci[1], Mul(U, 2.0f * h));
        ci[3] = Add(ci[2], Mul(R, 2.0f * w));
        Vec3 po = Add(P, o);
        for (int i = 0; i < 4; i++) {
            Vec3 d = Sub(ci[i], o);
            k[i] = Add(po, Mul(d, c->nearPlane));
            k[4 + i] = Add(po, Mul(d, c->farPlane));
        }
    } else {
        const float sx[4] = {1, -1, -1, 1}, sy[4] = {1, 1, -1, -1};
        for (int i = 0; i < 8; i++) {
            float z = i < 4 ? c->nearPlane : c->farPlane;
            k[i] = {(1.0f - z) * -ox + sx[i & 3] * w, (1.0f - z) * oy + sy[i & 3] * h, z};
        }
        Vector3_TransformPointsPortable(k, k, 8, m);
    }

    Vec3 centre = {0, 0, 0};
    for (int i = 0; i < 8; i++) centre = Add(centre, k[i]);
    centre = Mul(centre, 0.125f);

    FrustumPlane* p = c->frustumPlanes;
    SetPlane(&p[FRUSTUM_FAR], A, Dot(A, k[4]));
    SetPlane(&p[FRUSTUM_NEAR], Mul(A, -1.0f), -Dot(A, k[0]));
    SetSidePlane(&p[FRUSTUM_LEFT], Sub(k[1], k[5]), Sub(k[6], k[5]), k[1], centre);
    SetSidePlane(&p[FRUSTUM_TOP], Sub(k[4], k[5]), Sub(k[1], k[5]), k[1], centre);
    SetSidePlane(&p[FRUSTUM_RIGHT], Sub(k[3], k[7]), Sub(k[4], k[7]), k[3], centre);
    SetSidePlane(&p[FRUSTUM_BOTTOM], Sub(k[6], k[7]), Sub(k[3], k[7]), k[3], centre);
    for (int i = 0; i < 6; i++) {
        p[i].closestX = !std::signbit(p[i].normal.x);
        p[i].closestY = !std::signbit(p[i].normal.y);
        p[i].closestZ = !std::signbit(p[i].normal.z);
        p[i].pad = 0;
    }
    BoundingBox_Calculate(&c->frustumBox, k, 8);
    return object;
}

int32_t Camera_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                              PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&g_cameras.registry, size, pluginId, constructor, destructor, copy);
}

PluginRegistry* Camera_GetRegistry(void) { return &g_cameras.registry; }

void* Camera_ModuleOpen(void* instance, int32_t, int32_t)
{
    g_cameras.cameras = FreeList_CreateEx(g_cameras.registry.size, 4, 16, 1, nullptr);
    return g_cameras.cameras ? instance : nullptr;
}

void* Camera_ModuleClose(void* instance, int32_t, int32_t)
{
    FreeList_Destroy(g_cameras.cameras);
    g_cameras.cameras = nullptr;
    return instance;
}
