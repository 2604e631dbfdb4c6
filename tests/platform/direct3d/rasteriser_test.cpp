// Software rasteriser: golden-image scenes and the device rules the driver
// relies on. Golden images: tests/platform/direct3d/golden/*.png; regenerate
// with HELM_REGEN_GOLDEN=1 (see raster_scene.h) and look at each new image.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cfenv>
#include <utility>

#include "platform/direct3d/rasteriser.h"
#include "tests/platform/direct3d/raster_scene.h"
#include "tests/test_env.h"

using namespace raster_test;

namespace {

constexpr float kPi = 3.14159265f;
constexpr uint32_t kFvfLit = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x152
constexpr uint32_t kFvf2D = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;               // 0x144
constexpr uint32_t kLinear = D3DTEXF_LINEAR;

struct VLit {
  float x, y, z, nx, ny, nz;
  uint32_t c;
  float u, v;
};
struct V2D {
  float x, y, z, rhw;
  uint32_t c;
  float u, v;
};

// A mesh as an indexed triangle list.
struct Mesh {
  std::vector<VLit> v;
  std::vector<uint16_t> idx;
};

// A UV sphere, clockwise as seen from outside, so CCW culling keeps the front.
Mesh Sphere(float r, int rings, int segments, bool coloured) {
  Mesh m;
  for (int i = 0; i <= rings; ++i) {
    float th = kPi * float(i) / float(rings);
    for (int j = 0; j <= segments; ++j) {
      float ph = 2 * kPi * float(j) / float(segments);
      float nx = std::sin(th) * std::cos(ph), ny = std::cos(th), nz = std::sin(th) * std::sin(ph);
      uint32_t c = coloured ? 0xFF000000u | uint32_t(128 + 127 * nx) << 16 | uint32_t(128 + 127 * ny) << 8 |
                                  uint32_t(128 + 127 * nz)
                            : 0xFFFFFFFFu;
      m.v.push_back({r * nx, r * ny, r * nz, nx, ny, nz, c, 4.0f * float(j) / float(segments),
                     2.0f * float(i) / float(rings)});
    }
  }
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j) {
      uint16_t a = uint16_t(i * (segments + 1) + j), b = uint16_t(a + segments + 1);
      m.idx.insert(m.idx.end(), {a, uint16_t(a + 1), b, uint16_t(a + 1), uint16_t(b + 1), b});
    }
  return m;
}

// A flat grid on y = 0 from (-s, -s) to (s, s) facing up.
Mesh Floor(float s, int n, float uvScale) {
  Mesh m;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      float x = -s + 2 * s * float(j) / float(n), z = -s + 2 * s * float(i) / float(n);
      m.v.push_back({x, 0, z, 0, 1, 0, 0xFFFFFFFFu, uvScale * float(j) / float(n), uvScale * float(i) / float(n)});
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      uint16_t a = uint16_t(i * (n + 1) + j), b = uint16_t(a + n + 1);
      m.idx.insert(m.idx.end(), {a, b, uint16_t(a + 1), uint16_t(a + 1), b, uint16_t(b + 1)});
    }
  return m;
}

void DrawMesh(Scene& s, const Mesh& m) {
  ASSERT_EQ(s.Draw(D3DPT_TRIANGLELIST, int(m.idx.size() / 3), m.v.data(), int(m.v.size()), kFvfLit, m.idx.data()),
            1);
}

// A checkerboard texture (level 0; `levels` allocated) bound to stage 0.
Texture Checker(Scene& s, int size, int cell, uint32_t a, uint32_t b, int levels = 1) {
  Texture t(s, size, size, D3DFMT_A8R8G8B8, levels);
  t.Fill(0, [&](int x, int y) { return ((x / cell + y / cell) & 1) ? a : b; });
  s.dev->SetTexture(0, t.tex);
  return t;
}

