#include "platform/direct3d/d3d8_present.h"

#include <SDL.h>
#include <emmintrin.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/direct3d/rasteriser.h"
#include "platform/direct3d/rasteriser_format.h"
#include "platform/win32/window.h"

namespace {

// The copy of an image into the window's surface when both hold 32-bit
// pixels with red, green and blue in the same places, tile by tile on the
// threads that shaded the tiles (the pixels are still in their caches). A
// pixel becomes (source & keep) | set, as SDL's own blit gives it (an
// opaque alpha into a surface with alpha, none into one without).
struct WindowCopy {
  const D3D8DrawSurface* image;
  uint8_t* pixels;
  int pitch;
  uint32_t keep, set;
};

// A frame between D3D8Present_Begin and D3D8Present_Finish.
struct PendingFrame {
  bool live = false;
  uint32_t window = 0;      // its SDL window's id, 0 for none: ids are never
                            // reused, so a window closed meanwhile is missed, not freed memory read
  D3D8DrawSurface image{};
  std::string capture;      // the file to write it to, or empty
  // Whether the flush copies it into the window tile by tile
  // (D3D8Present_TileCopy), or Finish does.
  bool copied = false;
  WindowCopy copy{};
};

// Module record of presentation.
struct Presenter {
  uint32_t desktopWidth = 0, desktopHeight = 0;  // 0: none reported
  int frame = 0;             // frames shown since capture was last set
  int captureFrame = -1;     // the one frame to capture, or -1
  std::string capturePath;   // its file name, or the every-frame pattern
  bool captureEvery = false;
  PendingFrame pending;
};

Presenter& P() {
  static Presenter p;
  return p;
}

SDL_Window* WindowOf(void* handle) { return Window_SdlWindow(handle); }

// One row of `image` as R, G, B, A bytes.
void RowToRgba(const D3D8DrawSurface* image, const PALETTEENTRY* palette, int y, uint8_t* out) {
  for (int x = 0; x < image->width; ++x) {
    uint32_t c = RasteriserFormat_Texel(image, palette, x, y);
    out[4 * x + 0] = (uint8_t)(c >> 16);
    out[4 * x + 1] = (uint8_t)(c >> 8);
    out[4 * x + 2] = (uint8_t)c;
    out[4 * x + 3] = (uint8_t)(c >> 24);
  }
}

bool Readable(const D3D8DrawSurface* image) {
  if (!image || !image->pixels || image->width <= 0 || image->height <= 0) return false;
  switch (image->format) {
    case D3DFMT_A8R8G8B8: case D3DFMT_X8R8G8B8: case D3DFMT_R5G6B5: case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: case D3DFMT_A4R4G4B4: case D3DFMT_L8: case D3DFMT_P8:
    case D3DFMT_DXT1: case D3DFMT_DXT2: case D3DFMT_DXT3: case D3DFMT_DXT4: case D3DFMT_DXT5:
      return true;
    default:
      return false;
  }
}

// libpng reports errors by longjmp; nothing with a destructor may live
// between setjmp and the calls that can jump.
bool WritePngFile(FILE* file, const D3D8DrawSurface* image, const PALETTEENTRY* palette, uint8_t* row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, (png_uint_32)image->width, (png_uint_32)image->height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image->height; ++y) {
    RowToRgba(image, palette, y, row);
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool ReadPngFile(FILE* file, uint32_t** out, int* width, int* height) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  // Both survive the longjmp so they can be freed.
  uint8_t* volatile rgba = nullptr;
  png_bytep* volatile rowPointers = nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    delete[] rgba;
    if (rowPointers) png_free(png, rowPointers);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_set_user_limits(png, 8192, 8192);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  int depth = png_get_bit_depth(png, info), type = png_get_color_type(png, info);
  if (depth == 16) png_set_strip_16(png);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != (size_t)w * 4) png_error(png, "unexpected row size");
  rgba = new (std::nothrow) uint8_t[(size_t)w * h * 4];
  if (!rgba) png_error(png, "out of memory");
  rowPointers = (png_bytep*)png_malloc(png, sizeof(png_bytep) * h);
  for (png_uint_32 y = 0; y < h; ++y) rowPointers[y] = rgba + (size_t)y * w * 4;
  png_read_image(png, rowPointers);
  png_free(png, rowPointers);
  rowPointers = nullptr;
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  uint32_t* pixels = new (std::nothrow) uint32_t[(size_t)w * h];
  if (pixels) {
    for (size_t i = 0; i < (size_t)w * h; ++i) {
      const uint8_t* p = rgba + 4 * i;
      pixels[i] = (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
    }
  }
  delete[] rgba;
  if (!pixels) return false;
  *out = pixels;
  *width = (int)w;
  *height = (int)h;
  return true;
}

// The window's pixels are only written, so where they are 16-byte aligned
// they go out with streaming stores: no reading of lines that are about to
// be overwritten, and no pushing the tiles' pixels out of the caches.
void CopyTile(void* context, int x0, int y0, int x1, int y1) {
  const WindowCopy& c = *static_cast<const WindowCopy*>(context);
  const __m128i keep = _mm_set1_epi32(int(c.keep)), set = _mm_set1_epi32(int(c.set));
  for (int y = y0; y < y1; ++y) {
    const uint8_t* from = c.image->pixels + size_t(y) * size_t(c.image->pitch) + size_t(x0) * 4;
    uint8_t* to = c.pixels + size_t(y) * size_t(c.pitch) + size_t(x0) * 4;
    int x = 0;
    if (reinterpret_cast<uintptr_t>(to) % 16 == 0)
      for (; x + 4 <= x1 - x0; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * x));
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + 4 * x), _mm_or_si128(_mm_and_si128(v, keep), set));
      }
    for (; x < x1 - x0; ++x) {
      uint32_t v;
      memcpy(&v, from + 4 * x, 4);
      v = (v & c.keep) | c.set;
      memcpy(to + 4 * x, &v, 4);
    }
  }
  _mm_sfence();  // the streamed stores are visible before the item counts as done
}

