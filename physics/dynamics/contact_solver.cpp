// Contacts as soft constraints over sub-steps ("soft step").
//
// The simulation collides once per step and then runs the solver in a few
// sub-steps: each integrates velocities, warm starts, solves with bias,
// integrates positions and relaxes (solves again without bias). Contact
// normals and anchors stay fixed for the step; what changes between
// sub-steps is the separation, recomputed from how far the two bodies have
// moved and turned since the step began (the turn to first order: a step
// turns a body by a few degrees at most), so that a sub-step sees the
// penetration it has already removed.
//
// Why soft: a rigid correction of the whole penetration at once overshoots
// in a stack, where every box pushes on its neighbours; Baumgarte-style
// correction adds energy; split impulses need a second set of passes. A soft
// contact is a stiff damped spring solved implicitly: the bias pushes out at
// a rate set by its frequency (bounded by maxPushSpeed), the relaxation pass
// then removes the velocity that push left behind, and warm starting from
// the last step's impulses lets tall stacks carry their weight from the
// first pass. A soft contact alone holds a steady load only while its spring
// stays compressed by it; so on a contact with an immovable body (the
// ground, a mesh, a sleeping pile) the soft pass relaxes each point's
// impulse towards the load it has been carrying (remembered from step to
// step, following the impulses slowly) rather than towards zero, and the
// spring only answers changes of load. Between two moving bodies (a column
// of boxes, whose compressions would add up) a load held at its points
// would lag behind one that moves between them as the bodies rock (a wall
// of bricks swaying after a blow), and a lagging load pushes the rocking
// on. There the contact remembers only its total load, and only while it
// bears on all of its points alike (each carries at least half its share,
// at the places and on the features of the last step): a contact on an
// edge, or rocking, forgets. The remembered share of what the points carry
// slows the spring's relaxation instead of setting a load for each point,
// so the load keeps the shape the solver gives it and never exceeds what
// it carries. A body held by a joint remembers nothing against another
// moving body (the load would wind up against the joint), nor does a
// contact of one point (spheres in a pile).
// Gaps within the margin are closed speculatively: a point only acts when
// the bodies would otherwise pass through within the sub-step.
//
// Friction acts on the manifold as a whole, at the centre of its points: two
// tangent directions and a twist about the normal, bounded by the sum of the
// normal impulses. Per-point friction rows fight each other in the
// Gauss-Seidel order and tilt resting stacks. The twist's arm is the points'
// spread, and never less than a small patch about a single point (see
// kPatchShare): a sphere spinning in place on its one point of contact comes
// to rest instead of spinning on for ever.
#include "physics/dynamics/contact_solver.h"

#include <cmath>

#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/contact_state.h"
#include "physics/dynamics/rigid_body.h"

namespace {

// max(x, lo) and x held to [lo, hi], inline (std::fmax and std::fmin are
// calls to the maths library in the solver's loops); x is never NaN here.
inline float AtLeast(float x, float lo) { return x > lo ? x : lo; }
inline float Clamp(float x, float lo, float hi) { return x < lo ? lo : (x > hi ? hi : x); }

// A contact bears on a patch, not a point: a manifold's twist friction acts
// at least at this share of the nearer moving body's reach to the contact
// (a ball of radius 0.25 m spinning at 10 rad/s about the normal of its one
// contact, at friction 0.5, stops in about a second).
constexpr float kPatchShare = 0.2f;

// A body takes part when it is in the step's world and not quarantined.
bool InStep(const RigidBody* b) { return b && b->subspace && !b->quarantined; }

// The manifold of `key` among `count` ordered by key, or null.
const SolverManifold* FindPrevious(const SolverManifold* previous, int count, uint64_t key) {
  int lo = 0, hi = count - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    uint64_t k = previous[mid].key;
    if (k == key) return &previous[mid];
    if (k < key) lo = mid + 1; else hi = mid - 1;
  }
  return nullptr;
}

// The same in the last sub-step's manifolds, which are about as many as
// this one's and in the same order: the search walks on from where the last
// one ended (back to the start for a key out of order), reading them in
// sequence.
const SolverManifold* FindPrevious(const SolverManifold* previous, int count, uint64_t key, int* cursor) {
  int i = *cursor;
  if (i > 0 && previous[i - 1].key >= key) i = 0;
  while (i < count && previous[i].key < key) ++i;
  *cursor = i;
  return i < count && previous[i].key == key ? &previous[i] : nullptr;
}

// The old point that point k of m continues (-1: none), whose impulse and
// load it takes over: the old point of the same features at about the same
// place on body a, else the nearest old point there (mesh and clipped
// features may be renumbered between steps). A point whose features match
// but that lies elsewhere on the body belongs to another contact: its
// impulse would start the new one lopsided.
int PreviousPoint(const SolverManifold* prev, const SolverManifold& m, int k) {
  const float near2 = 0.02f * 0.02f, same2 = 0.05f * 0.05f;
  int match = -1;
  float best = near2;
  for (int q = 0; q < prev->m.count; ++q) {
    float d2 = Vec3_LengthSq(prev->onA[q] - m.onA[k]);
    if (prev->m.points[q].feature == m.m.points[k].feature && d2 < same2) return q;
    if (d2 < best) {
      best = d2;
      match = q;
    }
  }
  return match;
}

