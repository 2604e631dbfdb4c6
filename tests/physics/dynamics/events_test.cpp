#include "physics/dynamics/events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/physics/dynamics/dyn_test_scene.h"

namespace {

// What the callbacks saw; reset by each test.
struct Seen {
  std::vector<PhysPairEvent> contacts;
  std::vector<PhysPairEvent> phantoms;
  DynTestScene* scene = nullptr;
  RigidBody* removeOnContact = nullptr;
  RigidBody* destroyOnContact = nullptr;
  float impactSpeed = -1;
  RigidBody* launchOnContact = nullptr;  // its velocity is set upwards in the callback
  std::vector<RigidBody*> phantomOwners;  // read when each event came, while its bodies live
};
Seen g_seen;

RigidBody* Owner(const CollisionPrimitive* p) { return static_cast<RigidBody*>(p->body->user); }

void OnContact(const PhysPairEvent* e) {
  g_seen.contacts.push_back(*e);
  if (RigidBody* b = g_seen.launchOnContact) {
    b->linearVelocity = V3(0, 4, 0);
    g_seen.launchOnContact = nullptr;
  }
  if (g_seen.impactSpeed < 0) {
    Vec3 va, vb;
    RigidBody_GetPointVelocity(Owner(e->primitiveA), &va, e->point);
    RigidBody_GetPointVelocity(Owner(e->primitiveB), &vb, e->point);
    g_seen.impactSpeed = std::fabs(Vec3_Dot(va - vb, e->normal));
  }
  if (g_seen.removeOnContact &&
      (Owner(e->primitiveA) == g_seen.removeOnContact || Owner(e->primitiveB) == g_seen.removeOnContact)) {
    g_seen.scene->Remove(g_seen.removeOnContact);
    g_seen.removeOnContact = nullptr;
  }
  if (RigidBody* d = g_seen.destroyOnContact) {
    if (Owner(e->primitiveA) == d || Owner(e->primitiveB) == d) {
      auto& v = g_seen.scene->bodies;
      v.erase(std::find(v.begin(), v.end(), d));
      g_seen.destroyOnContact = nullptr;
      PhysObject_Destroy(d);
    }
  }
}

void OnPhantom(const PhysPairEvent* e) {
  g_seen.phantoms.push_back(*e);
  g_seen.phantomOwners.push_back(Owner(e->primitiveB));
}

struct EventScene : DynTestScene {
  EventScene() {
    g_seen = Seen{};
    g_seen.scene = this;
    EventDispatcher_AddCallback(Simulation_GetDispatcher(sim), OnContact, PHYS_EVENT_CONTACT);
    EventDispatcher_AddCallback(Simulation_GetDispatcher(sim), OnPhantom, PHYS_EVENT_PHANTOM);
  }
  // A fixed sphere of radius 100 whose top is the plane y = 0.
  RigidBody* Ground(uint32_t group = 1) { return Added(Sphere(100.0f, 0.0f, V3(0, -100, 0), group)); }
  void Register(RigidBody* b) {
    for (CollisionPrimitive* p : b->primitives) CollisionListener_RegisterPair(listener, p, nullptr, 0, 0, 2);
  }
  // A sphere of mass 1 in the world, its contacts reported unless told otherwise.
  RigidBody* Ball(float r, Vec3 pos, bool registered = true, uint32_t group = 1)
  {
      RigidBody* b = Added(Sphere(r, 1.0f, pos, group));
      if (registered) Register(b);
      return b;
  }
  // A fixed phantom sphere of radius 1.
  RigidBody* Zone()
  {
      RigidBody* z = Sphere(1.0f, 0.0f, V3(0, 0, 0));
      RigidBody_SetPhantom(z, 1);
      Add(z);
      return z;
  }
};

}  // namespace

