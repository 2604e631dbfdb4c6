// Private glue between the stand-in's object, device and resource files.
// Not for callers of the stand-in.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8.h"
#include "platform/direct3d/d3d8_test.h"

// A resource of `pool` was created on / is leaving `device`. The device
// counts them: default-pool ones block Reset, and a released device lives on
// until its last resource is gone (resources do not hold device references,
// so that the device's bindings and its resources never keep each other alive).
void D3D8Device_ResourceBorn(IDirect3DDevice8* device, uint32_t pool);
void D3D8Device_ResourceDied(IDirect3DDevice8* device, uint32_t pool);

// Makes the device lost (see D3D8Test_LoseDevice); 1 while it is lost or
// waiting for a reset.
void D3D8Device_Lose(IDirect3DDevice8* device, int lostAnswers);
int D3D8Device_IsLost(IDirect3DDevice8* device);

// Creates a device for `object`; the object has already checked the adapter.
D3DRESULT D3D8Device_Create(IDirect3D8* object, void* focusWindow, uint32_t flags,
                            D3DPRESENT_PARAMETERS* params, IDirect3DDevice8** device);

// A surface of `format` and size with zeroed pixels, one reference, attached to
// `device` in `pool` (null device: a free-standing surface, no device reference).
// Null when the format cannot be stored or memory runs out.
IDirect3DSurface8* D3D8Surface_New(IDirect3DDevice8* device, uint32_t width, uint32_t height,
                                   uint32_t format, uint32_t usage, uint32_t pool);

// Compressed formats are stored and copied in 4x4 blocks of 8 (DXT1) or 16 bytes.
inline bool D3D8Format_IsBlock(uint32_t format) {
  return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 ||
         format == D3DFMT_DXT4 || format == D3DFMT_DXT5;
}
inline int D3D8Format_BlockBytes(uint32_t format) { return format == D3DFMT_DXT1 ? 8 : 16; }

// Bytes per row and per level of a format the stand-in stores (0 if it cannot).
int D3D8Surface_Pitch(uint32_t format, uint32_t width);
uint64_t D3D8Surface_Bytes(uint32_t format, uint32_t width, uint32_t height);

// Let go of a container-held surface: it dies now unless someone still holds
// a reference, in which case it becomes free-standing.
void D3D8Surface_Drop(IDirect3DSurface8* surface);

// Flushes the rasteriser when draws or clears not yet shaded use `resource`
// (for a texture level: or its texture), so that it can be read, changed or
// freed. Null is allowed.
void D3D8_FinishUse(const D3D8Resource* resource);
// Stamps the resource as used (and, `drawn`, drawn into) by the batch being binned.
void D3D8_MarkUse(D3D8Resource* resource, bool drawn);

// A texture level changed through its rows (unlock, copy): its tiled copy
// for the sampler is rebuilt. Nothing happens for other surfaces.
void D3D8Surface_Changed(IDirect3DSurface8* surface);

// "#id" or "null" for recordings (a small rotating set of buffers).
const char* D3D8Name(const D3D8Unknown* object);

// Format answers shared by the object's checks and the device's creation calls.
int D3D8Answers_TextureFormat(const D3D8Answers* answers, uint32_t format);
int D3D8Answers_RenderTargetFormat(const D3D8Answers* answers, uint32_t format);
// Depth formats the adapter answers for, and those the device creates (the
// answered ones and D16, which the driver uses unchecked; see D3D8Answers).
int D3D8Answers_DepthAnswered(const D3D8Answers* answers, uint32_t format);
int D3D8Answers_DepthFormat(const D3D8Answers* answers, uint32_t format);

// Records a call while recording is on; the arguments (object names
// included) are only evaluated then, so hot paths pay one test.
#define D3D8_LOG(...)                                      \
  do {                                                     \
    if (D3D8Test_Recording_On()) D3D8Test_Log(__VA_ARGS__); \
  } while (0)
