#include "engine/animset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/cache.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/animfile.h"
#include "engine/loaderror.h"
#include "engine/node.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/scenelight.h"
#include "engine/sceneplay.h"
#include "engine/trigger.h"

namespace {

constexpr float kWholeEpsilon = 1e-5f;

struct AnimSetModule {
    List* pool;
    int moduleFlag = 1;
};

AnimSetModule g_animSets;

const char* EventName(const AnimSet* set, uint32_t event) { return set->eventNames + set->events[event].nameOffset; }

bool IsWhole(const AnimSet* set, const AnimSetKeyEvent& k)
{
    const float duration = Scene_GetDuration(set->animations[k.animation].scene);
    return k.start < kWholeEpsilon && k.end >= duration - kWholeEpsilon;
}

void Call(AnimSet* set, const AnimSetKeyEvent& k, int32_t phase, float time, float span)
{
    AnimEventHandler handler = set->events[k.event].handler;
    if (handler) handler(set, EventName(set, k.event), k.item, phase, time, span);
}

// Whole-animation events of an animation, with their switch phase.
void FireWhole(AnimSet* set, uint32_t animation, int32_t phase)
{
    for (uint32_t i = 0; i < set->keyEventCount; i++) {
        const AnimSetKeyEvent& k = set->keyEvents[i];
        if (k.animation == animation && IsWhole(set, k)) Call(set, k, phase, 0.0f, 0.0f);
    }
}

// Ends the key events of an animation that started and did not end.
void CloseOpen(AnimSet* set, uint32_t animation)
{
    for (uint32_t i = 0; i < set->keyEventCount; i++) {
        AnimSetKeyEvent& k = set->keyEvents[i];
        if (k.animation != animation || !k.open) continue;
        k.open = 0;
        Call(set, k, 1, 0.0f, 0.0f);
    }
}

// One start or end of a key event crossed by a time step.
struct Crossing {
    float time;
    uint32_t event;  // into the set's key events
    int32_t phase;
};

// Scratch of Cross, grown as sets with more key events come.
Crossing* g_crossings;
uint32_t g_crossingCapacity;

// Fires the current animation's key-event times that lie in (from, to] in
// time order (the start before the end of one event at one time); from =
// -infinity counts everything up to `to`.
void Cross(AnimSet* set, float from, float to)
{
    const uint32_t need = set->keyEventCount * 2;
    if (need > g_crossingCapacity) {
        Crossing* bigger = (Crossing*)Mem_Realloc(g_crossings, 8, sizeof(Crossing) * need);
        if (!bigger) return;
        g_crossings = bigger;
        g_crossingCapacity = need;
    }
    uint32_t count = 0;
    for (uint32_t i = 0; i < set->keyEventCount; i++) {
        const AnimSetKeyEvent& k = set->keyEvents[i];
        if (k.animation != (uint32_t)set->current || !set->events[k.event].handler || IsWhole(set, k)) continue;
        if (from < k.start && k.start <= to) g_crossings[count++] = Crossing{k.start, i, 0};
        if (from < k.end && k.end <= to) g_crossings[count++] = Crossing{k.end, i, 1};
    }
    std::stable_sort(g_crossings, g_crossings + count,
                     [](const Crossing& a, const Crossing& b) { return a.time < b.time; });
    for (uint32_t i = 0; i < count; i++) {
        AnimSetKeyEvent& k = set->keyEvents[g_crossings[i].event];
        const int32_t phase = g_crossings[i].phase;
        k.open = phase == 0;
        Call(set, k, phase, to - g_crossings[i].time, phase == 0 ? k.end - k.start : 0.0f);
    }
}

// For each animated node of the current scene (items and bones with more
// than one key: the ones the scene poses again at every time), the previous
// scene's node of the same name.
void PairForBlend(AnimSet* set, const AnimSetAnimation& to, const AnimSetAnimation& from)
{
    const Scene* a = to.scene;
    const uint32_t count = (uint32_t)a->itemCount + a->boneCount;
    if (count > set->blendPairCount) {
        Node** bigger = (Node**)Mem_Realloc(set->blendPairs, 8, sizeof(Node*) * count);
        if (!bigger) {
            set->blendPairCount = 0;
            return;
        }
        set->blendPairs = bigger;
        set->blendPairCount = count;
    }
    memset(set->blendPairs, 0, sizeof(Node*) * set->blendPairCount);
    const Scene* b = from.scene;
    const uint32_t other = (uint32_t)b->itemCount + b->boneCount;
    auto find = [&](Node* node) -> Node* {
        const uint32_t hash = Node_GetNameHash(node);
        if (!hash) return nullptr;
        for (uint32_t j = 0; j < other; j++)
            if (b->nodes[j] && Node_GetNameHash(b->nodes[j]) == hash) return b->nodes[j];
        return nullptr;
    };
    for (uint32_t i = 0; i < a->itemCount; i++)
        if (a->items[i].keyCount > 1) set->blendPairs[a->items[i].nodeIndex] = find(a->nodes[a->items[i].nodeIndex]);
    for (uint32_t i = 0; i < a->boneCount; i++)
        if (a->bones[i].keyCount > 1) set->blendPairs[a->bones[i].nodeIndex] = find(a->nodes[a->bones[i].nodeIndex]);
}

void Blend(AnimSet* set, const AnimSetAnimation& a)
{
    const float f = a.blendClock / a.blendTime;
    const uint32_t count = (uint32_t)a.scene->itemCount + a.scene->boneCount;
    for (uint32_t i = 0; i < count && i < set->blendPairCount; i++) {
        Node* from = set->blendPairs[i];
        Node* to = a.scene->nodes[i];
        if (!from || !to) continue;
        Mat4 m;
        for (int r = 0; r < 4; r++)
            for (int c = 0; c < 4; c++) m.m[r][c] = Math_Lerp(from->local.m[r][c], to->local.m[r][c], f);
        Node_SetMatrix(to, &m);
    }
}

void FreeSet(AnimSet* set)
{
    if (set->source) {
        Trigger_ReleaseForSet(set);
    } else {
        Mem_Free(set->names);
        Mem_Free(set->eventNames);
        Mem_Free(set->events);
        Trigger_ReleaseForSet(set);
    }
    Mem_Free(set->keyEvents);
    for (uint32_t i = 0; i < set->animationCount; i++) {
        Scene_Release(set->animations[i].scene);
        Node_Destroy(set->animations[i].node);
    }
    Mem_Free(set->animations);
    Mem_Free(set->blendPairs);
    AnimSet* source = set->source;
    List_Free(g_animSets.pool, set);
    if (source) AnimSet_Release(source);
}

// Appends text (with its NUL) to a growing block; the offset, or -1.
int64_t AppendText(char** block, uint32_t* size, const char* text)
{
    const size_t length = strlen(text) + 1;
    char* bigger = (char*)Mem_Realloc(*block, 4, *size + length);
    if (!bigger) return -1;
    memcpy(bigger + *size, text, length);
    *block = bigger;
    const uint32_t at = *size;
    *size += (uint32_t)length;
    return at;
}

int ReleaseAll(void* item, void*)
{
    AnimSet* set = (AnimSet*)item;
    // Instances first: their sources go with their last instance.
    if (set->source) {
        set->refCount = 1;
        AnimSet_Release(set);
    }
    return 0;
}

int ReleaseLoaded(void* item, void*)
{
    AnimSet* set = (AnimSet*)item;
    set->refCount = 1;
    AnimSet_Release(set);
    return 0;
}

}  // namespace