// A one-level texture filled by f(x, y), bound to `stage` and selected there.
template <class F>
Texture Bound(Scene& s, int w, int h, F f, uint32_t stage = 0, uint32_t format = D3DFMT_A8R8G8B8) {
  Texture t(s, w, h, format, 1);
  t.Fill(0, f);
  s.dev->SetTexture(stage, t.tex);
  s.TSS(stage, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  return t;
}

void Camera(Scene& s, float ex, float ey, float ez, float ax, float ay, float az) {
  float eye[3] = {ex, ey, ez}, at[3] = {ax, ay, az};
  s.View(LookAt(eye, at));
  s.Projection(Perspective(kPi / 3, float(s.width) / float(s.height), 0.5f, 50.0f));
}

void Quad2D(Scene& s, float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1, uint32_t c,
            float z = 0.5f, float rhw = 1.0f) {
  V2D q[4] = {{x0, y0, z, rhw, c, u0, v0},
              {x1, y0, z, rhw, c, u1, v0},
              {x0, y1, z, rhw, c, u0, v1},
              {x1, y1, z, rhw, c, u1, v1}};
  ASSERT_EQ(s.Draw(D3DPT_TRIANGLESTRIP, 2, q, 4, kFvf2D), 1);
}
// A flat-coloured quad covering (x0, y0) - (x1, y1).
void Rect(Scene& s, float x0, float y0, float x1, float y1, uint32_t c, float z = 0.5f) {
  Quad2D(s, x0, y0, x1, y1, 0, 0, 1, 1, c, z);
}

void Untextured(Scene& s, uint32_t stage = 0) {
  s.TSS(stage, {{D3DTSS_COLOROP, D3DTOP_SELECTARG2}, {D3DTSS_COLORARG2, D3DTA_DIFFUSE},
                {D3DTSS_ALPHAOP, D3DTOP_SELECTARG2}, {D3DTSS_ALPHAARG2, D3DTA_DIFFUSE}});
  s.dev->SetTexture(stage, nullptr);
}

void Blend(Scene& s, uint32_t src, uint32_t dest) {
  s.RS({{D3DRS_ALPHABLENDENABLE, 1}, {D3DRS_SRCBLEND, src}, {D3DRS_DESTBLEND, dest}});
}

void Fog(Scene& s, uint32_t mode, uint32_t colour, float startOrDensity, float end = 0) {
  s.RS({{D3DRS_FOGENABLE, 1}, {D3DRS_FOGVERTEXMODE, mode}, {D3DRS_FOGCOLOR, colour}});
  if (mode == D3DFOG_LINEAR)
    s.RS({{D3DRS_FOGSTART, FloatBits(startOrDensity)}, {D3DRS_FOGEND, FloatBits(end)}});
  else
    s.RS(D3DRS_FOGDENSITY, FloatBits(startOrDensity));
}

void Filter(Scene& s, uint32_t stage, uint32_t magMin, uint32_t mip = D3DTEXF_NONE) {
  s.TSS(stage, {{D3DTSS_MAGFILTER, magMin}, {D3DTSS_MINFILTER, magMin}, {D3DTSS_MIPFILTER, mip}});
}

// The sphere map's usual matrix on `stage`: (x, y, z, 1) -> (0.5 x + 0.5, -0.5 y + 0.5).
void SphereMap(Scene& s, uint32_t stage) {
  D3DMATRIX m = Identity();
  m.m[0][0] = 0.5f, m.m[1][1] = -0.5f, m.m[3][0] = 0.5f, m.m[3][1] = 0.5f;
  s.TextureMatrix(stage, m);
  s.TSS(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
}

void SetupLights(Scene& s) {
  D3DLIGHT8 sun{}, lamp{};
  sun.Type = D3DLIGHT_DIRECTIONAL;
  sun.Diffuse = {0.9f, 0.9f, 0.8f, 1};
  sun.Direction = {-0.5f, -1.0f, 0.6f};
  lamp.Type = D3DLIGHT_POINT;
  lamp.Diffuse = {0.2f, 0.4f, 1.0f, 1};
  lamp.Position = {2.5f, 1.5f, -1.5f};
  lamp.Range = 6;
  lamp.Attenuation0 = 0.3f;
  lamp.Attenuation1 = 0.2f;
  s.Light(0, sun);
  s.Light(1, lamp);
}

// ---- golden scenes ---------------------------------------------------------

void EveryAddressingModeWithPointAndBilinearFilters(Scene& s) {
  s.Clear(0xFF202020u);
  const uint32_t colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  Texture t = Bound(s, 4, 4, [&](int x, int y) { return ((x + y) & 1) ? colours[(x / 2 + 2 * (y / 2)) & 3] : 0xFF000000u; });
  s.TSS(0, D3DTSS_BORDERCOLOR, 0xFFFF8000u);
  s.RS(D3DRS_ZENABLE, 0);
  const uint32_t modes[4] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER};
  for (int f = 0; f < 2; ++f)
    for (int m = 0; m < 4; ++m) {
      s.TSS(0, {{D3DTSS_ADDRESSU, modes[m]}, {D3DTSS_ADDRESSV, modes[m]}});
      Filter(s, 0, f ? D3DTEXF_LINEAR : D3DTEXF_POINT);
      float x = 4.0f + 64.0f * float(m), y = 4.0f + 64.0f * float(f);
      Quad2D(s, x, y, x + 56, y + 56, -1.0f, -1.0f, 2.0f, 2.0f, 0xFFFFFFFFu);
    }
}

void CameraSpaceNormalAndReflectionTexgenWithTextureTransform(Scene& s) {
  s.Clear(0xFF000000u);
  Texture t = Bound(
      s, 32, 32,
      [](int x, int y) {
        return 0xFF000000u | uint32_t(x * 8) << 16 | uint32_t(y * 8) << 8 | (((x / 4 + y / 4) & 1) ? 0xFFu : 0x40u);
      },
      0, D3DFMT_X8R8G8B8);
  Mesh ball = Sphere(1.0f, 16, 24, false);
  s.TSS(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  SphereMap(s, 0);
  Camera(s, 0, 0, -4.0f, 0, 0, 0);
  s.RS({{D3DRS_NORMALIZENORMALS, 1}, {D3DRS_LOCALVIEWER, 0}});  // as the driver sets it
  for (int half = 0; half < 2; ++half) {
    s.TSS(0, D3DTSS_TEXCOORDINDEX, half ? D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR : D3DTSS_TCI_CAMERASPACENORMAL);
    s.World(Mul(RotationY(0.7f), Translation(half ? 1.3f : -1.3f, 0, 0)));
    DrawMesh(s, ball);
  }
}

// A pixel shader on a lit, fogged sphere: a bilinear checker on the mesh's
// coordinates and a map on camera-space normals mixed by the checker's
// alpha, with modifiers the stages have no operation for; then a second
// program blended over the floor. The stages' own operations say nothing.
void PixelShadersOnALitFoggedMeshWithTwoTextures(Scene& s) {
  using namespace ps;
  s.Clear(0xFF405060);
  Camera(s, 0, 1.2f, -3.5f, 0, 0, 0);
  Fog(s, D3DFOG_EXP2, 0xFF405060, 0.2f);
  s.RS({{D3DRS_LIGHTING, 1}, {D3DRS_AMBIENT, 0xFF404040u}});
  SetupLights(s);
  Texture checker = Checker(s, 16, 2, 0xFFE0C080u, 0x40306090u);
  Texture map = Bound(
      s, 32, 32, [](int x, int y) { return 0xFF000000u | uint32_t(x * 8) << 16 | uint32_t(y * 8) << 8 | 0x60u; }, 1,
      D3DFMT_X8R8G8B8);
  for (uint32_t stage = 0; stage < 2; ++stage) {
    s.TSS(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
    Filter(s, stage, kLinear);
  }
  s.TSS(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
  SphereMap(s, 1);
  const float constants[2][4] = {{0.9f, 0.2f, 0.1f, 0.5f}, {0.25f, 0.5f, 0.75f, 1.0f}};
  s.dev->SetPixelShaderConstant(0, constants, 2);
  // clang-format off
  const uint32_t sphere[] = {D3DPS_VERSION_1_1, D3DSIO_TEX, Dst(T(0)), D3DSIO_TEX, Dst(T(1)),
      D3DSIO_LRP, Dst(R(1)), Src(T(0), D3DSP_REPLICATEALPHA), Src(T(0)), Src(T(1)),  // checker over the map
      D3DSIO_MUL, Dst(R(0), RGB, X2), Src(R(1)), Src(V(0)),                          // lit, doubled
      D3DSIO_ADD | D3DSI_COISSUE, Dst(R(0), ALPHA), Src(T(1), D3DSP_REPLICATEBLUE),
                                  Src(C(0), D3DSP_NOSWIZZLE, D3DSPSM_BIAS),
      D3DSIO_MAD, Dst(R(0), RGB, SAT), Src(T(1), D3DSP_NOSWIZZLE, D3DSPSM_SIGN), Src(C(1)), Src(R(0)),
      D3DPS_END};
  const uint32_t floor[] = {D3DPS_VERSION_1_0, D3DSIO_TEX, Dst(T(0)),
      D3DSIO_MUL, Dst(R(0), RGB, D2), Src(T(0), D3DSP_NOSWIZZLE, D3DSPSM_COMP), Src(V(0)),
      D3DSIO_MOV | D3DSI_COISSUE, Dst(R(0), ALPHA), Src(C(0)),
      D3DPS_END};
  // clang-format on
  uint32_t sphereShader = 0, floorShader = 0;
  ASSERT_EQ(s.dev->CreatePixelShader(sphere, &sphereShader), D3D_OK);
  ASSERT_EQ(s.dev->CreatePixelShader(floor, &floorShader), D3D_OK);
  s.dev->SetPixelShader(sphereShader);
  s.World(RotationY(0.4f));
  DrawMesh(s, Sphere(1.0f, 16, 24, true));
  s.dev->SetPixelShader(floorShader);
  Blend(s, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  s.World(Translation(0, -0.8f, 0));
  DrawMesh(s, Floor(4, 8, 4));
  s.dev->SetPixelShader(0);
  s.dev->DeletePixelShader(sphereShader);
  s.dev->DeletePixelShader(floorShader);
}

// A z-pass shadow volume (a sphere around the ball, front faces counting
// up, back faces down) darkens what lies inside it. Depth format D24S8.
void StencilShadowVolume(Scene& s) {
  s.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF304050u, 1.0f, 0);
  Camera(s, 0, 2.5f, -5, 0, 0, 1.5f);
  Untextured(s);
  s.World(Translation(0, -0.8f, 3));
  DrawMesh(s, Floor(4, 8, 1));
  s.World(Translation(0.4f, 0, 1.5f));
  DrawMesh(s, Sphere(0.8f, 10, 14, true));

  s.RS({{D3DRS_COLORWRITEENABLE, 0}, {D3DRS_ZWRITEENABLE, 0}, {D3DRS_STENCILENABLE, 1},
        {D3DRS_STENCILFUNC, D3DCMP_ALWAYS}, {D3DRS_STENCILPASS, D3DSTENCILOP_INCR}});
  s.World(Translation(-0.6f, -0.4f, 2));
  const Mesh volume = Sphere(1.3f, 10, 14, false);
  DrawMesh(s, volume);  // front faces (CCW culling)
  s.RS({{D3DRS_CULLMODE, D3DCULL_CW}, {D3DRS_STENCILPASS, D3DSTENCILOP_DECR}});
  DrawMesh(s, volume);

  s.RS({{D3DRS_CULLMODE, D3DCULL_CCW}, {D3DRS_COLORWRITEENABLE, 0xF}, {D3DRS_ZENABLE, 0},
        {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP}, {D3DRS_STENCILFUNC, D3DCMP_NOTEQUAL}, {D3DRS_STENCILREF, 0}});
  Blend(s, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
  Rect(s, 0, 0, 128, 96, 0x90000000u);
  EXPECT_EQ(s.Stencil(56, 55), 1u);   // floor inside the volume: in once
  EXPECT_EQ(s.Stencil(100, 65), 0u);  // floor behind it: in, then out again
}

struct GoldenScene {
  const char* image;  // golden/<image>.png
  int width, height;
  void (*draw)(Scene&);
  void (*tweak)(D3D8Answers*) = nullptr;  // other device answers
  uint32_t depthFormat = D3DFMT_D24X8;
};

const GoldenScene kGoldenScenes[] = {
    {"addressing", 256, 128, EveryAddressingModeWithPointAndBilinearFilters},
    {"texgen", 160, 80, CameraSpaceNormalAndReflectionTexgenWithTextureTransform},
    {"pixel_shaders", 128, 96, PixelShadersOnALitFoggedMeshWithTwoTextures,
     [](D3D8Answers* a) { a->pixelShaders = true; }},
    {"stencil", 128, 96, StencilShadowVolume, AnswerEveryDepthFormat, D3DFMT_D24S8},
};

void PrintTo(const GoldenScene& g, std::ostream* out) { *out << g.image; }

class RasterGolden : public ::testing::TestWithParam<GoldenScene> {};

TEST_P(RasterGolden, SceneMatchesItsGoldenImage) {
  const GoldenScene& g = GetParam();
  Scene s(g.width, g.height, D3DFMT_X8R8G8B8, g.depthFormat, g.tweak);
  g.draw(s);
  EXPECT_EQ(MatchGolden(s, g.image), "");
}

INSTANTIATE_TEST_SUITE_P(Scenes, RasterGolden, ::testing::ValuesIn(kGoldenScenes),
                         [](const ::testing::TestParamInfo<GoldenScene>& info) { return std::string(info.param.image); });

// ---- rules the driver relies on ---------------------------------------------

// At k-times magnification every k-th pixel centre lies on a texel edge,
// where the two triangles' planes round differently; at 1 x a quad copies the
// texture and draws nothing past its right or left edge.
TEST(RasterRules, PointSamplingCopiesTexelsAtOneToOneAndAgreesAcrossTrianglesWhenMagnified) {
  const struct {
    int w, h, k;
  } rows[] = {{13, 9, 1}, {16, 9, 1}, {7, 9, 1}, {8, 8, 3}, {8, 8, 5}, {8, 8, 6}};
  auto texel = [](int x, int y) { return 0xFF000000u | uint32_t(x * 37 + y * 11) << 8 | uint32_t(x * 5 + y * 19); };
  for (const auto& r : rows) {
    Scene s(64, 64);
    Texture t = Bound(s, r.w, r.h, texel);
    Quad2D(s, 3, 2, float(3 + r.w * r.k), float(2 + r.h * r.k), 0, 0, 1, 1, 0xFFFFFFFFu);
    int wrong = 0;
    for (int y = 0; y < r.h * r.k; ++y)
      for (int x = 0; x < r.w * r.k; ++x) wrong += s.Pixel(3 + x, 2 + y) != texel(x / r.k, y / r.k);
    EXPECT_EQ(wrong, 0) << r.w << " x " << r.h << " at " << r.k << " x";
    EXPECT_EQ(std::make_pair(s.Pixel(3 + r.w * r.k, 2), s.Pixel(2, 2)), std::make_pair(0xFF000000u, 0xFF000000u));
  }
}

TEST(RasterRules, IndexedDrawsReadOnlyTheVerticesTheirRangeNames) {
  // The vertices below the range lie in a page that cannot be read, so a
  // draw that touched them (or transformed every vertex from 0) would crash.
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const uint32_t minIndex = uint32_t(page / sizeof(V2D)) - 2;
  uint8_t* map = static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(map, page, PROT_NONE), 0);
  V2D* used = reinterpret_cast<V2D*>(map + page);
  for (int i = 0; i < 4; ++i) used[i] = {float(1 + 6 * (i & 1)), float(1 + 6 * (i >> 1)), 0.5f, 1, 0xFF00FF00u, 0, 0};
  const uint8_t* vertex0 = map + page - size_t(minIndex) * sizeof(V2D);
  const uint16_t idx[6] = {uint16_t(minIndex), uint16_t(minIndex + 1), uint16_t(minIndex + 2),
                           uint16_t(minIndex + 1), uint16_t(minIndex + 3), uint16_t(minIndex + 2)};
  {
    Scene s(8, 8);
    Untextured(s);
    s.dev->SetVertexShader(kFvf2D);
    EXPECT_EQ(s.dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, minIndex, 4, 2, idx, D3DFMT_INDEX16, vertex0,
                                            sizeof(V2D)),
              D3D_OK);
    EXPECT_EQ(std::make_pair(s.Pixel(4, 4), s.Pixel(0, 0)), std::make_pair(0xFF00FF00u, 0xFF000000u));
  }
  munmap(map, 2 * page);
}

// Small draws over a cleared 16 x 16 target, one state or format rule each:
// the pixels named must come out as given (and `lit` pixels be other than
// black, where given).
uint32_t Ramp(int x, int y) { return 0xFF000000u | uint32_t(x * 60) << 16 | uint32_t(y * 60) << 8; }

TEST(RasterRules, SmallDrawsFollowTheDeviceRules) {
  struct Probe {
    int x, y;
    uint32_t colour;
  };
  const struct {
    const char* what;
    std::vector<std::pair<uint32_t, uint32_t>> states;
    void (*draw)(Scene& s);
    std::vector<Probe> probes;
    int lit = -1;
    uint32_t depthFormat = D3DFMT_D24X8;
  } rows[] = {
      // Culling removes the winding as seen on the target.
      {"cull CW", {{D3DRS_CULLMODE, D3DCULL_CW}}, [](Scene& s) { Rect(s, 0, 0, 8, 8, 0xFFFFFFFFu); }, {}, 0},
      {"flat shading takes each triangle's first vertex", {{D3DRS_SHADEMODE, D3DSHADE_FLAT}},
       [](Scene& s) {
         const V2D q[4] = {{0, 0, 0.5f, 1, 0xFFFF0000u, 0, 0},
                           {16, 0, 0.5f, 1, 0xFF00FF00u, 0, 0},
                           {0, 16, 0.5f, 1, 0xFF0000FFu, 0, 0},
                           {16, 16, 0.5f, 1, 0xFFFFFFFFu, 0, 0}};
         EXPECT_EQ(s.Draw(D3DPT_TRIANGLESTRIP, 2, q, 4, kFvf2D), 1);
       },
       {{2, 2, 0xFFFF0000u}, {14, 14, 0xFF00FF00u}}},
      // Red and blue written only; then nothing at all.
      {"colour write mask keeps the other channels", {{D3DRS_COLORWRITEENABLE, 1 | 4}},
       [](Scene& s) {
         s.Clear(0xFF204060u);
         Rect(s, 0, 0, 8, 8, 0xFFFFFFFFu);
         s.RS(D3DRS_COLORWRITEENABLE, 0);
         Rect(s, 0, 0, 8, 8, 0xFF000000u);
       },
       {{3, 3, 0xFFFF40FFu}}},
      {"no depth surface: the test passes and nothing is written", {{D3DRS_ZENABLE, 1}},
       [](Scene& s) {
         Rect(s, 0, 0, 8, 8, 0xFF112233u, 0.9f);
         Rect(s, 0, 0, 8, 8, 0xFF445566u, 0.1f);
       },
       {{3, 3, 0xFF445566u}}, -1, 0},
      // Stage 0 alpha disabled: the diffuse alpha (0x80) scales the colour.
      {"stage alpha defaults to the diffuse alpha",
       {{D3DRS_ALPHABLENDENABLE, 1}, {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA}, {D3DRS_DESTBLEND, D3DBLEND_ZERO}},
       [](Scene& s) {
         s.TSS(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
         Rect(s, 0, 0, 8, 8, 0x80FFFFFFu);
       },
       {{1, 1, 0xFF808080u}}},
      {"without a diffuse colour alpha is 1",
       {{D3DRS_ALPHABLENDENABLE, 1}, {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA}, {D3DRS_DESTBLEND, D3DBLEND_ZERO}},
       [](Scene& s) {
         const float v[4][6] = {{0, 0, 0.5f, 1, 0, 0}, {8, 0, 0.5f, 1, 0, 0}, {0, 8, 0.5f, 1, 0, 0}, {8, 8, 0.5f, 1, 0, 0}};
         EXPECT_EQ(s.Draw(D3DPT_TRIANGLESTRIP, 2, v, 4, D3DFVF_XYZRHW | D3DFVF_TEX1), 1);
       },
       {{1, 1, 0xFFFFFFFFu}}},
      // An unblended draw stores its alpha (0) in the target's unused byte,
      // which blending still reads as 1.
      {"destination alpha of X8R8G8B8 reads 1: DESTALPHA", {},
       [](Scene& s) {
         Rect(s, 0, 0, 8, 8, 0x00304050u);
         Blend(s, D3DBLEND_DESTALPHA, D3DBLEND_ZERO);
         Rect(s, 0, 0, 8, 8, 0x10C0C0C0u);
       },
       {{1, 1, 0xFFC0C0C0u}}},
      // Set 3 does not exist in a one-set format: (0, 0) gives texel (0, 0).
      {"a missing texture coordinate set reads 0", {},
       [](Scene& s) {
         Texture t = Bound(s, 4, 4, Ramp);
         s.TSS(0, D3DTSS_TEXCOORDINDEX, 3);
         Quad2D(s, 0, 0, 8, 8, 0.6f, 0.6f, 0.9f, 0.9f, 0xFFFFFFFFu);
       },
       {{4, 4, 0xFF000000u}}},
      // COUNT2 on 2-float coordinates: the translation sits in the third
      // row; the fourth is multiplied by 0.
      {"COUNT2 translates by the third row", {},
       [](Scene& s) {
         Texture t = Bound(s, 4, 4, Ramp);
         s.TSS(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
         D3DMATRIX shift = Identity();
         shift.m[2][0] = 0.5f, shift.m[2][1] = 0.25f, shift.m[3][0] = 9.0f;
         s.TextureMatrix(0, shift);
         Quad2D(s, 0, 0, 8, 8, 0.0f, 0.0f, 0.0f, 0.0f, 0xFFFFFFFFu);
       },
       {{4, 4, Ramp(2, 1)}}},
      // 10 line pixels (the last left out) and the point, culling on.
      {"lines and points are one pixel and never culled", {{D3DRS_CULLMODE, D3DCULL_CW}},
       [](Scene& s) {
         const V2D pts[3] = {{2, 3, 0.5f, 1, 0xFFFF0000u, 0, 0}, {12, 3, 0.5f, 1, 0xFFFF0000u, 0, 0},
                             {5, 10, 0.5f, 1, 0xFF00FF00u, 0, 0}};
         EXPECT_EQ(s.Draw(D3DPT_LINELIST, 1, pts, 2, kFvf2D), 1);
         EXPECT_EQ(s.Draw(D3DPT_POINTLIST, 1, pts + 2, 1, kFvf2D), 1);
       },
       {{2, 3, 0xFFFF0000u}, {11, 3, 0xFFFF0000u}, {12, 3, 0xFF000000u}, {5, 10, 0xFF00FF00u}}, 11},
      // NaN, infinite and huge vertices are accepted and never crash; a
      // viewport hanging off the top-left corner draws only inside the target.
      {"broken vertices and viewports", {{D3DRS_CULLMODE, D3DCULL_NONE}},
       [](Scene& s) {
         const float inf = INFINITY, nan = NAN;
         const V2D bad[6] = {{nan, 0, 0.5f, 1, 0xFFFFFFFFu, 0, 0},     {8, 8, 0.5f, 1, 0xFFFFFFFFu, 0, 0},
                             {0, 8, 0.5f, 0, 0xFFFFFFFFu, 0, 0},       {-1e30f, -1e30f, 0.5f, 1, 0xFFFFFFFFu, 0, 0},
                             {inf, 1e30f, 0.5f, -1, 0xFFFFFFFFu, 0, 0}, {0, 1e30f, nan, nan, 0xFFFFFFFFu, nan, inf}};
         EXPECT_EQ(s.Draw(D3DPT_TRIANGLELIST, 2, bad, 6, kFvf2D), 1);
         EXPECT_EQ(s.Draw(D3DPT_LINESTRIP, 5, bad, 6, kFvf2D), 1);
         EXPECT_EQ(s.Draw(D3DPT_POINTLIST, 6, bad, 6, kFvf2D), 1);
         const float nan3[3][3] = {{nan, 0, 0}, {0, nan, 0}, {1, 1, inf}};
         EXPECT_EQ(s.Draw(D3DPT_TRIANGLELIST, 1, nan3, 3, D3DFVF_XYZ), 1);
         s.Clear(0xFF000000u);
         s.Viewport(-8, -8, 16, 16);
         Rect(s, -100, -100, 100, 100, 0xFF00FF00u);
       },
       {{7, 7, 0xFF00FF00u}, {8, 8, 0xFF000000u}}},
      {"clear rectangles are clipped to the viewport", {},
       [](Scene& s) {
         s.Viewport(4, 4, 8, 8);
         const D3DRECT8 r = {0, 0, 6, 6};
         s.dev->Clear(1, &r, D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0);
       },
       {{3, 3, 0xFF000000u}, {4, 4, 0xFF00FF00u}, {5, 5, 0xFF00FF00u}, {6, 6, 0xFF000000u}}, 4},
  };
  for (const auto& r : rows) {
    Scene s(16, 16, D3DFMT_X8R8G8B8, r.depthFormat);
    Untextured(s);
    for (const auto& [state, value] : r.states) s.RS(state, value);
    r.draw(s);
    for (const Probe& p : r.probes) EXPECT_EQ(s.Pixel(p.x, p.y), p.colour) << r.what << " at " << p.x << "," << p.y;
    int lit = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) lit += s.Pixel(x, y) != 0xFF000000u;
    EXPECT_TRUE(r.lit < 0 || lit == r.lit) << r.what << ": " << lit << " pixels drawn";
  }
}

TEST(RasterRules, TopLeftFillRuleDrawsSharedEdgesExactlyOnce) {
  // A fan of thin triangles around a centre, added with ONE/ONE: a pixel
  // drawn twice would show 2x, a gap would stay black.
  Scene s(64, 64);
  Untextured(s);
  s.RS({{D3DRS_ZENABLE, 0}, {D3DRS_CULLMODE, D3DCULL_NONE}});
  Blend(s, D3DBLEND_ONE, D3DBLEND_ONE);
  std::vector<V2D> fan;
  fan.push_back({31.3f, 30.7f, 0.5f, 1, 0xFF404040u, 0, 0});
  for (int i = 0; i <= 37; ++i) {
    float a = 2 * kPi * float(i) / 37.0f;
    fan.push_back({31.3f + 60 * std::cos(a), 30.7f + 60 * std::sin(a), 0.5f, 1, 0xFF404040u, 0, 0});
  }
  ASSERT_EQ(s.Draw(D3DPT_TRIANGLEFAN, 37, fan.data(), int(fan.size()), kFvf2D), 1);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(s.Pixel(x, y), 0xFF404040u) << x << "," << y;
}

TEST(RasterRules, IdenticalPositionsGiveIdenticalDepthWhateverElseDiffers) {
  Scene a(64, 64), b(64, 64), c(64, 64);
  for (Scene* s : {&a, &b, &c}) {
    Camera(*s, 0.3f, 0.2f, -3.0f, 0, 0, 0);
    s->World(RotationY(0.4f));
  }
  Mesh ball = Sphere(1.0f, 9, 13, true);
  Untextured(a);
  DrawMesh(a, ball);
  // b: lighting, fog, texgen; c: a plain position-only format.
  b.RS(D3DRS_LIGHTING, 1);
  Fog(b, D3DFOG_EXP2, 0, 0.3f);
  Texture t = Checker(b, 8, 2, 0xFFFFFFFFu, 0xFF000000u);
  b.TSS(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
  DrawMesh(b, ball);
  std::vector<float> posOnly;
  for (const VLit& v : ball.v) posOnly.insert(posOnly.end(), {v.x, v.y, v.z});
  Untextured(c);
  ASSERT_EQ(c.Draw(D3DPT_TRIANGLELIST, int(ball.idx.size() / 3), posOnly.data(), int(ball.v.size()), D3DFVF_XYZ,
                   ball.idx.data()),
            1);
  EXPECT_EQ(a.DepthBytes(), b.DepthBytes());
  EXPECT_EQ(a.DepthBytes(), c.DepthBytes());
  // And the equal-depth second pass covers exactly the first pass's pixels.
  a.RS({{D3DRS_ZFUNC, D3DCMP_EQUAL}, {D3DRS_LIGHTING, 1}, {D3DRS_COLORVERTEX, 0}});
  D3DMATERIAL8 blue{};
  blue.Emissive = {0, 0, 1, 1};
  a.Material(blue);
  Rasteriser_SetSimd(RASTERISER_SIMD_GENERAL);
  DrawMesh(a, ball);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      if (a.Depth(x, y) < 1.0f) {
        ASSERT_EQ(a.Pixel(x, y), 0xFF0000FFu) << x << "," << y;
      }
  Rasteriser_SetSimd(0);
}

uint32_t LitCentre(Scene& s, const VLit& v, uint32_t fvf = kFvfLit) {
  VLit tri[3] = {v, v, v};
  tri[0].x -= 0.2f, tri[0].y -= 0.2f;
  tri[1].y += 0.2f;
  tri[2].x += 0.2f, tri[2].y -= 0.2f;
  s.RS({{D3DRS_CULLMODE, D3DCULL_NONE}, {D3DRS_SHADEMODE, D3DSHADE_FLAT}});
  std::vector<uint8_t> bytes;
  D3D8VertexLayout l = LayoutOf(fvf);
  for (const VLit& t : tri) {
    size_t o = bytes.size();
    bytes.resize(o + size_t(l.size));
    memcpy(&bytes[o], &t.x, 12);
    if (l.normal >= 0) memcpy(&bytes[o + size_t(l.normal)], &t.nx, 12);
    if (l.diffuse >= 0) memcpy(&bytes[o + size_t(l.diffuse)], &t.c, 4);
  }
  s.Clear(0xFF000000u);
  EXPECT_EQ(s.Draw(D3DPT_TRIANGLELIST, 1, bytes.data(), 3, fvf), 1);
  return s.Pixel(s.width / 2, s.height / 2);
}

TEST(RasterRules, SpotWithEqualConesHasAHardEdgeAndPointLightsStopAtRange) {
  Scene s(16, 16);
  Untextured(s);
  s.RS({{D3DRS_LIGHTING, 1}, {D3DRS_COLORVERTEX, 0}});
  D3DMATERIAL8 mat{};
  mat.Diffuse = {1, 1, 1, 1};
  s.Material(mat);
  D3DLIGHT8 l{};
  l.Type = D3DLIGHT_SPOT;
  l.Diffuse = {1, 1, 1, 1};
  l.Position = {-0.2f, -0.2f, -1};  // 1.5 before the lit (flat-shaded, first) vertex of LitCentre's triangle
  l.Direction = {0, 0, 1};
  l.Range = 10;
  l.Attenuation0 = 1;
  l.Theta = l.Phi = 1.0f;  // full cone angles: the edge is 0.5 rad off the axis
  l.Falloff = 1;
  VLit v{0, 0, 0.5f, 0, 0, -1, 0xFFFFFFFFu, 0, 0};
  const struct {
    float offAxis;
    bool lit;
  } cone[] = {{0.0f, true}, {0.4f, true}, {0.6f, false}, {0.9f, false}};
  for (const auto& c : cone) {
    l.Direction = {std::sin(c.offAxis), 0, std::cos(c.offAxis)};
    s.Light(0, l);
    if (c.lit)
      EXPECT_GE(LitCentre(s, v) & 255, 0xF0u) << c.offAxis;
    else
      EXPECT_EQ(LitCentre(s, v), 0xFF000000u) << c.offAxis;
  }
  l.Type = D3DLIGHT_POINT;
  l.Range = 1.0f;  // the vertex is 1.5 away
  s.Light(0, l);
  EXPECT_EQ(LitCentre(s, v), 0xFF000000u);
  l.Range = 2.0f;
  s.Light(0, l);
  EXPECT_GE(LitCentre(s, v) & 255, 0xF0u);
  // No normal in the format: the emissive colour alone, no NaN.
  mat.Diffuse = {1, 0, 0, 1};
  mat.Emissive = {0, 0, 0.5f, 1};
  s.Material(mat);
  const uint32_t c = LitCentre(s, v, D3DFVF_XYZ | D3DFVF_DIFFUSE);
  EXPECT_EQ(c & 0xFFFF00u, 0u);
  EXPECT_NEAR(int(c & 255), 128, 1);
}

TEST(RasterRules, AlphaTestComparesWithTheReferenceAndRejectedPixelsWriteNothing) {
  Scene s(4, 4);
  Untextured(s);
  s.RS({{D3DRS_ALPHATESTENABLE, 1}, {D3DRS_ALPHAREF, 0x80}});
  const struct {
    uint32_t func, alpha;
    bool passes;
  } cases[] = {{D3DCMP_GREATER, 0x80, false},      {D3DCMP_GREATER, 0x81, true},
               {D3DCMP_GREATEREQUAL, 0x80, true},  {D3DCMP_GREATEREQUAL, 0x7F, false},
               {D3DCMP_LESS, 0x80, false},         {D3DCMP_LESSEQUAL, 0x80, true},
               {D3DCMP_EQUAL, 0x80, true},         {D3DCMP_NOTEQUAL, 0x80, false}};
  for (int simd : {int(RASTERISER_SIMD_GENERAL), 0})  // the general stages and the kernels
    for (const auto& c : cases) {
      Rasteriser_SetSimd(simd);
      s.RS(D3DRS_ALPHATESTENABLE, 0);
      s.Clear(0xFF000000u, 1.0f);
      s.RS({{D3DRS_ALPHATESTENABLE, 1}, {D3DRS_ALPHAFUNC, c.func}});
      Rect(s, 0, 0, 4, 4, c.alpha << 24 | 0x00FFFFFFu, 0.25f);
      EXPECT_EQ(s.Pixel(2, 2), c.passes ? 0xFFFFFFFFu : 0xFF000000u) << c.func << " alpha " << c.alpha << " " << simd;
      EXPECT_EQ(s.Depth(2, 2) < 1.0f, c.passes) << c.func << " alpha " << c.alpha << " path " << simd;
    }
  Rasteriser_SetSimd(0);
  // The driver's cut-out: GREATER than 0 keeps alpha-0 pixels out of colour and depth.
  s.Clear(0xFF000000u, 1.0f);
  s.RS({{D3DRS_ALPHAFUNC, D3DCMP_GREATER}, {D3DRS_ALPHAREF, 0}});
  Rect(s, 0, 0, 4, 4, 0x00FFFFFFu, 0.25f);
  EXPECT_EQ(s.Pixel(2, 2), 0xFF000000u);
  EXPECT_EQ(s.Depth(2, 2), 1.0f);
}

TEST(RasterRules, StencilTestsAndOperationsOnEveryStencilFormat) {
  // A red quad at depth 0.5 over a cleared pixel, per row and per format
  // (D24S8, D24X4S4, D15S1): the stencil left behind and whether it drew.
  const struct {
    const char* what;
    uint32_t initial;
    bool depthFails, alphaTest;
    uint32_t alpha, func, ref, mask, writeMask, fail, zfail, pass;
    uint32_t expected[3];
    bool drawn;
  } rows[] = {
      {"replace", 0, false, false, 0xFF, D3DCMP_ALWAYS, 5, 0xFF, 0xFF, 1, 1, D3DSTENCILOP_REPLACE, {5, 5, 1}, true},
      {"equal, incr wraps", 1, false, false, 0xFF, D3DCMP_EQUAL, 1, 0xFF, 0xFF, 1, 1, D3DSTENCILOP_INCR, {2, 2, 0},
       true},
      {"stencil fails, invert", 1, false, false, 0xFF, D3DCMP_EQUAL, 2, 0xFF, 0xFF, D3DSTENCILOP_INVERT, 1, 1,
       {0xFE, 0x0E, 0}, false},
      {"depth fails, decr", 3, true, false, 0xFF, D3DCMP_ALWAYS, 0, 0xFF, 0xFF, 1, D3DSTENCILOP_DECR, 1, {2, 2, 0},
       false},
      {"incrsat stops", 0xFF, false, false, 0xFF, D3DCMP_ALWAYS, 0, 0xFF, 0xFF, 1, 1, D3DSTENCILOP_INCRSAT,
       {0xFF, 0x0F, 1}, true},
      {"write mask", 0, false, false, 0xFF, D3DCMP_ALWAYS, 0xFF, 0xFF, 0x0E, 1, 1, D3DSTENCILOP_REPLACE,
       {0x0E, 0x0E, 0}, true},
      {"decrsat stops", 0, false, false, 0xFF, D3DCMP_ALWAYS, 0, 0xFF, 0xFF, 1, 1, D3DSTENCILOP_DECRSAT, {0, 0, 0},
       true},
      {"less", 1, false, false, 0xFF, D3DCMP_LESS, 0, 0xFF, 0xFF, D3DSTENCILOP_ZERO, 1, D3DSTENCILOP_INCR,
       {2, 2, 0}, true},
      {"compare mask", 3, false, false, 0xFF, D3DCMP_EQUAL, 0x13, 0x0F, 0xFF, 1, 1, D3DSTENCILOP_ZERO, {0, 0, 0},
       true},
      {"alpha rejects: no stencil", 0, false, true, 0x40, D3DCMP_ALWAYS, 7, 0xFF, 0xFF, 1, 1, D3DSTENCILOP_REPLACE,
       {0, 0, 0}, false},
      {"alpha passes, depth fails", 0, true, true, 0xFF, D3DCMP_ALWAYS, 7, 0xFF, 0xFF, 1, D3DSTENCILOP_REPLACE, 1,
       {7, 7, 1}, false},
      {"alpha rejects, depth fails", 0, true, true, 0x40, D3DCMP_ALWAYS, 7, 0xFF, 0xFF, 1, D3DSTENCILOP_REPLACE, 1,
       {0, 0, 0}, false},
  };
  const uint32_t formats[3] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D15S1};
  for (int f = 0; f < 3; ++f) {
    Scene s(8, 8, D3DFMT_X8R8G8B8, formats[f], AnswerEveryDepthFormat);
    Untextured(s);
    s.RS({{D3DRS_STENCILENABLE, 1}, {D3DRS_ALPHAFUNC, D3DCMP_GREATER}, {D3DRS_ALPHAREF, 0x80}});
    for (const auto& r : rows) {
      s.RS(D3DRS_ALPHATESTENABLE, 0);
      s.dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000u,
                   r.depthFails ? 0.25f : 1.0f, r.initial);
      s.RS({{D3DRS_ALPHATESTENABLE, r.alphaTest}, {D3DRS_STENCILFUNC, r.func}, {D3DRS_STENCILREF, r.ref},
            {D3DRS_STENCILMASK, r.mask}, {D3DRS_STENCILWRITEMASK, r.writeMask}, {D3DRS_STENCILFAIL, r.fail},
            {D3DRS_STENCILZFAIL, r.zfail}, {D3DRS_STENCILPASS, r.pass}});
      Rect(s, 0, 0, 8, 8, r.alpha << 24 | 0xFF0000u);
      EXPECT_EQ(s.Stencil(3, 3), r.expected[f]) << r.what << ", format " << formats[f];
      EXPECT_EQ(s.Pixel(3, 3), r.drawn ? 0xFFFF0000u : 0xFF000000u) << r.what << ", format " << formats[f];
      EXPECT_NEAR(s.Depth(3, 3), r.drawn ? 0.5f : (r.depthFails ? 0.25f : 1.0f), 1e-4f) << r.what;
    }
    // Z and stencil clear apart: each keeps the other.
    s.dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 0.25f, 0xFF);
    s.dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.75f, 0);
    EXPECT_EQ(s.Stencil(3, 3), RasteriserFormat_StencilMask(formats[f])) << formats[f];
    s.dev->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 0.0f, 0);
    EXPECT_EQ(s.Stencil(3, 3), 0u) << formats[f];
    EXPECT_NEAR(s.Depth(3, 3), 0.75f, 1e-4f) << formats[f];
  }
}

