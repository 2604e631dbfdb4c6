// Cameras: frame-linked views with a view window, clip distances, frustum
// planes and the rasters that receive the picture.
//
// Whenever its frame is synchronised the camera derives its view matrix, its
// eight frustum corners, six outward frustum planes and their bounding box.
// A point p is inside the frustum when normal . p <= distance for all six.
#pragma once
#include <cstdint>

#include "gfx/core/frame.h"
#include "gfx/core/plugin.h"
#include "gfx/core/vector.h"

struct Raster;
struct Camera;

enum CameraProjection : uint32_t {
    CAMERA_PERSPECTIVE = 1,
    CAMERA_PARALLEL = 2,
};

enum CameraPlane {
    FRUSTUM_FAR = 0,
    FRUSTUM_NEAR = 1,
    FRUSTUM_LEFT = 2,
    FRUSTUM_TOP = 3,
    FRUSTUM_RIGHT = 4,
    FRUSTUM_BOTTOM = 5,
};

struct FrustumPlane {
    Vec3 normal;  // points out of the frustum
    float distance;
    // 1 when the normal's component has its sign bit clear (0.0 counts as
    // positive); box tests use them to pick corners.
    uint8_t closestX, closestY, closestZ, pad;
};

typedef Camera* (*CameraUpdateFn)(Camera* camera);

struct Camera {
    FrameLinkedObject object;  // type 4; sync = Camera_SyncFrustum
    uint32_t projection;       // CameraProjection
    CameraUpdateFn beginUpdate;
    CameraUpdateFn endUpdate;
    Matrix viewMatrix;         // world to [0, 1] screen coordinates (homogeneous)
    Raster* frameBuffer;
    Raster* zBuffer;
    Vec2 viewWindow;           // half-extents at unit distance; x may be negative
    Vec2 recipViewWindow;
    Vec2 viewOffset;
    float nearPlane;
    float farPlane;
    float fogPlane;
    float zScale;              // maps 1/z (perspective) or z (parallel) to device Z
    float zShift;
    FrustumPlane frustumPlanes[6];  // CameraPlane order
    BoundingBox frustumBox;
    Vec3 frustumCorners[8];    // near 0-3, far 4-7
};

// A camera with near 0.05, far 10, fog 5, a 1 x 1 window, no offset, no
// rasters, perspective; null when memory runs out or a plugin refuses.
Camera* Camera_Create(void);
// Runs the plugin destructors, leaves the frame and frees the camera.
int32_t Camera_Destroy(Camera* camera);

// Make the camera current, synchronise dirty frames and let the device begin
// (standard function 1); null when the device refuses (the camera stays current).
Camera* Camera_BeginUpdate(Camera* camera);
// Let the device end (standard function 10) and clear the current camera;
// null when the device refuses.
Camera* Camera_EndUpdate(Camera* camera);
// Standard function 21 (camera, colour, clearMode); camera when it returned > 0.
Camera* Camera_Clear(Camera* camera, void* colour, int32_t clearMode);

// Setters return the camera, or null (nothing changed) for values that would
// divide by zero: near or far <= 0 for a perspective camera, near == far, a
// zero window extent, an unknown projection.
Camera* Camera_SetNearClipPlane(Camera* camera, float distance);
Camera* Camera_SetFarClipPlane(Camera* camera, float distance);
Camera* Camera_SetViewWindow(Camera* camera, const Vec2* window);
Camera* Camera_SetViewOffset(Camera* camera, const Vec2* offset);
Camera* Camera_SetProjection(Camera* camera, uint32_t projection);
Camera* Camera_SetFogDistance(Camera* camera, float distance);
Camera* Camera_SetRaster(Camera* camera, Raster* raster);
Camera* Camera_SetZRaster(Camera* camera, Raster* raster);
inline Frame* Camera_GetFrame(const Camera* camera) { return FrameObject_GetFrame(&camera->object); }
inline void Camera_SetFrame(Camera* camera, Frame* frame) { FrameObject_SetFrame(&camera->object, frame); }

// Recomputes view matrix, corners, planes and box from the frame's world
// matrix (the frame's sync callback); does nothing without a frame.
FrameLinkedObject* Camera_SyncFrustum(FrameLinkedObject* object);

int32_t Camera_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                              PluginDestructor destructor, PluginCopy copy);
PluginRegistry* Camera_GetRegistry(void);

void* Camera_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Camera_ModuleClose(void* instance, int32_t offset, int32_t size);