// Whether point k of m is old point q of prev where it was: the same
// features within a few millimetres on body a (a point re-found elsewhere
// on the face, or the nearest of other features, is another contact).
bool SamePlace(const SolverManifold* prev, const SolverManifold& m, int k, int q) {
  const float same2 = 0.005f * 0.005f;
  return prev->m.points[q].feature == m.m.points[k].feature && Vec3_LengthSq(prev->onA[q] - m.onA[k]) < same2;
}

// A friction row along d; an immovable side (moves false) takes no part.
ContactFrictionRow FrictionRow(Vec3 d, Vec3 rA, Vec3 rB, float mA, float mB, const Mat3& iA, const Mat3& iB,
                               bool movesA, bool movesB) {
  ContactFrictionRow r;
  Vec3 angA = Vec3_Cross(rA, d), angB = Vec3_Cross(rB, d);
  Vec3 wA = movesA ? Mat3_Mul(iA, angA) : V3(0, 0, 0), wB = movesB ? Mat3_Mul(iB, angB) : V3(0, 0, 0);
  float k = mA + mB + Vec3_Dot(angA, wA) + Vec3_Dot(angB, wB);
  r.dir = Lanes_FromVec3(d);
  r.angA = Lanes_FromVec3(angA);
  r.angB = Lanes_FromVec3(angB);
  r.wA = Lanes_FromVec3(wA);
  r.wB = Lanes_FromVec3(wB);
  r.mass = k > 1e-12f && std::isfinite(k) ? 1.0f / k : 0.0f;
  r.impulse = 0.0f;
  return r;
}

// The rotation vector (axis times angle, to first order) of a body's turn
// since the step began.
inline Vec3 TurnOf(Quat dq) {
  float s = dq.w < 0.0f ? -2.0f : 2.0f;
  return V3(dq.x * s, dq.y * s, dq.z * s);
}

// Applies impulse p along the normal or a tangent of constraint c (linear
// part lin, angular parts wA, wB already multiplied by the inverse inertia).
inline void Apply(SolverBodyState& A, SolverBodyState& B, const ContactConstraint& c, Vec3 lin, Vec3 wA, Vec3 wB,
                  float p) {
  A.v += lin * (c.invMassA * p);
  A.w += wA * p;
  B.v -= lin * (c.invMassB * p);
  B.w -= wB * p;
}

// Applies the impulses p0, p1 of c's two friction rows.
inline void ApplyFriction(SolverBodyState& A, SolverBodyState& B, const ContactConstraint& c, float p0, float p1) {
  const ContactFrictionRow& r0 = c.tangentRows[0];
  const ContactFrictionRow& r1 = c.tangentRows[1];
  Lanes lin = r0.dir * p0 + r1.dir * p1;
  SolverBody_Store(&A.v, SolverBody_Load(&A.v) + lin * c.invMassA);
  SolverBody_Store(&A.w, SolverBody_Load(&A.w) + (r0.wA * p0 + r1.wA * p1));
  SolverBody_Store(&B.v, SolverBody_Load(&B.v) - lin * c.invMassB);
  SolverBody_Store(&B.w, SolverBody_Load(&B.w) - (r0.wB * p0 + r1.wB * p1));
}

// Point k of c, out of its lanes.
inline Vec3 PointVec(const Lanes* l, int k) { return V3(l[0][k], l[1][k], l[2][k]); }

// Per lane, the dot product of the points' vectors l with v.
inline Lanes Dot(const Lanes* l, Vec3 v) { return l[0] * v.x + l[1] * v.y + l[2] * v.z; }

// Applies the points' impulses p (one per lane) along their normals.
inline void ApplyPoints(SolverBodyState& A, SolverBodyState& B, const ContactConstraint& c, Lanes p) {
  Lanes s1 = Lanes_Sums(c.pointNormal[0] * p, c.pointNormal[1] * p, c.pointNormal[2] * p, c.wA[0] * p);
  Lanes s2 = Lanes_Sums(c.wA[1] * p, c.wA[2] * p, c.wB[0] * p, c.wB[1] * p);
  Lanes s3 = c.wB[2] * p;
  const Lanes zero{0, 0, 0, 0};
  // Lane 3 of what is added to v and w stays zero, and so do their pads.
  Lanes lin = __builtin_shufflevector(s1, zero, 0, 1, 2, 4);
  Lanes turnA = __builtin_shufflevector(s1, s2, 3, 4, 5, 5);
  turnA[3] = 0.0f;
  Lanes turnB = __builtin_shufflevector(s2, zero, 2, 3, 4, 4);
  turnB[2] = (s3[0] + s3[1]) + (s3[2] + s3[3]);
  SolverBody_Store(&A.v, SolverBody_Load(&A.v) + lin * c.invMassA);
  SolverBody_Store(&A.w, SolverBody_Load(&A.w) + turnA);
  SolverBody_Store(&B.v, SolverBody_Load(&B.v) - lin * c.invMassB);
  SolverBody_Store(&B.w, SolverBody_Load(&B.w) - turnB);
}

