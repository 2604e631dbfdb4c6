// The software rasteriser side by side with Mesa's llvmpipe (fixed-function
// OpenGL through OSMesa): the same vertices, textures, states and target, five
// scenes at 640 x 480 and at 1280 x 720:
//   fill      10 full-screen layers of bilinear, depth-tested, alpha-blended
//             textured quads;
//   geometry  50,000 small lit, textured triangles;
//   mixed     20,000 lit triangles, 30 mipmapped textures, linear fog, then a
//             2D overlay of blended quads;
//   level     a frame like a level: a 20,000-triangle terrain in 16 chunks
//             with bilinear mipmapped textures, two directional lights and
//             linear fog; 200 alpha-blended particles drawn back to front; 50
//             overlay quads, one draw each; depth on;
//   blend     fill-bound blending: 12 large tilted cloud quads (about 9
//             screens of pixels), trilinear, tinted per corner, alpha-blended
//             back to front, depth tested but not written;
//   lightmap  two texture stages: the level's terrain (lit, fogged, bilinear
//             mipmapped ground on stage 0) with a light map on stage 1
//             (bilinear, clamped, its own coordinates), in 16 strips taking
//             turns at the four ways of combining it: modulate, modulate 2x,
//             add, and blending it over the ground by its alpha.
//
// Method. Both sides run at 1 and at 4 shading threads (HELM_RASTER_THREADS,
// LP_NUM_THREADS). Each scene is measured in 5 runs; a run measures ours and
// llvmpipe at 1 thread, then both at 4, one window of at least 0.5 s each
// (after a warm-up frame), so a change of the machine's load falls on both
// sides alike. The table gives per side the median run's frame rate by wall
// time and CPU time per frame (all threads of the process), and the ratio of
// the frame rates run by run: median with the lowest and highest, and the
// machine's load average. llvmpipe reads LP_NUM_THREADS once per process, so
// each of its windows is measured by a copy of this program (std::system,
// --llvmpipe=SCENE,WxH,FILE).
//
// Pictures. Each side's picture of each scene is saved once as PNG (in
// HELM_BENCH_PICTURES, default the working folder) and the mean per-channel
// difference between the two is printed, so a faster but wrong picture shows;
// our side's picture is drawn at each thread count and its hash printed (a
// change of the shading code that keeps the pictures keeps the hashes).
// OpenGL puts pixel centres half a pixel away from the device's and maps depth
// from [-1, 1]; the OpenGL side's projection is shifted to match, so what is
// left is rounding, filtering and per-fragment against per-vertex fog (about
// 2 per channel on the level frame); a wrong picture differs by far more.
#include <GL/gl.h>
#include <GL/osmesa.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/direct3d/rasteriser.h"
#include "tests/platform/direct3d/raster_scene.h"

using namespace raster_test;

namespace {

constexpr float kPi = 3.14159265f;
constexpr uint32_t kFvfLit = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 36 bytes
constexpr uint32_t kFvf2D = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;               // 28 bytes

struct VLit {
  float x, y, z, nx, ny, nz;
  uint32_t c;  // 0xAARRGGBB: B, G, R, A in memory (GL_BGRA)
  float u, v;
};
struct V2D {
  float x, y, z, rhw;
  uint32_t c;
  float u, v;
};

// How stage 1 combines its light map with stage 0's result.
enum Combine { COMBINE_MODULATE, COMBINE_MODULATE2X, COMBINE_ADD, COMBINE_BLEND_ALPHA, COMBINE_COUNT };

// One draw: a mesh with its states.
struct Batch {
  bool pretransformed = false;
  std::vector<VLit> lit;
  std::vector<V2D> flat;
  std::vector<uint16_t> idx;
  int texture = -1;
  D3DMATRIX world = Identity();
  bool lighting = false, fog = false, blend = false, depthTest = true, depthWrite = true, cull = true;
  D3DCOLORVALUE diffuse = {1, 1, 1, 1};
  // A light map on stage 1 (lit meshes only): its texture, how it combines,
  // and its coordinates (u, v per vertex).
  int lightmap = -1;
  Combine combine = COMBINE_MODULATE;
  std::vector<float> uv2;
};

// A texture as plain pixels (0xAARRGGBB), level 0 first.
struct TexData {
  int size = 0;
  bool clamp = false;  // clamped addressing, else wrapped
  std::vector<std::vector<uint32_t>> levels;
};

struct Light {
  D3DVECTOR direction;  // world space, the way the light travels
  D3DCOLORVALUE colour;
};

struct SceneData {
  int width = 640, height = 480;
  std::vector<TexData> textures;
  std::vector<Batch> batches;
  std::vector<Light> lights = {{{0.3f, -1.0f, 0.5f}, {1, 1, 1, 1}}};
  D3DMATRIX view = Identity(), projection = Identity();
  bool mipmaps = false;
  float fogStart = 0, fogEnd = 1;
  uint32_t fogColour = 0xFF8090A0u, clearColour = 0xFF203040u;
};

D3DMATRIX RotationX(float a) {
  D3DMATRIX m = Identity();
  m.m[1][1] = m.m[2][2] = std::cos(a), m.m[1][2] = std::sin(a), m.m[2][1] = -std::sin(a);
  return m;
}

D3DMATRIX RotationZ(float a) {
  D3DMATRIX m = Identity();
  m.m[0][0] = std::cos(a), m.m[0][1] = std::sin(a);
  m.m[1][0] = -std::sin(a), m.m[1][1] = std::cos(a);
  return m;
}

// Box-filtered mip chain below level 0.
void AddMips(TexData& t) {
  for (int n = t.size / 2; n >= 1; n /= 2) {
    const std::vector<uint32_t>& up = t.levels.back();
    std::vector<uint32_t> px(size_t(n) * size_t(n));
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        uint32_t sum[4] = {};
        for (int k = 0; k < 4; ++k) {
          uint32_t c = up[size_t(2 * y + k / 2) * size_t(2 * n) + size_t(2 * x + k % 2)];
          for (int ch = 0; ch < 4; ++ch) sum[ch] += (c >> (8 * ch)) & 255;
        }
        uint32_t c = 0;
        for (int ch = 0; ch < 4; ++ch) c |= ((sum[ch] + 2) / 4) << (8 * ch);
        px[size_t(y) * n + x] = c;
      }
    t.levels.push_back(std::move(px));
  }
}

