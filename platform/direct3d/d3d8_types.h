// Direct3D 8 stand-in: numbers and plain records shared by the device and its
// callers. Values follow Direct3D 8's numbering where the driver relies on a
// number (render states, stage states, formats, FVF bits, result codes); the
// few the driver never spells out are chosen here and only have to be
// consistent inside this layer.
//
// Records are laid out as the driver fills them (field by field, never copied
// from or into files), so their size follows this platform's sizeof.
#pragma once

#include <cstdint>

typedef int32_t D3DRESULT;  // >= 0 success, < 0 failure (as the driver tests it)

// ---- results -----------------------------------------------------------------
constexpr D3DRESULT D3D_OK = 0;
constexpr D3DRESULT D3DERR_WRONGTEXTUREFORMAT = (D3DRESULT)0x88760818u;
constexpr D3DRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = (D3DRESULT)0x88760819u;
constexpr D3DRESULT D3DERR_UNSUPPORTEDCOLORARG = (D3DRESULT)0x8876081Au;
constexpr D3DRESULT D3DERR_UNSUPPORTEDALPHAOPERATION = (D3DRESULT)0x8876081Bu;
constexpr D3DRESULT D3DERR_UNSUPPORTEDALPHAARG = (D3DRESULT)0x8876081Cu;
constexpr D3DRESULT D3DERR_TOOMANYOPERATIONS = (D3DRESULT)0x8876081Du;
constexpr D3DRESULT D3DERR_NOTFOUND = (D3DRESULT)0x88760866u;
constexpr D3DRESULT D3DERR_NOTAVAILABLE = (D3DRESULT)0x8876086Au;
constexpr D3DRESULT D3DERR_DEVICELOST = (D3DRESULT)0x88760868u;
constexpr D3DRESULT D3DERR_DEVICENOTRESET = (D3DRESULT)0x88760869u;
constexpr D3DRESULT D3DERR_INVALIDCALL = (D3DRESULT)0x8876086Cu;
constexpr D3DRESULT D3DERR_OUTOFVIDEOMEMORY = (D3DRESULT)0x8876017Cu;
constexpr D3DRESULT D3DERR_OUTOFMEMORY = (D3DRESULT)0x8007000Eu;

constexpr uint32_t D3D_SDK_VERSION = 220;

// The largest side of any surface the stand-in makes (a back buffer too): keeps
// every size product far from overflow and every allocation within reason
// (8192 x 8192 x 4 bytes = 256 MB).
constexpr uint32_t D3D8_MAX_SURFACE_SIDE = 8192;

// ---- formats -----------------------------------------------------------------
constexpr uint32_t D3DFMT_UNKNOWN = 0;
constexpr uint32_t D3DFMT_A8R8G8B8 = 21;
constexpr uint32_t D3DFMT_X8R8G8B8 = 22;
constexpr uint32_t D3DFMT_R5G6B5 = 23;
constexpr uint32_t D3DFMT_X1R5G5B5 = 24;
constexpr uint32_t D3DFMT_A1R5G5B5 = 25;
constexpr uint32_t D3DFMT_A4R4G4B4 = 26;
constexpr uint32_t D3DFMT_P8 = 41;
constexpr uint32_t D3DFMT_L8 = 50;
constexpr uint32_t D3DFMT_D32 = 71;
constexpr uint32_t D3DFMT_D15S1 = 73;
constexpr uint32_t D3DFMT_D24S8 = 75;
constexpr uint32_t D3DFMT_D24X8 = 77;
constexpr uint32_t D3DFMT_D24X4S4 = 79;
constexpr uint32_t D3DFMT_D16 = 80;
constexpr uint32_t D3DFMT_INDEX16 = 101;
constexpr uint32_t D3DFMT_INDEX32 = 102;
constexpr uint32_t D3DMakeFourCC(char a, char b, char c, char d) {
  return (uint32_t)(uint8_t)a | ((uint32_t)(uint8_t)b << 8) | ((uint32_t)(uint8_t)c << 16) |
         ((uint32_t)(uint8_t)d << 24);
}
constexpr uint32_t D3DFMT_DXT1 = D3DMakeFourCC('D', 'X', 'T', '1');
constexpr uint32_t D3DFMT_DXT2 = D3DMakeFourCC('D', 'X', 'T', '2');
constexpr uint32_t D3DFMT_DXT3 = D3DMakeFourCC('D', 'X', 'T', '3');
constexpr uint32_t D3DFMT_DXT4 = D3DMakeFourCC('D', 'X', 'T', '4');
constexpr uint32_t D3DFMT_DXT5 = D3DMakeFourCC('D', 'X', 'T', '5');

