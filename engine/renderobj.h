// Render objects: the content layer's drawables. A render object is one
// graphics-engine atomic with its frame, its texture dictionary, blend flags
// and an alpha. The mesh loader makes them; nodes carry them as their
// visual; the node draw walk hands each to RenderObj_Render.
//
// Every draw tests the object's world bounding sphere against the current
// view's six frustum planes (set once per view by RenderObj_SetViewFrustum)
// and, when the object asks for it, against a distance of 120 times its
// radius. Opaque objects draw at once; blended or faded ones are queued and
// drawn after the walk, farthest first. An object's materials are rewritten
// only when its effective alpha changes.
//
// Shared objects are reference-counted in the render-object name cache (the
// mesh registry); an object that is in no registry has one implicit
// reference. Records live from RenderObj_Create to their last release.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Atomic;
struct Frame;
struct List;
struct Material;
struct NameCache;
struct Node;
struct NodeExtra;
struct Sphere;
struct TexSeq;
struct Texture;
struct TextureDictionary;
struct View;

// State bits.
enum : uint32_t {
    RENDEROBJ_TRANSPARENT = 1,  // effective alpha below 1
    RENDEROBJ_INVISIBLE = 2,    // effective alpha x 255 truncates to 0
};

// Blend flags (from object file names and load tags) and what they select.
enum : uint32_t {
    RENDEROBJ_BLEND_ADD = 1,       // source one, destination one; colour and alpha faded
    RENDEROBJ_BLEND_MULTIPLY = 2,  // source zero, destination source colour; colour and alpha faded
    RENDEROBJ_BLEND_ALPHA = 4,     // source alpha, destination inverse source alpha; alpha faded
    RENDEROBJ_BLEND_VERTEX = 8,    // vertex alpha on, no factors chosen
    RENDEROBJ_NO_ZTEST = 16,
    RENDEROBJ_NO_ZWRITE = 32,
    RENDEROBJ_FOG = 64,
    RENDEROBJ_BLENDED = RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_MULTIPLY | RENDEROBJ_BLEND_ALPHA | RENDEROBJ_BLEND_VERTEX,
};

// Object flags (the mesh loader's) kept on the object.
enum : uint32_t {
    RENDEROBJ_UNSHARED = 1,
    RENDEROBJ_TWO_SIDED = 2,
    RENDEROBJ_SKINNED = 8,
    RENDEROBJ_FROM_CACHE = 16,
};

enum : uint32_t {
    RENDEROBJ_QUEUE_SIZE = 1280,
    RENDEROBJ_MAX_ENV_TEXTURES = 64,
    RENDEROBJ_MATERIAL_PLUGIN_ID = 0xDEADDEAD,
};

constexpr float RENDEROBJ_CULL_DISTANCE = 120.0f;  // times the radius

struct RenderObj {
    char* name;                     // owned; may be null
    Frame* frame;                   // own frame (two-sided objects), or null: drawn on the shared frame
    int32_t sharesTextures;         // textures are left alone at release
    Atomic* atomic;                 // owned
    TextureDictionary* dictionary;  // own texture dictionary, or null
    uint32_t state;                 // RENDEROBJ_TRANSPARENT | RENDEROBJ_INVISIBLE
    uint32_t blendFlags;            // RENDEROBJ_BLEND_* and the others above
    uint32_t objectFlags;           // RENDEROBJ_UNSHARED ... RENDEROBJ_FROM_CACHE
    float alpha;                    // 1.0 opaque
    float fade;                     // 1.0 at creation
    float lastAlpha;                // effective alpha last applied to the materials; -1 before the first
    void* extra;                    // owned block of the object's user, freed at release
    int32_t distanceCull;           // test the distance of 120 x radius
    NodeExtra* skin;                // skin binding the object carries, or null
    TexSeq* sequences;              // texture sequences of its materials (owned)
    uint32_t envCount;
    Texture* envTextures[RENDEROBJ_MAX_ENV_TEXTURES];  // environment textures it holds a reference to
};

