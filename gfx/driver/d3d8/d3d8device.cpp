#include "gfx/driver/d3d8/d3d8device.h"

#include <cstring>

#include "gfx/core/cpu.h"
#include "gfx/core/engine.h"
#include "gfx/core/im3d.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8camera.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8im3d.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "platform/win32/window.h"

uint32_t D3D8_CpuHasSSE = 0;

namespace {

D3D8DeviceSystem sys = {};
int32_t (*sCpuProbe)(void) = nullptr;

const EngineDevice kDeviceRecord = {
    1.0f,
    D3D8_DeviceSystem,
    0.0f,
    1.0f,
    D3D8_EngineRenderStateSet,
    D3D8_EngineRenderStateGet,
    D3D8_Im2DRenderLine,
    D3D8_Im2DRenderTriangle,
    D3D8_Im2DRenderPrimitive,
    D3D8_Im2DRenderIndexedPrimitive,
    {nullptr, nullptr, nullptr, nullptr},
};

int32_t Callback_ReturnZero(void *, void *, int32_t) { return 0; }

int32_t FormatDepth(uint32_t format)
{
    int32_t depth = 0, code = 0;
    D3D8_FormatDepthAndCode(format, &depth, &code);
    return depth;
}

void ChooseDepthFormat(const D3DDISPLAYMODE *desktop, uint32_t backBufferFormat)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    st->depthFormat = D3DFMT_UNKNOWN;
    sys.hasStencil = 0;
    int32_t depth = FormatDepth(backBufferFormat);
    st->zBufferDepth = depth;
    if (depth == 0) return;
    auto passes = [&](uint32_t candidate) {
        return st->d3d->CheckDeviceFormat(st->adapter, D3DDEVTYPE_HAL, desktop->Format, D3DUSAGE_DEPTHSTENCIL,
                                          D3DRTYPE_SURFACE, candidate) >= 0 &&
               st->d3d->CheckDepthStencilMatch(st->adapter, D3DDEVTYPE_HAL, desktop->Format, backBufferFormat,
                                               candidate) >= 0;
    };
    if (depth == 32) {
        const uint32_t candidates[4] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32, D3DFMT_D24X8};
        const uint32_t stencil[4] = {1, 1, 0, 0};
        for (int i = 0; i < 4; i++) {
            if (passes(candidates[i])) {
                st->depthFormat = candidates[i];
                sys.hasStencil = stencil[i];
                return;
            }
        }
        st->zBufferDepth = 16;
    }
    if (passes(D3DFMT_D15S1)) {
        st->depthFormat = D3DFMT_D15S1;
        sys.hasStencil = 1;
    } else {
        st->depthFormat = D3DFMT_D16;
        sys.hasStencil = 0;
    }
}

void SetCurrentMode(const D3D8VideoMode *mode)
{
    sys.currentMode = *mode;
    sys.currentModeDepth = (uint32_t)FormatDepth(mode->format);
    D3D8DeviceState *st = D3D8_DeviceState();
    st->displayFormat = mode->format;
    st->displayDepth = (int32_t)sys.currentModeDepth;
    st->windowWidth = (int32_t)mode->width;
    st->windowHeight = (int32_t)mode->height;
}

int32_t ReadDesktopMode(uint32_t adapter)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    D3DDISPLAYMODE desktop = {};
    if (st->d3d->GetAdapterDisplayMode(adapter, &desktop) < 0) return 0;
    D3D8VideoMode mode = {desktop.Width, desktop.Height, desktop.RefreshRate, desktop.Format, 0};
    SetCurrentMode(&mode);
    return 1;
}

void FreeModeTable(void)
{
    if (sys.modeTable) Engine_Free(sys.modeTable);
    sys.modeTable = nullptr;
    sys.modeCount = 0;
}

int32_t Open(void *inOut)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    st->window = inOut ? *(void **)inOut : nullptr;
    st->d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!st->d3d) return 0;
    st->deviceType = D3DDEVTYPE_HAL;
    uint32_t count = st->d3d->GetAdapterCount();
    bool found = false;
    for (uint32_t a = 0; a < count && !found; a++) {
        if (st->d3d->GetDeviceCaps(a, D3DDEVTYPE_HAL, &st->caps) >= 0) {
            st->adapter = a;
            found = true;
        }
    }
    if (!found || !ReadDesktopMode(st->adapter)) {
        st->d3d->Release();
        st->d3d = nullptr;
        return 0;
    }
    sys.adapterModeCount = (int32_t)st->d3d->GetAdapterModeCount(st->adapter);
    sys.currentModeIndex = 0;
    D3D8_CpuHasSSE = (sCpuProbe ? sCpuProbe() : Cpu_HasSSE()) ? 1 : 0;
    return 1;
}