// The first contact event of a falling body carries its speed at impact (the
// approach speed along its normal, which points from B to A), whatever
// height it falls from: a gap the sub-step's gravity closes must not
// be stopped by the solver before the event is told (heights in small steps
// put the last gap before impact anywhere within one sub-step's travel).
TEST(Events, AFallingBodysFirstEventCarriesItsImpactSpeed) {
  for (int hull = 0; hull < 2; ++hull) {
    for (int i = 0; i < 24; ++i) {
      float drop = 0.3f + 0.05f * float(i);
      EventScene s;
      s.Plane(5.0f, V3(0, 0, 0));
      RigidBody* b = hull ? s.Box(V3(0.5f, 0.5f, 0.5f), 2.0f, V3(0.3f, 0.5f + drop, 0.2f))
                          : s.Sphere(0.5f, 2.0f, V3(0.3f, 0.5f + drop, 0.2f));
      s.Add(b);
      s.Register(b);
      s.Run(1.0f, 1.0f / 60.0f);
      ASSERT_FALSE(g_seen.contacts.empty()) << drop;
      EXPECT_NEAR(g_seen.impactSpeed, std::sqrt(2 * 9.81f * drop), 0.25f) << (hull ? "box " : "sphere ") << drop;
      // Its point lies on a surface across the gap, its normal points from B to A.
      const PhysPairEvent& e = g_seen.contacts.front();
      Vec3 fromBToA = Owner(e.primitiveA)->pose.position - Owner(e.primitiveB)->pose.position;
      EXPECT_GT(Vec3_Dot(e.normal, fromBToA), 0.0f);
      EXPECT_NEAR(e.point.y, 0.0f, std::fabs(e.distance) + 0.005f);
      EXPECT_TRUE((Owner(e.primitiveA) == b) != (Owner(e.primitiveB) == b));
    }
  }
}

// A pair closing fast is looked for beyond the holder's tolerance (0.1 m
// here), unless its contacts are reported: their events come within the
// tolerance, where a game reads them as touches.
TEST(Events, AFastPairsEventsComeWithinTheTolerance) {
  for (int i = 0; i < 8; ++i) {
    EventScene s;
    Simulation_SetGravity(s.sim, V3(0, 0, 0));
    s.Ball(0.5f, V3(0, 0, 0));
    s.Ball(0.5f, V3(-1.5f - 0.03f * float(i), 0, 0))->linearVelocity = V3(15, 0, 0);
    s.Run(0.2f, 1.0f / 60.0f);
    ASSERT_FALSE(g_seen.contacts.empty()) << i;
    for (const PhysPairEvent& e : g_seen.contacts) EXPECT_LE(e.distance, 0.1f) << i;
  }
}

TEST(Events, UnregisteredPairsAndPhantomsGiveNoContactEvents) {
  EventScene s;
  s.Ground();
  RigidBody* ball = s.Ball(0.25f, V3(0, 0.5f, 0), false);
  s.Run(0.5f);
  EXPECT_TRUE(g_seen.contacts.empty());
  s.Register(ball);
  ball->SetActive(1, 0);  // it slept: resting pairs of sleepers are not collided
  s.Run(0.1f);
  EXPECT_FALSE(g_seen.contacts.empty());
  CollisionListener_UnregisterPrimitive(s.listener, ball->primitives[0]);
  g_seen.contacts.clear();
  ball->SetActive(1, 0);
  s.Run(0.1f);
  EXPECT_TRUE(g_seen.contacts.empty());
}