// Index of element (i, j), j <= i, of a lower triangle stored by rows.
inline int Tri(int i, int j) { return i * (i + 1) / 2 + j; }

// Cholesky factor of the rows and columns `idx` of the coupling k, lightly
// regularised: four corners of a face leave it one short of full rank, and
// the least-norm answer shares the load evenly. False when not positive.
bool Factor(const float* k, const int* idx, int n, float* l) {
  float trace = 0.0f;
  for (int i = 0; i < n; ++i) trace += k[Tri(idx[i], idx[i])];
  float eps = 1e-4f * trace / float(n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      int a = idx[i], b = idx[j];
      float sum = a >= b ? k[Tri(a, b)] : k[Tri(b, a)];
      if (i == j) sum += eps;
      for (int m = 0; m < j; ++m) sum -= l[Tri(i, m)] * l[Tri(j, m)];
      if (i == j) {
        if (!(sum > 0.0f)) return false;
        l[Tri(i, i)] = std::sqrt(sum);
      } else {
        l[Tri(i, j)] = sum / l[Tri(j, j)];
      }
    }
  }
  return true;
}

// Solves L L^T x = r for the Cholesky factor l of n rows.
void Substitute(const float* l, int n, const float* r, float* x) {
  for (int i = 0; i < n; ++i) {
    float sum = r[i];
    for (int k = 0; k < i; ++k) sum -= l[Tri(i, k)] * x[k];
    x[i] = sum / l[Tri(i, i)];
  }
  for (int i = n - 1; i >= 0; --i) {
    float sum = x[i];
    for (int k = i + 1; k < n; ++k) sum -= l[Tri(k, i)] * x[k];
    x[i] = sum / l[Tri(i, i)];
  }
}

// The inverse of the coupling k of all n points, regularised as Factor
// does, into the first n lanes of the columns inv (the others are left as
// they are); false when not positive. In double precision: the coupling of
// four corners of a face is close to singular, and its inverse is used for
// a whole step.
template <int N>
bool InvertCoupling(const float* k, Lanes* inv) {
  double trace = 0.0;
#pragma GCC unroll 4
  for (int i = 0; i < N; ++i) trace += k[Tri(i, i)];
  double eps = double(1e-4f) * trace / N;
  double l[10], m[10];  // the Cholesky factor L and its inverse, lower triangles
  double d[N];          // the inverse of L's diagonal: one division per row
#pragma GCC unroll 4
  for (int i = 0; i < N; ++i) {
#pragma GCC unroll 4
    for (int j = 0; j <= i; ++j) {
      double sum = k[Tri(i, j)] + (i == j ? eps : 0.0);
#pragma GCC unroll 4
      for (int q = 0; q < j; ++q) sum -= l[Tri(i, q)] * l[Tri(j, q)];
      if (i == j) {
        if (!(sum > 0.0)) return false;
        l[Tri(i, i)] = std::sqrt(sum);
        d[i] = 1.0 / l[Tri(i, i)];
      } else {
        l[Tri(i, j)] = sum * d[j];
      }
    }
  }
#pragma GCC unroll 4
  for (int j = 0; j < N; ++j) {
    m[Tri(j, j)] = d[j];
#pragma GCC unroll 4
    for (int i = j + 1; i < N; ++i) {
      double sum = 0.0;
#pragma GCC unroll 4
      for (int q = j; q < i; ++q) sum -= l[Tri(i, q)] * m[Tri(q, j)];
      m[Tri(i, j)] = sum * d[i];
    }
  }
  // K^-1 = L^-T L^-1.
#pragma GCC unroll 4
  for (int i = 0; i < N; ++i) {
#pragma GCC unroll 4
    for (int j = 0; j < N; ++j) {
      double sum = 0.0;
#pragma GCC unroll 4
      for (int q = i > j ? i : j; q < N; ++q) sum += m[Tri(q, i)] * m[Tri(q, j)];
      inv[j][i] = float(sum);
    }
  }
  return true;
}

// Lanes below n true.
inline LaneMask FirstLanes(int n) { return LaneMask{0, 1, 2, 3} < n; }