// ---- device types, pools, usages, resource types, flags -----------------------
constexpr uint32_t D3DDEVTYPE_HAL = 1;
constexpr uint32_t D3DADAPTER_DEFAULT = 0;

constexpr uint32_t D3DPOOL_DEFAULT = 0;
constexpr uint32_t D3DPOOL_MANAGED = 1;
constexpr uint32_t D3DPOOL_SYSTEMMEM = 2;

constexpr uint32_t D3DUSAGE_RENDERTARGET = 0x1;
constexpr uint32_t D3DUSAGE_DEPTHSTENCIL = 0x2;
constexpr uint32_t D3DUSAGE_WRITEONLY = 0x8;
constexpr uint32_t D3DUSAGE_DONOTCLIP = 0x20;
constexpr uint32_t D3DUSAGE_DYNAMIC = 0x200;

constexpr uint32_t D3DRTYPE_SURFACE = 1;
constexpr uint32_t D3DRTYPE_TEXTURE = 3;
constexpr uint32_t D3DRTYPE_VERTEXBUFFER = 6;
constexpr uint32_t D3DRTYPE_INDEXBUFFER = 7;

constexpr uint32_t D3DLOCK_READONLY = 0x10;
constexpr uint32_t D3DLOCK_NOSYSLOCK = 0x800;
constexpr uint32_t D3DLOCK_NOOVERWRITE = 0x1000;
constexpr uint32_t D3DLOCK_DISCARD = 0x2000;
constexpr uint32_t D3DLOCK_NO_DIRTY_UPDATE = 0x8000;

constexpr uint32_t D3DCLEAR_TARGET = 1;
constexpr uint32_t D3DCLEAR_ZBUFFER = 2;
constexpr uint32_t D3DCLEAR_STENCIL = 4;

constexpr uint32_t D3DCREATE_PUREDEVICE = 0x10;
constexpr uint32_t D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr uint32_t D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;

constexpr uint32_t D3DSWAPEFFECT_DISCARD = 1;
constexpr uint32_t D3DSWAPEFFECT_FLIP = 2;
constexpr uint32_t D3DSWAPEFFECT_COPY = 3;
constexpr uint32_t D3DSWAPEFFECT_COPY_VSYNC = 4;
constexpr uint32_t D3DPRESENT_INTERVAL_DEFAULT = 0;
constexpr uint32_t D3DPRESENT_INTERVAL_ONE = 1;
constexpr uint32_t D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;
constexpr uint32_t D3DBACKBUFFER_TYPE_MONO = 0;

