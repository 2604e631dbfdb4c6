#include "engine/objecttemplate.h"

#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/scene.h"

namespace {

struct TemplateModule {
    List* templates;  // ObjectTemplate pool
};
TemplateModule g_templates;

struct FindArg {
    uint32_t hash;
};

int MatchHash(void* item, void* arg)
{
    const ObjectTemplate* t = static_cast<const ObjectTemplate*>(item);
    uint32_t h = static_cast<FindArg*>(arg)->hash;
    return t->pathHash == h || t->nameHash == h;
}

int Contains(const char* text, const char* part) { return String_FindNoCase(text, part) != nullptr; }

void GetBool(ConfigNode* cfg, const char* key, uint32_t* out)
{
    uint32_t v = 0;
    if (Config_GetBool(cfg, key, &v)) *out = v;
}

// The callback of a name, or null for an unknown or empty name (the object
// is made without it).
CallbackFn Lookup(ConfigNode* cfg, const char* key, const char* path)
{
    char name[256];
    if (!Config_GetString(cfg, key, name, sizeof name) || !name[0]) return nullptr;
    CallbackFn fn = CallbackRegistry_Find(name);
    if (!fn) fprintf(stderr, "%s: %s \"%s\" is not registered\n", path, key, name);
    return fn;
}

// The description's keys in file order up to CollisionGroup.
void ReadDescription(ConfigNode* cfg, ObjectDescription* d, uint32_t* looping, uint32_t* lit, uint32_t* writeable,
                     uint32_t* concave)
{
    Config_GetString(cfg, "Name", d->name, sizeof d->name);
    Config_GetString(cfg, "VisualModel", d->visualModel, sizeof d->visualModel);
    Config_GetString(cfg, "PhysicalModel", d->physicalModel, sizeof d->physicalModel);
    Config_GetString(cfg, "ShadowName", d->shadowName, sizeof d->shadowName);
    Config_GetString(cfg, "ShadowMask", d->shadowMask, sizeof d->shadowMask);
    Config_GetInt(cfg, "ShadowPixelHeight", &d->shadowPixelHeight);
    Config_GetVector2(cfg, "ShadowSize", d->shadowSize);
    GetBool(cfg, "VisualIsLooping", looping);
    GetBool(cfg, "VisualIsLit", lit);
    GetBool(cfg, "VisualIsWriteable", writeable);
    Config_GetFloat(cfg, "Mass", &d->mass);
    Config_GetFloat(cfg, "Friction", &d->friction);
    Config_GetFloat(cfg, "Restitution", &d->restitution);
    if (d->restitution < 0.0f) d->restitution = 0.0f;
    GetBool(cfg, "Concave", concave);
    GetBool(cfg, "Composite", &d->composite);
    GetBool(cfg, "Scalable", &d->scalable);
    GetBool(cfg, "Active", &d->active);
    GetBool(cfg, "Phantom", &d->phantom);
    GetBool(cfg, "Pinned", &d->pinned);
    GetBool(cfg, "noTextureSharing", &d->noTextureSharing);
    GetBool(cfg, "limitSpinXAxis", &d->limitSpin[0]);
    GetBool(cfg, "limitSpinYAxis", &d->limitSpin[1]);
    GetBool(cfg, "limitSpinZAxis", &d->limitSpin[2]);
    float shift[3];
    if (Config_GetVector3(cfg, "centreOfMassShift", shift)) d->centreOfMassShift = Vec3{shift[0], shift[1], shift[2]};
    // A bit word written as a signed number: group 32 alone is -2147483648.
    int32_t group = 0;
    if (Config_GetInt(cfg, "CollisionGroup", &group)) d->collisionGroup = uint32_t(group);
}

void ReadValues(ConfigNode* cfg, ObjectTemplate* t)
{
    char key[32];
    for (int i = 0; i < TEMPLATE_VALUES; ++i) {
        snprintf(key, sizeof key, "FPVal%d", i);
        Config_GetFloat(cfg, key, &t->fpVal[i]);
    }
    for (int i = 0; i < TEMPLATE_VALUES; ++i) {
        int32_t v;
        snprintf(key, sizeof key, "U32Val%d", i);
        if (Config_GetInt(cfg, key, &v)) t->u32Val[i] = uint32_t(v);
    }
    for (int i = 0; i < TEMPLATE_VALUES; ++i) {
        snprintf(key, sizeof key, "S32Val%d", i);
        Config_GetInt(cfg, key, &t->s32Val[i]);
    }
    for (int i = 0; i < TEMPLATE_VALUES; ++i) {
        float v[3];
        snprintf(key, sizeof key, "Vector3dVal%d", i);
        if (Config_GetVector3(cfg, key, v)) t->vector3dVal[i] = Vec3{v[0], v[1], v[2]};
    }
    for (int i = 0; i < TEMPLATE_VALUES; ++i) {
        snprintf(key, sizeof key, "StringVal%d", i);
        Config_GetString(cfg, key, t->stringVal[i], TEMPLATE_STRING_MAX);
    }
    for (int i = 0; i < TEMPLATE_BOOLS; ++i) {
        uint32_t v = 0;
        snprintf(key, sizeof key, "BoolVal%d", i);
        if (Config_GetBool(cfg, key, &v) && v) t->boolVals |= 1u << i;
    }
}

}  // namespace

