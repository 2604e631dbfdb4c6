#include "gfx/core/frame.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

namespace {

int DirtyCount(void)
{
    int n = 0;
    for (EngineLink* l = Engine_Instance()->dirtyFrames.next; l != &Engine_Instance()->dirtyFrames; l = l->next) n++;
    return n;
}

bool Listed(const Frame* f)
{
    for (EngineLink* l = Engine_Instance()->dirtyFrames.next; l != &Engine_Instance()->dirtyFrames; l = l->next)
        if (l == &f->inDirtyList) return true;
    return false;
}

void MoveTo(Frame* f, float x, float y, float z)
{
    Vec3 t = {x, y, z};
    Matrix_Translate(&f->modelling, &t, COMBINE_REPLACE);
    Frame_MarkDirty(f);
}

struct Counter {
    FrameLinkedObject object;
    int syncs;
    int edits;  // syncs that move the object's frame one unit along x (-1: every one)
};

FrameLinkedObject* CountSync(FrameLinkedObject* o)
{
    Counter* c = (Counter*)o;
    c->syncs++;
    if (c->edits != 0) {
        if (c->edits > 0) c->edits--;
        Frame* f = FrameObject_GetFrame(o);
        MoveTo(f, f->modelling.pos.x + 1, 0, 0);
    }
    return o;
}

}  // namespace

TEST(Frame, ChangesListTheRootOnceAndSyncComputesWorldMatrices)
{
    EngineScope scope;
    Frame* root = Frame_Create();
    Frame* a = Frame_Create();
    Frame* b = Frame_Create();
    Frame_AddChild(root, a);
    Frame_AddChild(a, b);
    EXPECT_TRUE(Frame_Validate(b));
    Frame_SyncDirtyList();
    EXPECT_EQ(DirtyCount(), 0);
    EXPECT_TRUE(Frame_Validate(root));

    MoveTo(a, 1, 0, 0);
    MoveTo(b, 0, 2, 0);
    EXPECT_EQ(DirtyCount(), 1);
    EXPECT_TRUE(Listed(root));
    EXPECT_NE(Frame_IsDirty(b), 0u);
    Frame_SyncDirtyList();
    EXPECT_EQ(Frame_IsDirty(b), 0u);
    EXPECT_EQ(b->world.pos.x, 1.0f);
    EXPECT_EQ(b->world.pos.y, 2.0f);

    // Moving the root alone moves the grandchild, whose own matrix did not
    // change, through the full sync and on demand.
    MoveTo(root, 0, 0, 5);
    Frame_SyncDirtyList();
    EXPECT_EQ(b->world.pos.z, 5.0f);
    EXPECT_EQ(b->world.pos.x, 1.0f);
    MoveTo(root, 0, 0, 6);
    EXPECT_EQ(Frame_GetWorldMatrix(b)->pos.z, 6.0f);
    Frame_DestroyHierarchy(root);
    EXPECT_EQ(DirtyCount(), 0);
}

TEST(Frame, NewestChildComesFirstAndCyclesAreRefused)
{
    EngineScope scope;
    Frame* p = Frame_Create();
    Frame* a = Frame_Create();
    Frame* b = Frame_Create();
    Frame_AddChild(p, a);
    Frame_AddChild(p, b);
    EXPECT_EQ(p->child, b);
    EXPECT_EQ(b->next, a);
    EXPECT_EQ(Frame_AddChild(a, p), nullptr);  // p is a's parent
    EXPECT_EQ(Frame_AddChild(a, a), nullptr);
    EXPECT_EQ(a->root, p);
    EXPECT_TRUE(Frame_Validate(a));
    // Destroying a subtree leaves the parent with its other children only.
    Frame_DestroyHierarchy(b);
    EXPECT_EQ(p->child, a);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_TRUE(Frame_Validate(p));
    Frame_DestroyHierarchy(p);
}

TEST(Frame, ReparentingADirtyRootMovesTheListing)
{
    EngineScope scope;
    Frame* p = Frame_Create();
    Frame* c = Frame_Create();
    Frame* g = Frame_Create();
    Frame_AddChild(c, g);
    Frame_SyncDirtyList();
    MoveTo(g, 0, 3, 0);  // c's hierarchy is dirty
    MoveTo(p, 1, 0, 0);
    EXPECT_TRUE(Listed(c));
    Frame_AddChild(p, c);
    EXPECT_FALSE(Listed(c));
    EXPECT_TRUE(Listed(p));
    EXPECT_EQ(g->root, p);
    EXPECT_TRUE(Frame_Validate(g));
    Frame_SyncDirtyList();
    EXPECT_EQ(g->world.pos.x, 1.0f);  // the pending change of g survived
    EXPECT_EQ(g->world.pos.y, 3.0f);
    Frame_DestroyHierarchy(p);
}

