#include "gfx/core/frame.h"

#include <cstddef>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"

namespace {

struct FrameModule {
    FreeList* frames;  // entry size = the frame registry's size when the module opened
    PluginRegistry registry;
};

FrameModule g_frames = {nullptr, PLUGIN_REGISTRY_INIT(sizeof(Frame))};

EngineLink* DirtyList(void) { return &g_engineInstance->dirtyFrames; }

inline Frame* FrameOfDirtyLink(EngineLink* link) { return (Frame*)((char*)link - offsetof(Frame, inDirtyList)); }

inline FrameLinkedObject* ObjectOfLink(EngineLink* link)
{
    return (FrameLinkedObject*)((char*)link - offsetof(FrameLinkedObject, inFrame));
}

inline Frame* Parent(const Frame* f) { return (Frame*)f->header.parent; }

void SetRoot(Frame* frame, Frame* root)
{
    frame->root = root;
    for (Frame* c = frame->child; c; c = c->next) SetRoot(c, root);
}

bool OnDirtyList(const Frame* f) { return (f->header.privateFlags & (FRAME_ROOT_MATRICES | FRAME_ROOT_OBJECTS)) != 0; }

void UnlinkFromDirtyList(Frame* f)
{
    if (OnDirtyList(f)) {
        EngineLink_Remove(&f->inDirtyList);
        f->header.privateFlags &= (uint8_t)~(FRAME_ROOT_MATRICES | FRAME_ROOT_OBJECTS);
    }
}

// Takes the frame out of its parent's child list; it becomes the root of its
// subtree and is marked dirty.
void Detach(Frame* frame)
{
    Frame* parent = Parent(frame);
    if (parent->child == frame) {
        parent->child = frame->next;
    } else {
        Frame* c = parent->child;
        while (c && c->next != frame) c = c->next;
        if (c) c->next = frame->next;
    }
    frame->header.parent = nullptr;
    frame->next = nullptr;
    SetRoot(frame, frame);
    Frame_MarkDirty(frame);
}

void SyncObjects(Frame* frame)
{
    for (EngineLink* l = frame->objects.next; l != &frame->objects;) {
        EngineLink* next = l->next;  // a callback may move its object
        FrameLinkedObject* o = ObjectOfLink(l);
        if (o->sync) o->sync(o);
        l = next;
    }
}

// Frame and objects of one frame during the full sync: the frame's change
// bits are cleared before its objects' callbacks run, so that an edit a
// callback makes stays pending for the next sync instead of being wiped.
void SyncFrame(Frame* frame, const Frame* parent, uint8_t changed)
{
    if (changed & FRAME_MATRIX_CHANGED) {
        if (parent) Matrix_Multiply(&frame->world, &frame->modelling, &parent->world);
        else Matrix_Copy(&frame->world, &frame->modelling);
    }
    frame->header.privateFlags &= (uint8_t)~(FRAME_MATRIX_CHANGED | FRAME_OBJECTS_DIRTY);
    SyncObjects(frame);
}

void MatricesBelow(Frame* parent, uint8_t f)
{
    for (Frame* c = parent->child; c; c = c->next) {
        uint8_t cf = (uint8_t)(c->header.privateFlags | f);
        if (cf & FRAME_MATRIX_CHANGED) {
            Matrix_Multiply(&c->world, &c->modelling, &parent->world);
            c->header.privateFlags &= (uint8_t)~FRAME_MATRIX_CHANGED;
        }
        MatricesBelow(c, cf);
    }
}

// `matrices` is false when only objects are pending: world matrices are
// then up to date already (Frame_GetWorldMatrix) and nothing is recomputed.
void FullSyncBelow(Frame* parent, uint8_t f, bool matrices)
{
    for (Frame* c = parent->child; c; c = c->next) {
        const uint8_t cf = matrices ? (uint8_t)(c->header.privateFlags | f) : 0;
        SyncFrame(c, parent, cf);
        FullSyncBelow(c, cf, matrices);
    }
}

void ReleaseObjects(Frame* frame)
{
    while (!EngineLink_Empty(&frame->objects)) {
        FrameLinkedObject* o = ObjectOfLink(frame->objects.next);
        EngineLink_Remove(&o->inFrame);
        o->header.parent = nullptr;
    }
}

void FreeFrame(Frame* frame)
{
    PluginRegistry_RunDestructors(&g_frames.registry, frame);
    UnlinkFromDirtyList(frame);
    ReleaseObjects(frame);
    FreeList_Free(g_frames.frames, frame);
}

void DestroyBelow(Frame* frame)
{
    Frame* c = frame->child;
    while (c) {
        Frame* next = c->next;
        DestroyBelow(c);
        FreeFrame(c);
        c = next;
    }
}

}  // namespace

