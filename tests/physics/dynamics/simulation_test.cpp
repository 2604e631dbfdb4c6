#include "physics/dynamics/simulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "physics/dynamics/island.h"
#include "tests/physics/dynamics/dyn_test_scene.h"

TEST(Simulation, FreeFallFollowsGravityAndStepsOnlyForward) {
  DynTestScene s;
  RigidBody* b = s.Added(s.Sphere(0.5f, 1.0f, V3(0, 10, 0), 0));
  s.Add(b);  // adding twice integrates it once
  s.Run(1.0f);
  EXPECT_NEAR(b->linearVelocity.y, -9.81f, 0.01f);
  EXPECT_NEAR(b->pose.position.y, 10.0f - 0.5f * 9.81f, 0.15f);
  // No sub-steps, or a target in the past, move nothing.
  Vec3 before = b->pose.position;
  DynWorld_Step(s.world, PhysTime_FromSeconds(s.time + 1.0), 0);
  EXPECT_EQ(b->pose.position.y, before.y);
  DynWorld_Step(s.world, PhysTime_FromSeconds(s.time - 0.5), 1);
  EXPECT_EQ(b->pose.position.y, before.y);
  // The clock followed the target backwards: the next frame advances again.
  DynWorld_Step(s.world, PhysTime_FromSeconds(s.time - 0.48), 1);
  EXPECT_LT(b->pose.position.y, before.y);
  // A clock jump of an hour in one call runs a bounded, short step.
  float vy = b->linearVelocity.y;
  DynWorld_Step(s.world, PhysTime_FromSeconds(3600.0), 1000000);
  EXPECT_NEAR(b->linearVelocity.y - vy, -9.81f * 0.1f * 64, 0.01f);
  EXPECT_DOUBLE_EQ(s.sim->time, 3600.0);
}

TEST(Simulation, TenBoxStackStandsUnderAlternatingFrameTimesAndItsWarmStartFollowsTheSubStepLength) {
  // Standing: the top box is still at its height and has not leaned out by a
  // third of its width (a toppling stack passes half of it within seconds).
  // Held awake, a resting stack holds its weight with impulses of m g h per
  // sub-step: carried unscaled into a sub-step a quarter as long (or twice as
  // long), they would throw the boxes up (or let them sink).
  const std::vector<float> patterns[] = {{0.02f}, {0.016f, 0.021f, 0.05f}, {0.0025f}, {0.02f}};
  for (int p = 0; p < 4; ++p) {
    const std::vector<float>& frames = patterns[p];
    DynTestScene s;
    s.Plane(5.0f, V3(0, 0, 0));
    std::vector<RigidBody*> boxes;
    for (int i = 0; i < 10; ++i) boxes.push_back(s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(0, 0.5f + float(i), 0))));
    if (p >= 2) {
      for (RigidBody* b : boxes) RigidBody_HoldActive(b);
      for (int i = 0; i < 200; ++i) s.Step(0.01f);
      float fastest = 0.0f;
      for (int i = 0; i < 3; ++i) {
        s.Step(frames[0]);
        for (RigidBody* b : boxes) fastest = std::fmax(fastest, std::fabs(b->linearVelocity.y));
      }
      EXPECT_LT(fastest, 0.01f) << "sub-step " << frames[0];
      continue;
    }
    size_t i = 0;
    for (float t = 0; t < 10.0f; t += frames[i++ % frames.size()]) s.Frame(frames[i % frames.size()]);
    const Vec3 top = boxes.back()->pose.position;
    EXPECT_LT(std::fabs(top.x) + std::fabs(top.z), 0.33f) << frames.size();
    // Box on box, each contact bears on its whole face and remembers the
    // load it carries, so that the stack rests on its slops rather than on
    // ten springs compressed by it (which sink it by about a centimetre).
    EXPECT_GT(top.y, 9.5f - 0.007f) << frames.size();
  }
}

