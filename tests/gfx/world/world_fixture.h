// The world's tests share the graphics layers' harness.
#pragma once

#include "tests/gfx/layer_fixture.h"
