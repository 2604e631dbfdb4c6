// The seam between the device (object, resources, states, draw validation)
// and the rasteriser (fixed-function pipeline and pixel work).
//
// The device keeps one D3D8DrawState per device and updates it in place as the
// driver sets states, transforms, lights, textures and targets; a draw call
// fills in the vertex/index/primitive fields after validating them and hands
// the whole record to Rasteriser_Draw. Everything the record points at is only
// valid during that call: the driver rewrites buffers, textures and states
// right after, so the rasteriser must finish the draw (or copy what it keeps)
// before returning.
//
// Ownership: the device owns every pointer in here; the rasteriser only reads,
// except the colour and depth pixels of the targets, which it writes.
//
// The device guarantees before calling Rasteriser_Draw:
//   - primitiveCount >= 1 and primitiveType in 1..6;
//   - the vertex layout was decoded from a supported FVF (XYZ or XYZRHW) and
//     stride >= layout.size;
//   - every vertex the draw reads lies inside `vertices`: for indexed draws
//     indexBase <= every index < indexBase + vertexCount, for plain draws the
//     primitives need at most vertexCount vertices; nothing outside that
//     range is read (an indexed draw far into a buffer costs only its range);
//   - target.pixels is non-null; depth.pixels may be null (no depth surface:
//     depth test passes, nothing written);
//   - `viewport` is the viewport as the driver set it (X and Y are signed
//     offsets stored in uint32: read them as int32_t; the rectangle may reach
//     outside the target) and maps clip space to pixels; `scissor` is that
//     rectangle clipped to the render target, and no pixel outside it may be
//     written (it may be empty: x0 >= x1 or y0 >= y1 draws nothing).
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_types.h"

constexpr int D3D8_MAX_TEXTURE_SETS = 8;
constexpr int D3D8_MAX_MIP_LEVELS = 16;  // 32768 texels per side would need 16
constexpr int D3D8_MAX_DRAW_LIGHTS = 8;  // MaxActiveLights

struct RasteriserPShader;  // a compiled pixel shader (rasteriser_pshader.h)

// Where each element of a vertex sits, decoded from the FVF code.
// Offsets are in bytes from the start of the vertex; -1 means absent.
struct D3D8VertexLayout {
  uint32_t fvf;
  int size;            // bytes the FVF describes (the stream stride may be larger)
  bool pretransformed; // XYZRHW: x, y in render-target pixels, z, then rhw = 1/w
  int position;        // always 0: 3 floats (XYZ) or 4 floats (XYZRHW)
  int normal;          // 3 floats or -1
  int diffuse;         // A8R8G8B8 uint32 or -1
  int specular;        // A8R8G8B8 uint32 or -1
  int texCount;        // number of sets present, 0..8
  int texOffset[D3D8_MAX_TEXTURE_SETS];  // byte offset of set i (valid for i < texCount)
  int texSize[D3D8_MAX_TEXTURE_SETS];    // floats in set i, 1..4 (2 for every set the driver sends)
};

// A colour or depth surface, or one mip level of a texture.
// Colour pixels are stored in their real format, rows `pitch` bytes apart,
// little-endian: A8R8G8B8/X8R8G8B8 as uint32 0xAARRGGBB, R5G6B5, X1R5G5B5,
// A1R5G5B5, A4R4G4B4 as uint16, L8 and P8 one byte. DXT1 levels are 8-byte
// 4x4 blocks, DXT2-5 16-byte blocks, `pitch` bytes per row of blocks.
// Depth surfaces hold depth as an unsigned integer in the format's top bits
// (D16 uint16, D15S1 bits 15-1, D24X8/D24S8/D24X4S4 uint32 bits 31-8, D32 all
// 32 bits), with the stencil bits of D24S8, D24X4S4 and D15S1 at the bottom;
// the device clears them with RasteriserFormat_DepthEncode so that both
// sides agree on the encoding.
struct D3D8DrawSurface {
  uint32_t format;  // D3DFMT_*
  int width, height;
  int pitch;        // bytes per row (per row of blocks for DXT)
  uint8_t* pixels;  // null when absent
};

