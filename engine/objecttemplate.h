// Object configuration files and templates. An object is described by an
// object configuration file (a compiled configuration, section "Object",
// subsection "Description"). ObjectTemplate_Load reads the file once into an
// ObjectTemplate (the behaviour parameters that callbacks read later) and an
// object description, and makes the first object from them; that object is
// kept as the template object, and every later load of the same path makes a
// cheap second instance of it with Object_CreateFromTemplate.
//
// Keys (missing ones keep their defaults): Name, VisualModel,
// PhysicalModel, ShadowName, ShadowMask, ShadowPixelHeight, ShadowSize
// ("x,y"), VisualIsLooping, VisualIsLit (two-sided), VisualIsWriteable, Mass,
// Friction (1.0), Restitution (below 0 read as 0), Concave, Composite,
// Scalable, Active, Phantom, Pinned, noTextureSharing, limitSpinXAxis,
// limitSpinYAxis, limitSpinZAxis, centreOfMassShift ("x,y,z"),
// CollisionGroup (a bit word: group g is bit g - 1; 0 collides with
// nothing), RemoveFromPickList, MotionDamping, RotationDamping, the callback
// names Constructor, Destructor, Update and Collision, and the template
// values FPVal0-9, U32Val0-9, S32Val0-9, Vector3dVal0-9, StringVal0-9 and
// BoolVal0-31.
//
// Templates live in one pool from ObjectTemplate_Init to
// ObjectTemplate_Shutdown. A template whose object has been destroyed is
// not used again: the next load of its path reads the file afresh.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct List;
struct Node;
struct Object;

constexpr int TEMPLATE_VALUES = 10;
constexpr int TEMPLATE_STRING_MAX = 256;
constexpr int TEMPLATE_BOOLS = 32;

struct ObjectTemplate {
    uint32_t pathHash;  // Name_Hash (path, 0, 1)
    uint32_t nameHash;  // Name_Hash (Name, 0, 1)
    Object* object;     // the template object; null once it was destroyed
    float fpVal[TEMPLATE_VALUES];
    uint32_t u32Val[TEMPLATE_VALUES];
    int32_t s32Val[TEMPLATE_VALUES];
    Vec3 vector3dVal[TEMPLATE_VALUES];
    char stringVal[TEMPLATE_VALUES][TEMPLATE_STRING_MAX];
    uint32_t boolVals;  // bit i = BoolVal i
    // What a second instance needs to load a writeable visual of its own.
    char visualModel[1024];
    uint32_t visualFlags;
};

// Visual load flags of a VisualModel text (case ignored): ".lwo" gives 1
// for writeable and 2 for two-sided ("VisualIsLit"); ".lws" gives 8 for
// writeable, 2 for two-sided and 1 for looping; other texts give 0.
uint32_t ObjectTemplate_VisualFlags(const char* visualModel, int writeable, int lit, int looping);

int ObjectTemplate_Init(void);
void ObjectTemplate_Shutdown(void);
// Makes an object from the configuration file at path (see above). node
// (may be null) is the node the object takes. With skipStatic set, a file
// whose VisualModel is not "NOVISUAL", whose PhysicalModel is
// "NOCOLLISION" and whose Mass is 0 makes nothing. Null when the file
// cannot be opened, the template pool is full, the object is skipped or not
// made.
Object* ObjectTemplate_Load(const char* path, Node* node, List* pool, int skipStatic);
// The first template whose path hash or name hash equals Name_Hash (text,
// 0, 1), or null.
ObjectTemplate* ObjectTemplate_Find(const char* pathOrName);
// BoolVal i of the template; 0 for i of 32 or more (or a null template).
int ObjectTemplate_GetBool(const ObjectTemplate* t, int i);
// Number of templates in the pool.
uint32_t ObjectTemplate_Count(void);
// Called by Object_Destroy for a template object: the template forgets it.
void ObjectTemplate_ForgetObject(ObjectTemplate* t);
