// Test helpers for the software rasteriser: scenes drawn through the device's
// own calls, textures with mip chains, vertex layouts from FVF codes,
// matrices, and golden-image comparison (golden/*.png; HELM_REGEN_GOLDEN=1
// rewrites them: look at each before committing it). The rasteriser sets its
// own floating-point mode for each draw, so the images do not depend on the
// caller's.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/direct3d/d3d8.h"
#include "platform/direct3d/d3d8_fvf.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/d3d8_test.h"
#include "tests/platform/direct3d/golden_match.h"
#include "platform/direct3d/rasteriser_format.h"
#include "tests/test_env.h"

namespace raster_test {

inline uint32_t FloatBits(float f) {
  uint32_t v;
  memcpy(&v, &f, 4);
  return v;
}

inline D3DMATRIX Identity() {
  D3DMATRIX m{};
  for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
  return m;
}

inline D3DMATRIX Mul(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
  return r;
}

inline D3DMATRIX Translation(float x, float y, float z) {
  D3DMATRIX m = Identity();
  m.m[3][0] = x, m.m[3][1] = y, m.m[3][2] = z;
  return m;
}

// A rotation about y by `a` radians.
inline D3DMATRIX RotationY(float a) {
  D3DMATRIX m = Identity();
  m.m[0][0] = m.m[2][2] = std::cos(a), m.m[0][2] = -std::sin(a), m.m[2][0] = std::sin(a);
  return m;
}

// Left-handed perspective, depth 0 at zn and 1 at zf.
inline D3DMATRIX Perspective(float fovY, float aspect, float zn, float zf) {
  D3DMATRIX m{};
  float ys = 1.0f / std::tan(fovY * 0.5f), xs = ys / aspect;
  m.m[0][0] = xs, m.m[1][1] = ys;
  m.m[2][2] = zf / (zf - zn), m.m[2][3] = 1.0f;
  m.m[3][2] = -zn * zf / (zf - zn);
  return m;
}

// Left-handed look-at view matrix.
inline D3DMATRIX LookAt(const float* eye, const float* at) {
  float z[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
  float zl = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
  for (float& c : z) c /= zl;
  float up[3] = {0, 1, 0};
  float x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
  float xl = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
  for (float& c : x) c /= xl;
  float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
  D3DMATRIX m = Identity();
  for (int i = 0; i < 3; ++i) m.m[i][0] = x[i], m.m[i][1] = y[i], m.m[i][2] = z[i];
  m.m[3][0] = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
  m.m[3][1] = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
  m.m[3][2] = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
  return m;
}

// Pixel-shader tokens: registers, destinations (write mask and result
// bits) and sources (selector and modifier).
namespace ps {
constexpr uint32_t Reg(uint32_t type, uint32_t n) { return D3DSP_TOKEN | type << D3DSP_REGTYPE_SHIFT | n; }
constexpr uint32_t R(uint32_t n) { return Reg(D3DSPR_TEMP, n); }
constexpr uint32_t T(uint32_t n) { return Reg(D3DSPR_TEXTURE, n); }
constexpr uint32_t V(uint32_t n) { return Reg(D3DSPR_INPUT, n); }
constexpr uint32_t C(uint32_t n) { return Reg(D3DSPR_CONST, n); }
constexpr uint32_t Dst(uint32_t reg, uint32_t mask = D3DSP_WRITEMASK_ALL, uint32_t result = 0) {
  return reg | mask | result;
}
constexpr uint32_t Src(uint32_t reg, uint32_t selector = D3DSP_NOSWIZZLE, uint32_t modifier = D3DSPSM_NONE) {
  return reg | selector | modifier << D3DSP_SRCMOD_SHIFT;
}
constexpr uint32_t RGB = D3DSP_WRITEMASK_COLOR, ALPHA = D3DSP_WRITEMASK_3;
constexpr uint32_t SAT = D3DSPDM_SATURATE, X2 = 1u << D3DSP_DSTSHIFT_SHIFT, X4 = 2u << D3DSP_DSTSHIFT_SHIFT,
                   D2 = 15u << D3DSP_DSTSHIFT_SHIFT;
}  // namespace ps

// The layout the device decodes for `fvf` (a format the device draws).
inline D3D8VertexLayout LayoutOf(uint32_t fvf) {
  D3D8VertexLayout l{};
  if (!D3D8Fvf_Decode(fvf, &l)) fprintf(stderr, "raster_scene: FVF 0x%x is not drawable\n", fvf), abort();
  return l;
}

// A scene drawn through the device's own calls: an object and a windowed
// device whose back buffer (and automatic depth surface) is the target, in a
// scene from construction to destruction. Lighting starts off; everything
// else has the device's defaults.
struct Scene {
  IDirect3D8* d3d = nullptr;
  IDirect3DDevice8* dev = nullptr;
  IDirect3DSurface8* back = nullptr;   // held by the device
  IDirect3DSurface8* zbuf = nullptr;   // held by the device; null without depth
  int width, height;

  // `tweak` may change the capability answers (palettes, DXT, stages).
  Scene(int w, int h, uint32_t format = D3DFMT_X8R8G8B8, uint32_t depthFormat = D3DFMT_D24X8,
        void (*tweak)(D3D8Answers*) = nullptr)
      : width(w), height(h) {
    D3D8Answers answers;
    answers.desktopWidth = uint32_t(w);
    answers.desktopHeight = uint32_t(h);
    answers.displayFormat = format;
    if (tweak) tweak(&answers);
    D3D8Test_SetAnswers(&answers);
    d3d = Direct3DCreate8(D3D_SDK_VERSION);
    D3D8Test_SetAnswers(nullptr);
    D3DPRESENT_PARAMETERS pp = Params(format, depthFormat);
    if (!d3d || d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev) < 0) {
      fprintf(stderr, "raster_scene: no device\n");
      abort();
    }
    dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
    back->Release();
    if (depthFormat && dev->GetDepthStencilSurface(&zbuf) >= 0) zbuf->Release();
    RS(D3DRS_LIGHTING, 0);
    Clear(0xFF000000u, 1.0f);
    dev->BeginScene();
  }
  ~Scene() {
    if (dev) {
      dev->EndScene();
      dev->Release();
    }
    if (d3d) d3d->Release();
  }
  // Windowed presentation parameters (no depth surface for depthFormat 0).
  static D3DPRESENT_PARAMETERS Params(uint32_t format = D3DFMT_X8R8G8B8, uint32_t depthFormat = D3DFMT_D24X8) {
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = 1;
    pp.BackBufferFormat = format;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.EnableAutoDepthStencil = depthFormat ? 1 : 0;
    pp.AutoDepthStencilFormat = depthFormat;
    return pp;
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  using States = std::initializer_list<std::pair<uint32_t, uint32_t>>;  // {state, value} pairs
  void RS(uint32_t state, uint32_t value) { dev->SetRenderState(state, value); }
  void RS(States states) {
    for (const auto& [state, value] : states) RS(state, value);
  }
  void TSS(uint32_t stage, uint32_t type, uint32_t value) { dev->SetTextureStageState(stage, type, value); }
  void TSS(uint32_t stage, States states) {
    for (const auto& [type, value] : states) TSS(stage, type, value);
  }
  void World(const D3DMATRIX& m) { dev->SetTransform(D3DTS_WORLD, &m); }
  void View(const D3DMATRIX& m) { dev->SetTransform(D3DTS_VIEW, &m); }
  void Projection(const D3DMATRIX& m) { dev->SetTransform(D3DTS_PROJECTION, &m); }
  void TextureMatrix(uint32_t stage, const D3DMATRIX& m) { dev->SetTransform(D3DTS_TEXTURE0 + stage, &m); }
  void Material(const D3DMATERIAL8& m) { dev->SetMaterial(&m); }
  void Light(uint32_t index, const D3DLIGHT8& l) {
    dev->SetLight(index, &l);
    dev->LightEnable(index, 1);
  }
  void Viewport(int x, int y, int w, int h) {
    D3DVIEWPORT8 vp = {uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h), 0.0f, 1.0f};
    dev->SetViewport(&vp);
  }
  // Clears the current viewport's colour and depth.
  void Clear(uint32_t argb, float z = 1.0f) {
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | (zbuf ? D3DCLEAR_ZBUFFER : 0), argb, z, 0);
  }

