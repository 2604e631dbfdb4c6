#include "physics/dynamics/simulation.h"

#include <cmath>

#include "physics/base/phys_timer.h"
#include "physics/base/phys_warning.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"
#include "physics/dynamics/action.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/contact_state.h"
#include "physics/dynamics/dyn_world.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/subspace.h"

namespace {

// Penetration left uncorrected so that resting contacts keep touching.
constexpr float kContactSlop = 0.001f;
// Share of the remaining penetration pushed out per sub-step.
constexpr float kContactCorrection = 0.6f;
// Limits of one DynWorld_Step: sub-steps per call and the length of one.
constexpr int kMaxSubSteps = 64;
constexpr float kMaxSubStepLength = 0.1f;
// Gap below which contact points are always solved (speculatively).
constexpr float kSpeculativeSlack = 0.02f;
// Approach speed below which contacts do not bounce.
constexpr float kBounceThreshold = 0.5f;
// A contact event fires when the gap is at most this, or will close within
// the sub-step at the current approach speed.
constexpr float kTouchSlop = 0.01f;
// Speeds beyond these are clamped (and reported once): they only come from
// broken input and would overflow positions.
constexpr float kMaxLinearSpeed = 1.0e4f;
constexpr float kMaxAngularSpeed = 1.0e3f;

ContactSolverState* State(Simulation* sim) { return sim->contacts; }

bool InWorld(const RigidBody* b) { return b && b->subspace && !b->quarantined; }

bool Moves(const RigidBody* b) {
  return InWorld(b) && !(b->stateFlags & RB_STATE_FIXED) && !b->pinned &&
         (b->stateFlags & RB_STATE_ACTIVE);
}

bool CanMove(const RigidBody* b) {
  return b && !(b->stateFlags & RB_STATE_FIXED) && !b->pinned;
}

RigidBody* BodyOf(const CollisionPrimitive* p) {
  return p && p->body ? static_cast<RigidBody*>(p->body->user) : nullptr;
}

uint64_t PairKey(const CollisionPrimitive* a, const CollisionPrimitive* b) {
  uint32_t x = a->id, y = b->id;
  if (x > y) { uint32_t t = x; x = y; y = t; }
  return (uint64_t(x) << 32) | y;
}

bool MovingFast(const RigidBody* b, const FreezeManager& f) {
  return Vec3_LengthSq(b->linearVelocity) > f.restLinear * f.restLinear ||
         Vec3_LengthSq(b->angularVelocity) > f.restAngular * f.restAngular;
}

void Wake(RigidBody* b) {
  if (b && CanMove(b) && b->subspace && !(b->stateFlags & RB_STATE_ACTIVE)) b->SetActive(1, 0);
}

// Quarantine and wake requests, at the start of a sub-step.
void PrepareBodies(Simulation* sim, float h) {
  ContactSolverState* st = State(sim);
  for (RigidBody* b : st->stepBodies) {
    if (!b) continue;
    bool poseOk = Vec3_IsFinite(b->pose.position) && Quat_IsFinite(b->pose.rotation);
    if (!poseOk) {
      if (!b->quarantined)
        PHYS_WARNING("Simulation", "body with a non-finite placement kept out of the step");
      b->quarantined = true;
      b->collisionFlags |= COLLISION_BODY_QUARANTINED;
      continue;
    }
    if (b->quarantined) {
      b->quarantined = false;
      b->collisionFlags &= ~uint32_t(COLLISION_BODY_QUARANTINED);
    }
    if (!Vec3_IsFinite(b->linearVelocity) || !Vec3_IsFinite(b->angularVelocity) ||
        !Vec3_IsFinite(b->force) || !Vec3_IsFinite(b->torque)) {
      PHYS_WARNING("Simulation", "non-finite velocity or force reset to zero");
      b->linearVelocity = b->angularVelocity = b->force = b->torque = V3(0, 0, 0);
    }
    float v2 = Vec3_LengthSq(b->linearVelocity);
    if (v2 > kMaxLinearSpeed * kMaxLinearSpeed)
      b->linearVelocity *= kMaxLinearSpeed / std::sqrt(v2);
    float w2 = Vec3_LengthSq(b->angularVelocity);
    if (w2 > kMaxAngularSpeed * kMaxAngularSpeed)
      b->angularVelocity *= kMaxAngularSpeed / std::sqrt(w2);
    if (CanMove(b) && !(b->stateFlags & RB_STATE_ACTIVE)) {
      bool written = Vec3_LengthSq(b->linearVelocity) > 0.0f ||
                     Vec3_LengthSq(b->angularVelocity) > 0.0f;
      if (written || b->wakeRequested) b->SetActive(1, 0);
    }
    b->wakeRequested = false;
    if (Moves(b)) RigidBody_UpdateWorldInertia(b);
  }
  (void)h;
}

void RunActions(Simulation* sim, float h) {
  for (int s = 0; s < sim->subspaces.Count(); ++s) {
    Subspace* sub = sim->subspaces[s];
    // Actions may add or remove actions: walk a snapshot and skip what left.
    PhysArray<Action*, PHYS_MEM_SOLVER>& snapshot = State(sim)->actions;
    snapshot.Clear();
    for (const Subspace::ActionEntry& e : sub->actions) snapshot.Push(e.action);
    for (Action* a : snapshot) {
      bool present = false;
      for (const Subspace::ActionEntry& e : sub->actions)
        if (e.action == a) { present = true; break; }
      if (present && !a->IsConstraintManager()) a->Apply(sub, h);
    }
  }
}

void IntegrateVelocities(Simulation* sim, float h) {
  for (RigidBody* b : State(sim)->stepBodies) {
    if (!b) continue;
    if (Moves(b)) {
      b->linearVelocity += (sim->gravity + b->force * b->invMass) * h;
      b->angularVelocity += Mat3_Mul(b->invInertiaWorld, b->torque) * h;
    }
    b->force = b->torque = V3(0, 0, 0);
  }
}

const SolverManifold* FindPrevious(const ContactSolverState* st, uint64_t key) {
  int lo = 0, hi = st->previous.Count() - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    uint64_t k = st->previous[mid].key;
    if (k == key) return &st->previous[mid];
    if (k < key) lo = mid + 1; else hi = mid - 1;
  }
  return nullptr;
}

