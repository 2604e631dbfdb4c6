#include "gfx/core/texture.h"

#include <cstddef>
#include <cstring>

#include "common/strings.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/image.h"
#include "gfx/core/imageresample.h"
#include "gfx/core/palquant.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"

namespace {

constexpr uint32_t kErrNameTooLong = 0x8000001eu;
constexpr uint32_t kErrNoFormat = 0x80000009u;
// Name buffers of the reader: 255 characters, the mip suffix "m" + digit, the
// longest registered extension (a dot and 18 characters) and a terminator.
constexpr size_t kNameCut = 255;
constexpr size_t kNameBufferSize = 255 + 2 + 19 + 1;
// Names read from a texture chunk keep at most this many characters.
constexpr uint32_t kChunkNameMax = 127;
constexpr int32_t kMaxLevels = 32;
constexpr uint32_t kCoreModuleFlags = 4;  // raster flags of the default reader: a texture

struct TextureModule {
    EngineLink dictionaries;  // newest first
    FreeList *textures;
    FreeList *dictionaryList;
    TextureDictionary *current;
    TextureReadFunc read;
    TextureFindFunc find;
    int32_t mipmapping;
    int32_t autoMipmapping;
    uint8_t *scratch;
    uint16_t scratchSize;
    TextureMipGenerationFunc generateMipLevels;
    TextureMipNameFunc mipLevelName;
};

PluginRegistry sTextureRegistry = PLUGIN_REGISTRY_INIT(sizeof(Texture));
PluginRegistry sDictionaryRegistry = PLUGIN_REGISTRY_INIT(sizeof(TextureDictionary));
int32_t sModuleOffset = -1;
int32_t sOpenCount = 0;
TextureDictionary *sDefaultDictionary = nullptr;

TextureModule *Module(void) { return (TextureModule *)Engine_ModuleGlobals(sModuleOffset); }

Texture *TextureOf(EngineLink *link) { return (Texture *)((char *)link - offsetof(Texture, link)); }
TextureDictionary *DictionaryOf(EngineLink *link)
{
    return (TextureDictionary *)((char *)link - offsetof(TextureDictionary, link));
}

// Copies name into a reader buffer, cut at 255 characters with an error.
void CopyName(char *buffer, const char *name)
{
    const size_t length = name ? strlen(name) : 0;
    if (length > kNameCut) Error_Raise(kErrNameTooLong);
    const size_t kept = length > kNameCut ? kNameCut : length;
    if (kept) memcpy(buffer, name, kept);
    buffer[kept] = '\0';
}

void CopyField(char field[32], const char *name)
{
    const size_t length = name ? strlen(name) : 0;
    memset(field, 0, 32);
    if (length >= 32) {
        Error_Raise(kErrNameTooLong);
        memcpy(field, name, 31);
    } else if (length) {
        memcpy(field, name, length);
    }
}

bool Palettised(uint32_t format) { return format & (RASTERFORMATPAL8 | RASTERFORMATPAL4); }
int32_t PaletteDepth(uint32_t format) { return (format & RASTERFORMATPAL4) ? 4 : 8; }

void DestroyImages(Image **images, int32_t from, int32_t to, const Image *keep)
{
    for (int32_t i = from; i < to; i++)
        if (images[i] && images[i] != keep) {
            Image_Destroy(images[i]);
            images[i] = nullptr;
        }
}

// The texture on raster with the caller's names, or null (raster destroyed).
Texture *MakeTexture(Raster *raster, const char *name, const char *maskName)
{
    Texture *texture = Texture_Create(raster);
    if (!texture) {
        Raster_Destroy(raster);
        return nullptr;
    }
    Texture_SetName(texture, name);
    Texture_SetMaskName(texture, maskName ? maskName : "");
    return texture;
}

// Appends the extension under which name exists along the image path.
void AppendExtension(char *buffer)
{
    const char *extension = Image_FindFileExtension(buffer);
    if (extension) strcat(buffer, extension);
}

}  // namespace

int32_t Texture_InstallModule(void)
{
    return Engine_SetCoreModule(MODULE_TEXTURE, (int32_t)sizeof(TextureModule), Texture_ModuleOpen,
                                Texture_ModuleClose);
}

