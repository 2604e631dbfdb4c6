// Object scenes: a LightWave scene used as a placement map. Every named item
// of the scene becomes an object whose configuration file is found from the
// item's name: items Crate_00 and Crate_01 both load "<folder>\Crate.cfg"
// (the second as an instance of the first). The scene is loaded nodes-only
// and released after the walk; the objects stay.
//
// The walk is pre-order, so a parent item's object exists before its
// children's Constructors run (a hinge item finds the object it holds that
// way). While it runs, the item being turned into an object is the current
// item node: Constructors read their placement from it.
#pragma once

struct List;
struct Node;
struct Object;

// Create hook: (item node, base name) -> non-zero when it made the object
// itself. After-load hook: (root node, 0), before the walk.
typedef int (*ObjectSceneCreateHook)(Node* item, const char* baseName);
typedef void (*ObjectSceneLoadHook)(Node* root, void* zero);

// Loads the scene nodes-only under a new root node, calls the after-load
// hook, turns each named item (top byte of the node flags 0 or 1) into an
// object from "<folder>\<base name>.cfg" unless the create hook claims it,
// releases the scene and destroys the root. An item whose file is missing
// gets no object and the walk goes on. Returns 0.
int ObjectScene_Load(const char* scenePath, const char* folder, List* pool);
void ObjectScene_SetCreateHook(ObjectSceneCreateHook hook);
void ObjectScene_SetAfterLoadHook(ObjectSceneLoadHook hook);
// The item node being turned into an object, or null outside a walk.
Node* ObjectScene_GetCurrentItemNode(void);
// The base name of an item name: the name cut at its last underscore,
// searched from the third character before the end ("Crate_01" gives
// "Crate"); a name without such an underscore is its own base name. Writes
// at most size bytes (size >= 1).
void ObjectScene_BaseName(const char* name, char* out, int size);
// Copies the current item node's world position and orientation to the
// object's node (outside a walk the node keeps its own pose), then
// Object_Sync (object, 15).
void Object_PlaceAtItemNode(Object* object);
