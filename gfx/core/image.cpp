#include "gfx/core/image.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "common/strings.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"

namespace {

// Module globals, kept in the engine instance at the image module's offset.
struct ImageModule {
    FreeList *images;
    char *searchPath;  // ';'-separated, zero-terminated
    int32_t searchPathSize;
    uint8_t gammaTable[256];
    uint8_t inverseGammaTable[256];
    float gamma;
    char *scratch;  // candidate paths are built here
    int32_t scratchSize;
    FreeList *formats;
    ImageFileFormat *formatList;  // newest first
};

constexpr int32_t kInitialBufferSize = 256;
constexpr uint32_t kErrDepthPair = 0x80000009u;
constexpr uint32_t kErrGammaDepth = 0x80000008u;
constexpr uint32_t kErrMaskSize = 0x8000000au;

PluginRegistry sImageRegistry = PLUGIN_REGISTRY_INIT(sizeof(Image));
int32_t sModuleOffset = -1;
int32_t sOpenCount = 0;

ImageModule *Module(void) { return (ImageModule *)Engine_ModuleGlobals(sModuleOffset); }

int32_t PaletteEntries(int32_t depth) { return (depth == 4 || depth == 8) ? 1 << depth : 0; }

void RebuildGamma(float gamma) { Image_BuildGammaTables(gamma); }

// Makes sure a module buffer holds at least size bytes. On failure it raises
// out of memory and leaves the buffer and its size as they were.
bool GrowBuffer(char **buffer, int32_t *bufferSize, size_t size)
{
    if (size <= (size_t)*bufferSize) return true;
    if (size > 0x7fffffff) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    char *grown = (char *)Engine_Realloc(*buffer, size);
    if (!grown) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    *buffer = grown;
    *bufferSize = (int32_t)size;
    return true;
}

// Makes sure the scratch buffer holds at least size bytes.
bool GrowScratch(ImageModule *m, size_t size) { return GrowBuffer(&m->scratch, &m->scratchSize, size); }

// Calls visit(candidate) for each candidate path of name along the search
// path until it returns true. margin is room kept after the candidate for a
// suffix. Returns false when nothing was accepted or the buffer cannot grow.
template <typename Visit>
bool SearchPath(const char *name, size_t margin, Visit visit)
{
    ImageModule *m = Module();
    const size_t nameLength = strlen(name);
    if (Path_IsAbsolute(name) || !m->searchPath || !m->searchPath[0]) {
        if (!GrowScratch(m, nameLength + margin + 1)) return false;
        memcpy(m->scratch, name, nameLength + 1);
        return visit(m->scratch);
    }
    const char *element = m->searchPath;
    while (*element) {
        const char *end = strchr(element, ';');
        const size_t length = end ? (size_t)(end - element) : strlen(element);
        if (length > 0) {
            if (!GrowScratch(m, length + nameLength + margin + 1)) return false;
            memcpy(m->scratch, element, length);
            memcpy(m->scratch + length, name, nameLength + 1);
            if (visit(m->scratch)) return true;
        }
        if (!end) break;
        element = end + 1;
    }
    return false;
}

// The extension of a file name: from the last '.' of the part after the last
// ':', '/' and '\'; null without one.
const char *FileExtension(const char *name)
{
    const char *part = name;
    for (char separator : {':', '/', '\\'}) {
        const char *found = strrchr(part, separator);
        if (found) part = found + 1;
    }
    return strrchr(part, '.');
}

ImageFileFormat *FindFormat(const char *extension)
{
    for (ImageFileFormat *f = Module()->formatList; f; f = f->next)
        if (strcmp(f->lowerExtension, extension) == 0 || strcmp(f->upperExtension, extension) == 0) return f;
    return nullptr;
}

// A key of the registry: a dot, at most 18 characters, a terminator; the
// case folded as asked (ASCII letters only).
void MakeKey(char key[20], const char *extension, bool upper)
{
    key[0] = '.';
    int i = 0;
    for (; i < 18 && extension[i]; i++) {
        char c = extension[i];
        if (upper) c = String_UpperAscii(c);
        if (!upper && c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        key[1 + i] = c;
    }
    memset(key + 1 + i, 0, (size_t)(19 - i));
}

}  // namespace

int32_t Image_InstallModule(void)
{
    if (!Engine_SetCoreModule(MODULE_IMAGE, (int32_t)sizeof(ImageModule), Image_ModuleOpen, Image_ModuleClose))
        return 0;
    Engine_SetGammaHook(RebuildGamma);
    return 1;
}

void *Image_ModuleOpen(void *instance, int32_t offset, int32_t)
{
    sModuleOffset = offset;
    ImageModule *m = Module();
    memset(m, 0, sizeof(*m));
    m->images = FreeList_Create(sImageRegistry.size, 16, 8);
    m->formats = FreeList_Create((int32_t)sizeof(ImageFileFormat), 16, 8);
    m->searchPath = (char *)Engine_Malloc(kInitialBufferSize);
    m->scratch = (char *)Engine_Malloc(kInitialBufferSize);
    if (!m->images || !m->formats || !m->searchPath || !m->scratch) {
        if (m->scratch) Engine_Free(m->scratch);
        if (m->searchPath) Engine_Free(m->searchPath);
        if (m->formats) FreeList_Destroy(m->formats);
        if (m->images) FreeList_Destroy(m->images);
        memset(m, 0, sizeof(*m));
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    m->searchPath[0] = '\0';
    m->searchPathSize = kInitialBufferSize;
    m->scratchSize = kInitialBufferSize;
    sOpenCount++;
    Image_BuildGammaTables(1.0f);
    return instance;
}

void *Image_ModuleClose(void *instance, int32_t, int32_t)
{
    ImageModule *m = Module();
    if (m->scratch) Engine_Free(m->scratch);
    if (m->searchPath) Engine_Free(m->searchPath);
    while (m->formatList) {
        ImageFileFormat *next = m->formatList->next;
        FreeList_Free(m->formats, m->formatList);
        m->formatList = next;
    }
    if (m->formats) FreeList_Destroy(m->formats);
    if (m->images) FreeList_Destroy(m->images);
    memset(m, 0, sizeof(*m));
    sOpenCount--;
    return instance;
}

int32_t Image_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sImageRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Image_StrideFor(int32_t width, int32_t depth) { return (((depth + 7) / 8) * width + 3) & ~3; }

Image *Image_Create(int32_t width, int32_t height, int32_t depth)
{
    Image *image = (Image *)FreeList_Alloc(Module()->images);
    if (!image) return nullptr;
    memset(image, 0, sizeof(*image));
    image->width = width;
    image->height = height;
    image->depth = depth;
    if (!PluginRegistry_RunConstructors(&sImageRegistry, image)) {
        FreeList_Free(Module()->images, image);
        return nullptr;
    }
    return image;
}

int Image_Destroy(Image *image)
{
    if (!image) return 1;
    Image_FreePixels(image);
    PluginRegistry_RunDestructors(&sImageRegistry, image);
    FreeList_Free(Module()->images, image);
    return 1;
}

// One block of stride x height pixel bytes and the palette after them; null
// when the size is negative or memory runs out.
static uint8_t *AllocateBlock(int32_t width, int32_t height, int32_t depth, int32_t *stride)
{
    if (width < 0 || height < 0 || width > 0x1fffffff / 4) return nullptr;
    *stride = Image_StrideFor(width, depth);
    const size_t bytes = (size_t)*stride * (size_t)height + 4 * (size_t)PaletteEntries(depth);
    if (bytes > 0x7fffffff) return nullptr;
    return (uint8_t *)Engine_Malloc(bytes ? bytes : 4);
}

Image *Image_AllocatePixels(Image *image)
{
    int32_t stride;
    uint8_t *block = AllocateBlock(image->width, image->height, image->depth, &stride);
    if (!block) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    Image_FreePixels(image);
    image->stride = stride;
    image->pixels = block;
    image->palette = PaletteEntries(image->depth) ? block + (size_t)stride * image->height : nullptr;
    image->flags |= IMAGE_OWNSPIXELS;
    return image;
}

Image *Image_FreePixels(Image *image)
{
    if ((image->flags & IMAGE_OWNSPIXELS) && image->pixels) Engine_Free(image->pixels);
    image->pixels = nullptr;
    image->palette = nullptr;
    image->flags &= ~IMAGE_OWNSPIXELS;
    return image;
}

Image *Image_Resize(Image *image, int32_t width, int32_t height)
{
    if ((image->flags & IMAGE_OWNSPIXELS) && image->pixels) {
        int32_t stride;
        uint8_t *block = AllocateBlock(width, height, image->depth, &stride);
        if (!block) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
        uint8_t *palette = PaletteEntries(image->depth) ? block + (size_t)stride * height : nullptr;
        if (palette && image->palette) memcpy(palette, image->palette, 4 * (size_t)PaletteEntries(image->depth));
        const size_t rowBytes = (size_t)((image->depth + 7) / 8) * (size_t)(width < image->width ? width : image->width);
        const int32_t rows = height < image->height ? height : image->height;
        for (int32_t y = 0; y < rows; y++)
            memcpy(block + (size_t)y * stride, image->pixels + (size_t)y * image->stride, rowBytes);
        Engine_Free(image->pixels);
        image->pixels = block;
        image->palette = palette;
        image->stride = stride;
    }
    image->width = width;
    image->height = height;
    return image;
}

static uint8_t Brightness(const uint8_t *c)
{
    uint8_t m = c[0] > c[1] ? c[0] : c[1];
    return m > c[2] ? m : c[2];
}

Image *Image_MakeMask(Image *image)
{
    if (PaletteEntries(image->depth) && image->palette) {
        for (int32_t i = 0; i < PaletteEntries(image->depth); i++) {
            uint8_t *entry = image->palette + 4 * i;
            entry[3] = Brightness(entry);
        }
    } else if (image->depth == 32 && image->pixels) {
        for (int32_t y = 0; y < image->height; y++) {
            uint8_t *p = image->pixels + (size_t)y * image->stride;
            for (int32_t x = 0; x < image->width; x++, p += 4) p[3] = Brightness(p);
        }
    }
    return image;
}

Image *Image_ApplyMask(Image *image, const Image *mask)
{
    if (image->width != mask->width || image->height != mask->height) {
        Error_Raise(kErrMaskSize);
        return nullptr;
    }
    if (image->depth == 4 || image->depth == 8) {
        // Build the 32-bit pixels first and swap them in only when complete,
        // so a failure leaves the image as it was; a caller-supplied block is
        // never freed.
        Image *wide = Image_Create(image->width, image->height, 32);
        if (!wide) return nullptr;
        if (!Image_AllocatePixels(wide) || !Image_ConvertInto(wide, image)) {
            Image_Destroy(wide);
            return nullptr;
        }
        Image_FreePixels(image);
        image->pixels = wide->pixels;
        image->stride = wide->stride;
        image->depth = 32;
        image->flags |= IMAGE_OWNSPIXELS;
        wide->pixels = nullptr;
        wide->flags &= ~IMAGE_OWNSPIXELS;
        Image_Destroy(wide);
    } else if (image->depth != 32) {
        Error_Raise(kErrDepthPair);
        return nullptr;
    }
    if (!image->pixels || !mask->pixels) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    const bool palettised = PaletteEntries(mask->depth) && mask->palette;
    if (!palettised && mask->depth != 32) return image;
    const uint8_t indexMask = mask->depth == 4 ? 15 : 255;  // a 4-bit index is the byte's low four bits
    for (int32_t y = 0; y < image->height; y++) {
        uint8_t *p = image->pixels + (size_t)y * image->stride;
        const uint8_t *m = mask->pixels + (size_t)y * mask->stride;
        for (int32_t x = 0; x < image->width; x++)
            p[4 * x + 3] = palettised ? mask->palette[4 * (m[x] & indexMask) + 3] : m[4 * x + 3];
    }
    return image;
}

const char *Image_SetPath(const char *path)
{
    ImageModule *m = Module();
    const size_t length = strlen(path) + 1;
    if (!GrowBuffer(&m->searchPath, &m->searchPathSize, length)) return nullptr;
    memcpy(m->searchPath, path, length);
    return m->searchPath;
}

int Image_RegisterFileFormat(const char *extension, ImageReadFunc read, ImageWriteFunc write)
{
    ImageModule *m = Module();
    char key[20];
    MakeKey(key, extension, false);
    ImageFileFormat *format = nullptr;
    for (ImageFileFormat *f = m->formatList; f; f = f->next)
        if (strcmp(f->lowerExtension, key) == 0) format = f;
    if (!format) {
        format = (ImageFileFormat *)FreeList_Alloc(m->formats);
        if (!format) return 0;
        memcpy(format->lowerExtension, key, sizeof(key));
        MakeKey(format->upperExtension, extension, true);
        format->read = nullptr;
        format->write = nullptr;
        format->next = m->formatList;
        m->formatList = format;
    }
    if (read) format->read = read;
    if (write) format->write = write;
    return 1;
}

Image *Image_Read(const char *fileName)
{
    const char *extension = FileExtension(fileName);
    if (!extension) return nullptr;
    ImageFileFormat *format = FindFormat(extension);
    if (!format || !format->read) return nullptr;
    const FileInterface &files = Engine_Instance()->fileFunctions;
    Image *result = nullptr;
    SearchPath(fileName, 5, [&](const char *candidate) {
        if (!files.exists(candidate)) return false;
        result = format->read(candidate);
        return result != nullptr;
    });
    return result;
}

Image *Image_ReadMasked(const char *fileName, const char *maskFileName)
{
    Image *image = Image_Read(fileName);
    if (!image || !maskFileName || !maskFileName[0]) return image;
    Image *mask = Image_Read(maskFileName);
    if (!mask) {
        Image_Destroy(image);
        return nullptr;
    }
    Image_MakeMask(mask);
    Image *masked = Image_ApplyMask(image, mask);
    Image_Destroy(mask);
    if (!masked) {
        Image_Destroy(image);
        return nullptr;
    }
    return image;
}

const char *Image_FindFileExtension(const char *baseName)
{
    ImageModule *m = Module();
    const FileInterface &files = Engine_Instance()->fileFunctions;
    const char *found = nullptr;
    SearchPath(baseName, 20, [&](char *candidate) {
        const size_t length = strlen(candidate);
        for (ImageFileFormat *f = m->formatList; f; f = f->next)
            for (const char *spelling : {f->lowerExtension, f->upperExtension}) {
                memcpy(candidate + length, spelling, strlen(spelling) + 1);
                if (files.exists(candidate)) {
                    found = spelling;
                    return true;
                }
            }
        candidate[length] = '\0';
        return false;
    });
    return found;
}

int Image_CopySameDepth(Image *destination, const Image *source)
{
    // Rows and widths are limited to what both images hold, so a smaller
    // source is never read past its end.
    const int32_t entries = PaletteEntries(destination->depth);
    if (entries && destination->palette && source->palette)
        memcpy(destination->palette, source->palette, 4 * (size_t)entries);
    if (!destination->pixels || !source->pixels) return 1;
    const int32_t width = destination->width < source->width ? destination->width : source->width;
    const int32_t rows = destination->height < source->height ? destination->height : source->height;
    const size_t rowBytes = (size_t)((destination->depth + 7) / 8) * (size_t)width;
    for (int32_t y = 0; y < rows; y++)
        memcpy(destination->pixels + (size_t)y * destination->stride, source->pixels + (size_t)y * source->stride,
               rowBytes);
    return 1;
}

int Image_ConvertInto(Image *destination, const Image *source)
{
    const int32_t sd = source->depth, dd = destination->depth;
    if (sd == dd && (sd == 4 || sd == 8 || sd == 32)) return 1;
    const bool indices = sd == 4 && dd == 8;
    const bool lookup = (sd == 4 || sd == 8) && dd == 32;
    if (!indices && !lookup) {
        Error_Raise(kErrDepthPair);
        return 0;
    }
    if (!destination->pixels || !source->pixels || !source->palette) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return 0;
    }
    const int32_t width = destination->width < source->width ? destination->width : source->width;
    const int32_t rows = destination->height < source->height ? destination->height : source->height;
    for (int32_t y = 0; y < rows; y++) {
        const uint8_t *in = source->pixels + (size_t)y * source->stride;
        uint8_t *out = destination->pixels + (size_t)y * destination->stride;
        if (indices) memcpy(out, in, (size_t)width);
        else
            for (int32_t x = 0; x < width; x++) memcpy(out + 4 * x, source->palette + 4 * (in[x] & (sd == 4 ? 15 : 255)), 4);
    }
    // The 16 entries of a 4-bit palette come along; the rest of the 8-bit
    // palette is cleared rather than left as whatever the block held.
    if (indices && destination->palette) {
        memcpy(destination->palette, source->palette, 16 * 4);
        memset(destination->palette + 16 * 4, 0, 240 * 4);
    }
    return 1;
}

Image *Image_CopyConverted(Image *destination, const Image *source)
{
    if (destination->depth == source->depth) Image_CopySameDepth(destination, source);
    else if (!Image_ConvertInto(destination, source)) return nullptr;
    destination->flags = (destination->flags & ~IMAGE_GAMMACORRECTED) | (source->flags & IMAGE_GAMMACORRECTED);
    return destination;
}

int Image_BuildGammaTables(float gamma)
{
    ImageModule *m = Module();
    if (!(gamma > 0.0f)) gamma = 1.0f;
    m->gamma = gamma;
    m->gammaTable[0] = 0;
    m->inverseGammaTable[0] = 0;
    for (int i = 1; i < 256; i++) {
        const float x = (float)i * 0.003921569f;
        const float corrected = powf(x, 1.0f / gamma) * 255.0f + 0.5f;
        const float inverse = powf(x, gamma) * 255.0f + 0.5f;
        m->gammaTable[i] = (uint8_t)(int32_t)corrected;
        m->inverseGammaTable[i] = (uint8_t)(int32_t)inverse;
    }
    return 1;
}

Image *Image_GammaCorrect(Image *image)
{
    const uint8_t *table = Module()->gammaTable;
    if (image->depth == 4 || image->depth == 8) {
        if (!image->palette) {
            Error_Raise(ERR_NULL_ARGUMENT);
            return nullptr;
        }
        for (int32_t i = 0; i < PaletteEntries(image->depth); i++)
            for (int c = 0; c < 3; c++) image->palette[4 * i + c] = table[image->palette[4 * i + c]];
    } else if (image->depth == 32) {
        if (!image->pixels) {
            Error_Raise(ERR_NULL_ARGUMENT);
            return nullptr;
        }
        for (int32_t y = 0; y < image->height; y++) {
            uint8_t *p = image->pixels + (size_t)y * image->stride;
            for (int32_t x = 0; x < image->width; x++, p += 4)
                for (int c = 0; c < 3; c++) p[c] = table[p[c]];
        }
    } else {
        Error_Raise(kErrGammaDepth);
        return nullptr;
    }
    image->flags |= IMAGE_GAMMACORRECTED;
    return image;
}

const uint8_t *Image_GetGammaTable(void) { return Module()->gammaTable; }
const uint8_t *Image_GetInverseGammaTable(void) { return Module()->inverseGammaTable; }
float Image_GetGamma(void) { return Module()->gamma; }
