#include "gfx/driver/d3d8/d3d8rasterdraw.h"

#include <cstring>
#include <tuple>

#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

uint32_t PixelAt(Raster *raster, int32_t x, int32_t y)
{
    const uint8_t *pixels = Raster_Lock(raster, 0, RASTERLOCKREAD);
    uint32_t v = 0;
    if (pixels) memcpy(&v, pixels + y * raster->stride + 4 * x, 4);
    Raster_Unlock(raster);
    return v;
}

TEST_F(D3D8RasterTest, RenderCopiesBetweenTexturesOfOneFormatAndRefusesOtherCombinations)
{
    Raster* source = Keep(Raster_Create(2, 2, 0, RASTERTYPETEXTURE | RASTERFORMAT888));
    D3D8_RasterSetContext(nullptr, source, 0);
    D3D8_RasterClear(nullptr, nullptr, (int32_t)0xff445566u);
    Raster* context = Keep(Raster_Create(8, 8, 0, RASTERTYPENORMAL | RASTERFORMAT888));
    D3D8_RasterSetContext(nullptr, context, 0);
    D3D8_RasterClear(nullptr, nullptr, 0);
    const RasterPoint point = {3, 4};
    ASSERT_EQ(D3D8_RasterRenderFast(source, (void *)&point, 0), 1);
    EXPECT_EQ(std::tuple(PixelAt(context, 4, 5), PixelAt(context, 5, 5)), std::tuple(0xff445566u, 0u));
    const RasterRect larger = {0, 0, 4, 4};
    EXPECT_EQ(D3D8_RasterRenderScaled(source, (void *)&larger, 0), 0);
    EXPECT_EQ(Error_TakeCode(), 2);
    Raster* other = Keep(Raster_Create(2, 2, 0, RASTERTYPETEXTURE | RASTERFORMAT565));
    EXPECT_EQ(D3D8_RasterRender(other, (void *)&point, 0), 0);
    Error_Get(nullptr);
    Raster* depth = Keep(Raster_Create(8, 8, 0, RASTERTYPEZBUFFER));
    Raster* camera = Keep(Raster_Create(64, 48, 0, RASTERTYPECAMERA));
    D3D8_RasterSetContext(nullptr, camera, 0);
    EXPECT_EQ(D3D8_RasterRender(depth, (void *)&point, 0), 0);
    EXPECT_EQ(Error_TakeCode(), 2);
    EXPECT_EQ(D3D8_RasterShow(camera, nullptr, 0), 1);
    D3D8_RasterSetContext(nullptr, nullptr, 0);
}

// Drawing through the device system itself: the 2D immediate mode, the
// render-state cache and the scene bracket.
class D3D8RasterDrawTest : public D3D8DriverTest {};

TEST_F(D3D8RasterDrawTest, QuadDrawsASourceIntoTheCameraAndRestoresTheStatesAndARetraceChangeResetsOnce)
{
    StartEngine();
    Raster *camera = Raster_Create(64, 48, 0, RASTERTYPECAMERA);
    Raster *source = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT888);
    ASSERT_TRUE(camera && source);
    D3D8_RasterSetContext(nullptr, source, 0);
    ASSERT_EQ(D3D8_RasterClear(nullptr, nullptr, (int32_t)0xff30a050u), 1);
    D3D8_RasterSetContext(nullptr, camera, 0);
    ASSERT_EQ(D3D8_RasterClear(nullptr, nullptr, 0), 1);
    uint32_t filter = 0;
    D3D8_EngineRenderStateGet(RS_TEXTUREFILTER, &filter);
    const RasterPoint point = {10, 8};
    ASSERT_EQ(D3D8_RasterRender(source, (void *)&point, 0), 1);
    uint32_t after = 0;
    D3D8_EngineRenderStateGet(RS_TEXTUREFILTER, &after);
    EXPECT_EQ(after, filter);
    EXPECT_EQ(D3D8_RasterShow(camera, nullptr, 0), 1);
    EXPECT_EQ(std::tuple(PixelAt(camera, 11, 9) & 0xffffff, PixelAt(camera, 30, 20) & 0xffffff),
              std::tuple(0x30a050u, 0u));
    // Showing with another retrace wait resets the device once.
    std::string log = Record([&] { EXPECT_EQ(D3D8_RasterShow(camera, nullptr, 1), 1); });
    EXPECT_EQ(Count(log, "Reset("), 1);
    ExpectInOrder(log, {"Reset(", "Present("});
    log = Record([&] { EXPECT_EQ(D3D8_RasterShow(camera, nullptr, 1), 1); });
    EXPECT_EQ(Count(log, "Reset(") * 10 + Count(log, "Present("), 1);
    D3D8_RasterSetContext(nullptr, nullptr, 0);
    Raster_Destroy(source);
    Raster_Destroy(camera);
}

}  // namespace