TEST(Simulation, CachedHullContactsEndWhereFullTestsEndAndRunsRepeatBitForBit) {
  // A short column, a box dropped on an edge, a box sliding to a stop and
  // balls dropping onto each other on a ground box, and a box sliding over
  // the edge of a mesh beside it, run with and without the narrow phase's cache of hull
  // pairs and hulls on meshes.
  auto run = [](bool cache) {
    SceneRecipe r = Recipe_Column(4);
    SceneBody tilted = Recipe_UnitBox(V3(3, 1.2f, 0));
    tilted.rotation = Quat_FromAxisAngle(V3(0, 0, 1), 0.35f);
    r.bodies.push_back(tilted);
    r.bodies.push_back(Recipe_UnitBox(V3(-4, 0.5f, 2)));
    DynTestScene s;
    s.sim->cacheContacts = cache;
    s.Plane(2.0f, V3(0, 0, 30));
    std::vector<RigidBody*> b = s.Build(r);
    b.back()->linearVelocity = V3(3, 0, 0);
    b.push_back(s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(-0.5f, 0.8f, 30))));
    b.back()->linearVelocity = V3(5, 0, 0);
    for (int i = 0; i < 4; ++i) b.push_back(s.Added(s.Sphere(0.3f, 1.0f, V3(8, 1, 8) + V3(0.1f, 0.7f, 0) * float(i))));
    for (int i = 0; i < 150; ++i) s.Step(1.0f / 60.0f);
    std::vector<Transform> poses;
    for (RigidBody* x : b) poses.push_back(x->pose);
    return poses;
  };
  std::vector<Transform> with = run(true), without = run(false), again = run(true);
  // The same inputs give bit-identical results.
  EXPECT_EQ(std::memcmp(with.data(), again.data(), sizeof(Transform) * with.size()), 0);
  for (size_t k = 0; k < with.size(); ++k) {
    EXPECT_LT(Vec3_Norm(with[k].position - without[k].position), 0.0005f) << "body " << k;
    const Quat& p = with[k].rotation;
    const Quat& q = without[k].rotation;
    EXPECT_GT(std::fabs(p.x * q.x + p.y * q.y + p.z * q.z + p.w * q.w), 0.9999f) << "body " << k;
  }
}

TEST(Simulation, BounceHeightFollowsRestitution) {
  // Restitution combines as the larger of the two bodies' values. The three
  // balls fall side by side in one scene: they never touch each other.
  const float restitutions[3] = {0.3f, 0.6f, 0.9f};
  DynTestScene s;
  RigidBody* ground = s.Plane(5.0f, V3(0, 0, 0));
  ground->restitution = 0.1f;
  RigidBody* balls[3];
  for (int k = 0; k < 3; ++k) {
    balls[k] = s.Sphere(0.1f, 1.0f, V3(-2.0f + 2.0f * float(k), 2.1f, 0));
    balls[k]->restitution = restitutions[k];
    s.Add(balls[k]);
  }
  // Fall to the ground (about 0.64 s), then watch the first rebound.
  for (int i = 0; i < 100 && balls[0]->linearVelocity.y <= 0.0f; ++i) s.Frame(0.02f);
  float peak[3];
  for (int k = 0; k < 3; ++k) peak[k] = balls[k]->pose.position.y;
  for (int i = 0; i < 50; ++i) {
    s.Frame(0.02f);
    for (int k = 0; k < 3; ++k) peak[k] = std::fmax(peak[k], balls[k]->pose.position.y);
  }
  for (int k = 0; k < 3; ++k) {
    float e = restitutions[k], h = peak[k] - 0.1f;
    EXPECT_NEAR(h, e * e * 2.0f, 0.08f + 0.05f * e * e * 2.0f) << "restitution " << e;
  }
}

TEST(Simulation, BoxOnASlopeSlidesOrHoldsByTheGeometricMeanOfFrictions) {
  // Slope of 20 degrees: tan = 0.364. Geometric means: 0.9 and 0.4 give 0.6
  // (holds), 0.9 and 0.1 give 0.3 (slides, where the larger value would hold).
  const float angle = 20.0f * 3.14159265f / 180.0f;
  Quat tilt = Quat_FromAxisAngle(V3(0, 0, 1), angle);
  // The slope's and the box's friction; slides.
  const std::tuple<float, float, bool> cases[] = {{0.9f, 0.4f, false}, {0.9f, 0.1f, true}};
  for (const auto& [slope, boxFriction, slides] : cases) {
    DynTestScene s;
    RigidBody* ground = s.Plane(10.0f, V3(0, 0, 0), tilt);
    ground->friction = slope;
    Vec3 up = Quat_Rotate(tilt, V3(0, 1, 0));
    RigidBody* box = s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, up * 0.5f);
    RigidBody_SetPositionAndRotation(box, up * 0.5f, tilt);
    box->friction = boxFriction;
    s.Add(box);
    s.Run(2.0f);
    float moved = Vec3_Norm(box->pose.position - up * 0.5f);
    if (slides)
      EXPECT_GT(moved, 1.0f) << slope << " " << boxFriction;
    else
      EXPECT_LT(moved, 0.05f) << slope << " " << boxFriction;
  }
}

