// The ".lws" text parser of the scene loader. Not for callers outside the
// scene modules; tests use it to look at a parse without nodes or visuals.
#pragma once

struct Scene;

// Parses the lines that follow the version line of an open scene text into
// the scene's items, keys, envelopes, records, bones and pools, then fills
// missing channels, adds end keys and resolves parents. version is 1 or 3.
// 1 on success; 0 with LoadError_Get() saying why, the scene's parsed data
// freed (SceneData_Free).
int SceneText_Parse(Scene* scene, void* file, int version);

// Reads the first two lines of an open scene text: 1 and the version when
// it is 1 or 3, else 0 (with the reason set).
int SceneText_ReadVersion(void* file, int* version);
