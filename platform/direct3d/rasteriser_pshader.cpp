// Pixel shaders of the software rasteriser: the token check, the compiler
// and the interpreter (see rasteriser_pshader.h).
//
// The interpreter runs one operation at a time over a block of 16 lanes
// (four quads), each register held as four channel rows of floats, so
// every step is a handful of SSE instructions on four pixels with no
// branch per pixel: which registers, channels and modifiers an operation
// uses was settled when the program was compiled. Blocks keep the register
// file (a few kilobytes) in the first-level cache whatever the length of
// the call.
#include "platform/direct3d/rasteriser_pshader.h"

#include <algorithm>
#include <cstring>
#include <xmmintrin.h>
#include <emmintrin.h>

#include "platform/direct3d/d3d8_types.h"

namespace {

// Register slots of the interpreter's register file.
constexpr uint8_t SLOT_R0 = 0;  // r1 is slot 1
constexpr uint8_t SLOT_T0 = 2;  // t0..t3
constexpr uint8_t SLOT_V0 = 6, SLOT_V1 = 7;
constexpr uint8_t SLOT_C0 = 8;                       // c0..c7
constexpr uint8_t SLOT_TMP_A = 16, SLOT_TMP_B = 17;  // results held back (see Generate)
constexpr int SLOT_COUNT = 18;
constexpr uint8_t SLOT_NONE = 0xFF;

constexpr int kBlock = 16;            // lanes per block
constexpr int kMaxInstructions = 16;  // eight slots, each at most a co-issued pair
constexpr int kMaxSlots = 8;          // arithmetic slots

// Parameter token fields.
constexpr uint32_t kReservedParamBits = 0x0000F800u;  // above the register number
constexpr uint32_t kDstModifierBits = 0x00F00000u;
constexpr uint32_t kInstructionReserved = 0x30FF0000u;  // specific controls and bits 28-29
constexpr uint32_t kLengthMask = 0x0F000000u;

// An arithmetic instruction as read from the stream.
struct Instruction {
  uint32_t opcode;
  bool coissue;
  uint8_t dst, mask;
  float scale;
  bool saturate;
  int sourceCount;
  RasteriserPShaderSource src[3];
};

int SourceCount(uint32_t opcode) {
  switch (opcode) {
    case D3DSIO_MOV: return 1;
    case D3DSIO_ADD:
    case D3DSIO_MUL: return 2;
    case D3DSIO_MAD:
    case D3DSIO_LRP: return 3;
    default: return -1;
  }
}

uint8_t SlotOf(uint32_t token, bool destination) {
  const uint32_t type = (token >> D3DSP_REGTYPE_SHIFT) & 7, number = token & D3DSP_REGNUM_MASK;
  switch (type) {
    case D3DSPR_TEMP: return number < 2 ? uint8_t(SLOT_R0 + number) : SLOT_NONE;
    case D3DSPR_TEXTURE: return number < 4 ? uint8_t(SLOT_T0 + number) : SLOT_NONE;
    case D3DSPR_INPUT: return !destination && number < 2 ? uint8_t(SLOT_V0 + number) : SLOT_NONE;
    case D3DSPR_CONST: return !destination && number < 8 ? uint8_t(SLOT_C0 + number) : SLOT_NONE;
    default: return SLOT_NONE;
  }
}

// Reads the stream one token at a time, never past maxTokens.
struct Reader {
  const uint32_t* tokens;
  size_t count, at;
  bool Next(uint32_t* token) {
    if (at >= count) return false;
    *token = tokens[at++];
    return true;
  }
};

// The program being checked: what each slot's channels hold so far.
struct Checker {
  uint32_t version;
  uint8_t written[SLOT_COUNT];  // bit c: channel c has a value
  const char* reason;
  bool Refuse(const char* why) {
    reason = why;
    return false;
  }