TEST(RasterRules, SixteenBitTargetsAndPaletteAndBlockTexturesDraw) {
  Scene s(8, 8, D3DFMT_R5G6B5, D3DFMT_D16, [](D3D8Answers* a) { a->palettes = a->dxt = true; });
  // P8 through the current palette.
  Texture p = Bound(s, 2, 2, [](int x, int y) { return uint32_t((x + y) & 1); }, 0, D3DFMT_P8);
  PALETTEENTRY pal[256] = {};
  pal[0] = {255, 0, 0, 255};
  pal[1] = {0, 0, 255, 255};
  ASSERT_EQ(s.dev->SetPaletteEntries(3, pal), D3D_OK);
  ASSERT_EQ(s.dev->SetCurrentTexturePalette(3), D3D_OK);
  Quad2D(s, 0, 0, 8, 8, 0, 0, 1, 1, 0xFFFFFFFFu);
  EXPECT_EQ(std::make_pair(s.Pixel(1, 1), s.Pixel(6, 1)), std::make_pair(0xFFFF0000u, 0xFF0000FFu));
  // DXT1: one 4x4 block, colour 0 white, colour 1 black, indices 0 then 1 per row.
  Texture d(s, 4, 4, D3DFMT_DXT1, 1);
  uint8_t block[8] = {0xFF, 0xFF, 0x00, 0x00, 0x50, 0x50, 0x50, 0x50};  // per row: 0, 0, 1, 1
  d.Write(0, block, 8);
  s.dev->SetTexture(0, d.tex);
  Quad2D(s, 0, 0, 8, 8, 0, 0, 1, 1, 0xFFFFFFFFu);
  EXPECT_EQ(std::make_pair(s.Pixel(1, 1), s.Pixel(6, 1)), std::make_pair(0xFFFFFFFFu, 0xFF000000u));
  EXPECT_EQ(s.Depth(1, 1), RasteriserFormat_DepthDecode(D3DFMT_D16, RasteriserFormat_DepthEncode(D3DFMT_D16, 0.5f)));
  // The target and its depth surface store their real formats, two bytes a pixel.
  s.Clear(0xFFFF0000u, 1.0f);
  EXPECT_EQ(s.back->surface.pitch, 8 * 2);
  const std::vector<uint8_t> colour = s.ColourBytes(), depth = s.DepthBytes();
  EXPECT_EQ(colour[0] | colour[1] << 8, 0xF800);
  EXPECT_EQ(depth[0] | depth[1] << 8, 0xFFFF);
}

