// LightWave scenes: ".lws" text (version 1 or 3) turned into a Scene of
// items (objects, nulls, lights, cameras) with their motion keys, dissolve
// and light-intensity envelopes, pivots and parents, bones for skinned
// objects, one Node per item and bone, and the objects' visuals.
//
// The parsed scene is written to the hashed cache ("lsf") after every text
// parse and read from there while the cache is fresh; both paths give the
// same scene. Loaded scenes are shared by path through a NameCache: a second
// load of a bone-less scene gives an instance that shares the first one's
// items, keys and records and has nodes of its own; the source lives until
// its last instance is released.
//
// Lifetime: a Scene lives from Scene_Load (or Scene_Instance) to its last
// Scene_Release; its node array, lights and visuals go with it. Keys,
// envelopes, records, bones and name pools belong to the loaded scene and
// are shared, read-only, by its instances. Main thread only.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct List;
struct LwoObject;
struct NameCache;
struct Node;
struct NodeExtra;
struct RenderObj;
struct SceneLight;

enum : uint32_t {
    SCENE_LOOP = 1,          // playback loops
    SCENE_TWO_SIDED = 2,     // objects are loaded two-sided
    SCENE_NO_SHARING = 8,    // not shared through the registry
    SCENE_NODES_ONLY = 16,   // no visuals and no bones; items posed at key 0
    SCENE_UNSHARED_MESHES = 32,
    SCENE_NONE = 0xFFFFFFFFu,  // no index
};

// Item kind flags; a camera is NULL | CAMERA, a light NULL | LIGHT, an
// object none.
enum : uint16_t {
    SCENE_ITEM_NULL = 1,
    SCENE_ITEM_SOUND = 2,
    SCENE_ITEM_CAMERA = 4,
    SCENE_ITEM_LIGHT = 8,
};

// One key of a motion: complete after the parse (missing channels filled).
struct SceneKey {
    Vec3 position;
    Vec3 rotation;  // heading, pitch, bank in radians
    Vec3 scale;
    float time;     // seconds from the scene's start
    uint32_t mask;  // bit n: channel n (x, y, z, h, p, b, sx, sy, sz) was in the file; 0x1FF complete
};
static_assert(sizeof(SceneKey) == 44, "a key is 44 bytes in the cache");

struct SceneBone {
    uint32_t nodeIndex;   // into Scene.nodes
    Vec3 pivot;           // negated "PivotPosition"
    Vec3 pivotRotation;   // radians
    Vec3 restPosition;
    Vec3 restDirection;   // heading, pitch, bank in radians
    float restLength;
    float strength;
    SceneKey* keys;
    uint16_t keyCount;
    uint32_t itemNodeIndex;  // node of the bone's item
    uint32_t boneNumber;     // index among the item's bones, in chain order
    Mat4 inverseRest;        // recomputed at bone set-up
    uint32_t weightMapOffset;  // into the weight-map name pool; SCENE_NONE without a map
    SceneBone* firstChild;
    SceneBone* next;         // the item's bone chain
    uint16_t flags;          // 1 active, 2 scale strength
    char* name;
};

struct SceneItem {
    uint16_t nodeIndex;  // into Scene.nodes
    uint16_t second;     // 0 from the loader
    Vec3 pivot;          // negated "PivotPosition"
    Vec3 pivotRotation;  // heading, pitch, bank in radians
    SceneKey* keys;
    float* dissolveValues;  // as written in the file; alpha = 1 - value
    float* dissolveTimes;
    float* intensityValues;
    float* intensityTimes;
    uint16_t keyCount;
    uint16_t dissolveCount;
    uint16_t intensityCount;
    SceneBone* firstBone;
    float falloff;          // bone falloff exponent; 0 when none was read
    NodeExtra* extra;       // skin binding of a skinned object
    uint16_t kind;          // SCENE_ITEM_*
};

struct SceneRecord {
    uint32_t nameOffset;   // into the item-name pool
    uint32_t duplicate;    // number of earlier items of the same name and null bit
    uint32_t lightNameOffset;  // SCENE_NONE without "LightName"
    // Working fields of one load.
    LwoObject* lwo;        // a skinned object's parse, kept for its weight maps
    float* weightFactors;  // weight-map factors per vertex and bone of a skinned item
    uint32_t vertexCount;
    uint32_t lightColour;  // packed a r g b
    uint32_t lightType;
    float lightIntensity;
    float lightRange;
    float coneAngle;       // degrees
    float edgeAngle;
    uint32_t falloffType;
    SceneRecord* parent;
    uint32_t parentBone;   // SCENE_NONE when the parent is not a bone
    SceneRecord* firstChild;
    SceneRecord* next;     // next sibling (the root chain for roots)
    SceneItem* item;
};

