// Default pipelines and pipeline selection.
//
// Every atomic and world sector is drawn by executing a pipeline on it: its
// own when it has one, else (for a sector) its world's, else the default of
// its kind. The defaults are the Direct3D 8 pipelines, created when the world
// module opens; a plugin may install another default and put the built-in
// one back with null.
#pragma once
#include <cstdint>

struct Pipeline;
struct Atomic;
struct WorldSector;

// pipeline null restores the built-in one.
void Pipeline_SetDefaultAtomicPipeline(Pipeline* pipeline);
void Pipeline_SetDefaultWorldSectorPipeline(Pipeline* pipeline);
Pipeline* Pipeline_GetDefaultAtomicPipeline(void);
Pipeline* Pipeline_GetDefaultWorldSectorPipeline(void);
// The built-in pipelines the driver registers (null while none is).
void Pipeline_SetBuiltInAtomicPipeline(Pipeline* pipeline);
void Pipeline_SetBuiltInWorldSectorPipeline(Pipeline* pipeline);

// The pipeline that draws the object now.
Pipeline* Atomic_GetRenderPipeline(const Atomic* atomic);
Pipeline* WorldSector_GetRenderPipeline(const WorldSector* sector);

// Creates the Direct3D 8 atomic and sector pipelines; 0 (nothing left) when
// either fails. Called by the world module's open.
int32_t WorldPipes_Open(void);
void WorldPipes_Close(void);