TEST(Simulation, NonFiniteAndHugeInputDoNotBreakTheStep) {
  DynTestScene s;
  s.Plane(5.0f, V3(0, 0, 0));
  RigidBody* normal = s.Sphere(0.3f, 1.0f, V3(0, 1, 0));
  RigidBody* lost = s.Sphere(0.3f, 1.0f, V3(1, 1, 0));
  RigidBody* wild = s.Sphere(0.3f, 1.0f, V3(-1, 1, 0));
  RigidBody* spinning = s.Box(V3(0.2f, 0.2f, 0.2f), 1.0f, V3(2, 1, 0));
  for (RigidBody* b : {normal, lost, wild, spinning}) s.Add(b);
  RigidBody_SetPositionAndRotation(lost, V3(NAN, 1, 0), Quat_Identity());
  wild->linearVelocity = V3(1e30f, -1e30f, 0);
  spinning->angularVelocity = V3(NAN, 0, 0);
  s.Run(1.0f);
  EXPECT_NEAR(normal->pose.position.y, 0.3f, 0.02f);
  EXPECT_TRUE(Vec3_IsFinite(wild->pose.position));
  EXPECT_TRUE(Vec3_IsFinite(spinning->pose.position));
  EXPECT_TRUE(Quat_IsFinite(spinning->pose.rotation));
  // A finite placement brings the lost body back.
  RigidBody_SetPositionAndRotation(lost, V3(1, 1, 0), Quat_Identity());
  s.Run(1.0f);
  EXPECT_NEAR(lost->pose.position.y, 0.3f, 0.02f);
}

TEST(Simulation, TwistFrictionHoldsAsFarAsItMayEitherWayAndBodiesAtRestSleepThroughSpinsAndTrembles) {
  // A unit box spun about the vertical on its face: friction at the corners'
  // mean arm takes mu g r / I = 20.8 rad/s^2 off either way (6 rad/s keeps
  // 4.75 after 0.06 s); hopping off, it keeps its spin (a twist impulse held
  // from the ground must not turn it in the air). A ball spinning on its one
  // point bears on a patch that holds friction too: it stops and sleeps (and
  // rests without jitter until another ball rolls into it). A
  // box kicked to 0.2 m/s for a step every tenth of a second (as a load
  // moving between the points of a contact now and then kicks a body in a
  // pile) sleeps while the kicks go on: judged by its speeds of each step,
  // it never rested 0.2 s on end.
  for (float spin : {6.0f, -6.0f}) {
    DynTestScene s;
    s.Plane(5.0f, V3(0, 0, 0));
    RigidBody* box = s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(0, 0.5f, 0)));
    RigidBody* ball = s.Added(s.Sphere(0.25f, 1.0f, V3(3, 0.25f, 0)));
    RigidBody* kicked = s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(-3, 0.5f, 0)));
    s.Run(0.1f);
    box->angularVelocity = ball->angularVelocity = V3(0, spin, 0);
    s.Run(0.06f);
    EXPECT_NEAR(box->angularVelocity.y, spin * (4.75f / 6.0f), 0.1f) << spin;
    box->linearVelocity = V3(0, 1.0f, 0);
    float held = box->angularVelocity.y;
    s.Run(0.06f);
    EXPECT_NEAR(box->angularVelocity.y, held, 0.01f) << spin;
    bool slept = false;
    float lo = 1e9f, hi = -1e9f;
    for (int i = 0; i < 450; ++i, slept |= i <= 100 && !(kicked->stateFlags & RB_STATE_ACTIVE)) {
      if (i % 5 == 0 && i < 100) kicked->linearVelocity = V3(0.2f, 0, 0);
      s.Frame(0.02f);
      if (i >= 50) lo = std::fmin(lo, ball->pose.position.y), hi = std::fmax(hi, ball->pose.position.y);
    }
    EXPECT_TRUE(slept) << spin;
    // The ball rests on the mesh without sinking or jitter, asleep and
    // settled, until another rolls into it.
    EXPECT_GT(lo, 0.25f - 0.01f);
    EXPECT_LT(hi - lo, 0.002f);
    EXPECT_FALSE(ball->stateFlags & (RB_STATE_ACTIVE | RB_STATE_NOT_SETTLED)) << spin;
    s.Added(s.Sphere(0.25f, 1.0f, V3(3, 0.25f, -2)))->linearVelocity = V3(0, 0, 6);
    s.Run(0.6f);
    EXPECT_GT(ball->pose.position.z, 0.2f) << spin;
  }
}

