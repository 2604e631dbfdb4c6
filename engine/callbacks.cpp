#include "engine/callbacks.h"

#include "common/hash.h"
#include "common/list.h"

namespace {

struct CallbackEntry {
    uint32_t hash;  // Name_Hash (name, 0, 1)
    CallbackFn fn;
};

struct FindArg {
    uint32_t hash;
};

// The registry's module record.
struct CallbackRegistry {
    List* entries;          // CallbackEntry pool, in registration order
    CallbackEntry* last;    // result of the last lookup (null when it failed)
};
CallbackRegistry g_registry;

int MatchHash(void* item, void* arg)
{
    return static_cast<CallbackEntry*>(item)->hash == static_cast<FindArg*>(arg)->hash;
}

}  // namespace

int CallbackRegistry_Init(void)
{
    if (g_registry.entries) return 1;
    g_registry.entries = List_Create(sizeof(CallbackEntry));
    g_registry.last = nullptr;
    return g_registry.entries != nullptr;
}

void CallbackRegistry_Shutdown(void)
{
    List_Destroy(g_registry.entries);
    g_registry.entries = nullptr;
    g_registry.last = nullptr;
}

void CallbackRegistry_Add(const char* name, CallbackFn fn)
{
    if (!name || !fn || !CallbackRegistry_Init()) return;
    CallbackEntry* e = static_cast<CallbackEntry*>(List_Alloc(g_registry.entries));
    if (!e) return;
    e->hash = Name_Hash(name, 0, 1);
    e->fn = fn;
}

CallbackFn CallbackRegistry_Find(const char* name)
{
    g_registry.last = nullptr;
    if (!name || !name[0] || !g_registry.entries) return nullptr;
    FindArg arg{Name_Hash(name, 0, 1)};
    // Pool order is registration order: the pool only grows while the
    // registry lives (entries are never freed one by one), so blocks fill
    // in order and the first match is the earliest registration.
    g_registry.last = static_cast<CallbackEntry*>(List_ForEach(g_registry.entries, MatchHash, &arg));
    return g_registry.last ? g_registry.last->fn : nullptr;
}

uint32_t CallbackRegistry_Count(void) { return g_registry.entries ? List_Count(g_registry.entries) : 0; }