void *Texture_ModuleOpen(void *instance, int32_t offset, int32_t)
{
    sModuleOffset = offset;
    TextureModule *m = Module();
    memset(m, 0, sizeof(*m));
    m->textures = FreeList_Create(sTextureRegistry.size, 64, 8);
    m->dictionaryList = FreeList_Create(sDictionaryRegistry.size, 8, 8);
    if (!m->textures || !m->dictionaryList) {
        if (m->textures) FreeList_Destroy(m->textures);
        if (m->dictionaryList) FreeList_Destroy(m->dictionaryList);
        m->textures = m->dictionaryList = nullptr;
        return nullptr;
    }
    EngineLink_Init(&m->dictionaries);
    sOpenCount++;
    sDefaultDictionary = TextureDictionary_Create();
    if (!sDefaultDictionary) {
        FreeList_Destroy(m->textures);
        FreeList_Destroy(m->dictionaryList);
        m->textures = m->dictionaryList = nullptr;
        sOpenCount--;
        return nullptr;
    }
    m->current = sDefaultDictionary;
    m->read = Texture_DefaultRead;
    m->find = Texture_DefaultFind;
    m->generateMipLevels = Texture_DefaultGenerateMipLevels;
    m->mipLevelName = Texture_DefaultMipLevelName;
    return instance;
}

void *Texture_ModuleClose(void *instance, int32_t, int32_t)
{
    TextureModule *m = Module();
    if (m->scratch) Engine_Free(m->scratch);
    m->scratch = nullptr;
    m->scratchSize = 0;
    if (m->textures && m->dictionaryList && sDefaultDictionary) {
        bool listed = false;
        for (EngineLink *l = m->dictionaries.next; l != &m->dictionaries; l = l->next)
            if (DictionaryOf(l) == sDefaultDictionary) listed = true;
        if (listed) {
            if (m->current == sDefaultDictionary) m->current = nullptr;
            TextureDictionary_Destroy(sDefaultDictionary);
        }
    }
    sDefaultDictionary = nullptr;
    if (m->textures) FreeList_Destroy(m->textures);
    if (m->dictionaryList) FreeList_Destroy(m->dictionaryList);
    m->textures = m->dictionaryList = nullptr;
    sOpenCount--;
    return instance;
}

int32_t Texture_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                               PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sTextureRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Texture_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                     PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&sTextureRegistry, pluginId, read, write, getSize);
}

int32_t TextureDictionary_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                         PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sDictionaryRegistry, size, pluginId, constructor, destructor, copy);
}

int Texture_SetReadCallback(TextureReadFunc read)
{
    Module()->read = read;
    return 1;
}
TextureReadFunc Texture_GetReadCallback(void) { return Module()->read; }
int Texture_SetMipmapping(int enable)
{
    Module()->mipmapping = enable ? 1 : 0;
    return 1;
}
int Texture_GetMipmapping(void) { return Module()->mipmapping; }
int Texture_SetAutoMipmapping(int enable)
{
    Module()->autoMipmapping = enable ? 1 : 0;
    return 1;
}
int Texture_GetAutoMipmapping(void) { return Module()->autoMipmapping; }

Texture *Texture_Create(Raster *raster)
{
    TextureModule *m = Module();
    Texture *texture = (Texture *)FreeList_Alloc(m->textures);
    if (!texture) return nullptr;
    memset(texture, 0, sizeof(*texture));
    texture->raster = raster;
    texture->link.next = texture->link.prev = &texture->link;
    texture->filterAddressing = TEXTUREDEFAULTFILTERADDRESSING;
    texture->refCount = 1;
    if (!PluginRegistry_RunConstructors(&sTextureRegistry, texture)) {
        FreeList_Free(m->textures, texture);
        return nullptr;
    }
    return texture;
}

int Texture_Destroy(Texture *texture)
{
    if (!texture) return 1;
    if (--texture->refCount >= 1) return 1;
    texture->refCount++;
    PluginRegistry_RunDestructors(&sTextureRegistry, texture);
    texture->refCount--;
    TextureDictionary_RemoveTexture(texture);
    if (texture->raster) Raster_Destroy(texture->raster);
    FreeList_Free(Module()->textures, texture);
    return 1;
}

Texture *Texture_SetName(Texture *texture, const char *name)
{
    CopyField(texture->name, name);
    return texture;
}

Texture *Texture_SetMaskName(Texture *texture, const char *name)
{
    CopyField(texture->mask, name);
    return texture;
}

