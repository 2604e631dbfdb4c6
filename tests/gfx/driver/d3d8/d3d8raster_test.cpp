#include "gfx/driver/d3d8/d3d8raster.h"

#include <cstring>
#include <tuple>

#include "common/bytes.h"
#include "gfx/driver/d3d8/d3d8pixel.h"
#include "gfx/driver/d3d8/d3d8rasterformat.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

TEST_F(D3D8RasterTest, AutomaticMipLevelsRegenerateOnlyAfterWritingLevelZero)
{
    Raster* raster =
        Keep(Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT888 | RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP));
    ASSERT_NE(raster, nullptr);
    EXPECT_TRUE(Format(raster) & RASTERFORMATAUTOMIPMAP);
    // Level 0 written regenerates level 3; level 1 written regenerates nothing below it.
    for (const uint32_t written : {0u, 1u}) {
        uint8_t* pixels = Raster_Lock(raster, written, RASTERLOCKWRITE);
        ASSERT_NE(pixels, nullptr);
        for (int32_t i = 0; i < raster->width * raster->height; i++)
            Bytes_StoreU32(pixels + i / raster->width * raster->stride + 4 * (i % raster->width),
                           written ? 0 : 0xff204060u);
        Raster_Unlock(raster);
        EXPECT_EQ(Bytes_LoadU32(Raster_Lock(raster, 3 - written, RASTERLOCKREAD)), 0xff204060u) << written;
        Raster_Unlock(raster);
    }
}

TEST_F(D3D8RasterTest, PaletteNumbersStartAtZeroReuseFreedOnesReachTheDeviceAndCodesAPaletteCannotHoldFailSilently)
{
    answers.palettes = true;
    OpenDevice();
    const uint32_t word = RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888;
    Raster *a = Raster_Create(4, 4, 0, word), *b = Keep(Raster_Create(4, 4, 0, word));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::tuple(a->depth, D3D8_RasterExt(a)->palette->number, D3D8_RasterExt(b)->palette->number),
              std::tuple(8, 0u, 1u));
    Raster_Destroy(a);
    Raster* c = Keep(Raster_Create(4, 4, 0, word));
    EXPECT_EQ(D3D8_RasterExt(c)->palette->number, 0u);
    uint8_t *palette = Raster_LockPalette(c, RASTERLOCKWRITE);
    ASSERT_NE(palette, nullptr);
    palette[4 * 3] = 77;
    Raster_UnlockPalette(c);
    EXPECT_EQ(c->privateFlags & (RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE), 0);
    PALETTEENTRY entries[256];
    ASSERT_GE(device->GetPaletteEntries(0, entries), 0);
    EXPECT_EQ(entries[3].peRed, 77);
    // Codes a palette cannot hold fail silently.
    EXPECT_EQ(AndError(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT4444)),
              std::tuple(nullptr, 0x80000000u));
    EXPECT_EQ(AndError(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL4 | RASTERFORMAT888)),
              std::tuple(nullptr, 0x8000000du));
}

TEST_F(D3D8RasterTest, DestroyingARasterBoundOnAnyStageUnbindsIt)
{
    answers.blendStages = 2;
    OpenDevice();
    Raster *raster = Raster_Create(4, 4, 0, RASTERTYPETEXTURE);
    Raster *other = Raster_Create(4, 4, 0, RASTERTYPETEXTURE);
    ASSERT_GE(device->SetTexture(1, D3D8_RasterExt(raster)->texture), 0);
    D3D8_SetStageRaster(other, 0);
    Raster_Destroy(raster);
    Raster_Destroy(other);
    IDirect3DBaseTexture8* bound[2] = {};
    device->GetTexture(0, &bound[0]);
    device->GetTexture(1, &bound[1]);
    EXPECT_EQ(std::tuple(bound[0], bound[1], D3D8_GetStageRaster(0)), std::tuple(nullptr, nullptr, nullptr));
}

