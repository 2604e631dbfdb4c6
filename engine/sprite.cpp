#include "engine/sprite.h"

#include <cstring>

#include "app/colour.h"
#include "app/file.h"
#include "app/namecache.h"
#include "common/list.h"
#include "common/strings.h"
#include "engine/screenvertex.h"
#include "engine/virtualscreen.h"
#include "gfx/core/engine.h"
#include "gfx/core/im2d.h"
#include "gfx/core/image.h"
#include "gfx/core/imageresample.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/texture.h"

namespace {

struct SpriteModule {
    List* pool;
    NameCache* cache;
    int virtualScreen = 1;
};

SpriteModule g_sprites;

void SetState(int32_t state, uint32_t value) { RenderState_Set(state, (void*)(uintptr_t)value); }

bool EndsWithBmp(const char* path)
{
    const size_t n = strlen(path);
    return n >= 4 && String_EqualNoCase(path + n - 4, ".bmp");
}

// Frees what the sprite holds and the record.
void Destroy(Sprite* sprite)
{
    if (sprite->image) Image_Destroy(sprite->image);
    if (sprite->raster) Raster_Destroy(sprite->raster);
    if (sprite->texture) Texture_Destroy(sprite->texture);
    List_Free(g_sprites.pool, sprite);
}

// Shading, texture, 2D filtering and addressing, vertex alpha, the blend
// factors of the sprite's mode, depth on, fog off.
void Sprite_SetDrawStates(const Sprite* sprite, Raster* raster)
{
    static const uint32_t kBlend[3][2] = {{5, 6}, {1, 4}, {2, 2}};
    const uint32_t mode = sprite->blendMode < 3 ? sprite->blendMode : 0;
    SetState(7, 2);
    RenderState_Set(1, raster);
    SetState(9, 2);
    SetState(2, 3);
    SetState(12, 1);
    SetState(10, kBlend[mode][0]);
    SetState(11, kBlend[mode][1]);
    SetState(6, 1);
    SetState(8, 1);
    SetState(14, 0);
}

int ReleaseOne(void* item, void*)
{
    Destroy((Sprite*)item);
    return 0;
}

}  // namespace

int Sprite_Init(void)
{
    if (!g_sprites.pool) g_sprites.pool = List_Create(sizeof(Sprite));
    if (!g_sprites.cache) g_sprites.cache = NameCache_Create();
    if (!g_sprites.pool || !g_sprites.cache) {
        Sprite_Shutdown();
        return 0;
    }
    g_sprites.virtualScreen = 1;
    return 1;
}

void Sprite_Shutdown(void)
{
    if (g_sprites.pool) List_ForEach(g_sprites.pool, ReleaseOne, nullptr);
    NameCache_Destroy(g_sprites.cache);
    g_sprites.cache = nullptr;
    List_Destroy(g_sprites.pool);
    g_sprites.pool = nullptr;
}

List* Sprite_GetPool(void) { return g_sprites.pool; }
NameCache* Sprite_GetCache(void) { return g_sprites.cache; }
void Sprite_SetVirtualScreen(int on) { g_sprites.virtualScreen = on; }

Sprite* Sprite_Load(const char* path, int32_t shared)
{
    if (!g_sprites.pool || !path) return nullptr;
    // Names are data names resolved by the file layer, not searched along
    // an image path.
    Image_SetPath("");
    if (shared) {
        if (Sprite* hit = (Sprite*)NameCache_Acquire(g_sprites.cache, path, nullptr)) return hit;
    }
    Image* image = Image_Read(File_ResolvePath(path));
    if (!image) return nullptr;
    Sprite* sprite = (Sprite*)List_Alloc(g_sprites.pool);
    if (!sprite) {
        Image_Destroy(image);
        return nullptr;
    }
    sprite->image = image;
    sprite->flags = SPRITE_LOADED | (EndsWithBmp(path) ? (uint32_t)SPRITE_BMP : 0u);
    sprite->colours[0] = sprite->colours[1] = 0xFFFFFFFFu;

    int32_t w = image->width, h = image->height;
    uint32_t format = (sprite->flags & SPRITE_BMP) ? RASTERFORMAT8888 : RASTERFORMATDEFAULT;
    const int32_t largest = Engine_GetMaxTextureSize();
    if (largest > 0 && (w > largest || h > largest)) {
        // Halved until both sides fit: one halving leaves an image of more
        // than twice the limit too large.
        while (w > largest || h > largest) {
            w = w / 2 > 1 ? w / 2 : 1;
            h = h / 2 > 1 ? h / 2 : 1;
        }
        Image* smaller = Image_CreateResampled(image, w, h);
        if (!smaller) {
            Destroy(sprite);
            return nullptr;
        }
        Image_Destroy(image);
        sprite->image = image = smaller;
        format = RASTERFORMAT1555;
    }
    // A device without the format asked for gets its default one.
    sprite->raster = Raster_Create(w, h, 0, RASTERTYPETEXTURE | format);
    if (!sprite->raster && format != RASTERFORMATDEFAULT) sprite->raster = Raster_Create(w, h, 0, RASTERTYPETEXTURE);
    if (!sprite->raster || !Raster_SetFromImage(sprite->raster, image)) {
        Destroy(sprite);
        return nullptr;
    }
    Image_Destroy(image);
    sprite->image = nullptr;
    sprite->pixelWidth = (uint32_t)w;
    sprite->pixelHeight = (uint32_t)h;
    sprite->width = (float)w;
    sprite->height = (float)h;
    sprite->frames[0] = SpriteFrame{sprite->raster, 0.0f, 0.0f};
    sprite->frameCount = 1;
    if (shared && !NameCache_Add(g_sprites.cache, path, sprite, 0)) {
        Destroy(sprite);
        return nullptr;
    }
    return sprite;
}

