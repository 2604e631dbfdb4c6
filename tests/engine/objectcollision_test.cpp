#include "engine/objectcollision.h"

#include "objects_fixture.h"
#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

// One Collision call as the callback saw it, with the queries' answers.
struct Call {
    Object* self;
    Object* other;
    uint32_t side;
    uint32_t touching;
    uint32_t type;
    uint32_t extra;
    uint32_t inContact;
    Vec3 normal;
    float speed;
};
std::vector<Call> g_calls;
Object* g_destroyInCallback = nullptr;

uint32_t RecordCollision(Object* self, Object* other, uint32_t side)
{
    Call c{self, other, side, ObjectCollision_IsTouching(), ObjectCollision_GetEventType(),
           ObjectCollision_GetEventExtra(), ObjectCollision_InContact(), {}, ObjectCollision_GetImpactSpeed()};
    ObjectCollision_GetContactNormal(&c.normal);
    g_calls.push_back(c);
    if (g_destroyInCallback) {
        Object* victim = g_destroyInCallback;
        g_destroyInCallback = nullptr;
        Object_Destroy(victim);
    }
    return 0;
}

class ObjectCollisionTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        g_calls.clear();
        g_destroyInCallback = nullptr;
    }
    Object* Thing(const char* name, bool callback = true)
    {
        ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
        d.mass = 1.0f;
        d.active = 1;
        snprintf(d.name, sizeof d.name, "%s", name);
        if (callback) d.collision = RecordCollision;
        return Object_Create(pool, &d);
    }
    static CollisionPrimitive* Prim(PhysBody* b) { return PhysBody_Unwrap(b)->primitives[0]; }
    static PhysPairEvent Contact(PhysBody* a, PhysBody* b, Vec3 normal = {0, 1, 0})
    {
        PhysPairEvent e{};
        e.kind = PHYS_EVENT_CONTACT;
        e.primitiveA = Prim(a);
        e.primitiveB = Prim(b);
        e.point = Vec3{0, 0, 0};
        e.normal = normal;
        return e;
    }
};

TEST_F(ObjectCollisionTest, RepeatedContactsOfAPairReadAlreadyTouchingUntilBothUpdate)
{
    Object* a = Thing("a");
    Object* b = Thing("b");
    PhysPairEvent e = Contact(a->body, b->body);
    for (int i = 0; i < 3; ++i) ObjectCollision_OnContact(&e);
    ASSERT_EQ(g_calls.size(), 6u);
    EXPECT_EQ(g_calls[0].touching, 0u);
    EXPECT_EQ(g_calls[1].touching, 0u);
    for (int i = 2; i < 6; ++i) EXPECT_EQ(g_calls[i].touching, 1u) << i;
    EXPECT_EQ(a->partnerCount, 1u);
    EXPECT_EQ(b->partnerCount, 1u);
    // Updated, both forget their partners.
    float dt = 0.01f;
    Object_Update(a, &dt);
    Object_Update(b, &dt);
    ObjectCollision_OnContact(&e);
    EXPECT_EQ(g_calls.back().touching, 0u);
    // The flag does not outlive the event.
    EXPECT_EQ(ObjectCollision_IsTouching(), 0u);
}

TEST_F(ObjectCollisionTest, TheSixteenthPartnerIsNotRecordedWhileTheFullObjectIsSideA)
{
    Object* full = Thing("full", false);
    std::vector<Object*> partners;
    for (int i = 0; i < 16; ++i) partners.push_back(Thing("p", false));
    for (int i = 0; i < 15; ++i) {
        PhysPairEvent e = Contact(full->body, partners[i]->body);
        ObjectCollision_OnContact(&e);
    }
    EXPECT_EQ(full->partnerCount, 15u);
    Object* last = partners[15];
    last->collision = RecordCollision;
    PhysPairEvent asA = Contact(full->body, last->body);
    ObjectCollision_OnContact(&asA);
    ObjectCollision_OnContact(&asA);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].touching, 0u);
    EXPECT_EQ(g_calls[1].touching, 0u);  // new every time: the key never got into the full list
    EXPECT_EQ(last->partnerCount, 2u);   // the other side's list gets it each time
    // With the full object as side B, the key lands in A's list.
    Object* fresh = Thing("fresh");
    PhysPairEvent asB = Contact(fresh->body, full->body);
    ObjectCollision_OnContact(&asB);
    ObjectCollision_OnContact(&asB);
    EXPECT_EQ(g_calls[2].touching, 0u);
    EXPECT_EQ(g_calls[3].touching, 1u);
}