// ---- capability bits -----------------------------------------------------------
constexpr uint32_t D3DCAPS2_CANRENDERWINDOWED = 0x80000;
constexpr uint32_t D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x10000;
constexpr uint32_t D3DDEVCAPS_PUREDEVICE = 0x100000;
constexpr uint32_t D3DPRASTERCAPS_DITHER = 0x1;
constexpr uint32_t D3DPRASTERCAPS_FOGVERTEX = 0x80;
constexpr uint32_t D3DPRASTERCAPS_FOGTABLE = 0x100;
constexpr uint32_t D3DPRASTERCAPS_WFOG = 0x100000;
constexpr uint32_t D3DPTEXTURECAPS_PERSPECTIVE = 0x1;
constexpr uint32_t D3DPTEXTURECAPS_POW2 = 0x2;
constexpr uint32_t D3DPTEXTURECAPS_ALPHA = 0x4;
constexpr uint32_t D3DPTEXTURECAPS_SQUAREONLY = 0x20;
constexpr uint32_t D3DPTEXTURECAPS_ALPHAPALETTE = 0x80;
constexpr uint32_t D3DPTEXTURECAPS_NONPOW2CONDITIONAL = 0x100;
constexpr uint32_t D3DPTEXTURECAPS_MIPMAP = 0x4000;
constexpr uint32_t D3DPTFILTERCAPS_MINFPOINT = 0x100;
constexpr uint32_t D3DPTFILTERCAPS_MINFLINEAR = 0x200;
constexpr uint32_t D3DPTFILTERCAPS_MIPFPOINT = 0x10000;
constexpr uint32_t D3DPTFILTERCAPS_MIPFLINEAR = 0x20000;
constexpr uint32_t D3DPTFILTERCAPS_MAGFPOINT = 0x1000000;
constexpr uint32_t D3DPTFILTERCAPS_MAGFLINEAR = 0x2000000;
constexpr uint32_t D3DTEXOPCAPS_DISABLE = 0x1;
constexpr uint32_t D3DTEXOPCAPS_SELECTARG1 = 0x2;
constexpr uint32_t D3DTEXOPCAPS_SELECTARG2 = 0x4;
constexpr uint32_t D3DTEXOPCAPS_MODULATE = 0x8;
constexpr uint32_t D3DTEXOPCAPS_MODULATE2X = 0x10;
constexpr uint32_t D3DTEXOPCAPS_ADD = 0x40;
constexpr uint32_t D3DTEXOPCAPS_BLENDTEXTUREALPHA = 0x1000;
constexpr uint32_t D3DTEXOPCAPS_MULTIPLYADD = 0x1000000;
constexpr uint32_t D3DPTADDRESSCAPS_WRAP = 0x1;
constexpr uint32_t D3DPTADDRESSCAPS_MIRROR = 0x2;
constexpr uint32_t D3DPTADDRESSCAPS_CLAMP = 0x4;
constexpr uint32_t D3DPTADDRESSCAPS_BORDER = 0x8;

// ---- primitive types ------------------------------------------------------------
constexpr uint32_t D3DPT_POINTLIST = 1;
constexpr uint32_t D3DPT_LINELIST = 2;
constexpr uint32_t D3DPT_LINESTRIP = 3;
constexpr uint32_t D3DPT_TRIANGLELIST = 4;
constexpr uint32_t D3DPT_TRIANGLESTRIP = 5;
constexpr uint32_t D3DPT_TRIANGLEFAN = 6;

// ---- flexible vertex format bits -------------------------------------------------
// Memory order inside a vertex: position, normal, diffuse, specular, texture sets.
constexpr uint32_t D3DFVF_POSITION_MASK = 0x00E;
constexpr uint32_t D3DFVF_XYZ = 0x002;
constexpr uint32_t D3DFVF_XYZRHW = 0x004;
constexpr uint32_t D3DFVF_NORMAL = 0x010;
constexpr uint32_t D3DFVF_DIFFUSE = 0x040;
constexpr uint32_t D3DFVF_SPECULAR = 0x080;
constexpr uint32_t D3DFVF_TEXCOUNT_MASK = 0xF00;
constexpr uint32_t D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr uint32_t D3DFVF_TEX1 = 0x100;
constexpr uint32_t D3DFVF_TEX2 = 0x200;
// Two bits per set from bit 16: 0 = 2 floats, 1 = 3, 2 = 4, 3 = 1.
constexpr uint32_t D3DFVF_TEXCOORDSIZE_SHIFT = 16;

// ---- transforms -------------------------------------------------------------------
constexpr uint32_t D3DTS_VIEW = 2;
constexpr uint32_t D3DTS_PROJECTION = 3;
constexpr uint32_t D3DTS_TEXTURE0 = 16;  // TEXTURE0 + stage, stages 0-7
constexpr uint32_t D3DTS_WORLD = 256;    // WORLD + n for n = 0..3