int32_t Close(void)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    FreeModeTable();
    if (st->d3d) st->d3d->Release();
    st->d3d = nullptr;
    return 1;
}

int32_t Start(void)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    if (!st->d3d || sys.started) return 0;
    D3DDISPLAYMODE desktop = {};
    if (st->d3d->GetAdapterDisplayMode(st->adapter, &desktop) < 0) return 0;
    D3D8_SetPresentParameters(&sys.currentMode, &desktop);
    st->d3d->GetDeviceCaps(st->adapter, D3DDEVTYPE_HAL, &st->caps);
    const uint32_t flags = D3D8_VertexProcessingFlags(&st->caps);
    IDirect3DDevice8 *device = nullptr;
    if (st->d3d->CreateDevice(st->adapter, D3DDEVTYPE_HAL, st->window, flags, &sys.presentParams, &device) < 0) {
        sys.started = 0;
        return 0;
    }
    st->device = device;
    WindowRect client;
    if (st->window && Window_GetClientRect((Window *)st->window, &client)) {
        sys.currentMode.width = (uint32_t)(client.right - client.left);
        sys.currentMode.height = (uint32_t)(client.bottom - client.top);
        st->windowWidth = (int32_t)sys.currentMode.width;
        st->windowHeight = (int32_t)sys.currentMode.height;
    }
    D3D8_FetchDeviceSurfaces();
    D3D8_CacheOpen();
    if (!D3D8_RasterListOpen()) {
        device->Release();
        st->device = nullptr;
        return 0;
    }
    // Neither of these is fatal: Im2D and streamed geometry then grow
    // rotating buffers on demand.
    D3D8_Im2DOpen();
    D3D8_RenderStateOpen();
    D3D8_CreateRotatingVertexBuffers();
    sys.inScene = 0;
    sys.copyToTexture = 0;
    sys.currentCamera = nullptr;
    sys.started = 1;
    return 1;
}

int32_t Stop(void)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    sys.started = 0;
    FreeModeTable();
    Math_FpuRestore();
    if (D3D8_CpuHasSSE) Cpu_SetFlushToZero(0);
    IDirect3DDevice8 *device = st->device;
    if (device) {
        for (uint32_t stage = 0; stage < 8; stage++) device->SetTexture(stage, nullptr);
        device->SetStreamSource(0, nullptr, 0);
        device->SetIndices(nullptr, 0);
    }
    D3D8_RasterListClose();
    D3D8_Im2DClose();
    D3D8_Im3DClose();  // normally closed by its module already; a restore may have made it again
    D3D8_CacheClose();
    if (device) device->Release();
    st->device = nullptr;
    st->backBuffer = nullptr;
    st->depthSurface = nullptr;
    sys.inScene = 0;
    sys.currentCamera = nullptr;
    return 1;
}

int32_t FillModeInfo(VideoModeInfo *info, int32_t index)
{
    if (!sys.modeTable && !D3D8_BuildVideoModeTable()) return 0;
    if (!info || index < 0 || index >= sys.modeCount) return 0;
    const D3D8VideoMode &m = sys.modeTable[index];
    info->width = (int32_t)m.width;
    info->height = (int32_t)m.height;
    D3D8_FormatDepthAndCode(m.format, &info->depth, &info->format);
    info->flags = m.flags;
    info->refreshRate = (int32_t)m.refreshRate;
    return 1;
}

int32_t UseMode(int32_t index)
{
    if (sys.started) return 0;
    // Built on demand, so that choosing a mode does not depend on an earlier
    // mode query having built the table.
    if (!sys.modeTable && !D3D8_BuildVideoModeTable()) return 0;
    if (index < 0 || index >= sys.modeCount) return 0;
    sys.currentModeIndex = index;
    SetCurrentMode(&sys.modeTable[index]);
    return 1;
}

int32_t Focus(int32_t gained)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    if (!st->device) return 0;
    if (sys.presentParams.Windowed) return 1;
    Window_Show((Window *)st->window, gained ? 1 : 0);
    return 1;
}

