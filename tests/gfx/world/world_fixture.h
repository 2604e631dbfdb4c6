// The world's tests share the graphics layers' harness.
#pragma once

#include "tests/gfx/layer_fixture.h"

// Names of the older harness, until every layer's tests use the new ones.
namespace worldtest = gfxtest;
using WorldTextureTest = WorldTest;
