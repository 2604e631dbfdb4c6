// Vertex formats and primitive batches as the stand-in counts them: where
// each element of an FVF vertex sits, and how many vertices (or indices) a
// batch of primitives reads. Shared by the device's draw validation, the
// rasteriser's primitive assembly and the rasteriser's test scenes, so the
// three can never disagree. Internal to platform/direct3d (and its tests).
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_draw.h"

// Decodes an FVF code into `layout`. Returns 0 (layout untouched) for codes
// the device cannot draw: no position, blend weights, point sizes, a normal
// on pre-transformed vertices, more than eight texture sets.
inline int D3D8Fvf_Decode(uint32_t fvf, D3D8VertexLayout* layout) {
  D3D8VertexLayout l{};
  l.fvf = fvf;
  l.normal = l.diffuse = l.specular = -1;
  int offset;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ: offset = 12; break;
    case D3DFVF_XYZRHW: offset = 16; l.pretransformed = true; break;
    default: return 0;
  }
  const uint32_t kPointSize = 0x20;
  if (fvf & kPointSize) return 0;
  if (fvf & D3DFVF_NORMAL) {
    if (l.pretransformed) return 0;
    l.normal = offset;
    offset += 12;
  }
  if (fvf & D3DFVF_DIFFUSE) {
    l.diffuse = offset;
    offset += 4;
  }
  if (fvf & D3DFVF_SPECULAR) {
    l.specular = offset;
    offset += 4;
  }
  uint32_t sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (sets > uint32_t(D3D8_MAX_TEXTURE_SETS)) return 0;
  l.texCount = int(sets);
  static const int kFloats[4] = {2, 3, 4, 1};  // the two size bits of each set
  for (uint32_t i = 0; i < sets; ++i) {
    l.texOffset[i] = offset;
    l.texSize[i] = kFloats[(fvf >> (D3DFVF_TEXCOORDSIZE_SHIFT + 2 * i)) & 3];
    offset += 4 * l.texSize[i];
  }
  l.size = offset;
  *layout = l;
  return 1;
}

// Vertices a plain draw of `count` primitives of `type` reads, which is also
// the number of indices an indexed draw reads; 0 for an unknown type.
inline uint64_t D3D8Fvf_BatchVertices(uint32_t type, uint64_t count) {
  switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return 2 * count;
    case D3DPT_LINESTRIP: return count + 1;
    case D3DPT_TRIANGLELIST: return 3 * count;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return count + 2;
    default: return 0;
  }
}