Texture *Texture_SetRaster(Texture *texture, Raster *raster)
{
    if (!raster) {
        texture->raster = nullptr;
        return texture;
    }
    StandardFunction set = Engine_Instance()->standardFunctions[STDFN_TEXTURESETRASTER];
    return set && set(texture, raster, 0) ? texture : nullptr;
}

int Texture_RasterGenerateMipLevels(Raster *raster, Image *image)
{
    TextureMipGenerationFunc generate = Module()->generateMipLevels;
    return generate && generate(raster, image) ? 1 : 0;
}

TextureDictionary *TextureDictionary_Create(void)
{
    TextureModule *m = Module();
    TextureDictionary *dictionary = (TextureDictionary *)FreeList_Alloc(m->dictionaryList);
    if (!dictionary) return nullptr;
    memset(dictionary, 0, sizeof(*dictionary));
    dictionary->type = 6;
    EngineLink_Init(&dictionary->textures);
    EngineLink_InsertHead(&m->dictionaries, &dictionary->link);
    if (!PluginRegistry_RunConstructors(&sDictionaryRegistry, dictionary)) {
        EngineLink_Remove(&dictionary->link);
        FreeList_Free(m->dictionaryList, dictionary);
        return nullptr;
    }
    return dictionary;
}

int TextureDictionary_Destroy(TextureDictionary *dictionary)
{
    TextureModule *m = Module();
    if (m->current == dictionary) m->current = nullptr;
    // Each texture loses the dictionary's reference; one that other holders
    // keep alive is detached rather than left pointing at a freed record.
    EngineLink *link = dictionary->textures.next;
    while (link != &dictionary->textures) {
        EngineLink *next = link->next;
        Texture *texture = TextureOf(link);
        if (texture->refCount > 1) TextureDictionary_RemoveTexture(texture);
        Texture_Destroy(texture);
        link = next;
    }
    PluginRegistry_RunDestructors(&sDictionaryRegistry, dictionary);
    EngineLink_Remove(&dictionary->link);
    FreeList_Free(m->dictionaryList, dictionary);
    return 1;
}

TextureDictionary *TextureDictionary_AddTexture(TextureDictionary *dictionary, Texture *texture)
{
    TextureDictionary_RemoveTexture(texture);
    texture->dictionary = dictionary;
    EngineLink_InsertHead(&dictionary->textures, &texture->link);
    return dictionary;
}

Texture *TextureDictionary_RemoveTexture(Texture *texture)
{
    if (texture->dictionary) {
        texture->dictionary = nullptr;
        EngineLink_Remove(&texture->link);
    }
    return texture;
}

Texture *TextureDictionary_FindNamedTexture(TextureDictionary *dictionary, const char *name)
{
    for (EngineLink *l = dictionary->textures.next; l != &dictionary->textures; l = l->next)
        if (String_EqualNoCase(TextureOf(l)->name, name)) return TextureOf(l);
    return nullptr;
}

TextureDictionary *TextureDictionary_ForAllTextures(TextureDictionary *dictionary, TextureCallback callback,
                                                    void *data)
{
    EngineLink *link = dictionary->textures.next;
    while (link != &dictionary->textures) {
        EngineLink *next = link->next;
        if (!callback(TextureOf(link), data)) break;
        link = next;
    }
    return dictionary;
}

TextureDictionary *TextureDictionary_SetCurrent(TextureDictionary *dictionary)
{
    Module()->current = dictionary;
    return dictionary;
}

TextureDictionary *TextureDictionary_GetCurrent(void) { return Module()->current; }

Texture *Texture_Read(const char *name, const char *maskName)
{
    TextureModule *m = Module();
    Texture *texture = m->find ? m->find(name) : nullptr;
    if (texture) {
        texture->refCount++;
        return texture;
    }
    texture = m->read ? m->read(name, maskName) : nullptr;
    if (!texture) {
        Error_Raise(TEXTURE_ERR_NOT_FOUND);
        return nullptr;
    }
    if (m->current) TextureDictionary_AddTexture(m->current, texture);
    return texture;
}

Texture *Texture_DefaultFind(const char *name)
{
    TextureModule *m = Module();
    if (m->current) return TextureDictionary_FindNamedTexture(m->current, name);
    for (EngineLink *l = m->dictionaries.next; l != &m->dictionaries; l = l->next) {
        Texture *found = TextureDictionary_FindNamedTexture(DictionaryOf(l), name);
        if (found) return found;
    }
    return nullptr;
}