  bool Destination(uint32_t token, Instruction* in) {
    if (!(token & D3DSP_TOKEN) || (token & kReservedParamBits)) return Refuse("malformed destination");
    in->dst = SlotOf(token, true);
    if (in->dst == SLOT_NONE) return Refuse("destination register not writable");
    const uint32_t mask = (token >> 16) & 15;
    if (mask != 15 && mask != 7 && mask != 8) return Refuse("write mask other than .rgba, .rgb or .a");
    in->mask = uint8_t(mask);
    const uint32_t modifier = token & kDstModifierBits;
    if (modifier != 0 && modifier != D3DSPDM_SATURATE) return Refuse("unknown result modifier");
    in->saturate = modifier != 0;
    switch ((token >> D3DSP_DSTSHIFT_SHIFT) & 15) {
      case 0: in->scale = 1.0f; break;
      case 1: in->scale = 2.0f; break;
      case 2: in->scale = 4.0f; break;
      case 15: in->scale = 0.5f; break;
      default: return Refuse("result shift other than x2, x4 or /2");
    }
    return true;
  }

  bool Source(uint32_t token, RasteriserPShaderSource* s) {
    if (!(token & D3DSP_TOKEN) || (token & kReservedParamBits)) return Refuse("malformed source");
    s->slot = SlotOf(token, false);
    if (s->slot == SLOT_NONE) return Refuse("source register not readable");
    const uint32_t swizzle = token & 0x00FF0000u;
    if (swizzle != D3DSP_NOSWIZZLE && swizzle != D3DSP_REPLICATEALPHA &&
        !(swizzle == D3DSP_REPLICATEBLUE && version >= D3DPS_VERSION_1_1))
      return Refuse("source selector other than .rgba, .a or (1.1) .b");
    for (int c = 0; c < 4; ++c) s->channel[c] = uint8_t((swizzle >> (16 + 2 * c)) & 3);
    static const float kModifiers[7][2] = {{1, 0}, {-1, 0}, {1, -0.5f}, {-1, 0.5f}, {2, -1}, {-2, 1}, {-1, 1}};
    const uint32_t modifier = (token >> D3DSP_SRCMOD_SHIFT) & 15;
    if (modifier > D3DSPSM_COMP) return Refuse("unknown source modifier");
    s->mul = kModifiers[modifier][0];
    s->add = kModifiers[modifier][1];
    return true;
  }

  // The channels an instruction reads all have values.
  bool Reads(const Instruction& in) {
    for (int k = 0; k < in.sourceCount; ++k)
      for (int c = 0; c < 4; ++c)
        if ((in.mask >> c & 1) && !(written[in.src[k].slot] >> in.src[k].channel[c] & 1))
          return Refuse("register read before it is written");
    return true;
  }
};

// True when channel c of `in` reads a channel of `slot` in `mask` that an
// earlier channel of the same instruction (when `self`) or the instruction
// itself has already written.
bool ReadsWritten(const Instruction& in, uint8_t slot, uint8_t mask, bool self) {
  for (int k = 0; k < in.sourceCount; ++k) {
    if (in.src[k].slot != slot) continue;
    for (int c = 0; c < 4; ++c) {
      if (!(in.mask >> c & 1)) continue;
      const int from = in.src[k].channel[c];
      if ((mask >> from & 1) && (!self || from < c)) return true;
    }
  }
  return false;
}

void Emit(RasteriserPShader* p, const Instruction& in, uint8_t dst) {
  RasteriserPShaderOp& op = p->ops[p->opCount++];
  memset(&op, 0, sizeof op);
  op.kind = uint8_t(in.opcode);
  op.dst = dst;
  op.mask = in.mask;
  op.scale = in.scale;
  op.lo = in.saturate ? 0.0f : -1.0f;
  op.hi = 1.0f;
  for (int k = 0; k < in.sourceCount; ++k) op.src[k] = in.src[k];
}

void EmitCopy(RasteriserPShader* p, uint8_t from, uint8_t to, uint8_t mask) {
  Instruction copy{};
  copy.opcode = D3DSIO_MOV;
  copy.mask = mask;
  copy.scale = 1.0f;
  copy.sourceCount = 1;
  copy.src[0] = RasteriserPShaderSource{from, {0, 1, 2, 3}, 1.0f, 0.0f};
  Emit(p, copy, to);
}

// Turns the checked instructions into operations. An instruction that would
// read a channel already overwritten (by an earlier channel of its own, or,
// for the first of a co-issued pair, by itself before the second reads it)
// writes a temporary that is copied in after the pair.
void Generate(const Instruction* ins, int count, RasteriserPShader* p) {
  for (int k = 0; k < count;) {
    const Instruction& a = ins[k];
    const Instruction* b = k + 1 < count && ins[k + 1].coissue ? &ins[k + 1] : nullptr;
    const bool aTemp = ReadsWritten(a, a.dst, a.mask, true) || (b && ReadsWritten(*b, a.dst, a.mask, false));
    const bool bTemp = b && ReadsWritten(*b, b->dst, b->mask, true);
    Emit(p, a, aTemp ? SLOT_TMP_A : a.dst);
    if (b) Emit(p, *b, bTemp ? SLOT_TMP_B : b->dst);
    if (aTemp) EmitCopy(p, SLOT_TMP_A, a.dst, a.mask);
    if (bTemp) EmitCopy(p, SLOT_TMP_B, b->dst, b->mask);
    k += b ? 2 : 1;
  }
}

float Clamp1(float v) { return v > 1.0f ? 1.0f : (v >= -1.0f ? v : -1.0f); }  // NaN reads -1

// ---- the interpreter ----------------------------------------------------------

using Registers = float[SLOT_COUNT][4][kBlock];

// A8R8G8B8 lanes into four channel rows of 0..1.
void Unpack(const uint32_t* in, float (*rows)[kBlock], int n) {
  const __m128i low = _mm_set1_epi32(255);
  const __m128 scale = _mm_set1_ps(1.0f / 255.0f);
  for (int j = 0; j < n; j += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
    _mm_store_ps(rows[0] + j, _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(v, 16), low)), scale));
    _mm_store_ps(rows[1] + j, _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(v, 8), low)), scale));
    _mm_store_ps(rows[2] + j, _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(v, low)), scale));
    _mm_store_ps(rows[3] + j, _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(v, 24)), scale));
  }
}