TexData MakeTexture(int size, int seed, bool mips) {
  TexData t;
  t.size = size;
  uint32_t base = 0xFF000000u | uint32_t(60 + seed * 37 % 190) << 16 | uint32_t(60 + seed * 71 % 190) << 8 |
                  uint32_t(60 + seed * 113 % 190);
  for (int l = 0, n = size; n >= 1; ++l, n /= 2) {
    int cell = std::max(1, n / 8);
    std::vector<uint32_t> px(size_t(n) * size_t(n));
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        bool on = ((x / cell + y / cell) & 1) != 0;
        uint32_t noise = uint32_t((x * 13 + y * 7 + seed) & 31);
        px[size_t(y) * n + x] = on ? base + noise * 0x010101u : 0xFF202020u + noise * 0x010101u;
      }
    t.levels.push_back(std::move(px));
    if (!mips) break;
  }
  return t;
}

// Ground: earthy noise with a few stones, tinted by `seed`.
TexData GroundTexture(int size, int seed) {
  TexData t;
  t.size = size;
  std::vector<uint32_t> px(size_t(size) * size_t(size));
  uint32_t r = 90 + uint32_t(seed * 23 % 60), g = 80 + uint32_t(seed * 41 % 70), b = 50 + uint32_t(seed * 17 % 40);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
      h = (h ^ (h >> 13)) * 1274126177u;
      int n = int((h >> 24) & 63) - 32;
      int wave = int(24 * std::sin(float(x) * 0.19f + float(seed)) * std::cos(float(y) * 0.23f));
      auto ch = [&](uint32_t c) { return uint32_t(std::clamp(int(c) + n + wave, 0, 255)); };
      px[size_t(y) * size + x] = 0xFF000000u | ch(r) << 16 | ch(g) << 8 | ch(b);
    }
  t.levels.push_back(std::move(px));
  AddMips(t);
  return t;
}

// A soft round blob (alpha falls to 0 at the rim), white.
TexData BlobTexture(int size) {
  TexData t;
  t.size = size;
  std::vector<uint32_t> px(size_t(size) * size_t(size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      float dx = (float(x) + 0.5f) / float(size) * 2 - 1, dy = (float(y) + 0.5f) / float(size) * 2 - 1;
      float a = std::max(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
      px[size_t(y) * size + x] = uint32_t(a * a * 255.0f) << 24 | 0x00FFFFFFu;
    }
  t.levels.push_back(std::move(px));
  AddMips(t);
  return t;
}

// An icon: a framed square with a transparent margin.
TexData IconTexture(int size, int seed) {
  TexData t;
  t.size = size;
  std::vector<uint32_t> px(size_t(size) * size_t(size));
  uint32_t fill = 0xFF000000u | uint32_t(100 + seed * 53 % 156) << 16 | uint32_t(100 + seed * 97 % 156) << 8 |
                  uint32_t(100 + seed * 31 % 156);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      int edge = std::min(std::min(x, y), std::min(size - 1 - x, size - 1 - y));
      px[size_t(y) * size + x] = edge < size / 8 ? 0u : edge < size / 5 ? 0xFFF0F0F0u : fill - uint32_t((x ^ y) & 15);
    }
  t.levels.push_back(std::move(px));
  AddMips(t);
  return t;
}

void AddSphere(Batch& b, float cx, float cy, float cz, float r, int rings, int segs) {
  uint16_t first = uint16_t(b.lit.size());
  for (int i = 0; i <= rings; ++i)
    for (int j = 0; j <= segs; ++j) {
      float th = kPi * float(i) / float(rings), ph = 2 * kPi * float(j) / float(segs);
      float nx = std::sin(th) * std::cos(ph), ny = std::cos(th), nz = std::sin(th) * std::sin(ph);
      b.lit.push_back({cx + r * nx, cy + r * ny, cz + r * nz, nx, ny, nz, 0xFFFFFFFFu, 2.0f * float(j) / float(segs),
                       float(i) / float(rings)});
    }
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      uint16_t a = uint16_t(first + i * (segs + 1) + j), c = uint16_t(a + segs + 1);
      b.idx.insert(b.idx.end(), {a, uint16_t(a + 1), c, uint16_t(a + 1), uint16_t(c + 1), c});
    }
}

// A grid of nx x ny quads over [x0, x1] x [z0, z1] at height f(x, z).
template <class F>
void AddGrid(Batch& b, int nx, int ny, float x0, float x1, float z0, float z1, float uvScale, F height) {
  uint16_t first = uint16_t(b.lit.size());
  for (int i = 0; i <= ny; ++i)
    for (int j = 0; j <= nx; ++j) {
      float x = x0 + (x1 - x0) * float(j) / float(nx), z = z0 + (z1 - z0) * float(i) / float(ny);
      float e = 0.01f, h = height(x, z);
      float dx = (height(x + e, z) - h) / e, dz = (height(x, z + e) - h) / e;
      float len = std::sqrt(dx * dx + 1 + dz * dz);
      b.lit.push_back({x, h, z, -dx / len, 1 / len, -dz / len, 0xFFFFFFFFu, uvScale * float(j) / float(nx),
                       uvScale * float(i) / float(ny)});
    }
  for (int i = 0; i < ny; ++i)
    for (int j = 0; j < nx; ++j) {
      uint16_t a = uint16_t(first + i * (nx + 1) + j), c = uint16_t(a + nx + 1);
      b.idx.insert(b.idx.end(), {a, c, uint16_t(a + 1), uint16_t(a + 1), c, uint16_t(c + 1)});
    }
}

void AddQuad2D(Batch& b, float x0, float y0, float x1, float y1, uint32_t c) {
  uint16_t f = uint16_t(b.flat.size());
  b.flat.push_back({x0, y0, 0.0f, 1, c, 0, 0});
  b.flat.push_back({x1, y0, 0.0f, 1, c, 1, 0});
  b.flat.push_back({x0, y1, 0.0f, 1, c, 0, 1});
  b.flat.push_back({x1, y1, 0.0f, 1, c, 1, 1});
  b.idx.insert(b.idx.end(), {f, uint16_t(f + 1), uint16_t(f + 2), uint16_t(f + 1), uint16_t(f + 3), uint16_t(f + 2)});
}

Batch Overlay(int texture) {
  Batch b;
  b.pretransformed = true;
  b.blend = true;
  b.depthTest = b.depthWrite = false;
  b.fog = true;  // left enabled, as the driver does: pre-transformed vertices are never fogged
  b.texture = texture;
  return b;
}