  // Draws from user memory; 1 when the device accepted the draw.
  int Draw(uint32_t type, int prims, const void* vertices, int vertexCount, uint32_t fvf,
           const uint16_t* indices = nullptr) {
    uint32_t stride = uint32_t(LayoutOf(fvf).size);
    dev->SetVertexShader(fvf);
    D3DRESULT r = indices ? dev->DrawIndexedPrimitiveUP(type, 0, uint32_t(vertexCount), uint32_t(prims), indices,
                                                        D3DFMT_INDEX16, vertices, stride)
                          : dev->DrawPrimitiveUP(type, uint32_t(prims), vertices, stride);
    return r >= 0 ? 1 : 0;
  }

  uint32_t Pixel(int x, int y) const { return RasteriserFormat_Load(back->surface.format, At(back, x, y)); }
  float Depth(int x, int y) const { return RasteriserFormat_DepthDecode(zbuf->surface.format, Raw(zbuf, x, y)); }
  // The stencil bits of a depth-stencil pixel.
  uint32_t Stencil(int x, int y) const { return Raw(zbuf, x, y) & RasteriserFormat_StencilMask(zbuf->surface.format); }
  std::vector<uint8_t> ColourBytes() const { return Bytes(back); }
  std::vector<uint8_t> DepthBytes() const { return Bytes(zbuf); }