int Texture_DefaultMipLevelName(char *name, char *maskName, uint32_t level, uint32_t)
{
    if (level < 1 || level > 15) return 1;
    const char suffix[3] = {'m', "0123456789abcdef"[level], '\0'};
    strcat(name, suffix);
    if (maskName && maskName[0]) strcat(maskName, suffix);
    return 1;
}

Image *Texture_ReadImageForRaster(const char *name, const char *maskName, uint32_t rasterFlags, int32_t *width,
                                  int32_t *height, int32_t *depth, int32_t *format)
{
    char nameBuffer[kNameBufferSize], maskBuffer[kNameBufferSize];
    CopyName(nameBuffer, name);
    AppendExtension(nameBuffer);
    maskBuffer[0] = '\0';
    if (maskName && maskName[0]) {
        CopyName(maskBuffer, maskName);
        AppendExtension(maskBuffer);
    }
    Image *image = Image_ReadMasked(nameBuffer, maskBuffer[0] ? maskBuffer : nullptr);
    if (!image) return nullptr;
    if (*width == 0 || *height == 0) {
        if (!Image_FindRasterFormat(image, rasterFlags, width, height, depth, format)) {
            Image_Destroy(image);
            Error_Raise(kErrNoFormat);
            return nullptr;
        }
    }
    if (image->width == *width && image->height == *height) return image;
    Image *resampled = Image_CreateResampled(image, *width, *height);
    const int32_t readDepth = image->depth;
    Image_Destroy(image);
    if (!resampled || readDepth == 32) return resampled;
    // A palettised file stays palettised at its new size.
    PaletteQuantiser quantiser;
    if (!PaletteQuantiser_Create(&quantiser)) return resampled;
    Image *indexed = Image_Create(*width, *height, readDepth);
    if (!indexed || !Image_AllocatePixels(indexed) || !PaletteQuantiser_AddImage(&quantiser, resampled, 1.0f)) {
        if (indexed) Image_Destroy(indexed);
        PaletteQuantiser_Destroy(&quantiser);
        return resampled;
    }
    PaletteQuantiser_MakePalette(indexed->palette, 1 << readDepth, &quantiser);
    PaletteQuantiser_MapImage(indexed->pixels, indexed->stride, readDepth, 0, &quantiser, resampled);
    PaletteQuantiser_Destroy(&quantiser);
    indexed->flags |= resampled->flags & IMAGE_GAMMACORRECTED;
    Image_Destroy(resampled);
    return indexed;
}

int Image_PalettiseSet(uint8_t *palette, Image *keep, Image **images, int32_t count, int32_t depth)
{
    const int32_t entries = 1 << depth;
    bool shared = images[0]->palette != nullptr;
    for (int32_t i = 1; shared && i < count; i++)
        shared = images[i]->palette && memcmp(images[i]->palette, images[0]->palette, 4 * (size_t)entries) == 0;
    if (shared) {
        memcpy(palette, images[0]->palette, 4u << images[0]->depth);
        return 1;
    }
    PaletteQuantiser quantiser;
    if (!PaletteQuantiser_Create(&quantiser)) return 0;
    for (int32_t i = 0; i < count; i++) PaletteQuantiser_AddImage(&quantiser, images[i], 1.0f);
    PaletteQuantiser_MakePalette(palette, entries, &quantiser);
    for (int32_t i = 0; i < count; i++) {
        Image *indexed = Image_Create(images[i]->width, images[i]->height, depth);
        if (!indexed || !Image_AllocatePixels(indexed)) {
            if (indexed) Image_Destroy(indexed);
            PaletteQuantiser_Destroy(&quantiser);
            return 0;
        }
        PaletteQuantiser_MapImage(indexed->pixels, indexed->stride, depth, 0, &quantiser, images[i]);
        indexed->palette = palette;
        indexed->flags |= images[i]->flags & IMAGE_GAMMACORRECTED;
        if (images[i] != keep) Image_Destroy(images[i]);
        images[i] = indexed;
    }
    PaletteQuantiser_Destroy(&quantiser);
    return 1;
}

