#include "engine/sprite3d.h"

#include "app/file.h"
#include "common/list.h"
#include "engine/billboard.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"

namespace {

struct Sprite3dModule {
    List* pool;
    uint32_t queueCount;  // 3D sprites queued this frame (nothing queues any)
};

Sprite3dModule g_sprite3d;

struct BlendRow {
    uint32_t src, dest, zWrite, zTest;
};

// Rows 0-3, 5 and 6; mode 4 and anything past 6 take the last row.
constexpr BlendRow kBlendTable[8] = {
    {SPRITE3D_BLEND_ONE, SPRITE3D_BLEND_ONE, 0, 1},
    {SPRITE3D_BLEND_ZERO, SPRITE3D_BLEND_INVSRCCOLOUR, 0, 1},
    {SPRITE3D_BLEND_SRCALPHA, SPRITE3D_BLEND_INVSRCALPHA, 0, 1},
    {SPRITE3D_BLEND_ONE, SPRITE3D_BLEND_ONE, 0, 0},
    {SPRITE3D_BLEND_ONE, SPRITE3D_BLEND_ZERO, 1, 1},
    {SPRITE3D_BLEND_SRCALPHA, SPRITE3D_BLEND_INVSRCALPHA, 1, 1},
    {SPRITE3D_BLEND_SRCALPHA, SPRITE3D_BLEND_INVSRCALPHA, 1, 0},
    {SPRITE3D_BLEND_ONE, SPRITE3D_BLEND_ZERO, 1, 1},
};

int ReleaseOne(void* item, void*)
{
    Sprite3d_Release((Sprite3d*)item);
    return 0;
}

}  // namespace

void Sprite3d_SetBlendMode(Sprite3d* sprite, uint32_t mode)
{
    const BlendRow& row = kBlendTable[mode < 7 ? mode : 7];
    sprite->srcBlend = row.src;
    sprite->destBlend = row.dest;
    sprite->zWrite = row.zWrite;
    sprite->zTest = row.zTest;
}

int Sprite3d_Init(void)
{
    if (!g_sprite3d.pool) g_sprite3d.pool = List_Create(sizeof(Sprite3d));
    if (!g_sprite3d.pool || !Billboard_Init(BILLBOARD_DEFAULT_CAPACITY)) {
        Sprite3d_Shutdown();
        return 0;
    }
    g_sprite3d.queueCount = 0;
    return 1;
}

void Sprite3d_Shutdown(void)
{
    if (g_sprite3d.pool) List_ForEach(g_sprite3d.pool, ReleaseOne, nullptr);
    Sprite3d_ClearQueue();
    Billboard_Shutdown();
    List_Destroy(g_sprite3d.pool);
    g_sprite3d.pool = nullptr;
}

List* Sprite3d_GetPool(void) { return g_sprite3d.pool; }

Sprite3d* Sprite3d_LoadSprite(const char* path, const char* mask, uint32_t frameHeight, uint32_t blendMode)
{
    if (!g_sprite3d.pool || !path || frameHeight == 0) return nullptr;
    // Paths are data names, found under the data folder whatever image path
    // the last reader left.
    Image_SetPath(File_ResolvePath(""));
    Texture* texture = Texture_Read(path, mask);
    if (!texture) return nullptr;
    Raster* raster = texture->raster;
    if (!raster || raster->height <= 0 || (uint32_t)raster->height % frameHeight != 0) {
        Texture_Destroy(texture);
        return nullptr;
    }
    Sprite3d* sprite = (Sprite3d*)List_Alloc(g_sprite3d.pool);
    if (!sprite) {
        Texture_Destroy(texture);
        return nullptr;
    }
    sprite->texture = texture;
    sprite->raster = raster;
    sprite->width = (float)raster->width;
    sprite->height = (float)raster->height;
    sprite->frameCount = (uint32_t)raster->height / frameHeight;
    sprite->frameFraction = 1.0f / (float)sprite->frameCount;
    sprite->renderValue = 3;
    Sprite3d_SetBlendMode(sprite, blendMode);
    return sprite;
}

Sprite3d* Sprite3d_Clone(const Sprite3d* sprite)
{
    if (!sprite || !g_sprite3d.pool) return nullptr;
    Sprite3d* copy = (Sprite3d*)List_Alloc(g_sprite3d.pool);
    if (!copy) return nullptr;
    *copy = *sprite;
    if (copy->texture) copy->texture->refCount++;
    return copy;
}

void Sprite3d_Release(Sprite3d* sprite)
{
    if (!sprite) return;
    if (sprite->texture) Texture_Destroy(sprite->texture);
    sprite->texture = nullptr;
    List_Free(g_sprite3d.pool, sprite);
}

void Sprite3d_ClearQueue(void) { g_sprite3d.queueCount = 0; }

uint32_t Sprite3d_GetQueueCount(void) { return g_sprite3d.queueCount; }
