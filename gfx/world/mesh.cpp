// Mesh headers, the triangle order, triangle lists and the strip builder.
//
// The strip builder works per material run on an adjacency graph: one record
// per triangle with its three directed edges, edges shared by two triangles
// of opposite winding, and buckets of triangles by the number of free
// neighbours they still have. Strips start from the least connected
// triangle (so that islands and edges of the mesh are used before they get
// cut off), walk forward and backward from it, and all strips of a run are
// finally joined into one with degenerate triangles that keep the winding.
// Work memory comes from the engine's memory functions; running out fails
// the build with 0x80000013 instead of crashing.
#include "gfx/world/mesh.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "gfx/core/engine.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/material.h"
#include "gfx/world/worldinternal.h"

using namespace worldinternal;

namespace {

struct MeshGlobals {
    uint16_t serial;  // the next header's serial number; 1 at each open
};

// Passes of the triangle-list spread before the rest is taken in order.
constexpr int32_t kSpreadPasses = 8;

int32_t sOffset = -1;
MeshHeader sEmptyHeader = {};
MeshBuilder sBuilder = MeshOp_DefaultBuilder;
void* sBuilderData = nullptr;

MeshGlobals* Globals(void) { return (MeshGlobals*)Engine_ModuleGlobals(sOffset); }

uint16_t NextSerial(void)
{
    if (sOffset < 0) return 1;
    MeshGlobals* g = Globals();
    return g->serial++;
}

// ---- triangle order ----

bool Translucent(const Material* material)
{
    if (!material) return false;
    if (material->colour[3] < 255) return true;
    if (material->texture && material->texture->raster) {
        const uint32_t format = Raster_GetFormat(material->texture->raster) & 0xF00;
        return format == 0x100 || format == 0x300 || format == 0x500;
    }
    return false;
}

struct SortRecord {
    BuildTriangle* triangle;
    int32_t order;  // position in the input
    int32_t translucent;
    int32_t material;  // the lowest list index at which the triangle's material stands
};

bool MeshOp_CompareTriangles(const SortRecord& a, const SortRecord& b)
{
    if (a.translucent != b.translucent) return a.translucent < b.translucent;
    const BuildTriangle& x = *a.triangle;
    const BuildTriangle& y = *b.triangle;
    if (x.rasterKey != y.rasterKey) return x.rasterKey < y.rasterKey;
    if (x.pipelineKey != y.pipelineKey) return x.pipelineKey < y.pipelineKey;
    if (x.textureKey != y.textureKey) return x.textureKey < y.textureKey;
    return a.material < b.material;
}

// Splits a sorted pointer array into runs of one material.
int32_t CountRuns(BuildTriangle* const* sorted, int32_t count)
{
    int32_t runs = 0;
    for (int32_t i = 0; i < count; i++)
        if (i == 0 || sorted[i]->material != sorted[i - 1]->material) runs++;
    return runs;
}

BuildTriangle** SortedPointers(BuildMesh* mesh)
{
    BuildTriangle** sorted = (BuildTriangle**)Engine_Malloc(sizeof(BuildTriangle*) * (size_t)mesh->numTriangles);
    if (!sorted) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    for (int32_t i = 0; i < mesh->numTriangles; i++) sorted[i] = &mesh->triangles[i];
    MeshOp_SortTriangles(sorted, mesh->numTriangles);
    return sorted;
}

MeshHeader* AllocHeader(uint32_t meshes, uint32_t indices, uint32_t flags)
{
    const size_t bytes = sizeof(MeshHeader) + meshes * sizeof(Mesh) + indices * sizeof(uint16_t);
    MeshHeader* header = MeshHeader_Alloc((uint32_t)bytes);
    if (!header) return nullptr;
    memset(header, 0, bytes);
    header->flags = flags;
    header->numMeshes = (uint16_t)meshes;
    header->serialNumber = NextSerial();
    header->totalIndicesInMesh = indices;
    return header;
}

// ---- strip builder ----

struct StripEdge;

struct StripTriangle {
    uint16_t v[3];
    StripEdge* edges[3];  // E0 = v0 -> v1, E1 = v1 -> v2, E2 = v2 -> v0
    StripTriangle* bucketNext;
    StripTriangle* bucketPrev;
    uint8_t used;
    uint8_t trial;
    uint8_t degree;
};

struct StripEdge {
    uint16_t a, b;
    StripTriangle* first;
    StripTriangle* second;
    StripEdge* nextUnpaired;  // older unpaired edges with the same (a, b)
};

struct StripWork {
    StripTriangle* triangles;
    StripEdge* edges;
    int32_t numEdges;
    StripTriangle* buckets[4];
    // Unpaired edges by (a, b): open addressing on the key a << 16 | b.
    uint32_t* keys;
    StripEdge** heads;
    uint32_t tableMask;
    MeshStrip* strips;  // found strips, the newest first
    bool trialMode;
    bool failed;
};

void BucketRemove(StripWork& w, StripTriangle* t)
{
    if (t->bucketPrev) t->bucketPrev->bucketNext = t->bucketNext;
    else w.buckets[t->degree] = t->bucketNext;
    if (t->bucketNext) t->bucketNext->bucketPrev = t->bucketPrev;
    t->bucketNext = t->bucketPrev = nullptr;
}

void BucketPush(StripWork& w, StripTriangle* t)
{
    t->bucketPrev = nullptr;
    t->bucketNext = w.buckets[t->degree];
    if (t->bucketNext) t->bucketNext->bucketPrev = t;
    w.buckets[t->degree] = t;
}

// A hash spreading both halves of a key (a << 16 | b) over the low bits.
uint32_t Mix(uint32_t key)
{
    key *= 2654435761u;
    return key ^ key >> 15;
}

uint32_t Slot(const StripWork& w, uint32_t key)
{
    uint32_t h = Mix(key) & w.tableMask;
    while (w.keys[h] != 0xFFFFFFFFu && w.keys[h] != key) h = (h + 1) & w.tableMask;
    return h;
}

// Pairs (a, b) with the newest unpaired (b, a) edge, else records a new edge.
StripEdge* MeshOp_AddEdge(StripWork& w, StripTriangle* t, uint16_t a, uint16_t b)
{
    const uint32_t reverse = Slot(w, (uint32_t)b << 16 | a);
    if (w.keys[reverse] != 0xFFFFFFFFu && w.heads[reverse]) {
        StripEdge* e = w.heads[reverse];
        w.heads[reverse] = e->nextUnpaired;
        e->second = t;
        e->first->degree++;
        t->degree++;
        return e;
    }
    StripEdge* e = &w.edges[w.numEdges++];
    *e = StripEdge{a, b, t, nullptr, nullptr};
    const uint32_t slot = Slot(w, (uint32_t)a << 16 | b);
    w.keys[slot] = (uint32_t)a << 16 | b;
    e->nextUnpaired = w.heads[slot];
    w.heads[slot] = e;
    return e;
}

bool Flagged(const StripTriangle* t) { return t->trial != 0; }

// The triangle across e from the caller's side that is not yet flagged.
StripTriangle* FreeOn(const StripEdge* e)
{
    if (e->first && !Flagged(e->first)) return e->first;
    if (e->second && !Flagged(e->second)) return e->second;
    return nullptr;
}

void MeshOp_UseTriangle(StripWork& w, StripTriangle* t)
{
    t->trial = 1;
    if (w.trialMode) return;
    t->used = 1;
    BucketRemove(w, t);
    for (StripEdge* e : t->edges) {
        StripTriangle* n = nullptr;
        if (e->first && e->first != t && !e->first->used) n = e->first;
        else if (e->second && e->second != t && !e->second->used) n = e->second;
        if (!n || n->degree == 0) continue;
        BucketRemove(w, n);
        n->degree--;
        BucketPush(w, n);
    }
}

bool Append(StripWork& w, MeshStrip* s, uint16_t index)
{
    if (s->numIndices == s->capacity) {
        const uint32_t capacity = s->capacity ? s->capacity * 2 : 16;
        uint16_t* grown = (uint16_t*)Engine_Realloc(s->indices, capacity * sizeof(uint16_t));
        if (!grown) {
            w.failed = true;
            return false;
        }
        s->indices = grown;
        s->capacity = capacity;
    }
    s->indices[s->numIndices++] = index;
    return true;
}

int32_t EdgePosition(const StripTriangle* t, const StripEdge* e)
{
    for (int32_t i = 0; i < 3; i++)
        if (t->edges[i] == e) return i;
    return -1;
}

bool Joins(const StripEdge* e, uint16_t p, uint16_t q) { return (e->a == p && e->b == q) || (e->a == q && e->b == p); }

// Walks from edge across free triangles, appending to s; the number added.
int32_t MeshOp_WalkStrip(StripWork& w, MeshStrip* s, StripEdge* edge)
{
    int32_t added = 0;
    while (!w.failed) {
        StripTriangle* t = FreeOn(edge);
        if (!t) break;
        MeshOp_UseTriangle(w, t);
        added++;
        const int32_t i = EdgePosition(t, edge);
        const uint16_t vw = t->v[(i + 2) % 3];
        const uint16_t p = s->indices[s->numIndices - 1];
        StripEdge* next = nullptr;
        for (StripEdge* e : t->edges)
            if (Joins(e, p, vw)) {
                next = e;
                break;
            }
        if (next && FreeOn(next)) {
            Append(w, s, vw);
            edge = next;
            continue;
        }
        StripEdge* turn = nullptr;
        for (StripEdge* e : t->edges)
            if (e != edge && e != next) {
                turn = e;
                break;
            }
        if (turn && FreeOn(turn) && s->numIndices % 2 == 0) {
            Append(w, s, s->indices[s->numIndices - 2]);
            Append(w, s, vw);
            edge = turn;
            continue;
        }
        Append(w, s, vw);
        break;
    }
    return added;
}

// Builds the strip of start with rotation r into out; the triangles it used.
int32_t BuildStrip(StripWork& w, StripTriangle* start, int32_t r, MeshStrip* out)
{
    *out = MeshStrip{};
    MeshOp_UseTriangle(w, start);
    int32_t used = 1;
    for (int32_t k = 0; k < 3; k++) Append(w, out, start->v[(r + k) % 3]);
    used += MeshOp_WalkStrip(w, out, start->edges[(r + 1) % 3]);
    StripEdge* back = start->edges[r];
    if (!w.failed && FreeOn(back)) {
        MeshStrip b = {};
        Append(w, &b, out->indices[1]);
        Append(w, &b, out->indices[0]);
        used += MeshOp_WalkStrip(w, &b, back);
        if (!w.failed && b.numIndices % 2 == 1) Append(w, &b, b.indices[b.numIndices - 2]);
        if (!w.failed && b.numIndices > 2) {
            // B reversed without its first two, then A.
            const uint32_t extra = b.numIndices - 2;
            MeshStrip joined = {};
            for (uint32_t k = 0; k < extra && !w.failed; k++) Append(w, &joined, b.indices[b.numIndices - 1 - k]);
            for (uint32_t k = 0; k < out->numIndices && !w.failed; k++) Append(w, &joined, out->indices[k]);
            Engine_Free(out->indices);
            *out = joined;
        }
        Engine_Free(b.indices);
    }
    return used;
}

int32_t FreeCount(const StripEdge* e)
{
    return (e->first && !e->first->used ? 1 : 0) + (e->second && !e->second->used ? 1 : 0);
}

int32_t ChooseRotation(const StripTriangle* t)
{
    const int32_t x = FreeCount(t->edges[0]), y = FreeCount(t->edges[1]), z = FreeCount(t->edges[2]);
    if (z == 2 && y == 2) return 1;
    if (x == 2 && z == 2) return 2;
    if (y == 2 && x == 2) return 0;
    if (y < x) return z < x ? 2 : 1;
    return y <= z ? 1 : 0;
}

void ResetTrials(StripWork& w, int32_t count)
{
    for (int32_t i = 0; i < count; i++) w.triangles[i].trial = w.triangles[i].used;
}

void FreeStrips(MeshStrip* list)
{
    while (list) {
        MeshStrip* next = list->next;
        Engine_Free(list->indices);
        Engine_Free(list);
        list = next;
    }
}

// One record per triangle with its three edges, edges shared by neighbours
// of opposite winding paired, and every triangle at the head of the bucket
// of its degree (so each bucket lists the later triangles first).
bool MeshOp_BuildAdjacency(StripWork& w, BuildTriangle* const* run, int32_t count)
{
    uint32_t tableSize = 16;
    while (tableSize < (uint32_t)count * 6) tableSize <<= 1;
    w.triangles = (StripTriangle*)Engine_Calloc((size_t)count, sizeof(StripTriangle));
    w.edges = (StripEdge*)Engine_Malloc(sizeof(StripEdge) * 3 * (size_t)count);
    w.keys = (uint32_t*)Engine_Malloc(sizeof(uint32_t) * tableSize);
    w.heads = (StripEdge**)Engine_Calloc(tableSize, sizeof(StripEdge*));
    if (!w.triangles || !w.edges || !w.keys || !w.heads) return false;
    memset(w.keys, 0xFF, sizeof(uint32_t) * tableSize);
    w.tableMask = tableSize - 1;
    w.numEdges = 0;
    for (int32_t i = 0; i < count; i++) {
        StripTriangle* t = &w.triangles[i];
        for (int k = 0; k < 3; k++) t->v[k] = run[i]->vertices[k];
        for (int k = 0; k < 3; k++) t->edges[k] = MeshOp_AddEdge(w, t, t->v[k], t->v[(k + 1) % 3]);
    }
    for (StripTriangle*& b : w.buckets) b = nullptr;
    for (int32_t i = 0; i < count; i++) BucketPush(w, &w.triangles[i]);
    return true;
}

// Finds the strips of one material run; they end up in w.strips, newest first.
bool MeshOp_FindStrip(StripWork& w, BuildTriangle* const* run, int32_t count, bool tryAll)
{
    if (!MeshOp_BuildAdjacency(w, run, count)) return false;
    int32_t remaining = count;
    while (remaining > 0 && !w.failed) {
        MeshStrip* strip = (MeshStrip*)Engine_Malloc(sizeof(MeshStrip));
        if (!strip) return false;
        *strip = MeshStrip{};
        strip->next = w.strips;
        w.strips = strip;
        if (StripTriangle* t = w.buckets[0]) {
            MeshOp_UseTriangle(w, t);
            for (int k = 0; k < 3; k++) Append(w, strip, t->v[k]);
            remaining--;
            continue;
        }
        StripTriangle* start = w.buckets[1] ? w.buckets[1] : w.buckets[2] ? w.buckets[2] : w.buckets[3];
        int32_t r = ChooseRotation(start);
        if (tryAll) {
            int32_t best = -1, bestRotation = r;
            w.trialMode = true;
            for (int32_t k = 0; k < 3 && !w.failed; k++) {
                ResetTrials(w, count);
                MeshStrip trial;
                const int32_t used = BuildStrip(w, start, (r + k) % 3, &trial);
                Engine_Free(trial.indices);
                if (used > best) best = used, bestRotation = (r + k) % 3;
            }
            w.trialMode = false;
            ResetTrials(w, count);
            r = bestRotation;
        }
        MeshStrip built;
        remaining -= BuildStrip(w, start, r, &built);
        MeshStrip* next = strip->next;
        *strip = built;
        strip->next = next;
    }
    return !w.failed;
}

void FreeWork(StripWork& w)
{
    Engine_Free(w.triangles);
    Engine_Free(w.edges);
    Engine_Free(w.keys);
    Engine_Free(w.heads);
    FreeStrips(w.strips);
    w = StripWork{};
}

// Header from one joined strip per material run.
MeshHeader* PackStrips(MeshStrip* joined, Material** materials, int32_t runs)
{
    uint32_t total = 0;
    for (int32_t i = 0; i < runs; i++) total += joined[i].numIndices;
    MeshHeader* header = AllocHeader((uint32_t)runs, total, MESH_TRIANGLE_STRIP);
    if (!header) return nullptr;
    Mesh* meshes = MeshHeader_Meshes(header);
    uint16_t* indices = (uint16_t*)(meshes + runs);
    for (int32_t i = 0; i < runs; i++) {
        meshes[i].indices = indices;
        meshes[i].numIndices = joined[i].numIndices;
        meshes[i].material = materials[i];
        memcpy(indices, joined[i].indices, joined[i].numIndices * sizeof(uint16_t));
        indices += joined[i].numIndices;
    }
    return header;
}

}  // namespace

