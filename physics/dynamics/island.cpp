#include "physics/dynamics/island.h"

#include <cmath>

#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/contact_state.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"

namespace {

// Time constant (s) of the speeds a body's rest is judged by.
constexpr float kRestSmoothing = 0.05f;
// The most a body at rest moves in one step, in rest speeds: the spike of
// a load shifting between a contact's points.
constexpr float kTrembleFactor = 8.0f;

bool CanMove(const RigidBody* b) { return b && !(b->stateFlags & RB_STATE_FIXED) && !b->pinned; }

bool Moves(const RigidBody* b) {
  return CanMove(b) && b->subspace && !b->quarantined && (b->stateFlags & RB_STATE_ACTIVE);
}

// A body that may share an island: in the world and able to move.
bool Joinable(const RigidBody* b) { return b && b->subspace && CanMove(b) && !b->quarantined; }

int Find(int* parent, int i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

void Unite(int* parent, int a, int b) {
  a = Find(parent, a);
  b = Find(parent, b);
  if (a == b) return;
  if (a < b) parent[b] = a; else parent[a] = b;
}

// Joins the islands of a and b when both are joinable bodies of this step.
void Join(int* parent, RigidBody* const* bodies, const RigidBody* a, const RigidBody* b) {
  if (!Joinable(a) || !Joinable(b) || a->islandIndex < 0 || b->islandIndex < 0) return;
  if (bodies[a->islandIndex] != a || bodies[b->islandIndex] != b) return;
  Unite(parent, a->islandIndex, b->islandIndex);
}

// The number an island falls asleep with: never 0 (none).
uint32_t NextNumber(IslandScratch* s) {
  if (++s->lastNumber == 0) ++s->lastNumber;
  return s->lastNumber;
}

}  // namespace

int Island_Sleep(IslandScratch* scratch, RigidBody* const* bodies, int n, const SolverManifold* manifolds,
                 int manifoldCount, Constraint* const* constraints, int constraintCount, const FreezeManager& f,
                 float h) {
  if (!scratch->parent.Resize(n) || !scratch->rest.Resize(n) || !scratch->numbers.Resize(n)) return 0;
  int* parent = scratch->parent.Data();
  float* rest = scratch->rest.Data();
  uint32_t* numbers = scratch->numbers.Data();
  for (int i = 0; i < n; ++i) {
    parent[i] = i;
    rest[i] = 1.0f;
    numbers[i] = 0;
    if (bodies[i]) bodies[i]->islandIndex = i;
  }
  for (int i = 0; i < n; ++i) {
    RigidBody* b = bodies[i];
    if (!Moves(b)) continue;
    float v2 = Vec3_LengthSq(b->linearVelocity), w2 = Vec3_LengthSq(b->angularVelocity);
    // The speeds smoothed over the last steps: a pile at rest trembles by
    // a spike of one step now and then (a load moving between the points of
    // a contact), which must not hold the whole island awake.
    // A step's speed counts at most as twice the smoothed speed or twice
    // the rest speed, whichever is more: the spike of one step then weighs
    // as a tremble, while a body that really moves climbs to its speed in a
    // few steps (past the rest speed within about 0.05 s: the third step at
    // 60 Hz).
    float a = h / (kRestSmoothing + h);
    float v = std::fmin(std::sqrt(v2), 2.0f * std::fmax(b->smoothLinear, f.restLinear));
    float w = std::fmin(std::sqrt(w2), 2.0f * std::fmax(b->smoothAngular, f.restAngular));
    b->smoothLinear += a * (v - b->smoothLinear);
    b->smoothAngular += a * (w - b->smoothAngular);
    v2 = b->smoothLinear * b->smoothLinear;
    w2 = b->smoothAngular * b->smoothAngular;
    if (v2 < f.restLinear * f.restLinear && w2 < f.restAngular * f.restAngular)
      b->sleepTime += h;
    else
      b->sleepTime = 0.0f;
    if (v2 < f.slowLinear * f.slowLinear && w2 < f.slowAngular * f.slowAngular)
      b->slowTime += h;
    else
      b->slowTime = 0.0f;
    if (b->keepActiveCount > 0) b->sleepTime = b->slowTime = 0.0f;
    if (b->sleepTime < f.checkPeriod[0])
      b->stateFlags |= RB_STATE_NOT_SETTLED;
    else
      b->stateFlags &= ~uint32_t(RB_STATE_NOT_SETTLED);
  }
  for (int i = 0; i < manifoldCount; ++i) {
    const SolverManifold& m = manifolds[i];
    if (!m.dead && !m.pa->phantom && !m.pb->phantom) Join(parent, bodies, m.a, m.b);
  }
  for (int i = 0; i < constraintCount; ++i) Join(parent, bodies, constraints[i]->bodyA, constraints[i]->bodyB);
  // An island may sleep when each of its moving bodies is ready.
  for (int i = 0; i < n; ++i) {
    RigidBody* b = bodies[i];
    if (!Moves(b)) continue;
    bool ready = b->sleepTime >= f.checkPeriod[0] || b->slowTime >= f.checkPeriod[1];
    // The capped smoothing above takes a few steps to see a body set going
    // (an impulse, a velocity set from outside): no island sleeps while one
    // of its bodies moves this step at more than a tremble's speed, or the
    // push would be lost with the velocities sleep clears.
    float fast = kTrembleFactor * kTrembleFactor;
    if (Vec3_LengthSq(b->linearVelocity) > fast * f.restLinear * f.restLinear ||
        Vec3_LengthSq(b->angularVelocity) > fast * f.restAngular * f.restAngular)
      ready = false;
    if (!ready) rest[Find(parent, i)] = 0.0f;
  }
  int islands = 0;
  for (int i = 0; i < n; ++i) {
    RigidBody* b = bodies[i];
    if (!Moves(b)) continue;
    int root = Find(parent, i);
    if (root == i) ++islands;
    if (rest[root] > 0.0f) {
      if (numbers[root] == 0) numbers[root] = NextNumber(scratch);
      b->sleepIsland = numbers[root];
      b->SetActive(0, 0);
    }
  }
  // Sleepers the island touched join it, and so do the islands they sleep with.
  scratch->merged.Clear();
  for (int i = 0; i < n; ++i) {
    RigidBody* b = bodies[i];
    if (!Joinable(b) || Moves(b)) continue;
    uint32_t number = numbers[Find(parent, i)];
    if (number == 0 || b->sleepIsland == number) continue;
    if (b->sleepIsland != 0) {
      scratch->merged.Push(b->sleepIsland);
      scratch->merged.Push(number);
    }
    b->sleepIsland = number;
  }
  for (int k = 0; k < scratch->merged.Count(); k += 2)
    for (int i = 0; i < n; ++i)
      if (bodies[i] && bodies[i]->sleepIsland == scratch->merged[k]) bodies[i]->sleepIsland = scratch->merged[k + 1];
  for (int i = 0; i < n; ++i)
    if (bodies[i]) bodies[i]->islandIndex = -1;
  return islands;
}

int Island_WakeWoken(IslandScratch* scratch, RigidBody* const* bodies, int n) {
  PhysArray<uint32_t, PHYS_MEM_SOLVER>& waking = scratch->waking;
  waking.Clear();
  for (int i = 0; i < n; ++i) {
    const RigidBody* b = bodies[i];
    if (b && b->sleepIsland != 0 && (b->stateFlags & RB_STATE_ACTIVE) && waking.Find(b->sleepIsland) < 0)
      waking.Push(b->sleepIsland);
  }
  if (waking.Empty()) return 0;
  int woken = 0;
  for (int i = 0; i < n; ++i) {
    RigidBody* b = bodies[i];
    if (!b || b->sleepIsland == 0 || waking.Find(b->sleepIsland) < 0) continue;
    b->sleepIsland = 0;
    if (Joinable(b) && !(b->stateFlags & RB_STATE_ACTIVE)) {
      b->SetActive(1, 0);
      ++woken;
    }
  }
  return woken;
}