// The changes of the impulses of the points `keep` that meet their targets
// r (per lane, already soft-scaled) when the other points' impulses change
// by fixed: solves k_SS d_S = r_S - k_SD fixed_D. False when not positive.
bool SolveKept(ContactConstraint* c, int keep, Lanes r, Lanes fixed, Lanes* d) {
  int act[4], na = 0;
  float rhs[4], sol[4];
  for (int i = 0; i < c->pointCount; ++i) {
    if (!(keep & (1 << i))) continue;
    float sum = r[i];
    for (int j = 0; j < c->pointCount; ++j)
      if (!(keep & (1 << j)) && fixed[j] != 0.0f) sum -= (i >= j ? c->k[Tri(i, j)] : c->k[Tri(j, i)]) * fixed[j];
    rhs[na] = sum;
    act[na++] = i;
  }
  // The same points are kept pass after pass: their factor is kept too.
  if (c->factoredBits != keep) {
    c->factoredBits = 0;
    if (!Factor(c->k, act, na, c->factor)) return false;
    c->factoredBits = int8_t(keep);
  }
  Substitute(c->factor, na, rhs, sol);
  *d = Lanes{0, 0, 0, 0};
  for (int i = 0; i < na; ++i) (*d)[act[i]] = sol[i];
  return true;
}

// Solves the normal rows of a constraint together: the impulses that meet
// every pushing point's target at once, found on the points' coupling
// matrix. Points solved one after the other are not served alike (the first
// takes the most), which gives a symmetric contact, such as an edge lying on
// a face, a spurious turn. A point that would have to pull is released
// (its impulse goes to zero) and the others are solved again with that
// counted, until none pulls: the points of a symmetric contact let go
// together. Returns false, having changed nothing, when the points are not
// all of one kind (soft or rigid) or no such set is found; the caller then
// solves them one by one. Per lane: vn the normal velocity, bias the
// target, ms and is the soft scales; `active` the points that take part (a
// gap that will not close and holds no impulse stays out).
bool SolveBlock(ContactConstraint* c, SolverBodyState& A, SolverBodyState& B, Lanes vn, Lanes bias, Lanes ms, Lanes is,
                LaneMask active) {
  int bits = LaneMask_Bits(active);
  if (bits == 0) return true;
  int first = __builtin_ctz(unsigned(bits));
  Lanes ms0 = Lanes_Splat(ms[first]), is0 = Lanes_Splat(is[first]);
  if (LaneMask_Bits(active & ((ms != ms0) | (is != is0)))) return false;
  Lanes r = -(vn + bias);
  Lanes x;
  if (bits == (1 << c->pointCount) - 1 && c->blockValid) {
    x = c->inverseCoupling[0] * r[0] + c->inverseCoupling[1] * r[1] + c->inverseCoupling[2] * r[2] +
        c->inverseCoupling[3] * r[3];
  } else if (!SolveKept(c, bits, r, Lanes{0, 0, 0, 0}, &x)) {
    return false;
  }
  Lanes next = c->normalImpulse + ms0 * x - is0 * (c->normalImpulse - c->restImpulse);
  int pulling = LaneMask_Bits(active & (next < 0.0f));
  if (pulling) {
    // The change that meets the targets, as the full block gives it: the
    // rigid change x scaled, less the soft relaxation (its coupling k
    // (impulse - rest) counted in the targets).
    int keep = bits, released = 0;
    for (int round = 0; round < 4 && pulling; ++round) {
      keep &= ~pulling;
      released |= pulling;
      if (!keep) break;
      Lanes fixed = Lanes{0, 0, 0, 0}, target = r * ms0;
      for (int i = 0; i < c->pointCount; ++i)
        if (released & (1 << i)) fixed[i] = -c->normalImpulse[i];
      if (is0[0] != 0.0f) {
        Lanes relax = c->normalImpulse - c->restImpulse;
        for (int i = 0; i < c->pointCount; ++i) {
          float sum = 0.0f;
          for (int j = 0; j < c->pointCount; ++j) sum += (i >= j ? c->k[Tri(i, j)] : c->k[Tri(j, i)]) * relax[j];
          target[i] -= is0[0] * sum;
        }
      }
      Lanes d;
      if (!SolveKept(c, keep, target, fixed, &d)) return false;
      next = c->normalImpulse + d;
      pulling = keep & LaneMask_Bits(next < 0.0f);
    }
    if (pulling) return false;
    next = Lanes_Select((LaneMask{1, 2, 4, 8} & released) != 0, Lanes{0, 0, 0, 0}, next);
  }
  Lanes impulse = Lanes_Select(active, next - c->normalImpulse, Lanes{0, 0, 0, 0});
  c->normalImpulse = Lanes_Select(active, next, c->normalImpulse);
  c->maxNormalImpulse = Lanes_Max(impulse, c->maxNormalImpulse);
  ApplyPoints(A, B, *c, impulse);
  return true;
}

}  // namespace