void Collide(Simulation* sim) {
  ContactSolverState* st = State(sim);
  st->manifolds.Clear();
  st->overlapsNext.Clear();
  CollisionDetection* cd = sim->detection;
  if (!cd) return;
  const CollisionPair* pairs = nullptr;
  int n = CollisionDetection_FindPairs(cd, &pairs);
  sim->stats.pairs += n;
  for (int i = 0; i < n; ++i) {
    const CollisionPair& p = pairs[i];
    RigidBody* a = BodyOf(p.a);
    RigidBody* b = BodyOf(p.b);
    if (!InWorld(a) || !InWorld(b)) continue;
    // The narrow phase writes straight into the next slot, kept only when
    // it found contacts.
    SolverManifold* slot = st->manifolds.NextSlot();
    if (!slot) break;
    SolverManifold& m = *slot;
    if (!NarrowPhase_Collide(p.a, p.b, cd->tolerance, &m.m)) continue;
    m.key = PairKey(p.a, p.b);
    if (p.phantom) {
      // Overlap events need real penetration, not the contact margin.
      bool overlap = false;
      for (int k = 0; k < m.m.count; ++k) overlap |= m.m.points[k].depth > 0.0f;
      if (overlap) st->overlapsNext.Push(PhantomOverlap{m.key, p.a, p.b, a, b});
      continue;
    }
    m.dead = false;
    m.normalCount = 0;
    m.pa = p.a;
    m.pb = p.b;
    m.a = a;
    m.b = b;
    m.friction = std::sqrt(std::fmax(a->friction, 0.0f) * std::fmax(b->friction, 0.0f));
    m.restitution = std::fmax(a->restitution, b->restitution);
    m.rowStart = -1;
    st->manifolds.CommitSlot();
  }
}

float ApproachSpeed(const SolverManifold& m, const ContactPoint& c) {
  Vec3 va, vb;
  RigidBody_GetPointVelocity(m.a, &va, c.position);
  RigidBody_GetPointVelocity(m.b, &vb, c.position);
  return -Vec3_Dot(va - vb, c.normal);  // > 0 when closing
}

// The same with the centres of mass already at hand.
float ApproachSpeedAt(const SolverManifold& m, Vec3 comA, Vec3 comB, const ContactPoint& c) {
  Vec3 va = m.a->linearVelocity + Vec3_Cross(m.a->angularVelocity, c.position - comA);
  Vec3 vb = m.b->linearVelocity + Vec3_Cross(m.b->angularVelocity, c.position - comB);
  return -Vec3_Dot(va - vb, c.normal);
}

void DispatchContactEvents(Simulation* sim, float h) {
  ContactSolverState* st = State(sim);
  CollisionListener* listener = sim->collisionListener;
  if (!listener || listener->registered.Empty() || !listener->dispatcher) return;
  // Callbacks may remove bodies (their manifolds are marked dead) or destroy
  // them; the array itself is not resized while this walk runs.
  for (int i = 0; i < st->manifolds.Count(); ++i) {
    SolverManifold& m = st->manifolds[i];
    if (m.dead || !InWorld(m.a) || !InWorld(m.b)) continue;
    if (m.pa->phantom || m.pb->phantom) continue;
    const CollisionListener::Registration* ra = CollisionListener_Find(listener, m.pa);
    const CollisionListener::Registration* rb = CollisionListener_Find(listener, m.pb);
    if (!ra && !rb) continue;
    int deepest = 0;
    for (int k = 1; k < m.m.count; ++k)
      if (m.m.points[k].depth > m.m.points[deepest].depth) deepest = k;
    const ContactPoint& c = m.m.points[deepest];
    float approach = ApproachSpeed(m, c);
    float gap = -c.depth;
    if (gap > kTouchSlop && gap > approach * h) continue;
    float threshold = ra ? ra->threshold : rb->threshold;
    if (ra && rb) threshold = std::fmin(ra->threshold, rb->threshold);
    if (threshold > 0.0f && approach < threshold) continue;
    PhysPairEvent e{};
    e.kind = PHYS_EVENT_CONTACT;
    e.primitiveA = m.pa;
    e.primitiveB = m.pb;
    e.point = c.position;
    e.normal = c.normal;
    e.distance = -c.depth;
    ++sim->stats.contactEvents;
    EventDispatcher_Dispatch(listener->dispatcher, &e);
  }
}

void SendPhantom(Simulation* sim, CollisionPrimitive* a, CollisionPrimitive* b, int flag) {
  PhysPairEvent e{};
  e.kind = PHYS_EVENT_PHANTOM;
  e.primitiveA = a;
  e.primitiveB = b;
  e.flag = flag;
  ++sim->stats.phantomEvents;
  if (sim->phantomListener) EventDispatcher_Dispatch(sim->phantomListener, &e);
}

