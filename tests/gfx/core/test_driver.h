// A recording stand-in for the device driver: answers the lifecycle requests,
// records every request code and every standard-function call, and refuses
// the codes a test asks it to refuse. EngineScope opens and starts the engine
// over it for the duration of a test.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"

namespace testdriver {

inline std::vector<int32_t>& Requests() { static std::vector<int32_t> log; return log; }
inline std::set<int32_t>& RefusedRequests() { static std::set<int32_t> s; return s; }
inline std::vector<int32_t>& StandardCalls() { static std::vector<int32_t> log; return log; }
inline std::set<int32_t>& RefusedStandard() { static std::set<int32_t> s; return s; }

template <int N>
int32_t Standard(void*, void*, int32_t)
{
    StandardCalls().push_back(N);
    return RefusedStandard().count(N) ? 0 : 1;
}

template <size_t... I>
void FillStandard(StandardFunction* out, std::index_sequence<I...>)
{
    ((out[I] = Standard<(int)I>), ...);
}

int32_t Request(int32_t code, void* out, void* inOut, int32_t arg);

inline const EngineDevice& Record()
{
    static EngineDevice record = {1.0f, Request, 0.0f, 1.0f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
    return record;
}

inline int32_t Request(int32_t code, void* out, void*, int32_t)
{
    Requests().push_back(code);
    if (RefusedRequests().count(code)) return 0;
    switch (code) {
    case REQ_GET_DEVICE:
        *(EngineDevice*)out = Record();
        return 1;
    case REQ_OPEN:
    case REQ_CLOSE:
    case REQ_START:
    case REQ_STOP:
        return 1;
    case REQ_STANDARD_FUNCTIONS:
        FillStandard((StandardFunction*)out, std::make_index_sequence<ENGINE_NUM_STANDARD_FUNCTIONS>());
        return 1;
    default:
        return 0;  // everything else is left to the engine's own answers
    }
}

inline void Install()
{
    EngineDriver driver = {&Record(), nullptr};
    Engine_SetDriver(&driver);
    Requests().clear();
    RefusedRequests().clear();
    StandardCalls().clear();
    RefusedStandard().clear();
}

// Init, open and start on construction; stop, close and terminate on
// destruction. The error slot is cleared on both ends.
struct EngineScope {
    int window = 0;
    explicit EngineScope(uint32_t flags = 0)
    {
        Install();
        Error_Get(nullptr);
        EXPECT_EQ(Engine_Init(nullptr, flags, 0), 1);
        EXPECT_EQ(Engine_Open(&window), 1);
        EXPECT_EQ(Engine_Start(), 1);
    }
    ~EngineScope()
    {
        EXPECT_EQ(Engine_Stop(), 1);
        EXPECT_EQ(Engine_Close(), 1);
        EXPECT_EQ(Engine_Term(), 1);
        Error_Get(nullptr);
    }
};

// Only initialised: plugins may still be attached.
struct InitScope {
    InitScope()
    {
        Install();
        Error_Get(nullptr);
        EXPECT_EQ(Engine_Init(nullptr, 0, 0), 1);
    }
    ~InitScope()
    {
        EXPECT_EQ(Engine_Term(), 1);
        Error_Get(nullptr);
    }
};

}  // namespace testdriver
