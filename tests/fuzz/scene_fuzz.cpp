// Fuzzes the scene readers; the first byte picks the ".lws" text parser (0)
// or the "lsf" cache reader (1) for the rest. A scene either reader accepts
// must hold together as the loader will walk it: one forest reached from the
// root exactly once, parents and children agreeing, cameras and lights inside
// the items, names inside their pool and every bone chain ending. A refused
// one leaves nothing allocated.
#include <cstdlib>
#include <vector>

#include "engine/scene.h"
#include "engine/scenecache.h"
#include "engine/scenedata.h"
#include "engine/scenetext.h"
#include "fuzz_files.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    fuzz::Input input(data + 1, size - 1);
    Scene scene{};
    if (data[0] & 1 ? SceneCache_Read(&scene, "Cache\\00\\fuzz.lsf") : ReadText(&scene)) {
        CheckScene(&scene);
        SceneData_Free(&scene);
    } else {
        Require(scene.items == nullptr && scene.itemNames == nullptr && scene.bones == nullptr);
    }
    return 0;
}
