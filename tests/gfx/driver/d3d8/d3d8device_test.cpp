#include "gfx/driver/d3d8/d3d8device.h"

#include <array>
#include <cstring>
#include <string>
#include <tuple>

#include "gfx/core/cpu.h"
#include "gfx/core/renderstate.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

using DeviceSystemTest = D3D8DriverTest;

int32_t NoSSE(void) { return 0; }
int32_t WithSSE(void) { return 1; }

TEST_F(DeviceSystemTest, ModeTableHasWindowedEntryThenOneEntryPerSizeAndFormat)
{
    OpenEngine();
    int32_t count = Engine_GetNumVideoModes();
    ASSERT_GT(count, 1);
    VideoModeInfo info = {};
    ASSERT_NE(Engine_GetVideoModeInfo(&info, 0), nullptr);
    EXPECT_EQ(std::tuple(info.flags, info.depth, info.format), std::tuple(0u, 32, 0x600));  // windowed entry
    for (int32_t i = 1; i < count; i++) {
        ASSERT_NE(Engine_GetVideoModeInfo(&info, i), nullptr);
        EXPECT_EQ(info.flags, 1u);
        for (int32_t j = 1; j < i; j++) {
            VideoModeInfo other = {};
            Engine_GetVideoModeInfo(&other, j);
            EXPECT_FALSE(other.width == info.width && other.height == info.height && other.format == info.format);
        }
    }
    EXPECT_EQ(Engine_GetVideoModeInfo(&info, count), nullptr);
    EXPECT_EQ(Engine_GetVideoModeInfo(&info, -1), nullptr);
}

TEST_F(DeviceSystemTest, ModeTableKeepsTheHighestRefreshAndDeduplicatesWithoutWindowedEntry)
{
    // The adapter offers 640x480 at 60 and 85, 800x600 at 60, 640x480 at 75,
    // on a device that cannot render into a window.
    const D3DDISPLAYMODE offered[] = {{640, 480, 60, D3DFMT_X8R8G8B8},
                                      {640, 480, 85, D3DFMT_X8R8G8B8},
                                      {800, 600, 60, D3DFMT_X8R8G8B8},
                                      {640, 480, 75, D3DFMT_X8R8G8B8}};
    answers.modeCount = 4;
    memcpy(answers.modes, offered, sizeof(offered));
    OpenEngine();
    D3D8DeviceSystem *sys = D3D8_System();
    D3D8DeviceState *st = D3D8_DeviceState();
    st->caps.Caps2 &= ~D3DCAPS2_CANRENDERWINDOWED;
    sys->adapterModeCount = (int32_t)st->d3d->GetAdapterModeCount(0);
    ASSERT_EQ(D3D8_BuildVideoModeTable(), 1);
    ASSERT_EQ(sys->modeCount, 2);
    const D3D8VideoMode expected[2] = {{640, 480, 85, D3DFMT_X8R8G8B8, D3D8_MODE_FULLSCREEN},
                                       {800, 600, 60, D3DFMT_X8R8G8B8, D3D8_MODE_FULLSCREEN}};
    for (int32_t i = 0; i < 2; i++) {
        const D3D8VideoMode &m = sys->modeTable[i], &e = expected[i];
        EXPECT_EQ(std::tie(m.width, m.height, m.refreshRate, m.flags),
                  std::tie(e.width, e.height, e.refreshRate, e.flags));
    }
}

TEST_F(DeviceSystemTest, VideoModeInfoMapsDisplayFormats)
{
    int32_t depth = -1, code = -1;
    const struct {
        uint32_t format;
        int32_t depth, code;
    } table[] = {{21, 32, 0x500}, {22, 32, 0x600}, {23, 16, 0x200}, {24, 16, 0xA00}, {25, 16, 0x100}, {26, 0, 0}};
    for (const auto &row : table) {
        D3D8_FormatDepthAndCode(row.format, &depth, &code);
        EXPECT_EQ(std::tie(depth, code), std::tie(row.depth, row.code)) << row.format;
    }
}

