#include "physics/dynamics/constraint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/physics/dynamics/dyn_test_scene.h"

namespace {

constexpr float kPi = 3.14159265f;

// Pivot-to-anchor distance of a point-to-point joint, world space (huge for
// a joint that lost a body).
float JointGap(const Point2PointConstraint* c) {
  if (!c->bodyA || !c->bodyB) return 1e9f;
  Vec3 pa = Transform_Apply(c->bodyA->pose, c->pivotA);
  Vec3 pb = Transform_Apply(c->bodyB->pose, c->pivotB);
  return Vec3_Norm(pa - pb);
}

// A hinge of the body to the world through the pivot about the axis, with
// its limits (when lo < hi) and its velocity motor (when speed is a number),
// added to the scene's manager.
HingeConstraint* Hinge(DynTestScene& s, RigidBody* body, Vec3 pivot, Vec3 axis, float lo = 0, float hi = 0,
                       float speed = NAN) {
  s.Add(body);
  HingeConstraint* hinge = HingeConstraint_Construct(body, nullptr);
  HingeConstraint_SetPivotAxisWorld(hinge, pivot, axis);
  hinge->limitOn = lo < hi;
  hinge->limit[0] = hi;  // stored in either order
  hinge->limit[1] = lo;
  hinge->motorOn = speed == speed;
  hinge->motor[0] = speed;
  hinge->motor[1] = 0.0f;
  Constraint_Rebuild(hinge);
  ConstraintManager_AddConstraint(s.cm, hinge);
  return hinge;
}

// A door of 1 x 2 m and 10 kg hinged along its edge, about y through (0, 1, 0).
RigidBody* Door(DynTestScene& s) { return s.Box(V3(0.5f, 1.0f, 0.05f), 10.0f, V3(0.5f, 1, 0), 0); }

}  // namespace

TEST(Point2PointConstraint, PendulumKeepsThePeriodOfAPhysicalPendulum) {
  DynTestScene s;
  const float L = 1.0f, r = 0.1f, theta0 = 0.1f;
  Vec3 pivot{0, 3, 0};
  RigidBody* bob = s.Added(s.Sphere(r, 1.0f, pivot + V3(L * std::sin(theta0), -L * std::cos(theta0), 0), 0));
  Point2PointConstraint* joint = Point2PointConstraint_Construct(bob, nullptr);
  Point2PointConstraint_SetPivotWorld(joint, pivot);
  ConstraintManager_AddConstraint(s.cm, joint);

  // Times at which the bob crosses the vertical moving towards -x.
  std::vector<double> crossings;
  float prevX = bob->pose.position.x;
  for (int i = 0; i < 400 && crossings.size() < 4; ++i) {
    s.Frame(0.02f);
    float x = bob->pose.position.x;
    if (prevX > 0 && x <= 0) crossings.push_back(s.time - 0.02 * x / (x - prevX));
    prevX = x;
  }
  ASSERT_GE(crossings.size(), 3u);
  double measured = (crossings.back() - crossings.front()) / double(crossings.size() - 1);
  double expected = 2 * kPi * std::sqrt((L * L + 0.4 * r * r) / (9.81 * L));
  EXPECT_NEAR(measured, expected, 0.02 * expected);
  EXPECT_LT(JointGap(joint), 0.01f);
  PhysObject_Destroy(joint);
}

