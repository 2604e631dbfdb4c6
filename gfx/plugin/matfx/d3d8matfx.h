// Drawing material effects on Direct3D 8: two pipelines, copies of the
// all-in-one atomic and world-sector pipelines (same instancing and
// lighting) whose render callback draws each mesh by its material's effect:
//   - plain, or with a stage-0 texture-coordinate transform;
//   - environment map: the environment texture mapped by camera-space
//     normals (through the environment frame when it has one) added on
//     stage 1 (ADD, or MULTIPLYADD with the coefficient as texture factor),
//     alone on stage 0, through a pixel shader, or in a second pass blended
//     SRCALPHA/ONE;
//   - bump map: vertices built on the CPU with a second texture set shifted
//     along the light direction, drawn in two blended passes (or through
//     pixel shaders), with an environment pass after them for type 3;
//   - dual texture: a single pass by the slot's blend pair when the device
//     has the stages and operations, else a second pass with frame-buffer
//     blending.
// The device's capabilities are read when the pipelines are made: blend
// stages, dual textures, MULTIPLYADD and MODULATE2X (all off with fewer than
// two stages) and pixel shaders (six programs, made only when the device
// reports version 1.0 or more).
//
// After each mesh the texture stages are put back to fixed values, not to
// what they held before: stage 0 MODULATE(TEXTURE, DIFFUSE) with coordinate
// set 0 and no transform, stage 1 no texture with coordinate set 1 and no
// transform, stage 2 DISABLE, alpha blending as the last mesh needed, engine
// blend modes, z-write, lighting and fog colour restored. Texture factor,
// colour vertex, emissive and diffuse material sources and clipping stay as
// the callback set them.
#pragma once
#include <cstdint>

struct Atomic;
struct D3D8MeshInstance;
struct Material;
struct Matrix;
struct Frame;
struct Pipeline;
struct ResourceArenaEntry;
struct Texture;
struct WorldSector;

enum : uint32_t { MATFX_PIXEL_SHADER_COUNT = 6 };

// Creates both pipelines, reads the capabilities and makes the pixel shaders
// (device started); 1, or 0 with nothing left.
int32_t MatFX_OpenPipelines(void);
// Destroys both pipelines and deletes every pixel shader made. Returns 1.
int32_t MatFX_ClosePipelines(void);
Pipeline* MatFX_GetAtomicPipeline(void);
Pipeline* MatFX_GetWorldSectorPipeline(void);

Atomic* MatFX_AtomicSetPipeline(Atomic* atomic);
WorldSector* MatFX_SectorSetPipeline(WorldSector* sector);

// The render callback of both pipelines (D3D8RenderCallback).
void MatFX_AtomicRenderCallback(ResourceArenaEntry* entry, void* object, uint8_t type, uint32_t flags);

// Puts texture on the stage with camera-space-normal coordinates (reflection
// vectors for a cube texture) and the transform that maps them into it:
// through frame's world matrix and the camera's when frame is given. Returns 1.
int32_t MatFX_SetupEnvMapStage(Texture* texture, uint32_t stage, Frame* frame);

// One 44-byte vertex of the bump passes: position, normal, colour, the
// mesh's texture coordinates and the shifted second set.
struct MatFXBumpVertex {
    float x, y, z;
    float nx, ny, nz;
    uint32_t colour;
    float u0, v0;
    float u1, v1;
};

// Fills out (room for record->numVertices vertices) from the record's vertex
// range: the second texture set is the first moved by -(T . L) k and
// -(B . L) k, with L the unit vector to the light point in object space, T
// and B the vertex's tangent and binormal from its first triangle, and k =
// coefficient / bumped-texture width. The light point is the bump frame's
// (or the camera frame's) first directional or spot light's direction, or
// the frame's position; objectToWorld is the object's world matrix (null:
// identity). A degenerate tangent or light vector gives no shift. 1, or 0
// when the record's buffers cannot be read.
int32_t MatFX_BuildBumpVertices(const D3D8MeshInstance* record, const Material* material, const Matrix* objectToWorld,
                                MatFXBumpVertex* out);
