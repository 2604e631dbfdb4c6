// Records shared by the rasteriser's stages: vertex processing, clipping and
// triangle set-up (the front end, at the draw call), the tile bins, and the
// shading of 2x2 pixel quads inside a tile (the back end, at a flush).
// Internal to platform/direct3d.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_draw.h"
#include "platform/direct3d/rasteriser_kernel.h"
#include "platform/direct3d/rasteriser_pshader.h"

// Screen tiles are 64 x 64 pixels; a tile is shaded by one thread. Quads
// are 2x2 pixels at even coordinates, so they never straddle a tile.
enum { RASTERISER_TILE_SHIFT = 6, RASTERISER_TILE_SIZE = 1 << RASTERISER_TILE_SHIFT };
enum { RASTERISER_QUADS_MAX = 64 };                        // quads shaded per call
enum { RASTERISER_LANES_MAX = 4 * RASTERISER_QUADS_MAX };  // pixels (lanes) per call

// Attributes carried per vertex, in this order: diffuse r, g, b, a (0..255),
// the fog factor (1 = no fog), then u, v per sampling stage in texel units of
// the stage's level 0 (so a 1:1 mapped quad steps exactly one texel per pixel).
enum { RASTERISER_ATTR_COLOUR = 0, RASTERISER_ATTR_FOG = 4, RASTERISER_ATTR_UV = 5, RASTERISER_MAX_ATTRS = 5 + 2 * 8 };

struct RasteriserVertex {
  float cx, cy, cz, cw;   // homogeneous clip position (pre-transformed: x*w, y*w, z*w, w)
  float sx, sy, sz, oow;  // screen position, depth and 1/w
  float a[RASTERISER_MAX_ATTRS];
};

// A quantity interpolated over a primitive: value at the reference point and
// its screen gradients.
struct RasteriserPlane {
  float v0, dx, dy;
};

// Per-primitive interpolation set-up. Plane 0 is depth, plane 1 is 1/w,
// planes 2.. are attribute x 1/w (2 + the plan's attrCount planes). The value
// at pixel (x, y) is (v0 + dy (y - refY)) + dx (x - refX), whatever tile or
// quad the pixel is shaded in.
struct RasteriserSetup {
  float refX, refY;
  bool perspective;  // false: 1/w is constant, skip the per-pixel divide
  bool flat;         // colour is flatColour, not interpolated
  float w;           // the constant w when !perspective
  uint32_t flatColour;
  const RasteriserPlane* p;
};

// One mip level as the sampler reads it.
struct RasteriserLevel {
  const D3D8DrawSurface* surface;  // rows at the surface's pitch, in its format
  const uint32_t* tiled;           // the same texels as A8R8G8B8 in 4x4 blocks, or null (see d3d8_draw.h)
  int width, height;
  int blocksPerRow;                // of `tiled`
  int blockRowShift;               // log2(blocksPerRow x 16) when blocksPerRow is a power of two, else -1
  float scaleU, scaleV;            // this level's size over level 0's
};

// How one combiner stage samples and combines, decided once per draw.
struct RasteriserStage {
  uint32_t colourOp, colourArg[3];  // arg1, arg2, arg0
  uint32_t alphaOp, alphaArg[3];
  bool sample;       // reads its texture
  bool needLod;      // minification or mip selection needs a level of detail
  bool wrapPow2;     // wrap addressing on power-of-two levels: masks instead of addressing
  uint32_t format;   // the texture's format
  int levelCount;    // levels the sampler may use (1 without mip filtering)
  int attr;          // index of u (v follows) in RasteriserVertex::a
  uint32_t addressU, addressV, border;
  uint32_t magFilter, minFilter, mipFilter;
  RasteriserLevel levels[D3D8_MAX_MIP_LEVELS];
};

