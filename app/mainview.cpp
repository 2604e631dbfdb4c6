#include "app/mainview.h"

#include <cstdint>

#include "app/hooks.h"
#include "app/shell.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"

namespace {

struct OwnView {
    Camera* camera;
    bool updating;
};

OwnView g_view = {};

void DestroyOwn()
{
    Camera* camera = g_view.camera;
    if (!camera) return;
    Frame* frame = Camera_GetFrame(camera);
    Raster* colour = camera->frameBuffer;
    Raster* depth = camera->zBuffer;
    Camera_SetFrame(camera, nullptr);
    Camera_Destroy(camera);
    if (frame) Frame_Destroy(frame);
    if (colour) Raster_Destroy(colour);
    if (depth) Raster_Destroy(depth);
    g_view = OwnView{};
}

}  // namespace

int MainView_Init(void)
{
    const AppHooks* hooks = AppHooks_Get();
    if (hooks->viewInit) return hooks->viewInit();
    DestroyOwn();
    int32_t w = App_GetScreenWidth(), h = App_GetScreenHeight();
    Camera* camera = Camera_Create();
    Frame* frame = camera ? Frame_Create() : nullptr;
    Raster* colour = frame ? Raster_Create(w, h, 0, RASTERTYPECAMERA) : nullptr;
    Raster* depth = colour ? Raster_Create(w, h, 0, RASTERTYPEZBUFFER) : nullptr;
    if (!depth) {
        if (colour) Raster_Destroy(colour);
        if (frame) Frame_Destroy(frame);
        if (camera) Camera_Destroy(camera);
        return 0;
    }
    Camera_SetFrame(camera, frame);
    Camera_SetRaster(camera, colour);
    Camera_SetZRaster(camera, depth);
    g_view.camera = camera;
    return 1;
}

void MainView_Shutdown(void)
{
    const AppHooks* hooks = AppHooks_Get();
    if (hooks->viewShutdown) {
        hooks->viewShutdown();
        return;
    }
    DestroyOwn();
}

void MainView_SetUpdating(int begin)
{
    const AppHooks* hooks = AppHooks_Get();
    if (hooks->viewSetMainUpdating) {
        hooks->viewSetMainUpdating(begin);
        return;
    }
    if (!g_view.camera) return;
    if (begin && !g_view.updating) {
        static const uint8_t kBlack[4] = {0, 0, 0, 255};
        Camera_Clear(g_view.camera, (void*)kBlack, 3);
        g_view.updating = Camera_BeginUpdate(g_view.camera) != nullptr;
    } else if (!begin && g_view.updating) {
        Camera_EndUpdate(g_view.camera);
        g_view.updating = false;
    }
}

void MainView_Show(void)
{
    const AppHooks* hooks = AppHooks_Get();
    if (hooks->viewShowRaster) {
        hooks->viewShowRaster();
        return;
    }
    if (g_view.camera) Raster_Show(g_view.camera->frameBuffer, App_GetWindow(), 0);
}

Camera* MainView_GetCamera(void) { return g_view.camera; }
