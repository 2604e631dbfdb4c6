#include "physics/collision/broad_phase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Box {
  uint32_t id;
  Aabb box;
};

std::vector<Box> RandomBoxes(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> pos(0, 20), size(0.2f, 2.0f);
  std::vector<Box> boxes;
  for (int i = 0; i < n; ++i) {
    Vec3 lo = V3(pos(rng), pos(rng) * 0.3f, pos(rng));
    boxes.push_back({uint32_t(100 + i * 3), {lo, lo + V3(size(rng), size(rng), size(rng))}});
  }
  return boxes;
}

// Distinct fake primitives: the broad phase only stores the pointers.
CollisionPrimitive* Fake(uint32_t id) { return reinterpret_cast<CollisionPrimitive*>(uintptr_t(id) * 16); }

// The overlapping pairs by brute force, as sorted keys (lower id high).
std::vector<uint64_t> Overlaps(const std::vector<Box>& boxes)
{
    std::vector<uint64_t> keys;
    for (size_t i = 0; i < boxes.size(); ++i)
        for (size_t j = i + 1; j < boxes.size(); ++j)
            if (Aabb_Overlaps(boxes[i].box, boxes[j].box)) keys.push_back((uint64_t(boxes[i].id) << 32) | boxes[j].id);
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<uint64_t> Keys(const BroadPhase& bp) {
  std::vector<uint64_t> keys;
  for (const BroadPhasePair& p : bp.pairs) keys.push_back(p.key);
  return keys;
}

}  // namespace

TEST(BroadPhase, FindsExactlyTheOverlappingPairsInIdOrderWhateverTheInsertionOrder) {
  std::vector<Box> boxes = RandomBoxes(300, 3);
  const std::vector<uint64_t> expected = Overlaps(boxes);
  ASSERT_FALSE(expected.empty());

  BroadPhase forward, backward;
  for (const Box& b : boxes) BroadPhase_Add(&forward, Fake(b.id), b.id, b.box);
  for (auto it = boxes.rbegin(); it != boxes.rend(); ++it) BroadPhase_Add(&backward, Fake(it->id), it->id, it->box);
  BroadPhase_FindPairs(&forward);
  BroadPhase_FindPairs(&backward);
  EXPECT_EQ(Keys(forward), expected);
  EXPECT_EQ(Keys(backward), expected);
  for (const BroadPhasePair& p : forward.pairs) EXPECT_EQ(p.a, Fake(uint32_t(p.key >> 32)));

  // Moving boxes between calls keeps the answer exact (incremental resort).
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> jitter(-0.5f, 0.5f);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < int(boxes.size()); ++i) {
      Vec3 d = V3(jitter(rng), jitter(rng), jitter(rng));
      boxes[size_t(i)].box = {boxes[size_t(i)].box.min + d, boxes[size_t(i)].box.max + d};
      BroadPhase_Update(&forward, i, boxes[size_t(i)].box);
    }
    BroadPhase_FindPairs(&forward);
    EXPECT_EQ(Keys(forward), Overlaps(boxes));
  }
  // Nearly all resting (a sleeping pile): each pair with a moving box, once.
  std::vector<uint64_t> moving;
  boxes[16].box = boxes[0].box;  // two moving boxes meet
  for (int i = 0; i < int(boxes.size()); ++i) BroadPhase_Update(&forward, i, boxes[size_t(i)].box, i % 16 != 0);
  for (uint64_t k : Overlaps(boxes))
    if (((k >> 32) - 100) / 3 % 16 == 0 || ((k & 0xffffffffu) - 100) / 3 % 16 == 0) moving.push_back(k);
  ASSERT_FALSE(moving.empty());
  BroadPhase_FindPairs(&forward);
  EXPECT_EQ(Keys(forward), moving);
}
