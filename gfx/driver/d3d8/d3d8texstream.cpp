#include "gfx/driver/d3d8/d3d8texstream.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "gfx/core/error.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8rasterformat.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"

namespace {

constexpr uint32_t kHeaderBlock = 72;
constexpr uint32_t kRasterBlock = 16;
const uint32_t kFourCC[6] = {0, D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};

uint32_t PaletteBytes(uint32_t format)
{
    return (format & RASTERFORMATPAL4) ? 128 : (format & RASTERFORMATPAL8) ? 1024 : 0;
}

// Rows of a locked level as its memory holds them: pixel rows, or rows of
// 4 x 4 blocks for a compressed texture.
uint32_t LockedRows(const Raster *raster, bool compressed)
{
    const uint32_t h = (uint32_t)raster->height;
    return compressed ? (h + 3) / 4 : h;
}

IDirect3DTexture8 *DeviceTexture(const Raster *raster) { return D3D8_RasterExt(raster)->texture; }

uint32_t LevelSize(const Raster *raster, uint32_t level)
{
    D3DSURFACE_DESC desc;
    IDirect3DTexture8 *texture = DeviceTexture(raster);
    return texture && texture->GetLevelDesc(level, &desc) >= 0 ? desc.Size : 0;
}

uint32_t LevelCount(const Raster *raster)
{
    IDirect3DTexture8 *texture = DeviceTexture(raster);
    return texture ? texture->GetLevelCount() : 0;
}

uint8_t CompressionNumber(uint32_t fourCC)
{
    for (uint8_t i = 1; i < 6; i++)
        if (kFourCC[i] == fourCC) return i;
    return 0;
}

// Loads the stored palette and levels into a raster of the stored format.
bool LoadPixels(Stream *stream, Raster *raster, uint32_t format, uint32_t storedLevels, bool compressed)
{
    const uint32_t paletteBytes = PaletteBytes(format);
    if (paletteBytes) {
        uint8_t *palette = Raster_LockPalette(raster, RASTERLOCKWRITE);
        if (!palette) return false;
        const bool ok = Stream_Read(stream, palette, paletteBytes) == paletteBytes;
        Raster_UnlockPalette(raster);
        if (!ok) return false;
    }
    if (storedLevels > (uint32_t)Raster_GetNumLevels(raster)) return false;
    // The levels are stored whole; nothing may regenerate them meanwhile.
    const uint8_t autoBit = (uint8_t)(RASTERFORMATAUTOMIPMAP >> 8);
    const uint8_t savedAuto = raster->format & autoBit;
    raster->format &= (uint8_t)~autoBit;
    bool ok = true;
    for (uint32_t level = 0; ok && level < storedLevels; level++) {
        uint8_t *pixels = Raster_Lock(raster, level, RASTERLOCKWRITE);
        if (!pixels) {
            ok = false;
            break;
        }
        uint8_t count[4] = {};
        // The stored memory must be exactly the locked level's: a file from
        // a device with other pitches is refused, never re-pitched.
        ok = Stream_Read(stream, count, 4) == 4;
        const uint32_t bytes = Bytes_LoadU32(count);
        ok = ok && bytes == (uint32_t)raster->stride * LockedRows(raster, compressed) &&
             Stream_Read(stream, pixels, bytes) == bytes;
        Raster_Unlock(raster);
    }
    raster->format |= savedAuto;
    return ok;
}

// The fewest bytes the first level of a stored texture takes: pixels at the
// stored format's size, or 4 x 4 blocks of 8 (DXT1) or 16 bytes.
uint64_t FirstLevelBytes(uint32_t width, uint32_t height, uint32_t format, uint32_t compression)
{
    if (compression) return (uint64_t)((width + 3) / 4) * ((height + 3) / 4) * (compression == 1 ? 8 : 16);
    const uint64_t bits = (format & RASTERFORMATPAL4)   ? 4
                          : (format & RASTERFORMATPAL8) ? 8
                                                        : (uint64_t)std::max(D3D8_DepthOfCode(format), 8);
    return ((uint64_t)width * height * bits + 7) / 8;
}

// A compressed raster, when the device holds the format.
Raster *CreateCompressed(uint32_t width, uint32_t height, uint32_t type, uint32_t formatWord, uint32_t levels,
                         uint32_t fourCC, uint32_t alpha)
{
    const D3D8DeviceState &d = *D3D8_DeviceState();
    if (!d.d3d || d.d3d->CheckDeviceFormat(d.adapter, d.deviceType, d.displayFormat, 0, D3DRTYPE_TEXTURE, fourCC) < 0)
        return nullptr;
    Raster *raster = Raster_Create((int32_t)width, (int32_t)height, 0, type | RASTERDONTALLOCATE | formatWord);
    if (!raster) return nullptr;
    D3D8RasterExt *ext = D3D8_RasterExt(raster);
    if (d.device->CreateTexture(width, height, (formatWord & RASTERFORMATMIPMAP) ? levels : 1, 0, fourCC, D3DPOOL_MANAGED,
                                &ext->texture) < 0) {
        ext->texture = nullptr;
        Raster_Destroy(raster);
        return nullptr;
    }
    raster->flags &= (uint8_t)~RASTERDONTALLOCATE;
    raster->width = (int32_t)width;
    raster->height = (int32_t)height;
    raster->format = (uint8_t)(formatWord >> 8);
    ext->alpha = (uint8_t)alpha;
    ext->compressed = fourCC;
    return raster;
}

}  // namespace

