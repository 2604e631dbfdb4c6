#include "physics/base/base_system.h"

#include "physics/base/phys_memory.h"
#include "physics/base/phys_timer.h"
#include "physics/base/phys_warning.h"

namespace {
struct BaseModule {
  bool started = false;
};
BaseModule g_base;
}  // namespace

int BaseSystem_Init() {
  if (g_base.started) return 1;
  PhysTimer_ResetAll();
  PhysTimer_Find("/Timer/Physics");
  Physics_ResetWarningCount();
  Physics_ResetMemPeaks();
  g_base.started = true;
  return 1;
}

void BaseSystem_Quit() {
  if (!g_base.started) return;
  PhysTimer_ResetAll();
  g_base.started = false;
}

int BaseSystem_IsStarted() { return g_base.started ? 1 : 0; }

const char* BaseSystem_GetBanner() { return "Helm rigid-body physics 1.0 (single precision)"; }