Sprite* Sprite_CreateBlank(const uint32_t* colour, int32_t width, int32_t height)
{
    if (!g_sprites.pool || !colour) return nullptr;
    Sprite* sprite = (Sprite*)List_Alloc(g_sprites.pool);
    if (!sprite) return nullptr;
    sprite->flags = SPRITE_BLANK;
    sprite->pixelWidth = (uint32_t)(width > 0 ? width : 0);
    sprite->pixelHeight = (uint32_t)(height > 0 ? height : 0);
    sprite->width = (float)sprite->pixelWidth;
    sprite->height = (float)sprite->pixelHeight;
    sprite->colours[0] = sprite->colours[1] = *colour;
    sprite->frameCount = 1;
    return sprite;
}

void Sprite_Release(Sprite* sprite)
{
    if (!sprite) return;
    // An unshared sprite is in no entry: the registry answers 1 and it goes.
    if (NameCache_Release(g_sprites.cache, sprite)) Destroy(sprite);
}

void Sprite_SetBlendMode(Sprite* sprite, uint32_t mode) { sprite->blendMode = mode; }
float Sprite_GetWidth(const Sprite* sprite) { return sprite->width; }
float Sprite_GetHeight(const Sprite* sprite) { return sprite->height; }

void Sprite_SetAlpha(Sprite* sprite, float alpha)
{
    const uint32_t a = Colour_GetA(Colour_FromFloats(alpha, 0, 0, 0));
    for (uint32_t& c : sprite->colours) c = (c & 0x00FFFFFFu) | a << 24;
}

void Sprite_SetColour(Sprite* sprite, float red, float green, float blue, float alpha)
{
    sprite->colours[0] = sprite->colours[1] = Colour_FromFloats(alpha, red, green, blue);
}

void Sprite_Draw(Sprite* sprite, uint32_t frame, const float* source, const float* destination)
{
    if (!sprite) return;
    if (frame >= sprite->frameCount) frame = 0;
    const VirtualScreenMap map = VirtualScreen_GetMap(g_sprites.virtualScreen);
    float x = 0, y = 0, w = map.width, h = map.height;
    if (destination) x = destination[0], y = destination[1], w = destination[2], h = destination[3];
    x *= map.scaleX, w *= map.scaleX, y *= map.scaleY, h *= map.scaleY;
    // Texel centres of the whole image, or of the source rectangle.
    Raster* raster = sprite->frames[frame].raster;
    float u0 = 0.5f, v0 = 0.5f, u1 = 0.5f, v1 = 0.5f;
    if (raster) {
        const float pw = (float)sprite->pixelWidth, ph = (float)sprite->pixelHeight;
        float sx = 0, sy = 0, sw = pw, sh = ph;
        if (source) sx = source[0], sy = source[1], sw = source[2], sh = source[3];
        u0 = (sx + 0.5f) / pw, u1 = (sx + sw - 0.5f) / pw;
        v0 = (sy + 0.5f) / ph, v1 = (sy + sh - 0.5f) / ph;
    }
    Sprite_SetDrawStates(sprite, raster);

    const float z = Im2D_GetNearScreenZ();
    const uint32_t edge = sprite->colours[0], middle = sprite->colours[1];
    const ScreenVertex centre = {x + w * 0.5f, y + h * 0.5f, z, 1.0f, middle, (u0 + u1) * 0.5f, (v0 + v1) * 0.5f};
    const ScreenVertex tl = {x, y, z, 1.0f, edge, u0, v0}, tr = {x + w, y, z, 1.0f, edge, u1, v0};
    const ScreenVertex br = {x + w, y + h, z, 1.0f, edge, u1, v1}, bl = {x, y + h, z, 1.0f, edge, u0, v1};
    // Each triangle counter-clockwise on the screen.
    ScreenVertex v[12] = {centre, tr, tl, centre, br, tr, centre, bl, br, centre, tl, bl};
    Im2D_RenderPrimitive(3, v, 12);
}

void Sprite_DrawAt(Sprite* sprite, float x, float y, int32_t edge)
{
    if (!sprite) return;
    if (edge == 1) {
        const VirtualScreenMap map = VirtualScreen_GetMap(g_sprites.virtualScreen);
        if (x < 0.0f) x += map.width;
        if (y < 0.0f) y += map.height;
    }
    for (uint32_t i = 0; i < sprite->frameCount; i++) {
        const float rect[4] = {x + sprite->frames[i].offsetX, y + sprite->frames[i].offsetY, sprite->width,
                               sprite->height};
        Sprite_Draw(sprite, i, nullptr, rect);
    }
}

void Sprite_DrawSimple(Sprite* sprite, const float* destination) { Sprite_Draw(sprite, 0, nullptr, destination); }
