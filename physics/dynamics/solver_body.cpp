#include "physics/dynamics/solver_body.h"

#include <cmath>
#include <cstring>

#include "common/assert.h"

#include "physics/dynamics/rigid_body.h"

SolverSoftness SolverSoftness_Make(float hertz, float dampingRatio, float dt) {
  if (!(hertz > 0.0f)) return {0.0f, 1.0f, 0.0f};
  float omega = 2.0f * 3.14159265f * hertz;
  float a1 = 2.0f * dampingRatio + dt * omega;
  float a2 = dt * omega * a1;
  float a3 = 1.0f / (1.0f + a2);
  return {omega / a1, a2 * a3, a3};
}

int SolverSet_Begin(SolverSet* set) {
  set->states.Clear();
  set->sims.Clear();
  SolverBodyState rest{V3(0, 0, 0), 0.0f, V3(0, 0, 0), 0.0f, V3(0, 0, 0), Quat_Identity()};
  SolverBodySim none{nullptr, 0.0f, Mat3_Zero(), V3(0, 0, 0), Quat_Identity(), V3(0, 0, 0), V3(0, 0, 0), false};
  return set->states.Push(rest) && set->sims.Push(none);
}

int SolverSet_Add(SolverSet* set, RigidBody* body, Vec3 gravity) {
  HELM_ASSERT(set->sims.Count() > 0 && body && SolverSet_IndexOf(set, body) == 0);
  if (!set->states.Reserve(set->states.Count() + 1) || !set->sims.Reserve(set->sims.Count() + 1)) return 0;
  SolverBodySim sim;
  sim.body = body;
  sim.invMass = body->invMass;
  sim.invInertia = body->invInertiaWorld;
  sim.com0 = RigidBody_GetCentreOfMassWorld(body);
  sim.q0 = body->pose.rotation;
  sim.accel = gravity + body->force * body->invMass;
  sim.angAccel = Mat3_Mul(body->invInertiaWorld, body->torque);
  sim.jointed = false;
  set->states.Push(
      SolverBodyState{body->linearVelocity, 0.0f, body->angularVelocity, 0.0f, V3(0, 0, 0), Quat_Identity()});
  set->sims.Push(sim);
  body->solverIndex = set->sims.Count() - 1;
  return body->solverIndex;
}

int SolverSet_IndexOf(const SolverSet* set, const RigidBody* body) {
  if (!body) return 0;
  int i = body->solverIndex;
  return (i > 0 && i < set->sims.Count() && set->sims[i].body == body) ? i : 0;
}

void SolverSet_IntegrateVelocities(SolverSet* set, float dt) {
  SolverBodyState* s = set->states.Data();
  const SolverBodySim* m = set->sims.Data();
  for (int i = 1; i < set->states.Count(); ++i) {
    s[i].v += m[i].accel * dt;
    s[i].w += m[i].angAccel * dt;
  }
}

void SolverSet_IntegratePositions(SolverSet* set, float dt) {
  SolverBodyState* s = set->states.Data();
  float h = 0.5f * dt;
  for (int i = 1; i < set->states.Count(); ++i) {
    s[i].dp += s[i].v * dt;
    // Quat_Integrate in lanes: dq += (w, 0) dq h, renormalised. The pad
    // (lane 3 of w) is zero, so the cross product's lane 3 is too.
    Lanes w = SolverBody_Load(&s[i].w), q;
    std::memcpy(&q, &s[i].dq, sizeof q);
    Lanes d = Lanes_Cross(w, q) + w * q[3];
    d[3] = -Lanes_Dot3(w, q);
    q += d * h;
    Lanes q2 = q * q;
    float l2 = (q2[0] + q2[1]) + (q2[2] + q2[3]);
    if (!(l2 > 1e-30f) || !std::isfinite(l2)) {
      s[i].dq = Quat_Identity();
      continue;
    }
    q *= 1.0f / std::sqrt(l2);
    std::memcpy(&s[i].dq, &q, sizeof q);
  }
}

Transform SolverSet_EndPose(const SolverSet* set, int index) {
  HELM_ASSERT(index > 0 && index < set->sims.Count());
  const SolverBodyState& s = set->states[index];
  const SolverBodySim& m = set->sims[index];
  Quat q = Quat_Normalize(s.dq * m.q0);
  Vec3 com = m.com0 + s.dp;
  return Transform{q, com - Quat_Rotate(q, m.body->comOffset)};
}

void SolverSet_WriteVelocities(SolverSet* set) {
  for (int i = 1; i < set->sims.Count(); ++i) {
    RigidBody* b = set->sims[i].body;
    b->linearVelocity = set->states[i].v;
    b->angularVelocity = set->states[i].w;
  }
}

void SolverSet_End(SolverSet* set) {
  for (int i = 1; i < set->sims.Count(); ++i) set->sims[i].body->solverIndex = -1;
  set->states.Clear();
  set->sims.Clear();
}