int AnimSet_Init(void)
{
    if (!g_animSets.pool) g_animSets.pool = List_Create(sizeof(AnimSet));
    g_animSets.moduleFlag = 1;
    Trigger_InitTypeNames();
    return g_animSets.pool != nullptr;
}

void AnimSet_ReleaseAll(void)
{
    if (!g_animSets.pool) return;
    List_ForEach(g_animSets.pool, ReleaseAll, nullptr);
    List_ForEach(g_animSets.pool, ReleaseLoaded, nullptr);
}

void AnimSet_Shutdown(void)
{
    AnimSet_ReleaseAll();
    List_Destroy(g_animSets.pool);
    g_animSets.pool = nullptr;
    Mem_Free(g_crossings);
    g_crossings = nullptr;
    g_crossingCapacity = 0;
}

List* AnimSet_GetPool(void) { return g_animSets.pool; }
void AnimSet_SetModuleFlag(int on) { g_animSets.moduleFlag = on; }
int AnimSet_GetModuleFlag(void) { return g_animSets.moduleFlag; }

AnimSet* AnimSet_Load(const char* name, const char* extension, Node* node, AnimEventLookup lookup)
{
    char source[260];
    snprintf(source, sizeof source, "%s%s", name ? name : "", extension ? extension : "");
    char cacheName[CACHE_NAME_MAX];
    Cache_NameFromSource(cacheName, source, 0, "atf");
    return AnimSet_Read(cacheName, node, lookup);
}

