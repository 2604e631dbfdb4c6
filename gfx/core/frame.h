// Frames: the transform hierarchy.
//
// A frame holds a modelling matrix relative to its parent and the world
// matrix derived from it. Changing a frame computes nothing at once: its root
// goes on the engine's dirty-frame list, and the world matrices and the
// attached objects (cameras, atomics, lights) are brought up to date either
// for one hierarchy on demand (Frame_GetWorldMatrix) or for every dirty
// hierarchy when a camera begins an update (Frame_SyncDirtyList).
#pragma once
#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/core/matrix.h"
#include "gfx/core/plugin.h"

// The header of every frame-linked object and of the frame itself.
struct FrameObject {
    uint8_t type;  // FRAMEOBJECT_*
    uint8_t subType;
    uint8_t flags;
    uint8_t privateFlags;
    void* parent;  // for a frame its parent frame, for an object its frame
};

enum : uint8_t {
    FRAMEOBJECT_FRAME = 0,
    FRAMEOBJECT_ATOMIC = 1,
    FRAMEOBJECT_LIGHT = 3,
    FRAMEOBJECT_CAMERA = 4,
};

struct FrameLinkedObject;
// Called whenever the object's frame has its world matrix brought up to date.
typedef FrameLinkedObject* (*FrameObjectSyncFn)(FrameLinkedObject* object);

// An object that can be attached to a frame.
struct FrameLinkedObject {
    FrameObject header;  // parent = the frame or null
    EngineLink inFrame;  // link in the frame's object list
    FrameObjectSyncFn sync;
};

struct Frame {
    FrameObject header;     // type 0; parent = parent frame or null
    EngineLink inDirtyList; // used on roots only
    Matrix modelling;       // relative to the parent; call Frame_MarkDirty after editing it
    Matrix world;           // valid after a sync
    EngineLink objects;     // attached objects (FrameLinkedObject.inFrame)
    Frame* child;           // first child (the newest)
    Frame* next;            // next sibling
    Frame* root;            // root of the hierarchy (itself for a root)
};

// Private flags.
enum : uint8_t {
    FRAME_ROOT_MATRICES = 1,  // on a root: world matrices to recompute
    FRAME_ROOT_OBJECTS = 2,   // on a root: objects to synchronise
    FRAME_MATRIX_CHANGED = 4, // this frame's world and its descendants' to recompute
    FRAME_OBJECTS_DIRTY = 8,  // this frame's objects need their sync
};

// A root frame with identity matrices, or null (out of memory, or a plugin
// constructor failed).
Frame* Frame_Create(void);
// Destroys one frame: it leaves its parent, and its children become roots of
// their own hierarchies that are synchronised (world = modelling) at the next
// sync. Objects still attached are unlinked and left with no frame.
int32_t Frame_Destroy(Frame* frame);
// Destroys a frame and everything below it (a frame with a parent leaves it first).
int32_t Frame_DestroyHierarchy(Frame* root);
// Attaches child (detaching it from its old parent) as parent's newest child.
// Returns parent, or null when child is parent or one of its ancestors. The
// frames given to these functions are never null.
Frame* Frame_AddChild(Frame* parent, Frame* child);
void Frame_MarkDirty(Frame* frame);
// Bits 0-1 of the root's private flags.
uint32_t Frame_IsDirty(const Frame* frame);
// The frame's world matrix, brought up to date for its hierarchy.
Matrix* Frame_GetWorldMatrix(Frame* frame);
// Matrices only; the objects stay pending until the next Frame_SyncDirtyList.
void Frame_SyncHierarchy(Frame* root);
// Brings every listed hierarchy up to date: world matrices, then each
// frame's objects. A frame an object's sync callback edits is listed again
// and brought up to date by the next call, not by this one.
int32_t Frame_SyncDirtyList(void);

// Validation walker for tests, after structural changes. Checks the
// hierarchy the frame belongs to (with null: every hierarchy on the dirty
// list): every frame's root is the hierarchy's root, which has no parent;
// every child names its parent; attached objects name their frame; only
// roots carry the root flags, and a root is on the dirty list exactly when
// it carries them; a frame's pending change is flagged on its root. 1 when
// all hold, else 0. A hierarchy of more than FRAME_VALIDATE_LIMIT frames
// counts as a loop. Changes nothing.
enum : uint32_t { FRAME_VALIDATE_LIMIT = 1u << 22 };
int32_t Frame_Validate(const Frame* frame);

// Moves the object to another frame (or none); a new frame is marked dirty.
void FrameObject_SetFrame(FrameLinkedObject* object, Frame* frame);
// Unlinks the object from its frame's list and leaves the pointer.
void FrameObject_ReleaseFrame(FrameLinkedObject* object);
inline Frame* FrameObject_GetFrame(const FrameLinkedObject* object) { return (Frame*)object->header.parent; }

int32_t Frame_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy);
int32_t Frame_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamGetSize getSize);
PluginRegistry* Frame_GetRegistry(void);

void* Frame_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Frame_ModuleClose(void* instance, int32_t offset, int32_t size);
