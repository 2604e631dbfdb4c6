// Records shared by the rasteriser's stages (vertex processing, clipping and
// triangle setup, span shading). Internal to platform/direct3d.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_draw.h"

enum { RASTERISER_SPAN_MAX = 64 };  // pixels shaded per span call

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

// Per-primitive interpolation set-up handed to the span shader. Plane 0 is
// depth, plane 1 is 1/w, planes 2.. are attribute x 1/w.
struct RasteriserSetup {
  float refX, refY;
  bool perspective;  // false: 1/w is constant, skip the per-pixel divide
  float w;           // the constant w when !perspective
  bool flat;         // colour is flatColour, not interpolated
  uint32_t flatColour;
  RasteriserPlane p[2 + RASTERISER_MAX_ATTRS];
};

// How one combiner stage samples and combines, decided once per draw.
struct RasteriserStage {
  uint32_t colourOp, colourArg[3];  // arg1, arg2, arg0
  uint32_t alphaOp, alphaArg[3];
  bool sample;       // reads its texture
  bool needLod;      // minification or mip selection needs a level of detail
  bool wrapPow2;     // wrap addressing on power-of-two levels: masks instead of addressing
  const D3D8DrawTexture* texture;
  int levelCount;    // levels the sampler may use (1 without mip filtering)
  int attr;          // index of u (v follows) in RasteriserVertex::a
  uint32_t addressU, addressV, border;
  uint32_t magFilter, minFilter, mipFilter;
  float levelScaleU[D3D8_MAX_MIP_LEVELS], levelScaleV[D3D8_MAX_MIP_LEVELS];
};

// Everything the pixel stage needs, decided once per draw.
struct RasteriserPlan {
  const D3D8DrawState* state;
  int stageCount;    // stages run by the combiner (0: diffuse passes through)
  RasteriserStage stages[D3D8_MAX_STAGES];
  int attrCount;     // attributes in use
  bool fog;
  uint32_t fogColour;
  bool alphaTest;
  uint32_t alphaFunc, alphaRef;
  bool depthTest, depthWrite;  // only with a depth surface bound
  uint32_t depthFunc, depthFormat, depthMask;
  int depthBytes;
  bool blend;
  uint32_t srcBlend, destBlend;
  uint32_t writeMask;  // COLORWRITEENABLE bits as an ARGB mask
  uint32_t textureFactor;
  uint32_t factorSpan[RASTERISER_SPAN_MAX], zeroSpan[RASTERISER_SPAN_MAX];  // constant combiner arguments, one span long
  uint32_t targetFormat;
  int targetBytes;
  int clipX0, clipY0, clipX1, clipY1;  // scissor: the viewport, end exclusive
};

// Decides the per-draw pixel plan. Returns 0 when the target format cannot be
// drawn to.
int RasteriserSpan_Plan(const D3D8DrawState* state, RasteriserPlan* plan);

// Shades and writes pixels x .. x+n-1 of row y (already scissored, n <= 64).
void RasteriserSpan_Shade(const RasteriserPlan* plan, const RasteriserSetup* setup, int x, int y, int n);

// Vertex processing: transforms, lights, generates texture coordinates and fog
// for `count` vertices starting at `first` into out[0..count). Positions go
// through one path whatever else is enabled.
void RasteriserVertex_Process(const RasteriserPlan* plan, int first, int count, RasteriserVertex* out);
