#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <string>
#include <tuple>

#include "platform/direct3d/d3d8_resource.h"
#include "platform/direct3d/d3d8_test.h"
#include "tests/platform/direct3d/d3d8_fixture.h"

namespace {

using Resource = D3D8Fixture;

TEST_F(Resource, TexturesWithLevelsZeroGetTheFullChain) {
  IDirect3DTexture8* tex = nullptr;
  D3D8Test_StartRecording();
  ASSERT_EQ(dev->CreateTexture(40, 10, 0, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &tex), D3D_OK);
  ASSERT_EQ(tex->GetLevelCount(), 6u);  // 40, 20, 10, 5, 2, 1
  D3DSURFACE_DESC desc;
  ASSERT_EQ(tex->GetLevelDesc(2, &desc), D3D_OK);
  EXPECT_EQ(std::make_tuple(desc.Width, desc.Height, desc.Size), std::make_tuple(10u, 2u, 10u * 2 * 2));
  ASSERT_EQ(tex->GetLevelDesc(5, &desc), D3D_OK);
  EXPECT_EQ(std::make_pair(desc.Width, desc.Height), std::make_pair(1u, 1u));
  EXPECT_EQ(tex->GetLevelDesc(6, &desc), D3DERR_INVALIDCALL);
  // The chain the rasteriser samples points at the same pixels the driver locks.
  D3DLOCKED_RECT lr;
  ASSERT_EQ(tex->LockRect(1, &lr, nullptr, D3DLOCK_NOSYSLOCK), D3D_OK);
  EXPECT_EQ(std::make_pair(lr.Pitch, static_cast<uint8_t*>(lr.pBits)), std::make_pair(40, tex->chain.levels[1].pixels));
  EXPECT_EQ(tex->LockRect(1, &lr, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
  tex->UnlockRect(1);
  // No seventh level to lock, unlock or hand out; no place to hand one to.
  IDirect3DSurface8* none = nullptr;
  EXPECT_EQ(tex->LockRect(6, &lr, nullptr, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(tex->UnlockRect(6), D3DERR_INVALIDCALL);
  EXPECT_EQ(tex->GetSurfaceLevel(6, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(tex->GetSurfaceLevel(0, nullptr), D3DERR_INVALIDCALL);
  D3D8Test_StopRecording();
  EXPECT_NE(std::string(D3D8Test_Recording()).find("Surface::UnlockRect(#"), std::string::npos);
  EXPECT_EQ(std::make_pair(tex->chain.levelCount, tex->chain.format), std::make_pair(6, D3DFMT_A4R4G4B4));
  tex->Release();
}

// Sizes, level counts and formats against the answers: what is refused.
TEST_F(Resource, TextureCreationFollowsTheAnswers) {
  const uint32_t A8 = D3DFMT_A8R8G8B8;
  const struct {
    void (*tweak)(D3D8Answers*);
    uint32_t w, h, levels, format;
    D3DRESULT result;
  } rows[] = {
      {nullptr, 4, 4, 4, A8, D3DERR_INVALIDCALL},  // more levels than the chain has
      {nullptr, 4097, 4, 1, A8, D3DERR_INVALIDCALL},
      {nullptr, 0, 4, 1, A8, D3DERR_INVALIDCALL},
      {nullptr, 4, 4, 1, D3DFMT_P8, D3DERR_INVALIDCALL},
      {[](D3D8Answers* a) { a->pow2 = a->squareOnly = true; }, 24, 24, 1, A8, D3DERR_INVALIDCALL},
      {[](D3D8Answers* a) { a->pow2 = a->squareOnly = true; }, 32, 16, 1, A8, D3DERR_INVALIDCALL},
      {[](D3D8Answers* a) { a->pow2 = a->squareOnly = true; }, 32, 32, 0, A8, D3D_OK},
      {[](D3D8Answers* a) { a->pow2 = a->nonPow2Conditional = true; }, 24, 10, 1, A8, D3D_OK},
      {[](D3D8Answers* a) { a->pow2 = a->nonPow2Conditional = true; }, 24, 10, 0, A8, D3DERR_INVALIDCALL},
  };
  for (const auto& r : rows) {
    MakeWith(r.tweak ? r.tweak : [](D3D8Answers*) {});
    IDirect3DTexture8* tex = nullptr;
    EXPECT_EQ(dev->CreateTexture(r.w, r.h, r.levels, 0, r.format, D3DPOOL_MANAGED, &tex), r.result) << &r - rows;
    EXPECT_EQ(tex != nullptr, r.result == D3D_OK) << &r - rows;
    if (tex) tex->Release();
  }
}

TEST_F(Resource, BlockTexturesStoreLevelsInWholeBlocks) {
  MakeWith([](D3D8Answers* a) { a->dxt = true; });
  IDirect3DTexture8* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(16, 8, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &tex), D3D_OK);
  ASSERT_EQ(tex->GetLevelCount(), 5u);
  D3DSURFACE_DESC desc;
  tex->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Size, 4u * 2 * 8);
  tex->GetLevelDesc(4, &desc);  // 1 x 1 still takes one block
  EXPECT_EQ(desc.Size, 8u);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(lr.Pitch, 32);
  tex->UnlockRect(0);
  D3DRECT8 unaligned{2, 0, 6, 4};
  EXPECT_EQ(tex->LockRect(0, &lr, &unaligned, 0), D3DERR_INVALIDCALL);
  D3DRECT8 aligned{4, 4, 8, 8};
  ASSERT_EQ(tex->LockRect(0, &lr, &aligned, 0), D3D_OK);
  EXPECT_EQ((uint8_t*)lr.pBits - tex->chain.levels[0].pixels, 32 + 8);
  tex->UnlockRect(0);
  tex->Release();
  IDirect3DTexture8* d5 = nullptr;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_DXT5, D3DPOOL_MANAGED, &d5), D3D_OK);
  d5->GetLevelDesc(0, &desc);
  EXPECT_EQ(desc.Size, 4u * 16);
  d5->Release();
  // Copies between block surfaces move whole blocks, to block-aligned places only.
  IDirect3DSurface8 *from = nullptr, *to = nullptr;
  ASSERT_EQ(dev->CreateImageSurface(8, 8, D3DFMT_DXT1, &from), D3D_OK);
  ASSERT_EQ(dev->CreateImageSurface(8, 8, D3DFMT_DXT1, &to), D3D_OK);
  std::memset(from->surface.pixels + 8, 0x5A, 8);  // block (1, 0)
  D3DRECT8 block{4, 0, 8, 4};
  D3DPOINT8 below{0, 4}, odd{2, 4};
  ASSERT_EQ(dev->CopyRects(from, &block, 1, to, &below), D3D_OK);
  const uint8_t* got = to->surface.pixels;  // block (0, 1): a row of blocks is 16 bytes
  EXPECT_EQ(std::make_tuple(got[16], got[23], got[24]), std::make_tuple(0x5A, 0x5A, 0));
  EXPECT_EQ(dev->CopyRects(from, &block, 1, to, &odd), D3DERR_INVALIDCALL);
  from->Release();
  to->Release();
}

TEST_F(Resource, PalettesFeedTheDrawRecordThroughTheCurrentPalette) {
  PALETTEENTRY entries[256] = {};
  entries[1] = {10, 20, 30, 40};
  EXPECT_EQ(dev->SetPaletteEntries(70000, entries), D3DERR_INVALIDCALL);  // palette numbers are 16-bit
  MakeWith([](D3D8Answers* a) { a->palettes = true; });
  ASSERT_EQ(dev->SetPaletteEntries(3, entries), D3D_OK);
  EXPECT_EQ(dev->SetCurrentTexturePalette(4), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetCurrentTexturePalette(3), D3D_OK);
  uint32_t current = 0;
  dev->GetCurrentTexturePalette(&current);
  EXPECT_EQ(current, 3u);
  PALETTEENTRY back[256];
  ASSERT_EQ(dev->GetPaletteEntries(3, back), D3D_OK);
  EXPECT_EQ(back[1].peFlags, 40);
  IDirect3DTexture8* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_P8, D3DPOOL_MANAGED, &tex), D3D_OK);
  tex->Release();
  EXPECT_EQ(dev->SetCurrentTexturePalette(0), D3D_OK);  // the driver's "none" on destroy
  // A reset forgets every palette.
  ASSERT_EQ(dev->Reset(&pp), D3D_OK);
  EXPECT_EQ(dev->GetPaletteEntries(3, back), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->GetCurrentTexturePalette(&current), D3DERR_INVALIDCALL);
}

TEST_F(Resource, BufferLocksMapPlainReadableMemoryInsideTheBuffer) {
  IDirect3DVertexBuffer8* vb = nullptr;
  ASSERT_EQ(dev->CreateVertexBuffer(100, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_SYSTEMMEM, &vb), D3D_OK);
  uint8_t *whole = nullptr, *part = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &whole, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), D3D_OK);
  whole[99] = 7;
  ASSERT_EQ(vb->Lock(96, 4, &part, D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK), D3D_OK);
  EXPECT_EQ(part[3], 7);  // write-only buffers still read back what was written
  vb->Unlock();
  vb->Unlock();
  EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Lock(96, 8, &part, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(part, nullptr);
  EXPECT_EQ(vb->Lock(101, 0, &part, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Lock(0, 4, nullptr, 0), D3DERR_INVALIDCALL);  // nowhere to put the pointer
  ASSERT_EQ(vb->Lock(100, 0, &part, 0), D3D_OK);  // an empty map at the end
  vb->Unlock();
  vb->Release();
  IDirect3DIndexBuffer8* ib = nullptr;
  EXPECT_EQ(dev->CreateIndexBuffer(0, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateIndexBuffer(16, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &ib), D3DERR_INVALIDCALL);
  EXPECT_EQ(ib, nullptr);
}

TEST_F(Resource, CopyRectsCopiesToTheSameCoordinatesUnlessPointsAreGiven) {
  IDirect3DSurface8* back = Back();
  dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1, 0);
  D3DRECT8 red{4, 4, 8, 8};
  dev->Clear(1, &red, D3DCLEAR_TARGET, 0xFFFF0000u, 1, 0);
  IDirect3DSurface8* image = nullptr;
  ASSERT_EQ(dev->CreateImageSurface(64, 48, D3DFMT_X8R8G8B8, &image), D3D_OK);
  D3DRECT8 rect{2, 2, 10, 10};
  ASSERT_EQ(dev->CopyRects(back, &rect, 1, image, nullptr), D3D_OK);
  EXPECT_EQ(std::make_pair(Pixel32(image, 4, 4), Pixel32(image, 2, 2)), std::make_pair(0xFFFF0000u, 0xFF000000u));
  EXPECT_EQ(Pixel32(image, 10, 10), 0u);  // outside the rectangle: untouched
  D3DPOINT8 at{0, 0};
  ASSERT_EQ(dev->CopyRects(back, &rect, 1, image, &at), D3D_OK);
  EXPECT_EQ(Pixel32(image, 2, 2), 0xFFFF0000u);
  // Write back at an offset, as a camera-raster unlock does.
  D3DRECT8 src{0, 0, 4, 4};
  D3DPOINT8 to{20, 30};
  ASSERT_EQ(dev->CopyRects(image, &src, 1, back, &to), D3D_OK);
  EXPECT_EQ(Pixel32(back, 22, 32), 0xFFFF0000u);
  // Refused: another format, a rectangle leaving either surface (nothing copied).
  IDirect3DSurface8* other = nullptr;
  ASSERT_EQ(dev->CreateImageSurface(64, 48, D3DFMT_R5G6B5, &other), D3D_OK);
  EXPECT_EQ(dev->CopyRects(back, nullptr, 0, other, nullptr), D3DERR_INVALIDCALL);
  D3DRECT8 rects[2] = {{0, 0, 2, 2}, {60, 40, 70, 48}};
  uint32_t before = Pixel32(image, 0, 0);
  dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456u, 1, 0);
  EXPECT_EQ(dev->CopyRects(back, rects, 2, image, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(Pixel32(image, 0, 0), before);
  D3DPOINT8 far{60, 0};
  EXPECT_EQ(dev->CopyRects(back, &rect, 1, image, &far), D3DERR_INVALIDCALL);
  D3D8Test_InjectFault(D3D8_FAULT_COPYRECTS, 0, 1, D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CopyRects(back, nullptr, 0, image, nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->CopyRects(back, nullptr, 0, image, nullptr), D3D_OK);
  EXPECT_EQ(Pixel32(image, 63, 47), 0xFF123456u);
  other->Release();
  image->Release();
}

}  // namespace