// The tile copy of the image into the same-sized window surface; false
// when the formats are not such a pair.
bool WindowCopyOf(const D3D8DrawSurface* image, SDL_Surface* screen, WindowCopy* copy) {
  if (screen->w != image->width || screen->h != image->height || SDL_MUSTLOCK(screen)) return false;
  const uint32_t to = screen->format->format;
  const bool toAlpha = to == SDL_PIXELFORMAT_ARGB8888;
  if (!toAlpha && to != SDL_PIXELFORMAT_RGB888) return false;
  if (image->format != D3DFMT_A8R8G8B8 && image->format != D3DFMT_X8R8G8B8) return false;
  const bool fromAlpha = image->format == D3DFMT_A8R8G8B8;
  *copy = WindowCopy{image, static_cast<uint8_t*>(screen->pixels), screen->pitch, ~0u, 0u};
  if (toAlpha && !fromAlpha) copy->set = 0xFF000000u;
  if (!toAlpha && fromAlpha) copy->keep = 0x00FFFFFFu;
  return true;
}

// Copies the image into the same-sized window surface on the rasteriser's
// threads; false (nothing done) when the formats are not such a pair.
bool CopyToWindow(const D3D8DrawSurface* image, SDL_Surface* screen) {
  WindowCopy copy;
  return WindowCopyOf(image, screen, &copy) &&
         Rasteriser_ForEachTile(image->width, image->height, CopyTile, &copy) != 0;
}

// The window's surface, made on first use. A flush may copy a frame into
// it while the game goes on: the window module waits for the flush (the
// fence) before anything takes the surface again, sets the window's size
// or destroys it.
SDL_Surface* ScreenOf(SDL_Window* window) {
  // The picture is already made in memory: a plain window framebuffer is
  // all that is needed, never an accelerated renderer behind it (which would
  // load a GL stack for nothing on machines without a GPU).
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  Window_SetSurfaceFence(Rasteriser_Wait);
  return Window_Surface(window);
}

SDL_PixelFormatEnum SdlFormat(uint32_t format) {
  switch (format) {
    case D3DFMT_A8R8G8B8: return SDL_PIXELFORMAT_ARGB8888;
    case D3DFMT_X8R8G8B8: return SDL_PIXELFORMAT_RGB888;
    case D3DFMT_R5G6B5: return SDL_PIXELFORMAT_RGB565;
    case D3DFMT_X1R5G5B5: return SDL_PIXELFORMAT_RGB555;
    case D3DFMT_A1R5G5B5: return SDL_PIXELFORMAT_ARGB1555;
    case D3DFMT_A4R4G4B4: return SDL_PIXELFORMAT_ARGB4444;
    default: return SDL_PIXELFORMAT_UNKNOWN;
  }
}

}  // namespace

void D3D8Present_SetDesktopSize(uint32_t width, uint32_t height) {
  bool valid = width > 0 && height > 0;
  P().desktopWidth = valid ? width : 0;
  P().desktopHeight = valid ? height : 0;
}

void D3D8Present_DesktopSize(uint32_t* width, uint32_t* height) {
  bool reported = P().desktopWidth > 0;
  *width = reported ? P().desktopWidth : 640;
  *height = reported ? P().desktopHeight : 480;
}

int D3D8Present_ClientSize(void* windowHandle, uint32_t* width, uint32_t* height) {
  WindowRect client;
  if (!windowHandle || !Window_GetClientRect((Window*)windowHandle, &client)) return 0;
  if (client.right <= client.left || client.bottom <= client.top) return 0;
  *width = (uint32_t)(client.right - client.left);
  *height = (uint32_t)(client.bottom - client.top);
  return 1;
}

void D3D8Present_SizeWindow(void* windowHandle, uint32_t width, uint32_t height) {
  if (!windowHandle || width == 0 || height == 0 || width > 16384 || height > 16384) return;
  Window* window = (Window*)windowHandle;
  WindowRect outer{0, 0, (int32_t)width, (int32_t)height};
  Window_AdjustRect(&outer, Window_GetStyle(window), Window_HasMenu(window), Window_GetExStyle(window));
  Window_SetOuterSize(window, outer.right - outer.left, outer.bottom - outer.top);
}