TEST(Constraint, StrengthAndDampingOutsideZeroToOneActAsOne) {
  // A swinging hinged door and a pendulum, run with the given parameters;
  // returns both bodies' final poses.
  auto run = [](float strength, float damping) {
    DynTestScene s;
    RigidBody* bob = s.Added(s.Sphere(0.2f, 2.0f, V3(1, 2, 0), 0));
    RigidBody* door = s.Added(s.Box(V3(0.5f, 1.0f, 0.05f), 10.0f, V3(0.5f, 1, 3), 0));
    Point2PointConstraint* joint = Point2PointConstraint_Construct(bob, nullptr);
    Point2PointConstraint_SetPivotWorld(joint, V3(0, 2, 0));
    HingeConstraint* hinge = HingeConstraint_Construct(door, nullptr);
    HingeConstraint_SetPivotAxisWorld(hinge, V3(0, 1, 3), V3(0, 0.8f, 0.6f));
    for (Constraint* c : std::initializer_list<Constraint*>{joint, hinge}) {
      c->strength = strength;
      c->damping = damping;
      Constraint_Rebuild(c);
      ConstraintManager_AddConstraint(s.cm, c);
    }
    s.Run(1.5f);
    std::vector<Transform> poses = {bob->pose, door->pose};
    PhysObject_Destroy(joint);
    PhysObject_Destroy(hinge);
    return poses;
  };
  std::vector<Transform> one = run(1.0f, 1.0f);
  EXPECT_LT(one[0].position.x, 0.0f);  // it swung across instead of hanging in the air
  const float cases[][2] = {{0.0f, 0.0f}, {-2.0f, NAN}, {5.0f, 5.0f}, {1.5f, 1.0f}, {1.0f, 1.5f}};
  for (const auto& c : cases) {
    std::vector<Transform> other = run(c[0], c[1]);
    EXPECT_EQ(std::memcmp(one.data(), other.data(), sizeof(Transform) * 2), 0)
        << "strength " << c[0] << " damping " << c[1];
  }
}

TEST(Constraint, DestroyingEitherBodyLeavesTheJointInactiveAndTheOtherFallingFreely) {
  for (bool destroyA : {false, true}) {
    DynTestScene s;
    RigidBody* a = s.Added(s.Sphere(0.2f, 1.0f, V3(0, 2, 0), 0));
    RigidBody* b = s.Added(s.Sphere(0.2f, 1.0f, V3(1, 2, 0), 0));
    Point2PointConstraint* joint = Point2PointConstraint_Construct(a, b);
    ConstraintManager_AddConstraint(s.cm, joint);
    s.Run(0.1f);
    RigidBody* gone = destroyA ? a : b;
    RigidBody* survivor = destroyA ? b : a;
    s.bodies.erase(std::find(s.bodies.begin(), s.bodies.end(), gone));
    PhysObject_Destroy(gone);
    EXPECT_EQ(destroyA ? joint->bodyA : joint->bodyB, nullptr);
    Vec3 p0 = survivor->pose.position;
    float v0 = survivor->linearVelocity.y;
    s.Run(0.5f);
    EXPECT_NEAR(survivor->pose.position.x, p0.x, 1e-4f) << "destroyed " << (destroyA ? "A" : "B");
    EXPECT_NEAR(survivor->pose.position.y, p0.y + v0 * 0.5f - 0.5f * 9.81f * 0.25f, 0.05f);
    // The inactive joint detaches and is destroyed cleanly.
    PhysObject_Destroy(joint);
    EXPECT_TRUE(s.cm->constraints.Empty());
  }
}

TEST(Constraint, JointAndExcludedPairsOutlastRemovalAndComeBackWithTheBody) {
  DynTestScene s;
  // A floor the swinging bob would hit, but the pair is excluded.
  RigidBody* floor = s.Plane(5.0f, V3(0, 2.5f, 0));
  RigidBody* bob = s.Added(s.Sphere(0.2f, 1.0f, V3(1, 3, 0)));
  CollisionDetection_DisableBodyPair(s.cd, bob, floor);
  Point2PointConstraint* joint = Point2PointConstraint_Construct(bob, nullptr);
  Point2PointConstraint_SetPivotWorld(joint, V3(0, 3, 0));
  ConstraintManager_AddConstraint(s.cm, joint);
  s.Remove(bob);
  s.Run(0.5f);  // out of the world: the joint is dormant and the bob stays put
  EXPECT_EQ(bob->pose.position.y, 3.0f);
  s.Add(bob);
  float lowest = 3.0f, worstGap = 0.0f;
  for (int i = 0; i < 50; ++i) {
    s.Frame(0.02f);
    lowest = std::fmin(lowest, bob->pose.position.y);
    worstGap = std::fmax(worstGap, JointGap(joint));
  }
  EXPECT_LT(worstGap, 0.02f);  // the joint holds again
  EXPECT_LT(lowest, 2.1f);     // through the floor: still excluded
  PhysObject_Destroy(joint);
}

