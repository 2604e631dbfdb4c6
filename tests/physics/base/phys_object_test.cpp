#include "physics/base/phys_object.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(PhysObject, NotifyDependentsKeepsTheObjectAndItsLinks) {
  Watcher w;
  PhysObject source;
  EXPECT_EQ(source.allocSize, 0u);  // not from new
  PhysObject_AddDependent(&source, &w, 1, 0);
  PhysObject_NotifyDependents(&source, 1);
  EXPECT_EQ(w.seen.size(), 1u);
  EXPECT_TRUE(PhysObject_HasDependent(&source, &w));
  EXPECT_EQ(PhysObject_RemoveDependent(&source, &w), 1);
  EXPECT_FALSE(PhysObject_HasDependent(&source, &w));
}

TEST(PhysObject, UnlinkChildrenForgetsThisObjectInEveryChild) {
  PhysObject a, b;
  Holder h;
  h.children[0] = &a;
  h.children[1] = &b;
  PhysObject_AddDependent(&a, &h, 0, 0);
  PhysObject_AddDependent(&a, &h, 1, 0);
  PhysObject_AddDependent(&b, &h, 0, 0);
  PhysObject_UnlinkChildren(&h);
  EXPECT_FALSE(PhysObject_HasDependent(&a, &h));
  EXPECT_FALSE(PhysObject_HasDependent(&b, &h));
  // The defaults of the slots.
  PhysObject plain;
  EXPECT_EQ(PhysObject_GetChildCountDefault(&plain), 0);
  EXPECT_EQ(PhysObject_GetChildDefault(&plain, 0), nullptr);
  EXPECT_EQ(plain.Notify(&a, 0, 1), 2);
}
