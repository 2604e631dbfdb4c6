// Scene loading, instancing, release and queries. The parse itself is in
// scenetext.cpp, the cache in scenecache.cpp, playback in sceneplay.cpp.
//
// Node order: the records are walked depth-first from the root chain, each
// record's node created under its parent record's node (roots under the
// load's parent), so node indices follow that walk and a parent's node
// always comes before its children's. Node_Create puts a new child first in
// its parent's list, so siblings are found in reverse creation order.
#include "engine/scene.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/cache.h"
#include "app/file.h"
#include "app/namecache.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/loaderror.h"
#include "engine/lwo.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/objectworld.h"
#include "engine/renderobj.h"
#include "engine/scenecache.h"
#include "engine/scenedata.h"
#include "engine/scenelight.h"
#include "engine/sceneplay.h"
#include "engine/scenetext.h"
#include "engine/skincache.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"

namespace {

constexpr int PATH_CHARS = 300;
constexpr float ON_SEGMENT_WEIGHT = 1e30f;  // a vertex on a bone follows it fully
constexpr float FIND_POINT = 0.00001f;

struct SceneModule {
    List* pool;
    NameCache* cache;
    int sharingOff;
};

SceneModule g_scene;

// ---- nodes ----

// "%s_%.2i" of name and number, with characters other than letters,
// digits, punctuation, blank and tab replaced by "_".
void NodeName(const char* name, uint32_t number, char* out, size_t size)
{
    snprintf(out, size, "%s_%.2u", name, number);
    for (char* c = out; *c; c++) {
        const unsigned char u = (unsigned char)*c;
        if (!(u < 0x80 && (isalnum(u) || ispunct(u) || u == ' ' || u == '\t'))) *c = '_';
    }
}

// Creates one node per record, depth-first from the root chain; for an
// instance (source given) each node copies the source's node of the same
// index: name, local matrix, alpha, hiding flags and visual (the source
// holds the visual's reference and outlives the instance).
int CreateItemNodes(Scene* s, Node* parent, const Scene* source)
{
    uint32_t next = 0;
    SceneRecord* r = s->root;
    while (r) {
        Node* under = r->parent ? s->nodes[r->parent->item->nodeIndex] : parent;
        Node* node = Node_Create(under);
        if (!node) return 0;
        const uint32_t index = next++;
        s->nodes[index] = node;
        if (source) {
            const Node* from = source->nodes[index];
            Node_SetName(node, Node_GetNameText(from));
            Node_SetMatrix(node, &from->local);
            node->alpha = from->alpha;
            node->flags |= from->flags & (NODE_NO_VISUAL | NODE_HIDDEN | NODE_ZERO_SCALE);
            Node_SetVisual(node, Node_GetVisual(from));
        } else {
            r->item->nodeIndex = (uint16_t)index;
            char name[PATH_CHARS];
            NodeName(SceneData_Name(s->itemNames, s->itemNameSize, r->nameOffset), r->duplicate, name, sizeof name);
            Node_SetName(node, name);
        }
        if (r->firstChild) {
            r = r->firstChild;
            continue;
        }
        while (r && !r->next) r = r->parent;
        if (r) r = r->next;
    }
    return next == s->itemCount;
}

void PoseAtFirstKey(Node* node, const SceneItem& item)
{
    if (item.keyCount > 0) {
        Scene_PoseItem(node, item.keys, 0, &item.pivotRotation, &item.pivot);
    } else {
        Mat4 identity;
        Node_SetMatrix(node, Mat4_Identity(&identity));
    }
}

// ---- bones and skin weights ----

Node* ItemNode(const Scene* s, const SceneItem& item) { return s->nodes[item.nodeIndex]; }

// The object's points at the mesh's vertices, found once per item: for each
// vertex the first point within 0.00001 of it on each axis (as
// Lwo_FindPoint answers, by a search over the points sorted by x), and for
// each point the first polygon using it (as Lwo_FindPolygonWithPoint).
struct PointLookup {
    int32_t* pointOfVertex;
    uint32_t* polygonOfPoint;  // UINT32_MAX: no polygon uses the point
};

int BuildLookup(const LwoObject* lwo, const Vec3* positions, uint32_t vertices, PointLookup* out)
{
    const uint32_t points = lwo->pointCount;
    out->pointOfVertex = (int32_t*)Mem_Alloc((vertices ? vertices : 1) * sizeof(int32_t), 8);
    out->polygonOfPoint = (uint32_t*)Mem_Alloc((points ? points : 1) * sizeof(uint32_t), 8);
    uint32_t* byX = (uint32_t*)Mem_Alloc((points ? points : 1) * sizeof(uint32_t), 8);
    if (!out->pointOfVertex || !out->polygonOfPoint || !byX) {
        Mem_Free(byX);
        return 0;
    }
    for (uint32_t p = 0; p < points; p++) out->polygonOfPoint[p] = UINT32_MAX, byX[p] = p;
    for (uint32_t i = lwo->polygonCount; i-- > 0;)
        for (uint32_t k = 0; k < lwo->polygons[i].count; k++)
            out->polygonOfPoint[lwo->indices[lwo->polygons[i].firstIndex + k]] = i;
    const Vec3* q = lwo->points;
    std::sort(byX, byX + points, [q](uint32_t a, uint32_t b) { return q[a].x < q[b].x || (q[a].x == q[b].x && a < b); });
    for (uint32_t v = 0; v < vertices; v++) {
        const Vec3& p = positions[v];
        uint32_t lo = 0, hi = points;
        while (lo < hi) {
            const uint32_t mid = (lo + hi) / 2;
            if (q[byX[mid]].x <= p.x - FIND_POINT)
                lo = mid + 1;
            else
                hi = mid;
        }
        int32_t found = -1;
        for (uint32_t k = lo; k < points && q[byX[k]].x < p.x + FIND_POINT; k++) {
            const Vec3& c = q[byX[k]];
            if (std::fabs(c.x - p.x) < FIND_POINT && std::fabs(c.y - p.y) < FIND_POINT &&
                std::fabs(c.z - p.z) < FIND_POINT && (found < 0 || byX[k] < (uint32_t)found))
                found = (int32_t)byX[k];
        }
        out->pointOfVertex[v] = found;
    }
    Mem_Free(byX);
    return 1;
}

// The factor of a bone's weight map at a vertex: the map's value at the
// object's point there, for the first polygon using it; 0 where the map has
// none, 1 without a map.
float MapFactor(const LwoObject* lwo, int32_t map, const PointLookup& lookup, uint32_t vertex)
{
    if (!lwo || map < 0) return 1.0f;
    const int32_t point = lookup.pointOfVertex[vertex];
    if (point < 0) return 0.0f;
    const uint32_t polygon = lookup.polygonOfPoint[point] == UINT32_MAX ? 0 : lookup.polygonOfPoint[point];
    float weight = 0.0f;
    return Lwo_GetPointWeight(lwo, (uint32_t)map, polygon, (uint32_t)point, &weight) ? weight : 0.0f;
}

// Weights from each bone segment's distance: (scale / d) ^ falloff times the
// bone's weight-map factor, where scale ^ falloff is the mean of the
// nearest and farthest distances, raised likewise.
int ComputeWeights(Scene* s, SceneItem& item, SceneRecord& record, NodeExtra* extra, const Geometry* g)
{
    const uint32_t vertices = (uint32_t)g->numVertices, bones = extra->boneCount;
    if (!NodeExtra_AllocWeightTable(extra, vertices)) return 0;
    const Vec3* positions = g->morphTarget[0].verts;
    if (!positions || !extra->weights) return 1;
    Node* itemNode = ItemNode(s, item);
    float nearest = FLT_MAX, farthest = 0.0f;
    uint32_t j = 0;
    for (SceneBone* b = item.firstBone; b && j < bones; b = b->next, j++) {
        Node* boneNode = s->nodes[b->nodeIndex];
        Vec3 a, tip;
        const Vec3 end = {0, 0, b->restLength};
        Node_GetRelativePosition(boneNode, itemNode, &a);
        Node_TransformPointTo(boneNode, itemNode, &end, &tip);
        for (uint32_t v = 0; v < vertices; v++) {
            const float d = Vec3_DistanceToLine(&positions[v], &a, &tip);
            NodeExtra_SetWeight(extra, v, j, d);
            if (d < nearest) nearest = d;
            if (d > farthest) farthest = d;
        }
    }
    const float exponent = item.falloff;
    const float scale = std::pow((farthest + nearest) * 0.5f, exponent);
    record.weightFactors = (float*)Mem_Alloc((size_t)vertices * bones * sizeof(float), 8);
    if (!record.weightFactors) return 0;
    record.vertexCount = vertices;
    PointLookup lookup = {nullptr, nullptr};
    if (record.lwo && !BuildLookup(record.lwo, positions, vertices, &lookup)) {
        Mem_Free(lookup.pointOfVertex);
        Mem_Free(lookup.polygonOfPoint);
        return 0;
    }
    j = 0;
    for (SceneBone* b = item.firstBone; b && j < bones; b = b->next, j++) {
        const char* mapName = SceneData_Name(s->weightMapNames, s->weightMapSize, b->weightMapOffset);
        const int32_t map = record.lwo && mapName[0] ? Lwo_FindVertexMap(record.lwo, LWO_MAP_WEIGHT, mapName) : -1;
        for (uint32_t v = 0; v < vertices; v++) {
            const float factor = MapFactor(record.lwo, map, lookup, v);
            record.weightFactors[(size_t)v * bones + j] = factor;
            const float d = NodeExtra_GetWeight(extra, v, j);
            const float w = d > 0.0f ? scale / std::pow(d, exponent) : ON_SEGMENT_WEIGHT;
            NodeExtra_SetWeight(extra, v, j, w * factor);
        }
    }
    Mem_Free(lookup.pointOfVertex);
    Mem_Free(lookup.polygonOfPoint);
    NodeExtra_SortWeights(extra);
    return 1;
}

// Bone nodes (named after the bone and its index, under the parent bone's
// node or the item's), their rest matrices, the item's binding and the bone
// slots with their inverse rest matrices.
int SetUpBones(Scene* s, const char* folder)
{
    for (uint32_t b = 0; b < s->boneCount; b++) s->nodes[s->itemCount + b] = nullptr;
    for (uint32_t i = 0; i < s->itemCount; i++) {
        SceneItem& item = s->items[i];
        if (!item.firstBone) continue;
        Node* itemNode = ItemNode(s, item);
        uint32_t count = 0;
        for (SceneBone* b = item.firstBone; b; b = b->next) count++;
        // Nodes in chain order, so a parent bone's node exists first where
        // the file lists parents first; a later parent is attached after.
        for (SceneBone* b = item.firstBone; b; b = b->next) {
            const uint32_t index = (uint32_t)(b - s->bones);
            Node* node = Node_Create(itemNode);
            if (!node) return 0;
            char name[PATH_CHARS];
            NodeName(b->name ? b->name : "", index, name, sizeof name);
            Node_SetName(node, name);
            b->nodeIndex = s->itemCount + index;
            b->itemNodeIndex = item.nodeIndex;
            s->nodes[b->nodeIndex] = node;
            const Vec3 one = {1, 1, 1};
            Mat4 rest;
            Scene_ComposeItemMatrix(&rest, &b->restPosition, &b->restDirection, &one, nullptr, nullptr);
            Node_SetMatrix(node, &rest);
        }
        for (SceneBone* b = item.firstBone; b; b = b->next) {
            const uint32_t parent = s->boneParents[b - s->bones];
            if (parent != 0 && s->nodes[s->itemCount + parent - 1])
                Node_SetParent(s->nodes[b->nodeIndex], s->nodes[s->itemCount + parent - 1]);
        }
        RenderObj* visual = Node_GetVisual(itemNode);
        if (!visual) continue;
        NodeExtra* extra;
        const int sharedSkin = visual->skin != nullptr;
        if (sharedSkin)
            extra = NodeExtra_Clone(visual->skin, itemNode, 1);
        else
            extra = NodeExtra_Create(itemNode, count, count < 4 ? count : 4);
        if (!extra) return 0;
        item.extra = extra;
        // Inverse rest matrices: each bone's rest in the item's frame,
        // inverted (recomputed on every load, whatever a cache held).
        uint32_t number = 0;
        for (SceneBone* b = item.firstBone; b; b = b->next, number++) {
            Node* node = s->nodes[b->nodeIndex];
            Mat4 world, itemWorld, itemInverse, rest;
            Node_GetWorldMatrix(node, &world);
            Node_GetWorldMatrix(itemNode, &itemWorld);
            Mat4_InvertAffine(&itemInverse, &itemWorld);
            Mat4_Multiply(&rest, &world, &itemInverse);
            Mat4_InvertAffine(&b->inverseRest, &rest);
            b->boneNumber = number;
        }
        if (sharedSkin) {
            number = 0;
            for (SceneBone* b = item.firstBone; b; b = b->next, number++)
                NodeExtra_AddBone(extra, number, s->nodes[b->nodeIndex], &b->inverseRest, 0, 0);
            continue;
        }
        SceneRecord& record = s->records[i];
        char path[PATH_CHARS * 2];
        const char* itemName = SceneData_Name(s->itemNames, s->itemNameSize, record.nameOffset);
        snprintf(path, sizeof path, "%s%s%s", folder, folder[0] ? "\\" : "", itemName);
        const Geometry* g = Atomic_GetGeometry(visual->atomic);
        if (!g) continue;
        if (!ObjectCache_Read(extra, visual, path)) {
            record.lwo = Lwo_Open(path, -1);
            if (!ComputeWeights(s, item, record, extra, g)) return 0;
            ObjectCache_Write(extra, path);
            visual->skin = extra;
        }
        number = 0;
        for (SceneBone* b = item.firstBone; b; b = b->next, number++)
            NodeExtra_AddBone(extra, number, s->nodes[b->nodeIndex], &b->inverseRest, 0, 0);
    }
    return 1;
}

// ---- load ----

int LoadVisuals(Scene* s, uint32_t flags, void* loaderArgument)
{
    for (uint32_t i = 0; i < s->itemCount; i++) {
        const SceneItem& item = s->items[i];
        Node* node = ItemNode(s, item);
        PoseAtFirstKey(node, item);
        if (item.dissolveCount == 1) Node_SetAlpha(node, 1.0f - item.dissolveValues[0]);
        if (item.kind & SCENE_ITEM_NULL) continue;
        char path[PATH_CHARS * 2];
        const char* name = SceneData_Name(s->itemNames, s->itemNameSize, s->records[i].nameOffset);
        if (s->folder[0])
            snprintf(path, sizeof path, "%s\\%s", s->folder, name);
        else
            snprintf(path, sizeof path, "%s", name);
        uint32_t objectFlags = 0;
        if (flags & SCENE_TWO_SIDED) objectFlags |= MESH_TWO_SIDED;
        if (item.firstBone) objectFlags |= MESH_SKINNED;
        if (flags & SCENE_UNSHARED_MESHES) objectFlags |= MESH_UNSHARED;
        uint32_t bones = 0;
        for (const SceneBone* b = item.firstBone; b; b = b->next) bones++;
        const int32_t weightsPerVertex = bones ? (int32_t)(bones < 4 ? bones : 4) - 1 : 0;
        int32_t created = 0;
        // A missing object leaves the node without a visual.
        Node_SetVisual(node, Mesh_LoadObject(path, nullptr, weightsPerVertex, objectFlags, &created, loaderArgument));
    }
    return 1;
}

void FreeWorkingData(Scene* s)
{
    for (uint32_t i = 0; i < s->itemCount; i++) {
        Lwo_Free(s->records[i].lwo);
        s->records[i].lwo = nullptr;
    }
    Mem_Free(s->folder);
    s->folder = nullptr;
}

// Destroys what a scene owns; its source's data stay with the source.
void Free(Scene* s)
{
    const int instance = s->source != nullptr;
    Scene_DestroyLights(s);
    if (s->nodes) {
        for (uint32_t i = 0; i < s->itemCount && !instance; i++) {
            const SceneItem& item = s->items[i];
            Node* node = item.nodeIndex < s->itemCount ? s->nodes[item.nodeIndex] : nullptr;
            if (!node) continue;
            RenderObj* visual = Node_GetVisual(node);
            if (NodeExtra* extra = Node_GetExtra(node)) {
                // A clone that shares this binding's skin takes it over.
                NodeExtra* heir = NodeExtra_Destroy(node);
                if (visual && visual->skin == extra) {
                    visual->skin = heir;
                    // Nobody poses the mesh any more: its hierarchy is gone.
                    if (!heir) Skin_AtomicSetHierarchy(visual->atomic, nullptr);
                }
            }
            if (!(item.kind & SCENE_ITEM_NULL)) {
                Node_SetVisual(node, nullptr);
                RenderObj_Release(&visual);
            }
        }
        for (uint32_t n = 0; n < (uint32_t)s->itemCount + s->boneCount; n++) Node_Destroy(s->nodes[n]);
        Mem_Free(s->nodes);
    }
    if (!instance) SceneData_Free(s);
    Mem_Free(s->folder);
    List_Free(g_scene.pool, s);
}

Scene* NewScene(uint32_t flags)
{
    Scene* s = (Scene*)List_Alloc(g_scene.pool);
    if (!s) {
        LoadError_Set("scene pool exhausted");
        return nullptr;
    }
    s->refCount = 1;
    s->releaseTag = 1;
    s->flags = flags & SCENE_LOOP;
    s->firstCamera = s->firstLight = -1;
    return s;
}

// Reads the scene's data: the text when the cache is stale (or refused),
// else the cache.
int ReadData(Scene* s, const char* path, const char* cacheName)
{
    const int stale = Cache_IsStale(path, cacheName);
    if (!stale && SceneCache_Read(s, cacheName)) return 1;
    // A refused cache is rebuilt from the text when there is one.
    LoadError_Clear();
    void* text = File_Open(path, "r");
    if (!text) {
        LoadError_Set("cannot open %s", path);
        return 0;
    }
    int version = 0;
    const int ok = SceneText_ReadVersion(text, &version) && SceneText_Parse(s, text, version);
    File_Close(text);
    if (ok) SceneCache_Write(s, cacheName);
    return ok;
}

int FirstScene(void*, void*) { return 1; }

int FirstInstance(void* item, void*) { return ((Scene*)item)->source != nullptr; }

}  // namespace