AnimSet* AnimSet_Read(const char* cacheName, Node* node, AnimEventLookup lookup)
{
    if (!g_animSets.pool) return nullptr;
    AnimFile* file = AnimFile_Read(cacheName);
    if (!file) return nullptr;
    AnimSet* set = (AnimSet*)List_Alloc(g_animSets.pool);
    int32_t* loadedIndex = (int32_t*)Mem_Alloc(sizeof(int32_t) * (file->animationCount + 1));
    if (set) {
        set->node = node;
        set->current = -1;
        set->refCount = 1;
        set->animations = (AnimSetAnimation*)Mem_Calloc(sizeof(AnimSetAnimation) * (file->animationCount + 1), 8);
        set->events = (AnimSetEvent*)Mem_Calloc(sizeof(AnimSetEvent) * (file->eventCount + 1), 8);
        set->keyEvents = (AnimSetKeyEvent*)Mem_Calloc(sizeof(AnimSetKeyEvent) * (file->keyEventCount + 1), 8);
    }
    if (!set || !loadedIndex || !set->animations || !set->events || !set->keyEvents) {
        if (set) FreeSet(set);
        Mem_Free(loadedIndex);
        AnimFile_Free(file);
        return nullptr;
    }

    // Scenes; an animation whose scene does not load is left out.
    for (uint32_t i = 0; i < file->animationCount; i++) {
        const AnimFileAnimation& f = file->animations[i];
        loadedIndex[i] = -1;
        Node* animationNode = Node_Create(nullptr);
        Scene* scene = animationNode ? Scene_Load(f.scenePath, animationNode, f.sceneFlags, nullptr) : nullptr;
        const int64_t name = scene ? AppendText(&set->names, &set->namesSize, f.name) : -1;
        if (name < 0) {
            Scene_Release(scene);
            Node_Destroy(animationNode);
            continue;
        }
        AnimSetAnimation& a = set->animations[set->animationCount];
        a.nameOffset = (uint32_t)name;
        a.node = animationNode;
        a.scene = scene;
        a.valueA = f.valueA;
        a.blendTime = f.blendTime;
        a.previous = -1;
        a.noBlend = f.flags & ANIMFILE_NO_BLEND ? 1 : 0;
        a.hasLights = f.flags & ANIMFILE_LIGHTS ? 1 : 0;
        // Lights shine only while their animation is current.
        if (a.hasLights && Scene_CreateLights(scene)) Scene_SetLightsEnabled(scene, 0);
        loadedIndex[i] = (int32_t)set->animationCount++;
    }

    // Events: a trigger, else the game's handler.
    for (uint32_t i = 0; i < file->eventCount; i++) {
        const int64_t at = AppendText(&set->eventNames, &set->eventNamesSize, file->eventNames[i]);
        if (at < 0) break;
        AnimSetEvent& e = set->events[set->eventCount++];
        e.nameOffset = (uint32_t)at;
        e.handler = Trigger_Parse(set, file->eventNames[i]);
        if (!e.handler && lookup) e.handler = lookup(set, file->eventNames[i]);
    }

    // Key events, with the file's animation indices mapped to the loaded
    // ones; events of animations left out and indices outside what was
    // loaded are skipped.
    for (uint32_t i = 0; i < file->keyEventCount; i++) {
        const AnimFileKeyEvent& f = file->keyEvents[i];
        if (f.animation >= file->animationCount || loadedIndex[f.animation] < 0 || f.event >= set->eventCount) continue;
        const uint32_t animation = (uint32_t)loadedIndex[f.animation];
        Node* item = Scene_GetItemNode(set->animations[animation].scene, f.item);
        if (!item) continue;
        set->keyEvents[set->keyEventCount++] = AnimSetKeyEvent{item, f.item, animation, f.event, f.start, f.end, 0};
    }
    Mem_Free(loadedIndex);
    AnimFile_Free(file);
    if (set->animationCount) AnimSet_PlayIndex(set, 0);
    return set;
}

