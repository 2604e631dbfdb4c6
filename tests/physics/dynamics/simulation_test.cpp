#include "physics/dynamics/simulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

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

TEST(Simulation, SphereOnAMeshRestsWithoutJitterSleepsAndWakesWhenHit) {
  DynTestScene s;
  s.Plane(5.0f, V3(0, 0, 0));
  RigidBody* ball = s.Added(s.Sphere(0.5f, 1.0f, V3(0, 1.0f, 0)));
  s.Run(1.0f);
  float lo = 1e9f, hi = -1e9f;
  bool slept = false;
  for (int i = 0; i < 450; ++i) {
    s.Frame(0.02f);
    lo = std::fmin(lo, ball->pose.position.y);
    hi = std::fmax(hi, ball->pose.position.y);
    slept |= !(ball->stateFlags & RB_STATE_ACTIVE);
  }
  EXPECT_GT(lo, 0.5f - 0.01f);  // sinks at most 0.01
  EXPECT_LT(hi - lo, 0.002f);   // no jitter
  EXPECT_TRUE(slept);
  EXPECT_FALSE(ball->stateFlags & RB_STATE_NOT_SETTLED);
  EXPECT_FALSE(ball->stateFlags & RB_STATE_ACTIVE);  // still asleep when hit
  // Another ball rolls into it: it wakes and moves.
  RigidBody* hitter = s.Added(s.Sphere(0.5f, 1.0f, V3(-3, 0.5f, 0)));
  hitter->linearVelocity = V3(6, 0, 0);
  s.Run(0.6f);
  EXPECT_GT(ball->pose.position.x, 0.2f);
}

TEST(Simulation, TenBoxStackStandsAtFiftyHertzAndUnderAlternatingFrameTimes) {
  // Standing: the top box is still at its height and has not leaned out by a
  // third of its width (a toppling stack passes half of it within seconds).
  const std::vector<float> patterns[] = {{0.02f}, {0.016f, 0.021f, 0.05f}};
  for (const std::vector<float>& frames : patterns) {
    DynTestScene s;
    s.Plane(5.0f, V3(0, 0, 0));
    RigidBody* top = nullptr;
    for (int i = 0; i < 10; ++i) s.Add(top = s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(0, 0.5f + float(i), 0)));
    size_t i = 0;
    for (float t = 0; t < 10.0f; t += frames[i++ % frames.size()]) s.Frame(frames[i % frames.size()]);
    EXPECT_LT(std::fabs(top->pose.position.x) + std::fabs(top->pose.position.z), 0.33f) << frames.size();
    EXPECT_GT(top->pose.position.y, 9.5f - 0.1f) << frames.size();
  }
}

TEST(Simulation, CachedHullContactsEndWhereFullTestsEnd) {
  // A short column, a box dropped on an edge and a box sliding to a stop on a
  // ground box, run with and without the narrow phase's hull-pair cache.
  auto run = [](bool cache) {
    SceneRecipe r = Recipe_Column(4);
    SceneBody tilted = Recipe_UnitBox(V3(3, 1.2f, 0));
    tilted.rotation = Quat_FromAxisAngle(V3(0, 0, 1), 0.35f);
    r.bodies.push_back(tilted);
    r.bodies.push_back(Recipe_UnitBox(V3(-4, 0.5f, 2)));
    DynTestScene s;
    s.sim->cacheContacts = cache;
    std::vector<RigidBody*> b = s.Build(r);
    b.back()->linearVelocity = V3(3, 0, 0);
    for (int i = 0; i < 150; ++i) s.Step(1.0f / 60.0f);
    std::vector<Transform> poses;
    for (RigidBody* x : b) poses.push_back(x->pose);
    return poses;
  };
  std::vector<Transform> with = run(true), without = run(false);
  for (size_t k = 0; k < with.size(); ++k) {
    EXPECT_LT(Vec3_Norm(with[k].position - without[k].position), 0.01f) << "body " << k;
    const Quat& p = with[k].rotation;
    const Quat& q = without[k].rotation;
    EXPECT_GT(std::fabs(p.x * q.x + p.y * q.y + p.z * q.z + p.w * q.w), 0.9999f) << "body " << k;
  }
}

TEST(Simulation, WarmStartFollowsAChangeOfSubStepLength) {
  // A resting stack holds its weight with impulses of m g h per sub-step:
  // carried unscaled into a sub-step a quarter as long (or twice as long),
  // they would throw the boxes up (or let them sink).
  for (float h : {0.0025f, 0.02f}) {
    DynTestScene s;
    s.Plane(5.0f, V3(0, 0, 0));
    std::vector<RigidBody*> boxes;
    for (int i = 0; i < 10; ++i) {
      boxes.push_back(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(0, 0.5f + float(i), 0)));
      s.Add(boxes.back());
      RigidBody_HoldActive(boxes.back());
    }
    for (int i = 0; i < 200; ++i) s.Step(0.01f);
    float fastest = 0.0f;
    for (int i = 0; i < 3; ++i) {
      s.Step(h);
      for (RigidBody* b : boxes) fastest = std::fmax(fastest, std::fabs(b->linearVelocity.y));
    }
    EXPECT_LT(fastest, 0.01f) << "sub-step " << h;
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

TEST(Simulation, FastSmallSphereStopsAtAThinWall) {
  DynTestScene s;
  Simulation_SetGravity(s.sim, V3(0, 0, 0));
  // A vertical wall through x = 5 (the plane turned about z).
  s.Plane(3.0f, V3(5, 0, 0), Quat_FromAxisAngle(V3(0, 0, 1), 1.5707963f), 2);
  RigidBody* bullet = s.Added(s.Sphere(0.05f, 0.1f, V3(0, 0.3f, 0.2f)));
  bullet->linearVelocity = V3(120, 0, 0);
  s.Run(0.5f);
  EXPECT_LT(bullet->pose.position.x, 5.0f);
  EXPECT_GT(bullet->pose.position.x, 4.0f);
}

TEST(Simulation, SameInputsGiveBitIdenticalResults) {
  auto run = [](std::vector<Transform>* out) {
    DynTestScene s;
    s.Plane(5.0f, V3(0, 0, 0));
    std::vector<RigidBody*> bodies;
    for (int i = 0; i < 4; ++i) bodies.push_back(s.Sphere(0.3f, 1.0f, V3(0.1f * float(i), 1.0f + 0.7f * float(i), 0)));
    for (int i = 0; i < 3; ++i) bodies.push_back(s.Box(V3(0.3f, 0.2f, 0.3f), 2.0f, V3(0.2f, 4.0f + 0.5f * float(i), 0.1f)));
    for (RigidBody* b : bodies) s.Add(b);
    s.Run(2.0f);
    for (RigidBody* b : bodies) out->push_back(b->pose);
  };
  std::vector<Transform> a, b;
  run(&a);
  run(&b);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), sizeof(Transform) * a.size()), 0);
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
