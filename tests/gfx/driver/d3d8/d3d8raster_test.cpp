#include "gfx/driver/d3d8/d3d8raster.h"

#include <cstring>
#include <tuple>

#include "gfx/driver/d3d8/d3d8pixel.h"
#include "gfx/driver/d3d8/d3d8rasterformat.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

TEST_F(D3D8RasterTest, LockReportsLevelSizeAndRefusesSecondLockAndDoubleUnlock)
{
    Raster* raster = Keep(Raster_Create(64, 16, 0, RASTERTYPETEXTURE | RASTERFORMAT565 | RASTERFORMATMIPMAP));
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(raster->depth, 16);
    EXPECT_EQ(Raster_GetNumLevels(raster), 7);
    ASSERT_NE(Raster_Lock(raster, 2, RASTERLOCKREAD), nullptr);
    EXPECT_EQ(std::tie(raster->width, raster->height, raster->stride), std::make_tuple(16, 4, 32));
    EXPECT_TRUE(raster->privateFlags & RASTERPIXELLOCKEDREAD);
    EXPECT_EQ(Raster_Lock(raster, 0, RASTERLOCKREAD), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000eu);
    EXPECT_NE(Raster_Unlock(raster), nullptr);
    EXPECT_EQ(std::tie(raster->width, raster->height, raster->stride), std::make_tuple(64, 16, 0));
    EXPECT_EQ(raster->privateFlags & (RASTERPIXELLOCKEDREAD | RASTERPIXELLOCKEDWRITE), 0);
    EXPECT_EQ(Raster_Unlock(raster), nullptr);
    EXPECT_EQ(TakeError(), 0x80000011u);
    ASSERT_NE(Raster_Lock(raster, 5, RASTERLOCKWRITE), nullptr);
    EXPECT_EQ(raster->width, 2);
    EXPECT_EQ(raster->height, 1);
    Raster_Unlock(raster);
    Raster* single = Keep(Raster_Create(8, 8, 0, RASTERTYPETEXTURE));
    EXPECT_EQ(Raster_GetNumLevels(single), 1);
}

TEST_F(D3D8RasterTest, RasterWithoutDevicePixelsRefusesLocks)
{
    Raster* raster = Keep(Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERDONTALLOCATE));
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(Raster_Lock(raster, 0, RASTERLOCKREAD), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000eu);
    EXPECT_EQ(Raster_LockPalette(raster, RASTERLOCKREAD), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000du);
    EXPECT_EQ(Raster_GetNumLevels(raster), 1);
    Raster* zero = Keep(Raster_Create(0, 4, 0, RASTERTYPENORMAL));
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(zero->flags, RASTERDONTALLOCATE);
}

TEST_F(D3D8RasterTest, AutomaticMipLevelsRegenerateOnlyAfterWritingLevelZero)
{
    Raster* raster =
        Keep(Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT888 | RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP));
    ASSERT_NE(raster, nullptr);
    uint8_t *pixels = Raster_Lock(raster, 0, RASTERLOCKWRITE);
    ASSERT_NE(pixels, nullptr);
    for (int32_t y = 0; y < 8; y++)
        for (int32_t x = 0; x < 8; x++) {
            const uint32_t v = 0xff204060u;
            memcpy(pixels + y * raster->stride + 4 * x, &v, 4);
        }
    Raster_Unlock(raster);
    EXPECT_TRUE(Format(raster) & RASTERFORMATAUTOMIPMAP);
    pixels = Raster_Lock(raster, 3, RASTERLOCKREAD);
    uint32_t v;
    memcpy(&v, pixels, 4);
    EXPECT_EQ(v, 0xff204060u);
    Raster_Unlock(raster);
    // Writing level 1 regenerates nothing below it.
    pixels = Raster_Lock(raster, 1, RASTERLOCKWRITE);
    memset(pixels, 0, (size_t)raster->stride * raster->height);
    Raster_Unlock(raster);
    pixels = Raster_Lock(raster, 2, RASTERLOCKREAD);
    memcpy(&v, pixels, 4);
    EXPECT_EQ(v, 0xff204060u);
    Raster_Unlock(raster);
}

TEST_F(D3D8RasterTest, PaletteNumbersStartAtZeroReuseFreedOnesAndReachTheDevice)
{
    answers.palettes = true;
    OpenDevice();
    Raster *a = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888);
    Raster *b = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->depth, 8);
    EXPECT_EQ(D3D8_RasterExt(a)->palette->number, 0u);
    EXPECT_EQ(D3D8_RasterExt(b)->palette->number, 1u);
    Raster_Destroy(a);
    Raster *c = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888);
    EXPECT_EQ(D3D8_RasterExt(c)->palette->number, 0u);
    uint8_t *palette = Raster_LockPalette(c, RASTERLOCKWRITE);
    ASSERT_NE(palette, nullptr);
    palette[4 * 3] = 77;
    Raster_UnlockPalette(c);
    EXPECT_EQ(c->privateFlags & (RASTERPALETTELOCKEDREAD | RASTERPALETTELOCKEDWRITE), 0);
    PALETTEENTRY entries[256];
    ASSERT_GE(device->GetPaletteEntries(0, entries), 0);
    EXPECT_EQ(entries[3].peRed, 77);
    Raster_Destroy(b);
    Raster_Destroy(c);
}