uint32_t ObjectTemplate_VisualFlags(const char* visualModel, int writeable, int lit, int looping)
{
    if (!visualModel) return 0;
    if (Contains(visualModel, ".lwo")) return (writeable ? 1u : 0u) | (lit ? 2u : 0u);
    if (Contains(visualModel, ".lws")) return (writeable ? 8u : 0u) | (lit ? 2u : 0u) | (looping ? 1u : 0u);
    return 0;
}

int ObjectTemplate_Init(void)
{
    if (!g_templates.templates) g_templates.templates = List_Create(sizeof(ObjectTemplate), 16);
    return g_templates.templates != nullptr;
}

namespace {
int ForgetTemplate(void* item, void*)
{
    ObjectTemplate* t = static_cast<ObjectTemplate*>(item);
    if (t->object && t->object->templateOf == t) t->object->templateOf = nullptr;
    return 0;
}
}  // namespace

void ObjectTemplate_Shutdown(void)
{
    if (!g_templates.templates) return;
    List_ForEach(g_templates.templates, ForgetTemplate, nullptr);
    List_Destroy(g_templates.templates);
    g_templates.templates = nullptr;
}

ObjectTemplate* ObjectTemplate_Find(const char* pathOrName)
{
    if (!pathOrName || !g_templates.templates) return nullptr;
    FindArg arg{Name_Hash(pathOrName, 0, 1)};
    if (!arg.hash) return nullptr;
    return static_cast<ObjectTemplate*>(List_ForEach(g_templates.templates, MatchHash, &arg));
}

int ObjectTemplate_GetBool(const ObjectTemplate* t, int i)
{
    if (!t || i < 0 || i >= TEMPLATE_BOOLS) return 0;
    return (t->boolVals >> i) & 1u;
}

uint32_t ObjectTemplate_Count(void) { return g_templates.templates ? List_Count(g_templates.templates) : 0; }

void ObjectTemplate_ForgetObject(ObjectTemplate* t)
{
    if (t) t->object = nullptr;
}

Object* ObjectTemplate_Load(const char* path, Node* node, List* pool, int skipStatic)
{
    if (!path || !ObjectTemplate_Init()) return nullptr;
    // A template whose object was destroyed cannot make instances: it goes,
    // and the file is read afresh.
    ObjectTemplate* found;
    while ((found = ObjectTemplate_Find(path)) && !found->object) List_Free(g_templates.templates, found);
    if (found) {
        if (!(found->object->flags & OBJECT_MADE_WHILE_LOADING)) {
            Object* o = Object_CreateFromTemplate(node, found->object, found, Node_GetParent(found->object->node),
                                                  pool);
            Scene_EnableSharing();
            return o;
        }
        Scene_DisableSharing();
    }

    ObjectDescription* d = static_cast<ObjectDescription*>(Mem_Calloc(sizeof(ObjectDescription), 16));
    if (!d) return nullptr;
    d->friction = 1.0f;
    ConfigNode* cfg = Config_Open(path);
    ObjectTemplate* t = cfg ? static_cast<ObjectTemplate*>(List_Alloc(g_templates.templates)) : nullptr;
    if (!t) {
        if (cfg) Config_Close(cfg);
        Mem_Free(d);
        Scene_EnableSharing();
        return nullptr;
    }
    Config_SetSection(cfg, "Object");
    Config_SetSubSection(cfg, "Description");
    snprintf(d->path, sizeof d->path, "%s", path);
    d->node = node;
    uint32_t looping = 0, lit = 0, writeable = 0, concave = 0;
    ReadDescription(cfg, d, &looping, &lit, &writeable, &concave);

    Object* o = nullptr;
    int skip = skipStatic && !Contains(d->visualModel, "NOVISUAL") && Contains(d->physicalModel, "NOCOLLISION") &&
               d->mass == 0.0f;
    if (!skip) {
        int32_t noPick = 0;
        if (Config_GetInt(cfg, "RemoveFromPickList", &noPick)) d->removeFromPickList = uint32_t(noPick);
        Config_GetFloat(cfg, "MotionDamping", &d->motionDamping);
        Config_GetFloat(cfg, "RotationDamping", &d->rotationDamping);
        d->constructor = reinterpret_cast<ObjectFn>(Lookup(cfg, "Constructor", path));
        d->destructor = reinterpret_cast<ObjectFn>(Lookup(cfg, "Destructor", path));
        d->update = reinterpret_cast<ObjectFn>(Lookup(cfg, "Update", path));
        d->collision = reinterpret_cast<ObjectCollisionFn>(Lookup(cfg, "Collision", path));
        ReadValues(cfg, t);
        d->visualFlags = ObjectTemplate_VisualFlags(d->visualModel, writeable, lit, looping);
        d->convex = concave != 1;
        d->templateRecord = t;
        d->parent = ObjectWorld_GetRootNode();
        t->nameHash = Name_Hash(d->name, 0, 1);
        t->pathHash = Name_Hash(path, 0, 1);
        snprintf(t->visualModel, sizeof t->visualModel, "%s", d->visualModel);
        t->visualFlags = d->visualFlags;
        o = Object_Create(pool, d);
    }
    if (o) {
        t->object = o;
        o->templateOf = t;
    } else {
        // Skipped or not made: the record goes back, so no later load finds
        // a template without an object.
        List_Free(g_templates.templates, t);
    }
    Config_Close(cfg);
    Mem_Free(d);
    Scene_EnableSharing();
    return o;
}
