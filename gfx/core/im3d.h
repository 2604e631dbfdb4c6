// Immediate-mode 3D: world-space vertices supplied every frame. A batch is
// opened by Im3D_Transform, drawn any number of times as primitives of the
// engine's types (1 line list, 2 polyline, 3 triangle list, 4 strip, 5 fan)
// and closed by Im3D_End. The driver's Im3D nodes record and draw it.
#pragma once

#include <cstdint>

#include "gfx/driver/d3d8/d3d8im3d.h"

struct Matrix;
struct Pipeline;

enum : uint32_t { IM3D_MAX_VERTICES = 65536 };

// Opens a batch over vertices (36-byte Im3DVertex, owned by the caller and
// kept alive until Im3D_End) with a world matrix (null = identity) and flags
// (IM3D_TEXTURED, IM3D_NOALPHABLEND, IM3D_NOCLIP). Returns vertices, or null
// (error 50 for more than 65536 vertices).
void *Im3D_Transform(void *vertices, uint32_t count, const Matrix *matrix, uint32_t flags);
// Draws the batch; 0 with error 35 without a batch, 37 for a type without a
// render pipeline (point lists unless one was set).
int32_t Im3D_RenderPrimitive(int32_t primType);
// Index counts are rounded down for line lists (even) and triangle lists
// (multiple of 3).
int32_t Im3D_RenderIndexedPrimitive(int32_t primType, const uint16_t *indices, int32_t indexCount);
// Closes the batch; 0 when none was open.
int32_t Im3D_End(void);

// The pipelines batches run through: null restores the default and returns
// it. Render pipelines exist per primitive type 1-6 (6 has no default);
// another type raises 37 and returns null.
Pipeline *Im3D_SetTransformPipeline(Pipeline *pipeline);
Pipeline *Im3D_SetRenderPipeline(Pipeline *pipeline, int32_t primType);

// Installs the module (engine module 1034); call before Engine_Init.
int32_t Im3D_InstallModule(void);
void *Im3D_ModuleOpen(void *instance, int32_t offset, int32_t size);
void *Im3D_ModuleClose(void *instance, int32_t offset, int32_t size);