// ---- render states (numbered as Direct3D 8 numbers them) -----------------------------
constexpr uint32_t D3DRS_ZENABLE = 7;
constexpr uint32_t D3DRS_SHADEMODE = 9;
constexpr uint32_t D3DRS_ZWRITEENABLE = 14;
constexpr uint32_t D3DRS_ALPHATESTENABLE = 15;
constexpr uint32_t D3DRS_SRCBLEND = 19;
constexpr uint32_t D3DRS_DESTBLEND = 20;
constexpr uint32_t D3DRS_CULLMODE = 22;
constexpr uint32_t D3DRS_ZFUNC = 23;
constexpr uint32_t D3DRS_ALPHAREF = 24;
constexpr uint32_t D3DRS_ALPHAFUNC = 25;
constexpr uint32_t D3DRS_DITHERENABLE = 26;
constexpr uint32_t D3DRS_ALPHABLENDENABLE = 27;
constexpr uint32_t D3DRS_FOGENABLE = 28;
constexpr uint32_t D3DRS_SPECULARENABLE = 29;
constexpr uint32_t D3DRS_FOGCOLOR = 34;
constexpr uint32_t D3DRS_FOGTABLEMODE = 35;
constexpr uint32_t D3DRS_FOGSTART = 36;    // float bits
constexpr uint32_t D3DRS_FOGEND = 37;      // float bits
constexpr uint32_t D3DRS_FOGDENSITY = 38;  // float bits
constexpr uint32_t D3DRS_STENCILENABLE = 52;  // takes effect with a depth surface that has stencil bits
constexpr uint32_t D3DRS_STENCILFAIL = 53;
constexpr uint32_t D3DRS_STENCILZFAIL = 54;
constexpr uint32_t D3DRS_STENCILPASS = 55;
constexpr uint32_t D3DRS_STENCILFUNC = 56;
constexpr uint32_t D3DRS_STENCILREF = 57;
constexpr uint32_t D3DRS_STENCILMASK = 58;
constexpr uint32_t D3DRS_STENCILWRITEMASK = 59;
constexpr uint32_t D3DRS_TEXTUREFACTOR = 60;
constexpr uint32_t D3DRS_CLIPPING = 136;
constexpr uint32_t D3DRS_LIGHTING = 137;
constexpr uint32_t D3DRS_AMBIENT = 139;
constexpr uint32_t D3DRS_FOGVERTEXMODE = 140;
constexpr uint32_t D3DRS_COLORVERTEX = 141;
constexpr uint32_t D3DRS_LOCALVIEWER = 142;
constexpr uint32_t D3DRS_NORMALIZENORMALS = 143;
constexpr uint32_t D3DRS_DIFFUSEMATERIALSOURCE = 145;
constexpr uint32_t D3DRS_SPECULARMATERIALSOURCE = 146;
constexpr uint32_t D3DRS_AMBIENTMATERIALSOURCE = 147;
constexpr uint32_t D3DRS_EMISSIVEMATERIALSOURCE = 148;
constexpr uint32_t D3DRS_COLORWRITEENABLE = 168;  // bits 0-3: red, green, blue, alpha
constexpr uint32_t D3D8_RENDERSTATE_COUNT = 256;  // storage size; any number below is kept

// ---- texture-stage states ----------------------------------------------------------
constexpr uint32_t D3DTSS_COLOROP = 1;
constexpr uint32_t D3DTSS_COLORARG1 = 2;
constexpr uint32_t D3DTSS_COLORARG2 = 3;
constexpr uint32_t D3DTSS_ALPHAOP = 4;
constexpr uint32_t D3DTSS_ALPHAARG1 = 5;
constexpr uint32_t D3DTSS_ALPHAARG2 = 6;
constexpr uint32_t D3DTSS_TEXCOORDINDEX = 11;
constexpr uint32_t D3DTSS_ADDRESSU = 13;
constexpr uint32_t D3DTSS_ADDRESSV = 14;
constexpr uint32_t D3DTSS_BORDERCOLOR = 15;
constexpr uint32_t D3DTSS_MAGFILTER = 16;
constexpr uint32_t D3DTSS_MINFILTER = 17;
constexpr uint32_t D3DTSS_MIPFILTER = 18;
constexpr uint32_t D3DTSS_MAXANISOTROPY = 21;
constexpr uint32_t D3DTSS_TEXTURETRANSFORMFLAGS = 24;
constexpr uint32_t D3DTSS_COLORARG0 = 26;
constexpr uint32_t D3DTSS_ALPHAARG0 = 27;
constexpr uint32_t D3D8_STAGESTATE_COUNT = 32;  // storage size per stage
constexpr uint32_t D3D8_MAX_STAGES = 8;

