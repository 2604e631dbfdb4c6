// The engine's render-state entry points: forwarded to the device block's
// render-state set and get once a camera update is open.
#pragma once

#include <cstdint>

// 0 with error 16 while no camera update is open, else the device's answer.
// The value travels in the pointer (see the driver's render-state set).
int32_t RenderState_Set(int32_t state, void *value);
// The device's answer; value receives the state's value.
int32_t RenderState_Get(int32_t state, void *value);