// Whether collision detection skipped the pair because neither side can
// move (asleep or fixed): sleeping keeps an overlap as it was.
bool BothResting(const PhantomOverlap& o) {
  auto resting = [](const RigidBody* b) {
    return (b->collisionFlags & (COLLISION_BODY_FIXED | COLLISION_BODY_ASLEEP)) != 0;
  };
  return resting(o.a) && resting(o.b);
}

void DispatchPhantomEvents(Simulation* sim) {
  ContactSolverState* st = State(sim);
  CollisionDetection* cd = sim->detection;
  // Overlaps that went on unseen because both bodies rest are kept.
  PhysArray<PhantomOverlap, PHYS_MEM_CONTACT>& next = st->overlapsNext;
  for (const PhantomOverlap& o : st->overlaps) {
    bool found = false;
    for (const PhantomOverlap& n : next)
      if (n.key == o.key) { found = true; break; }
    if (found || !InWorld(o.a) || !InWorld(o.b) || !BothResting(o)) continue;
    if (!(o.pa->phantom || o.pb->phantom)) continue;
    if (cd && !CollisionDetection_ShouldCollide(cd, o.pa, o.pb)) continue;
    int at = next.Count();
    next.Push(o);
    while (at > 0 && next[at - 1].key > o.key) {
      PhantomOverlap t = next[at - 1];
      next[at - 1] = next[at];
      next[at] = t;
      --at;
    }
  }
  // Queue begin and end events against the overlaps in progress, after the
  // ends queued by bodies that left. Everything goes through the queue so that
  // a body destroyed by a callback is purged from the events still to come.
  auto queue = [st](const PhantomOverlap& o, int flag) {
    PhysPairEvent e{};
    e.kind = PHYS_EVENT_PHANTOM;
    e.primitiveA = o.pa;
    e.primitiveB = o.pb;
    e.flag = flag;
    st->pending.Push(e);
  };
  int i = 0, j = 0;
  while (i < st->overlaps.Count() || j < next.Count()) {
    if (j >= next.Count() || (i < st->overlaps.Count() && st->overlaps[i].key < next[j].key)) {
      queue(st->overlaps[i++], 1);
    } else if (i >= st->overlaps.Count() || next[j].key < st->overlaps[i].key) {
      queue(next[j++], 0);
    } else {
      ++i;
      ++j;
    }
  }
  // The new state is in place before any callback runs: a callback that
  // removes a body then finds its overlaps and ends them exactly once.
  st->overlaps.Clear();
  for (const PhantomOverlap& o : next) st->overlaps.Push(o);
  while (!st->pending.Empty()) {
    PhysPairEvent e = st->pending[0];
    st->pending.RemoveAt(0);
    SendPhantom(sim, e.primitiveA, e.primitiveB, e.flag);
  }
}

void WakeTouchedSleepers(Simulation* sim) {
  ContactSolverState* st = State(sim);
  for (SolverManifold& m : st->manifolds) {
    if (m.dead || !InWorld(m.a) || !InWorld(m.b)) continue;
    if (Moves(m.a) && !Moves(m.b) && CanMove(m.b) && MovingFast(m.a, sim->freeze)) Wake(m.b);
    if (Moves(m.b) && !Moves(m.a) && CanMove(m.a) && MovingFast(m.b, sim->freeze)) Wake(m.a);
  }
}

// What the rows of one manifold share.
struct ContactBodies {
  int a, b;               // solver bodies
  float invMassA, invMassB;
  Mat3 invIA, invIB;      // world inverse inertia (zero when immovable)
};

// SolverRow_Setup for a contact direction d at arms rA, rB.
void SetupContactRow(SolverRow* row, const ContactBodies& cb, Vec3 d, Vec3 rA, Vec3 rB) {
  *row = SolverRow{};
  row->a = cb.a < 0 ? 0 : cb.a;
  row->b = cb.b < 0 ? 0 : cb.b;
  row->linA = d;
  row->angA = Vec3_Cross(rA, d);
  row->linB = -d;
  row->angB = -Vec3_Cross(rB, d);
  row->invMassA = cb.invMassA;
  row->invMassB = cb.invMassB;
  row->wA = Mat3_Mul(cb.invIA, row->angA);
  row->wB = Mat3_Mul(cb.invIB, row->angB);
  float k = cb.invMassA + cb.invMassB + Vec3_Dot(row->angA, row->wA) + Vec3_Dot(row->angB, row->wB);
  row->effMass = (k > 1e-12f && std::isfinite(k) && cb.a >= 0 && cb.b >= 0) ? 1.0f / k : 0.0f;
  if (cb.a < 0 || cb.b < 0) row->invMassA = row->invMassB = 0.0f;
  row->lo = -1e30f;
  row->hi = 1e30f;
  row->relax = 1.0f;
}