// Stage operations.
constexpr uint32_t D3DTOP_DISABLE = 1;
constexpr uint32_t D3DTOP_SELECTARG1 = 2;
constexpr uint32_t D3DTOP_SELECTARG2 = 3;
constexpr uint32_t D3DTOP_MODULATE = 4;
constexpr uint32_t D3DTOP_MODULATE2X = 5;
constexpr uint32_t D3DTOP_ADD = 7;
constexpr uint32_t D3DTOP_BLENDTEXTUREALPHA = 13;
constexpr uint32_t D3DTOP_MULTIPLYADD = 25;
// Stage arguments and the modifier.
constexpr uint32_t D3DTA_SELECTMASK = 0xF;
constexpr uint32_t D3DTA_DIFFUSE = 0;
constexpr uint32_t D3DTA_CURRENT = 1;
constexpr uint32_t D3DTA_TEXTURE = 2;
constexpr uint32_t D3DTA_TFACTOR = 3;
constexpr uint32_t D3DTA_ALPHAREPLICATE = 0x20;
// Texture-coordinate index: low bits pick a set, high bits ask for generation.
constexpr uint32_t D3DTSS_TCI_PASSTHRU = 0;
constexpr uint32_t D3DTSS_TCI_CAMERASPACENORMAL = 0x10000;
constexpr uint32_t D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR = 0x30000;
// Texture transform flags.
constexpr uint32_t D3DTTFF_DISABLE = 0;
constexpr uint32_t D3DTTFF_COUNT2 = 2;
constexpr uint32_t D3DTTFF_COUNT3 = 3;

// ---- state values --------------------------------------------------------------------
constexpr uint32_t D3DSHADE_FLAT = 1;
constexpr uint32_t D3DSHADE_GOURAUD = 2;
constexpr uint32_t D3DCULL_NONE = 1;
constexpr uint32_t D3DCULL_CW = 2;
constexpr uint32_t D3DCULL_CCW = 3;
constexpr uint32_t D3DCMP_NEVER = 1;
constexpr uint32_t D3DCMP_LESS = 2;
constexpr uint32_t D3DCMP_EQUAL = 3;
constexpr uint32_t D3DCMP_LESSEQUAL = 4;
constexpr uint32_t D3DCMP_GREATER = 5;
constexpr uint32_t D3DCMP_NOTEQUAL = 6;
constexpr uint32_t D3DCMP_GREATEREQUAL = 7;
constexpr uint32_t D3DCMP_ALWAYS = 8;
constexpr uint32_t D3DBLEND_ZERO = 1;
constexpr uint32_t D3DBLEND_ONE = 2;
constexpr uint32_t D3DBLEND_SRCCOLOR = 3;
constexpr uint32_t D3DBLEND_INVSRCCOLOR = 4;
constexpr uint32_t D3DBLEND_SRCALPHA = 5;
constexpr uint32_t D3DBLEND_INVSRCALPHA = 6;
constexpr uint32_t D3DBLEND_DESTALPHA = 7;
constexpr uint32_t D3DBLEND_INVDESTALPHA = 8;
constexpr uint32_t D3DBLEND_DESTCOLOR = 9;
constexpr uint32_t D3DBLEND_INVDESTCOLOR = 10;
constexpr uint32_t D3DBLEND_SRCALPHASAT = 11;
constexpr uint32_t D3DFOG_NONE = 0;
constexpr uint32_t D3DFOG_EXP = 1;
constexpr uint32_t D3DFOG_EXP2 = 2;
constexpr uint32_t D3DFOG_LINEAR = 3;
constexpr uint32_t D3DTADDRESS_WRAP = 1;
constexpr uint32_t D3DTADDRESS_MIRROR = 2;
constexpr uint32_t D3DTADDRESS_CLAMP = 3;
constexpr uint32_t D3DTADDRESS_BORDER = 4;
constexpr uint32_t D3DTEXF_NONE = 0;  // as a MIN/MAG filter: treated as POINT
constexpr uint32_t D3DTEXF_POINT = 1;
constexpr uint32_t D3DTEXF_LINEAR = 2;
constexpr uint32_t D3DMCS_MATERIAL = 0;
constexpr uint32_t D3DMCS_COLOR1 = 1;
constexpr uint32_t D3DMCS_COLOR2 = 2;
constexpr uint32_t D3DSTENCILOP_KEEP = 1;
constexpr uint32_t D3DSTENCILOP_ZERO = 2;
constexpr uint32_t D3DSTENCILOP_REPLACE = 3;
constexpr uint32_t D3DSTENCILOP_INCRSAT = 4;
constexpr uint32_t D3DSTENCILOP_DECRSAT = 5;
constexpr uint32_t D3DSTENCILOP_INVERT = 6;
constexpr uint32_t D3DSTENCILOP_INCR = 7;
constexpr uint32_t D3DSTENCILOP_DECR = 8;