TEST(Simulation, RestTimerLetsOneStepsSpikePassButNotThreeStepsOfMotion) {
  // A brick in a settled wall now and then ends a step turning or sliding at
  // six times the rest speed, and stands still again the next (the solver
  // takes back what it gave): that must not hold the wall awake. Three steps
  // at twice the rest speed are motion and restart the rest time, and so does
  // a push or a spin to twelve rest speeds given a step before the body would
  // sleep: it keeps moving.
  const FreezeManager f;
  const struct {
    bool spin;
    int from, to;  // the steps moving
    float speed;   // in rest speeds
    bool awake;
  } rows[] = {{true, 4, 5, 6.0f, false},
              {false, 4, 5, 6.0f, false},
              {true, 4, 7, 2.0f, true},
              {false, 11, 15, 12.0f, true},
              {true, 11, 15, 12.0f, true}};
  for (const auto& r : rows) {
    DynTestScene s;
    RigidBody* box = s.Added(s.Box(V3(0.3f, 0.1f, 0.15f), 10.0f, V3(0, 0.1f, 0)));
    IslandScratch scratch;
    RigidBody* bodies[1] = {box};
    for (int i = 0; i < 15 && (box->stateFlags & RB_STATE_ACTIVE); ++i) {
      float speed = i >= r.from && i < r.to ? r.speed : 0.0f;
      box->angularVelocity = V3(0, 0, r.spin ? speed * f.restAngular : 0.0f);
      box->linearVelocity = V3(r.spin ? 0.0f : speed * f.restLinear, 0, 0);
      Island_Sleep(&scratch, bodies, 1, nullptr, 0, nullptr, 0, f, 1.0f / 60.0f);
    }
    EXPECT_EQ((box->stateFlags & RB_STATE_ACTIVE) != 0, r.awake) << "row " << &r - rows;
  }
}

TEST(Simulation, AStruckSleepingWallWakesWholeSinksNoDeeperThanAnAwakeOneAndSettles) {
  // Staggered bricks (0.3 x 0.2 x 0.6 m, 10 kg), swayed, then struck at
  // 14 m/s by a 30 kg ball, asleep and held awake. A load remembered between
  // two moving bricks kept a swayed wall rocking for ever; woken a contact
  // layer at a time, struck bricks were pressed into the ground under
  // neighbours still asleep (5 cm here).
  float sink[2];
  for (int awake = 0; awake < 2; ++awake) {
    DynTestScene s;
    s.Added(s.Box(V3(20, 0.5f, 20), 0.0f, V3(0, -0.5f, 0)));
    std::vector<RigidBody*> bricks;
    for (int row = 0; row < 10; ++row)
      for (int i = 0, n = 4 - row % 2; i < n; ++i)
        bricks.push_back(s.Added(s.Box(V3(0.15f, 0.1f, 0.3f), 10.0f,
                                       V3(0, 0.1f + 0.2f * float(row), (float(i) - 0.5f * float(n - 1)) * 0.61f))));
    for (RigidBody* b : bricks) awake ? RigidBody_HoldActive(b) : void();
    s.Run(0.6f);
    for (RigidBody* b : bricks) b->linearVelocity = V3(0.15f * b->pose.position.y, 0, 0);
    s.Run(3.0f);
    ASSERT_EQ(awake != 0, (bricks.back()->stateFlags & RB_STATE_ACTIVE) != 0) << "swayed wall at rest";
    RigidBody* ball = s.Added(s.Sphere(0.4f, 30.0f, V3(-1.2f, 0.6f, 0.3f)));
    ball->linearVelocity = V3(14, 0, 0);
    sink[awake] = 0.0f;
    int woken = 0, up = 0;
    for (int i = 0; i < 250 && (up > 0 || !woken); ++i) {
      if (i == 30) s.Remove(ball);  // it has gone through: what it leaves must settle
      s.Frame(0.02f);
      up = 0;
      for (RigidBody* b : bricks) {
        sink[awake] = std::fmax(sink[awake], -b->primitives[0]->bounds.min.y);  // a box's bounds are its corners'
        up += (b->stateFlags & RB_STATE_ACTIVE) != 0;
      }
      EXPECT_TRUE(up == 0 || up == int(bricks.size()) || woken) << "woken whole";
      woken |= up;
    }
    EXPECT_EQ(up, awake ? int(bricks.size()) : 0) << "the struck wall sleeps again within 5 s";
  }
  EXPECT_LT(sink[0], sink[1] + 0.006f);  // the few mm a wall asleep before it fully settled may take
}

