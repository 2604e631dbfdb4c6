// Immediate-mode 3D on Direct3D 8: the two pipeline nodes of the Im3D
// pipelines ("ImmInstance.csl" records the batch, "nodeD3D8SubmitNoLight.csl"
// draws it unlit) and the index buffer that indexed batches stream into.
#pragma once

#include <cstdint>

#include "gfx/core/im3d.h"

enum : uint32_t { D3D8_IM3D_INDEX_CAPACITY = 0xFFFF };

struct PipelineNode;
struct PipelineNodeDefinition;
struct PipelineExecuteParams;

// The driver's record for Im3D_InstallModule: the two nodes below and the
// index buffer's open and close.
const Im3DDriver *D3D8_Im3DDriver(void);
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
