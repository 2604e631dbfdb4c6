// LightWave object parsing. The file is walked chunk by chunk; each handled
// chunk is read whole into a buffer and taken apart through a bounded byte
// reader, so no read can leave the chunk, and each sub-chunk (SURF, BLOK,
// CLIP) gets a reader of its own over its declared size. Sizes are checked
// against what encloses them before anything is read; a pad byte follows
// every odd-sized chunk and sub-chunk.
//
// References that may point forwards in the file (polygon surfaces, clips of
// surfaces and blocks, vertex-map names of blocks and VCOL) are resolved and
// range-checked once the whole file is read.
#include "engine/lwo.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/colour.h"
#include "app/file.h"
#include "common/bytes.h"
#include "common/memory.h"
#include "engine/loaderror.h"

namespace {

constexpr uint32_t Id4(const char (&s)[5])
{
    return (uint32_t)(uint8_t)s[0] << 24 | (uint32_t)(uint8_t)s[1] << 16 | (uint32_t)(uint8_t)s[2] << 8 |
           (uint32_t)(uint8_t)s[3];
}

constexpr uint32_t ID_FORM = Id4("FORM"), ID_LWO2 = Id4("LWO2"), ID_LWOB = Id4("LWOB");
constexpr uint32_t ID_LAYR = Id4("LAYR"), ID_PNTS = Id4("PNTS"), ID_BBOX = Id4("BBOX"), ID_POLS = Id4("POLS");
constexpr uint32_t ID_PTAG = Id4("PTAG"), ID_TAGS = Id4("TAGS"), ID_SRFS = Id4("SRFS"), ID_SURF = Id4("SURF");
constexpr uint32_t ID_CLIP = Id4("CLIP"), ID_VMAP = Id4("VMAP"), ID_VMAD = Id4("VMAD"), ID_FACE = Id4("FACE");
constexpr uint32_t ID_STIL = Id4("STIL"), ID_ISEQ = Id4("ISEQ");
constexpr uint32_t ID_TXUV = Id4("TXUV"), ID_WGHT = Id4("WGHT"), ID_MORF = Id4("MORF"), ID_RGB = Id4("RGB "),
                   ID_RGBA = Id4("RGBA");
constexpr uint32_t ID_COLR = Id4("COLR"), ID_DIFF = Id4("DIFF"), ID_LUMI = Id4("LUMI"), ID_SPEC = Id4("SPEC"),
                   ID_REFL = Id4("REFL"), ID_TRAN = Id4("TRAN"), ID_BUMP = Id4("BUMP"), ID_SIDE = Id4("SIDE"),
                   ID_SMAN = Id4("SMAN"), ID_VCOL = Id4("VCOL"), ID_RIMG = Id4("RIMG"), ID_FLAG = Id4("FLAG"),
                   ID_BLOK = Id4("BLOK");
constexpr uint32_t ID_VDIF = Id4("VDIF"), ID_VLUM = Id4("VLUM"), ID_VSPC = Id4("VSPC"), ID_VRFL = Id4("VRFL"),
                   ID_VTRN = Id4("VTRN"), ID_CTEX = Id4("CTEX"), ID_TIMG = Id4("TIMG"), ID_TCTR = Id4("TCTR"),
                   ID_TSIZ = Id4("TSIZ"), ID_TFLG = Id4("TFLG");
constexpr uint32_t ID_IMAP = Id4("IMAP"), ID_PROC = Id4("PROC"), ID_GRAD = Id4("GRAD"), ID_SHDR = Id4("SHDR"),
                   ID_CHAN = Id4("CHAN"), ID_TMAP = Id4("TMAP"), ID_CNTR = Id4("CNTR"), ID_SIZE = Id4("SIZE"),
                   ID_AXIS = Id4("AXIS"), ID_IMAG = Id4("IMAG");

constexpr float DEFAULT_SMOOTH_COS = 0.99999f;
constexpr float FIND_POINT_TOLERANCE = 0.00001f;

// Big-endian reads over the bounded reader: 0 past the end, with the
// reader's overrun flag set.
uint16_t U2(ByteReader* r)
{
    const uint8_t* b = ByteReader_Take(r, 2);
    return b ? (uint16_t)(b[0] << 8 | b[1]) : 0;
}

uint32_t U4(ByteReader* r)
{
    const uint8_t* b = ByteReader_Take(r, 4);
    return b ? (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3] : 0;
}

float F4(ByteReader* r)
{
    const uint32_t bits = U4(r);
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

// Variable index: two bytes, or four (low 24 bits used) when the first byte
// is 0xFF.
uint32_t VX(ByteReader* r)
{
    if (r->left >= 1 && r->p[0] == 0xFF) return U4(r) & 0xFFFFFF;
    return U2(r);
}

// A NUL-terminated string padded to even length, returned in place (the
// chunk buffer holds it); null, and the reader emptied, when no NUL lies
// inside the reader.
const char* S0(ByteReader* r)
{
    const void* nul = r->left ? memchr(r->p, 0, r->left) : nullptr;
    if (!nul) {
        ByteReader_Take(r, r->left + 1);
        return nullptr;
    }
    const char* s = (const char*)r->p;
    const size_t length = (size_t)((const uint8_t*)nul - r->p) + 1;
    ByteReader_Take(r, length);
    if ((length & 1) && r->left) ByteReader_Take(r, 1);
    return s;
}

// A sub-chunk: ID4 and a two-byte size, then its own reader. The pad byte of
// an odd size is skipped. 0 at the end of the enclosing reader; a size that
// runs past it sets overrun.
int SubChunk(ByteReader* r, uint32_t* id, ByteReader* sub)
{
    if (r->left < 6) return 0;
    *id = U4(r);
    const uint16_t size = U2(r);
    const uint8_t* data = ByteReader_Take(r, size);
    if (!data) return 0;
    if ((size & 1) && r->left) ByteReader_Take(r, 1);
    *sub = ByteReader_Init(data, size);
    return 1;
}

// Growth of the parser's arrays, doubling; 0 when memory runs out.
template <typename T>
int Reserve(T** array, uint32_t* capacity, uint64_t need)
{
    if (need <= *capacity) return 1;
    if (need > 0x7FFFFFFF / sizeof(T)) return 0;
    uint64_t grown = *capacity ? *capacity : 16;
    while (grown < need) grown *= 2;
    if (grown > 0x7FFFFFFF / sizeof(T)) grown = need;
    T* block = (T*)Mem_Recalloc(*array, 16, (size_t)grown * sizeof(T));
    if (Mem_GetSize(block) < (size_t)grown * sizeof(T)) return 0;
    *array = block;
    *capacity = (uint32_t)grown;
    return 1;
}

const char* AfterSeparator(const char* path)
{
    const char* s = path;
    for (const char* p = path; *p; p++)
        if (*p == '/' || *p == '\\') s = p + 1;
    return s;
}

// Names resolved once the file is read.
struct PendingName {
    uint32_t surface;
    int32_t block;  // -1: the surface's VCOL map
    char* name;
};

struct Parser {
    LwoObject* object;
    int32_t requested;    // layer index asked for, -1 all
    int32_t current;      // index of the current layer, -1 before any (or all)
    int32_t stopNumber;
    int stopAtLayer;
    int stopSeen;
    int geometry;         // a geometry chunk was handled
    int skippedPols;      // the layer's last POLS was not FACE: its PTAG is ignored
    uint32_t pointCapacity, polygonCapacity, indexCapacity, surfaceCapacity, tagCapacity, clipCapacity;
    uint32_t mapCapacity[LWO_MAP_KINDS];
    PendingName* pending;
    uint32_t pendingCount, pendingCapacity;
};

int Fail(Parser* p, const char* what)
{
    LoadError_Set("%s", what);
    p->object->error = 1;
    return 0;
}

int OutOfMemory(Parser* p) { return Fail(p, "out of memory"); }

const size_t ENTRY_SIZE[LWO_MAP_KINDS] = {sizeof(LwoTexCoord), sizeof(LwoWeight), sizeof(LwoMorph),
                                          sizeof(LwoColour)};

char* CopyText(const char* text)
{
    return String_Dup(text ? text : "");
}

int AddPending(Parser* p, uint32_t surface, int32_t block, const char* name)
{
    if (!Reserve(&p->pending, &p->pendingCapacity, (uint64_t)p->pendingCount + 1)) return OutOfMemory(p);
    char* copy = CopyText(name);
    if (!copy) return OutOfMemory(p);
    p->pending[p->pendingCount++] = PendingName{surface, block, copy};
    return 1;
}

// ---- geometry chunks ----

int ReadPoints(Parser* p, ByteReader* r, uint32_t size)
{
    LwoObject* o = p->object;
    if (size % 12) return Fail(p, "PNTS: size is not a multiple of 12");
    const uint32_t n = size / 12;
    if (!Reserve(&o->points, &p->pointCapacity, (uint64_t)o->pointCount + n)) return OutOfMemory(p);
    for (uint32_t i = 0; i < n; i++) {
        Vec3& v = o->points[o->pointCount + i];
        v.x = F4(r);
        v.y = F4(r);
        v.z = F4(r);
    }
    o->pointCount += n;
    return 1;
}

int ReadPolygons(Parser* p, ByteReader* r)
{
    LwoObject* o = p->object;
    if (o->version == 2) {
        if (U4(r) != ID_FACE) {
            p->skippedPols = 1;
            return 1;
        }
    }
    p->skippedPols = 0;
    o->faceBase = o->polygonCount;
    while (r->left > 0) {
        const uint32_t count = o->version == 2 ? (U2(r) & 0x3FF) : U2(r);
        if (r->overrun) break;
        if (count != 3) {
            LoadError_Set("POLS: polygon %u has %u vertices (only triangles are read)", o->polygonCount, count);
            return Fail(p, "");
        }
        if (!Reserve(&o->polygons, &p->polygonCapacity, (uint64_t)o->polygonCount + 1) ||
            !Reserve(&o->indices, &p->indexCapacity, (uint64_t)o->indexCount + 3))
            return OutOfMemory(p);
        for (uint32_t k = 0; k < 3; k++) {
            const uint64_t index = (uint64_t)VX(r) + o->firstPoint;
            if (r->overrun) break;
            if (index >= o->pointCount) {
                LoadError_Set("POLS: polygon %u names point %llu of %u", o->polygonCount, (unsigned long long)index,
                              o->pointCount);
                return Fail(p, "");
            }
            o->indices[o->indexCount + k] = (uint32_t)index;
        }
        int32_t surface = -1;
        if (o->version == 1) {
            const int16_t s = (int16_t)U2(r);
            // Version 1 numbers surfaces from 1; a negative number would
            // announce detail polygons, which are not read.
            if (s <= 0 && !r->overrun) return Fail(p, "POLS: surface number is not positive");
            surface = s - 1;
        }
        if (r->overrun) break;
        o->polygons[o->polygonCount++] = LwoPolygon{3, o->indexCount, surface};
        o->indexCount += 3;
    }
    if (r->overrun) return Fail(p, "POLS: polygon runs past the chunk");
    return 1;
}

int32_t SurfaceOfTag(const LwoObject* o, uint32_t tag)
{
    for (uint32_t s = 0; s < o->surfaceCount; s++)
        if (strcmp(o->surfaces[s].name, o->tags[tag]) == 0) return (int32_t)s;
    return -1;
}

int ReadPolygonTags(Parser* p, ByteReader* r)
{
    LwoObject* o = p->object;
    if (U4(r) != ID_SURF || p->skippedPols) return 1;
    while (r->left > 0) {
        const uint64_t polygon = (uint64_t)VX(r) + o->faceBase;
        const uint16_t tag = U2(r);
        if (r->overrun) return Fail(p, "PTAG: pair runs past the chunk");
        if (polygon >= o->polygonCount) return Fail(p, "PTAG: polygon index out of range");
        if (tag >= o->tagCount) return Fail(p, "PTAG: tag index out of range");
        o->polygons[polygon].surface = SurfaceOfTag(o, tag);
    }
    return 1;
}

LwoMapKind KindOf(uint32_t type, uint32_t* need)
{
    switch (type) {
    case ID_TXUV: *need = 2; return LWO_MAP_TEXCOORD;
    case ID_WGHT: *need = 1; return LWO_MAP_WEIGHT;
    case ID_MORF: *need = 3; return LWO_MAP_MORPH;
    case ID_RGB: *need = 3; return LWO_MAP_COLOUR;
    case ID_RGBA: *need = 4; return LWO_MAP_COLOUR;
    default: return LWO_MAP_KINDS;
    }
}

LwoVertexMap* FindOrAddMap(Parser* p, LwoMapKind kind, uint32_t type, const char* name)
{
    LwoObject* o = p->object;
    for (uint32_t i = 0; i < o->mapCount[kind]; i++)
        if (strcmp(o->maps[kind][i].name, name) == 0) return &o->maps[kind][i];
    if (!Reserve(&o->maps[kind], &p->mapCapacity[kind], (uint64_t)o->mapCount[kind] + 1)) return nullptr;
    LwoVertexMap* map = &o->maps[kind][o->mapCount[kind]];
    *map = LwoVertexMap{};
    map->name = CopyText(name);
    map->type = type;
    if (!map->name) return nullptr;
    o->mapCount[kind]++;
    return map;
}

int ReadVertexMap(Parser* p, ByteReader* r, int perPolygon)
{
    LwoObject* o = p->object;
    const uint32_t type = U4(r);
    const uint16_t dimension = U2(r);
    const char* name = S0(r);
    if (r->overrun || !name) return Fail(p, "VMAP: header runs past the chunk");
    uint32_t need = 0;
    const LwoMapKind kind = KindOf(type, &need);
    if (kind == LWO_MAP_KINDS) return 1;  // a map type the game does not use
    if (dimension < need) return Fail(p, "VMAP: dimension too small for its type");
    LwoVertexMap* map = FindOrAddMap(p, kind, type, name);
    if (!map) return OutOfMemory(p);
    while (r->left > 0) {
        const uint64_t point = (uint64_t)VX(r) + o->firstPoint;
        int32_t polygon = -1;
        if (perPolygon) {
            const uint64_t index = (uint64_t)VX(r) + o->faceBase;
            if (!r->overrun && index >= o->polygonCount) return Fail(p, "VMAD: polygon index out of range");
            polygon = (int32_t)index;
        }
        float values[4] = {0, 0, 0, 0};
        for (uint32_t i = 0; i < dimension; i++) {
            const float v = F4(r);
            if (i < 4) values[i] = v;
        }
        if (r->overrun) return Fail(p, "VMAP: entry runs past the chunk");
        if (point >= o->pointCount) continue;  // entries of points not read are ignored
        uint32_t capacity = map->capacity;
        void* entries = map->entries;
        if (map->count == capacity) {
            const uint64_t grown = capacity ? (uint64_t)capacity * 2 : 64;
            if (grown * ENTRY_SIZE[kind] > 0x7FFFFFFF) return OutOfMemory(p);
            entries = Mem_Realloc(map->entries, 16, (size_t)(grown * ENTRY_SIZE[kind]));
            if (Mem_GetSize(entries) < grown * ENTRY_SIZE[kind]) return OutOfMemory(p);
            map->entries = entries;
            map->capacity = (uint32_t)grown;
        }
        const uint32_t at = map->count++;
        switch (kind) {
        case LWO_MAP_TEXCOORD: {
            const float u = values[0], v = 1.0f - values[1];
            if (!(std::fabs(u) <= LWO_MAX_TEXCOORD) || !(std::fabs(v) <= LWO_MAX_TEXCOORD))
                return Fail(p, "VMAP: texture coordinate beyond 64");
            ((LwoTexCoord*)entries)[at] = LwoTexCoord{u, v, (uint32_t)point, polygon};
            break;
        }
        case LWO_MAP_WEIGHT: ((LwoWeight*)entries)[at] = LwoWeight{values[0], (uint32_t)point, polygon}; break;
        case LWO_MAP_MORPH:
            ((LwoMorph*)entries)[at] = LwoMorph{{values[0], values[1], values[2]}, (uint32_t)point};
            break;
        default: {
            const float alpha = type == ID_RGBA ? values[3] : 1.0f;
            ((LwoColour*)entries)[at] =
                LwoColour{Colour_FromFloats(alpha, values[0], values[1], values[2]), (uint32_t)point, polygon};
            break;
        }
        }
    }
    return 1;
}

// ---- surfaces, tags and clips ----

LwoSurface DefaultSurface(const char* name)
{
    LwoSurface s = {};
    s.name = name;
    s.nameLength = (uint32_t)strlen(name);
    s.textureClip = -1;
    s.diffuse = 1.0f;
    s.reflectionClip = -1;
    s.index2[0] = s.index2[1] = -1;
    s.smoothCos = DEFAULT_SMOOTH_COS;
    s.vertexColourMap = -1;
    s.vertexColourIntensity = 1.0f;
    s.textureSize = {1, 1, 1};
    return s;
}

int ReadTags(Parser* p, ByteReader* r)
{
    LwoObject* o = p->object;
    while (r->left > 0) {
        const char* tag = S0(r);
        if (!tag) return Fail(p, "TAGS: string runs past the chunk");
        if (!Reserve(&o->tags, &p->tagCapacity, (uint64_t)o->tagCount + 1) ||
            !Reserve(&o->surfaces, &p->surfaceCapacity, (uint64_t)o->surfaceCount + 1))
            return OutOfMemory(p);
        char* copy = CopyText(tag);
        if (!copy) return OutOfMemory(p);
        o->tags[o->tagCount++] = copy;
        o->surfaces[o->surfaceCount++] = DefaultSurface(copy);
    }
    return 1;
}

int AddClip(Parser* p, int32_t index, LwoClip** out)
{
    LwoObject* o = p->object;
    if (!Reserve(&o->clips, &p->clipCapacity, (uint64_t)o->clipCount + 1)) return OutOfMemory(p);
    LwoClip* c = &o->clips[o->clipCount++];
    *c = LwoClip{};
    c->index = index;
    *out = c;
    return 1;
}

int ReadClip(Parser* p, ByteReader* r)
{
    LwoClip* clip;
    const uint32_t index = U4(r);
    if (r->overrun) return Fail(p, "CLIP: too short");
    if (!AddClip(p, (int32_t)index, &clip)) return 0;
    uint32_t id;
    ByteReader sub;
    while (SubChunk(r, &id, &sub)) {
        if (id == ID_STIL) {
            const char* name = S0(&sub);
            if (!name) return Fail(p, "STIL: name runs past the sub-chunk");
            Mem_Free(clip->still);
            clip->still = CopyText(AfterSeparator(name));
            if (!clip->still) return OutOfMemory(p);
        } else if (id == ID_ISEQ) {
            clip->digits = ByteReader_U8(&sub);
            clip->flags = ByteReader_U8(&sub);
            U2(&sub);  // offset
            U2(&sub);  // reserved
            clip->first = (int16_t)U2(&sub);
            clip->last = (int16_t)U2(&sub);
            const char* prefix = S0(&sub);
            const char* suffix = S0(&sub);
            if (sub.overrun || !prefix || !suffix) return Fail(p, "ISEQ: runs past the sub-chunk");
            Mem_Free(clip->prefix);
            Mem_Free(clip->suffix);
            clip->prefix = CopyText(AfterSeparator(prefix));
            clip->suffix = CopyText(suffix);
            if (!clip->prefix || !clip->suffix) return OutOfMemory(p);
        }
    }
    if (r->overrun) return Fail(p, "CLIP: sub-chunk runs past the chunk");
    return 1;
}

LwoBlock* AddBlock(Parser* p, LwoSurface* s, uint32_t channel)
{
    const uint32_t n = s->blockCount + 1;
    LwoBlock* blocks = (LwoBlock*)Mem_Realloc(s->blocks, 16, n * sizeof(LwoBlock));
    if (Mem_GetSize(blocks) < n * sizeof(LwoBlock)) {
        OutOfMemory(p);
        return nullptr;
    }
    s->blocks = blocks;
    LwoBlock* b = &blocks[s->blockCount++];
    *b = LwoBlock{channel, 0, {1, 1, 1}, {0, 0, 0}, -1, -1};
    return b;
}

Vec3 ReadVec3(ByteReader* r)
{
    Vec3 v;
    v.x = F4(r);
    v.y = F4(r);
    v.z = F4(r);
    return v;
}

int ReadBlock(Parser* p, uint32_t surface, ByteReader* r)
{
    LwoSurface* s = &p->object->surfaces[surface];
    LwoBlock* block = AddBlock(p, s, 0);
    if (!block) return 0;
    const int32_t blockIndex = (int32_t)s->blockCount - 1;
    uint32_t id;
    ByteReader sub;
    while (SubChunk(r, &id, &sub)) {
        if (id == ID_IMAP || id == ID_PROC || id == ID_GRAD || id == ID_SHDR) {
            if (!S0(&sub)) return Fail(p, "BLOK: ordinal runs past the header");
            uint32_t hid;
            ByteReader h;
            while (SubChunk(&sub, &hid, &h))
                if (hid == ID_CHAN) block->channel = U4(&h);
        } else if (id == ID_TMAP) {
            uint32_t tid;
            ByteReader t;
            while (SubChunk(&sub, &tid, &t)) {
                if (tid == ID_CNTR) block->centre = ReadVec3(&t);
                if (tid == ID_SIZE) block->size = ReadVec3(&t);
                if (t.overrun) return Fail(p, "TMAP: vector runs past its sub-chunk");
            }
        } else if (id == ID_AXIS) {
            const uint16_t axis = U2(&sub);
            block->axisFlags = axis == 0 ? LWO_AXIS_X : axis == 1 ? LWO_AXIS_Y : axis == 2 ? LWO_AXIS_Z : 0;
        } else if (id == ID_IMAG) {
            block->clip = (int32_t)VX(&sub) - 1;
        } else if (id == ID_VMAP) {
            const char* name = S0(&sub);
            if (!name) return Fail(p, "BLOK: VMAP name runs past its sub-chunk");
            if (!AddPending(p, surface, blockIndex, name)) return 0;
        }
        if (sub.overrun) return Fail(p, "BLOK: sub-chunk too short");
    }
    if (r->overrun) return Fail(p, "BLOK: sub-chunk runs past the block");
    if (block->channel == ID_COLR && s->textureClip < 0) s->textureClip = block->clip;
    return 1;
}

// The version-1 colour texture: one block of channel COLR, made on first use.
LwoBlock* ColourBlock(Parser* p, LwoSurface* s)
{
    for (uint32_t i = 0; i < s->blockCount; i++)
        if (s->blocks[i].channel == ID_COLR) return &s->blocks[i];
    return AddBlock(p, s, ID_COLR);
}

// Version-1 images are named in the surface: each becomes a still clip.
int32_t StillClip(Parser* p, const char* name)
{
    if (strcmp(name, "(none)") == 0 || !name[0]) return -1;
    LwoClip* clip;
    if (!AddClip(p, (int32_t)p->object->clipCount + 1, &clip)) return -2;
    clip->still = CopyText(AfterSeparator(name));
    if (!clip->still) {
        OutOfMemory(p);
        return -2;
    }
    return (int32_t)p->object->clipCount - 1;
}

int ReadSurface(Parser* p, ByteReader* r)
{
    LwoObject* o = p->object;
    const char* name = S0(r);
    if (!name) return Fail(p, "SURF: name runs past the chunk");
    if (o->version == 2 && !S0(r)) return Fail(p, "SURF: source name runs past the chunk");
    int32_t index = -1;
    for (uint32_t i = 0; i < o->surfaceCount && index < 0; i++)
        if (strcmp(o->surfaces[i].name, name) == 0) index = (int32_t)i;
    if (index < 0) return 1;  // a surface no tag names: nothing uses it
    const uint32_t surface = (uint32_t)index;
    uint32_t id;
    ByteReader sub;
    while (SubChunk(r, &id, &sub)) {
        LwoSurface* s = &o->surfaces[surface];
        if (o->version == 1) {
            switch (id) {
            case ID_COLR:
                for (int c = 0; c < 3; c++) s->colour[c] = ByteReader_U8(&sub) / 255.0f;
                break;
            case ID_DIFF: s->diffuse = U2(&sub) / 256.0f; break;
            case ID_LUMI: s->luminosity = U2(&sub) / 256.0f; break;
            case ID_SPEC: s->specular = U2(&sub) / 256.0f; break;
            case ID_REFL: s->reflection = U2(&sub) / 256.0f; break;
            case ID_TRAN: s->transparency = U2(&sub) / 256.0f; break;
            case ID_VDIF: s->diffuse = F4(&sub); break;
            case ID_VLUM: s->luminosity = F4(&sub); break;
            case ID_VSPC: s->specular = F4(&sub); break;
            case ID_VRFL: s->reflection = F4(&sub); break;
            case ID_VTRN: s->transparency = F4(&sub); break;
            case ID_FLAG: s->flags = U2(&sub); break;
            case ID_SMAN: s->smoothCos = std::cos(F4(&sub)); break;
            case ID_CTEX: {
                const char* type = S0(&sub);
                if (!type) return Fail(p, "CTEX: name runs past its sub-chunk");
                if (!ColourBlock(p, s)) return 0;
                break;
            }
            case ID_TIMG:
            case ID_RIMG: {
                const char* image = S0(&sub);
                if (!image) return Fail(p, "SURF: image name runs past its sub-chunk");
                const int32_t clip = StillClip(p, image);
                if (clip == -2) return 0;
                s = &o->surfaces[surface];
                if (id == ID_RIMG) {
                    s->reflectionClip = clip;
                } else {
                    LwoBlock* b = ColourBlock(p, s);
                    if (!b) return 0;
                    b->clip = clip;
                    s->textureClip = clip;
                }
                break;
            }
            case ID_TCTR:
            case ID_TSIZ:
            case ID_TFLG: {
                LwoBlock* b = ColourBlock(p, s);
                if (!b) return 0;
                if (id == ID_TCTR) b->centre = s->textureCentre = ReadVec3(&sub);
                if (id == ID_TSIZ) b->size = s->textureSize = ReadVec3(&sub);
                if (id == ID_TFLG) b->axisFlags = U2(&sub) & (LWO_AXIS_X | LWO_AXIS_Y | LWO_AXIS_Z);
                break;
            }
            default: break;
            }
        } else {
            switch (id) {
            case ID_COLR:
                for (int c = 0; c < 3; c++) s->colour[c] = F4(&sub);
                break;
            case ID_DIFF: s->diffuse = F4(&sub); break;
            case ID_LUMI: s->luminosity = F4(&sub); break;
            case ID_SPEC: s->specular = F4(&sub); break;
            case ID_REFL: s->reflection = F4(&sub); break;
            case ID_TRAN: s->transparency = F4(&sub); break;
            case ID_BUMP: s->bump = F4(&sub); break;
            case ID_SIDE: s->sides = U2(&sub); break;
            case ID_SMAN: s->smoothCos = std::cos(F4(&sub)); break;
            case ID_RIMG: s->reflectionClip = (int32_t)VX(&sub) - 1; break;
            case ID_VCOL: {
                s->vertexColourIntensity = F4(&sub);
                VX(&sub);
                U4(&sub);
                const char* map = S0(&sub);
                if (!map) return Fail(p, "VCOL: map name runs past its sub-chunk");
                if (!AddPending(p, surface, -1, map)) return 0;
                break;
            }
            case ID_BLOK:
                if (!ReadBlock(p, surface, &sub)) return 0;
                break;
            default: break;
            }
        }
        if (sub.overrun) return Fail(p, "SURF: sub-chunk too short for its values");
    }
    if (r->overrun) return Fail(p, "SURF: sub-chunk runs past the chunk");
    return 1;
}

// ---- after the file ----

int ResolveReferences(Parser* p)
{
    LwoObject* o = p->object;
    for (uint32_t i = 0; i < o->polygonCount; i++)
        if (o->polygons[i].surface >= (int32_t)o->surfaceCount)
            return Fail(p, "POLS: surface number past the surfaces");
    auto clipOk = [o](int32_t clip) { return clip >= -1 && clip < (int32_t)o->clipCount; };
    for (uint32_t s = 0; s < o->surfaceCount; s++) {
        LwoSurface* surface = &o->surfaces[s];
        if (!clipOk(surface->reflectionClip)) return Fail(p, "RIMG: clip number past the clips");
        if (!clipOk(surface->textureClip)) return Fail(p, "IMAG: clip number past the clips");
        for (uint32_t b = 0; b < surface->blockCount; b++)
            if (!clipOk(surface->blocks[b].clip)) return Fail(p, "IMAG: clip number past the clips");
    }
    for (uint32_t i = 0; i < p->pendingCount; i++) {
        const PendingName& n = p->pending[i];
        LwoSurface* surface = &o->surfaces[n.surface];
        if (n.block < 0)
            surface->vertexColourMap = Lwo_FindVertexMap(o, LWO_MAP_COLOUR, n.name);
        else
            surface->blocks[n.block].texCoordMap = Lwo_FindVertexMap(o, LWO_MAP_TEXCOORD, n.name);
    }
    return 1;
}

uint32_t EntryPoint(const LwoVertexMap* map, LwoMapKind kind, uint32_t i, int32_t* polygon)
{
    switch (kind) {
    case LWO_MAP_TEXCOORD: *polygon = ((LwoTexCoord*)map->entries)[i].polygon; return ((LwoTexCoord*)map->entries)[i].point;
    case LWO_MAP_WEIGHT: *polygon = ((LwoWeight*)map->entries)[i].polygon; return ((LwoWeight*)map->entries)[i].point;
    case LWO_MAP_MORPH: *polygon = -1; return ((LwoMorph*)map->entries)[i].point;
    default: *polygon = ((LwoColour*)map->entries)[i].polygon; return ((LwoColour*)map->entries)[i].point;
    }
}

// Per-point lookup tables of every map: the first per-point entry of each
// point, and a chain of its per-polygon entries in file order.
int IndexMaps(Parser* p)
{
    LwoObject* o = p->object;
    const uint32_t points = o->pointCount ? o->pointCount : 1;
    for (int k = 0; k < LWO_MAP_KINDS; k++) {
        for (uint32_t m = 0; m < o->mapCount[k]; m++) {
            LwoVertexMap* map = &o->maps[k][m];
            map->byPoint = (int32_t*)Mem_Alloc(points * sizeof(int32_t), 8);
            map->polygonHead = (int32_t*)Mem_Alloc(points * sizeof(int32_t), 8);
            map->nextOfPoint = (int32_t*)Mem_Alloc((map->count ? map->count : 1) * sizeof(int32_t), 8);
            if (!map->byPoint || !map->polygonHead || !map->nextOfPoint) return OutOfMemory(p);
            memset(map->byPoint, 0xFF, points * sizeof(int32_t));
            memset(map->polygonHead, 0xFF, points * sizeof(int32_t));
            // Backwards, so that each chain ends up in file order and the
            // first per-point entry wins.
            for (uint32_t i = map->count; i-- > 0;) {
                int32_t polygon;
                const uint32_t point = EntryPoint(map, (LwoMapKind)k, i, &polygon);
                if (polygon < 0) {
                    map->byPoint[point] = (int32_t)i;
                    map->nextOfPoint[i] = -1;
                } else {
                    map->nextOfPoint[i] = map->polygonHead[point];
                    map->polygonHead[point] = (int32_t)i;
                }
            }
        }
    }
    return 1;
}

// The entry of the map for (point, polygon): the polygon's own entry first,
// else the point's; -1 when none.
int32_t FindEntry(const LwoVertexMap* map, LwoMapKind kind, uint32_t point, uint32_t polygon)
{
    if (!map->byPoint) return -1;
    for (int32_t e = map->polygonHead[point]; e >= 0; e = map->nextOfPoint[e]) {
        int32_t entryPolygon;
        EntryPoint(map, kind, (uint32_t)e, &entryPolygon);
        if (entryPolygon == (int32_t)polygon) return e;
    }
    return map->byPoint[point];
}

int HandleChunk(Parser* p, uint32_t id, ByteReader* r, uint32_t size)
{
    LwoObject* o = p->object;
    switch (id) {
    case ID_PNTS: return ReadPoints(p, r, size);
    case ID_POLS: return ReadPolygons(p, r);
    case ID_PTAG: return ReadPolygonTags(p, r);
    case ID_VMAP: return ReadVertexMap(p, r, 0);
    case ID_VMAD: return ReadVertexMap(p, r, 1);
    case ID_BBOX:
        for (float& v : o->boundingBox) v = F4(r);
        return r->overrun ? Fail(p, "BBOX: too short") : 1;
    case ID_TAGS:
    case ID_SRFS: return ReadTags(p, r);
    case ID_SURF: return ReadSurface(p, r);
    case ID_CLIP: return ReadClip(p, r);
    default: return 1;
    }
}

int IsGeometry(uint32_t id)
{
    return id == ID_PNTS || id == ID_POLS || id == ID_PTAG || id == ID_VMAP || id == ID_VMAD || id == ID_BBOX;
}

int IsAlwaysRead(uint32_t id)
{
    return id == ID_LAYR || id == ID_SURF || id == ID_CLIP || id == ID_SRFS || id == ID_TAGS;
}

int ReadChunks(Parser* p, void* file, uint64_t end)
{
    LwoObject* o = p->object;
    uint64_t position = 12;
    uint8_t header[8];
    while (position + 8 <= end) {
        if (File_Read(header, 1, 8, file) != 8) return Fail(p, "chunk header cut short");
        position += 8;
        const uint32_t id = (uint32_t)header[0] << 24 | header[1] << 16 | header[2] << 8 | header[3];
        const uint32_t size = (uint32_t)header[4] << 24 | header[5] << 16 | header[6] << 8 | header[7];
        if (size > end - position) {
            LoadError_Set("%.4s: size %u runs past the end of the file", (const char*)header, size);
            return Fail(p, "");
        }
        uint64_t padded = (uint64_t)size + (size & 1);
        if (padded > end - position) padded = size;

        if (id == ID_LAYR) {
            if (p->stopAtLayer && p->stopSeen) break;
            if (size < 2) return Fail(p, "LAYR: too short");
        }
        const int handled = IsGeometry(id) ? p->current == p->requested : IsAlwaysRead(id);
        if (handled) {
            uint8_t* buffer = (uint8_t*)Mem_Alloc(size ? size : 1, 8);
            if (!buffer) return OutOfMemory(p);
            if (File_Read(buffer, 1, size, file) != size) {
                Mem_Free(buffer);
                return Fail(p, "chunk cut short");
            }
            ByteReader r = ByteReader_Init(buffer, size);
            int ok = 1;
            if (id == ID_LAYR) {
                const uint16_t number = U2(&r);
                if (p->requested != -1) {
                    p->current = o->layerCount;
                    o->layerNumber = number;
                }
                o->layerCount++;
                if (p->stopAtLayer && number == p->stopNumber) {
                    p->stopSeen = 1;
                    p->current = o->layerCount - 1;
                }
                o->firstPoint = o->pointCount;
                o->firstPolygon = o->faceBase = o->polygonCount;
                o->firstIndex = o->indexCount;
                p->skippedPols = 0;
            } else {
                if (IsGeometry(id)) p->geometry = 1;
                ok = HandleChunk(p, id, &r, size);
            }
            Mem_Free(buffer);
            if (!ok || o->error) return 0;
            if (padded > size && File_Seek(file, (long)(padded - size), 1) != 0) return Fail(p, "seek failed");
        } else if (File_Seek(file, (long)padded, 1) != 0) {
            return Fail(p, "seek failed");
        }
        position += padded;
    }
    return 1;
}

void FreeMaps(LwoObject* o)
{
    for (int k = 0; k < LWO_MAP_KINDS; k++) {
        for (uint32_t m = 0; m < o->mapCount[k]; m++) {
            LwoVertexMap* map = &o->maps[k][m];
            Mem_Free(map->name);
            Mem_Free(map->entries);
            Mem_Free(map->byPoint);
            Mem_Free(map->polygonHead);
            Mem_Free(map->nextOfPoint);
        }
        Mem_Free(o->maps[k]);
    }
}

}  // namespace

void Lwo_Free(LwoObject* o)
{
    if (!o) return;
    Mem_Free(o->points);
    Mem_Free(o->polygons);
    Mem_Free(o->indices);
    for (uint32_t s = 0; s < o->surfaceCount; s++) Mem_Free(o->surfaces[s].blocks);
    Mem_Free(o->surfaces);
    for (uint32_t t = 0; t < o->tagCount; t++) Mem_Free(o->tags[t]);
    Mem_Free(o->tags);
    for (uint32_t c = 0; c < o->clipCount; c++) {
        Mem_Free(o->clips[c].still);
        Mem_Free(o->clips[c].prefix);
        Mem_Free(o->clips[c].suffix);
    }
    Mem_Free(o->clips);
    FreeMaps(o);
    Mem_Free(o->folder);
    Mem_Free(o->faceNormals);
    Mem_Free(o->cornerNormals);
    Mem_Free(o);
}

LwoObject* Lwo_Load(const char* path, int32_t* layer, int32_t stopNumber, int32_t stopAtLayer)
{
    LoadError_Clear();
    if (!path) return nullptr;
    char name[1024];
    const size_t length = strlen(path);
    int hasExtension = length >= 4;
    for (size_t i = 0; hasExtension && i < 4; i++)
        hasExtension = (path[length - 4 + i] | 0x20) == ".lwo"[i];
    if (snprintf(name, sizeof name, "%s%s", path, hasExtension ? "" : ".lwo") >= (int)sizeof name) {
        LoadError_Set("path too long");
        return nullptr;
    }
    void* file = File_Open(name, "rb");
    if (!file) {
        LoadError_Set("cannot open %s", name);
        return nullptr;
    }
    long fileSize = -1;
    if (File_Seek(file, 0, 2) == 0) fileSize = File_Tell(file);
    File_Seek(file, 0, 0);
    uint8_t header[12];
    LwoObject* o = nullptr;
    if (fileSize < 12 || File_Read(header, 1, 12, file) != 12) {
        LoadError_Set("%s: shorter than a FORM header", name);
    } else {
        ByteReader h = ByteReader_Init(header, 12);
        const uint32_t form = U4(&h), size = U4(&h), type = U4(&h);
        if (form != ID_FORM) {
            LoadError_Set("%s: not an IFF FORM", name);
        } else if (type != ID_LWO2 && type != ID_LWOB) {
            LoadError_Set("%s: FORM type %.4s is neither LWOB nor LWO2", name, (const char*)header + 8);
        } else if (size < 4 || (uint64_t)size + 8 > (uint64_t)fileSize) {
            LoadError_Set("%s: FORM size %u does not fit the file of %ld bytes", name, size, fileSize);
        } else {
            o = (LwoObject*)Mem_Calloc(sizeof(LwoObject), 16);
            if (!o) LoadError_Set("out of memory");
        }
        if (o) {
            o->version = type == ID_LWO2 ? 2 : 1;
            o->layer = layer ? *layer : -1;
            Parser p = {};
            p.object = o;
            p.requested = o->layer;
            p.current = -1;
            p.stopNumber = stopNumber;
            p.stopAtLayer = stopAtLayer;
            int ok = ReadChunks(&p, file, (uint64_t)size + 8);
            if (ok && !p.geometry) ok = Fail(&p, "no geometry chunk in the requested layer");
            if (ok) ok = ResolveReferences(&p) && IndexMaps(&p);
            if (layer) *layer = p.stopAtLayer ? (p.stopSeen ? p.current : -2) : p.current;
            for (uint32_t i = 0; i < p.pendingCount; i++) Mem_Free(p.pending[i].name);
            Mem_Free(p.pending);
            if (ok && !o->error) {
                const char* slash = strrchr(name, '\\');
                o->folder = (char*)Mem_Calloc(slash ? (size_t)(slash - name) + 1 : 1, 8);
                if (o->folder) {
                    if (slash) memcpy(o->folder, name, (size_t)(slash - name));
                } else {
                    ok = OutOfMemory(&p);
                }
            }
            if (!ok || o->error) {
                if (!LoadError_Get()[0]) LoadError_Set("%s: malformed", name);
                Lwo_Free(o);
                o = nullptr;
            }
        }
    }
    File_Close(file);
    return o;
}

LwoObject* Lwo_Open(const char* path, int32_t layer) { return Lwo_Load(path, &layer, 0, 0); }

int Lwo_FindLayer(const char* path, int32_t number, int32_t* index)
{
    // A layer index that no LAYR chunk gets: no geometry is read, only the
    // layer headers are walked.
    int32_t layer = -3;
    LwoObject* o = Lwo_Load(path, &layer, number, 1);
    Lwo_Free(o);
    *index = layer >= 0 ? layer : -2;
    return layer >= 0;
}

// ---- queries ----

void Lwo_GetCornerPosition(const LwoObject* o, uint32_t polygon, uint32_t corner, Vec3* out)
{
    *out = o->points[o->indices[o->polygons[polygon].firstIndex + corner]];
}

void Lwo_GetCornerNormal(const LwoObject* o, uint32_t polygon, uint32_t corner, Vec3* out)
{
    if (o->cornerNormals)
        *out = o->cornerNormals[o->polygons[polygon].firstIndex + corner];
    else if (o->faceNormals)
        *out = o->faceNormals[polygon];
    else
        *out = {0, 0, 0};
}

uint32_t Lwo_GetTexCoordSetCount(const LwoObject* o) { return o->mapCount[LWO_MAP_TEXCOORD]; }

int Lwo_GetTexCoord(const LwoObject* o, uint32_t set, uint32_t polygon, uint32_t point, float* u, float* v)
{
    if (set >= o->mapCount[LWO_MAP_TEXCOORD] || point >= o->pointCount) return 0;
    const LwoVertexMap* map = &o->maps[LWO_MAP_TEXCOORD][set];
    const int32_t e = FindEntry(map, LWO_MAP_TEXCOORD, point, polygon);
    if (e < 0) return 0;
    *u = ((const LwoTexCoord*)map->entries)[e].u;
    *v = ((const LwoTexCoord*)map->entries)[e].v;
    return 1;
}

int Lwo_GetVertexColour(const LwoObject* o, uint32_t polygon, uint32_t corner, uint32_t* colour)
{
    const int32_t surface = o->polygons[polygon].surface;
    if (surface < 0) return 0;
    const LwoSurface* s = &o->surfaces[surface];
    if (s->vertexColourMap < 0) return 0;
    const LwoVertexMap* map = &o->maps[LWO_MAP_COLOUR][s->vertexColourMap];
    const uint32_t point = o->indices[o->polygons[polygon].firstIndex + corner];
    const int32_t e = FindEntry(map, LWO_MAP_COLOUR, point, polygon);
    if (e < 0) return 0;
    const uint32_t c = ((const LwoColour*)map->entries)[e].colour;
    // The intensity brightens or darkens; the alpha stays as painted.
    const float f = s->vertexColourIntensity;
    *colour = Colour_FromFloats(Colour_GetA(c) / 255.0f, Colour_GetR(c) / 255.0f * f, Colour_GetG(c) / 255.0f * f,
                                Colour_GetB(c) / 255.0f * f);
    return 1;
}

int Lwo_GetPointWeight(const LwoObject* o, uint32_t map, uint32_t polygon, uint32_t point, float* weight)
{
    if (map >= o->mapCount[LWO_MAP_WEIGHT] || point >= o->pointCount) return 0;
    const LwoVertexMap* m = &o->maps[LWO_MAP_WEIGHT][map];
    const int32_t e = FindEntry(m, LWO_MAP_WEIGHT, point, polygon);
    if (e < 0) return 0;
    *weight = ((const LwoWeight*)m->entries)[e].weight;
    return 1;
}

float Lwo_GetWeight(const LwoObject* o, uint32_t map, uint32_t polygon, uint32_t corner)
{
    float w = 0.0f;
    Lwo_GetPointWeight(o, map, polygon, o->indices[o->polygons[polygon].firstIndex + corner], &w);
    return w;
}

int32_t Lwo_FindPoint(const LwoObject* o, const Vec3* position)
{
    for (uint32_t i = 0; i < o->pointCount; i++) {
        const Vec3& q = o->points[i];
        if (std::fabs(q.x - position->x) < FIND_POINT_TOLERANCE && std::fabs(q.y - position->y) < FIND_POINT_TOLERANCE &&
            std::fabs(q.z - position->z) < FIND_POINT_TOLERANCE)
            return (int32_t)i;
    }
    return -1;
}

int Lwo_FindPolygonWithPoint(const LwoObject* o, uint32_t point, uint32_t* polygon, uint32_t* corner)
{
    for (uint32_t i = 0; i < o->polygonCount; i++)
        for (uint32_t k = 0; k < o->polygons[i].count; k++)
            if (o->indices[o->polygons[i].firstIndex + k] == point) {
                *polygon = i;
                *corner = k;
                return 1;
            }
    return 0;
}

int Lwo_PlanarTexCoord(const LwoObject* o, uint32_t surface, uint32_t channel, const Vec3* point, float* u, float* v)
{
    if (surface >= o->surfaceCount) return 0;
    const LwoSurface* s = &o->surfaces[surface];
    for (uint32_t b = 0; b < s->blockCount; b++) {
        const LwoBlock* block = &s->blocks[b];
        if (block->channel != channel) continue;
        const auto along = [](float p, float c, float size) { return size != 0.0f ? (p - c) / size : 0.0f; };
        const float px = along(point->x, block->centre.x, block->size.x);
        const float py = along(point->y, block->centre.y, block->size.y);
        const float pz = along(point->z, block->centre.z, block->size.z);
        if (block->axisFlags & LWO_AXIS_X) {
            *u = pz + 0.5f;
            *v = 1.0f - (py + 0.5f);
        } else if (block->axisFlags & LWO_AXIS_Y) {
            *u = px + 0.5f;
            *v = 1.0f - (pz + 0.5f);
        } else if (block->axisFlags & LWO_AXIS_Z) {
            *u = px + 0.5f;
            *v = 1.0f - (py + 0.5f);
        } else {
            return 0;
        }
        return 1;
    }
    return 0;
}

int32_t Lwo_FindSurface(const LwoObject* o, const char* name)
{
    for (uint32_t i = 0; i < o->surfaceCount; i++)
        if (strcmp(o->surfaces[i].name, name) == 0) return (int32_t)i;
    return -1;
}

int32_t Lwo_FindVertexMap(const LwoObject* o, LwoMapKind kind, const char* name)
{
    for (uint32_t i = 0; i < o->mapCount[kind]; i++)
        if (strcmp(o->maps[kind][i].name, name) == 0) return (int32_t)i;
    return -1;
}

uint32_t Lwo_GetSurfaceClipCount(const LwoObject* o, uint32_t surface)
{
    if (surface >= o->surfaceCount || o->surfaces[surface].textureClip < 0) return 0;
    const LwoClip* c = &o->clips[o->surfaces[surface].textureClip];
    if (c->still) return 1;
    if (!c->prefix) return 0;
    return c->last >= c->first ? (uint32_t)(c->last - c->first + 1) : 0;
}

namespace {

int ClipImageName(const LwoClip* c, uint32_t frame, char* name, uint32_t size)
{
    if (c->still) {
        snprintf(name, size, "%s", c->still);
        return 1;
    }
    if (!c->prefix) return 0;
    char number[16];
    snprintf(number, sizeof number, "%08d", (int)(c->first + (int32_t)frame));
    const size_t digits = c->digits > 8 ? 8 : c->digits;
    const size_t numberLength = strlen(number);
    snprintf(name, size, "%s%s%s", c->prefix, number + (numberLength - (digits < numberLength ? digits : numberLength)),
             c->suffix ? c->suffix : "");
    return 1;
}

}  // namespace

int Lwo_GetSurfaceImageName(const LwoObject* o, uint32_t surface, uint32_t frame, char* name, uint32_t size)
{
    name[0] = 0;
    if (surface >= o->surfaceCount || o->surfaces[surface].textureClip < 0) return 0;
    return ClipImageName(&o->clips[o->surfaces[surface].textureClip], frame, name, size);
}

int Lwo_GetSurfaceReflection(const LwoObject* o, uint32_t surface, char* name, uint32_t size, float* value)
{
    name[0] = 0;
    *value = 0.0f;
    if (surface >= o->surfaceCount) return 0;
    const LwoSurface* s = &o->surfaces[surface];
    *value = s->reflection;
    if (s->reflectionClip >= 0) ClipImageName(&o->clips[s->reflectionClip], 0, name, size);
    return s->reflection > 0.0f && name[0] != 0;
}

int32_t Lwo_GetSurfaceTexCoordMap(const LwoObject* o, uint32_t surface)
{
    if (surface >= o->surfaceCount) return -1;
    const LwoSurface* s = &o->surfaces[surface];
    for (uint32_t b = 0; b < s->blockCount; b++)
        if (s->blocks[b].channel == ID_COLR && s->blocks[b].texCoordMap >= 0) return s->blocks[b].texCoordMap;
    return -1;
}