// A texture bound to a stage: its mip chain, level 0 first.
struct D3D8DrawTexture {
  uint32_t format;
  int levelCount;  // 1..D3D8_MAX_MIP_LEVELS
  D3D8DrawSurface levels[D3D8_MAX_MIP_LEVELS];
  // The texels of each level again, decoded to A8R8G8B8, for the sampler:
  // each texel beside its right neighbour (wrapping at the right edge), so a
  // bilinear sample reads two 8-byte pairs, and the pairs in 4x4 blocks, so
  // that a footprint stays in one or two cache lines. The pair of texel
  // (x, y) is the two uint32 at 2 x (((y / 4) x ceil(width / 4) + x / 4) x 16
  // + (y % 4) x 4 + x % 4). Kept by the texture and rebuilt from the rows
  // whenever they change (an unlock, a copy into the level); null for levels
  // kept only as rows (P8, whose colours depend on the palette at the draw,
  // DXT, render targets).
  const uint32_t* tiled[D3D8_MAX_MIP_LEVELS];
};

struct D3D8DrawState {
  // ---- the primitive (filled per draw) ----
  uint32_t primitiveType;  // D3DPT_*
  int primitiveCount;
  const uint8_t* vertices; // first vertex the draw reads (start vertex, or base vertex + indexBase)
  int vertexCount;         // vertices the draw reads from `vertices` on
  int stride;              // bytes between vertices (>= layout.size)
  D3D8VertexLayout layout;
  const void* indices;     // null for non-indexed draws; else the first index of the draw
  int indexSize;           // 2 or 4 (0 when not indexed)
  uint32_t indexBase;      // indexed draws: the smallest index; index i names vertices[i - indexBase]

  // ---- states (kept up to date by the device) ----
  uint32_t renderStates[D3D8_RENDERSTATE_COUNT];  // indexed by D3DRS_*
  uint32_t stageStates[D3D8_MAX_STAGES][D3D8_STAGESTATE_COUNT];  // [stage][D3DTSS_*]
  const D3D8DrawTexture* textures[D3D8_MAX_STAGES];  // null: no texture on that stage
  const PALETTEENTRY* palette;  // the device's current palette (256 entries: R, G, B, alpha
                                // in the flags byte) when one is set, else null; for P8
  // The bound pixel shader (owned by the device), or null: the texture
  // stages' operations then combine the colour. Its constants c0..c7 as set.
  const RasteriserPShader* pixelShader;
  float pixelShaderConstants[8][4];

  D3DMATRIX world, view, projection;
  D3DMATRIX textureTransform[D3D8_MAX_STAGES];
  // Bumped (from a global counter) whenever world, view or projection changes,
  // so the rasteriser can cache products such as world x view x projection.
  uint32_t transformSerial;

  D3DMATERIAL8 material;
  int lightCount;  // enabled lights, at most D3D8_MAX_DRAW_LIGHTS, lowest indices first
  D3DLIGHT8 lights[D3D8_MAX_DRAW_LIGHTS];

  D3DVIEWPORT8 viewport;  // as set (see above): maps x/w, y/w, z/w to pixels and depth
  struct {
    int x0, y0, x1, y1;    // pixels x0 <= x < x1, y0 <= y < y1
  } scissor;               // viewport clipped to the target

  D3D8DrawSurface target;  // render target, written by the rasteriser
  D3D8DrawSurface depth;   // depth surface (pixels null when none is bound)
};

// Draws one validated primitive batch into state->target (and depth): the
// rasteriser copies what it reads now and writes the pixels at its next
// flush (rasteriser.h), into the surfaces and from the textures the record
// names, which the device keeps alive and unchanged until then.
// Returns 1 when accepted (including "nothing visible"), 0 when the
// rasteriser cannot draw it (unsupported target format, out of memory);
// the device turns 0 into a failed draw. Keeps no pointer into `state`
// itself.
// Implemented by the rasteriser in platform/direct3d/rasteriser.cpp (the one
// and only definition; the device layer never defines it, not even weakly).
int Rasteriser_Draw(const D3D8DrawState* state);
