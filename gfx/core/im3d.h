// Immediate-mode 3D: world-space vertices supplied every frame. A batch is
// opened by Im3D_Transform, drawn any number of times as primitives of the
// engine's types (1 line list, 2 polyline, 3 triangle list, 4 strip, 5 fan)
// and closed by Im3D_End. The batch goes down the default pipelines, whose
// nodes the driver supplies when it installs the module: the transform node
// records the batch, the render node draws it.
#pragma once

#include <cstdint>

struct Matrix;
struct Pipeline;
struct PipelineNodeDefinition;

enum : uint32_t { IM3D_MAX_VERTICES = 65536 };

// An Im3D vertex as callers fill it (36 bytes).
struct Im3DVertex {
    float x, y, z;
    float nx, ny, nz;   // not used by the unlit draw
    uint32_t colour;    // A8R8G8B8
    float u, v;
};

// Batch flags the draw reads.
enum : uint32_t {
    IM3D_TEXTURED = 1,      // the vertices carry texture coordinates
    IM3D_NOALPHABLEND = 2,  // leave alpha blending as it is
    IM3D_NOCLIP = 4,        // every vertex is inside the view
    IM3D_ALLOPAQUE = 8,     // set by Im3D_Transform
    IM3D_NOFOG = 16,        // set by Im3D_Transform
};

// The open batch and its render record: the pipelines' data. The transform
// pipeline gets the batch as Im3D_Transform opened it; each render call
// passes the same record with the primitive type and indices filled in.
struct Im3DBatch {
    uint32_t vertexCount;  // up to 65536
    Im3DVertex *vertices;
    uint32_t stride;       // 36
    uint32_t flags;
    const Matrix *matrix;  // null for world = identity
    int32_t primType;      // engine type 1-5
    const uint16_t *indices;  // null for non-indexed
    uint32_t indexCount;
};

// What the driver supplies to the module. The node definitions must outlive
// the engine; open and close (either may be null) make and release the
// driver's own batch resources when the module opens and closes, open
// returning 0 when they cannot be made (the module's open fails then).
struct Im3DDriver {
    PipelineNodeDefinition *transformNode;  // records the batch in params->data
    PipelineNodeDefinition *renderNode;     // draws the recorded batch with the render record
    int32_t (*open)(void);
    void (*close)(void);
};

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

// Installs the module (engine module 1034) over the driver's nodes (the
// record is copied; both nodes are required); call before Engine_Init. The
// driver calls it when it is installed.
int32_t Im3D_InstallModule(const Im3DDriver *driver);
void *Im3D_ModuleOpen(void *instance, int32_t offset, int32_t size);
void *Im3D_ModuleClose(void *instance, int32_t offset, int32_t size);
