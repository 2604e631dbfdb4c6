#include "engine/node.h"

#include <cstring>

#include "common/assert.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "gfx/core/matrix.h"

namespace {

constexpr uint32_t NAME_POOL_STEP = 1024;
constexpr uint32_t COMPACT_AFTER = 1000;

struct NodeModule {
    List* pool;
    char* names;             // name pool: NUL-terminated names back to back
    uint32_t capacity;       // bytes of names
    uint32_t used;           // bytes in use
    uint32_t destroyedNamed; // named nodes destroyed since the last compaction
    uint32_t compactions;
    Node** path;             // scratch of Node_UpdateWorld: the dirty chain
    uint32_t pathCapacity;
};

NodeModule g_node;

// Next node of a pre-order walk of root's subtree, after `node`; skip: do not
// enter node's children.
Node* NextPreOrder(Node* root, Node* node, int skipChildren)
{
    if (!skipChildren && node->child) return node->child;
    while (node != root) {
        if (node->next) return node->next;
        node = node->parent;
    }
    return nullptr;
}

// Flags the node and its subtree as out of date.
void Node_SetDirty(Node* node)
{
    // Stops at nodes already flagged: by the invariant their subtrees are too.
    if (node->flags & NODE_DIRTY) return;
    Node* n = node;
    int skip = 0;
    while (n) {
        skip = (n->flags & NODE_DIRTY) && n != node;
        n->flags |= NODE_DIRTY;
        n = NextPreOrder(node, n, skip);
    }
}

void Unlink(Node* node)
{
    if (node->prev)
        node->prev->next = node->next;
    else if (node->parent)
        node->parent->child = node->next;
    if (node->next) node->next->prev = node->prev;
    node->parent = node->prev = node->next = nullptr;
}

void LinkFirst(Node* node, Node* parent)
{
    node->parent = parent;
    node->prev = nullptr;
    node->next = parent->child;
    if (parent->child) parent->child->prev = node;
    parent->child = node;
}

int CopyNameOfLive(void* item, void* arg)
{
    Node* node = (Node*)item;
    const char* old = (const char*)arg;
    if (node->nameOffset != NODE_NO_NAME) {
        // The old pool stays alive until every name is copied.
        if (!Node_SetName(node, old + node->nameOffset)) node->nameOffset = NODE_NO_NAME;
    }
    return 0;
}

int DestroyEach(void* item, void*)
{
    Node* node = (Node*)item;
    node->parent = node->child = node->prev = node->next = nullptr;
    return 0;
}

}  // namespace

int Node_Init(void)
{
    if (g_node.pool) return 1;
    g_node = NodeModule{};
    g_node.pool = List_Create(sizeof(Node), 16);
    return g_node.pool != nullptr;
}

void Node_Shutdown(void)
{
    if (!g_node.pool) return;
    List_ForEach(g_node.pool, DestroyEach, nullptr);
    List_Destroy(g_node.pool);
    Mem_Free(g_node.names);
    Mem_Free(g_node.path);
    g_node = NodeModule{};
}

List* Node_GetPool(void) { return g_node.pool; }

Node* Node_Create(Node* parent)
{
    HELM_ASSERT(g_node.pool);
    Node* node = (Node*)List_Alloc(g_node.pool);
    if (!node) return nullptr;
    node->nameOffset = NODE_NO_NAME;
    node->alpha = 255.0f;
    Mat4_Identity(&node->local);
    Mat4_Identity(&node->world);
    if (parent) {
        LinkFirst(node, parent);
        node->flags |= NODE_DIRTY;
    }
    return node;
}

void Node_Destroy(Node* node)
{
    if (!node) return;
    // Each child becomes a root where it stands: its world brought up to
    // date, and its local matrix that world.
    while (Node* child = node->child) {
        Node_UpdateWorld(child);
        child->local = child->world;
        Unlink(child);
    }
    if (node->nameOffset != NODE_NO_NAME) {
        node->nameOffset = NODE_NO_NAME;
        if (g_node.destroyedNamed++ > COMPACT_AFTER) {
            g_node.destroyedNamed = 0;
            Node_CompactNames();
        }
    }
    Unlink(node);
    List_Free(g_node.pool, node);
}