int D3D8Present_Show(void* windowHandle, const D3D8DrawSurface* image) {
  D3D8Present_Begin(windowHandle, image);
  return D3D8Present_Finish();
}

int D3D8Present_Begin(void* windowHandle, const D3D8DrawSurface* image) {
  // A frame still pending (its pixels are being drawn) is shown first.
  Rasteriser_Wait();
  Presenter& p = P();
  PendingFrame& f = p.pending;
  if (f.live) D3D8Present_Finish();
  f.live = true;
  f.image = *image;
  f.capture.clear();
  f.copied = false;
  const int frame = p.frame++;
  if (!p.capturePath.empty() && (p.captureEvery || frame == p.captureFrame)) {
    char path[1024];
    if (p.captureEvery)
      snprintf(path, sizeof path, p.capturePath.c_str(), frame);
    else
      snprintf(path, sizeof path, "%s", p.capturePath.c_str());
    f.capture = path;
  }
  SDL_Window* window = WindowOf(windowHandle);
  f.window = window ? SDL_GetWindowID(window) : 0;
  return !window || SdlFormat(image->format) != SDL_PIXELFORMAT_UNKNOWN;
}

int D3D8Present_TileCopy(RasteriserTileJob* job) {
  PendingFrame& f = P().pending;
  f.copied = false;
  SDL_Window* window = f.live && f.window ? SDL_GetWindowFromID(f.window) : nullptr;
  SDL_Surface* screen = window ? ScreenOf(window) : nullptr;
  if (!screen || !WindowCopyOf(&f.image, screen, &f.copy)) return 0;
  f.copied = true;
  *job = RasteriserTileJob{CopyTile, &f.copy, f.image.width, f.image.height};
  return 1;
}

int D3D8Present_Finish() {
  PendingFrame& f = P().pending;
  if (!f.live) return 1;
  f.live = false;
  const D3D8DrawSurface* image = &f.image;
  if (!f.capture.empty()) D3D8Present_WritePng(image, nullptr, f.capture.c_str());
  if (!f.window) return 1;
  SDL_Window* window = SDL_GetWindowFromID(f.window);
  if (!window) return 1;  // closed since the present call
  SDL_PixelFormatEnum format = SdlFormat(image->format);
  if (format == SDL_PIXELFORMAT_UNKNOWN) return 0;
  // Copied by the flush: shown unless the window's surface was given up
  // since (its size changed), which SDL refuses to show.
  const bool copied = f.copied;
  f.copied = false;
  if (copied && SDL_UpdateWindowSurface(window) == 0) return 1;
  SDL_Surface* screen = ScreenOf(window);
  if (!screen) return 0;
  if (!CopyToWindow(image, screen)) {
    SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(image->pixels, image->width, image->height,
                                                             SDL_BITSPERPIXEL(format), image->pitch, format);
    if (!source) return 0;
    SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
    int ok = (source->w == screen->w && source->h == screen->h) ? SDL_BlitSurface(source, nullptr, screen, nullptr)
                                                                : SDL_BlitScaled(source, nullptr, screen, nullptr);
    SDL_FreeSurface(source);
    if (ok != 0) return 0;
  }
  return SDL_UpdateWindowSurface(window) == 0 ? 1 : 0;
}

void D3D8Present_CaptureFrame(int frame, const char* path) {
  Presenter& p = P();
  p.frame = 0;
  p.captureEvery = false;
  p.captureFrame = path ? frame : -1;
  p.capturePath = path ? path : "";
}

void D3D8Present_CaptureEveryFrame(const char* pattern) {
  Presenter& p = P();
  p.frame = 0;
  p.captureEvery = pattern != nullptr;
  p.captureFrame = -1;
  p.capturePath = pattern ? pattern : "";
}

int D3D8Present_WritePng(const D3D8DrawSurface* image, const PALETTEENTRY* palette, const char* path) {
  if (!path || !Readable(image)) return 0;
  std::vector<uint8_t> row((size_t)image->width * 4);
  std::string temp = std::string(path) + ".tmp";
  FILE* file = fopen(temp.c_str(), "wb");
  if (!file) return 0;
  bool ok = WritePngFile(file, image, palette, row.data());
  ok = (fclose(file) == 0) && ok;
  if (ok && rename(temp.c_str(), path) != 0) ok = false;
  if (!ok) remove(temp.c_str());
  return ok ? 1 : 0;
}

uint32_t* D3D8Present_ReadPng(const char* path, int* width, int* height) {
  if (!path || !width || !height) return nullptr;
  FILE* file = fopen(path, "rb");
  if (!file) return nullptr;
  uint32_t* pixels = nullptr;
  bool ok = ReadPngFile(file, &pixels, width, height);
  fclose(file);
  return ok ? pixels : nullptr;
}