// Module lifecycle (after the engine has started): the pool (capacity set by
// the caller on RenderObj_GetPool before the first object), the name cache,
// the shared draw frame and the reference frame; with them the meshes' and
// the texture sequences' modules start and stop.
int RenderObj_Init(void);
void RenderObj_Shutdown(void);
// Releases every object, whatever its references.
void RenderObj_DestroyAll(void);
List* RenderObj_GetPool(void);
NameCache* RenderObj_GetCache(void);
// Registers the material extension (a pointer to the material's special
// name, owned and freed with the material; id 0xDEADDEAD). Before the engine
// opens. 1, or 0 when the registry refuses.
int RenderObj_RegisterPlugin(void);
// The special name of a material ("ENV:..." or "SEQ:..."), or null.
const char* RenderObj_GetMaterialName(const Material* material);
// Replaces it with a copy of name (null clears); 0 when memory runs out.
int RenderObj_SetMaterialName(Material* material, const char* name);

// A new object owning atomic (fade 1, alpha 1, the first alpha application
// still to come); null when the pool is exhausted (the atomic stays the
// caller's then).
RenderObj* RenderObj_Create(Atomic* atomic);
// One more reference in the name cache; the object.
RenderObj* RenderObj_AddRef(RenderObj* object);
// Drops a reference and clears *object; the last frees the object: its name,
// sequences, material textures (unless shared), environment textures, atomic
// (taken out of the world) and frame, own dictionary and extra block.
void RenderObj_Release(RenderObj** object);

// Draws the object at node for the view: 1 drawn or queued (or not drawn
// for its distance), 0 culled by the frustum.
int RenderObj_Render(View* view, Node* cameraNode, RenderObj* object, Node* node);
// Queues the object: 0 queued, 1 when the queue is full (not drawn).
int RenderObj_QueueTransparent(View* view, Node* cameraNode, RenderObj* object, Node* node);
// Empties the queue; done at the start of each view's update.
void RenderObj_ResetTransparent(void);
uint32_t RenderObj_GetQueueCount(void);
// Sorts the queue, greater depth first, draws it and empties it.
void RenderObj_FlushTransparent(void);

// 1 when the world sphere lies inside or touches the frustum, 0 when it lies
// outside a plane (d + radius <= 0).
int RenderObj_FrustumTest(const Sphere* sphere);
// 1 (not drawn) when the camera node lies farther than 120 x radius from the
// sphere's centre.
int RenderObj_DistanceCull(const Sphere* sphere, Node* cameraNode);
void RenderObj_SetFlags(RenderObj* object, uint32_t bits, int on);
// The render states of a blend-flag word.
void RenderObj_SetBlendMode(uint32_t flags);
void RenderObj_SetAlpha(RenderObj* object, float alpha);
void RenderObj_SetFade(RenderObj* object, float fade);
void RenderObj_SetDistanceCull(RenderObj* object, int on);

// A triangle the ray test hit: the fraction of the way along the line, the
// world point there and the triangle's world normal. Return 0 to stop.
typedef int (*RenderObjRayHit)(RenderObj* object, float fraction, const Vec3* point, const Vec3* normal, void* data);
// Tests the world line from start to end against the object's triangles as
// placed at node (front faces only, through the geometry's collision tree
// when it has one), calling hit (may be null) for each triangle crossed.
// The atomic sits on a frame of its own for the test and goes back to its
// frame after. Returns the number of triangles reported.
uint32_t RenderObj_RayTest(RenderObj* object, Node* node, const Vec3* start, const Vec3* end, RenderObjRayHit hit,
                           void* data);
// The function slot RenderObj_Init registered the ray test in (for callers
// that find callbacks by slot); null when no slot was free.
void* RenderObj_GetRaySlot(void);

// Takes the view camera's eight frustum corners (synchronised with its frame)
// and derives the centre and six planes, each oriented towards the centre;
// a distance scale of 0 or less becomes |centre - reference point| / 3.
void RenderObj_SetViewFrustum(const View* view);
// The node the reference frame follows (the camera node while a view draws).
void RenderObj_SetReferenceNode(Node* node);
Frame* RenderObj_GetReferenceFrame(void);
float RenderObj_GetDistanceScale(void);
void RenderObj_SetDistanceScale(float scale);