void Fill(float (*rows)[kBlock], const float* value) {
  for (int c = 0; c < 4; ++c) {
    const __m128 v = _mm_set1_ps(value[c]);
    for (int j = 0; j < kBlock; j += 4) _mm_store_ps(rows[c] + j, v);
  }
}

// Channel rows clamped to 0..1 and rounded into A8R8G8B8 lanes.
void Pack(const float (*rows)[kBlock], uint32_t* out, int n) {
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), top = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
  auto channel = [&](int c, int j) {
    const __m128 v = _mm_min_ps(_mm_max_ps(_mm_load_ps(rows[c] + j), zero), one);
    return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, top), half));
  };
  for (int j = 0; j < n; j += 4) {
    const __m128i argb =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi32(channel(3, j), 24), _mm_slli_epi32(channel(0, j), 16)),
                     _mm_or_si128(_mm_slli_epi32(channel(1, j), 8), channel(2, j)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), argb);
  }
}

inline __m128 Load(const RasteriserPShaderSource& s, const float* row, int j) {
  return _mm_add_ps(_mm_mul_ps(_mm_load_ps(row + j), _mm_set1_ps(s.mul)), _mm_set1_ps(s.add));
}

template <uint32_t Kind>
void RunOp(const RasteriserPShaderOp& op, Registers& reg, int n) {
  constexpr int sources = Kind == D3DSIO_MOV ? 1 : (Kind == D3DSIO_ADD || Kind == D3DSIO_MUL) ? 2 : 3;
  const __m128 scale = _mm_set1_ps(op.scale), lo = _mm_set1_ps(op.lo), hi = _mm_set1_ps(op.hi), one = _mm_set1_ps(1.0f);
  for (int c = 0; c < 4; ++c) {
    if (!(op.mask >> c & 1)) continue;
    const float* rows[3];
    for (int k = 0; k < sources; ++k) rows[k] = reg[op.src[k].slot][op.src[k].channel[c]];
    float* out = reg[op.dst][c];
    for (int j = 0; j < n; j += 4) {
      const __m128 a = Load(op.src[0], rows[0], j);
      __m128 r;
      if constexpr (Kind == D3DSIO_MOV) {
        r = a;
      } else if constexpr (Kind == D3DSIO_ADD) {
        r = _mm_add_ps(a, Load(op.src[1], rows[1], j));
      } else if constexpr (Kind == D3DSIO_MUL) {
        r = _mm_mul_ps(a, Load(op.src[1], rows[1], j));
      } else if constexpr (Kind == D3DSIO_MAD) {
        r = _mm_add_ps(_mm_mul_ps(a, Load(op.src[1], rows[1], j)), Load(op.src[2], rows[2], j));
      } else {  // lrp: a b + (1 - a) d
        r = _mm_add_ps(_mm_mul_ps(a, Load(op.src[1], rows[1], j)),
                       _mm_mul_ps(_mm_sub_ps(one, a), Load(op.src[2], rows[2], j)));
      }
      // max before min: a NaN becomes lo.
      _mm_store_ps(out + j, _mm_min_ps(_mm_max_ps(_mm_mul_ps(r, scale), lo), hi));
    }
  }
}

}  // namespace