void Node_DestroyRef(Node** node)
{
    if (!node || !*node) return;
    Node_Destroy(*node);
    *node = nullptr;
}

int Node_SetName(Node* node, const char* name)
{
    HELM_ASSERT(node);
    if (!name) {
        node->nameOffset = NODE_NO_NAME;
        return 1;
    }
    const size_t length = strlen(name);
    if (length >= NODE_NO_NAME - g_node.used - 1) return 0;
    const uint32_t need = g_node.used + (uint32_t)length + 1;
    if (need > g_node.capacity) {
        // A name taken from the pool itself (another node's) moves with it.
        const bool inPool = g_node.names && name >= g_node.names && name < g_node.names + g_node.used;
        const size_t offset = inPool ? (size_t)(name - g_node.names) : 0;
        // Grow in whole steps until the name fits, however long it is.
        uint32_t capacity = g_node.capacity;
        while (capacity < need) capacity += NAME_POOL_STEP;
        char* grown = (char*)Mem_Realloc(g_node.names, 8, capacity);
        if (Mem_GetSize(grown) < capacity) return 0;
        g_node.names = grown;
        g_node.capacity = capacity;
        if (inPool) name = g_node.names + offset;
    }
    memcpy(g_node.names + g_node.used, name, length + 1);
    node->nameOffset = g_node.used;
    node->nameHash = Name_Hash(name, 0, 1);
    g_node.used = need;
    return 1;
}

const char* Node_GetNameText(const Node* node)
{
    return node->nameOffset == NODE_NO_NAME ? nullptr : g_node.names + node->nameOffset;
}

int Node_GetName(const Node* node, char* buffer, uint32_t size)
{
    HELM_ASSERT(buffer && size > 0);
    const char* name = Node_GetNameText(node);
    if (!name) {
        buffer[0] = 0;
        return 0;
    }
    size_t n = strlen(name);
    if (n >= size) n = size - 1;
    memcpy(buffer, name, n);
    buffer[n] = 0;
    return 1;
}

uint32_t Node_GetNameHash(const Node* node) { return node->nameHash; }

Node* Node_FindByName(Node* root, const char* name) { return Node_FindByHash(root, Name_Hash(name, 0, 1)); }

Node* Node_FindByHash(Node* root, uint32_t hash)
{
    if (!root || hash == 0) return nullptr;
    for (Node* n = root; n; n = NextPreOrder(root, n, 0))
        if (n->nameHash == hash) return n;
    return nullptr;
}

void Node_CompactNames(void)
{
    char* old = g_node.names;
    g_node.names = nullptr;
    g_node.capacity = g_node.used = 0;
    if (old) List_ForEach(g_node.pool, CopyNameOfLive, old);
    Mem_Free(old);
    g_node.compactions++;
}

uint32_t Node_GetCompactionCount(void) { return g_node.compactions; }

void Node_SetParent(Node* node, Node* parent)
{
    HELM_ASSERT(node && node != parent);
    Unlink(node);
    if (parent) {
        for (Node* p = parent; p; p = p->parent) HELM_ASSERT(p != node);
        LinkFirst(node, parent);
    }
    Node_SetDirty(node);
}

void Node_SetFlags(Node* node, uint32_t bits, int on)
{
    if (on)
        node->flags |= bits;
    else
        node->flags &= ~bits;
}

int Node_IsCulled(Node* root)
{
    for (Node* n = root; n; n = NextPreOrder(root, n, 0))
        if (n->flags & NODE_CULLED) return 1;
    return 0;
}

void Node_SetAlpha(Node* node, float alpha)
{
    // Authored dissolve envelopes are not clamped; wrapping through the byte
    // mask would turn 1.01 nearly transparent, so clamp first.
    if (!(alpha > 0.0f)) alpha = 0.0f;
    if (alpha > 1.0f) alpha = 1.0f;
    const float stored = (float)(int)(alpha * 255.0f);
    for (Node* n = node; n; n = NextPreOrder(node, n, 0)) n->alpha = stored;
}