// Everything the pixel stage needs, decided once per draw. Self-contained:
// it points at no part of the device's draw record, so it can be shaded
// after the draw call returned (the textures it names are kept alive and
// unchanged until then, see rasteriser.cpp).
struct RasteriserPlan {
  const PALETTEENTRY* palette;  // a copy in the bins when a stage samples P8, else null
  // The pixel shader run in place of the stages' operations (a copy in the
  // bins, with the draw's constants), or null. With one, stages[s] samples
  // for the program's tex ts and the stages' operations are not read.
  const RasteriserPShader* shader;
  int attrCount;     // attributes in use
  bool fog;
  uint32_t fogColour;
  bool alphaTest;
  uint32_t alphaFunc, alphaRef;
  bool depthTest, depthWrite;  // only with a depth surface bound
  uint32_t depthFunc, depthFormat, depthMask;
  int depthBytes;
  // The stencil test, only with a depth surface that has stencil bits and a
  // state that can reject or change something; stencilLate when the alpha
  // test decides whether a pixel updates the stencil at all. Reference and
  // masks are cut to the format's stencil bits (stencilBits, at the bottom).
  bool stencil, stencilLate;
  uint32_t stencilFunc, stencilRef, stencilMask, stencilWriteMask, stencilBits;
  uint32_t stencilFail, stencilZFail, stencilPass;
  bool blend;
  uint32_t srcBlend, destBlend;
  uint32_t writeMask;  // COLORWRITEENABLE bits as an ARGB mask
  uint32_t textureFactor;
  uint32_t targetFormat;
  int targetBytes;
  int clipX0, clipY0, clipX1, clipY1;  // scissor: the viewport, end exclusive
  D3D8DrawSurface target, depth;      // depth.pixels null when none is bound
  int stageCount;    // stages run by the combiner (0: diffuse passes through)
  // The fused kernel that shades this draw's quads (rasteriser_kernel.h), of
  // the instruction set chosen at the draw; null: the general stages.
  RasteriserKernel kernel;
  RasteriserKernelPlan kernelPlan;
  // Last, so that the bins copy only the stages in use (stages[stageCount..]
  // may lie outside a copy's memory).
  RasteriserStage stages[D3D8_MAX_STAGES];
};

// 2x2 quads to shade, of one primitive inside one tile: quad i covers pixels
// (x[i], y[i]), (x[i] + 1, y[i]), (x[i], y[i] + 1), (x[i] + 1, y[i] + 1),
// lanes 0..3 in that order; mask bit k set when lane k is covered (and
// inside the scissor).
struct RasteriserQuads {
  int count;  // 1..RASTERISER_QUADS_MAX
  int right, bottom;  // no quad reaches past pixel column `right` or row `bottom`
  int16_t x[RASTERISER_QUADS_MAX], y[RASTERISER_QUADS_MAX];  // even
  uint8_t mask[RASTERISER_QUADS_MAX];
  // Byte offsets of each quad's top-left pixel in the plan's target and
  // depth surface (0 without one), found by whoever made the quads.
  uint32_t targetAt[RASTERISER_QUADS_MAX], depthAt[RASTERISER_QUADS_MAX];
};

// The byte offset of pixel (x, y) in `surface` (`bytes` per pixel).
inline uint32_t RasteriserQuads_Offset(const D3D8DrawSurface& surface, int bytes, int x, int y) {
  return uint32_t(y * surface.pitch + x * bytes);
}

// Decides the per-draw pixel plan. Returns 0 when the target format cannot be
// drawn to. The plan's palette is the device's (the front end copies it).
int RasteriserSpan_Plan(const D3D8DrawState* state, RasteriserPlan* plan);

// Shades and writes the covered pixels of the quads, all inside the plan's
// scissor and the target. Changes the quads' masks (and the entries past
// the count).
void RasteriserSpan_ShadeQuads(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads);

// A light in camera space, as vertex processing uses it.
struct RasteriserLight {
  uint32_t type;
  float diffuse[3];
  float position[3];   // camera space
  float toLight[3];    // directional: -direction, normalised, camera space
  float spotDir[3];    // spot: direction, normalised, camera space
  float range;
  float a0, a1, a2;
  float cosHalfTheta, cosHalfPhi, falloff;
};

// What vertex processing reads of a sampling stage.
struct RasteriserVertexStage {
  bool sample;
  uint32_t texCoordIndex;   // D3DTSS_TEXCOORDINDEX
  uint32_t transformFlags;  // D3DTSS_TEXTURETRANSFORMFLAGS, low byte
  D3DMATRIX transform;
  int attr;                 // where u and v go in RasteriserVertex::a
  float width, height;      // level 0's size: coordinates are stored in its texels
};