int Channel(uint32_t c, int ch) { return int((c >> (8 * ch)) & 255); }

TEST(RasterRules, EveryBlendFactorPairMatchesItsDefinition) {
  // X8R8G8B8 target: destination alpha reads 1.0.
  Scene s(4, 4);
  Untextured(s);
  s.RS(D3DRS_ALPHABLENDENABLE, 1);
  const uint32_t src = 0xC0408020u, dst = 0xFFA03080u;
  auto factor = [&](uint32_t f, int ch) -> double {
    double sc = Channel(src, ch) / 255.0, sa = Channel(src, 3) / 255.0, dc = Channel(dst, ch) / 255.0, da = 1.0;
    switch (f) {
      case D3DBLEND_ZERO: return 0;
      case D3DBLEND_ONE: return 1;
      case D3DBLEND_SRCCOLOR: return sc;
      case D3DBLEND_INVSRCCOLOR: return 1 - sc;
      case D3DBLEND_SRCALPHA: return sa;
      case D3DBLEND_INVSRCALPHA: return 1 - sa;
      case D3DBLEND_DESTALPHA: return da;
      case D3DBLEND_INVDESTALPHA: return 1 - da;
      case D3DBLEND_DESTCOLOR: return dc;
      case D3DBLEND_INVDESTCOLOR: return 1 - dc;
      default: return ch == 3 ? 1.0 : std::min(sa, 1 - da);  // SRCALPHASAT
    }
  };
  for (int simd : {int(RASTERISER_SIMD_GENERAL), 0})  // the general stages and the kernels
    for (uint32_t sf = 1; sf <= 11; ++sf)
      for (uint32_t df = 1; df <= 11; ++df) {
        Rasteriser_SetSimd(simd);
        s.Clear(dst);
        s.RS({{D3DRS_SRCBLEND, sf}, {D3DRS_DESTBLEND, df}});
        Rect(s, 0, 0, 4, 4, src);
        uint32_t got = s.Pixel(1, 1);
        for (int ch = 0; ch < 3; ++ch) {
          double want = Channel(src, ch) * factor(sf, ch) + Channel(dst, ch) * factor(df, ch);
          EXPECT_NEAR(Channel(got, ch), std::min(255.0, want), 1.5) << "src " << sf << " dest " << df << " path " << simd;
        }
      }
  Rasteriser_SetSimd(0);
}