AnimSet* AnimSet_Instance(AnimSet* source, Node* node)
{
    if (!source || !g_animSets.pool) return nullptr;
    AnimSet* root = source->source ? source->source : source;
    AnimSet* set = (AnimSet*)List_Alloc(g_animSets.pool);
    if (!set) return nullptr;
    set->node = node;
    set->names = root->names;
    set->namesSize = root->namesSize;
    set->eventNames = root->eventNames;
    set->eventNamesSize = root->eventNamesSize;
    set->events = root->events;
    set->eventCount = root->eventCount;
    set->current = -1;
    set->refCount = 1;
    set->source = root;
    root->refCount++;
    set->animations = (AnimSetAnimation*)Mem_Calloc(sizeof(AnimSetAnimation) * (source->animationCount + 1), 8);
    set->keyEvents = (AnimSetKeyEvent*)Mem_Calloc(sizeof(AnimSetKeyEvent) * (source->keyEventCount + 1), 8);
    bool ok = set->animations && set->keyEvents;
    for (uint32_t i = 0; ok && i < source->animationCount; i++) {
        AnimSetAnimation a = source->animations[i];
        a.node = Node_Create(nullptr);
        a.scene = a.node ? Scene_Instance(root->animations[i].scene, a.node) : nullptr;
        a.blendClock = 0.0f;
        a.previous = -1;
        if (!a.scene) {
            Node_Destroy(a.node);
            ok = false;
            break;
        }
        if (a.hasLights) Scene_SetLightsEnabled(a.scene, 0);
        set->animations[set->animationCount++] = a;
    }
    for (uint32_t i = 0; ok && i < source->keyEventCount; i++) {
        AnimSetKeyEvent k = source->keyEvents[i];
        k.item = Scene_GetItemNode(set->animations[k.animation].scene, k.itemIndex);
        k.open = 0;
        set->keyEvents[set->keyEventCount++] = k;
    }
    if (ok) ok = Trigger_InstanceForSet(source, set) != 0;
    if (!ok) {
        FreeSet(set);
        return nullptr;
    }
    if (set->animationCount) AnimSet_PlayIndex(set, 0);
    return set;
}

AnimSet* AnimSet_AddRef(AnimSet* set)
{
    if (set) set->refCount++;
    return set;
}

void AnimSet_Release(AnimSet* set)
{
    if (!set || set->refCount == 0) return;
    if (--set->refCount == 0) FreeSet(set);
}

int AnimSet_Play(AnimSet* set, const char* name)
{
    if (!set || !name) return 0;
    for (uint32_t i = 0; i < set->animationCount; i++)
        if (strcmp(set->names + set->animations[i].nameOffset, name) == 0) return AnimSet_PlayIndex(set, (int32_t)i);
    return 0;
}

int AnimSet_PlayIndex(AnimSet* set, int32_t index)
{
    if (!set || index < 0 || (uint32_t)index >= set->animationCount) return 0;
    AnimSetAnimation& next = set->animations[index];
    Node_SetParent(next.node, set->node);
    if (index == set->current) return 1;
    const int32_t old = set->current;
    if (old >= 0) {
        AnimSetAnimation& last = set->animations[old];
        Node_SetParent(last.node, nullptr);
        FireWhole(set, (uint32_t)old, 0);
        CloseOpen(set, (uint32_t)old);
        if (last.hasLights) Scene_SetLightsEnabled(last.scene, 0);
    }
    set->current = index;
    FireWhole(set, (uint32_t)index, 1);
    if (next.hasLights) Scene_SetLightsEnabled(next.scene, 1);
    next.previous = -1;
    next.blendClock = 0.0f;
    if (!next.noBlend && next.blendTime > 0.0f && old >= 0) {
        next.previous = old;
        PairForBlend(set, next, set->animations[old]);
    }
    return 1;
}

int AnimSet_PlayFromStart(AnimSet* set, const char* name)
{
    if (!set || !name) return 0;
    for (uint32_t i = 0; i < set->animationCount; i++)
        if (strcmp(set->names + set->animations[i].nameOffset, name) == 0)
            return AnimSet_PlayIndexFromStart(set, (int32_t)i);
    return 0;
}

int AnimSet_PlayIndexFromStart(AnimSet* set, int32_t index)
{
    if (!set || index < 0 || (uint32_t)index >= set->animationCount || index == set->current) return 0;
    AnimSet_PlayIndex(set, index);
    Scene_SetTime(set->animations[index].scene, 0.0f);
    set->restarted = 1;
    return 1;
}

const char* AnimSet_GetCurrentName(const AnimSet* set)
{
    return set && set->current >= 0 ? set->names + set->animations[set->current].nameOffset : nullptr;
}

