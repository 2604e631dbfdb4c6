#include "physics/dynamics/dyn_world.h"

#include "physics/base/phys_timer.h"
#include "physics/dynamics/simulation.h"

DynWorld::~DynWorld() {
  for (Simulation* s : simulations) {
    PhysObject_RemoveDependent(s, this);
    if (s->world == this) s->world = nullptr;
  }
  simulations.Release();
}

int DynWorld::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode == PHYS_NOTIFY_DESTROYED && source->destroying) {
    // Compare as PhysObject: the simulation part is already destroyed.
    for (int i = 0; i < simulations.Count(); ++i)
      if (static_cast<PhysObject*>(simulations[i]) == source) {
        simulations.RemoveAt(i);
        return 1;
      }
  }
  return 2;
}

DynWorld* DynWorld_Construct(int version) {
  DynWorld* w = new DynWorld();
  if (w) w->version = version;
  return w;
}

int DynWorld_AddSimulation(DynWorld* world, Simulation* sim) {
  if (!world || !sim) return 0;
  if (world->simulations.Find(sim) >= 0) return 1;
  if (!world->simulations.Push(sim)) return 0;
  sim->world = world;
  PhysObject_AddDependent(sim, world, 0, 0);
  return 1;
}

void DynWorld_Step(DynWorld* world, PhysTime time, int n) {
  if (!world || n <= 0) return;
  double target = PhysTime_ToSeconds(time);
  if (!std::isfinite(target)) return;
  PhysTimerScope timer(PhysTimer_Find("/Timer/Physics"));
  for (int i = 0; i < world->simulations.Count(); ++i)
    Simulation_StepTo(world->simulations[i], target, n);
}