SceneData FillScene(int w, int h) {
  SceneData s;
  s.width = w, s.height = h;
  s.textures.push_back(MakeTexture(256, 1, false));
  for (int i = 0; i < 10; ++i) {
    Batch b;
    float z = 0.9f - 0.08f * float(i);  // back to front: every layer passes
    uint32_t c = 0x80FFFFFFu;
    float o = 0.1f * float(i);
    b.lit = {{-1, 1, z, 0, 0, -1, c, o, o},
             {1, 1, z, 0, 0, -1, c, o + 3, o},
             {-1, -1, z, 0, 0, -1, c, o, o + 2.25f},
             {1, -1, z, 0, 0, -1, c, o + 3, o + 2.25f}};
    b.idx = {0, 1, 2, 1, 3, 2};
    b.texture = 0;
    b.blend = true;
    s.batches.push_back(std::move(b));
  }
  return s;
}

SceneData GeometryScene(int w, int h) {
  SceneData s;
  s.width = w, s.height = h;
  s.textures.push_back(MakeTexture(64, 2, false));
  float eye[3] = {0, 9, -9}, at[3] = {0, 0, 0};
  s.view = LookAt(eye, at);
  s.projection = Perspective(kPi / 3, float(w) / float(h), 1.0f, 100.0f);
  Batch b;
  AddGrid(b, 200, 125, -9, 9, -6.5f, 7.5f, 8, [](float x, float z) { return 0.4f * std::sin(x * 1.7f) * std::cos(z * 1.3f); });
  b.texture = 0;
  b.lighting = true;
  b.diffuse = {0.9f, 0.85f, 0.8f, 1};
  s.batches.push_back(std::move(b));
  return s;
}

SceneData MixedScene(int w, int h) {
  SceneData s;
  s.width = w, s.height = h;
  s.mipmaps = true;
  for (int i = 0; i < 30; ++i) s.textures.push_back(MakeTexture(128, i + 3, true));
  float eye[3] = {0, 5, -14}, at[3] = {0, 0, 8};
  s.view = LookAt(eye, at);
  s.projection = Perspective(kPi / 3, float(w) / float(h), 1.0f, 100.0f);
  s.fogStart = 10;
  s.fogEnd = 40;
  Batch floor;
  AddGrid(floor, 40, 40, -30, 30, -10, 50, 24, [](float, float) { return -1.0f; });
  floor.texture = 0;
  floor.lighting = floor.fog = true;
  s.batches.push_back(std::move(floor));
  for (int i = 0; i < 30; ++i) {
    Batch b;
    AddSphere(b, 0, 0, 0, 1.0f, 14, 20);  // 560 triangles
    b.world = Translation(-10.0f + 4.0f * float(i % 6), 0.2f * float(i % 3), float(i / 6) * 7.0f);
    b.texture = i;
    b.lighting = b.fog = true;
    s.batches.push_back(std::move(b));
  }
  // The 2D overlay (laid out for 640 x 480, scaled): a translucent bar and twelve icons.
  const float sx = float(w) / 640.0f, sy = float(h) / 480.0f;
  Batch bar = Overlay(1);
  AddQuad2D(bar, 0, 400 * sy, float(w), float(h), 0xA0000000u);
  s.batches.push_back(bar);
  Batch icons = Overlay(5);
  for (int i = 0; i < 12; ++i)
    AddQuad2D(icons, (16.0f + 52.0f * float(i)) * sx, 412 * sy, (64.0f + 52.0f * float(i)) * sx, 460 * sy, 0xE0FFFFFFu);
  s.batches.push_back(icons);
  return s;
}

float TerrainHeight(float x, float z) {
  return 3.0f * std::sin(x * 0.08f) * std::cos(z * 0.07f) + 1.5f * std::sin(x * 0.21f + z * 0.13f) +
         0.4f * std::cos(x * 0.7f - z * 0.5f);
}

// A level's sky, fog, sun and camera, with 8 ground textures (textures 0 to 7).
constexpr float kLevelEye[3] = {0, 9, -72};
SceneData LevelOutdoors(int w, int h) {
  SceneData s;
  s.width = w, s.height = h;
  s.mipmaps = true;
  s.clearColour = 0xFF8CA8C8u;  // sky
  s.fogColour = 0xFF8CA8C8u;
  s.fogStart = 40;
  s.fogEnd = 150;
  s.lights = {{{0.4f, -1.0f, 0.3f}, {0.9f, 0.85f, 0.75f, 1}}, {{-0.5f, -0.6f, -0.4f}, {0.25f, 0.3f, 0.4f, 1}}};
  for (int i = 0; i < 8; ++i) s.textures.push_back(GroundTexture(256, i));
  const float at[3] = {0, 0, 10};
  s.view = LookAt(kLevelEye, at);
  s.projection = Perspective(kPi / 3, float(w) / float(h), 1.0f, 300.0f);
  return s;
}