void BuildContactRows(Simulation* sim, float h, float hRatio) {
  ContactSolverState* st = State(sim);
  st->rows.Clear();
  for (SolverManifold& m : st->manifolds) {
    m.rowStart = -1;
    m.normalCount = 0;
    if (m.dead || !InWorld(m.a) || !InWorld(m.b)) continue;
    if (m.pa->phantom || m.pb->phantom) continue;
    if (Solver_InvMass(m.a) == 0.0f && Solver_InvMass(m.b) == 0.0f) continue;
    const SolverManifold* prev = FindPrevious(st, m.key);
    if (!st->rows.Reserve(st->rows.Count() + m.m.count + 3)) continue;
    m.rowStart = st->rows.Count();
    Vec3 comA = RigidBody_GetCentreOfMassWorld(m.a), comB = RigidBody_GetCentreOfMassWorld(m.b);
    // The bodies' solver data once per manifold, not once per row.
    ContactBodies cb{SolverBodies_IndexOf(m.a), SolverBodies_IndexOf(m.b), Solver_InvMass(m.a),
                     Solver_InvMass(m.b), Solver_InvInertia(m.a), Solver_InvInertia(m.b)};
    int8_t used = 0;
    Vec3 centre{0, 0, 0}, normalSum{0, 0, 0};
    Vec3 points[4];
    for (int k = 0; k < m.m.count; ++k) {
      const ContactPoint& c = m.m.points[k];
      // A gap that cannot close within this sub-step, even at twice the
      // current approach speed, needs no row: it is collided again next time.
      m.pointRows[k] = -1;
      float approach = ApproachSpeedAt(m, comA, comB, c);
      if (-c.depth > kSpeculativeSlack + 2.0f * std::fmax(approach, 0.0f) * h) continue;
      Vec3 n = c.normal;
      Vec3 pA = c.position - n * c.depth * 0.5f;
      // Built in place (capacity was reserved above): rows are large.
      SolverRow& normal = *st->rows.NextSlot();
      SetupContactRow(&normal, cb, n, pA - comA, pA - comB);
      normal.lo = 0.0f;
      // Penetration is pushed out by the position pass (split impulse);
      // the velocity rows only keep the bodies from approaching, or let a
      // gap close within this sub-step (speculative contact).
      float bias = c.depth > 0.0f ? 0.0f : c.depth / h;
      normal.pushBias = kContactCorrection * std::fmax(c.depth - kContactSlop, 0.0f) / h;
      if (approach > kBounceThreshold && m.restitution > 0.0f && -c.depth <= approach * h)
        bias = std::fmax(bias, m.restitution * approach);
      normal.bias = bias;
      // Warm start from the point of the same features last sub-step, or
      // the nearest old point close by (mesh and clipped features may be
      // renumbered between sub-steps).
      if (prev) {
        int match = -1;
        float bestD = 0.02f * 0.02f;
        for (int q = 0; q < prev->m.count; ++q)
          if (prev->m.points[q].feature == c.feature) { match = q; break; }
        if (match < 0)
          for (int q = 0; q < prev->m.count; ++q) {
            float d2 = Vec3_LengthSq(prev->m.points[q].position - c.position);
            if (d2 < bestD) { bestD = d2; match = q; }
          }
        if (match >= 0) normal.impulse = prev->impulses[match] * hRatio;
      }
      st->rows.CommitSlot();
      points[used] = pA;
      m.pointRows[k] = used++;
      centre += pA;
      normalSum += n;
    }
    if (used == 0) {
      m.rowStart = -1;
      continue;
    }
    // Friction acts on the manifold as a whole, at the centre of its points:
    // two tangent rows and a twist row about the normal, bounded by the sum
    // of the normal impulses. Per-point friction rows fight each other in
    // the Gauss-Seidel order and tilt resting stacks.
    centre = centre * (1.0f / float(used));
    Vec3 n = Vec3_Unit(normalSum);
    if (Vec3_LengthSq(n) == 0.0f) n = m.m.points[0].normal;
    float radius = 0.0f;
    for (int k = 0; k < used; ++k) radius += Vec3_Norm(points[k] - centre);
    radius /= float(used);
    Vec3 t1, t2;
    Vec3_PlaneSpace(n, &t1, &t2);
    // In place after the normal rows (within the reserved capacity).
    SolverRow* f = st->rows.Data() + st->rows.Count();
    SetupContactRow(&f[0], cb, t1, centre - comA, centre - comB);
    SetupContactRow(&f[1], cb, t2, centre - comA, centre - comB);
    // The twist row is angular only: no contact arms to set up.
    f[2] = SolverRow{};
    f[2].a = cb.a < 0 ? 0 : cb.a;
    f[2].b = cb.b < 0 ? 0 : cb.b;
    f[2].lo = -1e30f;
    f[2].hi = 1e30f;
    f[2].relax = 1.0f;
    f[2].angA = n;
    f[2].angB = -n;
    f[2].wA = Mat3_Mul(cb.invIA, n);
    f[2].wB = Mat3_Mul(cb.invIB, -n);
    float k2 = Vec3_Dot(n, f[2].wA) - Vec3_Dot(n, f[2].wB);
    f[2].effMass = (k2 > 1e-12f && cb.a >= 0 && cb.b >= 0) ? 1.0f / k2 : 0.0f;
    f[2].invMassA = cb.invMassA;
    f[2].invMassB = cb.invMassB;
    bool warm = prev && prev->normalCount > 0 && Vec3_Dot(prev->frictionNormal, n) > 0.99f;
    for (int q = 0; q < 3; ++q) {
      f[q].friction = q == 2 ? m.friction * radius : m.friction;
      if (warm) f[q].impulse = prev->frictionImpulses[q] * hRatio;
      st->rows.CommitSlot();
    }
    m.normalCount = used;
    m.frictionNormal = n;
  }
}

void GatherConstraints(Simulation* sim, float h, float hRatio) {
  ContactSolverState* st = State(sim);
  st->stepConstraints.Clear();
  for (Subspace* sub : sim->subspaces) {
    for (const Subspace::ActionEntry& e : sub->actions) {
      if (!e.action->IsConstraintManager()) continue;
      ConstraintManager* mgr = static_cast<ConstraintManager*>(e.action);
      for (Constraint* c : mgr->constraints) {
        if (!c->bodyA || !c->bodyB) continue;
        // A joint to a sleeping body wakes it when the other side moves.
        if (Moves(c->bodyA) && MovingFast(c->bodyA, sim->freeze)) Wake(c->bodyB);
        if (Moves(c->bodyB) && MovingFast(c->bodyB, sim->freeze)) Wake(c->bodyA);
        if (!c->IsSolvable()) continue;
        c->BuildRows(h, hRatio);
        st->stepConstraints.Push(c);
      }
    }
  }
}