int Scene_Init(void)
{
    if (!g_scene.pool) g_scene.pool = List_Create(sizeof(Scene), 16);
    if (!g_scene.cache) g_scene.cache = NameCache_Create();
    return g_scene.pool && g_scene.cache;
}

void Scene_Shutdown(void)
{
    if (g_scene.pool) Scene_ReleaseAll();
    List_Destroy(g_scene.pool);
    NameCache_Destroy(g_scene.cache);
    g_scene.pool = nullptr;
    g_scene.cache = nullptr;
}

void Scene_ReleaseAll(void)
{
    // Instances first: each holds a reference to its source, whose data it
    // shares until it goes.
    for (;;) {
        Scene* s = (Scene*)List_ForEach(g_scene.pool, FirstInstance, nullptr);
        if (!s) s = (Scene*)List_ForEach(g_scene.pool, FirstScene, nullptr);
        if (!s) break;
        Scene_Release(s);
    }
}

List* Scene_GetPool(void) { return g_scene.pool; }

NameCache* Scene_GetCache(void) { return g_scene.cache; }

void Scene_DisableSharing(void) { g_scene.sharingOff = 1; }

void Scene_EnableSharing(void) { g_scene.sharingOff = 0; }

void Scene_SetReleaseTag(Scene* scene, uint32_t tag) { scene->releaseTag = tag; }

