// The software rasteriser side by side with Mesa's llvmpipe (fixed-function
// OpenGL through OSMesa): the same vertices, textures, states and 640 x 480
// target, three scenes:
//   fill      10 full-screen layers of bilinear, depth-tested, alpha-blended
//             textured quads;
//   geometry  50,000 small lit, textured triangles;
//   mixed     a game-like frame: 20,000 lit triangles, 30 mipmapped textures,
//             linear fog, then a 2D overlay of blended quads.
// Speed only: OpenGL's pixel centres and origin differ, images are not compared.
//
// llvmpipe reads LP_NUM_THREADS once per process, so the run starts a second
// copy of itself with LP_NUM_THREADS=1 (through std::system) and prints one
// table with both llvmpipe figures and the ratios.
#include <GL/gl.h>
#include <GL/osmesa.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "platform/direct3d/rasteriser.h"
#include "tests/platform/direct3d/raster_scene.h"

using namespace raster_test;

namespace {

constexpr int kW = 640, kH = 480;
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

// One draw: a mesh with its states.
struct Batch {
  bool pretransformed = false;
  std::vector<VLit> lit;
  std::vector<V2D> flat;
  std::vector<uint16_t> idx;
  int texture = -1;
  D3DMATRIX world = Identity();
  bool lighting = false, fog = false, blend = false, depthTest = true, depthWrite = true;
  D3DCOLORVALUE diffuse = {1, 1, 1, 1};
};

// A texture as plain pixels (0xAARRGGBB), level 0 first.
struct TexData {
  int size = 0;
  std::vector<std::vector<uint32_t>> levels;
};

struct SceneData {
  std::vector<TexData> textures;
  std::vector<Batch> batches;
  D3DMATRIX view = Identity(), projection = Identity();
  bool mipmaps = false;
  float fogStart = 0, fogEnd = 1;
  uint32_t fogColour = 0xFF8090A0u, clearColour = 0xFF203040u;
};

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

SceneData FillScene() {
  SceneData s;
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

SceneData GeometryScene() {
  SceneData s;
  s.textures.push_back(MakeTexture(64, 2, false));
  float eye[3] = {0, 9, -9}, at[3] = {0, 0, 0};
  s.view = LookAt(eye, at);
  s.projection = Perspective(kPi / 3, float(kW) / float(kH), 1.0f, 100.0f);
  Batch b;
  AddGrid(b, 200, 125, -9, 9, -6.5f, 7.5f, 8, [](float x, float z) { return 0.4f * std::sin(x * 1.7f) * std::cos(z * 1.3f); });
  b.texture = 0;
  b.lighting = true;
  b.diffuse = {0.9f, 0.85f, 0.8f, 1};
  s.batches.push_back(std::move(b));
  return s;
}

SceneData MixedScene() {
  SceneData s;
  s.mipmaps = true;
  for (int i = 0; i < 30; ++i) s.textures.push_back(MakeTexture(128, i + 3, true));
  float eye[3] = {0, 5, -14}, at[3] = {0, 0, 8};
  s.view = LookAt(eye, at);
  s.projection = Perspective(kPi / 3, float(kW) / float(kH), 1.0f, 100.0f);
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
  // The 2D overlay: a translucent bar and twelve icons, fog left enabled.
  Batch bar;
  bar.pretransformed = true;
  AddQuad2D(bar, 0, 400, 640, 480, 0xA0000000u);
  bar.blend = true;
  bar.depthTest = bar.depthWrite = false;
  bar.fog = true;
  bar.texture = 1;
  s.batches.push_back(bar);
  Batch icons = bar;
  icons.flat.clear();
  icons.idx.clear();
  for (int i = 0; i < 12; ++i) AddQuad2D(icons, 16.0f + 52.0f * float(i), 412, 64.0f + 52.0f * float(i), 460, 0xE0FFFFFFu);
  icons.texture = 5;
  s.batches.push_back(icons);
  return s;
}

// ---- our rasteriser, through the device's own calls ----------------------------

struct Ours {
  Scene target{kW, kH};
  std::vector<Texture> textures;
  const SceneData* data;
  explicit Ours(const SceneData& d) : data(&d) {
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
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0.3f, -1.0f, 0.5f};
    target.Light(0, light);
    target.TSS(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    target.TSS(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    target.TSS(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    target.TSS(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    target.TSS(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    target.TSS(0, D3DTSS_MIPFILTER, d.mipmaps ? D3DTEXF_LINEAR : D3DTEXF_NONE);
  }
  void Frame() {
    target.Clear(data->clearColour, 1.0f);
    for (const Batch& b : data->batches) {
      target.World(b.world);
      target.dev->SetTexture(0, b.texture >= 0 ? textures[size_t(b.texture)].tex : nullptr);
      target.RS(D3DRS_LIGHTING, b.lighting);
      target.RS(D3DRS_FOGENABLE, b.fog);
      target.RS(D3DRS_ALPHABLENDENABLE, b.blend);
      target.RS(D3DRS_ZENABLE, b.depthTest);
      target.RS(D3DRS_ZWRITEENABLE, b.depthWrite);
      D3DMATERIAL8 mat{};
      mat.Diffuse = b.diffuse;
      mat.Ambient = {1, 1, 1, 1};
      target.Material(mat);
      if (b.pretransformed)
        target.Draw(D3DPT_TRIANGLELIST, int(b.idx.size() / 3), b.flat.data(), int(b.flat.size()), kFvf2D, b.idx.data());
      else
        target.Draw(D3DPT_TRIANGLELIST, int(b.idx.size() / 3), b.lit.data(), int(b.lit.size()), kFvfLit, b.idx.data());
    }
  }
};

// ---- llvmpipe through OSMesa -----------------------------------------------------

struct Llvmpipe {
  OSMesaContext ctx = nullptr;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(size_t(kW) * kH * 4);
  std::vector<GLuint> names;
  const SceneData* data;
  explicit Llvmpipe(const SceneData& d) : data(&d) {
    ctx = OSMesaCreateContextExt(OSMESA_BGRA, 24, 0, 0, nullptr);
    if (!ctx || !OSMesaMakeCurrent(ctx, buffer.data(), GL_UNSIGNED_BYTE, kW, kH)) return;
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
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, d.mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(t.levels.size()) - 1);
    }
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glViewport(0, 0, kW, kH);
    glDepthFunc(GL_LEQUAL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);  // the same triangles survive as under CULLMODE CCW
    glShadeModel(GL_SMOOTH);
    GLfloat ambient[4] = {0.25f, 0.25f, 0.25f, 1}, white[4] = {1, 1, 1, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glEnable(GL_LIGHT0);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogf(GL_FOG_START, d.fogStart);
    glFogf(GL_FOG_END, d.fogEnd);
    GLfloat fog[4] = {0.5f, 0.56f, 0.63f, 1};
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
    glClearColor(0.125f, 0.19f, 0.25f, 1);
    glClearDepth(1.0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (const Batch& b : data->batches) {
      glMatrixMode(GL_PROJECTION);
      if (b.pretransformed) {
        glLoadIdentity();
        glOrtho(0, kW, kH, 0, 0, -1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
      } else {
        glLoadMatrixf(&data->projection.m[0][0]);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(&data->view.m[0][0]);
        // The light is given in world space, under the view matrix.
        GLfloat dir[4] = {-0.3f, 1.0f, -0.5f, 0};
        glLightfv(GL_LIGHT0, GL_POSITION, dir);
        glMultMatrixf(&b.world.m[0][0]);
      }
      if (b.texture >= 0) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, names[size_t(b.texture)]);
      } else {
        glDisable(GL_TEXTURE_2D);
      }
      b.lighting ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
      GLfloat diffuse[4] = {b.diffuse.r, b.diffuse.g, b.diffuse.b, b.diffuse.a};
      glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
      (b.fog && !b.pretransformed) ? glEnable(GL_FOG) : glDisable(GL_FOG);
      b.blend ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
      b.depthTest ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
      glDepthMask(b.depthWrite ? GL_TRUE : GL_FALSE);
      if (b.pretransformed) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(b.flat.data());
        glDisableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(4, GL_FLOAT, 28, p);
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
};

std::map<std::string, double> g_fps;

template <class R>
void Run(benchmark::State& state, SceneData (*make)(), const char* key) {
  SceneData data = make();
  R r(data);
  if constexpr (std::is_same_v<R, Llvmpipe>) {
    if (!r.Ok()) {
      state.SkipWithError("OSMesa context creation failed");
      return;
    }
  }
  r.Frame();  // warm caches and compile llvmpipe's shaders before timing
  for (auto _ : state) r.Frame();
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  // The table's figure: the best of five windows of at least 100 ms, which
  // keeps other processes on a shared machine from dragging one side down.
  double best = 0;
  for (int window = 0; window < 5; ++window) {
    auto start = std::chrono::steady_clock::now();
    int frames = 0;
    while (frames < 2 || std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100)) {
      r.Frame();
      ++frames;
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, double(frames) / secs);
  }
  g_fps[key] = best;
}

const char* const kScenes[3] = {"fill", "geometry", "mixed"};
SceneData (*const kMakers[3])() = {FillScene, GeometryScene, MixedScene};

std::string LlvmpipeThreads() {
  const char* env = getenv("LP_NUM_THREADS");
  if (env) return env;
  // llvmpipe starts one rasteriser thread per logical CPU by default.
  return std::to_string(std::thread::hardware_concurrency()) + " (default: one per CPU)";
}

}  // namespace

int main(int argc, char** argv) {
  const char* childOut = getenv("HELM_D3D8_BENCH_CHILD");
  std::string selfArgs;
  for (int i = 1; i < argc; ++i) selfArgs += std::string(" '") + argv[i] + "'";
  benchmark::Initialize(&argc, argv);

  if (childOut) {
    // The single-thread llvmpipe run: numbers go back through a file.
    for (int i = 0; i < 3; ++i)
      benchmark::RegisterBenchmark((std::string("llvmpipe_1thread/") + kScenes[i]).c_str(),
                                   [i](benchmark::State& s) { Run<Llvmpipe>(s, kMakers[i], kScenes[i]); })
          ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    std::ofstream out(childOut);
    for (auto& [k, v] : g_fps) out << k << " " << v << "\n";
    benchmark::Shutdown();
    return 0;
  }

  std::string file = (std::filesystem::temp_directory_path() / "helm_d3d8_bench_lp1.txt").string();
  std::remove(file.c_str());
  std::string cmd = "HELM_D3D8_BENCH_CHILD='" + file + "' LP_NUM_THREADS=1 '" + argv[0] + "'" + selfArgs;
  printf("== llvmpipe, LP_NUM_THREADS=1 (child process) ==\n");
  fflush(stdout);
  int rc = std::system(cmd.c_str());
  std::map<std::string, double> single;
  {
    std::ifstream in(file);
    std::string k;
    double v;
    while (in >> k >> v) single[k] = v;
  }
  std::remove(file.c_str());

  printf("== ours and llvmpipe with %s threads ==\n", LlvmpipeThreads().c_str());
  fflush(stdout);
  for (int i = 0; i < 3; ++i) {
    benchmark::RegisterBenchmark((std::string("ours/") + kScenes[i]).c_str(),
                                 [i](benchmark::State& s) { Run<Ours>(s, kMakers[i], (std::string("ours/") + kScenes[i]).c_str()); })
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark((std::string("llvmpipe_default/") + kScenes[i]).c_str(),
                                 [i](benchmark::State& s) { Run<Llvmpipe>(s, kMakers[i], (std::string("lp/") + kScenes[i]).c_str()); })
        ->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Rasteriser_Shutdown();

  printf("\nFrames per second at %d x %d (our rasteriser is single-threaded)\n", kW, kH);
  printf("llvmpipe threads: 1 and %s%s\n", LlvmpipeThreads().c_str(), rc != 0 ? " (single-thread run failed)" : "");
  printf("%-10s %10s %14s %10s %16s %10s\n", "scene", "ours", "llvmpipe-1t", "ratio", "llvmpipe-default", "ratio");
  for (const char* sc : kScenes) {
    double o = g_fps["ours/" + std::string(sc)], l1 = single[sc], ld = g_fps["lp/" + std::string(sc)];
    printf("%-10s %10.1f %14.1f %10.2f %16.1f %10.2f\n", sc, o, l1, l1 > 0 ? o / l1 : 0.0, ld, ld > 0 ? o / ld : 0.0);
  }
  return 0;
}
