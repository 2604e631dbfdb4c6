// The contact constraints of one step: built from the step's manifolds,
// warm started from the impulses the same contact features carried in the
// last step, solved as soft constraints over the solver's sub-steps (see
// contact_solver.cpp for the model), and written back to the manifolds.
//
// The constraints live in one compact array walked in order; each holds its
// two solver body indices (0: immovable), its normal and, per point, the
// anchors and Jacobian terms fixed for the step, so a pass touches nothing
// but this array and the solver body states. A pass works on a
// constraint's points together, one per lane (see ContactConstraint).
#pragma once
#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/base/phys_lanes.h"
#include "physics/dynamics/solver_body.h"

struct SolverManifold;

// One friction direction at the manifold's centre; its vectors as lanes
// (x, y, z, 0), so that they meet the solver body states' v and w lane by
// lane.
struct ContactFrictionRow {
  Lanes dir;         // the tangent direction: J's linear part
  Lanes angA, angB;  // J's angular parts
  Lanes wA, wB;      // inverse inertia times them
  float mass;
  float impulse;
};

// A manifold's points lie side by side in lanes (lane k: point k), so that
// a pass works on all of them at once; the lanes past pointCount hold zeros,
// which weigh nothing.
struct ContactConstraint {
  Lanes pointNormal[3];      // x, y, z of each point's normal, from b towards a (points against a mesh may differ)
  Lanes angA[3], angB[3];    // rA x n, rB x n for the anchors rA, rB from the centres of mass
  Lanes wA[3], wB[3];        // inverse inertia times angA, angB
  Lanes separation;          // at the step's start (< 0: penetration)
  Lanes normalMass;          // 1 / (J M^-1 J^T), 0 when neither body moves along n
  Lanes normalImpulse;       // accumulated over the step (warm started)
  Lanes restImpulse;         // the load remembered for the point: the soft push relaxes to it (0 between moving bodies)
  Lanes maxNormalImpulse;    // largest impulse applied in one pass: restitution acts only where > 0
  Lanes relativeVelocity;    // normal velocity at the step's start (< 0: approaching)
  Lanes inverseCoupling[4];  // columns of the inverse of the regularised coupling below, when blockValid
  float k[10];               // the points' normal rows' coupling J M^-1 J^T, lower triangle by rows
  int32_t a, b;              // solver bodies
  int32_t manifold;          // index into the step's manifolds
  int32_t pointCount;        // 1..4
  float invMassA, invMassB;
  Vec3 normal;          // mean of the points' normals (friction acts across it)
  float friction;       // combined coefficient
  float restitution;    // combined coefficient
  float twistRadius;    // mean distance of the points from their centre (twist friction arm)
  SolverSoftness soft;  // stiffer against immovable bodies
  bool blockValid;      // inverseCoupling holds the inverse for all points
  int8_t factoredBits;  // the points whose coupling `factor` holds the Cholesky factor of (0: none)
  float factor[10];
  ContactFrictionRow tangentRows[2];
  Lanes twistA, twistB;  // inverse inertia times n, for friction about the normal (lanes x, y, z, 0)
  float twistMass;
  float twistImpulse;
  int8_t keepsLoad;   // the points whose load is remembered (bit per point)
  float keptLoad;     // between two moving bodies: the contact's remembered load (at most its warm start's)
  int8_t pointOf[4];  // per manifold point: its constraint point, -1 when left out
};

struct ContactSolverParams {
  float h;                    // step length
  float hRatio;               // this step's length over the last one's: warm starts scale by it
  SolverSoftness soft;        // contacts between two moving bodies
  SolverSoftness staticSoft;  // contacts with an immovable body
  float maxPushSpeed;         // fastest separation that recovering a penetration may cause
  float slop;                 // penetration left to rest on
  float speculative;          // gap within which points are always kept
  float weightImpulse;        // impulse per solver sub-step of gravity on a unit mass
  // Each step a point's remembered load moves this fraction of the way to
  // the impulse it carried (or to zero where it is not remembered: see
  // contact_solver.cpp); less, by the cube of the ratio, on a contact
  // carrying more than loadFollowWeights times its pair's effective weight.
  float loadFollow;
  float loadFollowWeights;
};

struct ContactSolver {
  PhysArray<ContactConstraint, PHYS_MEM_SOLVER> constraints;
};

// Builds the constraints of the manifolds that have a moving body (dead and
// phantom ones, and those of bodies out of the step, are left out), warm
// started from `previous` (ordered by key), or for a pair not there from
// `resting` (the same, of pairs that went to sleep): a point takes the
// impulse of the old point with the same features, or of the nearest old
// point within 2 cm. Each manifold's `constraint` is set (-1 when left out).
void ContactSolver_Prepare(ContactSolver* cs, SolverManifold* manifolds, int count, const SolverManifold* previous,
                           int previousCount, const SolverManifold* resting, int restingCount, const SolverSet* set,
                           const ContactSolverParams& params);
// Applies the accumulated impulses (once per sub-step, before the solve).
void ContactSolver_WarmStart(ContactSolver* cs, SolverBodyState* states);
// One pass over the constraints: with bias, penetration is pushed out softly
// and gaps closed speculatively; without (relaxation), only the velocity
// error is removed, so the push leaves no energy behind.
void ContactSolver_Solve(ContactSolver* cs, SolverBodyState* states, const ContactSolverParams& params,
                         float invDt, bool useBias);
// Bounces points that approached faster than the threshold and pushed.
void ContactSolver_ApplyRestitution(ContactSolver* cs, SolverBodyState* states, float threshold);
// Writes the impulses back to the manifolds for the next step's warm start,
// and moves each point's remembered load part of the way to the impulse it
// carried, or to zero where it is not remembered (see
// ContactSolverParams::loadFollow).
void ContactSolver_Store(const ContactSolver* cs, SolverManifold* manifolds, const ContactSolverParams& params);