Frame* Frame_Create(void)
{
    if (!g_frames.frames) {
        Error_Raise(ERR_BAD_ENGINE_STATE);
        return nullptr;
    }
    Frame* f = (Frame*)FreeList_Alloc(g_frames.frames);
    if (!f) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(f, 0, sizeof(Frame));
    f->header.type = FRAMEOBJECT_FRAME;
    EngineLink_Init(&f->inDirtyList);
    Matrix_SetIdentity(&f->modelling);
    Matrix_SetIdentity(&f->world);
    EngineLink_Init(&f->objects);
    f->root = f;
    if (!PluginRegistry_RunConstructors(&g_frames.registry, f)) {
        FreeList_Free(g_frames.frames, f);
        return nullptr;
    }
    return f;
}

int32_t Frame_Destroy(Frame* frame)
{
    HELM_ASSERT(frame);
    PluginRegistry_RunDestructors(&g_frames.registry, frame);
    if (Parent(frame)) Detach(frame);
    UnlinkFromDirtyList(frame);
    // The orphans' world matrices still hold the destroyed parent's
    // transform: mark them dirty so that the next sync recomputes them and
    // the changes already pending in their subtrees are not lost.
    Frame* c = frame->child;
    while (c) {
        Frame* next = c->next;
        c->header.parent = nullptr;
        c->next = nullptr;
        SetRoot(c, c);
        Frame_MarkDirty(c);
        c = next;
    }
    ReleaseObjects(frame);
    FreeList_Free(g_frames.frames, frame);
    return 1;
}

int32_t Frame_DestroyHierarchy(Frame* root)
{
    HELM_ASSERT(root);
    // Meant for roots; a frame with a parent leaves it first so that the
    // parent keeps no pointer to freed frames.
    if (Parent(root)) Detach(root);
    DestroyBelow(root);
    FreeFrame(root);
    return 1;
}

Frame* Frame_AddChild(Frame* parent, Frame* child)
{
    HELM_ASSERT(parent && child);
    // A child that is the parent or one of its ancestors would close a cycle.
    for (Frame* p = parent; p; p = Parent(p))
        if (p == child) return nullptr;
    if (Parent(child)) Detach(child);
    child->next = parent->child;
    parent->child = child;
    child->header.parent = parent;
    SetRoot(child, parent->root);
    UnlinkFromDirtyList(child);
    Frame_MarkDirty(child);
    return parent;
}

void Frame_MarkDirty(Frame* frame)
{
    Frame* root = frame->root;
    if (!OnDirtyList(root)) EngineLink_InsertHead(DirtyList(), &root->inDirtyList);
    root->header.privateFlags |= FRAME_ROOT_MATRICES | FRAME_ROOT_OBJECTS;
    frame->header.privateFlags |= FRAME_MATRIX_CHANGED | FRAME_OBJECTS_DIRTY;
}

uint32_t Frame_IsDirty(const Frame* frame)
{
    return frame->root->header.privateFlags & (FRAME_ROOT_MATRICES | FRAME_ROOT_OBJECTS);
}

void Frame_SyncHierarchy(Frame* root)
{
    uint8_t f = root->header.privateFlags;
    if (f & FRAME_MATRIX_CHANGED) Matrix_Copy(&root->world, &root->modelling);
    MatricesBelow(root, (uint8_t)(f & FRAME_MATRIX_CHANGED));
    root->header.privateFlags &= (uint8_t)~(FRAME_ROOT_MATRICES | FRAME_MATRIX_CHANGED);
}

Matrix* Frame_GetWorldMatrix(Frame* frame)
{
    if (frame->root->header.privateFlags & FRAME_ROOT_MATRICES) Frame_SyncHierarchy(frame->root);
    return &frame->world;
}

int32_t Frame_SyncDirtyList(void)
{
    // The list is taken aside first: a callback that edits a frame lists its
    // root again on the engine's list for the next sync, never on the one
    // being walked (a callback that always edits would keep it going for
    // ever). Roots still waiting here keep their list bits, so an edit in
    // their hierarchy is picked up when their turn comes.
    EngineLink pending;
    EngineLink_Init(&pending);
    EngineLink* head = DirtyList();
    if (!EngineLink_Empty(head)) {
        pending.next = head->next;
        pending.prev = head->prev;
        pending.next->prev = pending.prev->next = &pending;
        EngineLink_Init(head);
    }
    while (!EngineLink_Empty(&pending)) {
        Frame* root = FrameOfDirtyLink(pending.next);
        EngineLink_Remove(&root->inDirtyList);
        const uint8_t f = root->header.privateFlags;
        root->header.privateFlags &= (uint8_t)~(FRAME_ROOT_MATRICES | FRAME_ROOT_OBJECTS);
        const bool matrices = (f & FRAME_ROOT_MATRICES) != 0;
        const uint8_t changed = matrices ? (uint8_t)(f & FRAME_MATRIX_CHANGED) : 0;
        SyncFrame(root, nullptr, changed);
        FullSyncBelow(root, changed, matrices);
    }
    return 1;
}

