#include "engine/mesh.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/binfile.h"
#include "app/cache.h"
#include "app/file.h"
#include "app/namecache.h"
#include "common/memory.h"
#include "engine/loaderror.h"
#include "engine/lwo.h"
#include "engine/materialanim.h"
#include "engine/objectworld.h"
#include "engine/renderobj.h"
#include "engine/view.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/worldties.h"

namespace {

constexpr int PATH_MAX_CHARS = 260;
constexpr uint32_t MAX_NAMED_MATERIALS = 256;
constexpr uint32_t FILTER_PNG = 2, FILTER_OTHER = 6;
const char* const PLATFORMS[] = {"ps2", "pc", "xbox", "ngc"};
const char* const PLATFORM = "pc";

struct MeshModule {
    int perObjectDictionaries;
    int fog;                    // loads add RENDEROBJ_FOG (Mesh_SetFog)
    float envOverride;          // negative: keep the cached coefficient
    Frame* envFrame;            // shared by the environment maps
    uint32_t loadFlags;         // of the load in progress
    char folder[PATH_MAX_CHARS];  // object folder of the load in progress ("" none)
};

MeshModule g_mesh = {0, 0, -1.0f, nullptr, 0, {}};

// ---- names ----

const char* FilePart(const char* path)
{
    const char* s = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/') s = p + 1;
    return s;
}

const char* Extension(const char* name)
{
    const char* dot = strrchr(FilePart(name), '.');
    return dot ? dot + 1 : nullptr;
}

int EndsWithNoCase(const char* text, const char* end)
{
    const size_t n = strlen(text), m = strlen(end);
    if (m > n) return 0;
    for (size_t i = 0; i < m; i++) {
        char a = text[n - m + i], b = end[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return 0;
    }
    return 1;
}

// name without its folder and without ".psd" (textures are found under
// their other extensions).
void TextureFile(const char* name, char* out, size_t size)
{
    snprintf(out, size, "%s", FilePart(name));
    if (EndsWithNoCase(out, ".psd")) out[strlen(out) - 4] = 0;
}

// The folder of a texture name, or the object's folder for a bare name.
void TextureFolder(const char* name, char* out, size_t size)
{
    const char* file = FilePart(name);
    if (file != name)
        snprintf(out, size, "%.*s", (int)(file - name - 1), name);
    else
        snprintf(out, size, "%s", g_mesh.folder);
}

// The cache name of a texture file, in the platform's folder of the cache
// when platform is given.
constexpr size_t TEXTURE_CACHE_NAME = CACHE_NAME_MAX + 16;

void TextureCacheName(const char* file, const char* extension, const char* platform, char* out)
{
    char base[PATH_MAX_CHARS];
    snprintf(base, sizeof base, "%s", file);
    char* dot = strrchr(base, '.');
    if (dot) *dot = 0;
    char name[CACHE_NAME_MAX];
    char source[PATH_MAX_CHARS + 16];
    snprintf(source, sizeof source, "%s.%.8s", base, extension);
    Cache_NameFromSource(name, source, 0, "%s", extension);
    if (!platform) {
        snprintf(out, TEXTURE_CACHE_NAME, "%s", name);
        return;
    }
    const char* file2 = FilePart(name);
    snprintf(out, TEXTURE_CACHE_NAME, "%.*s%.8s\\%.*s", (int)(file2 - name), name, platform, 32, file2);
}

// ---- files ----

int CopyFile(const char* from, const char* to)
{
    const long size = File_GetSize(from, 1);
    void* in = size > 0 ? File_Open(from, "rb") : nullptr;
    if (!in) return 0;
    uint8_t* bytes = (uint8_t*)Mem_Alloc((size_t)size, 8);
    int ok = bytes && File_Read(bytes, 1, (size_t)size, in) == (size_t)size;
    File_Close(in);
    Stream* out = ok ? BinFile_Open(to, "w") : nullptr;
    ok = out && Stream_Write(out, bytes, (uint32_t)size) != nullptr;
    if (out) ok = BinFile_Close(out) && ok;
    Mem_Free(bytes);
    return ok;
}

// Copies the texture's source files into the cache: the name as it is and
// with the extension dds, from the texture folder and from each platform
// folder in it. Missing sources are passed over.
void CopyTextureToCache(const char* name)
{
    char folder[PATH_MAX_CHARS], file[PATH_MAX_CHARS];
    TextureFolder(name, folder, sizeof folder);
    TextureFile(name, file, sizeof file);
    char dds[PATH_MAX_CHARS];
    snprintf(dds, sizeof dds, "%s", file);
    if (char* dot = strrchr(dds, '.')) *dot = 0;
    strncat(dds, ".dds", sizeof dds - strlen(dds) - 1);
    for (const char* form : {(const char*)file, (const char*)dds}) {
        const char* extension = Extension(form);
        if (!extension) continue;
        for (int p = -1; p < 4; p++) {
            char source[PATH_MAX_CHARS * 2], target[TEXTURE_CACHE_NAME];
            if (p < 0)
                snprintf(source, sizeof source, "%s%s%s", folder, folder[0] ? "\\" : "", form);
            else
                snprintf(source, sizeof source, "%s%s%s\\%s", folder, folder[0] ? "\\" : "", PLATFORMS[p], form);
            if (!File_Exists(source)) continue;
            TextureCacheName(form, extension, p < 0 ? nullptr : PLATFORMS[p], target);
            CopyFile(source, target);
        }
    }
}

void SetFilter(Texture* texture, const char* name)
{
    const uint32_t mode = strstr(name, ".png") || strstr(name, ".PNG") ? FILTER_PNG : FILTER_OTHER;
    texture->filterAddressing = (texture->filterAddressing & ~0xFFu) | mode;
}

// The texture's file in the object's folder under the platform folder, then
// in the platform folder alone; each once as named and once without its
// extension (the reader then finds the file's own).
Texture* ReadFromSource(const char* name, const char* mask)
{
    char folder[PATH_MAX_CHARS], file[PATH_MAX_CHARS], bare[PATH_MAX_CHARS];
    TextureFolder(name, folder, sizeof folder);
    TextureFile(name, file, sizeof file);
    snprintf(bare, sizeof bare, "%s", file);
    if (char* dot = strrchr(bare, '.')) *dot = 0;
    const char* forms[2] = {file, strcmp(bare, file) ? bare : nullptr};
    for (const char* form : forms) {
        if (!form) continue;
        char candidate[PATH_MAX_CHARS * 2];
        if (folder[0]) {
            snprintf(candidate, sizeof candidate, "%s\\%s\\%s", folder, PLATFORM, form);
            if (Texture* t = Texture_DefaultRead(candidate, mask)) return t;
        }
        snprintf(candidate, sizeof candidate, "%s\\%s", PLATFORM, form);
        if (Texture* t = Texture_DefaultRead(candidate, mask)) return t;
    }
    return nullptr;
}

Texture* Named(Texture* t, const char* name)
{
    if (t) Texture_SetName(t, FilePart(name));
    return t;
}

// Texture reader during a fresh build: copy into the cache, then read the
// source.
Texture* ReadFresh(const char* name, const char* mask)
{
    CopyTextureToCache(name);
    return Named(ReadFromSource(name, mask), name);
}

// Texture reader for cached meshes: the cache's copy (platform folder first),
// then the source.
Texture* ReadCached(const char* name, const char* mask)
{
    char file[PATH_MAX_CHARS];
    TextureFile(name, file, sizeof file);
    const char* own = Extension(file);
    const char* extensions[] = {own, own ? nullptr : "png", own ? nullptr : "bmp", own ? nullptr : "dds"};
    for (const char* extension : extensions) {
        if (!extension) continue;
        for (const char* platform : {PLATFORM, (const char*)nullptr}) {
            char cached[TEXTURE_CACHE_NAME];
            TextureCacheName(file, extension, platform, cached);
            if (!File_Exists(cached)) continue;
            if (Texture* t = Texture_DefaultRead(cached, mask)) return Named(t, name);
        }
    }
    return Named(ReadFromSource(name, mask), name);
}

// A texture by its material name, through the current reader; the filter
// follows the name (2 for ".png", 6 otherwise).
Texture* ReadTexture(const char* name)
{
    // Texture names hold 31 characters: look up and read by the file part.
    Texture* t = Texture_Read(FilePart(name), nullptr);
    if (!t) {
        // A name with a folder of its own (environment maps, sequence
        // frames) is read with that folder.
        char saved[PATH_MAX_CHARS];
        snprintf(saved, sizeof saved, "%s", g_mesh.folder);
        TextureFolder(name, g_mesh.folder, sizeof g_mesh.folder);
        TextureReadFunc reader = Texture_GetReadCallback();
        t = reader ? reader(name, nullptr) : nullptr;
        if (t && TextureDictionary_GetCurrent()) TextureDictionary_AddTexture(TextureDictionary_GetCurrent(), t);
        snprintf(g_mesh.folder, sizeof g_mesh.folder, "%s", saved);
    }
    if (t) SetFilter(t, name);
    return t;
}

// ---- material set-up ----

// "ENV:<coefficient>|<texture>": a fresh build gives the material the
// environment-map effect on the shared environment frame with frame-buffer
// alpha; a cached mesh has the effect from its cache and gets the texture
// and frame again (the coefficient only when an override is set).
void SetUpEnvironment(RenderObj* o, Material* material, const char* name, int fresh)
{
    const char* bar = strchr(name, '|');
    if (!bar || o->envCount >= RENDEROBJ_MAX_ENV_TEXTURES) return;
    const float coefficient = (float)strtod(name + 4, nullptr);
    Texture* texture = ReadTexture(bar + 1);
    if (!texture) return;
    o->envTextures[o->envCount++] = texture;
    if (fresh) {
        MatFX_SetMaterialEffects(material, MATFX_ENVMAP);
        MatFX_SetEnvMap(material, texture, g_mesh.envFrame, 1, coefficient);
        MatFX_EnableAtomicEffects(o->atomic);
    } else {
        MatFX_SetEnvMapTexture(material, texture);
        MatFX_SetEnvMapFrame(material, g_mesh.envFrame);
        if (g_mesh.envOverride >= 0.0f) MatFX_SetEnvMapCoefficient(material, g_mesh.envOverride);
    }
}

void SetUpSequence(RenderObj* o, Material* material, const char* listPath)
{
    void* file = File_Open(listPath, "r");
    if (!file) return;
    TexSeq* seq = TexSeq_Create(material);
    char line[PATH_MAX_CHARS + 2];
    char first[PATH_MAX_CHARS + 8] = "";
    while (seq && File_ReadLine(line, sizeof line, file)) {
        size_t n = strlen(line);
        while (n && (line[n - 1] == '\r' || line[n - 1] == ' ')) line[--n] = 0;
        if (!n) continue;
        char frame[PATH_MAX_CHARS + 8];
        snprintf(frame, sizeof frame, "%s%s", line, Extension(line) ? "" : ".bmp");
        Texture* t = ReadTexture(frame);
        if (!t) continue;  // a frame that cannot be read is skipped
        t->filterAddressing = (t->filterAddressing & ~0xFFu) | FILTER_OTHER;
        if (!first[0]) snprintf(first, sizeof first, "%s", frame);
        TexSeq_AddFrame(seq, t);
    }
    File_Close(file);
    if (!seq) return;
    if (EndsWithNoCase(first, ".bmp") || EndsWithNoCase(first, ".png")) first[strlen(first) - 4] = 0;
    if (first[0]) TexSeq_Load(seq, first);
    seq->next = o->sequences;
    o->sequences = seq;
}

struct SetUp {
    RenderObj* object;
    int fresh;
};

Material* SetUpMaterial(Material* m, void* data)
{
    const SetUp* s = (const SetUp*)data;
    const char* name = RenderObj_GetMaterialName(m);
    if (!name) return m;
    if (strncmp(name, "ENV:", 4) == 0) SetUpEnvironment(s->object, m, name, s->fresh);
    if (strncmp(name, "SEQ:", 4) == 0) SetUpSequence(s->object, m, name + 4);
    return m;
}

Material* SetAlpha254(Material* m, void*)
{
    m->colour[3] = 254;
    return m;
}

// ---- building from the object ----

struct SurfaceBuild {
    Material* material;
    int env;
};

void WriteSequenceList(const LwoObject* lwo, const char* base, uint32_t surface, uint32_t frames, char* listName)
{
    char source[PATH_MAX_CHARS + 16];
    snprintf(source, sizeof source, "%s%u", base, surface);
    Cache_NameFromSource(listName, source, 0, nullptr);
    Stream* out = BinFile_Open(listName, "w");
    if (!out) return;
    for (uint32_t k = 0; k < frames; k++) {
        char image[PATH_MAX_CHARS], line[PATH_MAX_CHARS * 2];
        Lwo_GetSurfaceImageName(lwo, surface, k, image, sizeof image);
        const int n = snprintf(line, sizeof line, "%s%s%s%s\n", lwo->folder, lwo->folder[0] ? "\\" : "", image,
                               Extension(image) ? "" : ".png");
        Stream_Write(out, line, (uint32_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
    }
    BinFile_Close(out);
}

// The materials of the surfaces: textured white, or the surface colour;
// special names for environment maps and sequences.
int BuildMaterials(const LwoObject* lwo, const char* base, SurfaceBuild* out)
{
    for (uint32_t s = 0; s < lwo->surfaceCount; s++) {
        const LwoSurface& surface = lwo->surfaces[s];
        Material* m = Material_Create();
        if (!m) return 0;
        out[s].material = m;
        const uint32_t images = Lwo_GetSurfaceClipCount(lwo, s);
        char name[PATH_MAX_CHARS];
        if (images >= 2) {
            char list[CACHE_NAME_MAX], special[CACHE_NAME_MAX + 8];
            WriteSequenceList(lwo, base, s, images, list);
            snprintf(special, sizeof special, "SEQ:%s", list);
            RenderObj_SetMaterialName(m, special);
        } else if (images == 1 && Lwo_GetSurfaceImageName(lwo, s, 0, name, sizeof name)) {
            Texture* t = ReadTexture(name);
            if (t) {
                Material_SetTexture(m, t);
                Texture_Destroy(t);
            }
            m->colour[0] = m->colour[1] = m->colour[2] = m->colour[3] = 255;
        } else {
            for (int c = 0; c < 3; c++) {
                const float v = surface.colour[c];
                m->colour[c] = (uint8_t)(v <= 0.0f ? 0 : v >= 1.0f ? 255 : (int)(v * 255.0f));
            }
            m->colour[3] = 255;
        }
        float reflection;
        if (Lwo_GetSurfaceReflection(lwo, s, name, sizeof name, &reflection)) {
            char special[PATH_MAX_CHARS * 2];
            snprintf(special, sizeof special, "ENV:%.2f|%s%s%s", reflection, lwo->folder, lwo->folder[0] ? "\\" : "",
                     name);
            RenderObj_SetMaterialName(m, special);
            out[s].env = 1;
        }
    }
    return 1;
}

int IsWhite(const LwoSurface& s) { return s.colour[0] >= 1.0f && s.colour[1] >= 1.0f && s.colour[2] >= 1.0f; }

RenderObj* BuildFromObject(LwoObject* lwo, const char* base, uint32_t objectFlags, void* builder)
{
    const uint32_t triangles = lwo->polygonCount;
    if (triangles == 0) {
        LoadError_Set("%s: no triangles to build", base);
        return nullptr;
    }
    const int twoSided = (objectFlags & MESH_TWO_SIDED) != 0;
    const uint64_t drawn = (uint64_t)triangles * (twoSided ? 2 : 1);
    if (drawn * 3 > GEOMETRY_MAX_VERTICES) {
        LoadError_Set("%s: %u triangles need more than 65535 vertices", base, triangles);
        return nullptr;
    }
    SurfaceBuild* surfaces = (SurfaceBuild*)Mem_Calloc((lwo->surfaceCount + 1) * sizeof(SurfaceBuild), 8);
    if (!surfaces) return nullptr;
    RenderObj* result = nullptr;
    Geometry* g = nullptr;
    if (BuildMaterials(lwo, base, surfaces)) {
        int env = 0, coloured = 0;
        for (uint32_t s = 0; s < lwo->surfaceCount; s++) {
            env |= surfaces[s].env;
            coloured |= !IsWhite(lwo->surfaces[s]);
        }
        const int lit = builder != nullptr && coloured;
        const uint32_t format = lit ? (env ? MESH_FORMAT_ENV_LIT : MESH_FORMAT_LIT)
                                    : (env ? MESH_FORMAT_ENV : MESH_FORMAT_PLAIN);
        g = Geometry_Create((int32_t)(drawn * 3), (int32_t)drawn, format);
    }
    if (g) {
        MorphTarget* target = &g->morphTarget[0];
        const uint32_t sets = (uint32_t)g->numTexCoordSets;
        for (uint32_t i = 0; i < triangles; i++) {
            const LwoPolygon& polygon = lwo->polygons[i];
            const int32_t surface = polygon.surface;
            const int32_t uvMap = surface >= 0 ? Lwo_GetSurfaceTexCoordMap(lwo, (uint32_t)surface) : -1;
            for (uint32_t k = 0; k < 3; k++) {
                const uint32_t v = 3 * i + k;
                const uint32_t point = lwo->indices[polygon.firstIndex + k];
                Lwo_GetCornerPosition(lwo, i, k, &target->verts[v]);
                if (target->normals) Lwo_GetCornerNormal(lwo, i, k, &target->normals[v]);
                for (uint32_t set = 0; set < sets; set++) {
                    TexCoords uv = {0, 0};
                    Lwo_GetTexCoord(lwo, set, i, point, &uv.u, &uv.v);
                    g->texCoords[set][v] = uv;
                }
                if (sets > 0) {
                    // The material's texture: the surface's own map, else the
                    // planar projection of its colour texture.
                    TexCoords uv;
                    if (uvMap >= 0 && Lwo_GetTexCoord(lwo, (uint32_t)uvMap, i, point, &uv.u, &uv.v))
                        g->texCoords[0][v] = uv;
                    else if (surface >= 0 &&
                             Lwo_PlanarTexCoord(lwo, (uint32_t)surface, LWO_CHANNEL_COLR, &lwo->points[point], &uv.u, &uv.v))
                        g->texCoords[0][v] = uv;
                }
                if (g->preLitLum) {
                    uint32_t c = 0;
                    const int envSurface = surface >= 0 && surfaces[surface].env;
                    RGBA rgba = (g->flags & GEOMETRY_LIGHT) ? RGBA{0, 0, 0, 255} : RGBA{255, 255, 255, 255};
                    if (!envSurface && Lwo_GetVertexColour(lwo, i, k, &c))
                        rgba = RGBA{(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c, (uint8_t)(c >> 24)};
                    g->preLitLum[v] = rgba;
                }
            }
            Material* material = surface >= 0 ? surfaces[surface].material : nullptr;
            Geometry_SetTriangleVertexIndices(g, &g->triangles[i], (uint16_t)(3 * i), (uint16_t)(3 * i + 1),
                                              (uint16_t)(3 * i + 2));
            Geometry_SetTriangleMaterial(g, &g->triangles[i], material);
            if (twoSided) {
                // The back face: its own three vertices, reversed winding,
                // normals turned round.
                const uint32_t b = 3 * (triangles + i);
                for (uint32_t k = 0; k < 3; k++) {
                    const uint32_t from = 3 * i + k;
                    target->verts[b + k] = target->verts[from];
                    if (target->normals) {
                        const Vec3& n = target->normals[from];
                        target->normals[b + k] = {-n.x, -n.y, -n.z};
                    }
                    for (uint32_t set = 0; set < sets; set++) g->texCoords[set][b + k] = g->texCoords[set][from];
                    if (g->preLitLum) g->preLitLum[b + k] = g->preLitLum[from];
                }
                Triangle* back = &g->triangles[triangles + i];
                Geometry_SetTriangleVertexIndices(g, back, (uint16_t)b, (uint16_t)(b + 2), (uint16_t)(b + 1));
                Geometry_SetTriangleMaterial(g, back, material);
            }
        }
        MorphTarget_CalcBoundingSphere(target, &target->boundingSphere);
        Geometry* unlocked = Geometry_Unlock(g);
        // The collision tree for ray and sphere queries (none above 65535
        // triangles: they are tested one by one).
        if (unlocked) GeomCollision_BuildGeometryData(g);
        Atomic* atomic = unlocked ? Atomic_Create() : nullptr;
        if (atomic) {
            Atomic_SetGeometry(atomic, g, 0);
            Geometry_Condition(g, 0.01f);
            result = RenderObj_Create(atomic);
            if (!result) {
                Atomic_Destroy(atomic);
            } else if (World* world = View_GetWorld()) {
                World_AddAtomic(world, atomic);
            }
        }
        Geometry_Destroy(g);
    }
    // The geometry holds the materials it uses; the rest go now.
    for (uint32_t s = 0; s < lwo->surfaceCount; s++)
        if (surfaces[s].material) Material_Destroy(surfaces[s].material);
    Mem_Free(surfaces);
    if (!result && !LoadError_Get()[0]) LoadError_Set("%s: geometry could not be made", base);
    return result;
}

struct MaterialIndex {
    RenderObj* object;
    const char* path;
    uint32_t index;
    int ok;
};

Material* SaveName(Material* m, void* data)
{
    MaterialIndex* s = (MaterialIndex*)data;
    const uint32_t i = s->index++;
    if (i >= MAX_NAMED_MATERIALS) return m;
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, s->path, 0, "M%.2d", (int)i);
    const char* special = RenderObj_GetMaterialName(m);
    // A material without a special name leaves no file behind, also not an
    // old one from an earlier build.
    if (!special && !File_Exists(name)) return m;
    Stream* out = BinFile_Open(name, "w");
    int ok = out != nullptr;
    if (out && special) {
        ok = Stream_Write(out, special, (uint32_t)strlen(special)) && Stream_Write(out, "\n", 1);
    }
    if (out) ok = BinFile_Close(out) && ok;
    s->ok = s->ok && ok;
    return m;
}

Material* LoadName(Material* m, void* data)
{
    MaterialIndex* s = (MaterialIndex*)data;
    const uint32_t i = s->index++;
    if (i >= MAX_NAMED_MATERIALS) return m;
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, s->path, 0, "M%.2d", (int)i);
    void* file = File_Open(name, "r");
    if (!file) return m;
    char line[PATH_MAX_CHARS + 2];
    if (File_ReadLine(line, sizeof line, file) && line[0]) {
        size_t n = strlen(line);
        if (n && line[n - 1] == '\r') line[--n] = 0;
        if (n) RenderObj_SetMaterialName(m, line);
    }
    File_Close(file);
    return m;
}

// The path with ".lwo" cut off.
void StripExtension(const char* path, char* out, size_t size)
{
    snprintf(out, size, "%s", path);
    if (EndsWithNoCase(out, ".lwo")) out[strlen(out) - 4] = 0;
}

void SetFolder(const char* base)
{
    const char* slash = strrchr(base, '\\');
    if (slash)
        snprintf(g_mesh.folder, sizeof g_mesh.folder, "%.*s", (int)(slash - base), base);
    else
        g_mesh.folder[0] = 0;
}

}  // namespace

int Mesh_Init(void)
{
    if (!g_mesh.envFrame) g_mesh.envFrame = Frame_Create();
    return g_mesh.envFrame != nullptr;
}

void Mesh_Shutdown(void)
{
    if (g_mesh.envFrame) Frame_Destroy(g_mesh.envFrame);
    g_mesh.envFrame = nullptr;
    g_mesh.fog = 0;
}

void Mesh_SetFog(int on) { g_mesh.fog = on ? 1 : 0; }

int Mesh_GetFog(void) { return g_mesh.fog; }

void Mesh_SetPerObjectDictionaries(int on) { g_mesh.perObjectDictionaries = on; }

int Mesh_GetPerObjectDictionaries(void) { return g_mesh.perObjectDictionaries; }

void Mesh_SetEnvCoefficientOverride(float coefficient) { g_mesh.envOverride = coefficient; }

uint32_t Mesh_ParseMaterialFlags(const char* path)
{
    const char* slash = strrchr(path, '\\');
    const char* file = slash ? slash + 1 : path;
    if (file[0] != '&') return 0;
    int a = 0, s = 0, t = 0, r = 0, w = 0, m = 0, f = 0;
    for (const char* c = file + 1; *c && *c != '_'; c++) {
        switch (*c) {
        case 'A': a = 1; break;
        case 'S': s = 1; break;
        case 'T': t = 1; break;
        case 'R': r = 1; break;
        case 'W': w = 1; break;
        case 'M': m = 1; break;
        case 'F': f = 1; break;
        default: break;
        }
    }
    uint32_t flags = a ? (uint32_t)MESH_LOAD_ADD : s ? (uint32_t)MESH_LOAD_MULTIPLY : t ? (uint32_t)MESH_LOAD_ALPHA : 0u;
    if (r != w) flags |= r ? MESH_LOAD_NO_ZWRITE : MESH_LOAD_NO_ZTEST;
    if (m) flags |= MESH_LOAD_MIPMAP;
    if (f) flags |= MESH_LOAD_FILTER;
    return flags;
}

uint32_t Mesh_RenderFlagsFromName(const char* path)
{
    char file[PATH_MAX_CHARS];
    snprintf(file, sizeof file, "%s", FilePart(path));
    for (char* c = file; *c; c++)
        if (*c >= 'a' && *c <= 'z') *c = (char)(*c - 'a' + 'A');
    uint32_t flags = 0;
    if (strncmp(file, "A_", 2) == 0)
        flags = RENDEROBJ_BLEND_ADD;
    else if (strncmp(file, "S_", 2) == 0)
        flags = RENDEROBJ_BLEND_MULTIPLY;
    else if (strncmp(file, "T_", 2) == 0)
        flags = RENDEROBJ_BLEND_ALPHA;
    if (strstr(file, "_ZT")) flags |= RENDEROBJ_NO_ZTEST;
    if (strstr(file, "_ZW")) flags |= RENDEROBJ_NO_ZWRITE;
    return flags;
}

RenderObj* Mesh_LoadDFF(const char* path)
{
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, path, 0, "dff");
    Stream* in = BinFile_Open(name, "r");
    if (!in) return nullptr;
    Atomic* atomic = nullptr;
    if (Stream_FindChunk(in, CHUNK_ATOMIC, nullptr, nullptr)) atomic = Atomic_StreamRead(in);
    BinFile_Close(in);
    if (!atomic) {
        LoadError_Set("%s: mesh cache refused", name);
        return nullptr;
    }
    RenderObj* o = RenderObj_Create(atomic);
    if (!o) {
        Atomic_Destroy(atomic);
        return nullptr;
    }
    if (World* world = View_GetWorld()) World_AddAtomic(world, atomic);
    o->objectFlags |= RENDEROBJ_FROM_CACHE;
    o->blendFlags = g_mesh.loadFlags;
    MaterialIndex index = {o, path, 0, 1};
    if (Geometry* g = Atomic_GetGeometry(atomic)) Geometry_ForAllMaterials(g, LoadName, &index);
    return o;
}

int Mesh_SaveDFF(RenderObj* object, const char* path)
{
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, path, 0, "dff");
    Stream* out = BinFile_Open(name, "w");
    if (!out) return 0;
    int ok = Atomic_StreamWrite(object->atomic, out) != nullptr;
    ok = BinFile_Close(out) && ok;
    MaterialIndex index = {object, path, 0, 1};
    if (Geometry* g = Atomic_GetGeometry(object->atomic)) Geometry_ForAllMaterials(g, SaveName, &index);
    return ok && index.ok;
}