// ---- headers ----

MeshHeader* MeshHeader_Empty(void) { return &sEmptyHeader; }

MeshHeader* MeshHeader_Alloc(uint32_t bytes)
{
    MeshHeader* header = (MeshHeader*)Engine_Malloc(bytes);
    if (!header) RaiseError(ERR_OUT_OF_MEMORY);
    return header;
}

int32_t MeshHeader_Destroy(MeshHeader* header)
{
    if (header && header != &sEmptyHeader) Engine_Free(header);
    return 1;
}

MeshHeader* MeshHeader_ForAllMeshes(MeshHeader* header, MeshCallback callback, void* data)
{
    Mesh* meshes = MeshHeader_Meshes(header);
    for (uint32_t i = 0; i < header->numMeshes; i++)
        if (!callback(&meshes[i], header, data)) break;
    return header;
}

uint32_t MeshHeader_PrimitiveType(uint32_t flags)
{
    switch (flags & MESH_PRIMITIVE_MASK) {
    case MESH_TRIANGLE_LIST: return 3;
    case MESH_TRIANGLE_STRIP: return 4;
    case MESH_TRIANGLE_FAN: return 5;
    case MESH_LINE_LIST: return 1;
    case MESH_POLYLINE: return 2;
    case MESH_POINT_LIST: return 6;
    default: return 0;
    }
}

