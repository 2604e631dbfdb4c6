// Material effects: the per-material record, its setters, copy and stream,
// the bumped texture, and the atomic and sector effects flags.
//
// Slot textures are owned references. Every setter takes the new reference
// before it releases an old one, so setting the texture a slot already holds
// is safe; the copy releases what the target held before it overwrites it.
#include "gfx/plugin/matfx/matfx.h"

#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/image.h"
#include "gfx/core/imageresample.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/plugin/matfx/d3d8matfx.h"
#include "gfx/world/atomic.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"

namespace {

constexpr int32_t kRecordsPerBlock = 128;
constexpr size_t kBumpedNameMax = 30;
constexpr uint32_t kTextureChunkExtra = CHUNK_HEADER_SIZE + 4;  // header and has-texture word

struct MatFXModule {
    int32_t materialOffset;
    int32_t atomicOffset;
    int32_t sectorOffset;
    int32_t openCount;
    FreeList* records;
};

MatFXModule sModule = {-1, -1, -1, 0, nullptr};

MatFXMaterialData*& Record(Material* m) { return *(MatFXMaterialData**)((char*)m + sModule.materialOffset); }
MatFXMaterialData* Record(const Material* m)
{
    return *(MatFXMaterialData* const*)((const char*)m + sModule.materialOffset);
}
uint32_t& Flag(void* object, int32_t offset) { return *(uint32_t*)((char*)object + offset); }
uint32_t Flag(const void* object, int32_t offset) { return *(const uint32_t*)((const char*)object + offset); }

void Raise(uint32_t code)
{
    const ErrorRecord e = {(code & 0x80000000u) ? 0 : (int32_t)PLUGIN_MATFX, (int32_t)code};
    Error_Set(&e);
}

void Release(Texture*& texture)
{
    if (texture) Texture_Destroy(texture);
    texture = nullptr;
}

// Takes a reference to incoming (may be null) before the old one goes.
void Replace(Texture*& slot, Texture* incoming)
{
    if (incoming) incoming->refCount++;
    Release(slot);
    slot = incoming;
}

float InverseWidth(const Texture* texture)
{
    return texture && texture->raster && texture->raster->width > 0 ? 1.0f / (float)texture->raster->width : 0.0f;
}

void ClearSlot(MatFXSlot* slot)
{
    switch (slot->kind) {
    case MATFX_SLOT_BUMP:
        Release(slot->bump.bumpedTexture);
        Release(slot->bump.bumpTexture);
        break;
    case MATFX_SLOT_ENV: Release(slot->env.texture); break;
    case MATFX_SLOT_DUAL: Release(slot->dual.texture); break;
    default: break;
    }
    memset(slot, 0, sizeof(*slot));
}

void MatFX_MaterialDataDestroy(MatFXMaterialData* data)
{
    for (MatFXSlot& slot : data->slots) ClearSlot(&slot);
    memset(data, 0, sizeof(*data));
}

// Gives slot kind its kind (clearing it first when it held another).
void SetUpSlot(MatFXSlot* slot, uint32_t kind)
{
    if (slot->kind == kind) return;
    ClearSlot(slot);
    slot->kind = kind;
    if (kind == MATFX_SLOT_DUAL) {
        slot->dual.srcBlend = 5;
        slot->dual.dstBlend = 6;
    }
}

MatFXSlot* FindSlot(const Material* material, uint32_t kind)
{
    MatFXMaterialData* data = Record(material);
    if (!data) return nullptr;
    for (MatFXSlot& slot : data->slots)
        if (slot.kind == kind) return &slot;
    return nullptr;
}

// A setter's frame: edit the slot of kind, or change nothing (null) when
// the material has none.
template <typename Edit>
Material* EditSlot(Material* material, uint32_t kind, Edit edit)
{
    MatFXSlot* slot = FindSlot(material, kind);
    if (!slot) return nullptr;
    edit(*slot);
    return material;
}

// ---- bumped textures ----

void BumpedName(char out[32], const Texture* base, const Texture* bump)
{
    const char* a = base ? base->name : "";
    const char* b = bump->name;
    size_t n = 0;
    while ((*a || *b) && n < kBumpedNameMax) {
        if (*a) out[n++] = *a++;
        if (*b && n < kBumpedNameMax) out[n++] = *b++;
    }
    out[n] = '\0';
}

// A 32-bit image of the raster's pixels; null when it cannot be had.
Image* ImageOf(Raster* raster)
{
    Image* image = Image_Create(raster->width, raster->height, 32);
    if (!image) return nullptr;
    if (!Image_AllocatePixels(image) || !Image_SetFromRaster(image, raster)) {
        Image_Destroy(image);
        return nullptr;
    }
    return image;
}

Image* WhiteImage(int32_t width, int32_t height)
{
    Image* image = Image_Create(width, height, 32);
    if (!image) return nullptr;
    if (!Image_AllocatePixels(image)) {
        Image_Destroy(image);
        return nullptr;
    }
    for (int32_t y = 0; y < height; y++) memset(image->pixels + (size_t)y * image->stride, 0xFF, 4 * (size_t)width);
    return image;
}

// ---- streams ----

int32_t TextureSize(const Texture* texture)
{
    return texture ? Texture_StreamGetSize(texture) + (int32_t)kTextureChunkExtra : 4;
}

Stream* WriteTexture(Stream* stream, const Texture* texture)
{
    const uint32_t has = texture ? 1 : 0;
    if (!Stream_WriteInt32(stream, &has, 4)) return nullptr;
    return !texture || Texture_StreamWrite(texture, stream) ? stream : nullptr;
}

// The sub-chunk being read, for checks against its length.
struct ChunkReader {
    Stream* stream;
    uint64_t start;
    int32_t length;
    uint32_t Left() const { return (uint32_t)((uint64_t)length - (stream->moved - start)); }
};

bool ReadWord(ChunkReader& r, void* word)
{
    if (r.Left() < 4) {
        Raise(ERR_SHORT_READ);
        return false;
    }
    return Stream_ReadInt32(r.stream, word, 4) != nullptr;
}

// Reads a has-texture word and the texture chunk after it. A texture that is
// not found leaves *out null and the chunk skipped; any other failure fails
// the read. The error slot keeps what was pending before.
bool ReadTexture(ChunkReader& r, Texture** out)
{
    *out = nullptr;
    uint32_t has = 0;
    if (!ReadWord(r, &has)) return false;
    if (!has) return true;
    uint32_t type = 0, length = 0, version = 0;
    if (r.Left() < CHUNK_HEADER_SIZE) {
        Raise(ERR_SHORT_READ);
        return false;
    }
    if (!Stream_ReadChunkHeader(r.stream, &type, &length, &version, nullptr)) return false;
    if (type != CHUNK_TEXTURE || length > r.Left()) {
        Raise(ERR_BAD_BLOCK);
        return false;
    }
    if (version < STREAM_VERSION_MIN || version > STREAM_VERSION_MAX) {
        Raise(ERR_BAD_VERSION);
        return false;
    }
    ErrorRecord pending;
    Error_Get(&pending);
    const uint64_t mark = r.stream->moved;
    Texture* texture = Texture_StreamRead(r.stream);
    ErrorRecord now;
    Error_Get(&now);
    if (pending.code != (int32_t)ERR_NO_ERROR) Error_Set(&pending);
    const bool notFound = now.code == (int32_t)ERR_NO_ERROR || (now.pluginId == 1 && now.code == TEXTURE_ERR_NOT_FOUND);
    if (!texture && !notFound) {
        Error_Set(&now);
        return false;
    }
    const uint64_t used = r.stream->moved - mark;
    if (used > length) {
        if (texture) Texture_Destroy(texture);
        Raise(ERR_SHORT_READ);
        return false;
    }
    if (used < length && !Stream_Skip(r.stream, (uint32_t)(length - used))) {
        if (texture) Texture_Destroy(texture);
        return false;
    }
    *out = texture;
    return true;
}

bool ReadSlot(ChunkReader& r, Material* material)
{
    uint32_t kind = 0;
    if (!ReadWord(r, &kind)) return false;
    if (kind == MATFX_SLOT_EMPTY || kind == MATFX_SLOT_UVTRANSFORM) return true;
    if (kind != MATFX_SLOT_BUMP && kind != MATFX_SLOT_ENV && kind != MATFX_SLOT_DUAL) {
        Raise(ERR_BAD_BLOCK);
        return false;
    }
    // The slot of this kind, when the effect type has one: the fields are
    // read either way and the textures let go without one.
    MatFXSlot* slot = FindSlot(material, kind);
    uint32_t words[2] = {};
    Texture* first = nullptr;
    Texture* second = nullptr;
    bool ok = ReadWord(r, &words[0]);
    if (ok && kind != MATFX_SLOT_BUMP) ok = ReadWord(r, &words[1]);
    if (ok) ok = ReadTexture(r, &first);
    if (ok && kind == MATFX_SLOT_BUMP) ok = ReadTexture(r, &second);
    if (!ok || !slot) {
        Release(first);
        Release(second);
        return ok;
    }
    float real;
    memcpy(&real, &words[0], 4);
    switch (kind) {
    case MATFX_SLOT_BUMP:
        slot->bump.coefficient = -real;
        if (first) {
            Release(slot->bump.bumpedTexture);
            Release(slot->bump.bumpTexture);
            slot->bump.bumpedTexture = first;
            slot->bump.bumpTexture = second;
            slot->bump.invBumpedWidth = InverseWidth(first);
        } else {
            // A bumped texture that cannot be made (compressed rasters)
            // leaves the bump texture alone set, as the setter does.
            MatFX_SetBumpMapTexture(material, second);
            Release(second);
        }
        break;
    case MATFX_SLOT_ENV:
        Release(slot->env.texture);
        slot->env.texture = first;
        slot->env.frame = nullptr;
        slot->env.coefficient = real;
        slot->env.useFrameBufferAlpha = words[1];
        break;
    default:
        Release(slot->dual.texture);
        slot->dual.texture = first;
        MatFX_SetDualBlendModes(material, words[0], words[1]);
        break;
    }
    return true;
}

int32_t MaterialGetSize(const void* object, int32_t, int32_t)
{
    const MatFXMaterialData* data = Record((const Material*)object);
    if (!data || data->effectType == MATFX_NONE) return 0;
    int32_t size = 4;
    for (const MatFXSlot& slot : data->slots) {
        size += 4;
        switch (slot.kind) {
        case MATFX_SLOT_BUMP:
            size += 4 + TextureSize(slot.bump.bumpedTexture) + TextureSize(slot.bump.bumpTexture);
            break;
        case MATFX_SLOT_ENV: size += 8 + TextureSize(slot.env.texture); break;
        case MATFX_SLOT_DUAL: size += 8 + TextureSize(slot.dual.texture); break;
        default: break;
        }
    }
    return size;
}

Stream* MaterialWrite(Stream* stream, int32_t, const void* object, int32_t, int32_t)
{
    const MatFXMaterialData* data = Record((const Material*)object);
    if (!Stream_WriteInt32(stream, &data->effectType, 4)) return nullptr;
    for (const MatFXSlot& slot : data->slots) {
        if (!Stream_WriteInt32(stream, &slot.kind, 4)) return nullptr;
        switch (slot.kind) {
        case MATFX_SLOT_BUMP: {
            const float negated = -slot.bump.coefficient;
            if (!Stream_WriteReal(stream, &negated, 4) || !WriteTexture(stream, slot.bump.bumpedTexture) ||
                !WriteTexture(stream, slot.bump.bumpTexture))
                return nullptr;
            break;
        }
        case MATFX_SLOT_ENV:
            if (!Stream_WriteReal(stream, &slot.env.coefficient, 4) ||
                !Stream_WriteInt32(stream, &slot.env.useFrameBufferAlpha, 4) || !WriteTexture(stream, slot.env.texture))
                return nullptr;
            break;
        case MATFX_SLOT_DUAL: {
            const uint32_t modes[2] = {slot.dual.srcBlend, slot.dual.dstBlend};
            if (!Stream_WriteInt32(stream, modes, 8) || !WriteTexture(stream, slot.dual.texture)) return nullptr;
            break;
        }
        default: break;
        }
    }
    return stream;
}

Stream* MaterialRead(Stream* stream, int32_t length, void* object, int32_t, int32_t)
{
    Material* material = (Material*)object;
    ChunkReader r = {stream, stream->moved, length};
    uint32_t type = 0;
    if (!ReadWord(r, &type) || !MatFX_SetMaterialEffects(material, type)) return nullptr;
    for (int slot = 0; slot < 2; slot++)
        if (!ReadSlot(r, material)) return nullptr;
    return stream;
}

// ---- extensions ----

void* MaterialConstruct(void* m, int32_t, int32_t)
{
    Record((Material*)m) = nullptr;
    return m;
}

void* MaterialDestruct(void* m, int32_t, int32_t)
{
    MatFXMaterialData*& data = Record((Material*)m);
    if (data) {
        MatFX_MaterialDataDestroy(data);
        FreeList_Free(sModule.records, data);
    }
    data = nullptr;
    return m;
}

void* FlagConstruct(void* object, int32_t offset, int32_t)
{
    Flag(object, offset) = 0;
    return object;
}

void* FlagCopy(void* dst, const void* src, int32_t offset, int32_t)
{
    if (Flag(src, offset)) Flag(dst, offset) = 1;
    return dst;
}

int32_t FlagGetSize(const void* object, int32_t offset, int32_t) { return Flag(object, offset) ? 4 : 0; }

Stream* FlagWrite(Stream* stream, int32_t, const void* object, int32_t offset, int32_t)
{
    const uint32_t flag = Flag(object, offset);
    return Stream_WriteInt32(stream, &flag, 4);
}

// Reads an effects flag: a set flag on an object whose own is clear turns
// the effects on (switchOn sets the pipeline and the flag).
template <void (*SwitchOn)(void* object, int32_t offset)>
Stream* FlagRead(Stream* stream, int32_t length, void* object, int32_t offset, int32_t)
{
    uint32_t flag = 0;
    if (length < 4) {
        Raise(ERR_SHORT_READ);
        return nullptr;
    }
    if (!Stream_ReadInt32(stream, &flag, 4)) return nullptr;
    if (flag && !Flag(object, offset)) SwitchOn(object, offset);
    return stream;
}

void AtomicOn(void* atomic, int32_t) { MatFX_EnableAtomicEffects((Atomic*)atomic); }
void SectorOn(void* sector, int32_t offset)
{
    MatFX_SectorSetPipeline((WorldSector*)sector);
    Flag(sector, offset) = 1;
}

void* MatFX_EngineOpen(void* engine, int32_t, int32_t)
{
    if (sModule.openCount == 0) {
        sModule.records = FreeList_CreateEx((int32_t)sizeof(MatFXMaterialData), kRecordsPerBlock, 4, 1, nullptr);
        if (!sModule.records) return nullptr;
        if (!MatFX_OpenPipelines()) {
            FreeList_Destroy(sModule.records);
            sModule.records = nullptr;
            return nullptr;
        }
    }
    sModule.openCount++;
    return engine;
}

void* MatFX_EngineClose(void* engine, int32_t, int32_t)
{
    if (--sModule.openCount == 0) {
        MatFX_ClosePipelines();
        if (sModule.records) FreeList_Destroy(sModule.records);
        sModule.records = nullptr;
    }
    return engine;
}

}  // namespace

