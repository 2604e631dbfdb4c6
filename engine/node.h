// Scene-graph nodes: the engine layer's own transform hierarchy of named
// nodes, apart from the graphics engine's frames.
//
// Every placed thing of a level (scene items, objects, lights, cameras,
// sounds) hangs on a Node. A node keeps a local matrix (relative to its
// parent) and a world matrix that is brought up to date lazily: changing a
// local matrix only flags the node's subtree (NODE_DIRTY), and the world
// matrices are recomputed when someone reads them or when the draw walk
// reaches them. Invariant: a node with NODE_DIRTY has it on every
// descendant too.
//
// A dirty root's world matrix is its local matrix: a read brings it up to
// date as the draw walk does, so a root moved with the local setters and its
// subtree read back where they now are before any draw.
//
// Names live in one shared text pool that only grows; renaming appends a new
// copy. The pool is compacted after more than 1000 named nodes were
// destroyed and whenever the state stack pops a state. Nodes live from
// Node_Create to Node_Destroy or Node_Shutdown. Main thread only.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct List;
struct Matrix;
struct NodeExtra;
struct RenderObj;
struct View;

enum : uint32_t {
    NODE_NO_VISUAL = 1,   // the node's own visual is not drawn (children still are)
    NODE_DIRTY = 2,       // world matrix out of date
    NODE_CULLED = 4,      // culled in the last draw
    NODE_HIDDEN = 8,      // the node and its subtree are skipped by the draw walk
    NODE_ZERO_SCALE = 16, // set by scene posing for items scaled to zero: visual not drawn
    NODE_NO_NAME = 0xFFFFFFFFu,
};

struct Node {
    uint32_t nameOffset;  // into the shared name pool; NODE_NO_NAME when unnamed
    uint32_t nameHash;    // Name_Hash(name, 0, 1); kept when the name is cleared
    uint32_t flags;       // NODE_*
    float alpha;          // 0..255 in whole steps
    Mat4 local;           // relative to the parent
    Mat4 world;           // valid while NODE_DIRTY is clear
    RenderObj* visual;    // drawn at this node; not owned
    NodeExtra* extra;     // skin binding; not owned
    void* object;         // the engine object that owns the node; not owned
    Node* parent;
    Node* child;          // first child: the newest
    Node* prev;           // siblings
    Node* next;
};

// Creates the node pool (its capacity is the caller's: List_SetBlockSize on
// Node_GetPool before the first node) and the name pool. 1, or 0 when memory
// runs out.
int Node_Init(void);
// Destroys every remaining node, the pool and the name pool.
void Node_Shutdown(void);
List* Node_GetPool(void);

// A new unnamed node (alpha 255, local = world = identity) put first in
// parent's child list; with a parent its world is flagged out of date. Null
// when the pool is exhausted.
Node* Node_Create(Node* parent);
// Unlinks the children (they become roots that keep their last world
// matrices; they are not destroyed), the name and the node from its parent,
// and frees the node. The visual and the skin binding are their owners' to
// release first. Null is ignored.
void Node_Destroy(Node* node);
// Node_Destroy, then *node = null; ignores a null pointer or node.
void Node_DestroyRef(Node** node);

// Names. Null clears the name (the hash stays). A name is copied into the
// pool; 0 when the pool cannot grow (the node keeps its old name).
int Node_SetName(Node* node, const char* name);
// 1 and the name copied into buffer (which holds at least size bytes, the
// name cut to fit), or 0 and an empty buffer for an unnamed node.
int Node_GetName(const Node* node, char* buffer, uint32_t size);
// The name inside the pool, valid until the next rename or compaction; null
// when unnamed.
const char* Node_GetNameText(const Node* node);
uint32_t Node_GetNameHash(const Node* node);
// The first node of the subtree in pre-order (root first, then each child's
// subtree in child-list order) with the name's hash; none for hash 0.
Node* Node_FindByName(Node* root, const char* name);
Node* Node_FindByHash(Node* root, uint32_t hash);
// Rebuilds the name pool from the names of the live nodes.
void Node_CompactNames(void);
// Compactions since Node_Init (for tests and statistics).
uint32_t Node_GetCompactionCount(void);