Scene* Scene_Load(const char* path, Node* parent, uint32_t flags, void* loaderArgument)
{
    LoadError_Clear();
    if (!path || !g_scene.pool) return nullptr;
    char full[PATH_CHARS];
    const size_t length = strlen(path);
    int hasExtension = length >= 4;
    for (size_t i = 0; hasExtension && i < 4; i++) hasExtension = (path[length - 4 + i] | 0x20) == ".lws"[i];
    if (snprintf(full, sizeof full, "%s%s", path, hasExtension ? "" : ".lws") >= (int)sizeof full) {
        LoadError_Set("scene path too long");
        return nullptr;
    }
    const int sharing = !(flags & SCENE_NO_SHARING) && !g_scene.sharingOff;
    if (sharing) {
        if (Scene* found = (Scene*)NameCache_Acquire(g_scene.cache, full, nullptr)) {
            NameCache_Release(g_scene.cache, found);
            if (found->boneCount == 0) {
                Scene* instance = Scene_Instance(found, parent);
                if (instance) instance->flags = flags & SCENE_LOOP;
                return instance;
            }
        }
    }
    char cacheName[CACHE_NAME_MAX];
    Cache_NameFromSource(cacheName, full, 0, "lsf");

    Scene* s = NewScene(flags);
    if (!s) return nullptr;
    const char* slash = strrchr(full, '\\');
    const size_t folderLength = slash ? (size_t)(slash - full) : 0;
    s->folder = (char*)Mem_Calloc(folderLength + 1, 8);
    int ok = s->folder != nullptr;
    if (ok) {
        memcpy(s->folder, full, folderLength);
        ok = ReadData(s, full, cacheName);
    }
    s->flags = flags & SCENE_LOOP;
    const uint32_t nodeCount = (uint32_t)s->itemCount + s->boneCount;
    if (ok) {
        s->nodes = (Node**)Mem_Calloc((nodeCount ? nodeCount : 1) * sizeof(Node*), 8);
        ok = s->nodes && CreateItemNodes(s, parent, nullptr);
        if (!ok) LoadError_Set("%s: out of nodes", full);
    }
    if (ok) {
        if (flags & SCENE_NODES_ONLY) {
            for (uint32_t i = 0; i < s->itemCount; i++) PoseAtFirstKey(ItemNode(s, s->items[i]), s->items[i]);
        } else {
            ok = LoadVisuals(s, flags, loaderArgument) && SetUpBones(s, s->folder);
            if (!ok) LoadError_Set("%s: out of memory or nodes for the bones", full);
        }
    }
    FreeWorkingData(s);
    if (!ok) {
        Free(s);
        return nullptr;
    }
    Scene_SetTime(s, 0.0f);
    if (sharing) NameCache_Add(g_scene.cache, full, s, 0);
    // An instance would share neither the bones' skin bindings nor a scene
    // kept out of the registry: objects made from this one must load afresh.
    if (s->boneCount > 0 || !sharing) ObjectWorld_SetLoadingFlag();
    return s;
}