void ContactSolver_Prepare(ContactSolver* cs, SolverManifold* manifolds, int count, const SolverManifold* previous,
                           int previousCount, const SolverManifold* resting, int restingCount, const SolverSet* set,
                           const ContactSolverParams& params) {
  cs->constraints.Clear();
  const SolverBodyState* states = set->states.Data();
  const Lanes zero{0, 0, 0, 0};
  int previousAt = 0;
  for (int mi = 0; mi < count; ++mi) {
    SolverManifold& m = manifolds[mi];
    m.constraint = -1;
    m.hasFriction = false;
    for (float& i : m.impulses) i = 0.0f;
    for (float& i : m.loads) i = 0.0f;
    if (m.dead || m.pa->phantom || m.pb->phantom || !InStep(m.a) || !InStep(m.b)) continue;
    int ia = SolverSet_IndexOf(set, m.a), ib = SolverSet_IndexOf(set, m.b);
    if (ia == 0 && ib == 0) continue;
    ContactConstraint* slot = cs->constraints.NextSlot();
    if (!slot) return;
    ContactConstraint& c = *slot;
    const SolverBodySim& sa = set->sims[ia];
    const SolverBodySim& sb = set->sims[ib];
    Vec3 comA = ia ? sa.com0 : RigidBody_GetCentreOfMassWorld(m.a);
    Vec3 comB = ib ? sb.com0 : RigidBody_GetCentreOfMassWorld(m.b);
    const SolverBodyState& A = states[ia];
    const SolverBodyState& B = states[ib];
    const SolverManifold* prev = FindPrevious(previous, previousCount, m.key, &previousAt);
    if (!prev && restingCount > 0) prev = FindPrevious(resting, restingCount, m.key);
    c.a = ia;
    c.b = ib;
    c.manifold = mi;
    c.invMassA = sa.invMass;
    c.invMassB = sb.invMass;
    c.friction = m.friction;
    c.restitution = m.restitution;
    c.soft = (ia == 0 || ib == 0) ? params.staticSoft : params.soft;
    for (int i = 0; i < 3; ++i) c.pointNormal[i] = c.angA[i] = c.angB[i] = c.wA[i] = c.wB[i] = zero;
    c.separation = c.normalMass = c.normalImpulse = c.restImpulse = c.maxNormalImpulse = c.relativeVelocity = zero;
    for (Lanes& col : c.inverseCoupling) col = zero;
    int used = 0;
    c.keepsLoad = 0;
    Vec3 centre{0, 0, 0}, normalSum{0, 0, 0};
    Vec3 pointAngA[4], pointAngB[4], pointWA[4], pointWB[4], pointN[4];
    for (int k = 0; k < m.m.count; ++k) {
      const ContactPoint& cp = m.m.points[k];
      c.pointOf[k] = -1;
      Vec3 n = cp.normal;
      // Both anchors at the middle of the overlap.
      Vec3 p = cp.position - n * (cp.depth * 0.5f);
      Vec3 rA = p - comA, rB = p - comB;
      float vn = Vec3_Dot(A.v + Vec3_Cross(A.w, rA) - B.v - Vec3_Cross(B.w, rB), n);
      // A gap that cannot close within this step, even at twice the current
      // approach speed, needs no point: it is collided again next step.
      if (-cp.depth > params.speculative + 2.0f * AtLeast(-vn, 0.0f) * params.h) continue;
      Vec3 angA = Vec3_Cross(rA, n), angB = Vec3_Cross(rB, n);
      // An immovable side's inverse inertia is zero: so are its products.
      Vec3 wA = ia ? Mat3_Mul(sa.invInertia, angA) : V3(0, 0, 0);
      Vec3 wB = ib ? Mat3_Mul(sb.invInertia, angB) : V3(0, 0, 0);
      float k2 = sa.invMass + sb.invMass + Vec3_Dot(angA, wA) + Vec3_Dot(angB, wB);
      int from = prev ? PreviousPoint(prev, m, k) : -1;
      int q = used;
      // Against an immovable body every point remembers; between two
      // moving bodies only a point that kept its place, and none on a
      // jointed body (see the file comment).
      if (!ia || !ib || (from >= 0 && !sa.jointed && !sb.jointed && SamePlace(prev, m, k, from)))
        c.keepsLoad |= int8_t(1 << q);
      pointN[q] = n;
      pointAngA[q] = angA;
      pointAngB[q] = angB;
      pointWA[q] = wA;
      pointWB[q] = wB;
      for (int i = 0; i < 3; ++i) {
        c.pointNormal[i][q] = Vec3_Get(n, i);
        c.angA[i][q] = Vec3_Get(angA, i);
        c.angB[i][q] = Vec3_Get(angB, i);
        c.wA[i][q] = Vec3_Get(wA, i);
        c.wB[i][q] = Vec3_Get(wB, i);
      }
      c.normalMass[q] = k2 > 1e-12f && std::isfinite(k2) ? 1.0f / k2 : 0.0f;
      c.separation[q] = -cp.depth;
      c.normalImpulse[q] = from >= 0 ? prev->impulses[from] * params.hRatio : 0.0f;
      c.restImpulse[q] = from >= 0 ? prev->loads[from] * params.hRatio : 0.0f;
      c.relativeVelocity[q] = vn;
      c.pointOf[k] = int8_t(used++);
      centre += p;
      normalSum += n;
    }
    if (used == 0) continue;
    c.keptLoad = 0.0f;
    if (ia && ib) {
      // Between two moving bodies the share of the warm start that is
      // remembered load no longer relaxes (see the file comment). The
      // contact goes on remembering only while all of its points keep
      // their places; a contact of one point never does.
      if (c.keepsLoad != (1 << used) - 1 || !prev || prev->m.count != m.m.count || used < 2) c.keepsLoad = 0;
      float load = 0.0f, carried = 0.0f;
      for (int q = 0; q < used; ++q) {
        load += c.restImpulse[q];
        carried += c.normalImpulse[q];
        c.restImpulse[q] = 0.0f;
      }
      c.keptLoad = std::fmin(load, carried);
      if (carried > 0.0f) c.soft.impulseScale *= 1.0f - c.keptLoad / carried;
    }
    for (int k = m.m.count; k < 4; ++k) c.pointOf[k] = -1;
    c.pointCount = used;
    for (int i = 0; i < used; ++i)
      for (int j = 0; j <= i; ++j)
        c.k[Tri(i, j)] = Vec3_Dot(pointN[i], pointN[j]) * (sa.invMass + sb.invMass) +
                         Vec3_Dot(pointAngA[i], pointWA[j]) + Vec3_Dot(pointAngB[i], pointWB[j]);
    // All points pushing is the usual case: its inverse, once for the step,
    // turns each pass's block solve into one product.
    c.factoredBits = 0;
    c.blockValid = used == 4   ? InvertCoupling<4>(c.k, c.inverseCoupling)
                   : used == 3 ? InvertCoupling<3>(c.k, c.inverseCoupling)
                   : used == 2 ? InvertCoupling<2>(c.k, c.inverseCoupling)
                               : false;
    centre = centre * (1.0f / float(used));
    Vec3 n = Vec3_Unit(normalSum);
    if (Vec3_LengthSq(n) == 0.0f) n = m.m.points[0].normal;
    c.normal = n;
    Vec3 tangent[2];
    float radius = 0.0f;
    for (int k = 0; k < m.m.count; ++k)
      if (c.pointOf[k] >= 0) radius += Vec3_Norm(m.m.points[k].position - centre);
    Vec3 rA = centre - comA, rB = centre - comB;
    float reach = ia ? Vec3_Norm(rA) : Vec3_Norm(rB);
    if (ia && ib) reach = std::fmin(reach, Vec3_Norm(rB));
    c.twistRadius = std::fmax(radius / float(used), kPatchShare * reach);
    // The first friction direction follows the sliding at the centre, so
    // that a body sliding in a plane gets no friction across it; at rest any
    // pair of directions does.
    Vec3 slide = A.v + Vec3_Cross(A.w, rA) - B.v - Vec3_Cross(B.w, rB);
    slide -= n * Vec3_Dot(slide, n);
    if (Vec3_LengthSq(slide) > 1e-6f) {
      tangent[0] = Vec3_Unit(slide);
      tangent[1] = Vec3_Cross(n, tangent[0]);
    } else {
      Vec3_PlaneSpace(n, &tangent[0], &tangent[1]);
    }
    c.tangentRows[0] =
        FrictionRow(tangent[0], rA, rB, sa.invMass, sb.invMass, sa.invInertia, sb.invInertia, ia != 0, ib != 0);
    c.tangentRows[1] =
        FrictionRow(tangent[1], rA, rB, sa.invMass, sb.invMass, sa.invInertia, sb.invInertia, ia != 0, ib != 0);
    Vec3 twistA = ia ? Mat3_Mul(sa.invInertia, n) : V3(0, 0, 0), twistB = ib ? Mat3_Mul(sb.invInertia, n) : V3(0, 0, 0);
    c.twistA = Lanes_FromVec3(twistA);
    c.twistB = Lanes_FromVec3(twistB);
    float kt = Vec3_Dot(n, twistA) + Vec3_Dot(n, twistB);
    c.twistMass = kt > 1e-12f && std::isfinite(kt) ? 1.0f / kt : 0.0f;
    c.twistImpulse = 0.0f;
    // Friction keeps its impulses while the normal stays about the same.
    if (prev && prev->hasFriction && Vec3_Dot(prev->frictionNormal, n) > 0.99f) {
      c.tangentRows[0].impulse = Vec3_Dot(prev->frictionImpulse, tangent[0]) * params.hRatio;
      c.tangentRows[1].impulse = Vec3_Dot(prev->frictionImpulse, tangent[1]) * params.hRatio;
      c.twistImpulse = prev->twistImpulse * params.hRatio;
    }
    m.constraint = cs->constraints.Count();
    cs->constraints.CommitSlot();
  }
}