int32_t SubSystemInfo(char *out, int32_t adapter)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    if (!out || !st->d3d || adapter < 0 || (uint32_t)adapter >= st->d3d->GetAdapterCount()) return 0;
    D3DADAPTER_IDENTIFIER8 id = {};
    if (st->d3d->GetAdapterIdentifier((uint32_t)adapter, 0, &id) < 0) return 0;
    size_t n = strnlen(id.Description, sizeof(id.Description));
    if (n > D3D8_SUBSYSTEM_NAME_SIZE - 1) n = D3D8_SUBSYSTEM_NAME_SIZE - 1;
    memcpy(out, id.Description, n);
    out[n] = '\0';
    return 1;
}

int32_t SelectSubSystem(int32_t adapter)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    if (!st->d3d || sys.started || adapter < 0 || (uint32_t)adapter >= st->d3d->GetAdapterCount()) return 0;
    if (!ReadDesktopMode((uint32_t)adapter)) return 0;
    st->adapter = (uint32_t)adapter;
    st->d3d->GetDeviceCaps(st->adapter, D3DDEVTYPE_HAL, &st->caps);
    sys.adapterModeCount = (int32_t)st->d3d->GetAdapterModeCount(st->adapter);
    return D3D8_BuildVideoModeTable();
}

}  // namespace

D3D8DeviceSystem *D3D8_System(void) { return &sys; }

void D3D8_SetCpuProbe(int32_t (*probe)(void)) { sCpuProbe = probe; }

uint32_t D3D8_VertexProcessingFlags(const D3DCAPS8 *caps)
{
    if (!(caps->DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)) return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    // A pure device only together with hardware T&L.
    uint32_t flags = D3DCREATE_HARDWARE_VERTEXPROCESSING;
    if (caps->DevCaps & D3DDEVCAPS_PUREDEVICE) flags |= D3DCREATE_PUREDEVICE;
    return flags;
}

void D3D8_FormatDepthAndCode(uint32_t format, int32_t *depth, int32_t *rasterFormat)
{
    int32_t d = 0, code = 0;
    switch (format) {
    case D3DFMT_A8R8G8B8: d = 32; code = 0x500; break;
    case D3DFMT_X8R8G8B8: d = 32; code = 0x600; break;
    case D3DFMT_R5G6B5: d = 16; code = 0x200; break;
    case D3DFMT_X1R5G5B5: d = 16; code = 0xA00; break;
    case D3DFMT_A1R5G5B5: d = 16; code = 0x100; break;
    default: break;
    }
    if (depth) *depth = d;
    if (rasterFormat) *rasterFormat = code;
}

int32_t D3D8_BuildVideoModeTable(void)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    if (!st->d3d) return 0;
    int32_t capacity = sys.adapterModeCount + 1;
    D3D8VideoMode *table = (D3D8VideoMode *)Engine_Malloc((size_t)capacity * sizeof(D3D8VideoMode));
    if (!table) return 0;
    int32_t count = 0;
    D3DDISPLAYMODE desktop = {};
    if (st->d3d->GetAdapterDisplayMode(st->adapter, &desktop) >= 0 && FormatDepth(desktop.Format) != 0 &&
        (st->caps.Caps2 & D3DCAPS2_CANRENDERWINDOWED)) {
        table[0] = D3D8VideoMode{desktop.Width, desktop.Height, desktop.RefreshRate, desktop.Format, 0};
        count = 1;
    }
    // Full-screen modes are compared from the first full-screen entry: with
    // no windowed entry that is position 0, which must be deduplicated too.
    const int32_t firstFullScreen = count;
    for (int32_t i = 0; i < sys.adapterModeCount; i++) {
        D3DDISPLAYMODE m = {};
        if (st->d3d->EnumAdapterModes(st->adapter, (uint32_t)i, &m) < 0) continue;
        bool merged = false;
        for (int32_t j = firstFullScreen; j < count && !merged; j++) {
            D3D8VideoMode &e = table[j];
            if (e.width == m.Width && e.height == m.Height && e.format == m.Format) {
                if (m.RefreshRate > e.refreshRate) e.refreshRate = m.RefreshRate;
                merged = true;
            }
        }
        if (!merged) table[count++] = D3D8VideoMode{m.Width, m.Height, m.RefreshRate, m.Format, D3D8_MODE_FULLSCREEN};
    }
    FreeModeTable();
    sys.modeTable = table;
    sys.modeCount = count;
    return 1;
}