Texture *Texture_DefaultRead(const char *name, const char *maskName)
{
    if (Module()->mipmapping) return Texture_ReadMipmapped(name, maskName);
    char nameBuffer[kNameBufferSize], maskBuffer[kNameBufferSize];
    CopyName(nameBuffer, name);
    maskBuffer[0] = '\0';
    if (maskName && maskName[0]) CopyName(maskBuffer, maskName);
    if (Module()->mipLevelName) Module()->mipLevelName(nameBuffer, maskBuffer, 0, kCoreModuleFlags);
    int32_t width = 0, height = 0, depth = 0, format = 0;
    Image *image = Texture_ReadImageForRaster(nameBuffer, maskBuffer, kCoreModuleFlags, &width, &height, &depth, &format);
    if (!image) return nullptr;
    Raster *raster = Raster_Create(width, height, depth, (uint32_t)format);
    if (!raster) {
        Image_Destroy(image);
        return nullptr;
    }
    uint8_t palette[256 * 4];
    if (Palettised((uint32_t)format)) {
        Image_PalettiseSet(palette, nullptr, &image, 1, PaletteDepth((uint32_t)format));
        image->palette = palette;
    }
    Image_GammaCorrect(image);
    const bool set = Raster_SetFromImage(raster, image) != nullptr;
    Image_Destroy(image);
    if (!set) {
        Raster_Destroy(raster);
        return nullptr;
    }
    return MakeTexture(raster, name, maskName);
}

Texture *Texture_ReadMipmapped(const char *name, const char *maskName)
{
    TextureModule *m = Module();
    const uint32_t flags = kCoreModuleFlags | RASTERFORMATMIPMAP | (m->autoMipmapping ? (uint32_t)RASTERFORMATAUTOMIPMAP : 0u);
    char nameBuffer[kNameBufferSize], maskBuffer[kNameBufferSize];
    auto fillBuffers = [&](uint32_t level) {
        CopyName(nameBuffer, name);
        maskBuffer[0] = '\0';
        if (maskName && maskName[0]) CopyName(maskBuffer, maskName);
        if (m->mipLevelName) m->mipLevelName(nameBuffer, maskBuffer, level, flags);
    };
    fillBuffers(0);
    int32_t width = 0, height = 0, depth = 0, format = 0;
    Image *images[kMaxLevels] = {};
    images[0] = Texture_ReadImageForRaster(nameBuffer, maskBuffer, flags, &width, &height, &depth, &format);
    if (!images[0]) return nullptr;
    Raster *raster = Raster_Create(width, height, depth, (uint32_t)format);
    if (!raster) {
        Image_Destroy(images[0]);
        return nullptr;
    }
    if (!((uint32_t)format & RASTERFORMATMIPMAP) || ((uint32_t)format & RASTERFORMATAUTOMIPMAP)) {
        // One image: without mip levels it is corrected here; with automatic
        // ones the generation corrects every level once level 0 is written.
        if (!((uint32_t)format & RASTERFORMATMIPMAP)) Image_GammaCorrect(images[0]);
        const bool set = Raster_SetFromImage(raster, images[0]) != nullptr;
        Image_Destroy(images[0]);
        if (!set) {
            Raster_Destroy(raster);
            return nullptr;
        }
        return MakeTexture(raster, name, maskName);
    }
    int32_t levels = Raster_GetNumLevels(raster);
    if (levels > kMaxLevels) levels = kMaxLevels;
    for (int32_t i = 1; i < levels; i++) {
        fillBuffers((uint32_t)i);
        int32_t levelWidth = 0, levelHeight = 0, levelDepth = 0, levelFormat = 0;
        if (Raster_Lock(raster, (uint32_t)i, RASTERLOCKWRITE | RASTERLOCKNOFETCH)) {
            levelWidth = raster->width;
            levelHeight = raster->height;
            levelDepth = raster->depth;
            levelFormat = (int32_t)Raster_GetFormat(raster);
            Raster_Unlock(raster);
        }
        images[i] = levelWidth ? Texture_ReadImageForRaster(nameBuffer, maskBuffer, flags, &levelWidth, &levelHeight,
                                                            &levelDepth, &levelFormat)
                               : nullptr;
        if (!images[i]) {
            DestroyImages(images, 0, i, nullptr);
            Raster_Destroy(raster);
            return nullptr;
        }
    }
    uint8_t palette[256 * 4];
    if (Palettised(Raster_GetFormat(raster))) {
        if (!Image_PalettiseSet(palette, nullptr, images, levels, PaletteDepth(Raster_GetFormat(raster)))) {
            DestroyImages(images, 0, levels, nullptr);
            Raster_Destroy(raster);
            return nullptr;
        }
        // Every level shares the one palette, so correcting it once reaches all.
        for (int32_t i = 0; i < levels; i++) images[i]->palette = palette;
        Image_GammaCorrect(images[0]);
    } else {
        for (int32_t i = 0; i < levels; i++) Image_GammaCorrect(images[i]);
    }
    for (int32_t i = 0; i < levels; i++) {
        bool set = true;
        if (Raster_Lock(raster, (uint32_t)i, RASTERLOCKWRITE | RASTERLOCKNOFETCH)) {
            set = Raster_SetFromImage(raster, images[i]) != nullptr;
            Raster_Unlock(raster);
        }
        Image_Destroy(images[i]);
        images[i] = nullptr;
        if (!set) {
            DestroyImages(images, i + 1, levels, nullptr);
            Raster_Destroy(raster);
            return nullptr;
        }
    }
    return MakeTexture(raster, name, maskName);
}