void ContactSolver_WarmStart(ContactSolver* cs, SolverBodyState* states) {
  const Lanes zero{0, 0, 0, 0};
  for (ContactConstraint& c : cs->constraints) {
    // A contact that carries nothing (a gap kept speculatively) adds nothing.
    if (!LaneMask_Bits(c.normalImpulse != zero) && c.tangentRows[0].impulse == 0.0f &&
        c.tangentRows[1].impulse == 0.0f && c.twistImpulse == 0.0f)
      continue;
    SolverBodyState& A = states[c.a];
    SolverBodyState& B = states[c.b];
    ApplyPoints(A, B, c, c.normalImpulse);
    ApplyFriction(A, B, c, c.tangentRows[0].impulse, c.tangentRows[1].impulse);
    SolverBody_Store(&A.w, SolverBody_Load(&A.w) + c.twistA * c.twistImpulse);
    SolverBody_Store(&B.w, SolverBody_Load(&B.w) - c.twistB * c.twistImpulse);
  }
}

void ContactSolver_Solve(ContactSolver* cs, SolverBodyState* states, const ContactSolverParams& params,
                         float invDt, bool useBias) {
  const Lanes zero{0, 0, 0, 0}, one{1, 1, 1, 1};
  for (ContactConstraint& c : cs->constraints) {
    SolverBodyState& A = states[c.a];
    SolverBodyState& B = states[c.b];
    // The bodies' turns since the step began as rotation vectors: an anchor r
    // turned by a small rotation t moves by t x r, which changes the
    // separation along n by t . (r x n).
    Vec3 turnA = TurnOf(A.dq), turnB = TurnOf(B.dq);
    Vec3 moved = A.dp - B.dp;
    Lanes s = c.separation + Dot(c.pointNormal, moved) + Dot(c.angA, turnA) - Dot(c.angB, turnB);
    // The soft-constraint terms of each point: a gap is closed exactly
    // (speculatively: it only acts if the bodies would close it, no more);
    // a penetration is pushed out softly while solving with bias.
    LaneMask speculative = s > zero;
    Lanes bias = Lanes_Select(speculative, s * invDt, zero), ms = one, is = zero;
    if (useBias) {
      Lanes depth = Lanes_Min(s + params.slop, zero);
      bias = Lanes_Select(speculative, bias, Lanes_Max(depth * c.soft.biasRate, Lanes_Splat(-params.maxPushSpeed)));
      ms = Lanes_Select(speculative, one, Lanes_Splat(c.soft.massScale));
      is = Lanes_Select(speculative, zero, Lanes_Splat(c.soft.impulseScale));
    }
    Vec3 dv = A.v - B.v;
    Lanes vn = Dot(c.pointNormal, dv) + Dot(c.angA, A.w) - Dot(c.angB, B.w);
    // A gap that will not close and holds no impulse stays out of the block.
    LaneMask active = FirstLanes(c.pointCount) & ~(speculative & (c.normalImpulse == zero) & (vn + bias >= zero));
    if (c.pointCount < 2 || !SolveBlock(&c, A, B, vn, bias, ms, is, active)) {
      for (int j = 0; j < c.pointCount; ++j) {
        // Relaxation takes the points in reverse: the point solved last is
        // served best, and always favouring the same corner tilts stacks.
        int k = useBias ? j : c.pointCount - 1 - j;
        Vec3 n = PointVec(c.pointNormal, k);
        float v = Vec3_Dot(n, A.v - B.v) + Vec3_Dot(PointVec(c.angA, k), A.w) - Vec3_Dot(PointVec(c.angB, k), B.w);
        float old = c.normalImpulse[k];
        float impulse = -c.normalMass[k] * ms[k] * (v + bias[k]) - is[k] * (old - c.restImpulse[k]);
        float next = AtLeast(old + impulse, 0.0f);
        impulse = next - old;
        c.normalImpulse[k] = next;
        c.maxNormalImpulse[k] = AtLeast(c.maxNormalImpulse[k], impulse);
        Apply(A, B, c, n, PointVec(c.wA, k), PointVec(c.wB, k), impulse);
      }
    }
    Lanes impulses = c.normalImpulse;
    float total = (impulses[0] + impulses[1]) + (impulses[2] + impulses[3]);
    const Vec3 n = c.normal;
    float bound = c.friction * total;
    ContactFrictionRow& r0 = c.tangentRows[0];
    ContactFrictionRow& r1 = c.tangentRows[1];
    // A gap that carries nothing has no friction to give (nor to take back).
    if (bound > 0.0f || r0.impulse != 0.0f || r1.impulse != 0.0f) {
      // Both directions together, bounded as a disc: clamping each
      // direction on its own would turn the friction force off the sliding
      // direction.
      Lanes vA = SolverBody_Load(&A.v), wA = SolverBody_Load(&A.w);
      Lanes vB = SolverBody_Load(&B.v), wB = SolverBody_Load(&B.w);
      Lanes dvf = vA - vB;
      Lanes vt = Lanes_Sums(r0.dir * dvf + r0.angA * wA - r0.angB * wB, r1.dir * dvf + r1.angA * wA - r1.angB * wB,
                            zero, zero);
      float next0 = r0.impulse - r0.mass * vt[0], next1 = r1.impulse - r1.mass * vt[1];
      float len2 = next0 * next0 + next1 * next1;
      if (len2 > bound * bound) {
        float k = len2 > 0.0f ? bound / std::sqrt(len2) : 0.0f;
        next0 *= k;
        next1 *= k;
      }
      float i0 = next0 - r0.impulse, i1 = next1 - r1.impulse;
      r0.impulse = next0;
      r1.impulse = next1;
      ApplyFriction(A, B, c, i0, i1);
    }
    // As with the friction rows, a twist impulse kept from the last step
    // where the contact now carries nothing is taken back (applied by every
    // warm start, it would otherwise spin the bodies up for ever).
    float twistBound = bound * c.twistRadius;
    if (twistBound > 0.0f || c.twistImpulse != 0.0f) {
      float vw = Vec3_Dot(n, A.w - B.w);
      float next = c.twistImpulse - c.twistMass * vw;
      next = Clamp(next, -twistBound, twistBound);
      float impulse = next - c.twistImpulse;
      c.twistImpulse = next;
      SolverBody_Store(&A.w, SolverBody_Load(&A.w) + c.twistA * impulse);
      SolverBody_Store(&B.w, SolverBody_Load(&B.w) - c.twistB * impulse);
    }
  }
}