int32_t MatFX_PluginAttach(void)
{
    const int32_t engine = Engine_RegisterPlugin(0, PLUGIN_MATFX, MatFX_EngineOpen, MatFX_EngineClose);
    sModule.materialOffset = Material_RegisterPlugin((int32_t)sizeof(MatFXMaterialData*), PLUGIN_MATFX,
                                                     MaterialConstruct, MaterialDestruct, MatFX_MaterialCopy);
    const int32_t materialStream =
        Material_RegisterPluginStream(PLUGIN_MATFX, MaterialRead, MaterialWrite, MaterialGetSize);
    sModule.atomicOffset =
        Atomic_RegisterPlugin((int32_t)sizeof(uint32_t), PLUGIN_MATFX, FlagConstruct, FlagConstruct, FlagCopy);
    const int32_t atomicStream = Atomic_RegisterPluginStream(PLUGIN_MATFX, FlagRead<AtomicOn>, FlagWrite, FlagGetSize);
    sModule.sectorOffset =
        WorldSector_RegisterPlugin((int32_t)sizeof(uint32_t), PLUGIN_MATFX, FlagConstruct, FlagConstruct, FlagCopy);
    const int32_t sectorStream =
        WorldSector_RegisterPluginStream(PLUGIN_MATFX, FlagRead<SectorOn>, FlagWrite, FlagGetSize);
    return engine >= 0 && sModule.materialOffset >= 0 && materialStream >= 0 && sModule.atomicOffset >= 0 &&
                   atomicStream >= 0 && sModule.sectorOffset >= 0 && sectorStream >= 0
               ? 1
               : 0;
}

