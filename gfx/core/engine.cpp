#include "gfx/core/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/strings.h"
#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/freelist.h"
#include "gfx/core/matrix.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/plugin.h"
#include "gfx/core/stream.h"
#include "gfx/core/vector.h"

namespace {

void* StdCalloc(size_t count, size_t size) { return calloc(count, size); }

// The static base block: current before Engine_Open and after Engine_Close.
// Its memory functions start as the standard library's, so that the engine's
// allocation helpers work even before Engine_Init.
EngineInstance MakeStaticBlock(void)
{
    EngineInstance block = {};
    block.memoryFunctions = {malloc, free, realloc, StdCalloc};
    block.freeListAlloc = FreeList_BlockAlloc;
    block.freeListFree = FreeList_BlockFree;
    return block;
}

EngineInstance g_static = MakeStaticBlock();

struct CoreModule {
    uint32_t id;
    int32_t size;
    PluginConstructor open;
    PluginDestructor close;
};

struct EngineModule {
    PluginRegistry registry;
    int32_t openCount;
    uint32_t initFlags;
    EngineDriver driver;
    void (*gammaHook)(float gamma);
    int32_t osInstances;  // the OS-interface module only counts opened instances
    CoreModule core[13];
};

void* OS_ModuleOpen(void* instance, int32_t, int32_t);
void* OS_ModuleClose(void* instance, int32_t, int32_t);

// Registration order of the core modules. Modules that live in later parts of
// the engine start as placeholders (null open and close) and install
// themselves with Engine_SetCoreModule.
const CoreModule kCoreModules[13] = {
    {MODULE_ERROR, 0, Error_ModuleOpen, Error_ModuleClose},
    {MODULE_VECTOR, 0, Vector_ModuleOpen, Vector_ModuleClose},
    {MODULE_OS, 0, OS_ModuleOpen, OS_ModuleClose},
    {MODULE_MATRIX, 0, Matrix_ModuleOpen, Matrix_ModuleClose},
    {MODULE_FRAME, 0, Frame_ModuleOpen, Frame_ModuleClose},
    {MODULE_STREAM, 0, Stream_ModuleOpen, Stream_ModuleClose},
    {MODULE_CAMERA, 0, Camera_ModuleOpen, Camera_ModuleClose},
    {MODULE_IMAGE, 0, nullptr, nullptr},
    {MODULE_RASTER, 0, nullptr, nullptr},
    {MODULE_TEXTURE, 0, nullptr, nullptr},
    {MODULE_PIPELINE, 0, Pipeline_ModuleOpen, Pipeline_ModuleClose},
    {MODULE_IM3D, 0, nullptr, nullptr},
    {MODULE_ARENA, 0, ResourceArena_ModuleOpen, ResourceArena_ModuleClose},
};

EngineModule MakeEngineModule(void)
{
    EngineModule m = {};
    m.registry = PLUGIN_REGISTRY_INIT(sizeof(EngineInstance));
    memcpy(m.core, kCoreModules, sizeof(kCoreModules));
    return m;
}

EngineModule g_engine = MakeEngineModule();

void* OS_ModuleOpen(void* instance, int32_t, int32_t)
{
    g_engine.osInstances++;
    return instance;
}

void* OS_ModuleClose(void* instance, int32_t, int32_t)
{
    g_engine.osInstances--;
    return instance;
}

int32_t Request(int32_t code, void* out, void* inOut, int32_t arg)
{
    return Engine_DeviceSystemRequest(&g_engineInstance->device, code, out, inOut, arg);
}

// Copies the fixed slots; a list head cannot be copied as it stands, since an
// empty head points at itself.
void CopyFixedSlots(EngineInstance* dst, const EngineInstance* src)
{
    bool emptyList = src->dirtyFrames.next == &src->dirtyFrames || src->dirtyFrames.next == nullptr;
    *dst = *src;
    if (emptyList) {
        EngineLink_Init(&dst->dirtyFrames);
    } else {
        dst->dirtyFrames.next->prev = &dst->dirtyFrames;
        dst->dirtyFrames.prev->next = &dst->dirtyFrames;
    }
}

// File functions over the C library.
int FileExists(const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return 1;
}
void* FileOpen(const char* path, const char* mode) { return fopen(path, mode); }
int FileClose(void* file) { return fclose((FILE*)file); }
size_t FileRead(void* buffer, size_t size, size_t count, void* file) { return fread(buffer, size, count, (FILE*)file); }
size_t FileWrite(const void* buffer, size_t size, size_t count, void* file)
{
    return fwrite(buffer, size, count, (FILE*)file);
}
char* FileGets(char* buffer, int size, void* file) { return fgets(buffer, size, (FILE*)file); }
int FilePuts(const char* text, void* file) { return fputs(text, (FILE*)file); }
int FileEof(void* file) { return feof((FILE*)file); }
int FileSeek(void* file, long offset, int origin) { return fseek((FILE*)file, offset, origin); }
int FileFlush(void* file) { return fflush((FILE*)file); }
long FileTell(void* file) { return ftell((FILE*)file); }

char* FindString(const char* text, const char* part) { return (char*)strstr(text, part); }
int Format(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsprintf(buffer, format, args);
    va_end(args);
    return n;
}
int FormatV(char* buffer, const char* format, va_list args) { return vsprintf(buffer, format, args); }
int Scan(const char* text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsscanf(text, format, args);
    va_end(args);
    return n;
}

// Refuses (0x80000001) a lifecycle step taken from the wrong status.
bool InStatus(uint32_t status)
{
    if (g_engineInstance->status == status) return true;
    Error_Raise(ERR_BAD_ENGINE_STATE);
    return false;
}

}  // namespace

