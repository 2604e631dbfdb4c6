// Test helpers for the software rasteriser: a render target with depth, a
// draw record with Direct3D 8's default states, vertex layouts from FVF
// codes, textures with mip chains, matrices, and golden-image comparison.
//
// Golden images live in tests/platform/direct3d/golden/. To regenerate them
// after an intended change, run the tests with HELM_REGEN_GOLDEN=1 in the
// environment, then look at every rewritten PNG before committing it.
#pragma once

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/direct3d/d3d8_raster.h"
#include "platform/direct3d/raster_format.h"

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

inline D3DMATRIX RotationY(float a) {
  D3DMATRIX m = Identity();
  m.m[0][0] = std::cos(a), m.m[0][2] = -std::sin(a);
  m.m[2][0] = std::sin(a), m.m[2][2] = std::cos(a);
  return m;
}

inline D3DMATRIX RotationX(float a) {
  D3DMATRIX m = Identity();
  m.m[1][1] = std::cos(a), m.m[1][2] = std::sin(a);
  m.m[2][1] = -std::sin(a), m.m[2][2] = std::cos(a);
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

inline D3D8VertexLayout LayoutOf(uint32_t fvf) {
  D3D8VertexLayout l{};
  l.fvf = fvf;
  int o = 0;
  l.pretransformed = (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW;
  l.position = 0;
  o += l.pretransformed ? 16 : 12;
  l.normal = (fvf & D3DFVF_NORMAL) ? o : -1;
  if (fvf & D3DFVF_NORMAL) o += 12;
  l.diffuse = (fvf & D3DFVF_DIFFUSE) ? o : -1;
  if (fvf & D3DFVF_DIFFUSE) o += 4;
  l.specular = (fvf & D3DFVF_SPECULAR) ? o : -1;
  if (fvf & D3DFVF_SPECULAR) o += 4;
  l.texCount = int((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
  for (int i = 0; i < l.texCount; ++i) {
    uint32_t code = (fvf >> (D3DFVF_TEXCOORDSIZE_SHIFT + 2 * i)) & 3;
    int n = code == 0 ? 2 : code == 1 ? 3 : code == 2 ? 4 : 1;
    l.texOffset[i] = o;
    l.texSize[i] = n;
    o += 4 * n;
  }
  l.size = o;
  return l;
}

// A texture with its own storage; levels halve down to 1 x 1 when mipped.
struct Texture {
  std::vector<std::vector<uint8_t>> storage;
  D3D8DrawTexture chain{};

  Texture(int w, int h, uint32_t format, int levels) {
    int bpp = RasterFormat_BytesPerPixel(format);
    chain.format = format;
    chain.levelCount = levels;
    storage.resize(size_t(levels));
    for (int l = 0; l < levels; ++l) {
      D3D8DrawSurface& s = chain.levels[l];
      s.format = format;
      s.width = w > 0 ? w : 1;
      s.height = h > 0 ? h : 1;
      s.pitch = s.width * bpp;
      storage[size_t(l)].assign(size_t(s.pitch) * size_t(s.height), 0);
      s.pixels = storage[size_t(l)].data();
      w /= 2, h /= 2;
    }
  }
  void Set(int level, int x, int y, uint32_t argb) {
    D3D8DrawSurface& s = chain.levels[level];
    RasterFormat_Store(s.format, s.pixels + size_t(y) * s.pitch + size_t(x) * RasterFormat_BytesPerPixel(s.format),
                       argb);
  }
  template <class F>
  void Fill(int level, F f) {
    for (int y = 0; y < chain.levels[level].height; ++y)
      for (int x = 0; x < chain.levels[level].width; ++x) Set(level, x, y, f(x, y));
  }
};

// A render target with a depth surface and a draw record holding Direct3D
// 8's default states (lighting off here unless a test turns it on).
struct Scene {
  std::vector<uint8_t> colour, depth;
  D3D8DrawState st{};
  int width, height;

  Scene(int w, int h, uint32_t format = D3DFMT_X8R8G8B8, uint32_t depthFormat = D3DFMT_D24X8)
      : width(w), height(h) {
    int bpp = RasterFormat_BytesPerPixel(format);
    colour.assign(size_t(w) * h * bpp, 0);
    st.target = {format, w, h, w * bpp, colour.data()};
    if (depthFormat) {
      int dbpp = RasterFormat_BytesPerPixel(depthFormat);
      depth.assign(size_t(w) * h * dbpp, 0);
      st.depth = {depthFormat, w, h, w * dbpp, depth.data()};
    }
    uint32_t* rs = st.renderStates;
    rs[D3DRS_ZENABLE] = depthFormat ? 1 : 0;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = 1;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGEND] = FloatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
    rs[D3DRS_LIGHTING] = 0;
    rs[D3DRS_COLORVERTEX] = 1;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[168] = 0xF;  // COLORWRITEENABLE
    for (uint32_t s = 0; s < D3D8_MAX_STAGES; ++s) {
      uint32_t* ts = st.stageStates[s];
      ts[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
      ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
      ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
      ts[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
      ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
      ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
      ts[D3DTSS_TEXCOORDINDEX] = s;
      ts[D3DTSS_ADDRESSU] = ts[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
      ts[D3DTSS_MAGFILTER] = ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
      ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
      ts[D3DTSS_MAXANISOTROPY] = 1;
      st.textureTransform[s] = Identity();
    }
    st.world = st.view = st.projection = Identity();
    st.material.Diffuse = {1, 1, 1, 1};
    Viewport(0, 0, w, h);
    Clear(0xFF000000u, 1.0f);
  }

  void Viewport(int x, int y, int w, int h) {
    st.viewport = {uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h), 0.0f, 1.0f};
    st.scissor.x0 = std::max(x, 0);
    st.scissor.y0 = std::max(y, 0);
    st.scissor.x1 = std::min(x + w, width);
    st.scissor.y1 = std::min(y + h, height);
  }

  // Clears the current viewport's colour and depth.
  void Clear(uint32_t argb, float z = 1.0f) {
    int bpp = RasterFormat_BytesPerPixel(st.target.format);
    for (int y = st.scissor.y0; y < st.scissor.y1; ++y)
      for (int x = st.scissor.x0; x < st.scissor.x1; ++x) {
        RasterFormat_Store(st.target.format, colour.data() + (size_t(y) * width + x) * bpp, argb);
        if (st.depth.pixels) {
          uint32_t d = RasterFormat_DepthEncode(st.depth.format, z);
          int db = RasterFormat_BytesPerPixel(st.depth.format);
          memcpy(depth.data() + (size_t(y) * width + x) * db, &d, size_t(db));
        }
      }
  }

  int Draw(uint32_t type, int prims, const void* vertices, int vertexCount, uint32_t fvf,
           const uint16_t* indices = nullptr) {
    st.primitiveType = type;
    st.primitiveCount = prims;
    st.layout = LayoutOf(fvf);
    st.vertices = static_cast<const uint8_t*>(vertices);
    st.vertexCount = vertexCount;
    st.stride = st.layout.size;
    st.indices = indices;
    st.indexSize = indices ? 2 : 0;
    return D3D8Raster_Draw(&st);
  }

  uint32_t Pixel(int x, int y) const {
    int bpp = RasterFormat_BytesPerPixel(st.target.format);
    return RasterFormat_Load(st.target.format, colour.data() + (size_t(y) * width + x) * bpp);
  }
  float Depth(int x, int y) const {
    int db = RasterFormat_BytesPerPixel(st.depth.format);
    uint32_t v = 0;
    memcpy(&v, depth.data() + (size_t(y) * width + x) * db, size_t(db));
    return RasterFormat_DepthDecode(st.depth.format, v);
  }
};

// ---- PNG ---------------------------------------------------------------------

inline bool WritePng(const std::string& path, const Scene& s) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, uint32_t(s.width), uint32_t(s.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t(s.width) * 3);
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      uint32_t c = s.Pixel(x, y);
      row[size_t(x) * 3] = uint8_t(c >> 16), row[size_t(x) * 3 + 1] = uint8_t(c >> 8), row[size_t(x) * 3 + 2] = uint8_t(c);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(f);
  return true;
}

// Reads an 8-bit RGB PNG into 0xFFRRGGBB pixels; false when missing or malformed.
inline bool ReadPng(const std::string& path, int* w, int* h, std::vector<uint32_t>* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  if (png_get_bit_depth(png, info) != 8 || png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return false;
  }
  *w = int(png_get_image_width(png, info));
  *h = int(png_get_image_height(png, info));
  std::vector<uint8_t> row(size_t(*w) * 3);
  out->assign(size_t(*w) * size_t(*h), 0);
  for (int y = 0; y < *h; ++y) {
    png_read_row(png, row.data(), nullptr);
    for (int x = 0; x < *w; ++x)
      (*out)[size_t(y) * *w + x] = 0xFF000000u | uint32_t(row[size_t(x) * 3]) << 16 |
                                   uint32_t(row[size_t(x) * 3 + 1]) << 8 | row[size_t(x) * 3 + 2];
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(f);
  return true;
}

// Compares the scene with golden/<name>.png: every channel within `tolerance`
// on all but `allowedOff` pixels. With HELM_REGEN_GOLDEN=1 it rewrites the
// image instead. Returns an empty string on success, else what differs.
inline std::string MatchGolden(const Scene& s, const char* name, int tolerance = 2, int allowedOff = 0) {
  std::string path = std::string(HELM_SOURCE_DIR) + "/tests/platform/direct3d/golden/" + name + ".png";
  const char* regen = getenv("HELM_REGEN_GOLDEN");
  if (regen && regen[0] == '1') return WritePng(path, s) ? "" : "cannot write " + path;
  int w = 0, h = 0;
  std::vector<uint32_t> ref;
  if (!ReadPng(path, &w, &h, &ref)) return "missing or unreadable " + path;
  if (w != s.width || h != s.height) return "size differs from " + path;
  int off = 0, worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t a = s.Pixel(x, y), b = ref[size_t(y) * w + x];
      int d = 0;
      for (int sh = 0; sh < 24; sh += 8) d = std::max(d, std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)));
      if (d > tolerance) ++off;
      worst = std::max(worst, d);
    }
  if (off > allowedOff) {
    std::string out = std::string(HELM_TEST_TMP) + "/" + name + "_actual.png";
    WritePng(out, s);
    return std::to_string(off) + " pixels differ (worst " + std::to_string(worst) + "); actual image in " + out;
  }
  return "";
}

}  // namespace raster_test