RenderObj* Mesh_LoadObject(const char* path, void*, int32_t, uint32_t objectFlags, int32_t* created, void* builder)
{
    if (created) *created = 0;
    if (!path) return nullptr;
    char base[PATH_MAX_CHARS], lwoName[PATH_MAX_CHARS + 4];
    StripExtension(path, base, sizeof base);
    snprintf(lwoName, sizeof lwoName, "%s.lwo", base);
    const int shared = !(objectFlags & MESH_UNSHARED) && !strstr(path, "ADOBJECT-");
    const uint32_t key = (objectFlags & MESH_TWO_SIDED) ? 1 : 0;
    if (shared) {
        if (RenderObj* found = (RenderObj*)NameCache_Acquire(RenderObj_GetCache(), base, &key)) return found;
    }
    LoadError_Clear();

    TextureDictionary* previous = TextureDictionary_GetCurrent();
    const TextureReadFunc previousReader = Texture_GetReadCallback();
    const int previousMip = Texture_GetMipmapping(), previousAutoMip = Texture_GetAutoMipmapping();
    g_mesh.loadFlags = Mesh_ParseMaterialFlags(path);
    // Texture candidates are data names: the image reader finds them under
    // the data folder.
    Image_SetPath(File_ResolvePath(""));
    const int mip = (g_mesh.loadFlags & (MESH_LOAD_MIPMAP | MESH_LOAD_FILTER)) != 0;
    Texture_SetMipmapping(mip);
    Texture_SetAutoMipmapping(mip);
    SetFolder(base);
    TextureDictionary* own = g_mesh.perObjectDictionaries ? TextureDictionary_Create() : nullptr;
    if (own) TextureDictionary_SetCurrent(own);

    // Two-sided geometry is cached apart from the one-sided build of the
    // same object: a cache holds one or the other, and loading an object
    // both ways must not give either the other's triangles.
    char cacheSource[PATH_MAX_CHARS + 4];
    snprintf(cacheSource, sizeof cacheSource, "%s%s", base, (objectFlags & MESH_TWO_SIDED) ? "|2" : "");
    char dffName[CACHE_NAME_MAX];
    Cache_NameFromSource(dffName, cacheSource, 0, "dff");
    RenderObj* o = nullptr;
    int fresh = 0;
    if (!Cache_IsStale(lwoName, dffName)) {
        Texture_SetReadCallback(ReadCached);
        o = Mesh_LoadDFF(cacheSource);
    }
    if (!o) {
        Texture_SetReadCallback(ReadFresh);
        LoadError_Clear();
        LwoObject* lwo = Lwo_Open(base, -1);
        if (lwo && Lwo_ComputeNormals(lwo)) o = BuildFromObject(lwo, base, objectFlags, builder);
        Lwo_Free(lwo);
        if (o) {
            o->blendFlags = g_mesh.loadFlags;
            fresh = 1;
        }
    }
    if (o) {
        SetUp setUp = {o, fresh};
        Geometry* g = Atomic_GetGeometry(o->atomic);
        if (g) Geometry_ForAllMaterials(g, SetUpMaterial, &setUp);
        if (fresh) Mesh_SaveDFF(o, cacheSource);
        o->objectFlags |= objectFlags & (RENDEROBJ_UNSHARED | RENDEROBJ_TWO_SIDED | RENDEROBJ_SKINNED);
        o->dictionary = own;
        own = nullptr;
        if (objectFlags & MESH_TWO_SIDED) {
            o->frame = Frame_Create();
            if (o->frame) Atomic_SetFrame(o->atomic, o->frame);
        }
        o->blendFlags |= Mesh_RenderFlagsFromName(base);
        if (g_mesh.fog) o->blendFlags |= RENDEROBJ_FOG;
        if (o->blendFlags & (RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_MULTIPLY)) o->blendFlags &= ~RENDEROBJ_FOG;
        if (o->blendFlags & (RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_MULTIPLY | RENDEROBJ_BLEND_ALPHA)) {
            o->state |= RENDEROBJ_TRANSPARENT;
            if (g) Geometry_ForAllMaterials(g, SetAlpha254, nullptr);
        }
        if (shared) NameCache_Add(RenderObj_GetCache(), base, o, key);
        else ObjectWorld_SetLoadingFlag();  // a copy of its own: no second object can share it
        if (created) *created = 1;
    }
    if (own) TextureDictionary_Destroy(own);
    g_mesh.loadFlags = 0;
    g_mesh.folder[0] = 0;
    Texture_SetReadCallback(previousReader);
    Texture_SetMipmapping(previousMip);
    Texture_SetAutoMipmapping(previousAutoMip);
    TextureDictionary_SetCurrent(previous);
    return o;
}

RenderObj* Mesh_Load(const char* path, uint32_t objectFlags, int32_t* created)
{
    return Mesh_LoadObject(path, nullptr, 0, objectFlags, created, nullptr);
}