TEST_F(D3D8RasterTest, PalettisedCreateFailsSilentlyForCodesAPaletteCannotHold)
{
    answers.palettes = true;
    OpenDevice();
    EXPECT_EQ(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT4444), nullptr);
    ErrorRecord record;
    Error_Get(&record);
    EXPECT_EQ((uint32_t)record.code, 0x80000000u);
    EXPECT_EQ(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL4 | RASTERFORMAT888), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000du);
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
    IDirect3DBaseTexture8 *bound = nullptr;
    device->GetTexture(1, &bound);
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(D3D8_GetStageRaster(0), nullptr);
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
}

TEST_F(D3D8RasterTest, SubRastersChainOffsetsToTheTopLevelRaster)
{
    Raster* top = Keep(Raster_Create(32, 32, 0, RASTERTYPETEXTURE | RASTERFORMAT888));
    Raster* middle = Keep(Raster_Create(0, 0, 0, RASTERTYPETEXTURE | RASTERDONTALLOCATE));
    Raster* inner = Keep(Raster_Create(0, 0, 0, RASTERTYPETEXTURE | RASTERDONTALLOCATE));
    const RasterRect outer = {10, 20, 16, 8}, small = {4, 4, 2, 2};
    ASSERT_EQ(Raster_SubRaster(middle, top, &outer), middle);
    ASSERT_EQ(Raster_SubRaster(inner, middle, &small), inner);
    EXPECT_EQ(std::tie(inner->offsetX, inner->offsetY, inner->parent, inner->depth), std::make_tuple(14, 24, top, 32));
    EXPECT_EQ(Raster_SubRaster(top, middle, &small), nullptr);
    uint8_t *pixels = Raster_Lock(inner, 0, RASTERLOCKWRITE);
    ASSERT_NE(pixels, nullptr);
    const uint32_t v = 0xff010203u;
    memcpy(pixels, &v, 4);
    Raster_Unlock(inner);
    pixels = Raster_Lock(top, 0, RASTERLOCKREAD);
    uint32_t got;
    memcpy(&got, pixels + 24 * top->stride + 14 * 4, 4);
    EXPECT_EQ(got, v);
    Raster_Unlock(top);
}