void Node_SetPosition(Node* node, const Vec3* p)
{
    node->local.m[3][0] = p->x;
    node->local.m[3][1] = p->y;
    node->local.m[3][2] = p->z;
    Node_SetDirty(node);
}

void Node_SetOrientation(Node* node, const Vec3* at, const Vec3* up)
{
    const Vec3 position = {node->local.m[3][0], node->local.m[3][1], node->local.m[3][2]};
    Mat4_FromAtUp(&node->local, &position, at, up);
    Node_SetDirty(node);
}

void Node_SetRotation(Node* node, const Vec3* axis, float angle)
{
    const Vec3 position = {node->local.m[3][0], node->local.m[3][1], node->local.m[3][2]};
    Mat4_FromAxisAngle(&node->local, axis, angle, &position);
    Node_SetDirty(node);
}

void Node_Scale(Node* node, const Vec3* s, int mode)
{
    const float f[3] = {s->x, s->y, s->z};
    if (mode == 0) {
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 3; c++) node->local.m[r][c] *= f[r];
    } else {
        for (int r = 0; r < 4; r++)
            for (int c = 0; c < 3; c++) node->local.m[r][c] *= f[c];
    }
    Node_SetDirty(node);
}

void Node_SetMatrix(Node* node, const Mat4* m)
{
    node->local = *m;
    Node_SetDirty(node);
}

void Node_GetMatrix(const Node* node, Mat4* out) { *out = node->local; }

void Node_GetPosition(const Node* node, Vec3* out)
{
    *out = {node->local.m[3][0], node->local.m[3][1], node->local.m[3][2]};
}

void Node_GetOrientation(const Node* node, Vec3* at, Vec3* up) { Mat4_GetAtUp(&node->local, at, up); }

void Node_UpdateWorld(Node* node)
{
    // Collect the dirty chain upwards, up to and with a dirty root.
    uint32_t count = 0;
    for (Node* n = node; n && (n->flags & NODE_DIRTY); n = n->parent) {
        if (count == g_node.pathCapacity) {
            const uint32_t capacity = g_node.pathCapacity ? g_node.pathCapacity * 2 : 64;
            Node** grown = (Node**)Mem_Realloc(g_node.path, 8, capacity * sizeof(Node*));
            if (Mem_GetSize(grown) < capacity * sizeof(Node*)) return;  // out of memory: stays dirty
            g_node.path = grown;
            g_node.pathCapacity = capacity;
        }
        g_node.path[count++] = n;
    }
    while (count > 0) {
        Node* n = g_node.path[--count];
        if (n->parent) Mat4_Multiply(&n->world, &n->local, &n->parent->world);
        else n->world = n->local;
        n->flags &= ~NODE_DIRTY;
    }
}

void Node_GetWorldMatrix(Node* node, Mat4* out)
{
    Node_UpdateWorld(node);
    *out = node->world;
}

void Node_GetWorldPosition(Node* node, Vec3* out)
{
    Node_UpdateWorld(node);
    *out = {node->world.m[3][0], node->world.m[3][1], node->world.m[3][2]};
}

void Node_GetWorldOrientation(Node* node, Vec3* at, Vec3* up)
{
    Node_UpdateWorld(node);
    Mat4_GetAtUp(&node->world, at, up);
}

void Node_GetWorldFrameMatrix(Node* node, Matrix* out)
{
    Node_UpdateWorld(node);
    const Mat4& w = node->world;
    Vec3* rows[4] = {&out->right, &out->up, &out->at, &out->pos};
    for (int r = 0; r < 4; r++) *rows[r] = {w.m[r][0], w.m[r][1], w.m[r][2]};
    Matrix_MarkChanged(out);
}

namespace {

// Derives local from the world matrix just written, then flags the subtree
// while keeping the node's own world valid.
void CommitWorld(Node* node)
{
    if (node->parent) {
        Node_UpdateWorld(node->parent);
        Mat4 inverse;
        Mat4_InvertAffine(&inverse, &node->parent->world);
        Mat4_Multiply(&node->local, &node->world, &inverse);
    } else {
        node->local = node->world;
    }
    node->flags &= ~NODE_DIRTY;
    for (Node* c = node->child; c; c = c->next) Node_SetDirty(c);
}

}  // namespace

