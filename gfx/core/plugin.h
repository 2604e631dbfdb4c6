// Plugin registries: per object type, the extensions that plugins add behind
// the base record, with their constructors, destructors and stream callbacks.
//
// A plugin asks a registry for bytes between Engine_Init and Engine_Open and
// receives the offset of its data inside every object of that type. Offsets
// are multiples of 8 so that pointer fields in extensions stay aligned; an
// extension's size is rounded up to 8 when it is added to the object size.
#pragma once
#include <cstdint>

struct Stream;

typedef void* (*PluginConstructor)(void* object, int32_t offset, int32_t size);
typedef void* (*PluginDestructor)(void* object, int32_t offset, int32_t size);
typedef void* (*PluginCopy)(void* dst, const void* src, int32_t offset, int32_t size);
// Reads `length` payload bytes of the plugin's sub-chunk; null on failure.
typedef Stream* (*PluginStreamRead)(Stream* stream, int32_t length, void* object, int32_t offset, int32_t size);
typedef Stream* (*PluginStreamWrite)(Stream* stream, int32_t length, const void* object, int32_t offset,
                                     int32_t size);
// Payload bytes the plugin will write; <= 0 writes no sub-chunk.
typedef int32_t (*PluginStreamGetSize)(const void* object, int32_t offset, int32_t size);
// Called after every extension chunk read; 0 fails the read.
typedef int32_t (*PluginStreamAlways)(void* object, int32_t offset, int32_t size);
typedef int32_t (*PluginStreamRights)(void* object, int32_t offset, int32_t size, uint32_t extraData);

struct PluginRegistry;

struct PluginEntry {
    int32_t offset;     // of the extension's data inside the object
    int32_t size;       // as asked for (unrounded)
    uint32_t pluginId;  // unique within one registry
    PluginStreamRead read;
    PluginStreamWrite write;
    PluginStreamGetSize getSize;
    PluginStreamAlways always;
    PluginStreamRights rights;
    PluginConstructor constructor;
    PluginDestructor destructor;
    PluginCopy copy;
    PluginEntry* next;  // registration order
    PluginEntry* prev;
    PluginRegistry* registry;
};

// One static record per extensible object type. Initialise with
// PLUGIN_REGISTRY_INIT(sizeof(BaseRecord)).
struct PluginRegistry {
    int32_t size;      // base size plus every extension (each rounded to 8)
    int32_t baseSize;  // size returned to when the registry module closes
    int32_t maxSize;   // 0 = no limit
    PluginEntry* first;
    PluginEntry* last;
};

#define PLUGIN_REGISTRY_INIT(baseSize) {(int32_t)(baseSize), (int32_t)(baseSize), 0, nullptr, nullptr}

// Returns the offset of the new extension, or -1 (registry module closed,
// engine instance open (0x80000017), maximum exceeded, no memory). A
// duplicate id raises 0x80000017 and returns the existing offset. Null
// constructor/destructor/copy become defaults that return the object.
int32_t PluginRegistry_AddPlugin(PluginRegistry* registry, int32_t size, uint32_t pluginId,
                                 PluginConstructor constructor, PluginDestructor destructor, PluginCopy copy);
int32_t PluginRegistry_GetPluginOffset(const PluginRegistry* registry, uint32_t pluginId);
// The following return the extension's offset, or -1 when the id is unknown.
int32_t PluginRegistry_AddPluginStream(PluginRegistry* registry, uint32_t pluginId, PluginStreamRead read,
                                       PluginStreamWrite write, PluginStreamGetSize getSize);
int32_t PluginRegistry_SetStreamAlwaysCallback(PluginRegistry* registry, uint32_t pluginId,
                                               PluginStreamAlways callback);
int32_t PluginRegistry_SetStreamRightsCallback(PluginRegistry* registry, uint32_t pluginId,
                                               PluginStreamRights callback);

// Runs constructors in registration order; when one fails, the destructors
// of the ones before it run (latest first) and null is returned.
PluginRegistry* PluginRegistry_RunConstructors(PluginRegistry* registry, void* object);
// Runs destructors from the last registered to the first.
PluginRegistry* PluginRegistry_RunDestructors(PluginRegistry* registry, void* object);

// Finds the next extension chunk and hands each sub-chunk to its plugin;
// unknown ids are skipped. A sub-chunk that runs past its chunk, or a plugin
// that reads past its payload, fails the read. Null on failure; the object is
// left with whatever the earlier plugins read.
PluginRegistry* PluginRegistry_StreamReadExtensions(PluginRegistry* registry, Stream* stream, void* object);
// Writes the extension chunk (empty when no plugin writes). Null on failure.
PluginRegistry* PluginRegistry_StreamWriteExtensions(PluginRegistry* registry, Stream* stream,
                                                     const void* object);
// Bytes of the sub-chunks (headers included) that StreamWriteExtensions
// writes, not counting the extension chunk's own header.
int32_t PluginRegistry_StreamGetExtensionsSize(const PluginRegistry* registry, const void* object);
// Finds the extension chunk and skips its sub-chunks without calling plugins.
PluginRegistry* PluginRegistry_StreamSkipExtensions(PluginRegistry* registry, Stream* stream);
PluginRegistry* PluginRegistry_CallRightsCallback(PluginRegistry* registry, uint32_t pluginId, void* object,
                                                  uint32_t extraData);

int32_t PluginRegistry_ModuleOpen(void);
int32_t PluginRegistry_ModuleClose(void);