TEST(Frame, WorldMatrixOnDemandLeavesObjectsPendingForTheFullSync)
{
    EngineScope scope;
    Frame* root = Frame_Create();
    Frame* child = Frame_Create();
    Frame_AddChild(root, child);
    Counter onRoot = {}, onChild = {};
    onRoot.object.sync = CountSync;
    onChild.object.sync = CountSync;
    FrameObject_SetFrame(&onRoot.object, root);
    FrameObject_SetFrame(&onChild.object, child);
    Frame_SyncDirtyList();
    onRoot.syncs = onChild.syncs = 0;

    MoveTo(child, 4, 0, 0);
    EXPECT_EQ(Frame_GetWorldMatrix(child)->pos.x, 4.0f);
    EXPECT_TRUE(Listed(root));
    EXPECT_TRUE(Frame_Validate(child));  // objects pending, matrices done
    // A change made now is not in the world matrix: the next full sync
    // synchronises objects without recomputing matrices.
    child->modelling.pos.x = 9.0f;
    Frame_SyncDirtyList();
    EXPECT_EQ(onRoot.syncs, 1);
    EXPECT_EQ(onChild.syncs, 1);
    EXPECT_EQ(child->world.pos.x, 4.0f);

    FrameObject_ReleaseFrame(&onChild.object);
    FrameObject_SetFrame(&onRoot.object, nullptr);
    Frame_DestroyHierarchy(root);
}

TEST(Frame, AnEditMadeByASyncCallbackIsAppliedByTheNextSync)
{
    EngineScope scope;
    Frame* root = Frame_Create();
    Frame* child = Frame_Create();
    Frame_AddChild(root, child);
    Counter mover = {};
    mover.object.sync = CountSync;
    mover.edits = 1;
    FrameObject_SetFrame(&mover.object, child);
    Frame_SyncDirtyList();
    EXPECT_EQ(mover.syncs, 1);
    EXPECT_NE(Frame_IsDirty(child), 0u);  // listed again, not lost
    EXPECT_TRUE(Frame_Validate(nullptr));
    Frame_SyncDirtyList();
    EXPECT_EQ(child->world.pos.x, 1.0f);
    EXPECT_EQ(Frame_IsDirty(child), 0u);
    // A callback that edits at every sync lists its root for the next one
    // and lets the running one end.
    mover.edits = -1;
    mover.syncs = 0;
    Frame_MarkDirty(child);
    Frame_SyncDirtyList();
    Frame_SyncDirtyList();
    EXPECT_EQ(mover.syncs, 2);
    EXPECT_EQ(child->world.pos.x, 2.0f);
    EXPECT_NE(Frame_IsDirty(child), 0u);
    FrameObject_SetFrame(&mover.object, nullptr);
    Frame_DestroyHierarchy(root);
}

TEST(Frame, DestroyingAFrameKeepsPendingChangesOfItsChildren)
{
    EngineScope scope;
    Frame* root = Frame_Create();
    Frame* mid = Frame_Create();
    Frame* orphan = Frame_Create();
    Frame* grandchild = Frame_Create();
    Frame_AddChild(root, mid);
    Frame_AddChild(mid, orphan);
    Frame_AddChild(orphan, grandchild);
    MoveTo(mid, 10, 0, 0);
    MoveTo(orphan, 0, 1, 0);
    Frame_SyncDirtyList();
    EXPECT_EQ(grandchild->world.pos.x, 10.0f);

    MoveTo(grandchild, 0, 0, 7);  // pending in the subtree that becomes orphaned
    Counter attached = {};
    attached.object.sync = CountSync;
    FrameObject_SetFrame(&attached.object, mid);
    Frame_Destroy(mid);
    EXPECT_EQ(FrameObject_GetFrame(&attached.object), nullptr);
    EXPECT_EQ(orphan->header.parent, nullptr);
    EXPECT_EQ(orphan->root, orphan);
    EXPECT_EQ(grandchild->root, orphan);
    EXPECT_TRUE(Listed(orphan));
    EXPECT_TRUE(Frame_Validate(grandchild));
    EXPECT_TRUE(Frame_Validate(root));
    EXPECT_TRUE(Frame_Validate(nullptr));
    Frame_SyncDirtyList();
    EXPECT_EQ(orphan->world.pos.x, 0.0f);  // world = modelling now
    EXPECT_EQ(orphan->world.pos.y, 1.0f);
    EXPECT_EQ(grandchild->world.pos.z, 7.0f);
    Frame_DestroyHierarchy(orphan);
    Frame_DestroyHierarchy(root);
}

