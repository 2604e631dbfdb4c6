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
#include "physics/dynamics/island.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/subspace.h"

namespace {

// Penetration left uncorrected: resting bodies keep touching and a pile
// settles instead of rocking on pushes too small to matter.
constexpr float kContactSlop = 0.0005f;
// Contact springs: frequency (Hz) and damping ratio (well over critical: a
// contact should not bounce back from its own push), and the fastest
// separation that pushing out a penetration may cause. Contacts are as
// stiff as the solver's sub-steps can follow at the usual step lengths (the
// frequency is held to a quarter of the sub-step rate: stiffer ones ring a
// tall stack), and stay the same when the step length changes within them.
// A new load first compresses them (a stack of n boxes by about
// n^2 g / (2 w^2)); the remembered load below then takes that back,
// leaving each contact resting on its slop.
constexpr float kContactHertz = 60.0f;
constexpr float kContactDampingRatio = 10.0f;
constexpr float kMaxPushSpeed = 3.0f;
// How far a contact's remembered load moves towards the impulse it carried,
// each time the contacts are solved. The soft push relaxes towards that load
// instead of towards zero, so a steady load is held without the spring
// staying compressed under it (between two moving bodies only while the
// contact bears on all of its points alike: see contact_solver.cpp).
// Remembering is a slow integral on top of the spring, and a tall stack's
// slowest mode (a twenty-box column's period spans about a dozen steps at
// 60 Hz) rings under it when it follows too fast: following the whole
// impulse at once shakes that column apart, and the safe rate falls steeply
// with the height. So it follows by a fifth, and on contacts carrying more
// than 40 of their pair's effective weights (over twenty boxes above) by
// less, as the cube of the excess.
constexpr float kContactLoadFollow = 0.2f;
constexpr float kContactLoadFollowWeights = 40.0f;
// Joint springs: stiffer than contacts and closer to critical damping.
constexpr float kJointHertz = 60.0f;
constexpr float kJointDampingRatio = 2.0f;
// Limits of one DynWorld_Step: sub-steps per call and the length of one.
constexpr int kMaxSubSteps = 64;
constexpr float kMaxSubStepLength = 0.1f;
// Gap below which contact points are always solved (speculatively).
constexpr float kSpeculativeSlack = 0.02f;
// The farthest a body looks ahead for contacts in one step (m): beyond this
// only the sweep against meshes stops it.
constexpr float kMaxReach = 2.0f;
// Approach speed below which contacts do not bounce.
constexpr float kBounceThreshold = 0.5f;
// A contact event fires when the gap is at most this, or will close within
// the sub-step at the current approach speed.
constexpr float kTouchSlop = 0.01f;
// Rounding room of the reach of a contact event (m).
constexpr float kEventEpsilon = 1e-4f;
// A fast body's sweep against meshes sets it back only where at least this
// share of its path goes into the surface (see SweepFast).
constexpr float kSweepSteepness = 0.25f;
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

// A body that left the world with end events still queued keeps the
// simulation as a dependent until they are sent, so that destroying it out of
// the world purges them instead of leaving them on freed primitives.
constexpr uint32_t kLinkPendingEnds = 3;

bool PendingNames(const PhysArray<PhysPairEvent, PHYS_MEM_EVENT>& pending, const RigidBody* body) {
  for (const PhysPairEvent& e : pending)
    if (BodyOf(e.primitiveA) == body || BodyOf(e.primitiveB) == body) return true;
  return false;
}

// Drops the link of a body whose queued end events have all been sent.
void UnlinkSent(Simulation* sim, RigidBody* body) {
  if (body && !PendingNames(sim->contacts->pending, body)) PhysObject_RemoveDependent(body, sim);
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
    b->inertiaCurrent = false;
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
    // Poses change between here and the solve only through the setters,
    // which update the inertia themselves.
    b->inertiaCurrent = Moves(b);
    if (b->inertiaCurrent) RigidBody_UpdateWorldInertia(b);
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

// Records in each body of the step the fastest any of its points may move
// (0 for a body that does not move this step), and where the broad phase
// must look for what it may reach in the step (see PairMargin): around its
// bounds as far as its spin and the speculative slack take a point, and
// along its motion.
void BoundSpeeds(Simulation* sim, float h) {
  for (RigidBody* b : State(sim)->stepBodies) {
    if (!b) continue;
    b->speedBound = b->spinBound = b->reach = 0.0f;
    b->sweep = V3(0, 0, 0);
    if (!Moves(b) || b->primitives.Empty()) continue;
    Vec3 com = RigidBody_GetCentreOfMassWorld(b);
    float reach = 0.0f;
    for (const CollisionPrimitive* p : b->primitives) {
      Vec3 centre = (p->bounds.min + p->bounds.max) * 0.5f;
      reach = std::fmax(reach, Vec3_Norm(p->bounds.max - centre) + Vec3_Norm(centre - com));
    }
    b->spinBound = Vec3_Norm(b->angularVelocity) * reach;
    b->speedBound = Vec3_Norm(b->linearVelocity) + b->spinBound;
    b->reach = std::fmin(kSpeculativeSlack + 2.0f * b->spinBound * h, kMaxReach);
    Vec3 sweep = (b->linearVelocity + sim->gravity * h) * (2.0f * h);
    float length = Vec3_Norm(sweep);
    b->sweep = length > kMaxReach ? sweep * (kMaxReach / length) : sweep;
  }
}

// The margin a pair is collided with this step. Points farther apart than
// the speculative slack plus twice what the pair can close in the step are
// dropped by the solver and can give no contact event, so the narrow phase
// need not find them: resting pairs are tested with a few centimetres of
// margin instead of the holder's full tolerance, which prunes most mesh
// triangles and clipped points early. What the pair can close is bounded by
// the difference of the bodies' velocities and their spins, so bodies
// falling side by side look no farther than resting ones. A pair closing
// fast gets more than the tolerance (kMaxReach at most; the broad phase
// looks as far, see BoundSpeeds): found only once it is within the
// tolerance, a ball falling at 15 m/s onto another would be deep inside it
// by the next step.
float PairMargin(float tolerance, const RigidBody* a, const RigidBody* b, float h, float gravity) {
  float closing = Vec3_Norm(a->linearVelocity - b->linearVelocity) + a->spinBound + b->spinBound;
  if (Moves(a) || Moves(b)) closing += gravity * h;
  float margin = kSpeculativeSlack + 2.0f * closing * h;
  return margin <= tolerance ? margin : std::fmin(margin, kMaxReach);
}

// Whether the pair's contacts are reported to a listener. Such a pair is
// not looked for beyond the tolerance however fast it closes: its impact is
// told when it comes within the tolerance, as a listener expects (found
// farther off, the solver could stop it short of the tolerance, and an
// impact event with a speed threshold would never come).
bool Reported(const Simulation* sim, const CollisionPrimitive* a, const CollisionPrimitive* b) {
  const CollisionListener* listener = sim->collisionListener;
  if (!listener || listener->registered.Empty()) return false;
  return CollisionListener_Find(listener, a) || CollisionListener_Find(listener, b);
}

void Collide(Simulation* sim, float h) {
  ContactSolverState* st = State(sim);
  st->manifolds.Clear();
  st->overlapsNext.Clear();
  CollisionDetection* cd = sim->detection;
  if (!cd) return;
  BoundSpeeds(sim, h);
  float gravity = Vec3_Norm(sim->gravity);
  const CollisionPair* pairs = nullptr;
  int n = CollisionDetection_FindPairs(cd, &pairs);
  sim->stats.pairs += n;
  // Pairs and caches are both ordered by key: one merging walk finds each
  // pair's cache of the last sub-step.
  st->pairCacheNext.Clear();
  int cached = 0;
  for (int i = 0; i < n; ++i) {
    const CollisionPair& p = pairs[i];
    RigidBody* a = BodyOf(p.a);
    RigidBody* b = BodyOf(p.b);
    if (!InWorld(a) || !InWorld(b)) continue;
    uint64_t key = PairKey(p.a, p.b);
    NarrowPhaseCache* cache = nullptr;
    bool hulls = p.a->kind == PRIMITIVE_KIND_CONVEX || p.b->kind == PRIMITIVE_KIND_CONVEX;
    bool cachable = p.a->kind != PRIMITIVE_KIND_SPHERE && p.b->kind != PRIMITIVE_KIND_SPHERE;
    if (sim->cacheContacts && hulls && cachable) {
      while (cached < st->pairCache.Count() && st->pairCache[cached].key < key) ++cached;
      PairCacheEntry* e = st->pairCacheNext.NextSlot();
      if (e) {
        e->key = key;
        if (cached < st->pairCache.Count() && st->pairCache[cached].key == key)
          e->cache = st->pairCache[cached].cache;
        else
          e->cache = NarrowPhaseCache{};
        st->pairCacheNext.CommitSlot();
        cache = &e->cache;
      }
    }
    // The narrow phase writes straight into the next slot, kept only when
    // it found contacts.
    SolverManifold* slot = st->manifolds.NextSlot();
    if (!slot) break;
    SolverManifold& m = *slot;
    float margin = PairMargin(cd->tolerance, a, b, h, gravity);
    if (margin > cd->tolerance && Reported(sim, p.a, p.b)) margin = cd->tolerance;
    if (!NarrowPhase_Collide(p.a, p.b, margin, &m.m, cache)) continue;
    m.key = key;
    if (p.phantom) {
      // Overlap events need real penetration, not the contact margin.
      bool overlap = false;
      for (int k = 0; k < m.m.count; ++k) overlap |= m.m.points[k].depth > 0.0f;
      if (overlap) st->overlapsNext.Push(PhantomOverlap{m.key, p.a, p.b, a, b});
      continue;
    }
    for (int k = 0; k < m.m.count; ++k) m.onA[k] = Transform_ApplyInv(a->pose, m.m.points[k].position);
    m.dead = false;
    m.hasFriction = false;
    m.pa = p.a;
    m.pb = p.b;
    m.a = a;
    m.b = b;
    m.friction = std::sqrt(std::fmax(a->friction, 0.0f) * std::fmax(b->friction, 0.0f));
    m.restitution = std::fmax(a->restitution, b->restitution);
    m.constraint = -1;
    st->manifolds.CommitSlot();
  }
  st->pairCache.Swap(st->pairCacheNext);
}

float ApproachSpeed(const SolverManifold& m, const ContactPoint& c) {
  Vec3 va, vb;
  RigidBody_GetPointVelocity(m.a, &va, c.position);
  RigidBody_GetPointVelocity(m.b, &vb, c.position);
  return -Vec3_Dot(va - vb, c.normal);  // > 0 when closing
}

int SolverSubSteps(const Simulation* sim);

// The velocity change the solver will integrate into a moving body over a
// sub-step of h before it solves: gravity and the accumulated force.
Vec3 PendingVelocity(const Simulation* sim, const RigidBody* b, float h) {
  if (!Moves(b)) return V3(0, 0, 0);
  return (sim->gravity + b->force * b->invMass) * h;
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
    // An impact is a gap the solver may close or brake on in this sub-step:
    // it integrates gravity and the sub-step's forces before it solves, and
    // the relaxation at the end of its last solver sub-step holds the
    // velocity to what closes the remaining gap in one solver sub-step. A
    // test on the free approach alone lets the solver stop a falling body
    // short of the ground without its event, and report it later at a crawl.
    float closing = std::fmax(approach, approach - Vec3_Dot(PendingVelocity(sim, m.a, h) -
                                                             PendingVelocity(sim, m.b, h), c.normal));
    float reach = closing * h * (1.0f + 1.0f / float(SolverSubSteps(sim))) + kEventEpsilon;
    if (gap > kTouchSlop && gap > reach) continue;
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
    UnlinkSent(sim, BodyOf(e.primitiveA));
    UnlinkSent(sim, BodyOf(e.primitiveB));
    SendPhantom(sim, e.primitiveA, e.primitiveB, e.flag);
  }
}

// Wakes what a moving body touches or is jointed to while it sleeps, and
// with each such body the whole island it sleeps with. Returns the number of
// bodies woken: they were not collided this sub-step (a sleeping pair is
// not), so their contacts with what still rests are yet to be found.
int WakeTouchedSleepers(Simulation* sim) {
  ContactSolverState* st = State(sim);
  int woken = 0;
  auto wake = [&woken](RigidBody* b) {
    if (CanMove(b) && b->subspace && !(b->stateFlags & RB_STATE_ACTIVE)) {
      Wake(b);
      ++woken;
    }
  };
  for (SolverManifold& m : st->manifolds) {
    if (m.dead || !InWorld(m.a) || !InWorld(m.b)) continue;
    if (Moves(m.a) && !Moves(m.b) && MovingFast(m.a, sim->freeze)) wake(m.b);
    if (Moves(m.b) && !Moves(m.a) && MovingFast(m.b, sim->freeze)) wake(m.a);
  }
  for (Subspace* sub : sim->subspaces)
    for (const Subspace::ActionEntry& e : sub->actions) {
      if (!e.action->IsConstraintManager()) continue;
      for (Constraint* c : static_cast<ConstraintManager*>(e.action)->constraints) {
        if (!c->bodyA || !c->bodyB) continue;
        if (Moves(c->bodyA) && MovingFast(c->bodyA, sim->freeze)) wake(c->bodyB);
        if (Moves(c->bodyB) && MovingFast(c->bodyB, sim->freeze)) wake(c->bodyA);
      }
    }
  if (woken == 0) return 0;
  return woken + Island_WakeWoken(&st->islands, st->stepBodies.Data(), st->stepBodies.Count());
}

// The step's joints: every constraint of the subspaces' managers whose
// bodies are both in the step, one of them moving.
void GatherConstraints(Simulation* sim) {
  ContactSolverState* st = State(sim);
  st->stepConstraints.Clear();
  for (Subspace* sub : sim->subspaces) {
    for (const Subspace::ActionEntry& e : sub->actions) {
      if (!e.action->IsConstraintManager()) continue;
      ConstraintManager* mgr = static_cast<ConstraintManager*>(e.action);
      for (Constraint* c : mgr->constraints)
        if (c->bodyA && c->bodyB && c->IsSolvable()) st->stepConstraints.Push(c);
    }
  }
}

// Solver sub-steps per step: each sub-step solves once with bias and relaxes
// once, so the iteration count is the number of velocity passes.
int SolverSubSteps(const Simulation* sim) { return sim->solverIterations > 1 ? (sim->solverIterations + 1) / 2 : 1; }

// The soft step (see contact_solver.cpp): contacts and joints solved over
// sub-steps of the step, positions integrated in each.
void Solve(Simulation* sim, float h, float hRatio) {
  ContactSolverState* st = State(sim);
  SolverSet* set = &st->solverSet;
  if (!SolverSet_Begin(set)) return;
  for (RigidBody* b : st->stepBodies)
    if (b && Moves(b)) SolverSet_Add(set, b, sim->gravity);
  for (RigidBody* b : st->stepBodies)
    if (b) b->force = b->torque = V3(0, 0, 0);
  // Contacts of jointed bodies remember no load between them (see
  // contact_solver.cpp).
  for (Constraint* c : st->stepConstraints) {
    set->sims[SolverSet_IndexOf(set, c->bodyA)].jointed = true;
    set->sims[SolverSet_IndexOf(set, c->bodyB)].jointed = true;
  }
  int subSteps = SolverSubSteps(sim);
  float dt = h / float(subSteps), invDt = 1.0f / dt;
  ContactSolverParams params;
  params.h = h;
  params.hRatio = hRatio;
  // Contacts: stiff but soft springs, twice as stiff against what does not
  // move; at most a quarter of the sub-step rate, which they could not follow.
  float hertz = std::fmin(kContactHertz, 0.25f * invDt);
  params.soft = SolverSoftness_Make(hertz, kContactDampingRatio, dt);
  params.staticSoft = SolverSoftness_Make(2.0f * hertz, kContactDampingRatio, dt);
  params.maxPushSpeed = kMaxPushSpeed;
  params.slop = kContactSlop;
  params.speculative = kSpeculativeSlack;
  params.weightImpulse = Vec3_Norm(sim->gravity) * dt;
  params.loadFollow = kContactLoadFollow;
  params.loadFollowWeights = kContactLoadFollowWeights;
  ContactSolver_Prepare(&st->contactSolver, st->manifolds.Data(), st->manifolds.Count(), st->previous.Data(),
                        st->previous.Count(), st->resting.Data(), st->resting.Count(), set, params);
  JointStep joints{set, set->states.Data(), dt, invDt, hRatio,
                   SolverSoftness_Make(std::fmin(kJointHertz, 0.5f * invDt), kJointDampingRatio, dt)};
  for (Constraint* c : st->stepConstraints) c->Prepare(joints);
  SolverBodyState* states = set->states.Data();
  for (int i = 0; i < subSteps; ++i) {
    SolverSet_IntegrateVelocities(set, dt);
    for (Constraint* c : st->stepConstraints) c->WarmStart(joints);
    ContactSolver_WarmStart(&st->contactSolver, states);
    for (Constraint* c : st->stepConstraints) c->Solve(joints, true);
    ContactSolver_Solve(&st->contactSolver, states, params, invDt, true);
    SolverSet_IntegratePositions(set, dt);
    for (Constraint* c : st->stepConstraints) c->Solve(joints, false);
    ContactSolver_Solve(&st->contactSolver, states, params, invDt, false);
  }
  ContactSolver_ApplyRestitution(&st->contactSolver, states, kBounceThreshold);
  ContactSolver_Store(&st->contactSolver, st->manifolds.Data(), params);
  SolverSet_WriteVelocities(set);
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
    if (MeshContainer_SweepSphere(mesh, Frame3_ApplyInv(p->world, c0), Frame3_ApplyInv(p->world, c1), r, &f, &n,
                                  kSweepSteepness) &&
        f < *fraction) {
      *fraction = f;
      *normal = Mat3_Mul(p->world.rot, n);
      found = 1;
    }
  }
  return found;
}