void Solve(Simulation* sim) {
  ContactSolverState* st = State(sim);
  SolverBody* bodies = st->solverBodies.bodies.Data();
  for (Constraint* c : st->stepConstraints)
    for (int i = 0; i < c->rowCount; ++i)
      if (c->rows[i].impulse != 0.0f) SolverRow_ApplyImpulse(&c->rows[i], bodies, c->rows[i].impulse);
  for (SolverRow& r : st->rows)
    if (r.impulse != 0.0f) SolverRow_ApplyImpulse(&r, bodies, r.impulse);
  SolverRow* rows = st->rows.Data();
  for (int it = 0; it < sim->solverIterations; ++it) {
    for (Constraint* c : st->stepConstraints)
      for (int i = 0; i < c->rowCount; ++i) SolverRow_Solve(&c->rows[i], bodies);
    // Friction first, then the normals: non-penetration has the last word.
    for (const SolverManifold& m : st->manifolds) {
      if (m.rowStart < 0) continue;
      SolverRow* r = rows + m.rowStart;
      int u = m.normalCount;
      float sum = 0.0f;
      for (int i = 0; i < u; ++i) sum += r[i].impulse;
      // (A single point has no twist: its twist row has friction 0 and is skipped.)
      for (int q = u; q < u + 3; ++q)
        if (r[q].friction > 0.0f) SolverRow_SolveBounded(&r[q], bodies, -r[q].friction * sum, r[q].friction * sum);
      // Odd iterations take the points in reverse: the point solved last
      // is served best, and always favouring the same corner tilts stacks.
      if (it & 1)
        for (int i = u - 1; i >= 0; --i) SolverRow_SolveBounded(&r[i], bodies, 0.0f, 1e30f);
      else
        for (int i = 0; i < u; ++i) SolverRow_SolveBounded(&r[i], bodies, 0.0f, 1e30f);
    }
  }
  // The position pass sees only the rows that have penetration to remove.
  st->pushRows.Clear();
  for (const SolverManifold& m : st->manifolds)
    for (int i = 0; i < m.normalCount && m.rowStart >= 0; ++i)
      if (rows[m.rowStart + i].pushBias > 0.0f) st->pushRows.Push(m.rowStart + i);
  for (int it = 0; it < sim->solverIterations; ++it)
    for (int i : st->pushRows) SolverRow_SolvePush(&rows[i], bodies);
  SolverBodies_WriteBack(&st->solverBodies);
  SolverBodies_End(&st->solverBodies);
  for (Constraint* c : st->stepConstraints) {
    for (int i = 0; i < c->rowCount; ++i) c->warm[i] = c->rows[i].impulse;
    c->warmValid = true;
  }
  for (SolverManifold& m : st->manifolds) {
    for (int k = 0; k < 4; ++k) m.impulses[k] = 0.0f;
    m.frictionImpulses[0] = m.frictionImpulses[1] = m.frictionImpulses[2] = 0.0f;
    if (m.rowStart < 0) continue;
    for (int k = 0; k < m.m.count; ++k)
      if (m.pointRows[k] >= 0) m.impulses[k] = rows[m.rowStart + m.pointRows[k]].impulse;
    for (int q = 0; q < 3; ++q) m.frictionImpulses[q] = rows[m.rowStart + m.normalCount + q].impulse;
  }
}

// Radius of the largest sphere about the hull's centroid that fits inside it.
float InnerRadius(const ConvexHull* hull) {
  float r = 1e30f;
  for (const HullFace& f : hull->faces) r = std::fmin(r, f.offset - Vec3_Dot(f.normal, hull->centroid));
  return r > 0.0f && r < 1e30f ? r : 0.0f;
}

// Earliest impact, against the meshes the primitive may collide with, of a
// sphere of radius r whose centre moves from c0 to c1 (world). Fraction in
// [0, 1] and the surface normal (pointing at the sphere), or 0 when clear.
int SweepAgainstMeshes(Simulation* sim, const CollisionPrimitive* prim, Vec3 c0, Vec3 c1, float r,
                       float* fraction, Vec3* normal) {
  ContactSolverState* st = State(sim);
  CollisionDetection* cd = sim->detection;
  if (!st->meshesGathered) {
    // Once per sub-step, and only when something moves fast.
    st->meshes.Clear();
    for (CollisionBody* other : cd->bodies) {
      if (other->collisionFlags & COLLISION_BODY_QUARANTINED) continue;
      for (const CollisionPrimitive* p : other->primitives)
        if (p->kind == PRIMITIVE_KIND_MESH && !p->phantom) st->meshes.Push(p);
    }
    st->meshesGathered = true;
  }
  Aabb path = Aabb_Inflate({Vec3_Min(c0, c1), Vec3_Max(c0, c1)}, r);
  int found = 0;
  for (const CollisionPrimitive* p : st->meshes) {
    if (p->body == prim->body || !Aabb_Overlaps(path, p->bounds)) continue;
    if (!CollisionDetection_ShouldCollide(cd, prim, p)) continue;
    float f;
    Vec3 n;
    const MeshContainer* mesh = static_cast<const MeshPrimitive*>(p)->Mesh();
    if (MeshContainer_SweepSphere(mesh, Frame3_ApplyInv(p->world, c0), Frame3_ApplyInv(p->world, c1), r, &f, &n) &&
        f < *fraction) {
      *fraction = f;
      *normal = Mat3_Mul(p->world.rot, n);
      found = 1;
    }
  }
  return found;
}