// Links. Setting a parent moves the node (first in the new parent's list)
// and flags its subtree; null makes it a root. A parent inside the node's own
// subtree is a broken contract.
void Node_SetParent(Node* node, Node* parent);
inline Node* Node_GetParent(const Node* node) { return node->parent; }
inline void Node_SetVisual(Node* node, RenderObj* visual) { node->visual = visual; }
inline RenderObj* Node_GetVisual(const Node* node) { return node->visual; }
inline void Node_SetExtra(Node* node, NodeExtra* extra) { node->extra = extra; }
inline NodeExtra* Node_GetExtra(const Node* node) { return node->extra; }
inline void Node_SetObject(Node* node, void* object) { node->object = object; }
inline void* Node_GetObject(const Node* node) { return node->object; }

// Sets (on != 0) or clears bits of the flag word; callers use NODE_HIDDEN to
// hide and show.
void Node_SetFlags(Node* node, uint32_t bits, int on);
// 1 when any node of the subtree was culled in the last draw.
int Node_IsCulled(Node* root);
// Alpha a (clamped to 0..1) stored as truncate(a x 255) on the node and its
// whole subtree.
void Node_SetAlpha(Node* node, float alpha);

// Local transform; each flags the subtree out of date.
void Node_SetPosition(Node* node, const Vec3* position);
// Rotation rows from at and up, orthonormalised; position kept.
void Node_SetOrientation(Node* node, const Vec3* at, const Vec3* up);
// Rotation about the axis (radians); position kept.
void Node_SetRotation(Node* node, const Vec3* axis, float angle);
// Mode 0: local = diag(s) x local (scales along the node's own axes, the
// position unchanged); mode 1: local = local x diag(s) (the position scales too).
void Node_Scale(Node* node, const Vec3* scale, int mode);
void Node_SetMatrix(Node* node, const Mat4* m);
void Node_GetMatrix(const Node* node, Mat4* out);
void Node_GetPosition(const Node* node, Vec3* out);
// Normalised at (row 2) and up (row 1) of the local matrix; either may be null.
void Node_GetOrientation(const Node* node, Vec3* at, Vec3* up);

// Brings the world matrix up to date: the dirty ancestors are recomputed from
// the top down (a dirty root takes its local matrix).
void Node_UpdateWorld(Node* node);
// World transform; each first brings the world matrix up to date.
void Node_GetWorldMatrix(Node* node, Mat4* out);
void Node_GetWorldPosition(Node* node, Vec3* out);
void Node_GetWorldOrientation(Node* node, Vec3* at, Vec3* up);
// The world matrix in the graphics engine's form, flagged as changed.
void Node_GetWorldFrameMatrix(Node* node, Matrix* out);
// Write the world matrix, derive the local one from the parent's world, and
// flag the subtree (the node's own world stays valid).
void Node_SetWorldPosition(Node* node, const Vec3* position);
void Node_SetWorldOrientation(Node* node, const Vec3* at, const Vec3* up);
// Where a lies in b's frame: the position row of a.world x inverse(b.world).
void Node_GetRelativePosition(Node* a, Node* b, Vec3* out);
// point x a.world x inverse(b.world).
void Node_TransformPointTo(Node* a, Node* b, const Vec3* point, Vec3* out);

// Walks in pre-order from root (root first). The callback must not destroy or
// move nodes of the subtree being walked.
typedef int (*NodeFn)(Node* node, void* arg);
void Node_ForAll(Node* root, NodeFn fn, void* arg);
// The first node for which fn returns non-zero, or null.
Node* Node_FindIf(Node* root, NodeFn fn, void* arg);

// For every node of the subtree (of the whole pool when root is null) with
// a skin binding: NodeExtra_BindSkin with its visual. Run when a state is
// entered.
void Node_RefreshAttachments(Node* root);
// The draw walk from root, whose parent's world counts as the identity:
// hidden subtrees are skipped; bones are updated; out-of-date world matrices
// are recomputed; each visible visual is drawn through RenderObj_Render, and
// a visual culled by the view's frustum marks its node NODE_CULLED and
// skips its children.
void Node_Render(View* view, Node* cameraNode, Node* root);

// Checks the links of the subtree (parents, sibling back-links, no loops) and
// the dirty invariant; 1 when they hold. For tests after structural edits.
int Node_Validate(Node* root);
