// Immediate-mode 3D on Direct3D 8: the two pipeline nodes of the Im3D
// pipelines ("ImmInstance.csl" records the batch, "nodeD3D8SubmitNoLight.csl"
// draws it unlit) and the index buffer that indexed batches stream into.
#pragma once

#include <cstdint>

struct Matrix;

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

// The open batch and its render record.
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

enum : uint32_t { D3D8_IM3D_INDEX_CAPACITY = 0xFFFF };

struct PipelineNode;
struct PipelineNodeDefinition;
struct PipelineExecuteParams;

// The node definitions of the Im3D transform and render pipelines.
PipelineNodeDefinition *D3D8_GetImmInstanceNodeDefinition(void);
PipelineNodeDefinition *D3D8_GetSubmitNoLightNodeDefinition(void);
// Node bodies. The transform node records the batch that params->data
// carries; the render node draws that batch with the render record in
// params->data (the same Im3DBatch). Both return 1.
int32_t D3D8_ImmInstanceNode(PipelineNode *node, const PipelineExecuteParams *params);
int32_t D3D8_SubmitNoLightNode(PipelineNode *node, const PipelineExecuteParams *params);
// Draws a batch with its render record. Always 1: device failures fall back
// to user-pointer draws, and a batch with an index past its vertices is
// skipped.
int32_t D3D8_Im3DSubmit(const Im3DBatch *batch);
// Creates the index buffer (cursor 0); 0 when it cannot be made.
int32_t D3D8_Im3DOpen(void);
// Releases it; safe to call twice.
void D3D8_Im3DClose(void);
uint32_t D3D8_Im3DIndexCursor(void);