Material* MatFX_SetMaterialEffects(Material* material, uint32_t type)
{
    HELM_ASSERT(material && sModule.materialOffset >= 0);
    MatFXMaterialData*& data = Record(material);
    if (!data) {
        HELM_ASSERT(sModule.records);
        data = (MatFXMaterialData*)FreeList_Alloc(sModule.records);
        if (!data) {
            Raise(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
        memset(data, 0, sizeof(*data));
    }
    if (type == MATFX_NONE || (data->effectType != MATFX_NONE && type != data->effectType))
        MatFX_MaterialDataDestroy(data);
    data->effectType = type;
    static const uint32_t kSlots[7][2] = {
        {MATFX_SLOT_EMPTY, MATFX_SLOT_EMPTY},      {MATFX_SLOT_BUMP, MATFX_SLOT_EMPTY},
        {MATFX_SLOT_ENV, MATFX_SLOT_EMPTY},        {MATFX_SLOT_BUMP, MATFX_SLOT_ENV},
        {MATFX_SLOT_DUAL, MATFX_SLOT_EMPTY},       {MATFX_SLOT_UVTRANSFORM, MATFX_SLOT_EMPTY},
        {MATFX_SLOT_UVTRANSFORM, MATFX_SLOT_DUAL},
    };
    if (type <= MATFX_DUALUVTRANSFORM)
        for (int i = 0; i < 2; i++) SetUpSlot(&data->slots[i], kSlots[type][i]);
    return material;
}

uint32_t MatFX_GetMaterialEffects(const Material* material)
{
    const MatFXMaterialData* data = MatFX_GetMaterialData(material);
    return data ? data->effectType : MATFX_NONE;
}

MatFXMaterialData* MatFX_GetMaterialData(const Material* material)
{
    HELM_ASSERT(material && sModule.materialOffset >= 0);
    return Record(material);
}

Atomic* MatFX_EnableAtomicEffects(Atomic* atomic)
{
    HELM_ASSERT(atomic && sModule.atomicOffset >= 0);
    if (!Flag(atomic, sModule.atomicOffset)) {
        MatFX_AtomicSetPipeline(atomic);
        Flag(atomic, sModule.atomicOffset) = 1;
    }
    return atomic;
}

int32_t MatFX_AtomicEffectsEnabled(const Atomic* atomic)
{
    HELM_ASSERT(atomic && sModule.atomicOffset >= 0);
    return Flag(atomic, sModule.atomicOffset) ? 1 : 0;
}

int32_t MatFX_WorldSectorEffectsEnabled(const WorldSector* sector)
{
    HELM_ASSERT(sector && sModule.sectorOffset >= 0);
    return Flag(sector, sModule.sectorOffset) ? 1 : 0;
}

Material* MatFX_SetEnvMap(Material* material, Texture* texture, Frame* frame, uint32_t useFrameBufferAlpha,
                          float coefficient)
{
    return EditSlot(material, MATFX_SLOT_ENV, [&](MatFXSlot& slot) {
        Replace(slot.env.texture, texture);
        slot.env.frame = frame;
        slot.env.useFrameBufferAlpha = useFrameBufferAlpha;
        slot.env.coefficient = coefficient;
    });
}

Material* MatFX_SetEnvMapTexture(Material* material, Texture* texture)
{
    return EditSlot(material, MATFX_SLOT_ENV, [&](MatFXSlot& slot) { Replace(slot.env.texture, texture); });
}

Material* MatFX_SetEnvMapFrame(Material* material, Frame* frame)
{
    return EditSlot(material, MATFX_SLOT_ENV, [&](MatFXSlot& slot) { slot.env.frame = frame; });
}

Material* MatFX_SetEnvMapCoefficient(Material* material, float coefficient)
{
    return EditSlot(material, MATFX_SLOT_ENV, [&](MatFXSlot& slot) { slot.env.coefficient = coefficient; });
}

Texture* MatFX_GetEnvMapTexture(const Material* material)
{
    const MatFXSlot* slot = FindSlot(material, MATFX_SLOT_ENV);
    return slot ? slot->env.texture : nullptr;
}

Material* MatFX_SetBumpMapTexture(Material* material, Texture* texture)
{
    MatFXSlot* slot = FindSlot(material, MATFX_SLOT_BUMP);
    if (!slot) return nullptr;
    MatFXBump& bump = slot->bump;
    if (texture) texture->refCount++;
    Release(bump.bumpTexture);
    Release(bump.bumpedTexture);
    bump.invBumpedWidth = 0;
    Texture* base = material->texture;
    if (!texture) {
        // The base texture's own alpha is the bump.
        bump.invBumpedWidth = InverseWidth(base);
        return material;
    }
    bump.bumpTexture = texture;
    if (!texture->raster || texture->raster->width == 0 || (base && (!base->raster || base->raster->width == 0)))
        return material;
    char name[32];
    BumpedName(name, base, texture);
    TextureDictionary* dictionary = TextureDictionary_GetCurrent();
    Texture* bumped = dictionary ? TextureDictionary_FindNamedTexture(dictionary, name) : nullptr;
    if (bumped) {
        bumped->refCount++;
    } else {
        bumped = MatFX_CreateBumpedTexture(base, texture);
        if (!bumped) return nullptr;
        if (dictionary) TextureDictionary_AddTexture(dictionary, bumped);
    }
    bump.bumpedTexture = bumped;
    bump.invBumpedWidth = InverseWidth(bumped);
    return material;
}

Material* MatFX_SetBumpMapFrame(Material* material, Frame* frame)
{
    return EditSlot(material, MATFX_SLOT_BUMP, [&](MatFXSlot& slot) { slot.bump.frame = frame; });
}

Material* MatFX_SetBumpMapCoefficient(Material* material, float coefficient)
{
    return EditSlot(material, MATFX_SLOT_BUMP, [&](MatFXSlot& slot) { slot.bump.coefficient = coefficient; });
}

Texture* MatFX_CreateBumpedTexture(Texture* base, Texture* bump)
{
    if (!bump || !bump->raster || (base && !base->raster)) return nullptr;
    if (D3D8_RasterIsCompressed(bump->raster) || (base && D3D8_RasterIsCompressed(base->raster))) return nullptr;
    Image* bumpImage = ImageOf(bump->raster);
    Image* image = !bumpImage ? nullptr
                   : base     ? ImageOf(base->raster)
                              : WhiteImage(bumpImage->width, bumpImage->height);
    Texture* texture = nullptr;
    if (bumpImage && image) {
        if (bumpImage->width != image->width || bumpImage->height != image->height) {
            Image* resampled = Image_CreateResampled(bumpImage, image->width, image->height);
            Image_Destroy(bumpImage);
            bumpImage = resampled;
        }
        const Texture* source = base ? base : bump;
        int32_t width = 0, height = 0, depth = 0, format = 0;
        if (bumpImage && Image_MakeMask(bumpImage) && Image_ApplyMask(image, bumpImage) &&
            Image_FindRasterFormat(image, RASTERTYPETEXTURE, &width, &height, &depth, &format)) {
            uint32_t creation = (uint32_t)format;
            if (Raster_GetFormat(source->raster) & RASTERFORMATMIPMAP)
                creation |= RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP;
            Raster* raster = Raster_Create(width, height, depth, creation);
            if (raster && (width != image->width || height != image->height)) {
                Image* fitted = Image_CreateResampled(image, width, height);
                Image_Destroy(image);
                image = fitted;
            }
            if (raster && image && Raster_SetFromImage(raster, image)) texture = Texture_Create(raster);
            if (!texture && raster) Raster_Destroy(raster);
        }
        if (texture) {
            const uint32_t u = (source->filterAddressing >> 8) & 0xF, v = (source->filterAddressing >> 12) & 0xF;
            texture->filterAddressing = (source->filterAddressing & 0xFF) | (u == v ? (u << 8 | v << 12) : 0u);
            char name[32];
            BumpedName(name, base, bump);
            Texture_SetName(texture, name);
        }
    }
    if (bumpImage) Image_Destroy(bumpImage);
    if (image) Image_Destroy(image);
    return texture;
}

Material* MatFX_SetDualTexture(Material* material, Texture* texture)
{
    return EditSlot(material, MATFX_SLOT_DUAL, [&](MatFXSlot& slot) { Replace(slot.dual.texture, texture); });
}

Material* MatFX_SetDualBlendModes(Material* material, uint32_t srcBlend, uint32_t dstBlend)
{
    return EditSlot(material, MATFX_SLOT_DUAL, [&](MatFXSlot& slot) {
        slot.dual.srcBlend = srcBlend;
        slot.dual.dstBlend = dstBlend;
    });
}

Material* MatFX_SetUVTransformMatrices(Material* material, const Matrix* base, const Matrix* dual)
{
    return EditSlot(material, MATFX_SLOT_UVTRANSFORM, [&](MatFXSlot& slot) {
        slot.uv.baseTransform = base;
        slot.uv.dualTransform = dual;
    });
}

void* MatFX_MaterialCopy(void* dst, const void* src, int32_t, int32_t)
{
    const MatFXMaterialData* source = Record((const Material*)src);
    if (!source) return dst;
    Material* target = (Material*)dst;
    if (!MatFX_SetMaterialEffects(target, source->effectType)) return nullptr;
    MatFXMaterialData* data = Record(target);
    for (int i = 0; i < 2; i++) {
        const MatFXSlot& from = source->slots[i];
        MatFXSlot& to = data->slots[i];
        if (to.kind != from.kind) continue;
        switch (from.kind) {
        case MATFX_SLOT_BUMP:
            to.bump.frame = from.bump.frame;
            Replace(to.bump.bumpedTexture, from.bump.bumpedTexture);
            Replace(to.bump.bumpTexture, from.bump.bumpTexture);
            to.bump.coefficient = from.bump.coefficient;
            to.bump.invBumpedWidth = from.bump.invBumpedWidth;
            break;
        case MATFX_SLOT_ENV:
            Replace(to.env.texture, from.env.texture);
            to.env.frame = from.env.frame;
            to.env.useFrameBufferAlpha = from.env.useFrameBufferAlpha;
            to.env.coefficient = from.env.coefficient;
            break;
        case MATFX_SLOT_DUAL:
            Replace(to.dual.texture, from.dual.texture);
            to.dual.srcBlend = from.dual.srcBlend;
            to.dual.dstBlend = from.dual.dstBlend;
            break;
        case MATFX_SLOT_UVTRANSFORM: to.uv = from.uv; break;
        default: break;
        }
    }
    return dst;
}
