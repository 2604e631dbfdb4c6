#include "physics/dynamics/subspace.h"

#include "physics/dynamics/action.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"

namespace {
constexpr uint32_t kLinkBody = 1;
constexpr uint32_t kLinkAction = 2;
}  // namespace

Subspace::~Subspace() {
  while (!entities.Empty()) Subspace_DetachEntity(this, entities.Back());
  for (ActionEntry& e : actions) PhysObject_RemoveDependent(e.action, this);
  actions.Release();
  entities.Release();
}

int Subspace::Notify(PhysObject* source, uint32_t id, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED) return 2;
  if (id == kLinkBody) {
    Subspace_DetachEntity(this, static_cast<RigidBody*>(source));
    return 1;
  }
  if (id == kLinkAction && source->destroying) {
    for (int i = 0; i < actions.Count(); ++i)
      if (actions[i].action == source) {
        actions.RemoveAt(i);
        break;
      }
    return 1;
  }
  return 2;
}

Subspace* RigidSubspace_Construct() { return new Subspace(); }

int RigidSubspace_SetIntegrator(Subspace* subspace, int integrator) {
  if (!subspace || integrator != 0) return 0;
  subspace->integrator = integrator;
  return 1;
}

int Subspace_AddAction(Subspace* subspace, Action* action, int priority) {
  if (!subspace || !action) return 0;
  for (const Subspace::ActionEntry& e : subspace->actions)
    if (e.action == action) return 1;
  Subspace::ActionEntry entry{action, priority, subspace->nextOrder++};
  int at = subspace->actions.Count();
  while (at > 0 && subspace->actions[at - 1].priority > priority) --at;
  if (!subspace->actions.Push(entry)) return 0;
  for (int i = subspace->actions.Count() - 1; i > at; --i)
    subspace->actions[i] = subspace->actions[i - 1];
  subspace->actions[at] = entry;
  PhysObject_AddDependent(action, subspace, kLinkAction, 0);
  return 1;
}

int Subspace_RemoveAction(Subspace* subspace, Action* action) {
  if (!subspace || !action) return 0;
  for (int i = 0; i < subspace->actions.Count(); ++i) {
    if (subspace->actions[i].action == action) {
      subspace->actions.RemoveAt(i);
      PhysObject_RemoveDependent(action, subspace);
      return 1;
    }
  }
  return 0;
}

int Subspace_AttachEntity(Subspace* subspace, RigidBody* body) {
  if (!subspace || !body) return 0;
  if (body->subspace == subspace) return 1;
  if (body->subspace) Subspace_DetachEntity(body->subspace, body);
  // Keep the list ordered by body id: the step walks it, and the order of
  // addition must not change the results.
  int at = subspace->entities.Count();
  while (at > 0 && subspace->entities[at - 1]->id > body->id) --at;
  if (!subspace->entities.Push(body)) return 0;
  for (int i = subspace->entities.Count() - 1; i > at; --i)
    subspace->entities[i] = subspace->entities[i - 1];
  subspace->entities[at] = body;
  body->subspace = subspace;
  body->sleepTime = body->slowTime = 0.0f;
  RigidBody_UpdateWorldInertia(body);
  PhysObject_AddDependent(body, subspace, kLinkBody, 0);
  return 1;
}

void Subspace_DetachEntity(Subspace* subspace, RigidBody* body) {
  if (!subspace || !body || body->subspace != subspace) return;
  if (subspace->simulation) Simulation_BodyLeaves(subspace->simulation, body, body->destroying);
  for (int i = 0; i < subspace->entities.Count(); ++i) {
    if (subspace->entities[i] == body) {
      subspace->entities.RemoveAt(i);
      break;
    }
  }
  body->subspace = nullptr;
  PhysObject_RemoveDependent(body, subspace);
}
