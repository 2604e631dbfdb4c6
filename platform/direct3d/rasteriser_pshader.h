// Pixel shaders of the software rasteriser: a version 1.0 or 1.1 token
// stream is checked and compiled once, when the device creates the shader,
// into a compact program of channel-wise operations; a draw with the shader
// bound runs that program over the lanes of each call of quads in place of
// the texture-stage cascade (rasteriser_span.cpp), four lanes at a time.
//
// What a program may hold (anything else is refused):
//   - first, up to four `tex tN`: stage N's texture sampled with the stage's
//     sampler states and texture coordinates (a stage without a texture
//     reads opaque black);
//   - then up to eight arithmetic slots of mov, add, mul, mad and lrp, a
//     slot being one instruction or a co-issued pair (one writes .rgb, the
//     other .a; both read the registers as they were before the pair);
//   - registers r0 (the result; it must be written), r1, t0..t3, v0 (the
//     diffuse colour), v1 (the specular colour, which this device does not
//     produce: it reads 0), c0..c7 (read only); a register is read only
//     where it was written before (t registers by their tex);
//   - source modifiers -x, x - 0.5, -(x - 0.5), 2 (x - 0.5), -2 (x - 0.5),
//     1 - x; selectors .rgba, .a, and .b in 1.1; write masks .rgba, .rgb,
//     .a; results scaled x2, x4 or /2 and saturated.
// Values run in single precision, every result clamped to [-1, 1] (to
// [0, 1] when saturated) as on the hardware these versions describe;
// constants are clamped to [-1, 1] when a draw takes them. r0 becomes the
// pixel colour clamped to [0, 1] and rounded to 8 bits a channel; fog,
// alpha test and blending follow as for the stage cascade.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
  RASTERISER_PSHADER_TEXTURES = 4,   // t0..t3
  RASTERISER_PSHADER_CONSTANTS = 8,  // c0..c7
  RASTERISER_PSHADER_MAX_OPS = 32,   // 16 instructions and a copy for each
  // The longest stream a program can be: version, four tex of two tokens,
  // sixteen instructions of five, end.
  RASTERISER_PSHADER_MAX_TOKENS = 1 + 4 * 2 + 16 * 5 + 1,
};

// A source of an operation: channel c of the result reads channel
// channel[c] (0 red, 1 green, 2 blue, 3 alpha) of register slot `slot`,
// taken as x * mul + add (the source modifier).
struct RasteriserPShaderSource {
  uint8_t slot;
  uint8_t channel[4];
  float mul, add;
};

// dst.channels in mask = clamp(scale x op(sources), lo, hi), op one of the
// instructions (a move copies a register through a temporary where a
// co-issued pair or a swizzle would read what it writes).
struct RasteriserPShaderOp {
  uint8_t kind;  // D3DSIO_MOV, ADD, MUL, MAD or LRP
  uint8_t dst;   // register slot
  uint8_t mask;  // bit c: channel c written
  float scale, lo, hi;
  RasteriserPShaderSource src[3];
};

// A compiled program. The device keeps one per shader; a draw takes a copy
// with the constants of the moment (the first RasteriserPShader_Bytes
// bytes: the ops past opCount are not part of it).
struct RasteriserPShader {
  uint32_t version;                                  // the version token
  uint8_t textures;                                  // bit N: the program samples stage N
  float constants[RASTERISER_PSHADER_CONSTANTS][4];  // c0..c7 (r, g, b, a), clamped
  int opCount;
  RasteriserPShaderOp ops[RASTERISER_PSHADER_MAX_OPS];
};

// Checks tokens[0..] (reading no more than maxTokens of them, and none past
// the end token) and compiles it into *out. Returns 1, or 0 with a short
// reason in *reason (when not null) and *out unspecified for a stream it
// refuses.
int RasteriserPShader_Compile(const uint32_t* tokens, size_t maxTokens, RasteriserPShader* out, const char** reason);

// The bytes of *program a copy must hold.
size_t RasteriserPShader_Bytes(const RasteriserPShader* program);

// Sets the program's constants from the device's c0..c7 (clamped to [-1, 1]).
void RasteriserPShader_SetConstants(RasteriserPShader* program, const float (*constants)[4]);

// Runs the program on `lanes` pixels (a multiple of 4, at most
// RASTERISER_LANES_MAX): diffuse and textures[N] (stage N's samples, or
// null when the stage has no texture) hold A8R8G8B8 lanes; out gets r0.
void RasteriserPShader_Run(const RasteriserPShader* program, const uint32_t* diffuse, const uint32_t* const* textures,
                           int lanes, uint32_t* out);