Scene* Scene_Instance(Scene* source, Node* parent)
{
    Scene* s = NewScene(source->flags);
    if (!s) return nullptr;
    const Scene* data = source;
    // The instance shares the loaded scene's data and node layout.
    s->fps = data->fps;
    s->duration = data->duration;
    s->start = data->start;
    s->ambient = data->ambient;
    s->ambientIntensity = data->ambientIntensity;
    s->items = data->items;
    s->firstCamera = data->firstCamera;
    s->cameraCount = data->cameraCount;
    s->firstLight = data->firstLight;
    s->lightCount = data->lightCount;
    s->records = data->records;
    s->root = data->root;
    s->parentCodes = data->parentCodes;
    s->weightMapNames = data->weightMapNames;
    s->weightMapSize = data->weightMapSize;
    s->itemNames = data->itemNames;
    s->itemNameSize = data->itemNameSize;
    s->bones = data->bones;
    s->boneParents = data->boneParents;
    s->zoom = data->zoom;
    s->itemCount = data->itemCount;
    s->soundNullCount = data->soundNullCount;
    s->boneCount = data->boneCount;
    s->releaseTag = data->releaseTag;
    s->source = source;
    source->refCount++;
    const uint32_t nodeCount = (uint32_t)s->itemCount + s->boneCount;
    s->nodes = (Node**)Mem_Calloc((nodeCount ? nodeCount : 1) * sizeof(Node*), 8);
    int ok = s->nodes && CreateItemNodes(s, parent, source);
    if (ok) ok = Scene_CloneLights(s, source);
    if (!ok) {
        LoadError_Set("scene instance: out of nodes");
        Free(s);
        source->refCount--;
        return nullptr;
    }
    s->time = source->time;
    Scene_SetTime(s, source->time);
    return s;
}