int32_t AnimSet_GetCurrentIndex(const AnimSet* set) { return set ? set->current : -1; }
uint32_t AnimSet_GetCount(const AnimSet* set) { return set ? set->animationCount : 0; }

const char* AnimSet_GetName(const AnimSet* set, uint32_t index)
{
    return set && index < set->animationCount ? set->names + set->animations[index].nameOffset : nullptr;
}

Scene* AnimSet_GetAnimScene(const AnimSet* set, uint32_t index)
{
    return set && index < set->animationCount ? set->animations[index].scene : nullptr;
}

Scene* AnimSet_GetCurrentScene(const AnimSet* set)
{
    return set && set->current >= 0 ? set->animations[set->current].scene : nullptr;
}

float AnimSet_GetLength(const AnimSet* set)
{
    const Scene* scene = AnimSet_GetCurrentScene(set);
    return scene ? Scene_GetDuration(scene) : 0.0f;
}

float AnimSet_GetTime(const AnimSet* set)
{
    const Scene* scene = AnimSet_GetCurrentScene(set);
    return scene ? Scene_GetTime(scene) : 0.0f;
}

void AnimSet_SetTime(AnimSet* set, float t)
{
    if (!set || set->current < 0) return;
    AnimSetAnimation& a = set->animations[set->current];
    if (!set->started) {
        // The first time of a set starts its animation from scratch (its
        // whole-animation events fired when it became current).
        set->started = 1;
        Scene_SetTime(a.scene, 0.0f);
        set->restarted = 1;
    }
    const float previous = Scene_GetTime(a.scene);
    if (t > previous || set->restarted) {
        const float from = set->restarted ? -INFINITY : previous;
        const float duration = Scene_GetDuration(a.scene);
        if ((a.scene->flags & SCENE_LOOP) && duration > 0.0f && t >= duration) {
            // A wrap: the rest of this pass, its open events closed, then
            // on from the start.
            Cross(set, from, duration);
            CloseOpen(set, (uint32_t)set->current);
            Cross(set, -INFINITY, std::fmod(t, duration));
        } else {
            Cross(set, from, t);
        }
        set->restarted = 0;
    }
    Scene_SetTime(a.scene, t);
    if (g_animSets.moduleFlag && a.previous >= 0 && a.blendTime > 0.0f) Blend(set, a);
}

int AnimSet_Advance(AnimSet* set, float dt, uint32_t mode)
{
    if (!set || set->current < 0) return 1;
    AnimSetAnimation& a = set->animations[set->current];
    const float t = Scene_GetTime(a.scene) + dt;
    const bool ended = t >= Scene_GetDuration(a.scene);
    const uint32_t looping = a.scene->flags & SCENE_LOOP;
    if (ended && mode == ANIMSET_ADVANCE_ONCE) a.scene->flags &= ~SCENE_LOOP;
    if (ended && mode == ANIMSET_ADVANCE_LOOP) a.scene->flags |= SCENE_LOOP;
    AnimSet_SetTime(set, t);
    a.scene->flags = (a.scene->flags & ~SCENE_LOOP) | looping;
    Trigger_UpdateAll(set, dt);
    if (a.previous >= 0) {
        a.blendClock += dt;
        if (a.blendClock >= a.blendTime) {
            a.blendClock = 0.0f;
            a.previous = -1;
        }
    }
    return ended ? 0 : 1;
}

namespace {

int FlagVisual(Node* node, void*)
{
    RenderObj* visual = Node_GetVisual(node);
    if (visual && !(visual->blendFlags & (RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_MULTIPLY)))
        RenderObj_SetFlags(visual, RENDEROBJ_BLEND_ALPHA, 1);
    return 0;
}

}  // namespace

void AnimSet_SetAlpha(AnimSet* set, float alpha)
{
    if (!set) return;
    for (uint32_t i = 0; i < set->animationCount; i++) Node_SetAlpha(set->animations[i].node, alpha);
}

void AnimSet_FlagVisuals(AnimSet* set)
{
    if (!set) return;
    for (uint32_t i = 0; i < set->animationCount; i++) Node_ForAll(set->animations[i].node, FlagVisual, nullptr);
}

void AnimSet_RefreshAttachments(AnimSet* set)
{
    if (!set) return;
    for (uint32_t i = 0; i < set->animationCount; i++) Node_RefreshAttachments(set->animations[i].node);
}

void AnimSet_SetObject(AnimSet* set, void* object) { set->object = object; }
void* AnimSet_GetObject(const AnimSet* set) { return set->object; }