TEST_F(DeviceSystemTest, UseModeBuildsTheTableOnDemandAFailedDeviceFailsTheStartAndModesAreRefusedWhileStarted)
{
    OpenEngine();
    ASSERT_EQ(D3D8_System()->modeTable, nullptr);
    EXPECT_EQ(Engine_SetVideoMode(1), 1);  // no mode query before it
    EXPECT_EQ(Engine_GetCurrentVideoMode(), 1);
    EXPECT_EQ(Engine_SetVideoMode(10000), 0);
    D3D8Test_InjectFault(D3D8_FAULT_CREATEDEVICE, 0, 1, D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(Engine_Start(), 0);
    EXPECT_EQ(std::tuple(D3D8_System()->started, D3D8_GetDevice()), std::tuple(0u, nullptr));
    StartEngine();  // the next attempt works
    EXPECT_EQ(Engine_SetVideoMode(0), 0);
    EXPECT_EQ(Engine_GetCurrentVideoMode(), 1);
}

TEST_F(DeviceSystemTest, WindowedParametersCopyTheDesktopAndTheDepthFormatFallsBackToSixteenBitZ)
{
    OpenEngine();
    D3D8Answers &offer = D3D8_DeviceState()->d3d->answers;
    const D3DPRESENT_PARAMETERS& pp = D3D8_System()->presentParams;
    const uint32_t X8 = D3DFMT_X8R8G8B8, R5 = D3DFMT_R5G6B5;
    const struct {
        uint32_t display;
        int count;
        uint32_t offered[5];
        bool anyTarget;
        uint32_t format, stencil;
        int32_t zDepth;
    } rows[] = {
        {X8, 5, {D3DFMT_D24X8, D3DFMT_D32, D3DFMT_D15S1, D3DFMT_D24X4S4, D3DFMT_D24S8}, true, D3DFMT_D24S8, 1, 32},
        {X8, 3, {D3DFMT_D24X8, D3DFMT_D32, D3DFMT_D24X4S4}, false, D3DFMT_D24X4S4, 1, 32},
        {X8, 2, {D3DFMT_D24X8, D3DFMT_D32}, false, D3DFMT_D32, 0, 32},
        {X8, 1, {D3DFMT_D24X8}, false, D3DFMT_D24X8, 0, 32},
        // No 32-bit Z: 16-bit Z, with stencil where D15S1 matches the target,
        {X8, 2, {D3DFMT_D15S1, D3DFMT_D16}, true, D3DFMT_D15S1, 1, 16},
        // else D16 unchecked.
        {X8, 1, {D3DFMT_D15S1}, false, D3DFMT_D16, 0, 16},
        {X8, 0, {}, false, D3DFMT_D16, 0, 16},
        {R5, 3, {D3DFMT_D24S8, D3DFMT_D16, D3DFMT_D15S1}, false, D3DFMT_D15S1, 1, 16},
        {R5, 1, {D3DFMT_D24S8}, false, D3DFMT_D16, 0, 16},
    };
    for (const auto &r : rows) {
        const int row = (int)(&r - rows);
        offer.displayFormat = r.display;
        offer.depthFormatCount = r.count;
        memcpy(offer.depthFormats, r.offered, sizeof r.offered);
        offer.depthMatchesAnyTarget = r.anyTarget;
        const D3DDISPLAYMODE desktop = {640, 480, 60, r.display};
        const D3D8VideoMode windowed = {640, 480, 60, r.display, 0};
        D3D8_SetPresentParameters(&windowed, &desktop);
        EXPECT_EQ(std::tie(D3D8_DeviceState()->depthFormat, pp.AutoDepthStencilFormat, D3D8_System()->hasStencil,
                           D3D8_DeviceState()->zBufferDepth),
                  std::tie(r.format, r.format, r.stencil, r.zDepth))
            << row;
        // Windowed: copy swaps into a back buffer of the window's size in the desktop's format.
        EXPECT_EQ(std::tie(pp.Windowed, pp.SwapEffect, pp.BackBufferWidth, pp.BackBufferHeight, pp.BackBufferFormat,
                           pp.EnableAutoDepthStencil, pp.hDeviceWindow),
                  std::make_tuple(1, D3DSWAPEFFECT_COPY, 0u, 0u, r.display, 1, (void*)window))
            << row;
    }
    Window_UserMinimise(window, 1);  // no outer area: a back buffer of 1 x 1
    const D3DDISPLAYMODE desktop = {640, 480, 60, X8};
    const D3D8VideoMode windowed = {640, 480, 60, X8, 0};
    D3D8_SetPresentParameters(&windowed, &desktop);
    EXPECT_EQ(pp.BackBufferWidth * pp.BackBufferHeight, 1u);
}

TEST_F(DeviceSystemTest, AStencilDepthFormatIsClearedAndMasksDrawingThroughTheEngineStates)
{
    const uint32_t offered[2] = {D3DFMT_D24X8, D3DFMT_D24S8};
    answers.depthFormatCount = 2;
    memcpy(answers.depthFormats, offered, sizeof offered);
    StartEngine(0);
    D3DSURFACE_DESC desc = {};
    D3D8_DeviceState()->depthSurface->GetDesc(&desc);
    ASSERT_EQ(desc.Format, (uint32_t)D3DFMT_D24S8);
    Camera *camera = MakeCamera();
    const uint8_t black[4] = {0, 0, 0, 255};
    std::string log = Record([&] { ASSERT_NE(Camera_Clear(camera, (void *)black, 3), nullptr); });
    EXPECT_NE(log.find("Clear(0, 0x7,"), std::string::npos) << log;  // the stencil with Z
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    struct V {
        float x, y, z, rhw;
        uint32_t colour;
        float u, v;
    };
    // A red triangle marks the stencil with 1; a green quad over everything
    // then draws only where the stencil equals 1.
    const int32_t marking[][2] = {{20, 1}, {21, 1}, {25, 8}, {24, 3}, {26, 1}};  // no culling, then stencil
    for (const auto &s : marking) ASSERT_EQ(RenderState_Set(s[0], (void *)(uintptr_t)s[1]), 1);
    V triangle[3] = {{10, 10, 0.5f, 1, 0xFFFF0000u, 0, 0}, {50, 10, 0.5f, 1, 0xFFFF0000u, 0, 0},
                     {10, 50, 0.5f, 1, 0xFFFF0000u, 0, 0}};
    ASSERT_EQ(D3D8_Im2DRenderPrimitive(3, triangle, 3), 1);
    const int32_t masked[][2] = {{25, 3}, {24, 1}};
    for (const auto &s : masked) ASSERT_EQ(RenderState_Set(s[0], (void *)(uintptr_t)s[1]), 1);
    V quad[4] = {{0, 0, 0.5f, 1, 0xFF00FF00u, 0, 0}, {640, 0, 0.5f, 1, 0xFF00FF00u, 0, 0},
                 {0, 480, 0.5f, 1, 0xFF00FF00u, 0, 0}, {640, 480, 0.5f, 1, 0xFF00FF00u, 0, 0}};
    ASSERT_EQ(D3D8_Im2DRenderPrimitive(4, quad, 4), 1);
    EXPECT_EQ(BackBufferPixel(20, 20), 0x00FF00u);
    EXPECT_EQ(BackBufferPixel(45, 45), 0u);
    EXPECT_EQ(BackBufferPixel(320, 240), 0u);
    RenderState_Set(21, (void *)0);
    Camera_EndUpdate(camera);
    EndFrame();
    DestroyCamera(camera);
}

TEST_F(DeviceSystemTest, VertexProcessingFollowsTheCapsAndHardwareKeepsFourRotatingBuffers)
{
    // Software: one rotating buffer. Hardware: four, pooled in the default
    // pool. A pure device only together with hardware vertex processing.
    const struct {
        bool hardware, pure;
        const char* created;
    } kinds[] = {{false, true, "CreateDevice(0, 1, 0x20) = 0x0"},
                 {true, false, "CreateDevice(0, 1, 0x40) = 0x0"},
                 {true, true, "CreateDevice(0, 1, 0x50) = 0x0"}};
    for (const auto& k : kinds) {
        answers.hardwareTnL = k.hardware;
        answers.pureDevice = k.pure;
        OpenEngine();
        std::string log = Record([&] { StartEngine(0); });
        EXPECT_NE(log.find(k.created), std::string::npos) << log;
        EXPECT_EQ(std::tuple(D3D8_GetRotatingBuffer(0)->capacity, D3D8_GetRotatingBuffer(3)->capacity),
                  std::tuple(0x40000u, k.hardware ? 0x40000u : 0u));
        EXPECT_TRUE(!k.hardware || log.find("CreateVertexBuffer(262144, 0x208, 0x0, 0)") != std::string::npos) << log;
        TearDown();
    }
}

TEST_F(DeviceSystemTest, FocusHidesAndRestoresOnlyFullScreen)
{
    StartEngine(0);
    for (const auto& step : {std::array{1, 0, 1}, std::array{0, 0, 0}, std::array{0, 1, 1}}) {
        D3D8_System()->presentParams.Windowed = step[0];  // windowed, focus, then visible
        EXPECT_EQ(Engine_Focus(step[1]), 1);
        EXPECT_EQ(Window_IsVisible(window), step[2]);
    }
    D3D8_System()->presentParams.Windowed = 1;
}

}  // namespace

