// The COM basics the DirectInput, DirectSound and DirectShow stand-ins share:
// interface and class identifiers, result codes and the per-thread library
// initialisation. Objects are C++ records with methods and a reference
// count (see each stand-in); there is no registry behind them.
#pragma once

#include <cstdint>
#include <cstring>

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

inline bool Guid_Equal(const Guid& a, const Guid& b) { return memcmp(&a, &b, sizeof(Guid)) == 0; }

// Result codes: >= 0 success, < 0 failure (the Win32 values).
typedef int32_t HResult;
constexpr HResult S_OK = 0;
constexpr HResult S_FALSE = 1;
constexpr HResult E_NOTIMPL = (HResult)0x80004001u;
constexpr HResult E_NOINTERFACE = (HResult)0x80004002u;
constexpr HResult E_POINTER = (HResult)0x80004003u;
constexpr HResult E_ABORT = (HResult)0x80004004u;
constexpr HResult E_FAIL = (HResult)0x80004005u;
constexpr HResult E_ACCESSDENIED = (HResult)0x80070005u;
constexpr HResult E_OUTOFMEMORY = (HResult)0x8007000Eu;
constexpr HResult E_INVALIDARG = (HResult)0x80070057u;

// The base of the stand-ins' objects: a reference count that frees the
// object when the last reference goes.
struct ComObject {
    uint32_t AddRef();
    // Drops one reference and frees the object at zero; returns those left.
    uint32_t Release();
    virtual ~ComObject() = default;
    uint32_t refs = 1;
};

// CoInitialize: counts nested calls (S_FALSE when already initialised).
HResult Com_Initialize(void* reserved);
// CoUninitialize: undoes one Com_Initialize.
void Com_Uninitialize();
// Com_Initialize calls not yet undone (for tests).
int32_t Com_GetInitCount();