Raster *Texture_DefaultGenerateMipLevels(Raster *raster, Image *image)
{
    // Writing the levels below must not start another generation.
    const uint8_t autoBit = (uint8_t)(RASTERFORMATAUTOMIPMAP >> 8);
    const uint8_t savedAuto = raster->format & autoBit;
    raster->format &= (uint8_t)~autoBit;
    Raster *result = nullptr;
    Image *images[kMaxLevels] = {};
    int32_t levels = 0;
    do {
        Image *source = image;
        if (!image || image->depth != 32) {
            const int32_t w = image ? image->width : raster->width, h = image ? image->height : raster->height;
            source = Image_Create(w, h, 32);
            if (!source) break;
            if (!Image_AllocatePixels(source) ||
                !(image ? Image_CopyConverted(source, image) != nullptr : Image_SetFromRaster(source, raster) != nullptr)) {
                Image_Destroy(source);
                break;
            }
        }
        images[0] = source;
        levels = Raster_GetNumLevels(raster);
        if (levels > kMaxLevels) levels = kMaxLevels;
        if (levels < 1) levels = 1;
        bool made = true;
        for (int32_t i = 1; made && i < levels; i++) {
            if (!Raster_Lock(raster, (uint32_t)i, RASTERLOCKREAD)) {
                made = false;
                break;
            }
            images[i] = Image_CreateResampled(source, raster->width, raster->height);
            Raster_Unlock(raster);
            made = images[i] != nullptr;
        }
        if (!made) {
            DestroyImages(images, 0, levels, image);
            break;
        }
        uint8_t palette[256 * 4];
        const uint32_t format = Raster_GetFormat(raster);
        if (Palettised(format)) {
            if (!Image_PalettiseSet(palette, image, images, levels, PaletteDepth(format))) {
                DestroyImages(images, 0, levels, image);
                break;
            }
            for (int32_t i = 0; i < levels; i++) images[i]->palette = palette;
            Image_GammaCorrect(images[0]);
        } else {
            for (int32_t i = 0; i < levels; i++) Image_GammaCorrect(images[i]);
        }
        for (int32_t i = 0; i < levels; i++) {
            if (Raster_Lock(raster, (uint32_t)i, RASTERLOCKWRITE | RASTERLOCKNOFETCH)) {
                Raster_SetFromImage(raster, images[i]);
                Raster_Unlock(raster);
            }
        }
        DestroyImages(images, 0, levels, image);
        result = raster;
    } while (false);
    raster->format |= savedAuto;
    return result;
}

// ---------------------------------------------------------------------------
// The texture chunk.

