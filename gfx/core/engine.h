// The engine instance and its lifecycle.
//
// The graphics engine is one global instance that passes through the states
// 0 (not initialised) -> Engine_Init -> 1 -> Engine_Open -> 2 -> Engine_Start
// -> 3 and back through Engine_Stop, Engine_Close and Engine_Term. The
// instance is a record of fixed slots (devices, standard functions, the file,
// string and memory tables) followed by the globals of every registered module
// at the offset the engine's plugin registry gave it. Before Engine_Open the
// current instance is a static block holding only the fixed slots.
//
// The engine reaches the outside world only through tables installed here:
// the memory functions (Engine_Init), the file-function table
// (FileSystem_GetInterface), the device driver (Engine_SetDriver) and the
// shell's forwarders (gfx/core/platform.h).
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "gfx/core/plugin.h"

// A circular doubly linked list link; an empty list head points at itself.
struct EngineLink {
    EngineLink* next;
    EngineLink* prev;
};

inline void EngineLink_Init(EngineLink* head) { head->next = head->prev = head; }
inline bool EngineLink_Empty(const EngineLink* head) { return head->next == head; }
inline void EngineLink_InsertHead(EngineLink* head, EngineLink* link)
{
    link->next = head->next;
    link->prev = head;
    head->next->prev = link;
    head->next = link;
}
inline void EngineLink_Remove(EngineLink* link)
{
    link->prev->next = link->next;
    link->next->prev = link->prev;
    link->next = link->prev = link;
}
// For validation walkers: 1 when the ring through head is whole, every
// link's neighbours pointing back at it (the walk then always ends at head).
inline int32_t EngineLink_Validate(const EngineLink* head)
{
    const EngineLink* link = head;
    do {
        if (!link->next || !link->prev || link->next->prev != link || link->prev->next != link) return 0;
        link = link->next;
    } while (link != head);
    return 1;
}
// 1 when link is one of the ring's links (head excluded); the ring must be whole.
inline int32_t EngineLink_Contains(const EngineLink* head, const EngineLink* link)
{
    for (const EngineLink* l = head->next; l != head; l = l->next)
        if (l == link) return 1;
    return 0;
}

// One video mode of the device, as the mode dialog lists them.
struct VideoModeInfo {
    int32_t width;
    int32_t height;
    int32_t depth;
    uint32_t flags;  // bit 0: full screen
    int32_t refreshRate;
    int32_t format;  // raster format of the mode
};

// Device requests (code, out, inOut, arg) -> non-zero on success.
enum EngineRequest : int32_t {
    REQ_OPEN = 0,
    REQ_CLOSE = 1,
    REQ_START = 2,
    REQ_STOP = 3,
    REQ_GET_DEVICE = 4,
    REQ_NUM_MODES = 5,
    REQ_MODE_INFO = 6,
    REQ_USE_MODE = 7,
    REQ_FOCUS = 8,
    REQ_CURRENT_MODE = 10,
    REQ_STANDARD_FUNCTIONS = 11,
    REQ_QUERY_INT = 12,
    REQ_NUM_SUBSYSTEMS = 13,
    REQ_SUBSYSTEM_INFO = 14,
    REQ_CURRENT_SUBSYSTEM = 15,
    REQ_SELECT_SUBSYSTEM = 16,
    REQ_START_FINISHED = 17,
    REQ_STOP_BEGINS = 18,
    REQ_MAX_TEXTURE_SIZE = 19,
};

enum { ENGINE_NUM_STANDARD_FUNCTIONS = 29 };

typedef int32_t (*DeviceRequestFn)(int32_t code, void* out, void* inOut, int32_t arg);
// A device standard function, indexed by its standard-function number.
typedef int32_t (*StandardFunction)(void* out, void* inOut, int32_t arg);
typedef int32_t (*RenderStateSetFn)(int32_t state, void* value);
typedef int32_t (*RenderStateGetFn)(int32_t state, void* value);
typedef int32_t (*Im2DRenderLineFn)(void* vertices, int32_t count, int32_t index1, int32_t index2);
typedef int32_t (*Im2DRenderTriangleFn)(void* vertices, int32_t count, int32_t index1, int32_t index2,
                                        int32_t index3);
typedef int32_t (*Im2DRenderPrimitiveFn)(int32_t primType, void* vertices, int32_t count);
typedef int32_t (*Im2DRenderIndexedPrimitiveFn)(int32_t primType, void* vertices, int32_t vertexCount,
                                               uint16_t* indices, int32_t indexCount);