TEST(Frame, ValidationFindsBrokenLinksAndListings)
{
    EngineScope scope;
    Frame* root = Frame_Create();
    Frame* a = Frame_Create();
    Frame* b = Frame_Create();
    Frame* other = Frame_Create();
    Frame_AddChild(root, a);
    Frame_AddChild(root, b);
    Counter attached = {};
    FrameObject_SetFrame(&attached.object, b);
    Frame_SyncDirtyList();
    ASSERT_TRUE(Frame_Validate(a));
    // Each case breaks one link or flag of root's hierarchy and mends it.
    struct Case {
        const char* what;
        void (*edit)(Frame* root, Frame* other, Counter* attached, int undo);
    } cases[] = {
        {"a child naming another parent",
         [](Frame* r, Frame* o, Counter*, int undo) { r->child->header.parent = undo ? r : o; }},
        {"a frame naming another root",
         [](Frame* r, Frame* o, Counter*, int undo) { r->child->next->root = undo ? r : o; }},
        {"a sibling loop",
         [](Frame* r, Frame*, Counter*, int undo) { r->child->next->next = undo ? nullptr : r->child; }},
        {"root flags below the root",
         [](Frame* r, Frame*, Counter*, int) { r->child->header.privateFlags ^= FRAME_ROOT_OBJECTS; }},
        {"a flagged root missing from the dirty list",
         [](Frame* r, Frame*, Counter*, int) { r->header.privateFlags ^= FRAME_ROOT_MATRICES; }},
        {"a change its root does not know of",
         [](Frame* r, Frame*, Counter*, int) { r->child->header.privateFlags ^= FRAME_MATRIX_CHANGED; }},
        {"an object naming another frame",
         [](Frame*, Frame* o, Counter* c, int undo) {
             if (!undo) c->object.header.parent = o;  // the loop puts the frame back
         }},
    };
    for (const Case& c : cases) {
        void* frameOfObject = attached.object.header.parent;
        c.edit(root, other, &attached, 0);
        EXPECT_FALSE(Frame_Validate(a)) << c.what;
        c.edit(root, other, &attached, 1);
        attached.object.header.parent = frameOfObject;
        EXPECT_TRUE(Frame_Validate(a)) << c.what;
    }
    // A root taken off the dirty list behind the module's back.
    Frame_MarkDirty(a);
    EngineLink_Remove(&root->inDirtyList);
    EXPECT_FALSE(Frame_Validate(b));
    EngineLink_InsertHead(&Engine_Instance()->dirtyFrames, &root->inDirtyList);
    EXPECT_TRUE(Frame_Validate(b));
    FrameObject_SetFrame(&attached.object, nullptr);
    Frame_DestroyHierarchy(root);
    Frame_Destroy(other);
    EXPECT_TRUE(Frame_Validate(nullptr));
}

namespace {
int& PluginCalls() { static int n = 0; return n; }
void* FrameCtor(void* f, int32_t offset, int32_t) { *(int*)((char*)f + offset) = 42; PluginCalls()++; return f; }
void* FrameDtor(void* f, int32_t, int32_t) { PluginCalls()--; return f; }
}  // namespace

TEST(Frame, PluginsExtendEveryFrame)
{
    Install();
    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    int32_t offset = Frame_RegisterPlugin(sizeof(int), 0x4242, FrameCtor, FrameDtor, nullptr);
    ASSERT_GE(offset, (int32_t)sizeof(Frame));
    int window = 0;
    ASSERT_EQ(Engine_Open(&window), 1);
    ASSERT_EQ(Engine_Start(), 1);
    Frame* f = Frame_Create();
    EXPECT_EQ(*(int*)((char*)f + offset), 42);
    EXPECT_EQ(PluginCalls(), 1);
    Frame_Destroy(f);
    EXPECT_EQ(PluginCalls(), 0);
    Engine_Stop();
    Engine_Close();
    Engine_Term();
    EXPECT_EQ(Frame_GetRegistry()->size, (int32_t)sizeof(Frame));
}