TEST_F(DeviceSystemTest, FlushToZeroIsSetAfterStartAndClearedAtStopOnlyWithSSE)
{
    const int32_t saved = Cpu_GetFlushToZero();
    for (bool sse : {true, false}) {
        Cpu_SetFlushToZero(0);
        D3D8_SetCpuProbe(sse ? WithSSE : NoSSE);
        StartEngine(0);
        EXPECT_EQ(Cpu_GetFlushToZero(), sse ? 1 : 0);
        if (!sse) Cpu_SetFlushToZero(1);
        StopEngine();
        EXPECT_EQ(Cpu_GetFlushToZero(), sse ? 0 : 1);  // without SSE the register is left alone
        TearDown();
    }
    Cpu_SetFlushToZero(saved);
}

TEST_F(DeviceSystemTest, SubSystemNamesAreCutToTheEnginesNameSizeSelectionChecksTheIndexAndRequestsAnswerLimits)
{
    const std::string longName = "Adapter " + std::string(100, 'n') + " end";
    answers.description = longName.c_str();
    OpenEngine();
    char name[D3D8_SUBSYSTEM_NAME_SIZE + 64];
    memset(name, 'x', sizeof(name));
    ASSERT_NE(Engine_GetSubSystemInfo(name, 0), nullptr);
    EXPECT_EQ(std::string(name), longName.substr(0, D3D8_SUBSYSTEM_NAME_SIZE - 1));
    EXPECT_EQ(name[D3D8_SUBSYSTEM_NAME_SIZE], 'x');  // nothing written past the engine's 80 bytes
    // Selecting one checks the index and rebuilds the mode table.
    EXPECT_EQ(Engine_SetSubSystem(1), 0);
    EXPECT_EQ(Engine_SetSubSystem(-1), 0);
    ASSERT_EQ(Engine_SetSubSystem(0), 1);
    EXPECT_NE(D3D8_System()->modeTable, nullptr);
    StartEngine(0);
    EXPECT_EQ(std::tuple(Engine_GetCurrentSubSystem(), Engine_GetNumSubSystems(), Engine_GetSubSystemInfo(name, 1)),
              std::tuple(0, 1, nullptr));
    EXPECT_EQ(Engine_GetMaxTextureSize(), (int32_t)answers.maxTextureSize);
    D3D8_DeviceState()->caps.MaxTextureWidth = 2048;  // the larger side
    D3D8_DeviceState()->caps.MaxTextureHeight = 1024;
    EXPECT_EQ(Engine_GetMaxTextureSize(), 2048);
    StandardFunction table[ENGINE_NUM_STANDARD_FUNCTIONS] = {};
    ASSERT_EQ(D3D8_GetStandardFunctions(table, ENGINE_NUM_STANDARD_FUNCTIONS), 1);
    EXPECT_EQ(table[0](nullptr, nullptr, 0) + table[22](nullptr, nullptr, 0), 0);
    EXPECT_NE(table[1], table[0]);
}
