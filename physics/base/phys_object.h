// PhysObject: the common base of every engine object that others can depend
// on. An object keeps a list of dependents (links: dependent object, 24-bit
// id, flag byte); destroying it sends each dependent the destruction notice
// (mode 1) before the memory goes, so nobody keeps a pointer to a dead object.
#pragma once
#include <cstddef>
#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/base/phys_memory.h"

enum PhysNotifyMode {
  PHYS_NOTIFY_DESTROYED = 1,  // the source is being destroyed or leaves its world
};

class PhysObject;

struct PhysDependentLink {
  PhysObject* dependent;
  uint32_t id : 24;   // chosen by whoever added the link, handed back in Notify
  uint32_t flag : 8;
};

class PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_OBJECT)

  // PhysObject_Construct: an empty dependents list and the default slots.
  PhysObject();
  PhysObject(const PhysObject&) = delete;
  PhysObject& operator=(const PhysObject&) = delete;
  // Slot 0, destroy: sends mode 1 to every dependent, then frees the list.
  // Objects from new are destroyed with delete (PhysObject_Destroy).
  virtual ~PhysObject();
  // Slot 1: removes this object from the dependents list of each of its
  // children (child count asked again after each child).
  virtual void UnlinkChildren();
  // Slots 2 and 3: the objects this one depends on, for UnlinkChildren.
  virtual int GetChildCount() const { return 0; }
  virtual PhysObject* GetChild(int) const { return nullptr; }
  // Slot 4: called on this object as a dependent of source. The default does
  // nothing and returns 2.
  virtual int Notify(PhysObject* source, uint32_t id, int mode);

  // Size of the block the object was allocated in (0 for objects not made with
  // new, which must not be deleted).
  uint32_t allocSize;
  // Set while the destructor runs its notices: dependents told mode 1 can
  // tell a destruction (true) from a body leaving its world (false).
  bool destroying = false;

  PhysArray<PhysDependentLink, PHYS_MEM_DEPENDENTS> dependents;
};

// Constructs the base part of an object placed by its owner (the constructor
// already does this; kept for callers that build objects by hand).
void PhysObject_Construct(PhysObject* object);
// Destroys an object made with new (null ignored).
void PhysObject_Destroy(PhysObject* object);
// Adds a link (dependent, id, flag) to object's list; 0 on exhaustion or null.
int PhysObject_AddDependent(PhysObject* object, PhysObject* dependent, uint32_t id, uint8_t flag);
// Removes every link of dependent from object's list; returns how many.
int PhysObject_RemoveDependent(PhysObject* object, PhysObject* dependent);
// 1 when dependent has a link in object's list.
int PhysObject_HasDependent(const PhysObject* object, const PhysObject* dependent);
// Sends Notify(object, id, mode) to every dependent. Dependents may remove
// their links (or others') while being told; each link present when the call
// began and still present when its turn comes is told once.
void PhysObject_NotifyDependents(PhysObject* object, int mode);
// The default slots as functions.
void PhysObject_UnlinkChildren(PhysObject* object);
int PhysObject_GetChildCountDefault(const PhysObject* object);
PhysObject* PhysObject_GetChildDefault(const PhysObject* object, int i);
int PhysObject_NotifyDefault(PhysObject* object, PhysObject* dependent, uint32_t id, int mode);