// ---- lights ----------------------------------------------------------------------------
constexpr uint32_t D3DLIGHT_POINT = 1;
constexpr uint32_t D3DLIGHT_SPOT = 2;
constexpr uint32_t D3DLIGHT_DIRECTIONAL = 3;

// ---- pixel shader tokens (versions 1.0 and 1.1) ------------------------------------------
// A shader function is a version token, instruction tokens each followed by
// their parameter tokens (a destination, then the sources), and the end
// token. Versions before 2.0 leave an instruction's length bits 0: the
// opcode says how many parameters follow.
constexpr uint32_t D3DPS_VERSION_1_0 = 0xFFFF0100u;
constexpr uint32_t D3DPS_VERSION_1_1 = 0xFFFF0101u;
constexpr uint32_t D3DPS_END = 0x0000FFFFu;
// Instruction token: opcode in bits 0-15, co-issue bit 30 (the instruction
// runs beside the one before it: one writes colour, the other alpha).
constexpr uint32_t D3DSI_OPCODE_MASK = 0x0000FFFFu;
constexpr uint32_t D3DSI_INSTLENGTH_SHIFT = 24;
constexpr uint32_t D3DSI_COISSUE = 0x40000000u;
constexpr uint32_t D3DSIO_MOV = 1;
constexpr uint32_t D3DSIO_ADD = 2;
constexpr uint32_t D3DSIO_MAD = 4;
constexpr uint32_t D3DSIO_MUL = 5;
constexpr uint32_t D3DSIO_LRP = 18;
constexpr uint32_t D3DSIO_TEX = 66;
constexpr uint32_t D3DSIO_COMMENT = 0xFFFE;
// Parameter tokens: bit 31 set, register number in the low bits, register
// type in bits 28-30.
constexpr uint32_t D3DSP_TOKEN = 0x80000000u;
constexpr uint32_t D3DSP_REGNUM_MASK = 0x000007FFu;
constexpr uint32_t D3DSP_REGTYPE_SHIFT = 28;
constexpr uint32_t D3DSPR_TEMP = 0;     // r0 (the result), r1
constexpr uint32_t D3DSPR_INPUT = 1;    // v0 diffuse, v1 specular
constexpr uint32_t D3DSPR_CONST = 2;    // c0..c7
constexpr uint32_t D3DSPR_TEXTURE = 3;  // t0..t3, sampled from stages 0..3
// Destination: write mask, result modifier, result shift (x2, x4, /2).
constexpr uint32_t D3DSP_WRITEMASK_ALL = 0x000F0000u;
constexpr uint32_t D3DSP_WRITEMASK_COLOR = 0x00070000u;  // .rgb
constexpr uint32_t D3DSP_WRITEMASK_3 = 0x00080000u;      // .a
constexpr uint32_t D3DSPDM_SATURATE = 0x00100000u;
constexpr uint32_t D3DSP_DSTSHIFT_SHIFT = 24;
// Source: swizzle (two bits per component from bit 16) and modifier.
constexpr uint32_t D3DSP_NOSWIZZLE = 0x00E40000u;
constexpr uint32_t D3DSP_REPLICATEALPHA = 0x00FF0000u;
constexpr uint32_t D3DSP_REPLICATEBLUE = 0x00AA0000u;  // 1.1
constexpr uint32_t D3DSP_SRCMOD_SHIFT = 24;
constexpr uint32_t D3DSPSM_NONE = 0;
constexpr uint32_t D3DSPSM_NEG = 1;      // -x
constexpr uint32_t D3DSPSM_BIAS = 2;     // x - 0.5
constexpr uint32_t D3DSPSM_BIASNEG = 3;  // -(x - 0.5)
constexpr uint32_t D3DSPSM_SIGN = 4;     // 2 (x - 0.5)
constexpr uint32_t D3DSPSM_SIGNNEG = 5;  // -2 (x - 0.5)
constexpr uint32_t D3DSPSM_COMP = 6;     // 1 - x