TEST_F(ObjectCollisionTest, BothSidesReadTheSameNormalAndTheirSides)
{
    Object* a = Thing("a");
    Object* b = Thing("b");
    const Vec3 va{3, -2, 0}, vb{1, 1, 0};
    PhysBody_SetLinearVelocity(a->body, &va);
    PhysBody_SetLinearVelocity(b->body, &vb);
    PhysPairEvent e = Contact(a->body, b->body, Vec3{0, 1, 0});
    ObjectCollision_OnContact(&e);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].self, a);
    EXPECT_EQ(g_calls[0].other, b);
    EXPECT_EQ(g_calls[0].side, 0u);
    EXPECT_EQ(g_calls[1].self, b);
    EXPECT_EQ(g_calls[1].other, a);
    EXPECT_EQ(g_calls[1].side, 1u);
    for (const Call& c : g_calls) {
        EXPECT_EQ(Dist(c.normal, V(0, 1, 0)), 0.0f);  // from B to A for both, not flipped
        EXPECT_EQ(c.type, uint32_t(OBJECT_EVENT_CONTACT));
        EXPECT_EQ(c.inContact, 1u);
        EXPECT_FLOAT_EQ(c.speed, 3.0f);  // |(vA - vB) . n| = |-3|
    }
    // After the dispatch the queries answer their defaults.
    Vec3 p, n;
    ObjectCollision_GetContactPoint(&p);
    ObjectCollision_GetContactNormal(&n);
    EXPECT_EQ(ObjectCollision_InContact(), 0u);
    EXPECT_EQ(Dist(p, V(0, 0, 0)), 0.0f);
    EXPECT_EQ(Dist(n, V(0, 1, 0)), 0.0f);
    EXPECT_EQ(ObjectCollision_GetImpactSpeed(), 0.0f);
    EXPECT_EQ(ObjectCollision_GetEventType(), uint32_t(OBJECT_EVENT_CONTACT));  // kept
    ObjectCollision_ClearEvent();
    EXPECT_EQ(ObjectCollision_GetEventType(), 0u);
}

TEST_F(ObjectCollisionTest, AnOwnerlessBodyGivesOnlyTheObjectsCall)
{
    Object* a = Thing("a");
    PhysBody* wall = PhysBody_Create(phys, 1.0f, 0.0f);
    PhysPairEvent e = Contact(a->body, wall);
    ObjectCollision_OnContact(&e);
    e = Contact(wall, a->body);
    ObjectCollision_OnContact(&e);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].other, nullptr);
    EXPECT_EQ(g_calls[0].side, 0u);
    EXPECT_EQ(g_calls[1].other, nullptr);
    EXPECT_EQ(g_calls[1].side, 1u);
    EXPECT_EQ(a->partnerCount, 0u);
    // Events with a missing primitive or a primitive of kind 0 are ignored.
    e.primitiveB = nullptr;
    ObjectCollision_OnContact(&e);
    ObjectCollision_OnEvent(&e);
    e = Contact(a->body, wall);
    uint32_t kind = e.primitiveB->kind;
    e.primitiveB->kind = 0;
    ObjectCollision_OnContact(&e);
    ObjectCollision_OnEvent(&e);
    e.primitiveB->kind = kind;
    EXPECT_EQ(g_calls.size(), 2u);
}

TEST_F(ObjectCollisionTest, OverlapsGiveSideZeroToBothAndCarryTheirFlag)
{
    Object* a = Thing("a");
    Object* b = Thing("b");
    for (int flag : {0, 1}) {
        PhysPairEvent e = Contact(a->body, b->body);
        e.kind = PHYS_EVENT_PHANTOM;
        e.flag = flag;
        ObjectCollision_OnEvent(&e);
    }
    ASSERT_EQ(g_calls.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g_calls[i].side, 0u) << i;
        EXPECT_EQ(g_calls[i].type, uint32_t(OBJECT_EVENT_OVERLAP)) << i;
        EXPECT_EQ(g_calls[i].extra, uint32_t(i / 2)) << i;
        EXPECT_EQ(g_calls[i].inContact, 0u) << i;
        EXPECT_EQ(g_calls[i].touching, 0u) << i;
    }
    EXPECT_EQ(g_calls[1].self, b);
    EXPECT_EQ(g_calls[1].other, a);
    EXPECT_EQ(a->partnerCount, 0u);
    // A side without an object: the other is called, A first is tested.
    PhysBody* ownerless = PhysBody_Create(phys, 1.0f, 0.0f);
    PhysPairEvent e = Contact(ownerless, b->body);
    e.kind = PHYS_EVENT_PHANTOM;
    ObjectCollision_OnEvent(&e);
    ASSERT_EQ(g_calls.size(), 5u);
    EXPECT_EQ(g_calls[4].self, b);
    EXPECT_EQ(g_calls[4].other, nullptr);
}