int32_t D3D8_NativeTextureGetSize(int32_t *size, const Texture *texture)
{
    const Raster *raster = texture->raster;
    if (!raster) {
        *size = 84;
        return 1;
    }
    uint32_t total = CHUNK_HEADER_SIZE + kHeaderBlock + kRasterBlock + PaletteBytes(Raster_GetFormat(raster));
    const uint32_t levels = LevelCount(raster);
    for (uint32_t level = 0; level < levels; level++) total += 4 + LevelSize(raster, level);
    *size = (int32_t)total;
    return 1;
}

int32_t D3D8_NativeTextureWrite(Stream *stream, const Texture *texture)
{
    Raster *raster = texture->raster;
    if (!raster || !DeviceTexture(raster)) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return 0;
    }
    int32_t size = 0;
    D3D8_NativeTextureGetSize(&size, texture);
    const D3D8RasterExt *ext = D3D8_RasterExt(raster);
    const uint32_t format = Raster_GetFormat(raster);
    uint8_t block[kHeaderBlock + kRasterBlock] = {};
    Bytes_StoreU32(block, D3D8_NATIVE_PLATFORM);
    Bytes_StoreU32(block + 4, texture->filterAddressing & 0xffff);
    memcpy(block + 8, texture->name, 32);
    memcpy(block + 40, texture->mask, 32);
    Bytes_StoreU32(block + 72, format & 0xff00);
    Bytes_StoreU32(block + 76, ext->alpha);
    Bytes_StoreU16(block + 80, (uint32_t)raster->width);
    Bytes_StoreU16(block + 82, (uint32_t)raster->height);
    block[84] = (uint8_t)raster->depth;
    const uint32_t levels = LevelCount(raster);
    block[85] = (uint8_t)levels;
    block[86] = raster->type;
    block[87] = CompressionNumber(ext->compressed);
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, (uint32_t)size - CHUNK_HEADER_SIZE) ||
        !Stream_Write(stream, block, sizeof(block)))
        return 0;
    const uint32_t paletteBytes = PaletteBytes(format);
    if (paletteBytes) {
        uint8_t *palette = Raster_LockPalette(raster, RASTERLOCKREAD);
        if (!palette) return 0;
        const bool ok = Stream_Write(stream, palette, paletteBytes) != nullptr;
        Raster_UnlockPalette(raster);
        if (!ok) return 0;
    }
    for (uint32_t level = 0; level < levels; level++) {
        const uint32_t bytes = LevelSize(raster, level);
        uint8_t count[4];
        Bytes_StoreU32(count, bytes);
        if (!Stream_Write(stream, count, 4)) return 0;
        uint8_t *pixels = Raster_Lock(raster, level, RASTERLOCKREAD);
        if (!pixels) return 0;
        const bool packed = bytes == (uint32_t)raster->stride * LockedRows(raster, ext->compressed != 0);
        const bool ok = packed && Stream_Write(stream, pixels, bytes) != nullptr;
        Raster_Unlock(raster);
        if (!ok) return 0;
    }
    return 1;
}