namespace {

bool ObjectsAreSound(const Frame* f)
{
    if (!EngineLink_Validate(&f->objects)) return false;
    for (EngineLink* l = f->objects.next; l != &f->objects; l = l->next)
        if (ObjectOfLink(l)->header.parent != f) return false;
    return true;
}

// One frame of the walk below root.
bool FrameIsSound(const Frame* f, const Frame* root)
{
    const uint8_t flags = f->header.privateFlags;
    const uint8_t rootFlags = root->header.privateFlags;
    if (f->header.type != FRAMEOBJECT_FRAME || f->root != root) return false;
    if (f != root && (flags & (FRAME_ROOT_MATRICES | FRAME_ROOT_OBJECTS))) return false;
    if ((flags & FRAME_MATRIX_CHANGED) && !(rootFlags & FRAME_ROOT_MATRICES)) return false;
    if ((flags & FRAME_OBJECTS_DIRTY) && !(rootFlags & FRAME_ROOT_OBJECTS)) return false;
    return ObjectsAreSound(f);
}

bool HierarchyIsSound(const Frame* root)
{
    if (!root || Parent(root) || root->root != root || root->next) return false;
    // Depth first without a stack: down through children, across through
    // siblings, and back up through parent links, each checked before it is
    // followed. A loop runs into the visit limit.
    const Frame* f = root;
    for (uint32_t visited = 1;; visited++) {
        if (visited > FRAME_VALIDATE_LIMIT || !FrameIsSound(f, root)) return false;
        if (f->child) {
            if (Parent(f->child) != f) return false;
            f = f->child;
            continue;
        }
        while (f != root && !f->next) f = Parent(f);
        if (f == root) return true;
        if (Parent(f->next) != Parent(f)) return false;
        f = f->next;
    }
}

}  // namespace

int32_t Frame_Validate(const Frame* frame)
{
    EngineLink* dirty = DirtyList();
    if (!EngineLink_Validate(dirty)) return 0;
    for (EngineLink* l = dirty->next; l != dirty; l = l->next) {
        const Frame* root = FrameOfDirtyLink(l);
        if (!OnDirtyList(root)) return 0;
        if (!frame && !HierarchyIsSound(root)) return 0;
    }
    if (!frame) return 1;
    // Up to the root, whose hierarchy must hold this frame.
    const Frame* root = frame->root;
    uint32_t steps = 0;
    for (const Frame* f = frame; f != root; f = Parent(f))
        if (!f || f->root != root || ++steps > FRAME_VALIDATE_LIMIT) return 0;
    if (!HierarchyIsSound(root)) return 0;
    return OnDirtyList(root) == (EngineLink_Contains(dirty, &root->inDirtyList) != 0);
}

void FrameObject_SetFrame(FrameLinkedObject* object, Frame* frame)
{
    if (object->header.parent) EngineLink_Remove(&object->inFrame);
    object->header.parent = frame;
    if (frame) {
        EngineLink_InsertHead(&frame->objects, &object->inFrame);
        Frame_MarkDirty(frame);
    }
}

void FrameObject_ReleaseFrame(FrameLinkedObject* object)
{
    if (object->inFrame.next) EngineLink_Remove(&object->inFrame);
}

int32_t Frame_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&g_frames.registry, size, pluginId, constructor, destructor, copy);
}

int32_t Frame_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&g_frames.registry, pluginId, read, write, getSize);
}

PluginRegistry* Frame_GetRegistry(void) { return &g_frames.registry; }

void* Frame_ModuleOpen(void* instance, int32_t, int32_t)
{
    EngineLink_Init(DirtyList());
    g_frames.frames = FreeList_CreateEx(g_frames.registry.size, 50, 16, 1, nullptr);
    return g_frames.frames ? instance : nullptr;
}

void* Frame_ModuleClose(void* instance, int32_t, int32_t)
{
    FreeList_Destroy(g_frames.frames);
    g_frames.frames = nullptr;
    EngineLink_Init(DirtyList());
    return instance;
}