EngineInstance* g_engineInstance = &g_static;

uint32_t Engine_GetInitFlags(void) { return g_engine.initFlags; }

void Engine_SetDriver(const EngineDriver* driver)
{
    if (driver) g_engine.driver = *driver;
    else g_engine.driver = EngineDriver{};
}

int32_t Engine_SetCoreModule(uint32_t pluginId, int32_t size, PluginConstructor open, PluginDestructor close)
{
    if (g_engineInstance->status != ENGINE_STATUS_NONE || size < 0) return 0;
    for (int i = 0; i < 13; i++) {
        if (g_engine.core[i].id != pluginId) continue;
        if (!open && !close) g_engine.core[i] = kCoreModules[i];
        else g_engine.core[i] = CoreModule{pluginId, size, open, close};
        return 1;
    }
    return 0;
}

void Engine_SetGammaHook(void (*rebuild)(float gamma)) { g_engine.gammaHook = rebuild; }

int32_t Engine_Init(const MemoryFunctions* memoryFunctions, uint32_t flags, size_t arenaSize)
{
    // The status is checked before anything changes: a second Init while an
    // instance is open would otherwise switch back to the static block and
    // lose the open instance.
    if (g_engineInstance->status != ENGINE_STATUS_NONE) {
        Error_Raise(ERR_BAD_ENGINE_STATE);
        return 0;
    }
    EngineInstance* inst = g_engineInstance = &g_static;
    g_engine.initFlags = flags;
    if (flags & ENGINE_INIT_NO_FREELIST_BLOCKS) {
        inst->freeListAlloc = FreeList_DirectAlloc;
        inst->freeListFree = FreeList_DirectFree;
    } else {
        inst->freeListAlloc = FreeList_BlockAlloc;
        inst->freeListFree = FreeList_BlockFree;
    }
    inst->arenaSize = arenaSize;
    EngineLink_Init(&inst->dirtyFrames);
    String_InstallFunctions(&inst->stringFunctions);
    if (!Memory_ModuleOpen(memoryFunctions)) return 0;
    FileSystem_Install(&inst->fileFunctions);
    if (!PluginRegistry_ModuleOpen()) {
        Memory_ModuleClose();
        return 0;
    }
    bool ok = true;
    for (const CoreModule& m : g_engine.core)
        if (Engine_RegisterPlugin(m.size, m.id, m.open, m.close) < 0) ok = false;
    if (ok && g_engine.driver.attachExtensions) ok = g_engine.driver.attachExtensions() != 0;
    if (!ok) {
        PluginRegistry_ModuleClose();
        Memory_ModuleClose();
        return 0;
    }
    inst->status = ENGINE_STATUS_INITIALISED;
    return 1;
}

int32_t Engine_Open(void* openParams)
{
    if (!InStatus(ENGINE_STATUS_INITIALISED)) return 0;
    if (!openParams) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return 0;
    }
    const EngineDevice* record = g_engine.driver.deviceRecord;
    if (!record) {
        Error_Raise(ERR_DEVICE_REFUSED);
        return 0;
    }
    EngineInstance* inst = (EngineInstance*)Engine_Calloc(1, (size_t)g_engine.registry.size);
    if (!inst) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return 0;
    }
    CopyFixedSlots(inst, &g_static);
    g_engineInstance = inst;
    int32_t ok = Engine_DeviceSystemRequest((EngineDevice*)record, REQ_GET_DEVICE, &inst->device,
                                            &inst->memoryFunctions, 0) &&
                 Request(REQ_OPEN, nullptr, openParams, 0);
    if (ok) {
        Request(REQ_STANDARD_FUNCTIONS, inst->standardFunctions, nullptr, ENGINE_NUM_STANDARD_FUNCTIONS);
        g_engine.openCount++;
        inst->status = ENGINE_STATUS_OPENED;
        return 1;
    }
    g_engineInstance = &g_static;
    CopyFixedSlots(&g_static, inst);
    g_static.status = ENGINE_STATUS_INITIALISED;
    g_static.memoryFunctions.free(inst);
    return 0;
}

