#include "gfx/core/plugin.h"

#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/stream.h"

namespace {

struct PluginModule {
    FreeList* entries;
    PluginRegistry** registries;  // every registry that holds entries, to reset them at close
    int32_t registryCount;
    bool open;
};

PluginModule g_plugins;

void* DefaultConstructor(void* object, int32_t, int32_t) { return object; }
void* DefaultDestructor(void* object, int32_t, int32_t) { return object; }
void* DefaultCopy(void* dst, const void*, int32_t, int32_t) { return dst; }

PluginEntry* FindEntry(const PluginRegistry* registry, uint32_t pluginId)
{
    for (PluginEntry* e = registry->first; e; e = e->next)
        if (e->pluginId == pluginId) return e;
    return nullptr;
}

bool RememberRegistry(PluginRegistry* registry)
{
    for (int32_t i = 0; i < g_plugins.registryCount; i++)
        if (g_plugins.registries[i] == registry) return true;
    PluginRegistry** grown = (PluginRegistry**)Engine_Realloc(
        g_plugins.registries, sizeof(PluginRegistry*) * (size_t)(g_plugins.registryCount + 1));
    if (!grown) return false;
    g_plugins.registries = grown;
    g_plugins.registries[g_plugins.registryCount++] = registry;
    return true;
}

}  // namespace

int32_t PluginRegistry_AddPlugin(PluginRegistry* registry, int32_t size, uint32_t pluginId,
                                 PluginConstructor constructor, PluginDestructor destructor, PluginCopy copy)
{
    if (!g_plugins.open || !registry || size < 0) return -1;
    if (Engine_GetOpenCount() != 0) {
        Error_Raise(ERR_PLUGIN_REFUSED);
        return -1;
    }
    if (PluginEntry* existing = FindEntry(registry, pluginId)) {
        Error_Raise(ERR_PLUGIN_REFUSED);
        return existing->offset;
    }
    // Offsets stay multiples of 8 so that pointers inside extensions are
    // aligned even behind a base record of odd size.
    int32_t offset = (registry->size + 7) & ~7;
    int32_t rounded = (size + 7) & ~7;
    if (registry->maxSize != 0 && offset + rounded > registry->maxSize) return -1;
    if (!RememberRegistry(registry)) return -1;
    PluginEntry* entry = (PluginEntry*)FreeList_Alloc(g_plugins.entries);
    if (!entry) return -1;
    memset(entry, 0, sizeof(*entry));
    entry->offset = offset;
    registry->size = offset + rounded;
    entry->size = size;
    entry->pluginId = pluginId;
    entry->constructor = constructor ? constructor : DefaultConstructor;
    entry->destructor = destructor ? destructor : DefaultDestructor;
    entry->copy = copy ? copy : DefaultCopy;
    entry->registry = registry;
    entry->prev = registry->last;
    if (registry->last) registry->last->next = entry;
    else registry->first = entry;
    registry->last = entry;
    return entry->offset;
}

int32_t PluginRegistry_GetPluginOffset(const PluginRegistry* registry, uint32_t pluginId)
{
    const PluginEntry* e = registry ? FindEntry(registry, pluginId) : nullptr;
    return e ? e->offset : -1;
}

namespace {
// Applies set to the entry of pluginId; its offset, or -1 when there is none.
template <typename Set>
int32_t UpdateEntry(PluginRegistry* registry, uint32_t pluginId, Set set)
{
    PluginEntry* e = registry ? FindEntry(registry, pluginId) : nullptr;
    if (!e) return -1;
    set(e);
    return e->offset;
}
}  // namespace

int32_t PluginRegistry_AddPluginStream(PluginRegistry* registry, uint32_t pluginId, PluginStreamRead read,
                                       PluginStreamWrite write, PluginStreamGetSize getSize)
{
    return UpdateEntry(registry, pluginId, [&](PluginEntry* e) {
        e->read = read;
        e->write = write;
        e->getSize = getSize;
    });
}

int32_t PluginRegistry_SetStreamAlwaysCallback(PluginRegistry* registry, uint32_t pluginId,
                                               PluginStreamAlways callback)
{
    return UpdateEntry(registry, pluginId, [&](PluginEntry* e) { e->always = callback; });
}

int32_t PluginRegistry_SetStreamRightsCallback(PluginRegistry* registry, uint32_t pluginId,
                                               PluginStreamRights callback)
{
    return UpdateEntry(registry, pluginId, [&](PluginEntry* e) { e->rights = callback; });
}

PluginRegistry* PluginRegistry_RunConstructors(PluginRegistry* registry, void* object)
{
    for (PluginEntry* e = registry->first; e; e = e->next) {
        if (!e->constructor(object, e->offset, e->size)) {
            for (PluginEntry* d = e->prev; d; d = d->prev) d->destructor(object, d->offset, d->size);
            return nullptr;
        }
    }
    return registry;
}

