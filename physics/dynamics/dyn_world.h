// DynWorld: the container of simulations, stepped to an absolute time.
#pragma once
#include <cstdint>

#include "physics/base/phys_object.h"
#include "physics/dynamics/phys_time.h"

class Simulation;

class DynWorld : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_WORLD)
  ~DynWorld() override;
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  int version = 0;
  PhysArray<Simulation*, PHYS_MEM_WORLD> simulations;  // not owned
};

// -> an empty world with a version stamp (kept, not interpreted).
DynWorld* DynWorld_Construct(int version);
int DynWorld_AddSimulation(DynWorld* world, Simulation* sim);
// Advances every simulation to the absolute time in n equal sub-steps
// (n = 0 does nothing). Events are dispatched inside this call.
void DynWorld_Step(DynWorld* world, PhysTime time, int n);