int32_t Engine_Start(void)
{
    EngineInstance* inst = g_engineInstance;
    if (!InStatus(ENGINE_STATUS_OPENED)) return 0;
    if (!Request(REQ_START, nullptr, nullptr, 0)) return 0;
    if (!PluginRegistry_RunConstructors(&g_engine.registry, inst)) {
        Request(REQ_STOP, nullptr, nullptr, 0);
        return 0;
    }
    if (g_engine.gammaHook) g_engine.gammaHook(inst->device.gamma);
    Request(REQ_START_FINISHED, nullptr, nullptr, 0);
    inst->status = ENGINE_STATUS_STARTED;
    return 1;
}

int32_t Engine_Stop(void)
{
    EngineInstance* inst = g_engineInstance;
    if (!InStatus(ENGINE_STATUS_STARTED)) return 0;
    Request(REQ_STOP_BEGINS, nullptr, nullptr, 0);
    // The modules close first: they release their device objects while the
    // device still exists.
    PluginRegistry_RunDestructors(&g_engine.registry, inst);
    int32_t result = Request(REQ_STOP, nullptr, nullptr, 0);
    if (result) {
        inst->status = ENGINE_STATUS_OPENED;
        return result;
    }
    // A refused stop leaves everything as it was: the device runs on, so the
    // modules open again as Engine_Start opens them. Should one fail to, the
    // modules are closed and the engine counts as opened (a later start asks
    // the device to start again).
    if (!PluginRegistry_RunConstructors(&g_engine.registry, inst)) {
        inst->status = ENGINE_STATUS_OPENED;
        return 0;
    }
    if (g_engine.gammaHook) g_engine.gammaHook(inst->device.gamma);
    Request(REQ_START_FINISHED, nullptr, nullptr, 0);
    return 0;
}

int32_t Engine_Close(void)
{
    EngineInstance* inst = g_engineInstance;
    if (!InStatus(ENGINE_STATUS_OPENED)) return 0;
    int32_t result = Request(REQ_CLOSE, nullptr, nullptr, 0);
    if (!result) return 0;
    CopyFixedSlots(&g_static, inst);
    g_engineInstance = &g_static;
    g_static.memoryFunctions.free(inst);
    g_engine.openCount--;
    g_static.status = ENGINE_STATUS_INITIALISED;
    return result;
}

int32_t Engine_Term(void)
{
    if (g_engine.openCount != 0 || g_engineInstance->status != ENGINE_STATUS_INITIALISED) return 0;
    PluginRegistry_ModuleClose();
    Memory_ModuleClose();
    g_engineInstance->status = ENGINE_STATUS_NONE;
    return 1;
}

uint32_t Engine_GetStatus(void) { return g_engineInstance->status; }
int32_t Engine_GetOpenCount(void) { return g_engine.openCount; }

int32_t Engine_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor open, PluginDestructor close)
{
    return PluginRegistry_AddPlugin(&g_engine.registry, size, pluginId, open, close, nullptr);
}

int32_t Engine_GetPluginOffset(uint32_t pluginId)
{
    return PluginRegistry_GetPluginOffset(&g_engine.registry, pluginId);
}

PluginRegistry* Engine_GetRegistry(void) { return &g_engine.registry; }

int32_t Engine_DeviceSystemRequest(EngineDevice* device, int32_t code, void* out, void* inOut, int32_t arg)
{
    if (device && device->request) {
        int32_t result = device->request(code, out, inOut, arg);
        if (result) return result;
    }
    switch (code) {
    case REQ_NUM_SUBSYSTEMS:
        if (out) *(int32_t*)out = 1;
        return 1;
    case REQ_SUBSYSTEM_INFO:
        if (arg != 0) break;
        if (out) strcpy((char*)out, "Only rendering sub system");
        return 1;
    case REQ_CURRENT_SUBSYSTEM:
        if (out) *(int32_t*)out = 0;
        return 1;
    case REQ_SELECT_SUBSYSTEM:
        // The sub-system is chosen between open and start: a driver that
        // refuses while started is not overruled.
        if (arg != 0 || g_engineInstance->status == ENGINE_STATUS_STARTED) break;
        return 1;
    case REQ_START_FINISHED:
    case REQ_STOP_BEGINS:
        return 1;
    default:
        break;
    }
    Error_Raise((uint32_t)ERR_DEVICE_REFUSED);
    return 0;
}

