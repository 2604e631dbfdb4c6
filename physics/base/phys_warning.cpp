#include "physics/base/phys_warning.h"

#include <cstdio>

namespace {

void DefaultHook(const char* title, const char* message, const char* file, int line) {
  std::fprintf(stderr, "physics warning: %s: %s (%s:%d)\n", title ? title : "",
               message ? message : "", file ? file : "?", line);
}

struct WarningModule {
  PhysWarningHook hook = DefaultHook;
  int count = 0;
};
WarningModule g_warn;

}  // namespace

PhysWarningHook Physics_SetWarningHook(PhysWarningHook hook) {
  PhysWarningHook old = g_warn.hook;
  g_warn.hook = hook ? hook : DefaultHook;
  return old;
}

void Physics_Warning(const char* title, const char* message, const char* file, int line) {
  ++g_warn.count;
  g_warn.hook(title, message, file, line);
}

int Physics_GetWarningCount() { return g_warn.count; }
void Physics_ResetWarningCount() { g_warn.count = 0; }