SceneData LevelScene(int w, int h) {
  SceneData s = LevelOutdoors(w, h);
  const int blob = int(s.textures.size());
  s.textures.push_back(BlobTexture(64));
  const int icon = int(s.textures.size());
  for (int i = 0; i < 4; ++i) s.textures.push_back(IconTexture(64, i));

  // Terrain: 100 x 100 quads over 160 x 160 units, in 4 x 4 chunks of 1,250 triangles.
  for (int cz = 0; cz < 4; ++cz)
    for (int cx = 0; cx < 4; ++cx) {
      Batch b;
      float x0 = -80.0f + 40.0f * float(cx), z0 = -80.0f + 40.0f * float(cz);
      AddGrid(b, 25, 25, x0, x0 + 40, z0, z0 + 40, 5, TerrainHeight);
      b.texture = (cx + 3 * cz) % 8;
      b.lighting = b.fog = true;
      b.diffuse = {0.85f, 0.85f, 0.85f, 1};
      s.batches.push_back(std::move(b));
    }

  // Particles: camera-facing quads, sorted back to front, drawn 20 to a batch.
  float right[3] = {s.view.m[0][0], s.view.m[1][0], s.view.m[2][0]};
  float up[3] = {s.view.m[0][1], s.view.m[1][1], s.view.m[2][1]};
  struct Particle {
    float x, y, z, size, depth;
    uint32_t colour;
  };
  std::vector<Particle> ps;
  uint32_t seed = 12345;
  auto rnd = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8) / float(1 << 24);
  };
  for (int i = 0; i < 200; ++i) {
    Particle p;
    p.x = -30 + 60 * rnd();
    p.z = -45 + 80 * rnd();
    p.y = TerrainHeight(p.x, p.z) + 1 + 6 * rnd();
    p.size = 1.0f + 2.0f * rnd();
    p.colour = uint32_t(0x50 + 0x70 * rnd()) << 24 | 0x00FFC890u;
    p.depth = (p.x - kLevelEye[0]) * s.view.m[0][2] + (p.y - kLevelEye[1]) * s.view.m[1][2] +
              (p.z - kLevelEye[2]) * s.view.m[2][2];
    ps.push_back(p);
  }
  std::sort(ps.begin(), ps.end(), [](const Particle& a, const Particle& b) { return a.depth > b.depth; });
  for (size_t first = 0; first < ps.size(); first += 20) {
    Batch b;
    b.texture = blob;
    b.blend = b.fog = true;
    b.depthWrite = false;
    b.cull = false;
    for (size_t i = first; i < first + 20 && i < ps.size(); ++i) {
      const Particle& p = ps[i];
      uint16_t f = uint16_t(b.lit.size());
      for (int k = 0; k < 4; ++k) {
        float a = (k & 1) ? p.size : -p.size, c = (k & 2) ? -p.size : p.size;
        b.lit.push_back({p.x + a * right[0] + c * up[0], p.y + a * right[1] + c * up[1], p.z + a * right[2] + c * up[2],
                         0, 0, -1, p.colour, float(k & 1), float(k >> 1)});
      }
      b.idx.insert(b.idx.end(), {f, uint16_t(f + 1), uint16_t(f + 2), uint16_t(f + 1), uint16_t(f + 3), uint16_t(f + 2)});
    }
    s.batches.push_back(std::move(b));
  }

  // The 2D overlay, one draw per quad (laid out for 640 x 480, scaled):
  // ten icons, thirty glyph-sized quads, ten bar segments.
  const float sx = float(w) / 640.0f, sy = float(h) / 480.0f;
  for (int i = 0; i < 10; ++i) {
    Batch b = Overlay(icon + i % 4);
    AddQuad2D(b, (12.0f + 56.0f * float(i)) * sx, 12 * sy, (60.0f + 56.0f * float(i)) * sx, 60 * sy, 0xFFFFFFFFu);
    s.batches.push_back(std::move(b));
  }
  for (int i = 0; i < 30; ++i) {
    Batch b = Overlay(icon + (i * 7) % 4);
    AddQuad2D(b, (20.0f + 18.0f * float(i)) * sx, 440 * sy, (36.0f + 18.0f * float(i)) * sx, 464 * sy, 0xD0FFFFFFu);
    s.batches.push_back(std::move(b));
  }
  for (int i = 0; i < 10; ++i) {
    Batch b = Overlay(blob);
    AddQuad2D(b, (400.0f + 22.0f * float(i)) * sx, 400 * sy, (420.0f + 22.0f * float(i)) * sx, 428 * sy,
              0xC000FF40u + uint32_t(i * 0x100000));
    s.batches.push_back(std::move(b));
  }
  return s;
}

// A light map for `combine`, clamped: soft light and shadow in colour, and
// patches in alpha (what COMBINE_BLEND_ALPHA lays over the ground). Its
// brightness suits the way it combines: about 1 where it modulates, 0.5
// where it modulates twice, dark where it adds.
TexData LightmapTexture(int size, Combine combine) {
  TexData t;
  t.size = size;
  t.clamp = true;
  std::vector<uint32_t> px(size_t(size) * size_t(size));
  const float scale[COMBINE_COUNT] = {1.0f, 0.6f, 0.35f, 0.8f}, floor[COMBINE_COUNT] = {0.35f, 0.2f, 0.0f, 0.3f};
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const float u = float(x) / float(size), v = float(y) / float(size);
      const float light = 0.5f + 0.3f * std::sin(u * 17.0f + std::cos(v * 9.0f)) * std::cos(v * 13.0f - u * 4.0f) +
                          0.2f * std::sin((u + v) * 31.0f);
      const float l = std::clamp(floor[combine] + (scale[combine] - floor[combine]) * light, 0.0f, 1.0f);
      const float patch = std::clamp(2.5f * std::sin(u * 11.0f) * std::sin(v * 7.0f + u * 3.0f), 0.0f, 1.0f);
      auto ch = [&](float tint) { return uint32_t(std::clamp(l * tint, 0.0f, 1.0f) * 255.0f); };
      px[size_t(y) * size + x] = uint32_t(patch * 255.0f) << 24 | ch(1.0f) << 16 | ch(0.92f) << 8 | ch(0.8f);
    }
  t.levels.push_back(std::move(px));
  return t;
}

// The level's terrain with a light map on stage 1, its draws taking the four
// combine modes in turn.
SceneData LightmapScene(int w, int h) {
  SceneData s = LevelOutdoors(w, h);
  const int lightmaps = int(s.textures.size());
  for (int c = 0; c < COMBINE_COUNT; ++c) s.textures.push_back(LightmapTexture(256, Combine(c)));
  // 96 x 100 quads over 160 x 160 units in 16 strips along the view, so
  // that each mode covers about a quarter of the ground near and far.
  for (int i = 0; i < 16; ++i) {
    Batch b;
    const float x0 = -80.0f + 10.0f * float(i);
    AddGrid(b, 6, 100, x0, x0 + 10, -80, 80, 1, TerrainHeight);
    b.texture = i * 3 % 8;
    b.combine = Combine(i % COMBINE_COUNT);
    b.lightmap = lightmaps + b.combine;
    for (VLit& v : b.lit) {
      v.u = v.x / 8.0f, v.v = v.z / 8.0f;  // the level's 5 repeats per 40 units
      b.uv2.insert(b.uv2.end(), {(v.x + 80.0f) / 160.0f, (v.z + 80.0f) / 160.0f});
    }
    b.lighting = b.fog = true;
    b.diffuse = {0.85f, 0.85f, 0.85f, 1};
    s.batches.push_back(std::move(b));
  }
  return s;
}

// A cloud puff: value noise in alpha over a soft disc, nearly white, tinted by `seed`.
TexData CloudTexture(int size, int seed) {
  TexData t;
  t.size = size;
  auto hash = [seed](int x, int y) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h >> 8) & 0xFFFF) / 65535.0f;
  };
  // Noise that wraps with the texture, so the wrapped quads show no seams.
  auto noise = [&](float x, float y, int cells) {
    const int x0 = int(x), y0 = int(y);
    const float fx = x - float(x0), fy = y - float(y0);
    auto at = [&](int i, int j) {
      return hash(((x0 + i) % cells + cells) % cells, ((y0 + j) % cells + cells) % cells);
    };
    const float top = at(0, 0) + (at(1, 0) - at(0, 0)) * fx, bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * fx;
    return top + (bottom - top) * fy;
  };
  std::vector<uint32_t> px(size_t(size) * size_t(size));
  const uint32_t tint = uint32_t(200 + seed * 17 % 56) << 16 | uint32_t(200 + seed * 29 % 56) << 8 | 0xF0u;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const float u = float(x) / float(size), v = float(y) / float(size);
      const float n = 0.5f * noise(u * 4, v * 4, 4) + 0.3f * noise(u * 8, v * 8, 8) + 0.2f * noise(u * 16, v * 16, 16);
      const float du = u - 0.5f, dv = v - 0.5f, disc = std::max(0.0f, 1.0f - 3.2f * (du * du + dv * dv));
      const float a = std::clamp(n * (0.4f + disc), 0.0f, 1.0f);
      px[size_t(y) * size + x] = uint32_t(a * 255.0f) << 24 | tint;
    }
  t.levels.push_back(std::move(px));
  AddMips(t);
  return t;
}