// The device block: a copy of the driver's device record (request 4).
struct EngineDevice {
    float gamma;                 // 1.0 in the driver's record
    DeviceRequestFn request;     // the driver's request handler
    float zBufferNear;           // screen Z of 2D vertices at the near plane
    float zBufferFar;            // ... and at the far plane
    RenderStateSetFn setRenderState;
    RenderStateGetFn getRenderState;
    Im2DRenderLineFn im2DRenderLine;
    Im2DRenderTriangleFn im2DRenderTriangle;
    Im2DRenderPrimitiveFn im2DRenderPrimitive;
    Im2DRenderIndexedPrimitiveFn im2DRenderIndexedPrimitive;
    void* unused[4];
};

// The file-function table: the standard library's meanings and arguments.
// File handles are opaque; the application's file layer may replace every
// slot after Engine_Init (FileSystem_GetInterface).
struct FileInterface {
    int (*exists)(const char* path);  // 1 when the file opens with "rb"
    void* (*open)(const char* path, const char* mode);
    int (*close)(void* file);  // 0 on success
    size_t (*read)(void* buffer, size_t size, size_t count, void* file);
    size_t (*write)(const void* buffer, size_t size, size_t count, void* file);
    char* (*gets)(char* buffer, int size, void* file);
    int (*puts)(const char* text, void* file);
    int (*eof)(void* file);
    int (*seek)(void* file, long offset, int origin);  // 0 on success
    int (*flush)(void* file);
    long (*tell)(void* file);  // -1 on failure
};

// The string table. The case-insensitive compare, the character searches and
// the case conversions are the engine's own (ASCII folding only).
struct StringFunctions {
    int (*format)(char* buffer, const char* format, ...);
    int (*formatV)(char* buffer, const char* format, va_list args);
    char* (*copy)(char* dst, const char* src);
    char* (*copyN)(char* dst, const char* src, size_t n);
    char* (*append)(char* dst, const char* src);
    char* (*appendN)(char* dst, const char* src, size_t n);
    char* (*findLastChar)(const char* text, int c);
    char* (*findChar)(const char* text, int c);
    char* (*findString)(const char* text, const char* part);
    int (*compare)(const char* a, const char* b);
    int (*compareN)(const char* a, const char* b, size_t n);
    int (*compareNoCase)(const char* a, const char* b);
    size_t (*length)(const char* text);
    char* (*toUpper)(char* text);
    char* (*toLower)(char* text);
    char* (*tokenise)(char* text, const char* separators);
    int (*scan)(const char* text, const char* format, ...);
};

// The application's memory functions (16-byte aligned blocks).
struct MemoryFunctions {
    void* (*alloc)(size_t size);
    void (*free)(void* block);
    void* (*realloc)(void* block, size_t size);
    void* (*calloc)(size_t count, size_t size);
};

struct FreeList;

// The fixed slots of the engine instance; module globals follow at offsets
// given by Engine_RegisterPlugin (sizeof(EngineInstance) is the registry's
// base size).
struct EngineInstance {
    void* currentCamera;  // set between camera begin and end update
    void* currentWorld;   // owned by the world layer
    uint16_t renderFrame;  // advanced for every camera update begun
    uint16_t lightFrame;   // advanced by the device lighting
    void* reserved3;
    EngineDevice device;
    StandardFunction standardFunctions[ENGINE_NUM_STANDARD_FUNCTIONS];
    EngineLink dirtyFrames;  // roots of hierarchies with pending changes
    FileInterface fileFunctions;
    StringFunctions stringFunctions;
    MemoryFunctions memoryFunctions;
    void* (*freeListAlloc)(FreeList* list);
    void (*freeListFree)(FreeList* list, void* entry);
    void* reserved83;
    uint32_t status;   // ENGINE_STATUS_*
    size_t arenaSize;  // resource-arena budget in bytes
};

enum : uint32_t {
    ENGINE_STATUS_NONE = 0,
    ENGINE_STATUS_INITIALISED = 1,
    ENGINE_STATUS_OPENED = 2,
    ENGINE_STATUS_STARTED = 3,
};

// Engine_Init flags.
enum : uint32_t { ENGINE_INIT_NO_FREELIST_BLOCKS = 1 };

extern EngineInstance* g_engineInstance;

inline EngineInstance* Engine_Instance(void) { return g_engineInstance; }
// Address of a module's globals inside the current instance.
inline void* Engine_ModuleGlobals(int32_t offset) { return (char*)g_engineInstance + offset; }

inline void* Engine_Malloc(size_t size) { return g_engineInstance->memoryFunctions.alloc(size); }
inline void Engine_Free(void* block) { g_engineInstance->memoryFunctions.free(block); }
inline void* Engine_Realloc(void* block, size_t size) { return g_engineInstance->memoryFunctions.realloc(block, size); }
inline void* Engine_Calloc(size_t count, size_t size) { return g_engineInstance->memoryFunctions.calloc(count, size); }

// Bit 0 of the flags given to Engine_Init: every free-list entry is then its
// own allocation.
uint32_t Engine_GetInitFlags(void);