// Earliest impact of the body's primitives along its motion this sub-step,
// against meshes: the body is set back to the impact and its velocity into
// the surface removed (backstepping), so thin walls hold. A sphere sweeps
// itself; a hull sweeps the largest sphere inside it, which is enough to keep
// its centre on the near side, where the contacts push it out.
void SweepFast(Simulation* sim, RigidBody* b, const Transform& from, Transform* to) {
  CollisionDetection* cd = sim->detection;
  if (!cd) return;
  float best = 2.0f;
  Vec3 bestNormal{0, 0, 0};
  for (CollisionPrimitive* p : b->primitives) {
    if (p->phantom) continue;
    float r;
    Vec3 centre = p->local.position;
    if (p->kind == PRIMITIVE_KIND_SPHERE) {
      r = p->radius;
    } else if (p->kind == PRIMITIVE_KIND_CONVEX) {
      const ConvexHull* hull = static_cast<const ConvexPrimitive*>(p)->Hull();
      r = InnerRadius(hull);
      centre = Transform_Apply(p->local, hull->centroid);
    } else {
      continue;
    }
    Vec3 c0 = Transform_Apply(from, centre);
    Vec3 c1 = Transform_Apply(*to, centre);
    if (!(r > 0.0f) || Vec3_LengthSq(c1 - c0) <= (0.25f * r) * (0.25f * r)) continue;
    SweepAgainstMeshes(sim, p, c0, c1, r, &best, &bestNormal);
  }
  if (best > 1.0f) return;
  to->position = from.position + (to->position - from.position) * best;
  float vn = Vec3_Dot(b->linearVelocity, bestNormal);
  if (vn < 0.0f) b->linearVelocity -= bestNormal * vn;
}

void IntegratePositions(Simulation* sim, float h) {
  State(sim)->meshesGathered = false;
  for (RigidBody* b : State(sim)->stepBodies) {
    if (!b || !Moves(b)) continue;
    Transform from = b->pose;
    Vec3 com = Transform_Apply(from, b->comOffset) + (b->linearVelocity + b->pushLinear) * h;
    Quat q = Quat_Integrate(from.rotation, b->angularVelocity + b->pushAngular, h);
    b->pushLinear = b->pushAngular = V3(0, 0, 0);
    Transform to{q, com - Quat_Rotate(q, b->comOffset)};
    SweepFast(sim, b, from, &to);
    b->pose = to;
    CollisionBody_Place(b, to);
  }
}

int Find(PhysArray<int, PHYS_MEM_SOLVER>& parent, int i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

void Unite(PhysArray<int, PHYS_MEM_SOLVER>& parent, int a, int b) {
  a = Find(parent, a);
  b = Find(parent, b);
  if (a == b) return;
  // The lower index becomes the root: islands do not depend on pair order.
  if (a < b) parent[b] = a; else parent[a] = b;
}

void Deactivate(Simulation* sim, float h) {
  ContactSolverState* st = State(sim);
  const FreezeManager& f = sim->freeze;
  int n = st->stepBodies.Count();
  st->islandParent.Resize(n);
  st->islandRest.Resize(n);
  for (int i = 0; i < n; ++i) {
    st->islandParent[i] = i;
    RigidBody* b = st->stepBodies[i];
    if (b) b->islandIndex = i;
  }
  for (int i = 0; i < n; ++i) {
    RigidBody* b = st->stepBodies[i];
    if (!b || !Moves(b)) continue;
    float v2 = Vec3_LengthSq(b->linearVelocity), w2 = Vec3_LengthSq(b->angularVelocity);
    if (v2 < f.restLinear * f.restLinear && w2 < f.restAngular * f.restAngular)
      b->sleepTime += h;
    else
      b->sleepTime = 0.0f;
    if (v2 < f.slowLinear * f.slowLinear && w2 < f.slowAngular * f.slowAngular)
      b->slowTime += h;
    else
      b->slowTime = 0.0f;
    if (b->keepActiveCount > 0) b->sleepTime = b->slowTime = 0.0f;
    if (b->sleepTime < f.checkPeriod[0]) b->stateFlags |= RB_STATE_NOT_SETTLED;
    else b->stateFlags &= ~uint32_t(RB_STATE_NOT_SETTLED);
  }
  auto joinable = [](const RigidBody* b) { return b && b->subspace && CanMove(b) && !b->quarantined; };
  for (const SolverManifold& m : st->manifolds) {
    if (m.dead || m.pa->phantom || m.pb->phantom) continue;
    if (joinable(m.a) && joinable(m.b) && m.a->islandIndex >= 0 && m.b->islandIndex >= 0 &&
        st->stepBodies[m.a->islandIndex] == m.a && st->stepBodies[m.b->islandIndex] == m.b)
      Unite(st->islandParent, m.a->islandIndex, m.b->islandIndex);
  }
  for (const Constraint* c : st->stepConstraints) {
    if (joinable(c->bodyA) && joinable(c->bodyB) && c->bodyA->islandIndex >= 0 &&
        c->bodyB->islandIndex >= 0 && st->stepBodies[c->bodyA->islandIndex] == c->bodyA &&
        st->stepBodies[c->bodyB->islandIndex] == c->bodyB)
      Unite(st->islandParent, c->bodyA->islandIndex, c->bodyB->islandIndex);
  }
  // An island may sleep when each of its moving bodies is ready.
  for (int i = 0; i < n; ++i) st->islandRest[i] = 1.0f;
  for (int i = 0; i < n; ++i) {
    RigidBody* b = st->stepBodies[i];
    if (!b || !Moves(b)) continue;
    bool ready = b->sleepTime >= f.checkPeriod[0] || b->slowTime >= f.checkPeriod[1];
    if (!ready) st->islandRest[Find(st->islandParent, i)] = 0.0f;
  }
  int islands = 0;
  for (int i = 0; i < n; ++i) {
    RigidBody* b = st->stepBodies[i];
    if (!b || !Moves(b)) continue;
    int root = Find(st->islandParent, i);
    if (root == i) ++islands;
    if (st->islandRest[root] > 0.0f) b->SetActive(0, 0);
  }
  sim->stats.islands += islands;
  for (RigidBody* b : st->stepBodies)
    if (b) b->islandIndex = -1;
}

void SnapshotBodies(Simulation* sim) {
  ContactSolverState* st = State(sim);
  st->stepBodies.Clear();
  for (Subspace* sub : sim->subspaces)
    for (RigidBody* b : sub->entities) st->stepBodies.Push(b);
  // Several subspaces: merge into id order (insertion sort, lists are sorted).
  if (sim->subspaces.Count() > 1) {
    for (int i = 1; i < st->stepBodies.Count(); ++i) {
      RigidBody* b = st->stepBodies[i];
      int j = i;
      while (j > 0 && st->stepBodies[j - 1]->id > b->id) {
        st->stepBodies[j] = st->stepBodies[j - 1];
        --j;
      }
      st->stepBodies[j] = b;
    }
  }
}

}  // namespace