// Fill-bound blending: 12 large cloud quads, alpha-blended back to front,
// tilted so that their texture coordinates need the perspective divide, with
// a tint per corner and trilinear filtering; depth tested, not written.
SceneData BlendScene(int w, int h) {
  SceneData s;
  s.width = w, s.height = h;
  s.mipmaps = true;
  s.clearColour = 0xFF304868u;
  for (int i = 0; i < 4; ++i) s.textures.push_back(CloudTexture(256, i));
  s.projection = Perspective(kPi / 3, float(w) / float(h), 1.0f, 100.0f);
  for (int i = 0; i < 12; ++i) {
    Batch b;
    const float z = 17.0f - float(i), half = z * (0.85f + 0.05f * float(i % 5));
    const float uv = 1.0f + 0.75f * float(i % 4);
    const float spin = 0.37f * float(i), tilt = 0.35f * std::sin(1.7f * float(i));
    const uint32_t alpha = uint32_t(0x90 + 0x10 * (i % 5)) << 24;
    const uint32_t tints[4] = {0x00FFFFFFu, 0x00FFE0C0u, 0x00C0E0FFu, 0x00F0F0F0u};
    for (int k = 0; k < 4; ++k) {
      const float x = (k & 1) ? half : -half, y = (k & 2) ? -half : half;
      b.lit.push_back({x, y, 0, 0, 0, -1, alpha | tints[(k + i) % 4], (k & 1) ? uv : 0.0f, (k & 2) ? uv : 0.0f});
    }
    b.idx = {0, 1, 2, 1, 3, 2};
    b.world = Mul(Mul(RotationX(tilt), RotationZ(spin)),
                  Translation(0.3f * std::cos(float(i)), 0.2f * std::sin(float(i)), z));
    b.texture = i % 4;
    b.blend = true;
    b.depthWrite = false;
    b.cull = false;
    s.batches.push_back(std::move(b));
  }
  return s;
}

struct SceneKind {
  const char* name;
  SceneData (*make)(int w, int h);
};
const SceneKind kScenes[] = {{"fill", FillScene},   {"geometry", GeometryScene}, {"mixed", MixedScene},
                             {"level", LevelScene}, {"blend", BlendScene},       {"lightmap", LightmapScene}};
struct SizeKind {
  int w, h;
};
const SizeKind kSizes[] = {{640, 480}, {1280, 720}};

// ---- our rasteriser, through the device's own calls ----------------------------

// A lit vertex with the light map's coordinates.
struct VLit2 {
  VLit v;
  float u2, v2;
};
constexpr uint32_t kFvfLit2 = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2;  // 44 bytes