PluginRegistry* PluginRegistry_RunDestructors(PluginRegistry* registry, void* object)
{
    for (PluginEntry* e = registry->last; e; e = e->prev) e->destructor(object, e->offset, e->size);
    return registry;
}

PluginRegistry* PluginRegistry_StreamReadExtensions(PluginRegistry* registry, Stream* stream, void* object)
{
    uint32_t remaining = 0;
    if (!Stream_FindChunk(stream, CHUNK_EXTENSION, &remaining, nullptr)) return nullptr;
    while (remaining > 0) {
        // A sub-chunk header and its payload must both fit in what is left of
        // the extension chunk; otherwise the chunk is corrupt and reading on
        // would run into the next object's data.
        if (remaining < CHUNK_HEADER_SIZE) {
            Error_Raise(ERR_SHORT_READ);
            return nullptr;
        }
        uint32_t id = 0, length = 0;
        if (!Stream_ReadChunkHeader(stream, &id, &length, nullptr, nullptr)) return nullptr;
        remaining -= CHUNK_HEADER_SIZE;
        if (length > remaining) {
            Error_Raise(ERR_SHORT_READ);
            return nullptr;
        }
        PluginEntry* e = FindEntry(registry, id);
        if (e && e->read) {
            uint64_t before = stream->moved;
            if (!e->read(stream, (int32_t)length, object, e->offset, e->size)) return nullptr;
            uint64_t used = stream->moved - before;
            if (used > length) {
                Error_Raise(ERR_SHORT_READ);
                return nullptr;
            }
            if (used < length && !Stream_Skip(stream, (uint32_t)(length - used))) return nullptr;
        } else if (!Stream_Skip(stream, length)) {
            return nullptr;
        }
        remaining -= length;
    }
    for (PluginEntry* e = registry->first; e; e = e->next)
        if (e->always && !e->always(object, e->offset, e->size)) return nullptr;
    return registry;
}

int32_t PluginRegistry_StreamGetExtensionsSize(const PluginRegistry* registry, const void* object)
{
    int32_t total = 0;
    for (const PluginEntry* e = registry->first; e; e = e->next) {
        if (!e->getSize || !e->write) continue;
        int32_t n = e->getSize(object, e->offset, e->size);
        if (n > 0) total += CHUNK_HEADER_SIZE + n;
    }
    return total;
}

PluginRegistry* PluginRegistry_StreamWriteExtensions(PluginRegistry* registry, Stream* stream,
                                                     const void* object)
{
    int32_t total = PluginRegistry_StreamGetExtensionsSize(registry, object);
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_EXTENSION, (uint32_t)total)) return nullptr;
    for (PluginEntry* e = registry->first; e; e = e->next) {
        if (!e->getSize || !e->write) continue;
        int32_t n = e->getSize(object, e->offset, e->size);
        if (n <= 0) continue;
        if (!Stream_WriteChunkHeaderDefault(stream, e->pluginId, (uint32_t)n)) return nullptr;
        if (!e->write(stream, n, object, e->offset, e->size)) return nullptr;
    }
    return registry;
}

PluginRegistry* PluginRegistry_StreamSkipExtensions(PluginRegistry* registry, Stream* stream)
{
    uint32_t length = 0;
    if (!Stream_FindChunk(stream, CHUNK_EXTENSION, &length, nullptr)) return nullptr;
    return Stream_Skip(stream, length) ? registry : nullptr;
}

PluginRegistry* PluginRegistry_CallRightsCallback(PluginRegistry* registry, uint32_t pluginId, void* object,
                                                  uint32_t extraData)
{
    PluginEntry* e = registry ? FindEntry(registry, pluginId) : nullptr;
    if (!e || !e->rights) return nullptr;
    return e->rights(object, e->offset, e->size, extraData) > 0 ? registry : nullptr;
}

int32_t PluginRegistry_ModuleOpen(void)
{
    g_plugins.entries = FreeList_Create(sizeof(PluginEntry), 64, 8);
    if (!g_plugins.entries) return 0;
    g_plugins.registries = nullptr;
    g_plugins.registryCount = 0;
    g_plugins.open = true;
    return 1;
}

int32_t PluginRegistry_ModuleClose(void)
{
    if (!g_plugins.open) return 0;
    for (int32_t i = 0; i < g_plugins.registryCount; i++) {
        PluginRegistry* r = g_plugins.registries[i];
        PluginEntry* e = r->first;
        while (e) {
            PluginEntry* next = e->next;
            FreeList_Free(g_plugins.entries, e);
            e = next;
        }
        r->size = r->baseSize;
        r->first = r->last = nullptr;
    }
    Engine_Free(g_plugins.registries);
    g_plugins.registries = nullptr;
    g_plugins.registryCount = 0;
    FreeList_Destroy(g_plugins.entries);
    g_plugins.entries = nullptr;
    g_plugins.open = false;
    return 1;
}