void Node_SetWorldPosition(Node* node, const Vec3* p)
{
    Node_UpdateWorld(node);
    node->world.m[3][0] = p->x;
    node->world.m[3][1] = p->y;
    node->world.m[3][2] = p->z;
    CommitWorld(node);
}

void Node_SetWorldOrientation(Node* node, const Vec3* at, const Vec3* up)
{
    Node_UpdateWorld(node);
    const Vec3 position = {node->world.m[3][0], node->world.m[3][1], node->world.m[3][2]};
    Mat4_FromAtUp(&node->world, &position, at, up);
    CommitWorld(node);
}

void Node_GetRelativePosition(Node* a, Node* b, Vec3* out)
{
    const Vec3 origin = {0, 0, 0};
    Node_TransformPointTo(a, b, &origin, out);
}

void Node_TransformPointTo(Node* a, Node* b, const Vec3* point, Vec3* out)
{
    Node_UpdateWorld(a);
    Node_UpdateWorld(b);
    Mat4 inverse, m;
    Mat4_InvertAffine(&inverse, &b->world);
    Mat4_Multiply(&m, &a->world, &inverse);
    Mat4_TransformPoint(out, point, &m);
}

void Node_ForAll(Node* root, NodeFn fn, void* arg)
{
    for (Node* n = root; n; n = NextPreOrder(root, n, 0)) fn(n, arg);
}

Node* Node_FindIf(Node* root, NodeFn fn, void* arg)
{
    for (Node* n = root; n; n = NextPreOrder(root, n, 0))
        if (fn(n, arg)) return n;
    return nullptr;
}

namespace {

int BindEach(void* item, void*)
{
    Node* node = (Node*)item;
    if (node->extra) NodeExtra_BindSkin(node->extra, node->visual);
    return 0;
}

}  // namespace

void Node_RefreshAttachments(Node* root)
{
    if (!root) {
        List_ForEach(g_node.pool, BindEach, nullptr);
        return;
    }
    for (Node* n = root; n; n = NextPreOrder(root, n, 0)) BindEach(n, nullptr);
}

void Node_Render(View* view, Node* cameraNode, Node* root)
{
    Mat4 identity;
    Mat4_Identity(&identity);
    Node* n = root;
    while (n) {
        if (n->flags & NODE_HIDDEN) {
            n = NextPreOrder(root, n, 1);
            continue;
        }
        if (n->extra) NodeExtra_UpdateBones(n->extra);
        if (n->flags & NODE_DIRTY) {
            const Mat4* parentWorld = n == root || !n->parent ? &identity : &n->parent->world;
            Mat4_Multiply(&n->world, &n->local, parentWorld);
            n->flags &= ~NODE_DIRTY;
        }
        n->flags &= ~NODE_CULLED;
        int skip = 0;
        if (!(n->flags & (NODE_NO_VISUAL | NODE_ZERO_SCALE)) && n->visual) {
            if (!RenderObj_Render(view, cameraNode, n->visual, n)) {
                n->flags |= NODE_CULLED;
                skip = 1;
            }
        }
        n = NextPreOrder(root, n, skip);
    }
}

int Node_Validate(Node* root)
{
    if (!root) return 1;
    const uint32_t limit = List_Count(g_node.pool) + 1;
    uint32_t seen = 0;
    for (Node* n = root; n; n = NextPreOrder(root, n, 0)) {
        if (++seen > limit) return 0;  // a loop
        if (n->nameOffset != NODE_NO_NAME && n->nameOffset >= g_node.used) return 0;
        for (Node* c = n->child; c; c = c->next) {
            if (c->parent != n) return 0;
            if (c->next && c->next->prev != c) return 0;
            if ((n->flags & NODE_DIRTY) && !(c->flags & NODE_DIRTY)) return 0;
        }
        if (n->child && n->child->prev) return 0;
    }
    return 1;
}