// A body that leaves the world inside a phantom and is destroyed before the
// next step: its end event goes with it, and the phantom's own removal and
// the world's later steps never read the freed body (the sanitizer build).
TEST(Events, ABodyDestroyedOutOfTheWorldTakesItsWaitingEndEventWithIt) {
  EventScene s;
  Simulation_SetGravity(s.sim, V3(0, 0, 0));
  RigidBody* zone = s.Zone();
  RigidBody* gone = s.Ball(0.2f, V3(0.5f, 0, 0), false);
  RigidBody* kept = s.Ball(0.2f, V3(-0.5f, 0, 0), false);
  RigidBody_HoldActive(gone);
  RigidBody_HoldActive(kept);
  s.Run(0.1f);
  ASSERT_EQ(g_seen.phantoms.size(), 2u);
  s.Remove(gone);
  s.Remove(kept);
  s.bodies.erase(std::find(s.bodies.begin(), s.bodies.end(), gone));
  PhysObject_Destroy(gone);
  s.Run(0.1f);
  ASSERT_EQ(g_seen.phantoms.size(), 3u);  // only the kept body's end
  EXPECT_EQ(g_seen.phantoms[2].flag, 1);
  EXPECT_TRUE(Owner(g_seen.phantoms[2].primitiveA) == kept || Owner(g_seen.phantoms[2].primitiveB) == kept);
  s.Remove(zone);
}

// An overlap lasts while the body sleeps in the phantom (the step no longer
// looks at the pair), and ends, once, when the body leaves the world or the
// phantom is switched off, the body held awake or asleep.
TEST(Events, PhantomOverlapEndsWhenTheBodyLeavesOrThePhantomIsSwitchedOffAndNotWhenItSleeps) {
  for (bool leave : {true, false})
    for (bool held : {true, false}) {
      EventScene s;
      Simulation_SetGravity(s.sim, V3(0, 0, 0));
      RigidBody* zone = s.Zone();
      RigidBody* ball = s.Ball(0.2f, V3(0.5f, 0, 0), false);
      if (held) RigidBody_HoldActive(ball);
      s.Run(held ? 0.1f : 3.0f);
      ASSERT_EQ(g_seen.phantoms.size(), 1u) << leave << held;
      ASSERT_EQ(held, (ball->stateFlags & RB_STATE_ACTIVE) != 0);
      leave ? s.Remove(ball) : RigidBody_SetPhantom(zone, 0);
      s.Run(0.1f);
      ASSERT_EQ(g_seen.phantoms.size(), 2u) << leave << held;
      EXPECT_EQ(g_seen.phantoms[1].flag, 1) << leave << held;
      s.Run(0.5f);
      EXPECT_EQ(g_seen.phantoms.size(), 2u) << leave << held;
    }
}

TEST(Events, ContactCallbacksMayLaunchRemoveOrDestroyTheirBodies) {
  // A velocity written in a callback enters that solve (4 m/s up reaches
  // about 0.8 m). Removed, a body is out of the world (silent) and gets
  // events again when added back (its registration stays); destroyed, it
  // leaves nothing behind that a later event would read.
  for (int act = 0; act < 3; ++act) {  // launch, remove, destroy
    EventScene s;
    s.Ground();
    if (act == 2) s.Zone();
    RigidBody* ball = s.Ball(0.25f, V3(0, act ? 0.5f : 1.0f, 0));
    (act == 0 ? g_seen.launchOnContact : act == 1 ? g_seen.removeOnContact : g_seen.destroyOnContact) = ball;
    float highestAfter = -1e9f;
    for (int i = 0; i < (act == 1 ? 25 : 50); ++i) {
      s.Frame(0.02f);
      if (act == 0 && !g_seen.launchOnContact) highestAfter = std::fmax(highestAfter, ball->pose.position.y);
    }
    if (act == 0) {
      EXPECT_GT(highestAfter, 0.25f + 0.6f);
    } else if (act == 2) {
      EXPECT_EQ(g_seen.destroyOnContact, nullptr);
      for (RigidBody* owner : g_seen.phantomOwners) EXPECT_NE(owner, nullptr);
    }
    if (act != 1) continue;
    EXPECT_EQ(ball->subspace, nullptr);
    size_t events = g_seen.contacts.size();
    EXPECT_GE(events, 1u);
    s.Run(0.2f);
    EXPECT_EQ(g_seen.contacts.size(), events);
    RigidBody_SetPositionAndRotation(ball, V3(0, 0.5f, 0), Quat_Identity());
    s.Add(ball);
    s.Run(0.5f);
    EXPECT_GT(g_seen.contacts.size(), events);
  }
}