void Scene_Release(Scene* scene)
{
    if (!scene) return;
    if (!NameCache_Release(g_scene.cache, scene)) return;
    if (--scene->refCount > 0) return;
    Scene* source = scene->source;
    Free(scene);
    if (source) Scene_Release(source);
}

float Scene_GetFps(const Scene* scene) { return scene->fps; }

float Scene_GetDuration(const Scene* scene) { return scene->duration; }

float Scene_GetTime(const Scene* scene) { return scene->time; }

Node* Scene_GetCamera(const Scene* scene, int32_t n, float* fov)
{
    if (n < 0 || n >= scene->cameraCount || scene->firstCamera < 0) return nullptr;
    if (fov && scene->zoom > 0.0f) *fov = 2.0f * std::atan(1.0f / scene->zoom);
    return Scene_GetItemNode(scene, scene->items[scene->firstCamera + n].nodeIndex);
}

Node* Scene_FindItemByHash(const Scene* scene, uint32_t hash)
{
    if (hash == 0 || !scene->nodes) return nullptr;
    for (uint32_t i = 0; i < scene->itemCount; i++)
        if (scene->nodes[i] && Node_GetNameHash(scene->nodes[i]) == hash) return scene->nodes[i];
    return nullptr;
}

Node* Scene_FindItem(const Scene* scene, const char* name, int32_t number)
{
    char full[PATH_CHARS];
    snprintf(full, sizeof full, "%s_%.2d", name, number);
    return Scene_FindItemByHash(scene, Name_Hash(full, 0, 1));
}

Node* Scene_FindNthItemByPrefix(const Scene* scene, const char* prefix, uint32_t length, uint32_t n)
{
    if (!scene->nodes) return nullptr;
    for (uint32_t i = 0; i < scene->itemCount; i++) {
        const char* name = scene->nodes[i] ? Node_GetNameText(scene->nodes[i]) : nullptr;
        if (name && strncmp(name, prefix, length) == 0 && n-- == 0) return scene->nodes[i];
    }
    return nullptr;
}

Node* Scene_GetBoneNode(const Scene* scene, uint32_t bone)
{
    if (!scene->nodes || bone >= scene->boneCount) return nullptr;
    return scene->nodes[scene->itemCount + bone];
}

Node* Scene_GetItemNode(const Scene* scene, uint32_t index)
{
    if (!scene->nodes || index >= scene->itemCount) return nullptr;
    return scene->nodes[index];
}

const char* Scene_GetItemName(const Scene* scene, uint32_t item)
{
    if (item >= scene->itemCount) return "";
    return SceneData_Name(scene->itemNames, scene->itemNameSize, scene->records[item].nameOffset);
}
