#include "gfx/core/arena.h"

#include <cstddef>
#include <initializer_list>

#include "gfx/core/error.h"
#include "gfx/core/resourceheap.h"

namespace {

struct ArenaModule {
    size_t bytesInUse;
    size_t bytesEvicted;  // evicted from the current frame's list
    void* memory;
    ResourceHeap* heap;   // null when the arena has size 0
    EngineLink lists[2];
    EngineLink* current;  // entries created this frame
    EngineLink* older;    // everything before; its tail is the oldest
    bool open;
};

ArenaModule g_arena;

inline ResourceArenaEntry* EntryOf(EngineLink* l) { return (ResourceArenaEntry*)l; }

bool Build(size_t bytes)
{
    EngineLink_Init(&g_arena.lists[0]);
    EngineLink_Init(&g_arena.lists[1]);
    g_arena.current = &g_arena.lists[0];
    g_arena.older = &g_arena.lists[1];
    g_arena.bytesInUse = g_arena.bytesEvicted = 0;
    g_arena.memory = nullptr;
    g_arena.heap = nullptr;
    if (bytes == 0) return true;
    if (bytes > 0xFFFFFFFFu) {
        Error_Raise((uint32_t)ERR_ARENA_FULL);
        return false;
    }
    g_arena.memory = Engine_Malloc(bytes);
    if (!g_arena.memory) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    if (!ResourceHeap_Init(g_arena.memory, (uint32_t)bytes)) {
        Engine_Free(g_arena.memory);
        g_arena.memory = nullptr;
        Error_Raise((uint32_t)ERR_ARENA_FULL);
        return false;
    }
    g_arena.heap = (ResourceHeap*)g_arena.memory;
    return true;
}

void Release(void)
{
    ResourceArena_Empty();
    Engine_Free(g_arena.memory);
    g_arena.memory = nullptr;
    g_arena.heap = nullptr;
}

}  // namespace

int32_t ResourceArena_SetSize(size_t bytes)
{
    g_engineInstance->arenaSize = bytes;
    if (!g_arena.open) return 1;
    Release();
    return Build(bytes) ? 1 : 0;
}

ResourceArenaEntry* ResourceArena_AllocateEntry(void* owner, ResourceArenaEntry** ownerRef, uint32_t size,
                                                ResourceArenaNotifyFn destroyNotify)
{
    for (;;) {
        void* block = nullptr;
        if (g_arena.heap && size <= 0xFFFFFFFFu - sizeof(ResourceArenaEntry))
            block = ResourceHeap_Alloc(g_arena.heap, size + (uint32_t)sizeof(ResourceArenaEntry));
        if (block) {
            ResourceArenaEntry* e = (ResourceArenaEntry*)block;
            EngineLink_InsertHead(g_arena.current, &e->link);
            e->size = size;
            e->owner = owner;
            e->ownerRef = ownerRef;
            e->destroyNotify = destroyNotify;
            g_arena.bytesInUse += size;
            if (ownerRef) *ownerRef = e;
            return e;
        }
        if (g_arena.heap && !EngineLink_Empty(g_arena.older)) {
            ResourceArena_FreeEntry(EntryOf(g_arena.older->prev));
        } else if (g_arena.heap && !EngineLink_Empty(g_arena.current)) {
            ResourceArenaEntry* victim = EntryOf(g_arena.current->prev);
            g_arena.bytesEvicted += victim->size;
            ResourceArena_FreeEntry(victim);
        } else {
            if (ownerRef) *ownerRef = nullptr;
            Error_Raise((uint32_t)ERR_ARENA_FULL);
            return nullptr;
        }
    }
}

void ResourceArena_MoveToFront(ResourceArenaEntry* e)
{
    if (!e || !e->link.next || !g_arena.open) return;
    EngineLink_Remove(&e->link);
    EngineLink_InsertHead(g_arena.current, &e->link);
}

void ResourceArena_FreeEntry(ResourceArenaEntry* e)
{
    if (!e) return;
    if (e->destroyNotify) e->destroyNotify(e);
    if (e->ownerRef) *e->ownerRef = nullptr;
    if (!e->link.next) {
        Engine_Free(e);
        return;
    }
    EngineLink_Remove(&e->link);
    g_arena.bytesInUse -= e->size;
    ResourceHeap_Free(e);
}

void ResourceArena_NewFrame(void)
{
    if (!g_arena.open) return;
    // current + older becomes the older list (the older entries at its tail,
    // so they go first); the emptied list becomes the current one.
    EngineLink* cur = g_arena.current;
    EngineLink* old = g_arena.older;
    if (!EngineLink_Empty(old)) {
        EngineLink* first = old->next;
        EngineLink* last = old->prev;
        last->next = cur;
        first->prev = cur->prev;
        cur->prev->next = first;
        cur->prev = last;
        EngineLink_Init(old);
    }
    g_arena.current = old;
    g_arena.older = cur;
    g_arena.bytesEvicted = 0;
}

void ResourceArena_Empty(void)
{
    if (!g_arena.open) return;
    for (EngineLink* list : {g_arena.current, g_arena.older})
        while (!EngineLink_Empty(list)) ResourceArena_FreeEntry(EntryOf(list->next));
    g_arena.bytesEvicted = 0;
}

size_t ResourceArena_BytesInUse(void) { return g_arena.bytesInUse; }
size_t ResourceArena_BytesEvicted(void) { return g_arena.bytesEvicted; }

void* ResourceArena_ModuleOpen(void* instance, int32_t, int32_t)
{
    if (!Build(g_engineInstance->arenaSize)) return nullptr;
    g_arena.open = true;
    return instance;
}

void* ResourceArena_ModuleClose(void* instance, int32_t, int32_t)
{
    if (g_arena.open) Release();
    g_arena.open = false;
    return instance;
}
