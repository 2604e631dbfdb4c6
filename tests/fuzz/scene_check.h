// Checks a parsed scene the way the loader will use it: the records form
// one forest reached from the root exactly once, parents and children agree,
// the counts of cameras and lights lie inside the items, every name offset
// lies inside its pool and every bone chain ends. A failed check aborts the
// fuzz run.
#pragma once

#include <cstdlib>
#include <vector>

#include "engine/scene.h"

namespace fuzz {

inline void Require(bool ok)
{
    if (!ok) abort();
}

inline void CheckScene(const Scene* s)
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

}  // namespace fuzz