Simulation::Simulation() {
  contacts = static_cast<ContactSolverState*>(Physics_Allocate(sizeof(ContactSolverState), PHYS_MEM_CONTACT));
  if (contacts) new (contacts) ContactSolverState();
  dispatcher = EventDispatcher_Construct();
}

Simulation::~Simulation() {
  while (!subspaces.Empty()) {
    Subspace* sub = subspaces.Back();
    subspaces.Pop();
    while (!sub->entities.Empty()) Subspace_DetachEntity(sub, sub->entities.Back());
    if (sub->simulation == this) sub->simulation = nullptr;
    PhysObject_RemoveDependent(sub, this);
  }
  subspaces.Release();
  if (collisionListener) PhysObject_RemoveDependent(collisionListener, this);
  if (detection) PhysObject_RemoveDependent(detection, this);
  if (phantomListener) PhysObject_RemoveDependent(phantomListener, this);
  if (contacts) {
    contacts->~ContactSolverState();
    Physics_FreeSized(contacts, sizeof(ContactSolverState), PHYS_MEM_CONTACT);
  }
  PhysObject_Destroy(dispatcher);
}

int Simulation::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED || !source->destroying) return 2;
  if (source == collisionListener) collisionListener = nullptr;
  if (source == phantomListener) phantomListener = nullptr;
  if (source == detection) detection = nullptr;
  for (int i = 0; i < subspaces.Count(); ++i)
    if (subspaces[i] == source) { subspaces.RemoveAt(i); break; }
  return 1;
}

Simulation* Simulation_Construct(DynWorld* world) {
  Simulation* s = new Simulation();
  if (!s) return nullptr;
  if (!s->contacts || !s->dispatcher) {
    delete s;
    return nullptr;
  }
  s->world = world;
  return s;
}

int Simulation_SetResolver(Simulation* sim, int resolver) {
  if (!sim || resolver != 2) return 0;
  sim->resolver = resolver;
  return 1;
}

void Simulation_SetGravity(Simulation* sim, Vec3 gravity) {
  if (sim && Vec3_IsFinite(gravity)) sim->gravity = gravity;
}

EventDispatcher* Simulation_GetDispatcher(Simulation* sim) { return sim ? sim->dispatcher : nullptr; }

namespace {
template <typename T>
void Relink(Simulation* sim, T*& slot, T* value) {
  if (slot == value) return;
  if (slot) PhysObject_RemoveDependent(slot, sim);
  slot = value;
  if (slot) PhysObject_AddDependent(slot, sim, 0, 0);
}
}  // namespace

void Simulation_SetCollisionListener(Simulation* sim, CollisionListener* listener) {
  if (sim) Relink(sim, sim->collisionListener, listener);
}
void Simulation_SetPhantomListener(Simulation* sim, EventDispatcher* dispatcher) {
  if (sim) Relink(sim, sim->phantomListener, dispatcher);
}
void Simulation_SetCollisionDetection(Simulation* sim, CollisionDetection* detection) {
  if (sim) Relink(sim, sim->detection, detection);
}
CollisionDetection* Simulation_GetCollisionDetection(const Simulation* sim) {
  return sim ? sim->detection : nullptr;
}

int Simulation_AddSubspace(Simulation* sim, Subspace* subspace) {
  if (!sim || !subspace) return 0;
  if (sim->subspaces.Find(subspace) >= 0) return 1;
  if (!sim->subspaces.Push(subspace)) return 0;
  subspace->simulation = sim;
  PhysObject_AddDependent(subspace, sim, 0, 0);
  return 1;
}

void Simulation_SetSolverIterations(Simulation* sim, int iterations) {
  if (sim && iterations > 0 && iterations <= 1000) sim->solverIterations = iterations;
}