TEST_F(D3D8RasterTest, CameraLocksReadTheBackBufferAndWriteBackAtSubRasterOffsets)
{
    ASSERT_GE(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff336699u, 1.0f, 0), 0);
    Raster* camera = Keep(Raster_Create(64, 48, 0, RASTERTYPECAMERA));
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->depth, 32);
    uint8_t *pixels = Raster_Lock(camera, 0, RASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(Bytes_LoadU32(pixels + 10 * camera->stride + 40) & 0xffffff, 0x336699u);
    Raster_Unlock(camera);
    Raster* part = Keep(Raster_Create(0, 0, 0, RASTERTYPECAMERA | RASTERDONTALLOCATE));
    const RasterRect rect = {8, 4, 4, 4};
    ASSERT_NE(Raster_SubRaster(part, camera, &rect), nullptr);
    pixels = Raster_Lock(part, 0, RASTERLOCKWRITE | RASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    Bytes_StoreU32(pixels, 0xffffffffu);
    Raster_Unlock(part);
    pixels = Raster_Lock(camera, 0, RASTERLOCKREAD) + 4 * camera->stride;
    EXPECT_EQ(std::tuple(Bytes_LoadU32(pixels + 8 * 4) & 0xffffff, Bytes_LoadU32(pixels + 7 * 4) & 0xffffff),
              std::tuple(0xffffffu, 0x336699u));
    Raster_Unlock(camera);
    EXPECT_EQ(Raster_Create(128, 48, 0, RASTERTYPECAMERA), nullptr);
    ErrorRecord record;
    Error_Get(&record);
    EXPECT_EQ(std::tuple(record.code, record.pluginId), std::tuple(2, 0x40C));
}

TEST_F(D3D8RasterTest, DeviceResetRebuildsPalettesCameraTexturesAndDepthBuffers)
{
    answers.palettes = true;
    OpenDevice();
    Raster *palettised = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888);
    uint8_t *palette = Raster_LockPalette(palettised, RASTERLOCKWRITE);
    palette[4 * 7 + 1] = 123;
    Raster_UnlockPalette(palettised);
    Raster *target = Raster_Create(16, 16, 0, RASTERTYPECAMERATEXTURE),
           *depth = Raster_Create(16, 16, 0, RASTERTYPEZBUFFER);
    ASSERT_TRUE(target && depth);
    D3D8_ReleaseDeviceRasters();
    EXPECT_EQ(std::tuple(D3D8_RasterExt(target)->texture, D3D8_RasterExt(depth)->surface),
              std::tuple(nullptr, nullptr));
    // Nothing of the default pool is left, so the device can be reset.
    D3DPRESENT_PARAMETERS params = Params();
    ASSERT_GE(device->Reset(&params), 0);
    GetSurfaces();
    ASSERT_EQ(D3D8_RestoreDeviceRasters(), 1);
    EXPECT_TRUE(D3D8_RasterExt(target)->texture && D3D8_RasterExt(depth)->surface);
    PALETTEENTRY entries[256];
    ASSERT_GE(device->GetPaletteEntries(D3D8_RasterExt(palettised)->palette->number, entries), 0);
    EXPECT_EQ(entries[7].peGreen, 123);
    for (Raster *r : {depth, target, palettised}) Raster_Destroy(r);
}

}  // namespace

TEST_F(D3D8RasterTest, LockReportsLevelSizeRefusesSecondLocksDoubleUnlocksAndRastersWithoutDevicePixels)
{
    Raster* raster = Keep(Raster_Create(64, 16, 0, RASTERTYPETEXTURE | RASTERFORMAT565 | RASTERFORMATMIPMAP));
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(std::tuple(raster->depth, Raster_GetNumLevels(raster)), std::tuple(16, 7));
    ASSERT_NE(Raster_Lock(raster, 2, RASTERLOCKREAD), nullptr);
    EXPECT_EQ(std::tie(raster->width, raster->height, raster->stride), std::make_tuple(16, 4, 32));
    EXPECT_TRUE(raster->privateFlags & RASTERPIXELLOCKEDREAD);
    EXPECT_EQ(AndError(Raster_Lock(raster, 0, RASTERLOCKREAD)), std::tuple(nullptr, 0x8000000eu));
    EXPECT_NE(Raster_Unlock(raster), nullptr);
    EXPECT_EQ(std::tie(raster->width, raster->height, raster->stride), std::make_tuple(64, 16, 0));
    EXPECT_EQ(raster->privateFlags & (RASTERPIXELLOCKEDREAD | RASTERPIXELLOCKEDWRITE), 0);
    EXPECT_EQ(AndError(Raster_Unlock(raster)), std::tuple(nullptr, 0x80000011u));
    ASSERT_NE(Raster_Lock(raster, 5, RASTERLOCKWRITE), nullptr);
    EXPECT_EQ(std::tie(raster->width, raster->height), std::make_tuple(2, 1));
    Raster_Unlock(raster);
    EXPECT_EQ(Raster_GetNumLevels(Keep(Raster_Create(8, 8, 0, RASTERTYPETEXTURE))), 1);
    // A raster without device pixels refuses locks.
    Raster* bare = Keep(Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERDONTALLOCATE));
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(AndError(Raster_Lock(bare, 0, RASTERLOCKREAD)), std::tuple(nullptr, 0x8000000eu));
    EXPECT_EQ(AndError(Raster_LockPalette(bare, RASTERLOCKREAD)), std::tuple(nullptr, 0x8000000du));
    EXPECT_EQ(Raster_GetNumLevels(bare), 1);
    Raster* zero = Keep(Raster_Create(0, 4, 0, RASTERTYPENORMAL));
    EXPECT_EQ(zero ? zero->flags : -1, RASTERDONTALLOCATE);
}