TEST_F(ObjectCollisionTest, ACallbackThatDestroysObjectsStopsCallsThroughThem)
{
    // A destroys B: B gets no call.
    Object* a = Thing("a");
    Object* b = Thing("b");
    g_destroyInCallback = b;
    PhysPairEvent e = Contact(a->body, b->body);
    ObjectCollision_OnContact(&e);
    ASSERT_EQ(g_calls.size(), 1u);
    // A destroys itself: B is called with no other object.
    Object* c = Thing("c");
    Object* d = Thing("d");
    g_destroyInCallback = c;
    e = Contact(c->body, d->body);
    ObjectCollision_OnContact(&e);
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[2].self, d);
    EXPECT_EQ(g_calls[2].other, nullptr);
    EXPECT_FLOAT_EQ(g_calls[2].speed, 0.0f);  // both at rest; read without the destroyed body
    // The same for overlaps.
    Object* f = Thing("f");
    Object* g = Thing("g");
    g_destroyInCallback = f;
    e = Contact(f->body, g->body);
    e.kind = PHYS_EVENT_PHANTOM;
    ObjectCollision_OnEvent(&e);
    ASSERT_EQ(g_calls.size(), 5u);
    EXPECT_EQ(g_calls[4].other, nullptr);
}

// Through the real engine: a ball dropped on a fixed ground object.
TEST_F(ObjectCollisionTest, TheStepDispatchesContactsAndOverlaps)
{
    ObjectCollision_Init();
    ObjectDescription ground = Describe("NOVISUAL", "SPHERE10");
    ground.collisionGroup = 1;
    ground.collision = RecordCollision;
    snprintf(ground.name, sizeof ground.name, "ground");
    Object* floor = PlaceObject(ground, Vec3{0, -10, 0}, OBJECT_SYNC_ADD);

    ObjectDescription ball = Describe("NOVISUAL", "SPHERE0.5");
    ball.mass = 1.0f;
    ball.active = 1;
    ball.collisionGroup = 1;
    ball.collision = RecordCollision;
    Object* o = PlaceObject(ball, Vec3{0, 3, 0}, OBJECT_SYNC_ADD | OBJECT_SYNC_FOLLOW);
    PhysWorld_RegisterBodyEvents(phys, o->body);

    ObjectDescription zone = Describe("NOVISUAL", "SPHERE0.5");
    zone.phantom = 1;
    zone.collisionGroup = 1;
    zone.collision = RecordCollision;
    Object* trigger = PlaceObject(zone, Vec3{0, 1.8f, 0}, OBJECT_SYNC_ADD);

    Step(90);
    bool contact = false, begin = false, end = false;
    float impact = 0.0f;
    for (const Call& c : g_calls) {
        if (c.type == OBJECT_EVENT_CONTACT && c.self == o && c.other == floor) {
            contact = true;
            impact = std::max(impact, c.speed);
            // From B to A: up when the ball is A, down when it is B.
            EXPECT_NEAR(c.normal.y, c.side == 0 ? 1.0f : -1.0f, 0.05f);
        }
        if (c.type == OBJECT_EVENT_OVERLAP && c.self == trigger && c.other == o) (c.extra ? end : begin) = true;
    }
    EXPECT_TRUE(contact);
    EXPECT_TRUE(begin);
    EXPECT_TRUE(end);
    // Fallen 3 m less the radius: about sqrt(2 g 2.5) = 7 m/s at the first touch.
    EXPECT_GT(impact, 5.0f);
    EXPECT_LT(impact, 8.0f);
    Vec3 p;
    PhysBody_GetPosition(o->body, &p);
    EXPECT_NEAR(p.y, 0.5f, 0.1f);
    EXPECT_EQ(ObjectCollision_TestOverlap(o->body), 0);  // resting, not penetrating
    const Vec3 sunk{0, 0.2f, 0};
    PhysBody_SetPosition(o->body, &sunk);
    EXPECT_EQ(ObjectCollision_TestOverlap(o->body), 1);
}

}  // namespace