void ContactSolver_ApplyRestitution(ContactSolver* cs, SolverBodyState* states, float threshold) {
  for (ContactConstraint& c : cs->constraints) {
    if (c.restitution <= 0.0f) continue;
    SolverBodyState& A = states[c.a];
    SolverBodyState& B = states[c.b];
    for (int k = 0; k < c.pointCount; ++k) {
      if (c.relativeVelocity[k] > -threshold || c.maxNormalImpulse[k] <= 0.0f) continue;
      Vec3 n = PointVec(c.pointNormal, k);
      float vn = Vec3_Dot(n, A.v - B.v) + Vec3_Dot(PointVec(c.angA, k), A.w) - Vec3_Dot(PointVec(c.angB, k), B.w);
      float impulse = -c.normalMass[k] * (vn + c.restitution * c.relativeVelocity[k]);
      float next = AtLeast(c.normalImpulse[k] + impulse, 0.0f);
      impulse = next - c.normalImpulse[k];
      c.normalImpulse[k] = next;
      Apply(A, B, c, n, PointVec(c.wA, k), PointVec(c.wB, k), impulse);
    }
  }
}

void ContactSolver_Store(const ContactSolver* cs, SolverManifold* manifolds, const ContactSolverParams& params) {
  for (const ContactConstraint& c : cs->constraints) {
    SolverManifold& m = manifolds[c.manifold];
    // The load in effective weights of the pair (a stack of n unit boxes puts
    // about 2n on its lowest box-on-box contact).
    float total = 0.0f;
    for (int k = 0; k < c.pointCount; ++k) total += c.normalImpulse[k];
    float weight = params.weightImpulse / (c.invMassA + c.invMassB);
    float carried = weight > 0.0f ? total / weight : 0.0f;
    float follow = params.loadFollow;
    if (carried > params.loadFollowWeights) {
      float r = params.loadFollowWeights / carried;
      follow *= r * r * r;
    }
    // A load not remembered is forgotten as it would be followed (a pair
    // one of which was asleep when it was remembered, or a contact between
    // two moving bodies that stopped bearing on all of its points alike).
    bool alike = c.a != 0 && c.b != 0 && (c.keepsLoad & 1) != 0;
    for (int q = 0; alike && q < c.pointCount; ++q) alike = 2.0f * float(c.pointCount) * c.normalImpulse[q] >= total;
    float kept = c.keptLoad + follow * ((alike ? total : 0.0f) - c.keptLoad);
    for (int k = 0; k < m.m.count; ++k) {
      if (c.pointOf[k] < 0) {
        m.impulses[k] = m.loads[k] = 0.0f;
        continue;
      }
      int q = c.pointOf[k];
      m.impulses[k] = c.normalImpulse[q];
      if (c.a != 0 && c.b != 0) {
        // The contact's load, kept with its points as they carry it.
        m.loads[k] = total > 0.0f ? kept * (c.normalImpulse[q] / total) : 0.0f;
      } else {
        float load = (c.keepsLoad >> q) & 1 ? c.normalImpulse[q] : 0.0f;
        m.loads[k] = c.restImpulse[q] + follow * (load - c.restImpulse[q]);
      }
    }
    m.frictionImpulse =
        Lanes_ToVec3(c.tangentRows[0].dir * c.tangentRows[0].impulse + c.tangentRows[1].dir * c.tangentRows[1].impulse);
    m.twistImpulse = c.twistImpulse;
    m.frictionNormal = c.normal;
    m.hasFriction = true;
  }
}