int32_t D3D8_NativeTextureRead(Stream *stream, Texture **out)
{
    uint32_t length = 0, version = 0;
    uint8_t block[kHeaderBlock + kRasterBlock];
    if (!Stream_FindChunk(stream, CHUNK_STRUCT, &length, &version) || length < sizeof(block) ||
        Stream_Read(stream, block, kHeaderBlock) != kHeaderBlock || Bytes_LoadU32(block) != D3D8_NATIVE_PLATFORM ||
        Stream_Read(stream, block + kHeaderBlock, kRasterBlock) != kRasterBlock)
        return 0;
    ByteReader r = ByteReader_Init(block, sizeof(block));
    ByteReader_Skip(&r, 4);  // the platform, checked above
    const uint32_t filter = ByteReader_U32(&r);
    char name[33] = {}, mask[33] = {};
    ByteReader_Bytes(&r, name, 32);
    ByteReader_Bytes(&r, mask, 32);
    const uint32_t storedFormat = ByteReader_U32(&r) & 0xff00, alpha = ByteReader_U32(&r);
    const uint32_t width = ByteReader_U16(&r), height = ByteReader_U16(&r);
    const uint32_t depth = ByteReader_U8(&r), levels = ByteReader_U8(&r);
    const uint32_t type = ByteReader_U8(&r) & RASTERTYPEMASK, compression = ByteReader_U8(&r);
    if (compression > 5) return 0;
    // The first level's pixels must be in the chunk before a raster of the
    // stored size is made: a small chunk cannot ask for a large texture.
    const uint64_t stored = (uint64_t)length - sizeof(block) - PaletteBytes(storedFormat);
    if (levels == 0 || length < sizeof(block) + PaletteBytes(storedFormat) ||
        4 + FirstLevelBytes(width, height, storedFormat, compression) > stored) {
        Error_Raise(ERR_SHORT_READ);
        return 0;
    }
    Raster *raster = nullptr;
    if (compression == 0) {
        uint32_t resolved = 0;
        if (!D3D8_ResolveRasterFormat(type, storedFormat, &resolved)) return 0;
        raster = Raster_Create((int32_t)width, (int32_t)height, (int32_t)depth,
                               type | resolved | (storedFormat & (RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP)));
    } else {
        // A device without the compressed format would need a software
        // decompression, which this path does not do: such a read fails.
        // Only textures (and normal rasters, held as device textures too)
        // can be compressed: the other types' destroy paths would never
        // release the device texture made here.
        if (type != RASTERTYPETEXTURE && type != RASTERTYPENORMAL) return 0;
        raster = CreateCompressed(width, height, type, storedFormat, levels, kFourCC[compression], alpha);
    }
    if (!raster) return 0;
    const bool same = Raster_GetFormat(raster) == storedFormat && (uint32_t)raster->width == width &&
                      (uint32_t)raster->height == height;
    if (!same || !LoadPixels(stream, raster, storedFormat, levels, compression != 0)) {
        Raster_Destroy(raster);
        return 0;
    }
    Texture *texture = Texture_Create(raster);
    if (!texture) {
        Raster_Destroy(raster);
        return 0;
    }
    texture->filterAddressing = filter & 0xffff;
    Texture_SetName(texture, name);
    Texture_SetMaskName(texture, mask);
    *out = texture;
    return 1;
}

int32_t D3D8_NativeTextureGetSizeStd(void *size, void *texture, int32_t)
{
    return D3D8_NativeTextureGetSize((int32_t *)size, (const Texture *)texture);
}
int32_t D3D8_NativeTextureReadStd(void *stream, void *texture, int32_t)
{
    return D3D8_NativeTextureRead((Stream *)stream, (Texture **)texture);
}
int32_t D3D8_NativeTextureWriteStd(void *stream, void *texture, int32_t)
{
    return D3D8_NativeTextureWrite((Stream *)stream, (const Texture *)texture);
}
