// Callback registry: configuration files name behaviour by text
// ("AnimPath_Update", "Hinge_Constructor", "Entity_Constructor"); the registry
// turns such a name into a function. Every module that offers callbacks
// registers them by name at start-up or level start; the object-template
// loader looks the four callback names of an object up here.
//
// Names are compared by Name_Hash (name, 0, 1): case is ignored, white space
// counts. Several entries may carry the same hash; the earliest registered
// wins. Entries live from CallbackRegistry_Add to CallbackRegistry_Shutdown.
#pragma once

#include <cstdint>

// The registry stores functions of any type as this one; callers convert back
// to the type the name stands for (void (*)(void) converts to and from every
// function pointer type without a warning).
typedef void (*CallbackFn)(void);

// Creates / destroys the entry pool. Init returns 1, or 0 when memory fails.
int CallbackRegistry_Init(void);
void CallbackRegistry_Shutdown(void);
// Appends an entry; no duplicate check and no failure report (an entry that
// cannot be stored is dropped). Creates the pool on first use. Null name or
// function is ignored.
void CallbackRegistry_Add(const char* name, CallbackFn fn);
// The function of the first entry, in registration order, whose hash equals
// Name_Hash (name, 0, 1); null for an unknown, empty or null name.
CallbackFn CallbackRegistry_Find(const char* name);
// Number of entries.
uint32_t CallbackRegistry_Count(void);

template <typename F>
inline void CallbackRegistry_AddFn(const char* name, F* fn)
{
    CallbackRegistry_Add(name, reinterpret_cast<CallbackFn>(fn));
}