struct Ours {
  Scene target;
  std::vector<Texture> textures;
  std::vector<std::vector<VLit2>> lightmapped;  // per batch: its vertices with uv2, or none
  const SceneData* data;
  explicit Ours(const SceneData& d)
      : target(d.width, d.height, D3DFMT_X8R8G8B8, D3DFMT_D24X8,
               [](D3D8Answers* a) { a->blendStages = 2, a->modulate2x = true; }),
        data(&d) {
    for (const Batch& b : d.batches) {
      lightmapped.emplace_back();
      if (b.lightmap >= 0)
        for (size_t i = 0; i < b.lit.size(); ++i) lightmapped.back().push_back({b.lit[i], b.uv2[2 * i], b.uv2[2 * i + 1]});
    }
    for (const TexData& t : d.textures) {
      textures.emplace_back(target, t.size, t.size, D3DFMT_A8R8G8B8, int(t.levels.size()));
      for (size_t l = 0; l < t.levels.size(); ++l) {
        int n = t.size >> l;
        textures.back().Fill(int(l), [&](int x, int y) { return t.levels[l][size_t(y) * n + x]; });
      }
    }
    target.View(d.view);
    target.Projection(d.projection);
    target.RS(D3DRS_AMBIENT, 0xFF404040u);
    target.RS(D3DRS_COLORVERTEX, 0);
    target.RS(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    target.RS(D3DRS_FOGSTART, FloatBits(d.fogStart));
    target.RS(D3DRS_FOGEND, FloatBits(d.fogEnd));
    target.RS(D3DRS_FOGCOLOR, d.fogColour);
    target.RS(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    target.RS(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    for (size_t i = 0; i < d.lights.size(); ++i) {
      D3DLIGHT8 light{};
      light.Type = D3DLIGHT_DIRECTIONAL;
      light.Diffuse = d.lights[i].colour;
      light.Direction = d.lights[i].direction;
      target.Light(uint32_t(i), light);
    }
    target.TSS(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    target.TSS(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    target.TSS(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    target.TSS(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    target.TSS(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    target.TSS(0, D3DTSS_MIPFILTER, d.mipmaps ? D3DTEXF_LINEAR : D3DTEXF_NONE);
    target.TSS(1, {{D3DTSS_COLORARG1, D3DTA_TEXTURE}, {D3DTSS_COLORARG2, D3DTA_CURRENT},
                   {D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP}, {D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP},
                   {D3DTSS_MAGFILTER, D3DTEXF_LINEAR}, {D3DTSS_MINFILTER, D3DTEXF_LINEAR},
                   {D3DTSS_MIPFILTER, D3DTEXF_NONE}});
  }
  void Frame() {
    target.Clear(data->clearColour, 1.0f);
    for (size_t i = 0; i < data->batches.size(); ++i) {
      const Batch& b = data->batches[i];
      target.World(b.world);
      target.dev->SetTexture(0, b.texture >= 0 ? textures[size_t(b.texture)].tex : nullptr);
      static constexpr uint32_t kOps[COMBINE_COUNT] = {D3DTOP_MODULATE, D3DTOP_MODULATE2X, D3DTOP_ADD,
                                                       D3DTOP_BLENDTEXTUREALPHA};
      target.dev->SetTexture(1, b.lightmap >= 0 ? textures[size_t(b.lightmap)].tex : nullptr);
      target.TSS(1, D3DTSS_COLOROP, b.lightmap >= 0 ? kOps[b.combine] : D3DTOP_DISABLE);
      target.RS(D3DRS_LIGHTING, b.lighting);
      target.RS(D3DRS_FOGENABLE, b.fog);
      target.RS(D3DRS_ALPHABLENDENABLE, b.blend);
      target.RS(D3DRS_ZENABLE, b.depthTest);
      target.RS(D3DRS_ZWRITEENABLE, b.depthWrite);
      target.RS(D3DRS_CULLMODE, b.cull ? D3DCULL_CCW : D3DCULL_NONE);
      D3DMATERIAL8 mat{};
      mat.Diffuse = b.diffuse;
      mat.Ambient = {1, 1, 1, 1};
      target.Material(mat);
      if (b.pretransformed)
        target.Draw(D3DPT_TRIANGLELIST, int(b.idx.size() / 3), b.flat.data(), int(b.flat.size()), kFvf2D, b.idx.data());
      else if (b.lightmap >= 0)
        target.Draw(D3DPT_TRIANGLELIST, int(b.idx.size() / 3), lightmapped[i].data(), int(lightmapped[i].size()),
                    kFvfLit2, b.idx.data());
      else
        target.Draw(D3DPT_TRIANGLELIST, int(b.idx.size() / 3), b.lit.data(), int(b.lit.size()), kFvfLit, b.idx.data());
    }
    // Present's work without a window: everything drawn is in the back buffer.
    target.dev->Present(nullptr, nullptr, nullptr, nullptr);
  }
  // The picture as 0xAARRGGBB rows, top first.
  std::vector<uint32_t> Picture() {
    std::vector<uint32_t> px(size_t(data->width) * size_t(data->height));
    for (int y = 0; y < data->height; ++y)
      for (int x = 0; x < data->width; ++x) px[size_t(y) * data->width + x] = target.Pixel(x, y);
    return px;
  }
};

// ---- llvmpipe through OSMesa -----------------------------------------------------

// The device's projection as OpenGL needs it: depth from [0, 1] to [-1, 1],
// and shifted half a pixel so that OpenGL's pixel centres (at +0.5) sample
// where the device's (at integers) do.
D3DMATRIX GlProjection(const D3DMATRIX& p, int w, int h) {
  D3DMATRIX s = Identity();
  s.m[2][2] = 2.0f;
  s.m[3][0] = 1.0f / float(w);
  s.m[3][1] = -1.0f / float(h);
  s.m[3][2] = -1.0f;
  return Mul(p, s);
}

struct Llvmpipe {
  OSMesaContext ctx = nullptr;
  std::vector<uint8_t> buffer;
  std::vector<GLuint> names;
  const SceneData* data;
  D3DMATRIX projection;
  explicit Llvmpipe(const SceneData& d)
      : buffer(size_t(d.width) * d.height * 4), data(&d), projection(GlProjection(d.projection, d.width, d.height)) {
    ctx = OSMesaCreateContextExt(OSMESA_BGRA, 24, 0, 0, nullptr);
    if (!ctx || !OSMesaMakeCurrent(ctx, buffer.data(), GL_UNSIGNED_BYTE, d.width, d.height)) return;
    names.resize(d.textures.size());
    glGenTextures(GLsizei(names.size()), names.data());
    for (size_t i = 0; i < names.size(); ++i) {
      glBindTexture(GL_TEXTURE_2D, names[i]);
      const TexData& t = d.textures[i];
      for (size_t l = 0; l < t.levels.size(); ++l) {
        GLsizei n = t.size >> l;
        glTexImage2D(GL_TEXTURE_2D, GLint(l), GL_RGBA8, n, n, 0, GL_BGRA, GL_UNSIGNED_BYTE, t.levels[l].data());
      }
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      bool mips = d.mipmaps && t.levels.size() > 1;
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mips ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, mips ? GLint(t.levels.size()) - 1 : 0);
      if (t.clamp) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
      }
    }
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glViewport(0, 0, d.width, d.height);
    glDepthFunc(GL_LEQUAL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glFrontFace(GL_CW);  // the same triangles survive as under CULLMODE CCW
    glShadeModel(GL_SMOOTH);
    // The device: ambient 0x40 times a material ambient of 1, no light ambient.
    GLfloat ambient[4] = {64 / 255.0f, 64 / 255.0f, 64 / 255.0f, 1}, one[4] = {1, 1, 1, 1}, none[4] = {0, 0, 0, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, one);
    for (size_t i = 0; i < d.lights.size(); ++i) {
      const D3DCOLORVALUE& c = d.lights[i].colour;
      GLfloat colour[4] = {c.r, c.g, c.b, 1};
      glLightfv(GLenum(GL_LIGHT0 + i), GL_DIFFUSE, colour);
      glLightfv(GLenum(GL_LIGHT0 + i), GL_AMBIENT, none);
      glLightfv(GLenum(GL_LIGHT0 + i), GL_SPECULAR, none);
      glEnable(GLenum(GL_LIGHT0 + i));
    }
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogf(GL_FOG_START, d.fogStart);
    glFogf(GL_FOG_END, d.fogEnd);
    GLfloat fog[4] = {float((d.fogColour >> 16) & 255) / 255.0f, float((d.fogColour >> 8) & 255) / 255.0f,
                      float(d.fogColour & 255) / 255.0f, 1};
    glFogfv(GL_FOG_COLOR, fog);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  ~Llvmpipe() {
    if (ctx) {
      glDeleteTextures(GLsizei(names.size()), names.data());
      OSMesaDestroyContext(ctx);
    }
  }
  bool Ok() const { return ctx != nullptr; }
  void Frame() {
    const uint32_t cc = data->clearColour;
    glClearColor(float((cc >> 16) & 255) / 255.0f, float((cc >> 8) & 255) / 255.0f, float(cc & 255) / 255.0f, 1);
    glClearDepth(1.0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (const Batch& b : data->batches) {
      glMatrixMode(GL_PROJECTION);
      if (b.pretransformed) {
        glLoadIdentity();
        glOrtho(-0.5, data->width - 0.5, data->height - 0.5, -0.5, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
      } else {
        glLoadMatrixf(&projection.m[0][0]);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(&data->view.m[0][0]);
        // The lights are given in world space, under the view matrix.
        for (size_t i = 0; i < data->lights.size(); ++i) {
          const D3DVECTOR& v = data->lights[i].direction;
          GLfloat dir[4] = {-v.x, -v.y, -v.z, 0};
          glLightfv(GLenum(GL_LIGHT0 + i), GL_POSITION, dir);
        }
        glMultMatrixf(&b.world.m[0][0]);
      }
      if (b.texture >= 0) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, names[size_t(b.texture)]);
      } else {
        glDisable(GL_TEXTURE_2D);
      }
      Lightmap(b);
      b.lighting ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
      GLfloat diffuse[4] = {b.diffuse.r, b.diffuse.g, b.diffuse.b, b.diffuse.a};
      glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
      (b.fog && !b.pretransformed) ? glEnable(GL_FOG) : glDisable(GL_FOG);
      b.blend ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
      b.depthTest ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
      b.cull ? glEnable(GL_CULL_FACE) : glDisable(GL_CULL_FACE);
      glDepthMask(b.depthWrite ? GL_TRUE : GL_FALSE);
      if (b.pretransformed) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(b.flat.data());
        glDisableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 28, p);  // rhw is 1: x, y, z
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, 28, p + 16);
        glTexCoordPointer(2, GL_FLOAT, 28, p + 20);
      } else {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(b.lit.data());
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 36, p);
        glNormalPointer(GL_FLOAT, 36, p + 12);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, 36, p + 24);
        glTexCoordPointer(2, GL_FLOAT, 36, p + 28);
      }
      glDrawElements(GL_TRIANGLES, GLsizei(b.idx.size()), GL_UNSIGNED_SHORT, b.idx.data());
    }
    glFinish();
  }
  // Texture unit 1: the batch's light map with its coordinates and the
  // combine mode as the texture environment (modulate 2x through the
  // combiner's scale), or off.
  void Lightmap(const Batch& b) {
    glActiveTexture(GL_TEXTURE1);
    glClientActiveTexture(GL_TEXTURE1);
    if (b.lightmap < 0) {
      glDisable(GL_TEXTURE_2D);
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    } else {
      glEnable(GL_TEXTURE_2D);
      glBindTexture(GL_TEXTURE_2D, names[size_t(b.lightmap)]);
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glTexCoordPointer(2, GL_FLOAT, 8, b.uv2.data());
      if (b.combine == COMBINE_MODULATE2X) {
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
        glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_TEXTURE);
        glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB, GL_PREVIOUS);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
        glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_ALPHA, GL_PREVIOUS);
        glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 2.0f);
      } else {
        const GLint modes[COMBINE_COUNT] = {GL_MODULATE, GL_COMBINE, GL_ADD, GL_DECAL};
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, modes[b.combine]);
      }
    }
    glActiveTexture(GL_TEXTURE0);
    glClientActiveTexture(GL_TEXTURE0);
  }
  // The picture as 0xAARRGGBB rows, top first (OpenGL's rows run bottom up).
  std::vector<uint32_t> Picture() {
    std::vector<uint32_t> px(size_t(data->width) * size_t(data->height));
    for (int y = 0; y < data->height; ++y)
      memcpy(&px[size_t(y) * data->width], &buffer[size_t(data->height - 1 - y) * data->width * 4],
             size_t(data->width) * 4);
    for (uint32_t& p : px) p |= 0xFF000000u;
    return px;
  }
};

