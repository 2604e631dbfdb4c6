// The native texture stream of the Direct3D 8 driver: a texture's raster
// stored with its device pixels (format, size, palette and every mip level
// as the surfaces hold them) in one struct chunk, platform id 8.
#pragma once

#include <cstdint>

struct Stream;
struct Texture;

enum : uint32_t {
    D3D8_NATIVE_PLATFORM = 8,
};

// Bytes of the whole struct chunk, header included (84 without a raster).
int32_t D3D8_NativeTextureGetSize(int32_t *size, const Texture *texture);
// Writes the struct chunk. 0 when a write or lock fails, for a texture
// without a raster (0x80000016), or a level whose memory is not packed.
int32_t D3D8_NativeTextureWrite(Stream *stream, const Texture *texture);
// Reads a struct chunk into a new texture (one reference, the caller's) on a
// raster of exactly the stored format and size. 0 for another platform, a
// format or size this device resolves differently, a compressed format it
// lacks, a level count or byte count that does not match the raster, or a
// short read; nothing is left allocated then.
int32_t D3D8_NativeTextureRead(Stream *stream, Texture **texture);

// Standard functions 25, 26 and 27.
int32_t D3D8_NativeTextureGetSizeStd(void *size, void *texture, int32_t);
int32_t D3D8_NativeTextureReadStd(void *stream, void *texture, int32_t);
int32_t D3D8_NativeTextureWriteStd(void *stream, void *texture, int32_t);