// Everything vertex processing needs of a draw, decided at the call: the
// draw's states reduced to matrices, camera-space lights and constants, so
// that its vertices can be processed after the call returned (and the
// device's states changed).
struct RasteriserVertexPlan {
  D3D8VertexLayout layout;
  int stride;
  bool pre, lighting, needNormal, needCamPos, normalise;
  bool diffuseFromVertex, emissiveFromVertex, ambientFromVertex, fog, localViewer;
  float wv[4][4], wvp[4][4];  // world x view, world x view x projection
  float nmat[3][3];           // normals to camera space (when needNormal)
  int lightCount;
  RasteriserLight lights[D3D8_MAX_DRAW_LIGHTS];
  float ambientLight[4], matDiffuse[4], matAmbient[4], matEmissive[4];
  uint32_t fogMode;
  float fogStart, fogEnd, fogDensity;
  float vpX, vpY, halfW, halfH, zScale, zBias;  // viewport mapping
  int stageCount;
  RasteriserVertexStage stages[D3D8_MAX_STAGES];
};

// Reduces the draw's states to its vertex plan.
void RasteriserVertex_Plan(const D3D8DrawState* state, const RasteriserPlan* plan, RasteriserVertexPlan* vertexPlan);

// Vertex processing: transforms, lights, generates texture coordinates and fog
// for `count` vertices starting at `first` of `vertices` (the plan's layout
// and stride) into out[0..count). Positions go through one path whatever
// else is enabled.
void RasteriserVertex_Process(const RasteriserVertexPlan* vertexPlan, const uint8_t* vertices, int first, int count,
                              RasteriserVertex* out);

// ---- bins: what the front end leaves for the tiles ----------------------------------

enum : uint8_t { RASTERISER_CMD_TRIANGLE = 1, RASTERISER_CMD_CLEAR = 2, RASTERISER_CMD_PIXEL = 3 };

// A triangle after clipping and set-up. Pixel (x, y) is covered when every
// edge value a16[i] x + b16[i] y + c[i] is >= 0 (the top-left rule is folded
// into c), which the tiles evaluate incrementally; x0..x1, y0..y1 (inclusive)
// bound the covered pixels inside the scissor.
struct RasteriserTriangle {
  uint8_t kind;  // RASTERISER_CMD_TRIANGLE
  bool wide;     // steps too large for 32-bit stepping (huge viewports): walk in 64 bits
  const RasteriserPlan* plan;
  int32_t x0, y0, x1, y1;
  int64_t a16[3], b16[3];  // edge steps per pixel, in 1/16-pixel units
  int64_t c[3];            // edge values at pixel (0, 0)
  RasteriserSetup setup;   // its planes follow the record in the bins
};

// A cleared rectangle of a colour and/or depth surface (pixels null: not cleared).
struct RasteriserClear {
  uint8_t kind;  // RASTERISER_CMD_CLEAR
  int32_t x0, y0, x1, y1;  // end exclusive, inside both surfaces
  D3D8DrawSurface colour, depth;
  uint32_t colourValue, depthValue;  // stored forms
  uint32_t depthKeep;                // bits of each depth pixel left as they are
};

// One pixel of a point or a line, its attributes constant planes.
struct RasteriserPixel {
  uint8_t kind;  // RASTERISER_CMD_PIXEL
  const RasteriserPlan* plan;
  int32_t x, y;
  RasteriserSetup setup;
};

// A tile's commands, in submission order, in blocks of the bins' memory.
enum { RASTERISER_BIN_BLOCK = 254 };
struct RasteriserBinBlock {
  RasteriserBinBlock* next;
  int count;
  const uint8_t* commands[RASTERISER_BIN_BLOCK];  // each starts with its kind
};

// Runs a tile's commands in order on pixels x0 <= x < x0 + RASTERISER_TILE_SIZE,
// y0 <= y < y0 + RASTERISER_TILE_SIZE.
void RasteriserTile_Shade(const RasteriserBinBlock* commands, int x0, int y0);
