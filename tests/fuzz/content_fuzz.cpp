// Fuzzes the content layer's readers; the first byte picks one for the rest.
// 0, 1: the ".lws" text parser and the "lsf" cache reader, whose scene holds
// together as the loader walks it (one forest reached from the root once,
// parents and children agreeing, cameras and lights and names inside their
// ranges, bone chains ending) or, refused, stays empty. 2: the skin-weight
// cache reader for three bones on a mesh of up to seven vertices (the file's
// first byte picks), whose weights name the binding's bones.
#include <cstdlib>
#include <vector>

#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/scenecache.h"
#include "engine/scenedata.h"
#include "engine/scenetext.h"
#include "engine/skincache.h"
#include "fuzz_files.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"

// Linked without the engine's skinning: nothing here binds a skin.
void NodeExtra_ReleaseHierarchy(NodeExtra* extra)
{
    extra->hierarchy = nullptr;
    extra->skin = nullptr;
}

namespace {

void Require(bool ok)
{
    if (!ok) abort();
}

void CheckScene(const Scene* s)
{
    const uint32_t n = s->itemCount;
    std::vector<int> seen(n, 0);
    uint32_t visited = 0;
    const SceneRecord* r = s->root;
    while (r) {
        const uint32_t i = (uint32_t)(r - s->records);
        Require(i < n && !seen[i]);
        seen[i] = 1;
        visited++;
        Require(r->item == &s->items[i]);
        Require(r->nameOffset < s->itemNameSize);
        if (r->firstChild) {
            Require(r->firstChild->parent == r);
            r = r->firstChild;
            continue;
        }
        while (r && !r->next) r = r->parent;
        if (r) {
            Require(r->next->parent == r->parent);
            r = r->next;
        }
    }
    Require(visited == n);
    Require(s->firstCamera == -1 ? s->cameraCount == 0 : s->firstCamera + (int64_t)s->cameraCount <= n);
    Require(s->firstLight == -1 ? s->lightCount == 0 : s->firstLight + (int64_t)s->lightCount <= n);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t steps = 0;
        for (const SceneBone* b = s->items[i].firstBone; b; b = b->next) Require(++steps <= s->boneCount);
    }
    for (uint32_t b = 0; b < s->boneCount; b++) Require(s->boneParents[b] <= s->boneCount);
}

bool ReadText(Scene* scene)
{
    void* file = File_Open("fuzz.lws", "r");
    if (!file) return false;
    int version = 0;
    const bool read = SceneText_ReadVersion(file, &version) && SceneText_Parse(scene, file, version);
    File_Close(file);
    return read;
}

void ReadWeights(const uint8_t* data, size_t size)
{
    NodeExtra_Init();
    Geometry geometry{};
    geometry.numVertices = size ? data[0] % 8 : 6;
    Atomic atomic{.geometry = &geometry};
    RenderObj object{.atomic = &atomic};
    Node node{};
    NodeExtra* e = NodeExtra_Create(&node, 3, 4);
    if (ObjectCache_Read(e, &object, "Chars\\Fuzz")) {
        Require(e->vertexCount == (uint32_t)geometry.numVertices);
        for (uint32_t i = 0; i < e->vertexCount * 3; i++) Require(e->weights[i].bone < 3);
    }
    NodeExtra_Destroy(&node);
    NodeExtra_Shutdown();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    fuzz::Input input(data + 1, size - 1);
    Scene scene{};
    if (data[0] % 3 == 2) {
        ReadWeights(data + 1, size - 1);
    } else if (data[0] % 3 == 1 ? SceneCache_Read(&scene, "Cache\\00\\fuzz.lsf") : ReadText(&scene)) {
        CheckScene(&scene);
        SceneData_Free(&scene);
    } else {
        Require(scene.items == nullptr && scene.itemNames == nullptr && scene.bones == nullptr);
    }
    return 0;
}
