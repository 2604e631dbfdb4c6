// The physics engine's base: arrays, maths (and its agreement with the base
// library's maths), memory hooks, objects and their dependents, timers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/maths.h"
#include "physics/base/base_system.h"
#include "physics/base/phys_array.h"
#include "physics/base/phys_math.h"
#include "physics/base/phys_memory.h"
#include "physics/base/phys_object.h"
#include "physics/base/phys_timer.h"
#include "tests/physics/collision/collision_test_shapes.h"

using collision_test::ExpectNear;

TEST(PhysArray, RemoveIfDropsMatchesAndKeepsTheOrderOfTheRest) {
  PhysArray<int, PHYS_MEM_SOLVER> a;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.Push(i));
  a.RemoveIf([](int v) { return v % 3 == 0; });
  ASSERT_EQ(a.Count(), 6);
  const int expected[] = {1, 2, 4, 5, 7, 8};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(a[i], expected[i]);
  a.RemoveIf([](int) { return true; });
  EXPECT_TRUE(a.Empty());
}

TEST(PhysMath, InverseEigenAndTransformsAgree) {
  Mat3 a{{{4, 1, 0}, {1, 3, 1}, {0, 1, 2}}};
  Mat3 inv;
  ASSERT_TRUE(Mat3_Invert(a, &inv));
  Mat3 id = Mat3_MulMat(a, inv);
  ExpectNear(id.r[0], V3(1, 0, 0));
  ExpectNear(id.r[2], V3(0, 0, 1));
  EXPECT_FALSE(Mat3_Invert(Mat3_Zero(), &inv));
  Vec3 d;
  Mat3 v;
  Mat3_EigenSymmetric(a, &d, &v);
  for (int i = 0; i < 3; ++i) {
    Vec3 col{v.r[0].x, v.r[1].x, v.r[2].x};
    if (i == 1) col = {v.r[0].y, v.r[1].y, v.r[2].y};
    if (i == 2) col = {v.r[0].z, v.r[1].z, v.r[2].z};
    ExpectNear(Mat3_Mul(a, col), col * Vec3_Get(d, i), 1e-4f);
  }
  Transform t{Quat_FromAxisAngle(V3(0, 0, 1), 0.7f), V3(1, 2, 3)};
  Vec3 p{0.5f, -1, 2};
  ExpectNear(Transform_ApplyInv(t, Transform_Apply(t, p)), p);
  Transform_SetIdentity(&t);
  ExpectNear(Transform_Apply(t, p), p);
  // Degenerate input stays finite.
  Quat n = Quat_Normalize({0, 0, 0, 0});
  EXPECT_EQ(n.w, 1.0f);
  ExpectNear(Vec3_Unit(V3(0, 0, 0)), V3(0, 0, 0));
}

// A frame's matrix and a body's orientation share one quaternion type (and
// engine/physworld.h compiles both headers together): the base library's
// conversion of a frame matrix and the physics engine's conversion of the
// same rows give the same rotation, and that rotation takes the body axes to
// the matrix rows (within the table-root normalisation of the frame's axis).
TEST(SharedMaths, FrameMatrixAndBodyOrientationShareOneQuaternion) {
    // Near half turns about skew axes too, where the conversions take their other branches.
    const Vec3 axes[] = {{0, 1, 0}, {1, 0, 0}, {0.3f, -0.8f, 0.52f}, {0.8f, 0.6f, 0}, {0, 0.8f, 0.6f}, {0.6f, 0, 0.8f}};
    const float angles[] = {0.4f, 2.9f, -1.7f, 3.1f, 2.9f, 2.9f};
    for (int i = 0; i < 6; ++i) {
        Mat4 frame;
        Mat4_FromAxisAngle(&frame, &axes[i], angles[i], nullptr);
        Quat fromFrame;
        Quat_FromMatrix(&fromFrame, &frame);
        Mat3 rows;
        for (int r = 0; r < 3; ++r) rows.r[r] = V3(frame.m[r][0], frame.m[r][1], frame.m[r][2]);
        Quat fromRows;
        Quaternion_FromMatrix3(&fromRows, &rows);
        float dot =
            fromFrame.x * fromRows.x + fromFrame.y * fromRows.y + fromFrame.z * fromRows.z + fromFrame.w * fromRows.w;
        EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-4f) << "case " << i;
        const Vec3 bodyAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        Mat3 back;  // and the physics engine's own conversion back gives the rows again
        Matrix3_FromQuaternion(&back, fromRows);
        for (int r = 0; r < 3; ++r) {
            ExpectNear(Quat_Rotate(fromFrame, bodyAxes[r]), rows.r[r], 1e-4f);
            ExpectNear(back.r[r], rows.r[r], 1e-4f);
        }
    }
}