TEST(Simulation, FastBodiesStopAtAThinWallMeetWithoutSinkingInAndRollOnAlongACurvedMesh) {
  // A small sphere at 120 m/s stops at a thin wall. A ball dropped at 15 m/s
  // onto one at rest is found before it meets it, not a step later half
  // inside it. A ball rolling fast along a curved mesh crosses the next
  // triangle's plane a little at every step: no impact to set it back for
  // (it stayed where it was, its speed growing).
  DynTestScene s;
  s.Mesh(Grid_Mesh(20, 10.0f, [](float x, float z) { return 0.05f * (x * x + z * z); }), V3(0, 0, 0));
  s.Plane(10.0f, V3(15, 0, 0), Quat_FromAxisAngle(V3(0, 0, 1), 1.5707963f), 2);  // the plane x = 15
  RigidBody* bullet = s.Added(s.Sphere(0.05f, 0.1f, V3(11, 5, 0.2f)));
  bullet->linearVelocity = V3(120, 0, 0);
  RigidBody* low = s.Added(s.Sphere(0.3f, 1.0f, V3(0, 0.3f, 0)));
  RigidBody* high = s.Added(s.Sphere(0.3f, 1.0f, V3(0.1f, 4.0f, 0)));
  RigidBody* roller = s.Added(s.Sphere(0.3f, 1.0f, V3(-6.0f, 3.37f, -5.0f)));
  high->linearVelocity = V3(0, -15.0f, 0);
  roller->linearVelocity = V3(8.0f, 0, 0);
  float deepest = 0.0f, x = roller->pose.position.x;
  for (int i = 0; i < 50; ++i, x = roller->pose.position.x) {
    s.Frame(0.02f);
    deepest = std::fmax(deepest, 0.6f - Vec3_Norm(high->pose.position - low->pose.position));
    EXPECT_GT(roller->pose.position.x, x + 0.05f) << "step " << i;
  }
  EXPECT_LT(deepest, 0.03f);
  EXPECT_LT(bullet->pose.position.x, 15.0f);
  EXPECT_GT(bullet->pose.position.x, 14.0f);
}

// Ground bending up by 6 degrees at x = 0: a sphere sliding fast enough to be swept almost touches the triangles
// past the fold, which must not set it back onto its start: it never nearly stops for a frame, and goes over.
TEST(Simulation, FastSphereSlidesOverAFoldInAMeshWithoutStopping) {
  for (float speed : {6.5f, 7.0f, 8.0f, 9.0f}) {
    DynTestScene s;
    s.Mesh(Grid_Mesh(8, 8.0f, [](float x, float) { return x > 0.0f ? x * std::tan(0.10471976f) : 0.0f; }), V3(0, 0, 0));
    RigidBody* ball = s.Added(s.Sphere(0.5f, 1.0f, V3(-6, 0.5f, 0.3f)));
    ball->friction = 0.0f;
    ball->linearVelocity = V3(speed, 0, 0);
    for (int i = 0; i < 70; ++i) {
      const float before = ball->pose.position.x;
      s.Frame(0.02f);
      ASSERT_GE(ball->pose.position.x - before, 0.05f) << speed << " at frame " << i;
    }
    EXPECT_GT(ball->pose.position.x, 2.5f) << speed;
  }
}