int32_t Engine_GetNumVideoModes(void)
{
    int32_t n = 0;
    return Request(REQ_NUM_MODES, &n, nullptr, 0) ? n : -1;
}

VideoModeInfo* Engine_GetVideoModeInfo(VideoModeInfo* info, int32_t index)
{
    return Request(REQ_MODE_INFO, info, nullptr, index) ? info : nullptr;
}

int32_t Engine_SetVideoMode(int32_t index) { return Request(REQ_USE_MODE, nullptr, nullptr, index) > 0; }

int32_t Engine_GetCurrentVideoMode(void)
{
    int32_t n = 0;
    return Request(REQ_CURRENT_MODE, &n, nullptr, 0) ? n : -1;
}

int32_t Engine_Focus(int32_t gained) { return Request(REQ_FOCUS, nullptr, nullptr, gained ? 1 : 0) != 0; }

int32_t Engine_GetNumSubSystems(void)
{
    int32_t n = 0;
    return Request(REQ_NUM_SUBSYSTEMS, &n, nullptr, 0) ? n : -1;
}

char* Engine_GetSubSystemInfo(char* name, int32_t index)
{
    return Request(REQ_SUBSYSTEM_INFO, name, nullptr, index) ? name : nullptr;
}

int32_t Engine_GetCurrentSubSystem(void)
{
    int32_t n = 0;
    return Request(REQ_CURRENT_SUBSYSTEM, &n, nullptr, 0) ? n : -1;
}

int32_t Engine_SetSubSystem(int32_t index) { return Request(REQ_SELECT_SUBSYSTEM, nullptr, nullptr, index) != 0; }

int32_t Engine_QueryDeviceInt(void)
{
    int32_t n = 0;
    return Request(REQ_QUERY_INT, &n, nullptr, 0) ? n : -1;
}

int32_t Engine_GetMaxTextureSize(void)
{
    int32_t n = 0;
    return Request(REQ_MAX_TEXTURE_SIZE, &n, nullptr, 0) ? n : -1;
}

FileInterface* FileSystem_GetInterface(void) { return &g_engineInstance->fileFunctions; }

void FileSystem_Install(FileInterface* t)
{
    *t = FileInterface{FileExists, FileOpen,  FileClose, FileRead,  FileWrite, FileGets,
                       FilePuts,   FileEof,   FileSeek,  FileFlush, FileTell};
}

void String_InstallFunctions(StringFunctions* t)
{
    t->format = Format;
    t->formatV = FormatV;
    t->copy = strcpy;
    t->copyN = strncpy;
    t->append = strcat;
    t->appendN = strncat;
    t->findLastChar = String_FindLastChar;
    t->findChar = String_FindChar;
    t->findString = FindString;
    t->compare = strcmp;
    t->compareN = strncmp;
    t->compareNoCase = String_CompareNoCase;
    t->length = strlen;
    t->toUpper = String_ToUpper;
    t->toLower = String_ToLower;
    t->tokenise = strtok;
    t->scan = Scan;
}

// Compares through the terminating NUL, so a prefix is not equal to the
// longer string ("tex" < "texture"); both sides fold to upper case.
int String_CompareNoCase(const char* a, const char* b)
{
    if (!a || !b) return 0;
    for (;; a++, b++) {
        int ca = (unsigned char)String_UpperAscii(*a), cb = (unsigned char)String_UpperAscii(*b);
        if (ca != cb || ca == 0) return ca - cb;
    }
}

char* String_FindChar(const char* text, int c)
{
    if (!text) return nullptr;
    for (; *text; text++)
        if (*text == (char)c) return (char*)text;
    return c == 0 ? (char*)text : nullptr;
}

char* String_FindLastChar(const char* text, int c)
{
    if (!text) return nullptr;
    const char* found = nullptr;
    for (;; text++) {
        if (*text == (char)c) found = text;
        if (!*text) break;
    }
    return (char*)found;
}

char* String_ToUpper(char* text)
{
    if (!text) return text;
    for (char* p = text; *p; p++) *p = String_UpperAscii(*p);
    return text;
}

char* String_ToLower(char* text)
{
    if (!text) return text;
    for (char* p = text; *p; p++)
        if (*p >= 'A' && *p <= 'Z') *p = (char)(*p - 'A' + 'a');
    return text;
}

int32_t Path_IsAbsolute(const char* path)
{
    if (!path) return 0;
    if (path[0] == '\\') return 1;
    bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    return letter && path[1] == ':';
}