TEST_F(D3D8RasterTest, CameraLocksReadTheBackBufferAndWriteBackAtSubRasterOffsets)
{
    ASSERT_GE(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff336699u, 1.0f, 0), 0);
    Raster* camera = Keep(Raster_Create(64, 48, 0, RASTERTYPECAMERA));
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->depth, 32);
    uint8_t *pixels = Raster_Lock(camera, 0, RASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    uint32_t v;
    memcpy(&v, pixels + 10 * camera->stride + 40, 4);
    EXPECT_EQ(v & 0xffffff, 0x336699u);
    Raster_Unlock(camera);
    Raster* part = Keep(Raster_Create(0, 0, 0, RASTERTYPECAMERA | RASTERDONTALLOCATE));
    const RasterRect rect = {8, 4, 4, 4};
    ASSERT_NE(Raster_SubRaster(part, camera, &rect), nullptr);
    pixels = Raster_Lock(part, 0, RASTERLOCKWRITE | RASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    const uint32_t white = 0xffffffffu;
    memcpy(pixels, &white, 4);
    Raster_Unlock(part);
    pixels = Raster_Lock(camera, 0, RASTERLOCKREAD);
    memcpy(&v, pixels + 4 * camera->stride + 8 * 4, 4);
    EXPECT_EQ(v & 0xffffff, 0xffffffu);
    memcpy(&v, pixels + 4 * camera->stride + 7 * 4, 4);
    EXPECT_EQ(v & 0xffffff, 0x336699u);
    Raster_Unlock(camera);
    EXPECT_EQ(Raster_Create(128, 48, 0, RASTERTYPECAMERA), nullptr);
    ErrorRecord record;
    Error_Get(&record);
    EXPECT_EQ(record.code, 2);
    EXPECT_EQ(record.pluginId, 0x40C);
}

TEST_F(D3D8RasterTest, ZBufferOfWindowSizeUsesTheDevicesOwnSurface)
{
    Raster* own = Keep(Raster_Create(64, 48, 0, RASTERTYPEZBUFFER));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(D3D8_RasterExt(own)->surface, D3D8_DeviceState()->depthSurface);
    Raster* other = Keep(Raster_Create(32, 32, 0, RASTERTYPEZBUFFER));
    ASSERT_NE(other, nullptr);
    EXPECT_NE(D3D8_RasterExt(other)->surface, D3D8_DeviceState()->depthSurface);
    EXPECT_EQ(Raster_Lock(other, 0, RASTERLOCKREAD), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000eu);
}

TEST_F(D3D8RasterTest, GammaFlagTravelsBetweenImagesAndRasters)
{
    Raster* raster = Keep(Raster_Create(2, 2, 0, RASTERTYPETEXTURE | RASTERFORMAT888));
    Image* image = Img(2, 2, 32, [](int32_t, int32_t, uint8_t* p) { memset(p, 200, 4); });
    image->flags |= IMAGE_GAMMACORRECTED;
    ASSERT_EQ(Raster_SetFromImage(raster, image), raster);
    EXPECT_TRUE(raster->privateFlags & RASTERGAMMACORRECTED);
    Image* back = Img(2, 2, 32, [](int32_t, int32_t, uint8_t*) {});
    ASSERT_EQ(Image_SetFromRaster(back, raster), back);
    EXPECT_TRUE(back->flags & IMAGE_GAMMACORRECTED);
    EXPECT_EQ(back->pixels[0], 200);
    EXPECT_EQ(back->pixels[3], 255);
}

TEST_F(D3D8RasterTest, DeviceResetRebuildsPalettesCameraTexturesAndDepthBuffers)
{
    answers.palettes = true;
    OpenDevice();
    Raster *palettised = Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888);
    uint8_t *palette = Raster_LockPalette(palettised, RASTERLOCKWRITE);
    palette[4 * 7 + 1] = 123;
    Raster_UnlockPalette(palettised);
    Raster *target = Raster_Create(16, 16, 0, RASTERTYPECAMERATEXTURE);
    Raster *depth = Raster_Create(16, 16, 0, RASTERTYPEZBUFFER);
    ASSERT_NE(target, nullptr);
    ASSERT_NE(depth, nullptr);
    D3D8_ReleaseDeviceRasters();
    EXPECT_EQ(D3D8_RasterExt(target)->texture, nullptr);
    EXPECT_EQ(D3D8_RasterExt(depth)->surface, nullptr);
    // Nothing of the default pool is left, so the device can be reset.
    D3DPRESENT_PARAMETERS params = Params();
    ASSERT_GE(device->Reset(&params), 0);
    GetSurfaces();
    ASSERT_EQ(D3D8_RestoreDeviceRasters(), 1);
    EXPECT_NE(D3D8_RasterExt(target)->texture, nullptr);
    EXPECT_NE(D3D8_RasterExt(depth)->surface, nullptr);
    PALETTEENTRY entries[256];
    ASSERT_GE(device->GetPaletteEntries(D3D8_RasterExt(palettised)->palette->number, entries), 0);
    EXPECT_EQ(entries[7].peGreen, 123);
    for (Raster *r : {depth, target, palettised}) Raster_Destroy(r);
}

TEST_F(D3D8RasterTest, WideImagesRoundTripThroughEverySixteenBitFormat)
{
    Image* image = Img(4, 1, 32, [](int32_t x, int32_t, uint8_t* p) {
        const uint8_t c[4] = {(uint8_t)(60 * x + 7), (uint8_t)(255 - 50 * x), (uint8_t)(33 * x), (uint8_t)(x ? 255 : 100)};
        memcpy(p, c, 4);
    });
    for (uint32_t code : {RASTERFORMAT1555, RASTERFORMAT565, RASTERFORMAT4444, RASTERFORMAT555}) {
        Raster* raster = Keep(Raster_Create(4, 1, 0, RASTERTYPETEXTURE | code));
        ASSERT_NE(raster, nullptr);
        ASSERT_EQ(Raster_SetFromImage(raster, image), raster);
        EXPECT_EQ(D3D8_RasterExt(raster)->alpha, D3D8_AlphaOfCode(code));
        Image* back = Img(4, 1, 32, [](int32_t, int32_t, uint8_t*) {});
        ASSERT_EQ(Image_SetFromRaster(back, raster), back);
        for (int32_t x = 0; x < 4; x++) {
            uint8_t expected[4];
            D3D8_UnpackPixel(expected, D3D8_PackFunctionFor(code)(image->pixels + 4 * x), code);
            EXPECT_EQ(memcmp(back->pixels + 4 * x, expected, 4), 0) << std::hex << code << " " << x;
        }
    }
}

}  // namespace