void D3D8_SetPresentParameters(const D3D8VideoMode *mode, const D3DDISPLAYMODE *desktop)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    D3DPRESENT_PARAMETERS &pp = sys.presentParams;
    memset(&pp, 0, sizeof(pp));
    if (!(mode->flags & D3D8_MODE_FULLSCREEN)) {
        pp.Windowed = 1;
        pp.BackBufferFormat = desktop->Format;
        pp.BackBufferCount = 1;
        WindowRect outer;
        if (st->window && Window_GetWindowRect((Window *)st->window, &outer)) {
            if (outer.right - outer.left == 0) pp.BackBufferWidth = 1;
            if (outer.bottom - outer.top == 0) pp.BackBufferHeight = 1;
        }
        pp.SwapEffect = D3DSWAPEFFECT_COPY;
    } else {
        pp.Windowed = 0;
        pp.BackBufferFormat = mode->format;
        pp.BackBufferCount = 1;
        pp.FullScreen_RefreshRateInHz = mode->refreshRate;
        pp.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        pp.BackBufferWidth = mode->width;
        pp.BackBufferHeight = mode->height;
        pp.SwapEffect = D3DSWAPEFFECT_FLIP;
    }
    pp.hDeviceWindow = st->window;
    pp.EnableAutoDepthStencil = 1;
    pp.MultiSampleType = 0;
    pp.Flags = 0;
    ChooseDepthFormat(desktop, pp.BackBufferFormat);
    pp.AutoDepthStencilFormat = st->depthFormat;
}

int32_t D3D8_GetStandardFunctions(StandardFunction *table, int32_t count)
{
    if (!table) return 0;
    for (int32_t i = 0; i < count; i++) table[i] = Callback_ReturnZero;
    if (count < ENGINE_NUM_STANDARD_FUNCTIONS) return 1;
    D3D8_FillRasterStandardFunctions(table);
    table[1] = D3D8_CameraBeginUpdate;
    table[10] = D3D8_CameraEndUpdate;
    table[21] = D3D8_CameraClear;
    table[0] = Callback_ReturnZero;
    table[22] = Callback_ReturnZero;
    return 1;
}

const EngineDevice *D3D8_GetDeviceRecord(void) { return &kDeviceRecord; }

void D3D8_InstallDriver(void)
{
    EngineDriver driver = {&kDeviceRecord, D3D8_RasterPluginAttach};
    Engine_SetDriver(&driver);
    Im3D_InstallModule(D3D8_Im3DDriver());
}

int32_t D3D8_DeviceSystem(int32_t request, void *out, void *inOut, int32_t arg)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    switch (request) {
    case REQ_OPEN: return Open(inOut);
    case REQ_CLOSE: return Close();
    case REQ_START: return Start();
    case REQ_STOP: return Stop();
    case REQ_GET_DEVICE:
        if (!out) return 0;
        *(EngineDevice *)out = kDeviceRecord;
        return 1;
    case REQ_NUM_MODES:
        if (!out || (!sys.modeTable && !D3D8_BuildVideoModeTable())) return 0;
        *(int32_t *)out = sys.modeCount;
        return 1;
    case REQ_MODE_INFO: return FillModeInfo((VideoModeInfo *)out, arg);
    case REQ_USE_MODE: return UseMode(arg);
    case REQ_FOCUS: return Focus(arg);
    case REQ_CURRENT_MODE:
        if (!out) return 0;
        *(int32_t *)out = sys.currentModeIndex;
        return 1;
    case REQ_STANDARD_FUNCTIONS: return D3D8_GetStandardFunctions((StandardFunction *)out, arg);
    case REQ_NUM_SUBSYSTEMS:
        if (!out || !st->d3d) return 0;
        *(int32_t *)out = (int32_t)st->d3d->GetAdapterCount();
        return 1;
    case REQ_SUBSYSTEM_INFO: return SubSystemInfo((char *)out, arg);
    case REQ_CURRENT_SUBSYSTEM:
        if (!out) return 0;
        *(int32_t *)out = (int32_t)st->adapter;
        return 1;
    case REQ_SELECT_SUBSYSTEM: return SelectSubSystem(arg);
    case REQ_START_FINISHED:
        Math_FpuSetSinglePrecision();
        if (D3D8_CpuHasSSE) Cpu_SetFlushToZero(1);
        return 1;
    case REQ_MAX_TEXTURE_SIZE: {
        if (!out) return 0;
        uint32_t w = st->caps.MaxTextureWidth, h = st->caps.MaxTextureHeight;
        *(int32_t *)out = (int32_t)(w > h ? w : h);
        return 1;
    }
    default: return 0;
    }
}