TEST(HingeConstraint, AxisStaysWithinHalfADegreeWhileSwingingUnderLoad) {
  // Largest angle (degrees) between a bar's hinge axis, z, and the world's z.
  auto tilt = [](const RigidBody* b) {
    Vec3 z = Quat_Rotate(b->pose.rotation, V3(0, 0, 1));
    return std::acos(std::fmin(1.0f, std::fabs(z.z))) * 57.29578f;
  };
  {
    // A bar hinged at one end, its weight off the hinge along the axis: the
    // load twists the axis at every swing.
    DynTestScene s;
    RigidBody* bar = s.Box(V3(0.5f, 0.05f, 0.05f), 2.0f, V3(0.5f, 3, 0.4f), 0);
    HingeConstraint* hinge = Hinge(s, bar, V3(0, 3, 0), V3(0, 0, 1));
    float worst = 0.0f, lowest = 3.0f;
    for (int i = 0; i < 300; ++i) {
      s.Step(1.0f / 60.0f);
      worst = std::fmax(worst, tilt(bar));
      lowest = std::fmin(lowest, bar->pose.position.y);
    }
    EXPECT_LT(lowest, 2.6f);  // it swung
    EXPECT_LT(worst, 0.5f);
    PhysObject_Destroy(hinge);
  }
  {
    // The benchmark's chain of 20 bars, which folds onto itself.
    DynTestScene s;
    std::vector<RigidBody*> bars = s.Build(Recipe_Chain(20));
    float worst = 0.0f;
    for (int i = 0; i < 600; ++i) {
      s.Step(1.0f / 60.0f);
      for (RigidBody* b : bars) worst = std::fmax(worst, tilt(b));
    }
    EXPECT_LT(worst, 0.5f);
  }
}

// A velocity motor turns a free hinge at its speed; unbounded, it drives a
// limited hinge to the stop ahead of it and no further, either way round,
// and also when gravity helps it.
TEST(HingeConstraint, AVelocityMotorReachesItsSpeedAndStopsAtTheLimitItDrivesInto) {
  for (float speed : {2.0f, -2.0f}) {
    for (int kind = 0; kind < 3; ++kind) {  // an upright door, a flap hanging from an axis along x, a free door
      DynTestScene s;
      float limit = kind < 2 ? 0.6f : 0.0f;
      HingeConstraint* hinge = kind == 1 ? Hinge(s, s.Box(V3(0.5f, 1.0f, 0.05f), 5.0f, V3(0, 1, 0), 0), V3(0, 2, 0),
                                                 V3(1, 0, 0), -limit, limit, speed)
                                         : Hinge(s, Door(s), V3(0, 1, 0), V3(0, 1, 0), -limit, limit, speed);
      float extreme = 0.0f;
      for (int i = 0; i < 150; ++i) {
        s.Frame(1.0f / 60.0f);
        extreme = speed > 0 ? std::fmax(extreme, hinge->Angle()) : std::fmin(extreme, hinge->Angle());
      }
      if (kind == 2) {
        EXPECT_NEAR(hinge->bodyA->angularVelocity.y, speed, 0.05f);
        EXPECT_NEAR(hinge->bodyA->angularVelocity.x, 0.0f, 0.05f);
      } else {
        EXPECT_NEAR(std::fabs(extreme), 0.6f, 0.05f) << speed << " kind " << kind;
        EXPECT_NEAR(std::fabs(hinge->Angle()), 0.6f, 0.05f) << speed << " kind " << kind;  // held there
      }
      PhysObject_Destroy(hinge);
    }
  }
}

TEST(Constraint, FrameTwoAxisAndDistanceJointsHoldTheirRelation) {
  DynTestScene s;
  RigidBody* anchor = s.Sphere(0.2f, 1.0f, V3(0, 3, 0), 0);
  RigidBody* a = s.Sphere(0.2f, 1.0f, V3(1, 3, 0), 0);
  RigidBody* b = s.Sphere(0.2f, 1.0f, V3(2, 3, 0), 0);
  for (RigidBody* x : {anchor, a, b}) s.Add(x);
  FrameConstraint* frame = FrameConstraint_Construct(anchor, nullptr);  // welds the anchor to the world
  DistanceConstraint* dist = DistanceConstraint_Construct(a, anchor);
  TwoAxisConstraint* uni = TwoAxisConstraint_Construct(b, a);
  for (Constraint* c : std::initializer_list<Constraint*>{frame, dist, uni})
    ConstraintManager_AddConstraint(s.cm, c);
  s.Run(2.0f);
  EXPECT_LT(Vec3_Norm(anchor->pose.position - V3(0, 3, 0)), 0.02f);
  EXPECT_NEAR(Vec3_Norm(a->pose.position - anchor->pose.position), 1.0f, 0.03f);
  EXPECT_NEAR(Vec3_Norm(b->pose.position - a->pose.position), 1.0f, 0.03f);
  for (Constraint* c : std::initializer_list<Constraint*>{frame, dist, uni}) PhysObject_Destroy(c);
}