void Simulation_StepTo(Simulation* sim, double target, int n) {
  if (!sim || n <= 0 || !std::isfinite(target)) return;
  if (target <= sim->time) {
    // A clock moved backwards: follow it, so later targets advance again.
    sim->time = target;
    return;
  }
  // A caller's stepping rule gives a few short sub-steps; a broken one (a
  // clock jump, a runaway count) must not make the step take forever or
  // integrate over seconds at once: the world then runs slower than the
  // clock instead, and the clock still follows the target.
  if (n > kMaxSubSteps) n = kMaxSubSteps;
  float h = float((target - sim->time) / n);
  if (h > kMaxSubStepLength) h = kMaxSubStepLength;
  sim->stats = SimulationStats{};
  for (int i = 0; i < n; ++i) Simulation_SubStep(sim, h);
  sim->time = target;
}

void Simulation_SubStep(Simulation* sim, float h) {
  if (!sim || !(h > 0.0f) || !std::isfinite(h) || !sim->contacts || sim->stepping) return;
  PhysTimerScope timer(PhysTimer_Find("/Timer/Physics/SubStep"));
  ContactSolverState* st = sim->contacts;
  sim->stepping = true;
  ++sim->stats.subSteps;
  float hRatio = sim->lastSubStep > 0.0f ? h / sim->lastSubStep : 1.0f;

  SnapshotBodies(sim);
  PrepareBodies(sim, h);
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Actions"));
    RunActions(sim, h);
    IntegrateVelocities(sim, h);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Collide"));
    Collide(sim);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Events"));
    DispatchContactEvents(sim, h);
    DispatchPhantomEvents(sim);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Solve"));
    WakeTouchedSleepers(sim);
    for (RigidBody* b : st->stepBodies)
      if (b && Moves(b)) RigidBody_UpdateWorldInertia(b);
    SolverBodies_Begin(&st->solverBodies);
    BuildContactRows(sim, h, hRatio);
    GatherConstraints(sim, h, hRatio);
    Solve(sim);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Integrate"));
    IntegratePositions(sim, h);
    Deactivate(sim, h);
  }
  for (const SolverManifold& m : st->manifolds) {
    if (m.dead) continue;
    sim->stats.contacts += m.m.count;
    for (int k = 0; k < m.m.count; ++k)
      if (m.m.points[k].depth > sim->stats.maxPenetration) sim->stats.maxPenetration = m.m.points[k].depth;
  }
  // This sub-step's manifolds become the warm starts of the next.
  st->previous.Clear();
  for (const SolverManifold& m : st->manifolds)
    if (!m.dead) st->previous.Push(m);
  st->manifolds.Clear();
  st->stepBodies.Clear();
  st->stepConstraints.Clear();
  sim->lastSubStep = h;
  sim->stepping = false;
}

void Simulation_BodyLeaves(Simulation* sim, RigidBody* body, bool destroyed) {
  if (!sim || !body || !sim->contacts) return;
  ContactSolverState* st = sim->contacts;
  Simulation_WakeTouching(sim, body);
  if (sim->detection) CollisionDetection_RemoveBody(sim->detection, body);
  auto mark = [body](PhysArray<SolverManifold, PHYS_MEM_CONTACT>& list, bool inPlace) {
    if (inPlace) {
      for (SolverManifold& m : list)
        if (m.a == body || m.b == body) m.dead = true;
    } else {
      // One compaction pass: a world torn down body by body stays linear per body.
      list.RemoveIf([body](const SolverManifold& m) { return m.a == body || m.b == body; });
    }
  };
  // During a sub-step the walk over this sub-step's manifolds goes on: mark
  // them instead of removing.
  mark(st->manifolds, sim->stepping);
  mark(st->previous, false);
  for (int i = st->overlaps.Count() - 1; i >= 0; --i) {
    const PhantomOverlap& o = st->overlaps[i];
    if (o.a != body && o.b != body) continue;
    if (!destroyed) {
      PhysPairEvent e{};
      e.kind = PHYS_EVENT_PHANTOM;
      e.primitiveA = o.pa;
      e.primitiveB = o.pb;
      e.flag = 1;
      st->pending.Push(e);
    }
    st->overlaps.RemoveAt(i);
  }
  // Overlaps found this sub-step but not yet compared: the body is gone.
  st->overlapsNext.RemoveIf([body](const PhantomOverlap& o) { return o.a == body || o.b == body; });
  if (destroyed) {
    st->pending.RemoveIf(
        [body](const PhysPairEvent& e) { return BodyOf(e.primitiveA) == body || BodyOf(e.primitiveB) == body; });
    for (RigidBody*& b : st->stepBodies)
      if (b == body) b = nullptr;
  }
}

void Simulation_WakeTouching(Simulation* sim, RigidBody* body) {
  if (!sim || !body || body->primitives.Empty()) return;
  // Sleeping pairs are not collided, so no manifold tells who rests on the
  // body: wake every sleeping body whose bounds come within the margin.
  Aabb box = Aabb_Empty();
  for (const CollisionPrimitive* p : body->primitives) box = Aabb_Union(box, p->bounds);
  if (!Aabb_IsFinite(box)) return;
  box = Aabb_Inflate(box, sim->detection ? sim->detection->tolerance : 0.1f);
  for (Subspace* sub : sim->subspaces) {
    for (RigidBody* other : sub->entities) {
      if (other == body || !CanMove(other) || (other->stateFlags & RB_STATE_ACTIVE)) continue;
      for (const CollisionPrimitive* p : other->primitives) {
        if (Aabb_Overlaps(p->bounds, box)) {
          Wake(other);
          break;
        }
      }
    }
  }
}

int Simulation_GetBodies(const Simulation* sim, PhysArray<RigidBody*, PHYS_MEM_SOLVER>* out) {
  if (!sim || !out) return 0;
  out->Clear();
  for (Subspace* sub : sim->subspaces)
    for (RigidBody* b : sub->entities) out->Push(b);
  return out->Count();
}
