// Error slot: the one pending error of the graphics engine.
//
// Every engine operation that fails records {plugin id, code} here and returns
// 0 or null. Only the first error is kept until somebody reads it with
// Error_Get, so a caller that wants to know why its own call failed must clear
// the slot (Error_Get) before making the call.
#pragma once
#include <cstdint>

struct ErrorRecord {
    int32_t pluginId;  // 0 for general codes (bit 31 set), else the raising plugin
    int32_t code;      // 0x80000000 means "no error"
};

// General error codes (stored with plugin id 0).
enum : uint32_t {
    ERR_NO_ERROR = 0x80000000u,
    ERR_BAD_ENGINE_STATE = 0x80000001u,
    ERR_FILE_OPEN = 0x80000002u,
    ERR_BAD_COMBINATION = 0x80000003u,
    ERR_BAD_VERSION = 0x80000004u,
    ERR_OUT_OF_MEMORY = 0x80000013u,
    ERR_NULL_ARGUMENT = 0x80000016u,
    ERR_PLUGIN_REFUSED = 0x80000017u,
    ERR_BAD_BLOCK = 0x80000018u,
    ERR_SHORT_READ = 0x8000001Au,
    ERR_WRITE_FAILED = 0x8000001Cu,
};

// Codes of the engine core itself (plugin id 1).
enum : int32_t {
    ERR_END_OF_STREAM = 5,
    ERR_ARENA_FULL = 12,
    ERR_BAD_ACCESS = 13,
    ERR_BAD_STREAM_TYPE = 14,
    ERR_NO_CAMERA_UPDATE = 16,
    ERR_DEVICE_REFUSED = 24,
    ERR_ZERO_VECTOR = 25,
    ERR_PIPE_TOPOLOGY = 28,
    ERR_PIPE_CLUSTER_MISSING = 29,
    ERR_PIPE_CLUSTER_TWICE = 30,
    ERR_PIPE_CLUSTER_NULL = 31,
    ERR_PIPE_SCRATCH = 32,
    ERR_PIPE_NO_INPUT = 34,
    ERR_IM3D_NO_BATCH = 35,
    ERR_PIPE_ENTRY = 36,
    ERR_BAD_PRIMITIVE = 37,
    ERR_PIPE_CLUSTERS = 40,
    ERR_PIPE_OUTPUTS = 41,
    ERR_PIPE_NODES = 42,
    ERR_IM3D_VERTICES = 50,
    ERR_PIPE_NOT_LOCKED = 52,
};

// Records the error unless one is pending. Codes with bit 31 set are stored
// with plugin id 0.
void Error_Set(const ErrorRecord* record);
// Copies the pending error to *out (when not null) and clears the slot to
// {0, 0x80000000}. Returns out.
ErrorRecord* Error_Get(ErrorRecord* out);
// Returns code unchanged; raise sites pass their code through it.
int32_t Error_PassCode(int32_t code);
// Shorthand used by the engine core: Error_Set({1, code}).
void Error_Raise(uint32_t code);
// Reads and clears the slot, returning only the code (tests and callers that
// want to know why the previous call failed).
int32_t Error_TakeCode(void);

// The slot lives outside the engine instance so that errors raised before the
// engine opens (or after it closes) are not lost: an error raised while the
// engine starts stays readable after a failed Engine_Start. Both are no-ops.
void* Error_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Error_ModuleClose(void* instance, int32_t offset, int32_t size);
