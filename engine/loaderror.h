// Why the last load of outside data failed. The parsers of the content layer
// (objects, scenes, their caches, the skin-weight cache, meshes) refuse bad
// files with 0 or null and leave a one-line reason here, so that tools,
// tests and the log can say what was wrong ("POLS: polygon of 4 vertices").
// Each load clears it first. Main thread only.
#pragma once

// Sets the reason (printf form, cut at 255 characters). The first reason of a
// load wins: later calls keep it, so the message names the root cause.
void LoadError_Set(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The reason of the last failure, or "" after a load that succeeded.
const char* LoadError_Get(void);
void LoadError_Clear(void);
