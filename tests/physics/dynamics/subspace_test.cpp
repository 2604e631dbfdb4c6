#include "physics/dynamics/subspace.h"

#include <gtest/gtest.h>

#include <vector>

#include "physics/dynamics/action.h"
#include "tests/physics/dynamics/dyn_test_scene.h"

namespace {

std::vector<int> g_order;

// Records its turn; optionally pushes a body with a force.
class Probe : public Action {
public:
  explicit Probe(int t) : tag(t) {}
  void Apply(Subspace*, float) override {
    g_order.push_back(tag);
    if (body) RigidBody_AddForce(body, push);
  }
  int tag;
  RigidBody* body = nullptr;
  Vec3 push{0, 0, 0};
};

}  // namespace

TEST(Subspace, ActionsRunByPriorityThenAdditionAndDestroyedOnesAreDropped) {
  DynTestScene s;
  Probe* late = new Probe(3);
  Probe* first = new Probe(1);
  Probe* second = new Probe(2);
  Subspace_AddAction(s.sub, late, 5);
  Subspace_AddAction(s.sub, first, -1);
  Subspace_AddAction(s.sub, second, -1);
  Subspace_AddAction(s.sub, second, -1);  // once only
  g_order.clear();
  s.Frame(0.02f);
  EXPECT_EQ(g_order, (std::vector<int>{1, 2, 3}));
  PhysObject_Destroy(second);
  g_order.clear();
  s.Frame(0.02f);
  EXPECT_EQ(g_order, (std::vector<int>{1, 3}));
  EXPECT_TRUE(Subspace_RemoveAction(s.sub, late));
  EXPECT_FALSE(Subspace_RemoveAction(s.sub, late));
  PhysObject_Destroy(late);
  PhysObject_Destroy(first);
  EXPECT_EQ(s.sub->actions.Count(), 1);  // the constraint manager
}