// Earliest impact of the body's primitives along its motion this sub-step,
// against meshes: the body is set back to the impact (backstepping), so thin
// walls hold. A sphere sweeps itself; a hull sweeps the largest sphere
// inside it, which is enough to keep its centre on the near side, where the
// contacts push it out. A graze is no impact (kSweepSteepness): a body
// rolling or sliding along a curved mesh, or fast over a fold in it, crosses
// the plane of the triangle ahead by a little at every step, and set back
// there with its speed kept it would stay in place for ever; the contacts
// keep it on the surface. (A sweep sphere smaller by the speculative slack
// kept the limbs of jointed figures piled on a mesh from ever sleeping.)
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
  // Set back to the impact with its velocity kept: the next step's contact
  // stops it there (or bounces it).
  to->position = from.position + (to->position - from.position) * best;
}

// Moves every solved body to where the solver took it, setting back the
// fast ones at their first hit of a mesh, then forgets the solver set.
void PlaceBodies(Simulation* sim) {
  ContactSolverState* st = State(sim);
  SolverSet* set = &st->solverSet;
  st->meshesGathered = false;
  for (int i = 1; i < set->sims.Count(); ++i) {
    RigidBody* b = set->sims[i].body;
    Transform from = b->pose;
    Transform to = SolverSet_EndPose(set, i);
    SweepFast(sim, b, from, &to);
    b->pose = to;
    CollisionBody_Place(b, to);
  }
  SolverSet_End(set);
}

