#include "physics/base/phys_object.h"

PhysObject::PhysObject() : allocSize(uint32_t(PhysObject_TakeTrackedSize(this))) {}

PhysObject::~PhysObject() {
  destroying = true;
  PhysObject_NotifyDependents(this, PHYS_NOTIFY_DESTROYED);
  dependents.Release();
}

void PhysObject::UnlinkChildren() {
  for (int i = 0; i < GetChildCount(); ++i) {
    PhysObject* child = GetChild(i);
    if (child) PhysObject_RemoveDependent(child, this);
  }
}

int PhysObject::Notify(PhysObject*, uint32_t, int) { return 2; }

void PhysObject_Construct(PhysObject* object) {
  if (!object) return;
  object->dependents.Clear();
  object->destroying = false;
}

void PhysObject_Destroy(PhysObject* object) { delete object; }

int PhysObject_AddDependent(PhysObject* object, PhysObject* dependent, uint32_t id, uint8_t flag) {
  if (!object || !dependent) return 0;
  PhysDependentLink link{};
  link.dependent = dependent;
  link.id = id & 0xFFFFFFu;
  link.flag = flag;
  return object->dependents.Push(link);
}

int PhysObject_RemoveDependent(PhysObject* object, PhysObject* dependent) {
  if (!object) return 0;
  int removed = 0;
  for (int i = object->dependents.Count() - 1; i >= 0; --i) {
    if (object->dependents[i].dependent == dependent) {
      object->dependents.RemoveAt(i);
      ++removed;
    }
  }
  return removed;
}

int PhysObject_HasDependent(const PhysObject* object, const PhysObject* dependent) {
  if (!object) return 0;
  for (const PhysDependentLink& l : object->dependents)
    if (l.dependent == dependent) return 1;
  return 0;
}

void PhysObject_NotifyDependents(PhysObject* object, int mode) {
  if (!object || object->dependents.Empty()) return;
  // Walk a snapshot: a dependent may drop its own or other links when told.
  PhysArray<PhysDependentLink, PHYS_MEM_DEPENDENTS> snapshot;
  if (!snapshot.Reserve(object->dependents.Count())) return;
  for (const PhysDependentLink& l : object->dependents) snapshot.Push(l);
  for (const PhysDependentLink& l : snapshot) {
    bool present = false;
    for (const PhysDependentLink& cur : object->dependents)
      if (cur.dependent == l.dependent && cur.id == l.id) { present = true; break; }
    if (present) l.dependent->Notify(object, l.id, mode);
  }
}

void PhysObject_UnlinkChildren(PhysObject* object) {
  if (object) object->UnlinkChildren();
}
int PhysObject_GetChildCountDefault(const PhysObject*) { return 0; }
PhysObject* PhysObject_GetChildDefault(const PhysObject*, int) { return nullptr; }
int PhysObject_NotifyDefault(PhysObject*, PhysObject*, uint32_t, int) { return 2; }