// ---- plain records -------------------------------------------------------------------------
struct D3DVECTOR {
  float x, y, z;
};

struct D3DCOLORVALUE {
  float r, g, b, a;
};

// Row-vector convention: a point p becomes p x M, translation sits in row 3 (m[3][0..2]).
struct D3DMATRIX {
  float m[4][4];
};

struct D3DMATERIAL8 {
  D3DCOLORVALUE Diffuse;
  D3DCOLORVALUE Ambient;
  D3DCOLORVALUE Specular;
  D3DCOLORVALUE Emissive;
  float Power;
};

struct D3DLIGHT8 {
  uint32_t Type;  // D3DLIGHT_POINT, _SPOT or _DIRECTIONAL
  D3DCOLORVALUE Diffuse;
  D3DCOLORVALUE Specular;
  D3DCOLORVALUE Ambient;
  D3DVECTOR Position;   // world space; point and spot
  D3DVECTOR Direction;  // world space; spot and directional (light travels along it)
  float Range;          // nothing is lit beyond it (point and spot)
  float Falloff;
  float Attenuation0, Attenuation1, Attenuation2;  // 1 / (a0 + a1 d + a2 d^2)
  float Theta;  // inner cone angle, radians (full angle)
  float Phi;    // outer cone angle, radians (full angle)
};

struct D3DVIEWPORT8 {
  uint32_t X, Y;  // the driver passes signed offsets; negative ones arrive as large values
  uint32_t Width, Height;
  float MinZ, MaxZ;
};

struct D3DRECT8 {  // RECT: left, top, right, bottom (right and bottom exclusive)
  int32_t left, top, right, bottom;
};

struct D3DPOINT8 {
  int32_t x, y;
};

struct D3DLOCKED_RECT {
  int32_t Pitch;  // bytes per row (per row of 4x4 blocks for DXT)
  void* pBits;
};

struct D3DSURFACE_DESC {
  uint32_t Format;
  uint32_t Type;  // D3DRTYPE_SURFACE
  uint32_t Usage;
  uint32_t Pool;
  uint32_t Size;  // bytes of pixel data
  uint32_t MultiSampleType;
  uint32_t Width, Height;
};

struct D3DDISPLAYMODE {
  uint32_t Width, Height;
  uint32_t RefreshRate;
  uint32_t Format;
};

struct D3DADAPTER_IDENTIFIER8 {
  char Driver[512];
  char Description[512];
  uint32_t VendorId, DeviceId;
};

struct D3DPRESENT_PARAMETERS {
  uint32_t BackBufferWidth, BackBufferHeight;  // 0 when windowed = the window's client size
  uint32_t BackBufferFormat;
  uint32_t BackBufferCount;
  uint32_t MultiSampleType;
  uint32_t SwapEffect;
  void* hDeviceWindow;  // the window owner's handle (see d3d8_present.h); may be null
  int32_t Windowed;
  int32_t EnableAutoDepthStencil;
  uint32_t AutoDepthStencilFormat;
  uint32_t Flags;
  uint32_t FullScreen_RefreshRateInHz;
  uint32_t FullScreen_PresentationInterval;
};

// The capability fields the driver reads, with the stand-in's answers.
struct D3DCAPS8 {
  uint32_t DeviceType;
  uint32_t AdapterOrdinal;
  uint32_t Caps, Caps2, Caps3;
  uint32_t PresentationIntervals;
  uint32_t DevCaps;
  uint32_t PrimitiveMiscCaps;
  uint32_t RasterCaps;
  uint32_t ZCmpCaps, SrcBlendCaps, DestBlendCaps, AlphaCmpCaps, ShadeCaps;
  uint32_t TextureCaps;
  uint32_t TextureFilterCaps;
  uint32_t TextureAddressCaps;
  uint32_t MaxTextureWidth, MaxTextureHeight;
  uint32_t TextureOpCaps;
  uint32_t MaxTextureBlendStages;
  uint32_t MaxSimultaneousTextures;
  uint32_t MaxActiveLights;  // 0 would mean unlimited
  uint32_t FVFCaps;
  uint32_t VertexShaderVersion;
  uint32_t PixelShaderVersion;
};

struct PALETTEENTRY {  // one palette entry: red, green, blue, and alpha in the flags byte
  uint8_t peRed, peGreen, peBlue, peFlags;
};