uint32_t MeshHeader_FlagsFromPrimitiveType(uint32_t type)
{
    static const uint32_t kFlags[7] = {
        0, MESH_LINE_LIST, MESH_POLYLINE, MESH_TRIANGLE_LIST, MESH_TRIANGLE_STRIP, MESH_TRIANGLE_FAN, MESH_POINT_LIST};
    return type < 7 ? kFlags[type] : 0;
}

// ---- build meshes ----

BuildMesh* BuildMesh_Create(int32_t count)
{
    HELM_ASSERT(count >= 0);
    BuildMesh* mesh = (BuildMesh*)Engine_Malloc(sizeof(BuildMesh));
    if (!mesh) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    mesh->capacity = count;
    mesh->numTriangles = 0;
    mesh->triangles = nullptr;
    if (count > 0) {
        mesh->triangles = (BuildTriangle*)Engine_Malloc(sizeof(BuildTriangle) * (size_t)count);
        if (!mesh->triangles) {
            Engine_Free(mesh);
            RaiseError(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
    }
    return mesh;
}

BuildMesh* BuildMesh_AddTriangle(BuildMesh* mesh, Material* material, uint16_t v0, uint16_t v1, uint16_t v2,
                                 uint16_t materialIndex, uint16_t textureKey, uint16_t rasterKey, uint16_t pipelineKey)
{
    if (mesh->numTriangles >= mesh->capacity) {
        const int32_t capacity = mesh->numTriangles + 1;
        BuildTriangle* grown =
            (BuildTriangle*)Engine_Realloc(mesh->triangles, sizeof(BuildTriangle) * (size_t)capacity);
        if (!grown) {
            RaiseError(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
        mesh->triangles = grown;
        mesh->capacity = capacity;
    }
    BuildTriangle& t = mesh->triangles[mesh->numTriangles++];
    t.vertices[0] = v0;
    t.vertices[1] = v1;
    t.vertices[2] = v2;
    t.materialIndex = materialIndex;
    t.material = material;
    t.textureKey = textureKey;
    t.rasterKey = rasterKey;
    t.pipelineKey = pipelineKey;
    return mesh;
}

void BuildMesh_Destroy(BuildMesh* mesh)
{
    if (!mesh) return;
    Engine_Free(mesh->triangles);
    Engine_Free(mesh);
}

void Mesh_SetBuilder(MeshBuilder builder, void* data)
{
    sBuilder = builder ? builder : MeshOp_DefaultBuilder;
    sBuilderData = builder ? data : nullptr;
}

MeshHeader* Mesh_BuildFromTriangles(BuildMesh* mesh, int32_t strips)
{
    if (!mesh) return nullptr;
    if (mesh->numTriangles == 0) {
        BuildMesh_Destroy(mesh);
        return &sEmptyHeader;
    }
    MeshHeader* header = strips ? sBuilder(mesh, sBuilderData) : MeshOp_BuildTriList(mesh, nullptr);
    if (header) BuildMesh_Destroy(mesh);
    return header;
}

void MeshOp_SortTriangles(BuildTriangle** triangles, int32_t count)
{
    if (count < 2) return;
    SortRecord* records = (SortRecord*)Engine_Malloc(sizeof(SortRecord) * (size_t)count);
    if (!records) {
        // Without room for the keys the order stays as given: every mesh is
        // still drawn, only the state grouping is lost.
        return;
    }
    // Each material gets the lowest index it stands at, so that one material
    // always compares as one (a strict weak order even when a material sits
    // at several list entries).
    for (int32_t i = 0; i < count; i++) {
        const BuildTriangle* t = triangles[i];
        records[i] = {triangles[i], i, Translucent(t->material) ? 1 : 0, t->material ? (int32_t)t->materialIndex : -1};
    }
    std::stable_sort(records, records + count, [](const SortRecord& a, const SortRecord& b) {
        return a.triangle->material != b.triangle->material
                   ? std::less<const Material*>()(a.triangle->material, b.triangle->material)
                   : a.material < b.material;
    });
    for (int32_t i = 1; i < count; i++)
        if (records[i].triangle->material == records[i - 1].triangle->material)
            records[i].material = records[i - 1].material;
    // Back to the input order before the real (stable) sort.
    std::sort(records, records + count, [](const SortRecord& a, const SortRecord& b) { return a.order < b.order; });
    std::stable_sort(records, records + count, MeshOp_CompareTriangles);
    for (int32_t i = 0; i < count; i++) triangles[i] = records[i].triangle;
    Engine_Free(records);
}

int32_t MeshOp_SpreadTriangles(uint16_t* indices, uint32_t numTriangles)
{
    if (numTriangles < 2) return 1;
    const uint32_t n = numTriangles * 3;
    uint32_t maxIndex = 0;
    for (uint32_t i = 0; i < n; i++) maxIndex = std::max<uint32_t>(maxIndex, indices[i]);
    const size_t words = maxIndex / 32 + 1;
    uint32_t* seen = (uint32_t*)Engine_Malloc(words * sizeof(uint32_t));
    uint16_t* out = (uint16_t*)Engine_Malloc(n * sizeof(uint16_t));
    uint8_t* done = (uint8_t*)Engine_Calloc(numTriangles, 1);
    if (!seen || !out || !done) {
        Engine_Free(seen);
        Engine_Free(out);
        Engine_Free(done);
        return 0;
    }
    auto bit = [&](uint16_t v) { return (seen[v / 32] >> (v % 32)) & 1u; };
    uint32_t placed = 0;
    // Each pass places only triangles whose vertices it has not met yet, so
    // passes until every triangle is placed would number as many as the
    // largest vertex valence (a fan of n triangles needs n passes over n
    // triangles). A few passes give most of the spread; what remains follows
    // in its order.
    for (int32_t pass = 0; pass < kSpreadPasses && placed < numTriangles; pass++) {
        memset(seen, 0, words * sizeof(uint32_t));
        for (uint32_t t = 0; t < numTriangles; t++) {
            if (done[t]) continue;
            const uint16_t* v = indices + 3 * t;
            if (bit(v[0]) || bit(v[1]) || bit(v[2])) continue;
            for (int k = 0; k < 3; k++) seen[v[k] / 32] |= 1u << (v[k] % 32);
            memcpy(out + 3 * placed, v, 3 * sizeof(uint16_t));
            done[t] = 1;
            placed++;
        }
    }
    for (uint32_t t = 0; t < numTriangles && placed < numTriangles; t++)
        if (!done[t]) memcpy(out + 3 * placed++, indices + 3 * t, 3 * sizeof(uint16_t));
    memcpy(indices, out, n * sizeof(uint16_t));
    Engine_Free(seen);
    Engine_Free(out);
    Engine_Free(done);
    return 1;
}

MeshHeader* MeshOp_BuildTriList(BuildMesh* mesh, void*)
{
    BuildTriangle** sorted = SortedPointers(mesh);
    if (!sorted) return nullptr;
    const int32_t runs = CountRuns(sorted, mesh->numTriangles);
    MeshHeader* header = AllocHeader((uint32_t)runs, 3u * (uint32_t)mesh->numTriangles, MESH_TRIANGLE_LIST);
    if (!header) {
        Engine_Free(sorted);
        return nullptr;
    }
    Mesh* meshes = MeshHeader_Meshes(header);
    uint16_t* indices = (uint16_t*)(meshes + runs);
    int32_t m = -1;
    for (int32_t i = 0; i < mesh->numTriangles; i++) {
        if (i == 0 || sorted[i]->material != sorted[i - 1]->material) {
            m++;
            meshes[m].indices = indices;
            meshes[m].numIndices = 0;
            meshes[m].material = sorted[i]->material;
        }
        for (int k = 0; k < 3; k++) *indices++ = sorted[i]->vertices[k];
        meshes[m].numIndices += 3;
    }
    for (int32_t i = 0; i < runs; i++) MeshOp_SpreadTriangles(meshes[i].indices, meshes[i].numIndices / 3);
    Engine_Free(sorted);
    return header;
}

MeshHeader* MeshOp_BuildStrips(BuildMesh* mesh, int32_t tryAllStartEdges, int32_t keepParity)
{
    BuildTriangle** sorted = SortedPointers(mesh);
    if (!sorted) return nullptr;
    const int32_t runs = CountRuns(sorted, mesh->numTriangles);
    MeshStrip* joined = (MeshStrip*)Engine_Calloc((size_t)runs, sizeof(MeshStrip));
    Material** materials = (Material**)Engine_Calloc((size_t)runs, sizeof(Material*));
    bool ok = joined && materials;
    for (int32_t start = 0, run = 0; ok && start < mesh->numTriangles; run++) {
        int32_t end = start + 1;
        while (end < mesh->numTriangles && sorted[end]->material == sorted[start]->material) end++;
        StripWork w = {};
        ok = MeshOp_FindStrip(w, sorted + start, end - start, tryAllStartEdges != 0) &&
             MeshOp_JoinStrips(w.strips, keepParity, &joined[run]);
        materials[run] = sorted[start]->material;
        FreeWork(w);
        start = end;
    }
    MeshHeader* header = ok ? PackStrips(joined, materials, runs) : nullptr;
    if (!ok) RaiseError(ERR_OUT_OF_MEMORY);
    for (int32_t i = 0; joined && i < runs; i++) Engine_Free(joined[i].indices);
    Engine_Free(joined);
    Engine_Free(materials);
    Engine_Free(sorted);
    return header;
}

MeshHeader* MeshOp_DefaultBuilder(BuildMesh* mesh, void*) { return MeshOp_BuildStrips(mesh, 0, 1); }

int32_t MeshOp_JoinStrips(const MeshStrip* list, int32_t keepParity, MeshStrip* out)
{
    *out = MeshStrip{};
    if (!list) return 1;
    int32_t count = 0;
    uint32_t capacity = 0;
    for (const MeshStrip* s = list; s; s = s->next) count++, capacity += s->numIndices + 6;
    // The strips in list order, and per first index the chain of strips that
    // start with it (in list order), so that each step finds its strip
    // without walking the ones left: a run of many small strips (isolated
    // triangles, fans) joins in linear time.
    uint32_t tableSize = 16;
    while (tableSize < 2 * (uint32_t)count) tableSize <<= 1;
    const size_t bytes = (sizeof(MeshStrip*) + sizeof(int32_t) + 1) * (size_t)count +
                         (sizeof(uint32_t) + sizeof(int32_t)) * (size_t)tableSize;
    uint8_t* block = (uint8_t*)Engine_Malloc(bytes);
    out->indices = (uint16_t*)Engine_Malloc(capacity * sizeof(uint16_t));
    if (!block || !out->indices) {
        Engine_Free(block);
        Engine_Free(out->indices);
        out->indices = nullptr;
        RaiseError(ERR_OUT_OF_MEMORY);
        return 0;
    }
    const MeshStrip** strips = (const MeshStrip**)block;
    int32_t* nextSame = (int32_t*)(strips + count);
    uint32_t* keys = (uint32_t*)(nextSame + count);
    int32_t* heads = (int32_t*)(keys + tableSize);
    uint8_t* taken = (uint8_t*)(heads + tableSize);
    memset(keys, 0xFF, sizeof(uint32_t) * tableSize);
    memset(taken, 0, (size_t)count);
    out->capacity = capacity;
    int32_t n = 0;
    for (const MeshStrip* s = list; s; s = s->next) strips[n++] = s;
    const uint32_t mask = tableSize - 1;
    auto slot = [&](uint16_t first) {
        uint32_t h = Mix(first) & mask;
        while (keys[h] != 0xFFFFFFFFu && keys[h] != first) h = (h + 1) & mask;
        return h;
    };
    for (int32_t i = count - 1; i >= 0; i--) {
        const uint32_t h = slot(strips[i]->indices[0]);
        if (keys[h] == 0xFFFFFFFFu) keys[h] = strips[i]->indices[0], heads[h] = -1;
        nextSame[i] = heads[h];
        heads[h] = i;
    }
    // The earliest strip not yet taken that starts with `first`, or -1.
    auto startingWith = [&](uint16_t first) {
        const uint32_t h = slot(first);
        if (keys[h] == 0xFFFFFFFFu) return -1;
        int32_t i = heads[h];
        while (i >= 0 && taken[i]) i = nextSame[i];
        heads[h] = i;
        return i;
    };
    auto put = [&](uint16_t v) { out->indices[out->numIndices++] = v; };
    auto take = [&](int32_t i) {
        taken[i] = 1;
        return strips[i];
    };
    auto putAll = [&](const MeshStrip* s) {
        for (uint32_t i = 0; i < s->numIndices; i++) put(s->indices[i]);
    };
    int32_t front = 0;
    putAll(take(0));
    for (int32_t left = count - 1; left > 0; left--) {
        while (taken[front]) front++;
        const uint32_t length = out->numIndices;
        const bool even = length % 2 == 0;
        const uint16_t last = out->indices[length - 1];
        int32_t found = startingWith(last);
        if (found >= 0) {
            const MeshStrip* s = take(found);
            if (!(even || !keepParity)) put(s->indices[0]);
            putAll(s);
            continue;
        }
        found = length >= 2 ? startingWith(out->indices[length - 2]) : -1;
        if (found >= 0) {
            const MeshStrip* s = take(found);
            put(s->indices[0]);
            if (even && keepParity) put(s->indices[0]);
            putAll(s);
            continue;
        }
        const MeshStrip* s = take(front);
        put(last);
        put(s->indices[0]);
        if (!even && keepParity) put(s->indices[0]);
        putAll(s);
    }
    Engine_Free(block);
    return 1;
}

// ---- binary-mesh stream ----

int32_t MeshHeader_StreamGetSize(const MeshHeader* header, int32_t native)
{
    return 12 + 8 * (int32_t)header->numMeshes + (native ? 0 : 4 * (int32_t)header->totalIndicesInMesh);
}

const MeshHeader* MeshHeader_StreamWrite(const MeshHeader* header, int32_t native, Stream* stream,
                                         const MaterialList* list)
{
    uint32_t words[3] = {header->flags, header->numMeshes, header->totalIndicesInMesh};
    if (!Stream_WriteInt32(stream, words, 12)) return nullptr;
    const Mesh* meshes = MeshHeader_Meshes(header);
    for (uint32_t m = 0; m < header->numMeshes; m++) {
        // A mesh without a material (its triangles have none) is written as
        // -1, which reads back as none; a material missing from the list is
        // written as 0.
        int32_t index = -1;
        if (meshes[m].material) index = std::max(MaterialList_FindMaterialIndex(list, meshes[m].material), 0);
        int32_t record[2] = {(int32_t)meshes[m].numIndices, index};
        if (!Stream_WriteInt32(stream, record, 8)) return nullptr;
        if (native) continue;
        uint32_t buffer[256];
        for (uint32_t done = 0; done < meshes[m].numIndices;) {
            const uint32_t n = std::min<uint32_t>(256, meshes[m].numIndices - done);
            for (uint32_t i = 0; i < n; i++) buffer[i] = meshes[m].indices[done + i];
            if (!Stream_WriteInt32(stream, buffer, 4 * n)) return nullptr;
            done += n;
        }
    }
    return header;
}

MeshHeader* MeshHeader_StreamRead(Stream* stream, int32_t length, int32_t native, const MaterialList* list,
                                  int32_t numVertices)
{
    uint32_t words[3];
    if (length < 12) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    if (!Stream_ReadInt32(stream, words, 12)) return nullptr;
    const uint32_t flags = words[0], numMeshes = words[1], total = words[2];
    const uint32_t kind = flags & MESH_PRIMITIVE_MASK;
    const uint64_t expected = 12 + 8ull * numMeshes + (native ? 0 : 4ull * total);
    // An unindexed header draws its meshes as consecutive runs of the
    // owner's vertices: together they must not run past them.
    const bool runsPastVertices = (flags & MESH_UNINDEXED) && total > (uint32_t)std::max(numVertices, 0);
    if (numMeshes > 0xFFFF || (flags & ~(MESH_PRIMITIVE_MASK | MESH_UNINDEXED)) ||
        (kind != MESH_TRIANGLE_LIST && MeshHeader_PrimitiveType(flags) == 0) || expected != (uint64_t)length ||
        runsPastVertices) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    // A native header keeps no indices (they live in the device data) but
    // keeps their total, which its meshes' counts add up to.
    MeshHeader* header = AllocHeader(numMeshes, native ? 0 : total, flags);
    if (!header) return nullptr;
    header->totalIndicesInMesh = total;
    Mesh* meshes = MeshHeader_Meshes(header);
    uint16_t* next = native ? nullptr : (uint16_t*)(meshes + numMeshes);
    uint64_t sum = 0;
    bool ok = true;
    for (uint32_t m = 0; ok && m < numMeshes; m++) {
        int32_t record[2];
        if (!Stream_ReadInt32(stream, record, 8)) {
            ok = false;
            break;
        }
        const uint32_t count = (uint32_t)record[0];
        sum += count;
        if (sum > total || record[1] < -1 || record[1] >= list->count) {
            RaiseError(WORLD_ERR_BAD_DATA);
            ok = false;
            break;
        }
        meshes[m].material = record[1] < 0 ? nullptr : list->materials[record[1]];
        meshes[m].numIndices = count;
        meshes[m].indices = next;
        if (native) continue;
        uint32_t buffer[256];
        for (uint32_t done = 0; ok && done < count;) {
            const uint32_t n = std::min<uint32_t>(256, count - done);
            if (!Stream_ReadInt32(stream, buffer, 4 * n)) {
                ok = false;
                break;
            }
            for (uint32_t i = 0; i < n; i++) {
                if (buffer[i] >= (uint32_t)numVertices) {
                    RaiseError(WORLD_ERR_BAD_DATA);
                    ok = false;
                    break;
                }
                next[i] = (uint16_t)buffer[i];
            }
            next += n;
            done += n;
        }
    }
    if (ok && sum != total) {
        RaiseError(WORLD_ERR_BAD_DATA);
        ok = false;
    }
    if (!ok) {
        MeshHeader_Destroy(header);
        return nullptr;
    }
    return header;
}

// ---- module ----

void* Mesh_ModuleOpen(void* instance, int32_t offset, int32_t)
{
    sOffset = offset;
    MeshGlobals* g = Globals();
    g->serial = 1;
    return instance;
}

void* Mesh_ModuleClose(void* instance, int32_t, int32_t)
{
    Mesh_SetBuilder(nullptr, nullptr);
    return instance;
}

int32_t worldinternal::MeshModule_GlobalsSize(void) { return (int32_t)sizeof(MeshGlobals); }