int RasteriserPShader_Compile(const uint32_t* tokens, size_t maxTokens, RasteriserPShader* out, const char** reason) {
  Checker check{};
  Reader read{tokens, tokens ? maxTokens : 0, 0};
  uint32_t token = 0;
  bool ok = read.Next(&token) || check.Refuse("empty stream");
  if (ok && token != D3DPS_VERSION_1_0 && token != D3DPS_VERSION_1_1)
    ok = check.Refuse("not a 1.0 or 1.1 pixel shader");
  check.version = token;
  for (int s = SLOT_V0; s < SLOT_C0 + RASTERISER_PSHADER_CONSTANTS; ++s) check.written[s] = 15;
  Instruction ins[kMaxInstructions];
  int count = 0, slots = 0;
  uint8_t textures = 0;
  // The writes of the last instruction (and its co-issued partner) take
  // effect for the instruction after them, not for its partner.
  uint8_t pendingSlot[2] = {SLOT_NONE, SLOT_NONE}, pendingMask[2] = {0, 0};
  auto commit = [&] {
    for (int k = 0; k < 2; ++k)
      if (pendingSlot[k] != SLOT_NONE) check.written[pendingSlot[k]] |= pendingMask[k];
    pendingSlot[0] = pendingSlot[1] = SLOT_NONE;
  };
  while (ok) {
    if (!read.Next(&token)) {
      ok = check.Refuse("no end token");
      break;
    }
    if (token == D3DPS_END) break;
    const uint32_t opcode = token & D3DSI_OPCODE_MASK;
    const uint32_t length = (token & kLengthMask) >> D3DSI_INSTLENGTH_SHIFT;
    const bool coissue = (token & D3DSI_COISSUE) != 0;
    uint32_t param = 0;
    if (token & D3DSP_TOKEN) {
      ok = check.Refuse("parameter token where an instruction was expected");
    } else if (opcode == D3DSIO_TEX) {
      // tex tN: one parameter, the whole t register, unmodified.
      if ((token & kInstructionReserved) || coissue || (length != 0 && length != 1)) {
        ok = check.Refuse("malformed instruction token");
      } else if (count > 0) {
        ok = check.Refuse("tex after an arithmetic instruction");
      } else if (!read.Next(&param)) {
        ok = check.Refuse("no end token");
      } else if ((param & ~(D3DSP_TOKEN | D3DSP_WRITEMASK_ALL | D3DSP_REGNUM_MASK | (7u << D3DSP_REGTYPE_SHIFT))) ||
                 (param & (D3DSP_TOKEN | D3DSP_WRITEMASK_ALL)) != (D3DSP_TOKEN | D3DSP_WRITEMASK_ALL) ||
                 ((param >> D3DSP_REGTYPE_SHIFT) & 7) != D3DSPR_TEXTURE || (param & D3DSP_REGNUM_MASK) >= 4) {
        ok = check.Refuse("tex of something other than a whole t register");
      } else if (textures >> (param & 3) & 1) {
        ok = check.Refuse("texture register sampled twice");
      } else {
        textures = uint8_t(textures | 1u << (param & 3));
        check.written[SLOT_T0 + (param & 3)] = 15;
      }
    } else {
      const int sources = SourceCount(opcode);
      Instruction& in = ins[count < kMaxInstructions ? count : 0];
      in = Instruction{};
      in.opcode = opcode;
      in.coissue = coissue;
      in.sourceCount = sources;
      if (sources < 0) {
        ok = check.Refuse(opcode == D3DSIO_COMMENT ? "comment" : "instruction other than tex, mov, add, mul, mad, lrp");
      } else if ((token & kInstructionReserved) || (length != 0 && length != uint32_t(sources) + 1)) {
        ok = check.Refuse("malformed instruction token");
      } else if (count == kMaxInstructions || (!coissue && slots == kMaxSlots)) {
        ok = check.Refuse("more than eight arithmetic instructions");
      } else if (coissue && (count == 0 || ins[count - 1].coissue)) {
        ok = check.Refuse("co-issue without an instruction to pair with");
      } else if (!read.Next(&param)) {
        ok = check.Refuse("no end token");
      } else {
        ok = check.Destination(param, &in);
        for (int k = 0; ok && k < sources; ++k)
          ok = read.Next(&param) ? check.Source(param, &in.src[k]) : check.Refuse("no end token");
      }
      if (ok && coissue && ((ins[count - 1].mask | in.mask) != 15 || (ins[count - 1].mask & in.mask)))
        ok = check.Refuse("co-issued pair not split into .rgb and .a");
      if (ok && !coissue) commit();
      if (ok) ok = check.Reads(in);
      if (ok) {
        pendingSlot[coissue ? 1 : 0] = in.dst;
        pendingMask[coissue ? 1 : 0] = in.mask;
        slots += coissue ? 0 : 1;
        ++count;
      }
    }
  }
  commit();
  if (ok && !check.written[SLOT_R0]) ok = check.Refuse("r0 never written");
  if (reason) *reason = ok ? nullptr : check.reason;
  if (!ok) return 0;
  memset(static_cast<void*>(out), 0, offsetof(RasteriserPShader, ops));
  out->version = check.version;
  out->textures = textures;
  out->opCount = 0;
  Generate(ins, count, out);
  return 1;
}