// ---- measuring -------------------------------------------------------------------

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return in ? a + " " + b + " " + c : "unknown";
}

struct Figure {
  double fps = 0;            // wall time
  double cpuMsPerFrame = 0;  // CPU time per frame, all threads of the process
};

// One window: a warm-up frame (caches, llvmpipe's shader compiler), then
// frames for at least kWindowSeconds of wall time.
constexpr double kWindowSeconds = 0.5;
template <class R>
Figure Window(R& r) {
  r.Frame();
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  int frames = 0;
  double secs = 0;
  do {
    r.Frame();
    ++frames;
    secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (frames < 3 || secs < kWindowSeconds);
  const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  return {double(frames) / secs, 1000.0 * cpu / frames};
}

std::string PictureFolder() {
  const char* env = getenv("HELM_BENCH_PICTURES");
  return env && env[0] ? env : ".";
}

void SavePicture(const std::vector<uint32_t>& px, int w, int h, const std::string& name) {
  std::vector<uint32_t> copy = px;
  D3D8DrawSurface s{D3DFMT_A8R8G8B8, w, h, w * 4, reinterpret_cast<uint8_t*>(copy.data())};
  std::string path = PictureFolder() + "/" + name + ".png";
  if (!D3D8Present_WritePng(&s, nullptr, path.c_str())) fprintf(stderr, "cannot write %s\n", path.c_str());
}

double MeanChannelDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int sh = 0; sh < 24; sh += 8) sum += std::abs(int((a[i] >> sh) & 255) - int((b[i] >> sh) & 255));
  return sum / (3.0 * double(a.size()));
}

// FNV-1a of a picture's pixels.
uint32_t PictureHash(const std::vector<uint32_t>& px) {
  uint32_t h = 2166136261u;
  for (uint32_t p : px)
    for (int sh = 0; sh < 32; sh += 8) h = (h ^ ((p >> sh) & 255)) * 16777619u;
  return h;
}

// Both pictures of one scene, saved, with the hash of ours at each thread
// count; returns their difference.
double ComparePictures(const SceneKind& scene, const SizeKind& size, const int (&threads)[2], uint32_t (&hashes)[2]) {
  SceneData data = scene.make(size.w, size.h);
  std::vector<uint32_t> ourPicture, glPicture;
  for (int t = 1; t >= 0; --t) {
    Rasteriser_SetThreads(threads[t]);
    Ours ours(data);
    ours.Frame();
    ourPicture = ours.Picture();
    hashes[t] = PictureHash(ourPicture);
  }
  Rasteriser_SetThreads(0);
  {
    Llvmpipe lp(data);
    if (!lp.Ok()) return -1;
    lp.Frame();
    glPicture = lp.Picture();
  }
  std::string name = std::string(scene.name) + "_" + std::to_string(size.w) + "x" + std::to_string(size.h);
  SavePicture(ourPicture, size.w, size.h, "d3d8_bench_" + name + "_ours");
  SavePicture(glPicture, size.w, size.h, "d3d8_bench_" + name + "_llvmpipe");
  return MeanChannelDifference(ourPicture, glPicture);
}

const SceneKind* FindScene(const char* name) {
  for (const SceneKind& scene : kScenes)
    if (std::string(scene.name) == name) return &scene;
  return nullptr;
}

