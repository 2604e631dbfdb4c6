// Material effects: up to two extra rendering effects per material (bump
// map, environment map, dual texture, texture-coordinate transform), and the
// flags that switch atomics and world sectors to the pipelines that draw them
// (gfx/plugin/matfx/d3d8matfx.h).
//
// A material with effects holds a MatFXMaterialData: its effect type and two
// slots, each of one kind. The type decides the slots:
//   1 bump map                      slot 0 bump
//   2 environment map               slot 0 environment
//   3 bump and environment map      slot 0 bump, slot 1 environment
//   4 dual texture                  slot 0 dual (blend 5, 6)
//   5 texture-coordinate transform  slot 0 transform
//   6 dual and transform            slot 0 transform, slot 1 dual (blend 5, 6)
// Setters find the slot of their kind in slot 0, then slot 1; on a material
// without such a slot they change nothing and return null. Textures in slots
// are owned references; frames and matrices are not owned.
//
// Stream form (sub-chunk 0x120 of a material's extension chunk, written only
// for a non-zero effect type), all 32-bit little-endian: the effect type, then
// per slot its kind and the kind's fields: bump: negated coefficient,
// has-bumped-texture [texture chunk], has-bump-texture [texture chunk];
// environment: coefficient, use-frame-buffer-alpha, has-texture [texture
// chunk]; dual: source and destination blend, has-texture [texture chunk];
// empty and transform: nothing. Frames and matrices are not streamed. Atomics
// and sectors stream one u32 1 when their effects flag is set.
#pragma once
#include <cstdint>

struct Atomic;
struct Frame;
struct Material;
struct Matrix;
struct Texture;
struct WorldSector;

enum : uint32_t { PLUGIN_MATFX = 0x120 };

enum MatFXEffectType : uint32_t {
    MATFX_NONE = 0,
    MATFX_BUMPMAP = 1,
    MATFX_ENVMAP = 2,
    MATFX_BUMPENVMAP = 3,
    MATFX_DUAL = 4,
    MATFX_UVTRANSFORM = 5,
    MATFX_DUALUVTRANSFORM = 6,
};

// Slot kinds.
enum : uint32_t {
    MATFX_SLOT_EMPTY = 0,
    MATFX_SLOT_BUMP = 1,
    MATFX_SLOT_ENV = 2,
    MATFX_SLOT_DUAL = 4,
    MATFX_SLOT_UVTRANSFORM = 5,
};

struct MatFXBump {
    Frame* frame;            // the light frame; null = the current camera's
    Texture* bumpedTexture;  // owned: the base with the bump as alpha (null: the base texture's own alpha)
    Texture* bumpTexture;    // owned: the height map
    float coefficient;
    float invBumpedWidth;  // 1 / width of the bumped texture's raster (of the base's without one)
};

struct MatFXEnv {
    Frame* frame;       // null = camera-space mapping
    Texture* texture;   // owned
    float coefficient;  // stored as given; drawing clamps it to 0..1
    uint32_t useFrameBufferAlpha;
};

struct MatFXDual {
    Texture* texture;   // owned
    uint32_t srcBlend;  // engine blend modes: 1 zero, 2 one, 3 source colour, 5 source alpha,
    uint32_t dstBlend;  // 6 inverse source alpha, 9 destination colour
};

struct MatFXUVTransform {
    const Matrix* baseTransform;  // stage 0's texture transform; null or identity-flagged = none
    const Matrix* dualTransform;  // the dual texture's
};

struct MatFXSlot {
    union {
        MatFXBump bump;
        MatFXEnv env;
        MatFXDual dual;
        MatFXUVTransform uv;
    };
    uint32_t kind;  // MATFX_SLOT_*
};

struct MatFXMaterialData {
    MatFXSlot slots[2];
    uint32_t effectType;  // MatFXEffectType; larger values are stored but draw plain
};

// Registers the engine extension (open: the free list and the pipelines),
// the material extension with its stream, and the atomic and world-sector
// effects flags with their streams. 1, or 0 when a registration is refused.
// Between Engine_Init and Engine_Open, after GeomCollision_PluginAttach.
int32_t MatFX_PluginAttach(void);

// Sets the effect type: a different type (or 0) first releases the current
// slots' textures and clears them; then the slots of the type are set up
// (a repeated type keeps their contents). Null with 0x80000013 when no
// record can be had.
Material* MatFX_SetMaterialEffects(Material* material, uint32_t type);
// The effect type, 0 for a material without effects.
uint32_t MatFX_GetMaterialEffects(const Material* material);
// The record, or null for a material without effects.
MatFXMaterialData* MatFX_GetMaterialData(const Material* material);

// Switches the atomic to the material-effects pipeline and sets its flag (a
// sector's flag is set by reading it from a stream).
Atomic* MatFX_EnableAtomicEffects(Atomic* atomic);
int32_t MatFX_AtomicEffectsEnabled(const Atomic* atomic);
int32_t MatFX_WorldSectorEffectsEnabled(const WorldSector* sector);

// Environment map (slot kind 2). The texture gains a reference before the
// old one is released; null clears it.
Material* MatFX_SetEnvMap(Material* material, Texture* texture, Frame* frame, uint32_t useFrameBufferAlpha,
                          float coefficient);
Material* MatFX_SetEnvMapTexture(Material* material, Texture* texture);
Material* MatFX_SetEnvMapFrame(Material* material, Frame* frame);
Material* MatFX_SetEnvMapCoefficient(Material* material, float coefficient);
Texture* MatFX_GetEnvMapTexture(const Material* material);

// Bump map (slot kind 1). The new texture gains a reference before both old
// textures are released. With a texture, the bumped texture (the material's
// texture with the bump's brightness as alpha) is found in the current
// dictionary by its interleaved name, or made and added there; null when it
// cannot be made (the bump texture stays set). With null both textures are
// released and the base texture's own alpha serves as the bump.
Material* MatFX_SetBumpMapTexture(Material* material, Texture* texture);
Material* MatFX_SetBumpMapFrame(Material* material, Frame* frame);
Material* MatFX_SetBumpMapCoefficient(Material* material, float coefficient);
// The base texture (or an opaque white one of the bump's size when base is
// null) with the bump's brightness, resampled to the base's size, as alpha,
// in a raster the device chooses (mip levels when the source has them).
// Null when bump is null, either raster holds compressed data, or memory,
// images or the device fail. The caller owns the new texture.
Texture* MatFX_CreateBumpedTexture(Texture* base, Texture* bump);

// Dual texture (slot kind 4).
Material* MatFX_SetDualTexture(Material* material, Texture* texture);
Material* MatFX_SetDualBlendModes(Material* material, uint32_t srcBlend, uint32_t dstBlend);
// Texture-coordinate transform (slot kind 5); the matrices are not owned and
// must outlive their use.
Material* MatFX_SetUVTransformMatrices(Material* material, const Matrix* base, const Matrix* dual);

// The material extension's copy callback (registered by MatFX_PluginAttach),
// public so that material copies can be made and tested: the target gets the
// source's type and slots, with its own texture references.
void* MatFX_MaterialCopy(void* dst, const void* src, int32_t offset, int32_t size);