namespace {

uint32_t PaddedLength(const char field[32])
{
    const size_t length = strnlen(field, 31);
    return (uint32_t)((length + 1 + 3) & ~(size_t)3);
}

// Reads the next name chunk (type 2, or 19 with 16-bit characters) into
// buffer, skipping chunks of other types. At most 127 characters are kept.
bool ReadNameChunk(Stream *stream, char buffer[kChunkNameMax + 1])
{
    ChunkHeaderInfo header;
    for (;;) {
        if (!Stream_ReadChunkHeaderInfo(stream, &header)) return false;
        if (header.version < STREAM_VERSION_MIN || header.version > STREAM_VERSION_MAX) {
            Error_Raise(ERR_BAD_VERSION);
            return false;
        }
        if (header.type == CHUNK_STRING || header.type == 19) break;
        if (!Stream_Skip(stream, header.length)) return false;
    }
    const uint32_t unit = header.type == 19 ? 2 : 1;
    const uint32_t characters = header.length / unit;
    const uint32_t kept = characters < kChunkNameMax ? characters : kChunkNameMax;
    uint8_t piece[128];
    uint32_t done = 0;
    while (done < kept) {
        const uint32_t n = kept - done < 64 ? kept - done : 64;
        if (Stream_Read(stream, piece, n * unit) != n * unit) return false;
        for (uint32_t i = 0; i < n; i++) buffer[done + i] = (char)piece[i * unit];
        done += n;
    }
    buffer[kept] = '\0';
    return header.length == kept * unit || Stream_Skip(stream, header.length - kept * unit) != nullptr;
}

}  // namespace

int32_t Texture_StreamGetSize(const Texture *texture)
{
    return 52 + (int32_t)PaddedLength(texture->name) + (int32_t)PaddedLength(texture->mask) +
           PluginRegistry_StreamGetExtensionsSize(&sTextureRegistry, texture);
}

const Texture *Texture_StreamWrite(const Texture *texture, Stream *stream)
{
    uint32_t word = texture->filterAddressing & 0xffff;
    if (texture->raster && !(Raster_GetFormat(texture->raster) & RASTERFORMATAUTOMIPMAP)) word |= 0x10000;
    const uint32_t nameLength = PaddedLength(texture->name), maskLength = PaddedLength(texture->mask);
    uint8_t name[32] = {}, mask[32] = {};
    memcpy(name, texture->name, strnlen(texture->name, 31));
    memcpy(mask, texture->mask, strnlen(texture->mask, 31));
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_TEXTURE, (uint32_t)Texture_StreamGetSize(texture)) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, 4) || !Stream_WriteInt32(stream, &word, 4) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRING, nameLength) || !Stream_Write(stream, name, nameLength) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRING, maskLength) || !Stream_Write(stream, mask, maskLength) ||
        !PluginRegistry_StreamWriteExtensions(&sTextureRegistry, stream, texture))
        return nullptr;
    return texture;
}

Texture *Texture_StreamRead(Stream *stream)
{
    uint32_t length = 0, version = 0, word = 0;
    if (!Stream_FindChunk(stream, CHUNK_STRUCT, &length, &version)) return nullptr;
    if (length < 4 || !Stream_ReadInt32(stream, &word, 4) || (length > 4 && !Stream_Skip(stream, length - 4)))
        return nullptr;
    if (!(word & 0xf000)) word |= (word & 0x0f00) << 4;
    TextureModule *m = Module();
    const int32_t savedMipmapping = m->mipmapping, savedAuto = m->autoMipmapping;
    const uint32_t filter = word & 0xff;
    const bool mips = filter >= TEXTUREFILTERMIPNEAREST && filter <= TEXTUREFILTERLINEARMIPLINEAR;
    m->mipmapping = mips ? 1 : 0;
    m->autoMipmapping = mips && !(word & 0x10000) ? 1 : 0;
    char name[kChunkNameMax + 1], mask[kChunkNameMax + 1];
    Texture *texture = nullptr;
    if (ReadNameChunk(stream, name) && ReadNameChunk(stream, mask)) {
        texture = Texture_Read(name, mask);
        // The word says the same of a picture with level files of its own
        // and of one read without levels that was given a mip filter (as
        // meshes set theirs): without level files it is the second, read as
        // it was. Asking for the files alone lost it in every cached load.
        if (!texture && m->mipmapping && !m->autoMipmapping) {
            m->mipmapping = 0;
            texture = Texture_Read(name, mask);
        }
        if (!texture) PluginRegistry_StreamSkipExtensions(&sTextureRegistry, stream);
        else if (texture->refCount == 1) texture->filterAddressing = word & 0xffff;
    }
    m->mipmapping = savedMipmapping;
    m->autoMipmapping = savedAuto;
    if (texture && !PluginRegistry_StreamReadExtensions(&sTextureRegistry, stream, texture)) {
        Texture_Destroy(texture);
        return nullptr;
    }
    return texture;
}