// The driver the engine opens: its static device record (copied into the
// device block by request 4) and the extensions it attaches at Engine_Init
// (the raster extension, id 1036). Set before Engine_Init; the record must
// outlive the engine. attachExtensions may be null; it returns 1 on success.
struct EngineDriver {
    const EngineDevice* deviceRecord;
    int32_t (*attachExtensions)(void);
};
void Engine_SetDriver(const EngineDriver* driver);

// Core module ids, registered by Engine_Init in this order.
enum : uint32_t {
    MODULE_ERROR = 1039,
    MODULE_VECTOR = 1025,
    MODULE_OS = 1037,
    MODULE_MATRIX = 1026,
    MODULE_FRAME = 1027,
    MODULE_STREAM = 1028,
    MODULE_CAMERA = 1029,
    MODULE_IMAGE = 1030,
    MODULE_RASTER = 1031,
    MODULE_TEXTURE = 1032,
    MODULE_PIPELINE = 1033,
    MODULE_IM3D = 1034,
    MODULE_ARENA = 1035,
    MODULE_DRIVER_RASTER = 1036,
};

// Replaces the globals size and open/close of one core module (placeholders
// open and close nothing until the module that owns the id installs itself).
// Only while the engine is not initialised; returns 1, or 0 for an unknown id
// or the wrong state. A null open/close restores the placeholder.
int32_t Engine_SetCoreModule(uint32_t pluginId, int32_t size, PluginConstructor open, PluginDestructor close);
// Called by Engine_Start with the device gamma to rebuild the gamma tables
// (installed by the image module); null for none.
void Engine_SetGammaHook(void (*rebuild)(float gamma));

// Each step is refused (0, error 0x80000001, nothing changed) outside the
// status it starts from: Init 0, Open 1, Start 2, Stop 3, Close 2, Term 1.
//
// memoryFunctions null installs malloc/free/realloc/calloc.
int32_t Engine_Init(const MemoryFunctions* memoryFunctions, uint32_t flags, size_t arenaSize);
// openParams: the caller's open parameters (a pointer to the window); null is
// refused (0x80000016). A refused device open leaves status 1.
int32_t Engine_Open(void* openParams);
// Opens every module in registration order; when one fails the others are
// closed again, the device is stopped and the status stays 2.
int32_t Engine_Start(void);
// Closes the modules (last first) and stops the device; returns the device's
// answer (status 2 only when it agreed). When the device refuses, the
// modules open again and the status stays 3.
int32_t Engine_Stop(void);
int32_t Engine_Close(void);
// Refused (0, no error) while an instance is open.
int32_t Engine_Term(void);
uint32_t Engine_GetStatus(void);
int32_t Engine_GetOpenCount(void);

// Adds a module or engine extension; returns its offset in the instance or -1.
int32_t Engine_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor open, PluginDestructor close);
int32_t Engine_GetPluginOffset(uint32_t pluginId);
PluginRegistry* Engine_GetRegistry(void);

// The common path of all device requests: the driver first, then the core's
// own answers for codes 13-18; anything else raises 24 and returns 0.
int32_t Engine_DeviceSystemRequest(EngineDevice* device, int32_t code, void* out, void* inOut, int32_t arg);

int32_t Engine_GetNumVideoModes(void);  // -1 on failure
VideoModeInfo* Engine_GetVideoModeInfo(VideoModeInfo* info, int32_t index);
int32_t Engine_SetVideoMode(int32_t index);
int32_t Engine_GetCurrentVideoMode(void);  // -1 on failure
// Tells the device that the application gained (1) or lost (0) the focus;
// 1 when the device took it.
int32_t Engine_Focus(int32_t gained);
int32_t Engine_GetNumSubSystems(void);  // -1 on failure
char* Engine_GetSubSystemInfo(char* name, int32_t index);  // name: 80 bytes at least
int32_t Engine_GetCurrentSubSystem(void);  // -1 on failure
// 1 when the driver took the sub-system, or does not answer and index is 0;
// refused while the engine is started.
int32_t Engine_SetSubSystem(int32_t index);
int32_t Engine_QueryDeviceInt(void);    // -1 on failure
int32_t Engine_GetMaxTextureSize(void); // -1 on failure

// The live file-function table of the current instance; the application may
// overwrite it after Engine_Init.
FileInterface* FileSystem_GetInterface(void);
// Fill the tables with the standard library (and the engine's own string
// functions).
void FileSystem_Install(FileInterface* table);
void String_InstallFunctions(StringFunctions* table);

// The engine's own string functions (installed in the string table).
int String_CompareNoCase(const char* a, const char* b);  // 0 when either is null
char* String_FindChar(const char* text, int c);
char* String_FindLastChar(const char* text, int c);
char* String_ToUpper(char* text);  // null or empty returned unchanged
char* String_ToLower(char* text);

// 1 when the path starts with a backslash or with a letter and a colon.
int32_t Path_IsAbsolute(const char* path);
