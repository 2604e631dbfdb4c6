#include "gfx/core/frame.h"

#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

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

// Counts its syncs; `edits` of them move its frame one unit along x (-1: all).
struct Counter {
    FrameLinkedObject object;
    int syncs, edits;
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

class FrameTest : public ::testing::Test {
protected:
    EngineScope scope;
    Frame* root = Frame_Create();
    static Frame* Child(Frame* parent)
    {
        Frame* f = Frame_Create();
        Frame_AddChild(parent, f);
        return f;
    }
    void TearDown() override { Frame_DestroyHierarchy(root); }
};

}  // namespace

TEST_F(FrameTest, EditsBySyncCallbacksAreAppliedNextAndDestroyingAFrameKeepsItsChildrensPendingChanges)
{
    Frame* child = Child(root);
    Counter mover = {};
    mover.object.sync = CountSync;
    mover.edits = 1;
    FrameObject_SetFrame(&mover.object, child);
    Frame_SyncDirtyList();
    EXPECT_EQ(mover.syncs, 1);
    EXPECT_NE(Frame_IsDirty(child), 0u);  // listed again, not lost
    EXPECT_TRUE(Frame_Validate(nullptr));
    Frame_SyncDirtyList();
    EXPECT_EQ(std::tuple(child->world.pos.x, Frame_IsDirty(child)), std::tuple(1.0f, 0u));
    // Editing at every sync lists the root for the next one and lets this one end.
    mover.edits = -1, mover.syncs = 0;
    Frame_MarkDirty(child);
    for (int i = 0; i < 2; i++) Frame_SyncDirtyList();
    EXPECT_EQ(std::tuple(mover.syncs, child->world.pos.x), std::tuple(2, 2.0f));
    EXPECT_NE(Frame_IsDirty(child), 0u);
    FrameObject_SetFrame(&mover.object, nullptr);
    Frame *mid = Child(root), *orphan = Child(mid), *grandchild = Child(orphan);
    MoveTo(mid, 10, 0, 0);
    MoveTo(orphan, 0, 1, 0);
    Frame_SyncDirtyList();
    EXPECT_EQ(grandchild->world.pos.x, 10.0f);
    MoveTo(grandchild, 0, 0, 7);  // pending in the subtree that becomes orphaned
    Counter attached = {};
    attached.object.sync = CountSync;
    FrameObject_SetFrame(&attached.object, mid);
    Frame_Destroy(mid);
    EXPECT_EQ(std::tuple(FrameObject_GetFrame(&attached.object), orphan->header.parent, orphan->root, grandchild->root),
              std::tuple(nullptr, nullptr, orphan, orphan));
    EXPECT_TRUE(Listed(orphan));
    for (Frame* f : {grandchild, root, (Frame*)nullptr}) EXPECT_TRUE(Frame_Validate(f));
    Frame_SyncDirtyList();
    EXPECT_EQ(std::tuple(orphan->world.pos.x, orphan->world.pos.y, grandchild->world.pos.z),
              std::tuple(0.0f, 1.0f, 7.0f));
    Frame_DestroyHierarchy(orphan);
}

TEST_F(FrameTest, ValidationFindsBrokenLinksAndListings)
{
    Frame *a = Child(root), *b = Child(root), *other = Frame_Create();
    Counter attached = {};
    FrameObject_SetFrame(&attached.object, a);
    Frame_SyncDirtyList();
    ASSERT_TRUE(Frame_Validate(a));
    // Each case breaks one link or flag of root's hierarchy and mends it.
    const std::tuple<const char*, void (*)(Frame*, Frame*, Counter*, int)> cases[] = {
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
         [](Frame* r, Frame* o, Counter* c, int undo) { c->object.header.parent = undo ? r->child->next : o; }},
        {"a dirty root taken off the list behind the module's back",
         [](Frame* r, Frame*, Counter*, int undo) {
             if (undo) EngineLink_InsertHead(&Engine_Instance()->dirtyFrames, &r->inDirtyList);
             else Frame_MarkDirty(r->child), EngineLink_Remove(&r->inDirtyList);
         }},
    };
    for (const auto& [what, edit] : cases) {
        edit(root, other, &attached, 0);
        EXPECT_FALSE(Frame_Validate(b)) << what;
        edit(root, other, &attached, 1);
        EXPECT_TRUE(Frame_Validate(b)) << what;
    }
    FrameObject_SetFrame(&attached.object, nullptr);
    Frame_Destroy(other);
}

TEST_F(FrameTest, NewestChildComesFirstCyclesAreRefusedAndReparentingMovesTheListing)
{
    Frame *a = Child(root), *b = Child(root);
    EXPECT_EQ(std::tuple(root->child, b->next), std::tuple(b, a));
    EXPECT_EQ(Frame_AddChild(a, root), nullptr);  // root is a's parent
    EXPECT_EQ(Frame_AddChild(a, a), nullptr);
    EXPECT_EQ(a->root, root);
    Frame_DestroyHierarchy(b);
    EXPECT_EQ(std::tuple(root->child, a->next), std::tuple(a, nullptr));
    EXPECT_TRUE(Frame_Validate(root));
    // A dirty root given a parent hands its listing and pending changes over.
    Frame *c = Frame_Create(), *g = Child(c);
    Frame_SyncDirtyList();
    MoveTo(g, 0, 3, 0);
    MoveTo(a, 1, 0, 0);
    EXPECT_TRUE(Listed(c));
    Frame_AddChild(a, c);
    EXPECT_FALSE(Listed(c));
    EXPECT_TRUE(Listed(root));
    EXPECT_EQ(g->root, root);
    EXPECT_TRUE(Frame_Validate(g));
    EXPECT_EQ(Frame_GetWorldMatrix(g)->pos.x, 1.0f);  // the matrices alone, ahead of the sync
    Frame_SyncDirtyList();
    EXPECT_EQ(std::tuple(g->world.pos.x, g->world.pos.y), std::tuple(1.0f, 3.0f));
}