size_t RasteriserPShader_Bytes(const RasteriserPShader* program) {
  return offsetof(RasteriserPShader, ops) + size_t(program->opCount) * sizeof(RasteriserPShaderOp);
}

void RasteriserPShader_SetConstants(RasteriserPShader* program, const float (*constants)[4]) {
  for (int r = 0; r < RASTERISER_PSHADER_CONSTANTS; ++r)
    for (int c = 0; c < 4; ++c) program->constants[r][c] = Clamp1(constants[r][c]);
}

void RasteriserPShader_Run(const RasteriserPShader* program, const uint32_t* diffuse, const uint32_t* const* textures,
                           int lanes, uint32_t* out) {
  const RasteriserPShader& p = *program;
  alignas(16) Registers reg;
  static const float kZero[4] = {0, 0, 0, 0}, kOpaqueBlack[4] = {0, 0, 0, 1};
  for (int r = 0; r < RASTERISER_PSHADER_CONSTANTS; ++r) Fill(reg[SLOT_C0 + r], p.constants[r]);
  Fill(reg[SLOT_V1], kZero);
  for (int start = 0; start < lanes; start += kBlock) {
    const int n = std::min(kBlock, lanes - start);
    Unpack(diffuse + start, reg[SLOT_V0], n);
    for (int t = 0; t < RASTERISER_PSHADER_TEXTURES; ++t) {
      if (!(p.textures >> t & 1)) continue;
      if (textures[t])
        Unpack(textures[t] + start, reg[SLOT_T0 + t], n);
      else
        Fill(reg[SLOT_T0 + t], kOpaqueBlack);
    }
    Fill(reg[SLOT_R0], kZero);  // channels the program never writes read 0
    for (int i = 0; i < p.opCount; ++i) {
      const RasteriserPShaderOp& op = p.ops[i];
      switch (op.kind) {
        case D3DSIO_MOV: RunOp<D3DSIO_MOV>(op, reg, n); break;
        case D3DSIO_ADD: RunOp<D3DSIO_ADD>(op, reg, n); break;
        case D3DSIO_MUL: RunOp<D3DSIO_MUL>(op, reg, n); break;
        case D3DSIO_MAD: RunOp<D3DSIO_MAD>(op, reg, n); break;
        default: RunOp<D3DSIO_LRP>(op, reg, n); break;
      }
    }
    Pack(reg[SLOT_R0], out + start, n);
  }
}