// Updates the manifolds kept for pairs at rest (ContactSolverState::
// resting): those of a pair with a body moving again served its warm start
// in this sub-step and go; this sub-step's manifolds of pairs now both
// resting (asleep or fixed: not collided again until one wakes) come in, in
// key order.
void KeepResting(ContactSolverState* st) {
  auto resting = [](const SolverManifold& m) { return !m.dead && !Moves(m.a) && !Moves(m.b); };
  bool changes = false;
  for (const SolverManifold& m : st->manifolds) changes |= resting(m);
  for (const SolverManifold& m : st->resting) changes |= !resting(m);
  if (!changes) return;
  PhysArray<SolverManifold, PHYS_MEM_CONTACT>& next = st->restingNext;
  next.Clear();
  int i = 0, j = 0;
  const int ni = st->resting.Count(), nj = st->manifolds.Count();
  while (i < ni || j < nj) {
    if (j < nj && !resting(st->manifolds[j])) {
      ++j;
    } else if (i < ni && !resting(st->resting[i])) {
      ++i;
    } else if (j >= nj || (i < ni && st->resting[i].key < st->manifolds[j].key)) {
      next.Push(st->resting[i++]);
    } else {
      if (i < ni && st->resting[i].key == st->manifolds[j].key) ++i;
      next.Push(st->manifolds[j++]);
    }
  }
  st->resting.Swap(next);
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
  // Bodies waiting for their end events forget this simulation.
  if (contacts)
    for (const PhysPairEvent& e : contacts->pending) {
      if (RigidBody* a = BodyOf(e.primitiveA)) PhysObject_RemoveDependent(a, this);
      if (RigidBody* b = BodyOf(e.primitiveB)) PhysObject_RemoveDependent(b, this);
    }
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

int Simulation::Notify(PhysObject* source, uint32_t id, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED || !source->destroying) return 2;
  if (id == kLinkPendingEnds && contacts) {
    // A body destroyed out of the world: its end events will never be sent.
    contacts->pending.RemoveIf([source](const PhysPairEvent& e) {
      return static_cast<PhysObject*>(BodyOf(e.primitiveA)) == source ||
             static_cast<PhysObject*>(BodyOf(e.primitiveB)) == source;
    });
    return 1;
  }
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
  // Islands of bodies woken since the last sub-step wake whole.
  Island_WakeWoken(&st->islands, st->stepBodies.Data(), st->stepBodies.Count());
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Actions"));
    RunActions(sim, h);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Collide"));
    Collide(sim, h);
    // Sleepers woken by what touches them meet their resting neighbours in
    // this sub-step's solve, not after a sub-step pressed into them.
    if (WakeTouchedSleepers(sim) > 0) Collide(sim, h);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Events"));
    DispatchContactEvents(sim, h);
    DispatchPhantomEvents(sim);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Solve"));
    GatherConstraints(sim);
    // Bodies woken (or freed) since the sub-step began.
    for (RigidBody* b : st->stepBodies)
      if (b && !b->inertiaCurrent && Moves(b)) RigidBody_UpdateWorldInertia(b);
    Solve(sim, h, hRatio);
  }
  {
    PhysTimerScope t(PhysTimer_Find("/Timer/Physics/Integrate"));
    PlaceBodies(sim);
    sim->stats.islands += Island_Sleep(&st->islands, st->stepBodies.Data(), st->stepBodies.Count(),
                                       st->manifolds.Data(), st->manifolds.Count(), st->stepConstraints.Data(),
                                       st->stepConstraints.Count(), sim->freeze, h);
  }
  for (const SolverManifold& m : st->manifolds) {
    if (m.dead) continue;
    sim->stats.contacts += m.m.count;
    for (int k = 0; k < m.m.count; ++k)
      if (m.m.points[k].depth > sim->stats.maxPenetration) sim->stats.maxPenetration = m.m.points[k].depth;
  }
  // This sub-step's manifolds become the warm starts of the next, and those
  // whose bodies both rest now are kept until they wake.
  KeepResting(st);
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
  mark(st->resting, false);
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
      if (!PhysObject_HasDependent(body, sim)) PhysObject_AddDependent(body, sim, kLinkPendingEnds, 0);
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