 private:
  // Pixel (x, y) of a surface once every draw before has landed.
  static const uint8_t* At(const IDirect3DSurface8* target, int x, int y) {
    D3D8Test_Finish();
    const D3D8DrawSurface& s = target->surface;
    return s.pixels + size_t(y) * s.pitch + size_t(x) * RasteriserFormat_BytesPerPixel(s.format);
  }
  static uint32_t Raw(const IDirect3DSurface8* target, int x, int y) {
    uint32_t v = 0;
    memcpy(&v, At(target, x, y), size_t(RasteriserFormat_BytesPerPixel(target->surface.format)));
    return v;
  }
  static std::vector<uint8_t> Bytes(const IDirect3DSurface8* target) {
    const uint8_t* p = At(target, 0, 0);
    return std::vector<uint8_t>(p, p + size_t(target->surface.pitch) * size_t(target->surface.height));
  }
};

// A Scene tweak: the adapter answers for, and creates, every depth format
// the rasteriser stores, the stencil ones included.
inline void AnswerEveryDepthFormat(D3D8Answers* a) {
  const uint32_t all[] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D15S1, D3DFMT_D32, D3DFMT_D24X8};
  a->depthFormatCount = int(sizeof all / sizeof all[0]);
  memcpy(a->depthFormats, all, sizeof all);
}

// A managed (or, with usage D3DUSAGE_RENDERTARGET, default-pool) texture of
// the scene's device; levels halve down to 1 x 1.
struct Texture {
  IDirect3DTexture8* tex = nullptr;
  uint32_t format;

  Texture(Scene& scene, int w, int h, uint32_t fmt, int levels, uint32_t usage = 0) : format(fmt) {
    const uint32_t pool = usage & D3DUSAGE_RENDERTARGET ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    if (scene.dev->CreateTexture(uint32_t(w), uint32_t(h), uint32_t(levels), usage, fmt, pool, &tex) < 0)
      fprintf(stderr, "raster_scene: CreateTexture failed\n"), abort();
  }
  ~Texture() {
    if (tex) tex->Release();
  }
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;
  Texture(Texture&& o) noexcept : tex(o.tex), format(o.format) { o.tex = nullptr; }

  int Width(int level) const { return tex->chain.levels[level].width; }
  int Height(int level) const { return tex->chain.levels[level].height; }
  template <class F>
  void Fill(int level, F f) {
    D3DLOCKED_RECT lr{};
    if (tex->LockRect(uint32_t(level), &lr, nullptr, 0) < 0) return;
    int bpp = RasteriserFormat_BytesPerPixel(format);
    for (int y = 0; y < Height(level); ++y)
      for (int x = 0; x < Width(level); ++x) {
        uint8_t* p = static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch + size_t(x) * bpp;
        if (format == D3DFMT_P8)
          *p = uint8_t(f(x, y));
        else
          RasteriserFormat_Store(format, p, f(x, y));
      }
    tex->UnlockRect(uint32_t(level));
  }
  // Raw bytes into a level (block formats).
  void Write(int level, const void* bytes, size_t n) {
    D3DLOCKED_RECT lr{};
    if (tex->LockRect(uint32_t(level), &lr, nullptr, 0) < 0) return;
    memcpy(lr.pBits, bytes, n);
    tex->UnlockRect(uint32_t(level));
  }
};

// Compares the scene with golden/<name>.png (see MatchGoldenSurface).
inline std::string MatchGolden(const Scene& s, const char* name, int tolerance = 2, int allowedOff = 0) {
  D3D8Test_Finish();
  return MatchGoldenSurface(s.back->surface, std::string(HELM_SOURCE_DIR) + "/tests/platform/direct3d/golden/" + name + ".png",
                            TestTmp().string() + "/" + name + "_actual.png", tolerance, allowedOff);
}

}  // namespace raster_test