struct Scene {
    float fps;
    float duration;  // seconds
    float start;     // seconds; key times are relative to it
    char* folder;    // of the .lws path, during the load only
    float previousTime;
    float time;
    Node** nodes;    // itemCount + boneCount: item nodes in creation order, then bones
    SceneLight** lights;  // lightCount slots, made by Scene_CreateLights (some may be empty)
    uint32_t ambient;     // packed a r g b
    float ambientIntensity;
    SceneItem* items;
    int32_t firstCamera;  // item index, -1 none
    int32_t cameraCount;
    int32_t firstLight;
    int32_t lightCount;
    SceneRecord* records;  // one per item
    SceneRecord* root;     // first root record; the others follow through next
    uint32_t* parentCodes; // per item as parsed: type << 28 | number
    char* weightMapNames;  // pool of NUL-terminated names
    uint32_t weightMapSize;
    uint32_t weightMapCapacity;
    char* itemNames;
    uint32_t itemNameSize;
    uint32_t itemNameCapacity;
    SceneBone* bones;
    uint32_t* boneParents; // per bone: 0 its item, k bone k - 1
    float zoom;            // "ZoomFactor" of the last camera
    uint16_t itemCount;
    uint16_t itemCapacity;
    uint16_t soundNullCount;
    uint16_t boneCount;
    uint16_t spare[2];     // 0 from the loader, kept in the cache
    Scene* source;         // the scene an instance shares; null for a loaded scene
    uint32_t refCount;
    uint32_t flags;        // SCENE_LOOP
    uint32_t releaseTag;   // passed to the release of the visuals
};

// Module lifecycle: the scene pool (capacity set by the caller on
// Scene_GetPool before the first load) and the registry.
int Scene_Init(void);
// Releases every scene until the pool is empty, then pool and registry.
void Scene_Shutdown(void);
void Scene_ReleaseAll(void);
List* Scene_GetPool(void);
NameCache* Scene_GetCache(void);
void Scene_DisableSharing(void);
void Scene_EnableSharing(void);

// Loads path (".lws" appended when missing) under parent (may be null) with
// the SCENE_* load flags; the loader argument goes to the mesh builder. Null
// when neither the text nor a fresh cache can be read, or either fails its
// checks (LoadError_Get says why). The caller releases the scene.
Scene* Scene_Load(const char* path, Node* parent, uint32_t flags, void* loaderArgument);
// A new scene sharing source's data, with its own nodes under parent (same
// hierarchy, local matrices and names), the source's visuals shown at them
// and cloned lights. Null when the pools are exhausted.
Scene* Scene_Instance(Scene* source, Node* parent);
// Drops one reference; the last frees the scene (and, for an instance, one
// reference of its source). Null is ignored.
void Scene_Release(Scene* scene);
void Scene_SetReleaseTag(Scene* scene, uint32_t tag);

// Queries.
float Scene_GetFps(const Scene* scene);
float Scene_GetDuration(const Scene* scene);
float Scene_GetTime(const Scene* scene);
// The node of the n-th camera (null past the cameras); *fov (may be null)
// gets 2 atan(1 / zoom), untouched when the zoom is 0 or less.
Node* Scene_GetCamera(const Scene* scene, int32_t n, float* fov);
// The item node named "%s_%.2d" (name, number), or null.
Node* Scene_FindItem(const Scene* scene, const char* name, int32_t number);
Node* Scene_FindItemByHash(const Scene* scene, uint32_t hash);
// The n-th item node (in node order, from 0) whose name starts with prefix
// (case-sensitive), or null.
Node* Scene_FindNthItemByPrefix(const Scene* scene, const char* prefix, uint32_t length, uint32_t n);
Node* Scene_GetBoneNode(const Scene* scene, uint32_t bone);
Node* Scene_GetItemNode(const Scene* scene, uint32_t index);
// The item name of a record, inside the pool.
const char* Scene_GetItemName(const Scene* scene, uint32_t item);