// llvmpipe reads LP_NUM_THREADS once per process, so each of its windows is
// measured by a copy of this program (--llvmpipe=...) started with the count.
std::string g_self;
Figure LlvmpipeWindow(const SceneKind& scene, const SizeKind& size, int threads) {
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("helm_d3d8_bench_" + std::to_string(getpid()) + ".txt")).string();
  std::remove(file.c_str());
  const std::string cmd = "LP_NUM_THREADS=" + std::to_string(threads) + " '" + g_self + "' --llvmpipe=" + scene.name +
                          "," + std::to_string(size.w) + "x" + std::to_string(size.h) + "," + file;
  Figure f;
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream in(file);
    in >> f.fps >> f.cpuMsPerFrame;
  }
  std::remove(file.c_str());
  return f;
}

Figure OursWindow(const SceneData& data, int threads) {
  Rasteriser_SetThreads(threads);
  Ours ours(data);
  const Figure f = Window(ours);
  Rasteriser_SetThreads(0);
  return f;
}

constexpr int kRuns = 5;
constexpr int kThreads[2] = {1, 4};  // both sides, equal counts

// The runs of one side at one thread count, and the ratios of ours over
// llvmpipe run by run.
struct Series {
  Figure ours[kRuns], llvmpipe[kRuns];
  double ratio[kRuns];
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Row {
  std::string scene, size, load;
  Series series[2];
  double difference = 0;
  uint32_t hash[2] = {};  // of our picture per thread count
};
std::vector<Row> g_rows;

// Five runs, each measuring both sides at both thread counts one after the
// other, so that a change of the machine's load falls on all four alike.
void RunScene(benchmark::State& state, const SceneKind& scene, const SizeKind& size) {
  Row row;
  row.scene = scene.name;
  row.size = std::to_string(size.w) + "x" + std::to_string(size.h);
  const SceneData data = scene.make(size.w, size.h);
  for (auto _ : state)
    for (int r = 0; r < kRuns; ++r)
      for (int t = 0; t < 2; ++t) {
        Series& sr = row.series[t];
        sr.ours[r] = OursWindow(data, kThreads[t]);
        sr.llvmpipe[r] = LlvmpipeWindow(scene, size, kThreads[t]);
        sr.ratio[r] = sr.llvmpipe[r].fps > 0 ? sr.ours[r].fps / sr.llvmpipe[r].fps : 0;
      }
  row.load = LoadAverage();
  row.difference = ComparePictures(scene, size, kThreads, row.hash);
  for (int t = 0; t < 2; ++t) {
    const std::string n = std::to_string(kThreads[t]) + "t";
    state.counters["ratio_" + n] = Median(std::vector<double>(row.series[t].ratio, row.series[t].ratio + kRuns));
  }
  printf("  %-9s %-9s done, load %s\n", row.scene.c_str(), row.size.c_str(), row.load.c_str());
  fflush(stdout);
  g_rows.push_back(row);
}

void PrintTable() {
  printf("\nEach cell: median of %d interleaved runs (windows of >= %.1f s per side); fps by wall time, CPU ms per "
         "frame\nin brackets; ratio = ours / llvmpipe per run: median [lowest, highest]. Threads: both sides alike.\n",
         kRuns, kWindowSeconds);
  printf("%-9s %-9s %3s %16s %16s %20s %6s %8s  %s\n", "scene", "size", "thr", "ours", "llvmpipe", "ratio", "diff",
         "hash", "load (1, 5, 15 min)");
  for (const Row& row : g_rows)
    for (int t = 0; t < 2; ++t) {
      const Series& sr = row.series[t];
      std::vector<double> of, oc, lf, lc, ra(sr.ratio, sr.ratio + kRuns);
      for (int r = 0; r < kRuns; ++r) {
        of.push_back(sr.ours[r].fps), oc.push_back(sr.ours[r].cpuMsPerFrame);
        lf.push_back(sr.llvmpipe[r].fps), lc.push_back(sr.llvmpipe[r].cpuMsPerFrame);
      }
      char ours[32], lp[32], ratio[32];
      snprintf(ours, sizeof ours, "%6.1f (%6.2f)", Median(of), Median(oc));
      snprintf(lp, sizeof lp, "%6.1f (%6.2f)", Median(lf), Median(lc));
      snprintf(ratio, sizeof ratio, "%5.2f [%4.2f, %4.2f]", Median(ra), *std::min_element(ra.begin(), ra.end()),
               *std::max_element(ra.begin(), ra.end()));
      printf("%-9s %-9s %3d %16s %16s %20s %6.2f %08x  %s\n", row.scene.c_str(), row.size.c_str(), kThreads[t], ours,
             lp, ratio, row.difference, row.hash[t], row.load.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    char name[32], file[4096];
    int w = 0, h = 0, n = 0;
    // For profilers: --frames=SCENE,WIDTHxHEIGHT,N draws N frames of our side
    // and nothing else.
    if (sscanf(argv[i], "--frames=%31[a-z],%dx%d,%d", name, &w, &h, &n) == 4) {
      const SceneKind* scene = FindScene(name);
      if (!scene) return fprintf(stderr, "unknown scene %s\n", name), 1;
      SceneData data = scene->make(w, h);
      Ours ours(data);
      for (int f = 0; f < n; ++f) ours.Frame();
      return 0;
    }
    // The child that measures one window of llvmpipe (LP_NUM_THREADS set by
    // the parent) and writes "fps cpu_ms_per_frame" to FILE.
    if (sscanf(argv[i], "--llvmpipe=%31[a-z],%dx%d,%4095s", name, &w, &h, file) == 4) {
      const SceneKind* scene = FindScene(name);
      if (!scene) return fprintf(stderr, "unknown scene %s\n", name), 1;
      SceneData data = scene->make(w, h);
      Llvmpipe lp(data);
      if (!lp.Ok()) return fprintf(stderr, "OSMesa context creation failed\n"), 1;
      const Figure f = Window(lp);
      std::ofstream(file) << f.fps << " " << f.cpuMsPerFrame << "\n";
      return 0;
    }
  }
  g_self = std::filesystem::canonical("/proc/self/exe").string();
  benchmark::Initialize(&argc, argv);
  printf("Load average at the start: %s\n", LoadAverage().c_str());
  for (const SizeKind& size : kSizes)
    for (const SceneKind& scene : kScenes)
      benchmark::RegisterBenchmark((std::string(scene.name) + "/" + std::to_string(size.w) + "x" +
                                    std::to_string(size.h)).c_str(),
                                   [&scene, &size](benchmark::State& s) { RunScene(s, scene, size); })
          ->Iterations(1)
          ->Unit(benchmark::kSecond)
          ->UseRealTime();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Rasteriser_Shutdown();
  PrintTable();
  printf("Pictures in %s; load average now: %s\n", PictureFolder().c_str(), LoadAverage().c_str());
  return 0;
}