// Figures of ten boxes joined at neck, shoulders, elbows, hips and knees,
// dropped in three piles of four on a wavy mesh: they come to rest and sleep
// with their joints whole.
TEST(Point2PointConstraint, JointedFiguresPiledOnAMeshSettleAndSleep) {
  // Centre x, z; half size x, y, z; mass; parent; pivot x.
  const float parts[10][8] = {
      {0.0f, 0.0f, 0.25f, 0.1f, 0.15f, 20.0f, -1, 0.0f},       {0.37f, 0.0f, 0.1f, 0.1f, 0.1f, 5.0f, 0, 0.26f},
      {0.08f, 0.21f, 0.14f, 0.05f, 0.05f, 3.0f, 0, 0.22f},     {0.08f, -0.21f, 0.14f, 0.05f, 0.05f, 3.0f, 0, 0.22f},
      {-0.2f, 0.21f, 0.13f, 0.045f, 0.045f, 2.0f, 2, -0.065f}, {-0.2f, -0.21f, 0.13f, 0.045f, 0.045f, 2.0f, 3, -0.065f},
      {-0.46f, 0.08f, 0.2f, 0.07f, 0.07f, 8.0f, 0, -0.255f},   {-0.46f, -0.08f, 0.2f, 0.07f, 0.07f, 8.0f, 0, -0.255f},
      {-0.87f, 0.08f, 0.2f, 0.06f, 0.06f, 5.0f, 6, -0.665f},   {-0.87f, -0.08f, 0.2f, 0.06f, 0.06f, 5.0f, 7, -0.665f}};
  DynTestScene s;
  Simulation_SetSolverIterations(s.sim, 10);
  s.Mesh(Grid_Mesh(40, 10.0f, [](float x, float z) { return 0.15f * std::sin(0.9f * x) * std::cos(0.7f * z); }),
         V3(0, 0, 0));
  std::vector<RigidBody*> bodies;
  std::vector<Point2PointConstraint*> joints;
  const Vec3 piles[3] = {V3(-1.2f, 1, -0.8f), V3(1.0f, 1, -0.5f), V3(0, 1, 1.2f)};
  for (int k = 0; k < 12; ++k) {
    int pile = k % 3, level = k / 3;
    bool alongZ = (pile + level) % 2 == 1;
    auto place = [&](float x, float z) { return piles[pile] + V3(0, 0.7f * float(level), 0) + (alongZ ? V3(z, 0, x) : V3(x, 0, z)); };
    size_t first = bodies.size();
    for (const float* p : parts) {
      Vec3 half = alongZ ? V3(p[4], p[3], p[2]) : V3(p[2], p[3], p[4]);
      bodies.push_back(s.Added(s.Box(half, p[5], place(p[0], p[1]))));
      if (p[6] < 0) continue;
      Point2PointConstraint* c = Point2PointConstraint_Construct(bodies.back(), bodies[first + size_t(p[6])]);
      Point2PointConstraint_SetPivotWorld(c, place(p[7], p[1]));
      ConstraintManager_AddConstraint(s.cm, c);
      s.joints.push_back(c);
      joints.push_back(c);
      CollisionDetection_DisableBodyPair(s.cd, bodies.back(), bodies[first + size_t(p[6])]);
    }
  }
  int awake = 0;
  for (int i = 0; i < 600; ++i) s.Frame(1.0f / 60.0f);
  for (RigidBody* b : bodies) awake += (b->stateFlags & RB_STATE_ACTIVE) != 0;
  EXPECT_EQ(awake, 0);
  for (Point2PointConstraint* c : joints) EXPECT_LT(JointGap(c), 0.02f);
}