// Each row runs after tex t0, tex t1 on 1 x 1 textures; `want` gives a
// channel (0 red .. 3 alpha, values 0..1) of r0 before the final clamp. The
// stages' operations are disabled: the program alone colours the pixel.
TEST(RasterRules, PixelShaderInstructionsModifiersAndCoIssue) {
  using namespace ps;
  Scene s(4, 4, D3DFMT_X8R8G8B8, D3DFMT_D24X8, [](D3D8Answers* a) { a->pixelShaders = true; });
  s.RS(D3DRS_ZENABLE, 0);
  const uint32_t T0 = 0x80FF4020u, T1 = 0x40204080u, D = 0xFF808060u;
  Texture t0 = Bound(s, 1, 1, [&](int, int) { return T0; }), t1 = Bound(s, 1, 1, [&](int, int) { return T1; }, 1);
  s.TSS(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
  s.TSS(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  const float c0[4] = {0.25f, 0.5f, 0.75f, 0.6f};
  s.dev->SetPixelShaderConstant(0, c0, 1);
  // The inputs as 0..1 per channel (0 red .. 3 alpha).
  struct In {
    double t0[4], t1[4], d[4], c[4];
  } in;
  auto channels = [](uint32_t c, double* out) {
    for (int ch = 0; ch < 4; ++ch) out[ch] = ((c >> (ch == 3 ? 24 : 16 - 8 * ch)) & 255) / 255.0;
  };
  channels(T0, in.t0), channels(T1, in.t1), channels(D, in.d);
  for (int ch = 0; ch < 4; ++ch) in.c[ch] = c0[ch];
  const struct {
    const char* what;
    std::vector<uint32_t> math;
    double (*want)(const In& i, int ch);
  } cases[] = {
      {"add, saturated", {D3DSIO_ADD, Dst(R(0), D3DSP_WRITEMASK_ALL, SAT), Src(T(0)), Src(T(1))},
       [](const In& i, int ch) { return i.t0[ch] + i.t1[ch]; }},
      {"1 - x and x4", {D3DSIO_MUL, Dst(R(0), D3DSP_WRITEMASK_ALL, X4), Src(T(0), D3DSP_NOSWIZZLE, D3DSPSM_COMP), Src(T(1))},
       [](const In& i, int ch) { return std::min(1.0, 4 * (1 - i.t0[ch]) * i.t1[ch]); }},
      {"bias, negated, x2",
       {D3DSIO_ADD, Dst(R(0), D3DSP_WRITEMASK_ALL, X2), Src(T(0), D3DSP_NOSWIZZLE, D3DSPSM_BIAS),
        Src(T(1), D3DSP_NOSWIZZLE, D3DSPSM_NEG)},
       [](const In& i, int ch) { return 2 * (i.t0[ch] - 0.5 - i.t1[ch]); }},
      {"bx2, negated bx2, halved",
       {D3DSIO_ADD, Dst(R(0), D3DSP_WRITEMASK_ALL, D2), Src(T(0), D3DSP_NOSWIZZLE, D3DSPSM_SIGN),
        Src(V(0), D3DSP_NOSWIZZLE, D3DSPSM_SIGNNEG)},
       [](const In& i, int ch) { return (2 * (i.t0[ch] - 0.5) - 2 * (i.d[ch] - 0.5)) / 2; }},
      // Values between instructions are held in [-1, 1].
      {"intermediate clamp",
       {D3DSIO_ADD, Dst(R(1)), Src(T(0)), Src(V(0)), D3DSIO_ADD, Dst(R(0)), Src(R(1)),
        Src(V(0), D3DSP_NOSWIZZLE, D3DSPSM_NEG)},
       [](const In& i, int ch) { return std::min(1.0, i.t0[ch] + i.d[ch]) - i.d[ch]; }},
      {"intermediate clamp below 0",
       {D3DSIO_ADD, Dst(R(1)), Src(T(0), D3DSP_NOSWIZZLE, D3DSPSM_NEG), Src(V(0), D3DSP_NOSWIZZLE, D3DSPSM_NEG),
        D3DSIO_MUL, Dst(R(0)), Src(R(1), D3DSP_NOSWIZZLE, D3DSPSM_COMP), Src(C(0))},
       [](const In& i, int ch) { return (1 - std::max(-1.0, -i.t0[ch] - i.d[ch])) * i.c[ch]; }},
      // The alpha half of a pair reads r1.b as it was before the pair.
      {"co-issue",
       {D3DSIO_MOV, Dst(R(1)), Src(T(0)), D3DSIO_MOV, Dst(R(1), RGB), Src(T(1)), D3DSIO_MOV | D3DSI_COISSUE,
        Dst(R(1), ALPHA), Src(R(1), D3DSP_REPLICATEBLUE), D3DSIO_MOV, Dst(R(0)), Src(R(1), D3DSP_REPLICATEALPHA)},
       [](const In& i, int) { return i.t0[2]; }},
      // Alpha reads blue after blue was written by the same instruction.
      {"a selector over its own result",
       {D3DSIO_MOV, Dst(R(1)), Src(T(0)), D3DSIO_ADD, Dst(R(1)), Src(R(1)), Src(R(1), D3DSP_REPLICATEBLUE), D3DSIO_MOV,
        Dst(R(0)), Src(R(1), D3DSP_REPLICATEALPHA)},
       [](const In& i, int) { return std::min(1.0, i.t0[3] + i.t0[2]); }},
  };
  for (const auto& c : cases) {
    std::vector<uint32_t> tokens = {D3DPS_VERSION_1_1, D3DSIO_TEX, Dst(T(0)), D3DSIO_TEX, Dst(T(1))};
    tokens.insert(tokens.end(), c.math.begin(), c.math.end());
    tokens.push_back(D3DPS_END);
    uint32_t shader = 0;
    ASSERT_EQ(s.dev->CreatePixelShader(tokens.data(), &shader), D3D_OK) << c.what;
    s.dev->SetPixelShader(shader);
    Rect(s, 0, 0, 4, 4, D);
    double rgb[4];
    channels(s.Pixel(2, 2), rgb);
    for (int ch = 0; ch < 3; ++ch)
      EXPECT_NEAR(rgb[ch] * 255, std::clamp(c.want(in, ch), 0.0, 1.0) * 255, 1.0) << c.what << " " << ch;
    s.dev->SetPixelShader(0);
    s.dev->DeletePixelShader(shader);
  }
}

// ---- deferred drawing: threads and flush points -------------------------------

namespace deferred {

// The rasteriser shades with `threads` threads for one scope.
struct Threads {
  explicit Threads(int n) { Rasteriser_SetThreads(n); }
  ~Threads() { Rasteriser_SetThreads(0); }
};

// Pixel (x, y) of a 32-bit surface read through a lock, as the driver reads.
uint32_t LockedPixel(IDirect3DSurface8* surface, int x = 8, int y = 8) {
  D3DLOCKED_RECT lr{};
  EXPECT_EQ(surface->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  uint32_t v = 0;
  memcpy(&v, static_cast<uint8_t*>(lr.pBits) + size_t(y) * size_t(lr.Pitch) + size_t(x) * 4, 4);
  surface->UnlockRect();
  return v;
}

struct Picture {
  std::vector<uint8_t> colour, depth;
};

Picture DrawAt(int threads, const GoldenScene& g, int simd = 0) {
  Threads t(threads);
  Rasteriser_SetSimd(simd);
  Scene s(g.width, g.height, D3DFMT_X8R8G8B8, g.depthFormat, g.tweak);
  g.draw(s);
  Picture p = {s.ColourBytes(), s.DepthBytes()};
  Rasteriser_SetSimd(0);
  return p;
}

}  // namespace deferred

// The fused kernels (SSE2 and AVX2, where the CPU has it) against the
// general stages, and every thread count against one.
TEST_P(RasterGolden, SceneIsBitIdenticalAtEveryThreadCountAndOnEveryShadingPath) {
  const deferred::Picture one = deferred::DrawAt(1, GetParam(), RASTERISER_SIMD_GENERAL);
  const struct {
    int threads, simd;
  } runs[] = {{1, RASTERISER_SIMD_SSE2}, {1, RASTERISER_SIMD_AVX2}, {2, 0}, {8, 0}};
  for (const auto& run : runs) {
    const deferred::Picture p = deferred::DrawAt(run.threads, GetParam(), run.simd);
    EXPECT_TRUE(p.colour == one.colour) << run.threads << " threads, shading path " << run.simd;
    EXPECT_TRUE(p.depth == one.depth) << run.threads << " threads, shading path " << run.simd;
  }
}

TEST(RasterDeferred, ATileWithMoreCommandsThanABinBlockShadesThemInSubmissionOrder) {
  // 300 blended quads over one tile (600 triangles, several blocks of the
  // tile's bin): the blend makes the order show in every pixel.
  constexpr int kQuads = 300;
  uint32_t expected = 0xFF000000u;
  for (int i = 0; i < kQuads; ++i) {
    const uint32_t src = uint32_t(i * 37 % 256) << 16 | uint32_t(i * 11 % 256) << 8 | uint32_t(i * 5 % 256);
    uint32_t out = 0xFF000000u;  // the rasteriser's blend: dst + (src - dst) x 129 / 256 for alpha 0x80
    for (int sh = 0; sh < 24; sh += 8) {
      const uint32_t d = (expected >> sh) & 255, c = (src >> sh) & 255;
      out |= ((d * (256 - 129) + c * 129) >> 8) << sh;
    }
    expected = out;
  }
  std::vector<uint8_t> first;
  for (int threads : {1, 2, 8}) {
    deferred::Threads t(threads);
    Scene s(96, 64);
    Untextured(s);
    s.RS(D3DRS_ZENABLE, 0);
    Blend(s, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
    for (int i = 0; i < kQuads; ++i)
      Rect(s, 4, 4, 60, 60, 0x80000000u | uint32_t(i * 37 % 256) << 16 | uint32_t(i * 11 % 256) << 8 | uint32_t(i * 5 % 256));
    EXPECT_EQ(s.Pixel(30, 30), expected) << threads << " threads";
    if (first.empty())
      first = s.ColourBytes();
    else
      EXPECT_TRUE(s.ColourBytes() == first) << threads << " threads";
  }
}

TEST(RasterDeferred, TheNextFrameIsRecordedWhileThePresentedOneIsShadedAndWaitsWhereItMust) {
  deferred::Threads threads(8);  // Present hands the frame to the workers and returns
  Scene s(128, 64);
  Texture t = Bound(s, 4, 4, [](int, int) { return 0xFFFF0000u; });
  const std::string path = TestTmp().string() + "/deferred_next_frame.png";
  D3D8Present_CaptureFrame(0, path.c_str());
  Quad2D(s, 0, 0, 128, 64, 0, 0, 1, 1, 0xFFFFFFFFu);
  ASSERT_EQ(s.dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  D3D8Present_CaptureFrame(0, nullptr);
  t.Fill(0, [](int, int) { return 0xFF0000FFu; });  // the presented frame read it: the lock waits
  Quad2D(s, 0, 0, 64, 64, 0, 0, 1, 1, 0xFFFFFFFFu);
  EXPECT_EQ(std::make_pair(s.Pixel(32, 32), s.Pixel(96, 32)), std::make_pair(0xFF0000FFu, 0xFFFF0000u));
  int w = 0, h = 0;
  std::unique_ptr<uint32_t[]> shown(D3D8Present_ReadPng(path.c_str(), &w, &h));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown[32 * 128 + 32], 0xFFFF0000u);  // the frame as presented
  std::remove(path.c_str());
  s.dev->SetTexture(0, nullptr);
}

// Locks of the target or its depth surface, CopyRects from and into it and
// a reset (whose new surfaces hold nothing of the old draws) wait for the
// draws made before them.
TEST(RasterDeferred, LocksCopiesAndResetsSeeEveryDrawMadeBeforeThem) {
  Scene s(16, 16);
  Untextured(s);
  Rect(s, 0, 0, 16, 16, 0xFF00FF00u, 0.25f);
  EXPECT_EQ(deferred::LockedPixel(s.back) | 0xFF000000u, 0xFF00FF00u);
  Rect(s, 0, 0, 16, 16, 0xFF0000FFu, 0.5f);  // behind: fails the depth test
  EXPECT_EQ(deferred::LockedPixel(s.zbuf) & 0xFFFFFF00u, RasteriserFormat_DepthEncode(D3DFMT_D24X8, 0.25f));
  IDirect3DSurface8* image = nullptr;
  ASSERT_EQ(s.dev->CreateImageSurface(16, 16, D3DFMT_X8R8G8B8, &image), D3D_OK);
  Rect(s, 0, 0, 16, 16, 0xFFFFFF00u, 0.1f);
  ASSERT_EQ(s.dev->CopyRects(s.back, nullptr, 0, image, nullptr), D3D_OK);
  EXPECT_EQ(deferred::LockedPixel(image) | 0xFF000000u, 0xFFFFFF00u);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(image->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) memcpy(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch + size_t(x) * 4, "\xFF\0\0\xFF", 4);
  image->UnlockRect();
  Rect(s, 0, 0, 16, 16, 0xFFFF0000u, 0.05f);
  const D3DRECT8 left = {0, 0, 8, 16};
  ASSERT_EQ(s.dev->CopyRects(image, &left, 1, s.back, nullptr), D3D_OK);
  EXPECT_EQ(std::make_pair(s.Pixel(4, 8), s.Pixel(12, 8)), std::make_pair(0xFF0000FFu, 0xFFFF0000u));
  image->Release();
  Rect(s, 0, 0, 16, 16, 0xFF00FF00u, 0.0f);
  D3DPRESENT_PARAMETERS pp = Scene::Params();
  ASSERT_EQ(s.dev->Reset(&pp), D3D_OK);
  s.dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &s.back);
  s.back->Release();
  s.dev->GetDepthStencilSurface(&s.zbuf);
  s.zbuf->Release();
  EXPECT_EQ(s.Pixel(8, 8), 0xFF000000u);
}

// A render-target texture at 1 and 8 threads, drawn into and sampled with no
// flush between: a camera texture is finished before a draw samples it (the
// back buffer's busiest top-left tile shows the camera's bottom-right
// quadrant); interleaved draws land on their own targets; a draw sampling
// its own target gives one picture at every thread count.
TEST(RasterDeferred, RenderTargetTexturesAreDrawnAndSampledInOrderAtEveryThreadCount) {
  const uint32_t quadrant[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  std::vector<uint32_t> first;
  for (int threads : {1, 8}) {
    deferred::Threads t(threads);
    Scene s(128, 128);
    Texture rt(s, 128, 128, D3DFMT_X8R8G8B8, 1, D3DUSAGE_RENDERTARGET);
    IDirect3DSurface8* level = nullptr;  // held by the texture
    rt.tex->GetSurfaceLevel(0, &level);
    level->Release();
    Untextured(s);
    ASSERT_EQ(s.dev->SetRenderTarget(level, nullptr), D3D_OK);
    for (int q = 0; q < 4; ++q)
      Rect(s, float(64 * (q & 1) + 4), float(64 * (q >> 1) + 4), float(64 * (q & 1) + 60), float(64 * (q >> 1) + 60),
           quadrant[q]);
    ASSERT_EQ(s.dev->SetRenderTarget(s.back, s.zbuf), D3D_OK);
    Rect(s, 64, 0, 128, 128, 0xFF808080u);
    s.dev->SetTexture(0, rt.tex);
    s.TSS(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    for (int twice = 0; twice < 2; ++twice) Quad2D(s, 8, 8, 56, 56, 0.6f, 0.6f, 0.9f, 0.9f, 0xFFFFFFFFu);
    ASSERT_EQ(s.dev->SetRenderTarget(level, nullptr), D3D_OK);
    Quad2D(s, 0, 0, 128, 128, 0.25f, 0.25f, 1.25f, 1.25f, 0xFFFFFFFFu);  // reads its own texels, shifted
    s.dev->SetTexture(0, nullptr);
    std::vector<uint32_t> picture;
    for (int y = 0; y < 128; y += 7)
      for (int x = 0; x < 128; x += 7) picture.push_back(deferred::LockedPixel(level, x, y) | 0xFF000000u);
    ASSERT_EQ(s.dev->SetRenderTarget(s.back, s.zbuf), D3D_OK);
    EXPECT_EQ(s.Pixel(32, 32), quadrant[3]) << threads << " threads";
    EXPECT_EQ(s.Pixel(96, 32), 0xFF808080u) << threads << " threads";
    EXPECT_EQ(s.Pixel(4, 100), 0xFF000000u) << threads << " threads";
    if (first.empty())
      first = picture;
    else
      EXPECT_TRUE(picture == first) << threads << " threads";
  }
}

// A draw samples its texture as it was at the draw: neither rewriting it
// nor releasing it (and reusing its memory) afterwards changes the picture.
TEST(RasterDeferred, ATextureRewrittenOrReleasedAfterADrawIsSampledAsItWasAtTheDraw) {
  Scene s(16, 16);
  Texture t = Bound(s, 4, 4, [](int, int) { return 0xFFFF0000u; });
  Rect(s, 0, 0, 8, 16, 0xFFFFFFFFu);
  t.Fill(0, [](int, int) { return 0xFF0000FFu; });
  Rect(s, 8, 0, 16, 16, 0xFFFFFFFFu);
  EXPECT_EQ(std::make_pair(s.Pixel(4, 8), s.Pixel(12, 8)), std::make_pair(0xFFFF0000u, 0xFF0000FFu));
  {
    Texture gone = Bound(s, 64, 64, [](int, int) { return 0xFF00FF00u; });
    Rect(s, 0, 0, 16, 8, 0xFFFFFFFFu);
    s.dev->SetTexture(0, nullptr);
  }
  Texture reuse(s, 64, 64, D3DFMT_A8R8G8B8, 1);  // likely in the released texture's memory
  reuse.Fill(0, [](int, int) { return 0xFF0000FFu; });
  EXPECT_EQ(s.Pixel(8, 4), 0xFF00FF00u);
}

// Rows of the states the kernels take: a coloured, lit sphere and a textured
// floor in perspective, drawn by the general stages, by each kernel set from
// managed textures (sampled from their tiled copies) and from render-target
// textures (sampled from their rows), and by the kernels with the caller's
// rounding mode upward, downward and toward zero around the device's calls
// (everything the test computes is computed under round-to-nearest). Rows
// with a second stage sample it on other coordinates and combine it with the
// first stage's result.
TEST(RasterRules, EveryShadingPathTextureKindAndCallersRoundingModeGiveTheGeneralStagesBits) {
  constexpr uint32_t W = D3DTADDRESS_WRAP, C = D3DTADDRESS_CLAMP, M = D3DTADDRESS_MIRROR, P = D3DTEXF_POINT,
                     N = D3DTEXF_NONE, L = kLinear, SA = D3DBLEND_SRCALPHA, ISA = D3DBLEND_INVSRCALPHA,
                     A8 = D3DFMT_A8R8G8B8, X8 = D3DFMT_X8R8G8B8, S1 = D3DTOP_SELECTARG1, S2 = D3DTOP_SELECTARG2,
                     MOD = D3DTOP_MODULATE, M2X = D3DTOP_MODULATE2X, BTA = D3DTOP_BLENDTEXTUREALPHA,
                     OFF = D3DTOP_DISABLE, T = D3DTA_TEXTURE, CU = D3DTA_CURRENT, DI = D3DTA_DIFFUSE, ADD = D3DTOP_ADD;
  struct Stage {
    uint32_t colourOp, alphaOp, arg1, arg2, magMin, mip, addressU, addressV;  // colourOp 0: none
    int aspect = 0;  // log2 of the texture's width over its height (its longer side 32, in stage 1 16)
    uint32_t format = A8;
    float reach = 1.0f;  // scales the coordinates (far past a clamped edge)
  };
  const struct {
    uint32_t zfunc, zwrite, srcBlend, destBlend, alphaFunc, fog;
    Stage stages[2];
  } rows[] = {
      {D3DCMP_LESSEQUAL, 0, SA, ISA, 0, 1, {{MOD, MOD, T, CU, L, L, W, W}}},
      {D3DCMP_LESS, 1, 0, 0, D3DCMP_GREATER, 0, {{S1, S2, T, CU, L, N, C, W, 1, X8}}},
      {D3DCMP_ALWAYS, 1, D3DBLEND_ZERO, D3DBLEND_INVSRCCOLOR, D3DCMP_LESS, 1, {{S2, MOD, T, CU, L, P, W, C, -2}}},
      {0, 0, D3DBLEND_SRCALPHASAT, D3DBLEND_INVDESTALPHA, 0, 0, {{MOD, OFF, T, CU, L, L, C, C}}},
      {D3DCMP_GREATEREQUAL, 1, D3DBLEND_ONE, D3DBLEND_ONE, 0, 1, {{MOD, S1, T, CU, L, L, W, W}}},
      {D3DCMP_LESSEQUAL, 1, 0, 0, 0, 0, {{S1, S1, T, CU, P, N, M, M}}},
      {D3DCMP_LESSEQUAL, 1, 0, 0, 0, 0, {{S1, S1, T, CU, L, L, M, W}}},
      {D3DCMP_LESSEQUAL, 1, 0, 0, 0, 0, {{S1, S1, T, CU, P, P, C, M}}},
      {D3DCMP_LESSEQUAL, 1, 0, 0, 0, 0, {{S1, S1, T, CU, L, N, W, W}}},
      {D3DCMP_LESSEQUAL, 1, SA, ISA, 0, 1, {{MOD, MOD, T, CU, L, L, W, W}, {MOD, OFF, T, CU, L, N, C, C, -1}}},
      {D3DCMP_LESS, 1, 0, 0, D3DCMP_GREATER, 0, {{MOD, S1, T, CU, L, N, C, W}, {M2X, M2X, CU, T, L, L, W, W, 0, X8}}},
      {D3DCMP_LESS, 1, SA, D3DBLEND_ONE, 0, 1, {{MOD, MOD, T, CU, L, L, W, W}, {ADD, S1, T, DI, L, P, W, C}}},
      {D3DCMP_LESSEQUAL, 0, SA, ISA, D3DCMP_LESS, 1, {{MOD, MOD, T, CU, L, P, C, C, 2}, {BTA, BTA, T, CU, L, L, C, W}}},
      {D3DCMP_LESSEQUAL, 1, 0, 0, 0, 0, {{MOD, MOD, T, CU, L, L, W, W}, {MOD, OFF, T, CU, L, N, C, C, 0, A8, 8000.0f}}},
  };
  const Mesh ball = Sphere(1.2f, 8, 12, true), floor = Floor(6, 6, 2);
  auto texel = [](int x, int y, int l) {
    return uint32_t(x * 37 + y * 11 + l * 90) * 0x01030507u | uint32_t(y * 8) << 24;
  };
  for (const auto& r : rows) {
    deferred::Picture pictures[8];
    for (int path = 0; path < 8; ++path) {
      Rasteriser_SetSimd(path < 3 ? RASTERISER_SIMD_GENERAL + path : path == 4 ? RASTERISER_SIMD_GENERAL : 0);
      Scene s(98, 66);
      Camera(s, 0, 2.0f, -4.0f, 0, 0, 4);
      const uint32_t usage = path == 3 || path == 4 ? D3DUSAGE_RENDERTARGET : 0;
      const auto side = [](int i, int aspect) { return (32 >> i) >> std::max(aspect, 0); };
      Texture tex[2] = {{s, side(0, -r.stages[0].aspect), side(0, r.stages[0].aspect), r.stages[0].format, 0, usage},
                        {s, side(1, -r.stages[1].aspect), side(1, r.stages[1].aspect), r.stages[1].format, 0, usage}};
      for (uint32_t i = 0; i < 2 && r.stages[i].colourOp; ++i) {
        const Stage& st = r.stages[i];
        for (int l = 0; l < 6 - int(i); ++l) tex[i].Fill(l, [&](int x, int y) { return texel(x, y, l); });
        s.dev->SetTexture(i, tex[i].tex);
        s.TSS(i, {{D3DTSS_COLOROP, st.colourOp}, {D3DTSS_COLORARG1, st.arg1}, {D3DTSS_COLORARG2, st.arg2},
                  {D3DTSS_ALPHAOP, st.alphaOp}, {D3DTSS_ALPHAARG1, st.arg1}, {D3DTSS_ALPHAARG2, st.arg2},
                  {D3DTSS_ADDRESSU, st.addressU}, {D3DTSS_ADDRESSV, st.addressV}, {D3DTSS_TEXCOORDINDEX, 0},
                  {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2}});
        Filter(s, i, st.magMin, st.mip);
        D3DMATRIX m = Identity();  // (u, v, 1) scaled and shifted: both edges of clamped axes in view
        m.m[0][0] = i ? 1.7f : 1.0f, m.m[1][1] = i ? 1.3f : 1.0f, m.m[2][0] = m.m[2][1] = i ? -0.4f : -0.5f;
        for (int k : {0, 1, 2}) m.m[k][0] *= st.reach, m.m[k][1] *= st.reach;
        s.TextureMatrix(i, m);
      }
      Fog(s, D3DFOG_LINEAR, 0, 2.0f, 12.0f);
      s.RS({{D3DRS_ZENABLE, r.zfunc != 0}, {D3DRS_ZFUNC, r.zfunc}, {D3DRS_ZWRITEENABLE, r.zwrite},
            {D3DRS_ALPHABLENDENABLE, r.srcBlend != 0}, {D3DRS_SRCBLEND, r.srcBlend}, {D3DRS_DESTBLEND, r.destBlend},
            {D3DRS_ALPHATESTENABLE, r.alphaFunc != 0}, {D3DRS_ALPHAFUNC, r.alphaFunc}, {D3DRS_ALPHAREF, 0x70},
            {D3DRS_LIGHTING, 1}, {D3DRS_FOGENABLE, r.fog}});
      SetupLights(s);
      if (path >= 5) std::fesetround(path == 5 ? FE_UPWARD : path == 6 ? FE_DOWNWARD : FE_TOWARDZERO);
      s.Clear(0xFF302010u, 1.0f);
      s.World(Translation(0.5f, 0, 5));
      DrawMesh(s, ball);
      s.World(Translation(0, -1, 6));
      DrawMesh(s, floor);
      pictures[path] = {s.ColourBytes(), s.DepthBytes()};
      std::fesetround(FE_TONEAREST);
    }
    Rasteriser_SetSimd(0);
    for (int path = 1; path < 8; ++path)
      EXPECT_TRUE(pictures[path].colour == pictures[0].colour && pictures[path].depth == pictures[0].depth)
          << "row " << &r - rows << ", path " << path;
  }
}

}  // namespace
