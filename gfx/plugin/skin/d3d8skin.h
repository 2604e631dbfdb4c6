// Drawing skinned atomics on Direct3D 8: the pipeline of one node,
// "nodeD3D8SkinAtomicAllInOne.csl", that instances the atomic's meshes like
// the all-in-one atomic node and deforms the vertices on the CPU at every
// draw.
//
// Each draw builds a palette of bone matrices P_i = S_i x H_i x W^-1 from the
// skin's inverse bone matrices S_i, the hierarchy's matrices H_i and the
// inverse of the atomic's world matrix W (H_i is the node's frame world
// matrix for a hierarchy without matrices; W^-1 is left out for matrices in
// the atomic's own space), then blends each vertex's position and normal by
// its up to four weighted bones into the vertex buffer. The palette covers
// min(node count, bone count, 256) bones; a vertex bone index at or above
// that count uses the identity, and so does a node without a frame.
//
// The palette is rebuilt only when the hierarchy, the drawn atomic or the
// render frame (one per camera update) changes: atomics that share one
// hierarchy are posed separately, one atomic drawn twice in one camera update
// builds once, and a destroyed hierarchy never matches a new one at the same
// address.
//
// Without hardware transform and lighting the deformed vertices go to a
// range of the shared vertex buffers, with prelit colours and texture
// coordinates written once; with it, to a dynamic buffer at every draw.
#pragma once
#include <cstdint>

struct Atomic;
struct Pipeline;

// Creates the skinned-atomic pipeline (plugin word 0x116, data 1) once the
// device is started; 1, or 0 with nothing left (the error slot says why).
int32_t Skin_CreateD3D8Pipeline(void);
// Destroys every pipeline the plugin made.
void Skin_DestroyD3D8Pipelines(void);
// The skinned-atomic pipeline (null while the engine is closed).
Pipeline* Skin_GetD3D8Pipeline(void);

// Deforms the atomic's vertices into its instance data (nothing without a
// skin, a hierarchy or instance data). 1, or 0 when a vertex buffer cannot
// be had or locked (the vertices are then left as they were).
int32_t Skin_UpdateVertices(Atomic* atomic);

// Palettes built since the engine opened (for tests of the cache).
uint32_t Skin_GetPaletteBuildCount(void);
