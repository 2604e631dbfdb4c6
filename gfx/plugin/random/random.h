// Random numbers: one deterministic pseudo-random sequence for the program.
//
// An additive lagged-Fibonacci generator over a table of 31 words,
// x[n] = x[n - 31] + x[n - 3] (mod 2^32), seeded with a fixed word and a
// linear congruential fill every time the engine opens, then run 310 steps
// before the first value is handed out. Every run therefore draws the same
// sequence. The table lives in the engine extension of plugin 0x10C; attach
// the plugin after the world and before skinning (the attach order fixes the
// offsets of every later plugin).
#pragma once
#include <cstdint>

enum : uint32_t {
    PLUGIN_RANDOM = 0x10C,
    RANDOM_TABLE_WORDS = 31,
};

// Registers the engine extension (open seeds, close frees the table); 1, or
// 0 when the registry refuses (it recorded why). Between Engine_Init and
// Engine_Open only.
int32_t Random_PluginAttach(void);

// The next value, 0 .. 2^31 - 1. Only while the engine is open.
uint32_t Random_Next(void);

// Engine extension callbacks: open allocates and seeds the table (null with
// 0x80000013 when memory runs out, nothing left allocated); close frees it.
void* Random_EngineOpen(void* engine, int32_t offset, int32_t size);
void* Random_EngineClose(void* engine, int32_t offset, int32_t size);
