// The Direct3D 8 driver's device system: the engine's device requests
// (open, close, start, stop, modes, sub-systems, texture limits), the video
// mode table, presentation parameters and depth-stencil choice, the driver's
// device record and its table of standard functions.
//
// The fields that the raster code shares (object, device, caps, depth
// format, back buffer, window) live in the seam record D3D8DeviceState
// (d3d8rasterseam.h); everything else the device system keeps in
// D3D8DeviceSystem. Both are module-level and zero while nothing is open.
#pragma once

#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "platform/direct3d/d3d8.h"

struct Camera;
struct Window;

// One entry of the video-mode table.
struct D3D8VideoMode {
    uint32_t width;
    uint32_t height;
    uint32_t refreshRate;  // Hz
    uint32_t format;       // Direct3D display format
    uint32_t flags;        // bit 0: full screen; clear for the windowed mode
};

enum : uint32_t { D3D8_MODE_FULLSCREEN = 1 };

// Size of the sub-system name buffer that request 14 fills (NUL included).
enum : int32_t { D3D8_SUBSYSTEM_NAME_SIZE = 80 };

struct D3D8DeviceSystem {
    int32_t adapterModeCount;
    D3D8VideoMode *modeTable;  // null until first needed; freed at stop and close
    int32_t modeCount;
    int32_t currentModeIndex;
    D3D8VideoMode currentMode;  // windowed: width and height follow the client area
    uint32_t currentModeDepth;  // bits per pixel of currentMode's format
    D3DPRESENT_PARAMETERS presentParams;
    uint32_t hasStencil;        // the depth format has stencil bits
    uint32_t started;
    uint32_t inScene;           // between BeginScene and the raster show's EndScene
    uint32_t copyToTexture;     // the current camera draws into the back buffer for a texture
    Camera *currentCamera;      // the camera whose update is open
    uint32_t stencilClearValue; // always 0
};

D3D8DeviceSystem *D3D8_System(void);
// The device while started, else null.
inline IDirect3DDevice8 *D3D8_GetDevice(void) { return D3D8_DeviceState()->device; }
inline Window *D3D8_GetWindow(void) { return (Window *)D3D8_DeviceState()->window; }
// The device capabilities of the chosen adapter.
inline const D3DCAPS8 *D3D8_GetCaps(void) { return &D3D8_DeviceState()->caps; }
inline int32_t D3D8_HasHardwareTnL(void) { return (D3D8_DeviceState()->caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0; }

// 1 when the processor has SSE; probed at open (request 0).
extern uint32_t D3D8_CpuHasSSE;
// Replaces the SSE probe used at open (null restores Cpu_HasSSE); for tests.
void D3D8_SetCpuProbe(int32_t (*probe)(void));

// The request handler of the device record.
int32_t D3D8_DeviceSystem(int32_t request, void *out, void *inOut, int32_t arg);
// The driver's static device record (lives for the whole program).
const EngineDevice *D3D8_GetDeviceRecord(void);
// Fills all count slots with a function returning 0, then (count >= 29) the
// driver's standard functions. Returns 1.
int32_t D3D8_GetStandardFunctions(StandardFunction *table, int32_t count);
// Makes this driver the engine's device (with the raster extension and the
// immediate-mode 3D module); call before Engine_Init.
void D3D8_InstallDriver(void);

// Device creation flags for the capabilities: software vertex processing
// (0x20), or hardware (0x40) with T&L, plus pure device (0x50) when offered.
uint32_t D3D8_VertexProcessingFlags(const D3DCAPS8 *caps);
// Depth and engine raster format of a display format (0 and 0 for others).
void D3D8_FormatDepthAndCode(uint32_t format, int32_t *depth, int32_t *rasterFormat);
// Builds (or rebuilds) the video-mode table; 0 when memory runs out (the
// old table is kept then).
int32_t D3D8_BuildVideoModeTable(void);
// Clears and fills presentParams for mode, chooses the depth-stencil format
// (depthFormat, zBufferDepth, hasStencil) against the desktop format.
void D3D8_SetPresentParameters(const D3D8VideoMode *mode, const D3DDISPLAYMODE *desktop);