namespace {

int g_allocs = 0;
int g_frees = 0;
void* CountingAlloc(size_t size, size_t alignment) {
  ++g_allocs;
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}
void* CountingAlloc16(size_t size) { return CountingAlloc(size, 16); }
void CountingFree(void* p) {
  ++g_frees;
  std::free(p);
}

class Constrained : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_CONSTRAINT)
  double payload[5];
};

}  // namespace

TEST(PhysMemory, ObjectsAllocateThroughTheInstalledHooksInTheirClass) {
  PhysMemHooks hooks{CountingAlloc16, CountingAlloc, CountingFree};
  Physics_SetMemHooks(&hooks);
  g_allocs = g_frees = 0;
  PhysMemStats before = Physics_GetMemStats(PHYS_MEM_CONSTRAINT);
  Constrained* c = new Constrained();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c) % 16, 0u);
  EXPECT_EQ(c->allocSize, sizeof(Constrained));
  EXPECT_EQ(g_allocs, 1);
  EXPECT_EQ(Physics_GetMemStats(PHYS_MEM_CONSTRAINT).liveBytes - before.liveBytes,
            int64_t(sizeof(Constrained)));
  PhysObject_Destroy(c);
  EXPECT_EQ(g_frees, 1);
  EXPECT_EQ(Physics_GetMemStats(PHYS_MEM_CONSTRAINT).liveBytes, before.liveBytes);
  void* aligned = Physics_AllocateAligned(100, 64, PHYS_MEM_GENERAL);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 64, 0u);
  Physics_FreeAligned(aligned, 100, PHYS_MEM_GENERAL);
  EXPECT_EQ(Physics_AllocateAligned(100, 48, PHYS_MEM_GENERAL), nullptr);  // not a power of two
  Physics_SetMemHooks(nullptr);
  EXPECT_EQ(Physics_GetMemStats(99).liveBytes, 0);
}

namespace {

// A dependent that records its notices and can drop links while told.
class Watcher : public PhysObject {
public:
  int Notify(PhysObject* source, uint32_t id, int mode) override {
    seen.push_back({source, id, mode});
    if (dropOther) PhysObject_RemoveDependent(source, dropOther);
    return 1;
  }
  struct Seen {
    PhysObject* source;
    uint32_t id;
    int mode;
  };
  std::vector<Seen> seen;
  PhysObject* dropOther = nullptr;
};

// A collector-like object that depends on two children.
class Holder : public PhysObject {
public:
  int GetChildCount() const override { return 2; }
  PhysObject* GetChild(int i) const override { return children[i]; }
  PhysObject* children[2] = {nullptr, nullptr};
};

}  // namespace

TEST(PhysObject, DestructionNoticeReachesEveryDependentOnceEvenWhenLinksAreDropped) {
  Watcher w1, w2, w3;
  PhysObject* source = new PhysObject();
  ASSERT_NE(source, nullptr);
  EXPECT_GT(source->allocSize, 0u);
  PhysObject_AddDependent(source, &w1, 7, 0);
  PhysObject_AddDependent(source, &w2, 0x1234567, 1);  // id keeps 24 bits
  PhysObject_AddDependent(source, &w3, 9, 0);
  w1.dropOther = &w3;  // w1's notice drops w3's link before w3's turn
  PhysObject_Destroy(source);
  ASSERT_EQ(w1.seen.size(), 1u);
  EXPECT_EQ(w1.seen[0].mode, PHYS_NOTIFY_DESTROYED);
  EXPECT_EQ(w1.seen[0].id, 7u);
  ASSERT_EQ(w2.seen.size(), 1u);
  EXPECT_EQ(w2.seen[0].id, 0x234567u);
  EXPECT_TRUE(w3.seen.empty());
}

TEST(PhysObject, UnlinkChildrenForgetsThisObjectInEveryChild) {
  PhysObject a, b;
  Holder h;
  h.children[0] = &a;
  h.children[1] = &b;
  for (const auto& [object, slot] : {std::pair{&a, 0}, {&a, 1}, {&b, 0}}) PhysObject_AddDependent(object, &h, slot, 0);
  PhysObject_UnlinkChildren(&h);
  EXPECT_FALSE(PhysObject_HasDependent(&a, &h));
  EXPECT_FALSE(PhysObject_HasDependent(&b, &h));
  // The defaults of the slots.
  PhysObject plain;
  EXPECT_EQ(PhysObject_GetChildCountDefault(&plain), 0);
  EXPECT_EQ(PhysObject_GetChildDefault(&plain, 0), nullptr);
  EXPECT_EQ(plain.Notify(&a, 0, 1), 2);
}
