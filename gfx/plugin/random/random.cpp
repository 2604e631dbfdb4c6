#include "gfx/plugin/random/random.h"

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"

namespace {

constexpr uint32_t kSeed = 0x9A319039u;
constexpr uint32_t kWarmUp = 310;

// The engine extension: the table and the two taps, three words apart.
struct RandomState {
    uint32_t* table;
    uint32_t* front;
    uint32_t* rear;
    uint32_t* end;
};

int32_t sOffset = -1;

RandomState* State(void) { return (RandomState*)Engine_ModuleGlobals(sOffset); }

}  // namespace

int32_t Random_PluginAttach(void)
{
    sOffset = Engine_RegisterPlugin((int32_t)sizeof(RandomState), PLUGIN_RANDOM, Random_EngineOpen, Random_EngineClose);
    return sOffset >= 0 ? 1 : 0;
}

void* Random_EngineOpen(void* engine, int32_t offset, int32_t)
{
    sOffset = offset;
    RandomState* s = State();
    s->table = (uint32_t*)Engine_Malloc(sizeof(uint32_t) * RANDOM_TABLE_WORDS);
    if (!s->table) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    s->end = s->table + RANDOM_TABLE_WORDS;
    s->table[0] = kSeed;
    for (uint32_t i = 1; i < RANDOM_TABLE_WORDS; i++) s->table[i] = s->table[i - 1] * 1103515245u + 12345u;
    s->front = s->table + 3;
    s->rear = s->table;
    for (uint32_t i = 0; i < kWarmUp; i++) Random_Next();
    return engine;
}

void* Random_EngineClose(void* engine, int32_t, int32_t)
{
    RandomState* s = State();
    if (s->table) Engine_Free(s->table);
    *s = RandomState{};
    return engine;
}

uint32_t Random_Next(void)
{
    RandomState* s = State();
    HELM_ASSERT(sOffset >= 0 && s->table);
    *s->front += *s->rear;
    const uint32_t result = *s->front >> 1;
    if (++s->front == s->end) {
        s->front = s->table;
        s->rear++;
    } else if (++s->rear == s->end) {
        s->rear = s->table;
    }
    return result;
}
