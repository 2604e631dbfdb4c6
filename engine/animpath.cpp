// AnimPath behaviour: route following, distance clipping against the
// targets, knocks, vision picks, group stops and orientation steering.
//
// Parking: a parked follower is moved to its route point every update with
// its velocities zeroed and its body deactivated, so it neither falls nor
// gathers speed; its collision group (32 alone) collides with nothing that
// is not paired with it.
//
// Rounds: every AnimPath update counts; once each follower has updated, the
// round ends: the vision budget is renewed and a group whose followers fell
// behind in at least "followAnimsStoppedToStopAll" updates of the round is
// stopped.
#include "engine/animpath.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/config.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "engine/scene.h"
#include "engine/sceneplay.h"

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kKnockSpeed = 2.0f;
constexpr float kMoveToTurn = 0.025f;     // movement that updates the travel direction
constexpr float kPolePitch = 0.9f * kPi;  // at pointing almost straight down
constexpr uint32_t kRoundBudgetUsed = 2;  // round flag: the vision budget is used up
constexpr int kMaxGroups = 64;
constexpr float kDefaultDistance = 1000.0f;

struct Group {
    uint32_t hash;
    uint32_t stopped;  // the group's stop bit
    int32_t counter;   // followers that fell behind in this round
};

// The module record (one for the program).
struct Tuning {
    Object* targets[ANIMPATH_TARGETS];
    uint32_t targetSerials[ANIMPATH_TARGETS];
    int32_t objectCount;
    int32_t updateCounter;           // updates in the current round
    uint32_t roundFlags, nextRoundFlags;
    int32_t groupCount;
    Group groups[kMaxGroups];
    List* links;                     // PhysBody* that vision rays test
    int32_t visionTurn;              // order number of the follower whose turn it is
    int32_t nextOrder;
    int32_t picksMade;
    AnimPathTuning values;
    int (*random)(void);
};
Tuning* g_tuning;

// The behaviour-private data of one follower.
struct PathData {
    uint32_t groupHash;
    int32_t groupIndex;          // -1 none
    Node* routeNode;             // under the root node
    Scene* routeScene;           // a scene route, or null
    AnimSet* routeSet;           // an animation-set route, or null
    float startTime;
    float followRadius;
    float tuning[4];             // FPVal1-4, kept
    float maxSpeed;
    float speedReference;
    Vec3 damping;
    Vec3 angularGain;
    Node* routeItem;
    uint32_t flags;
    Vec3 lastPosition;
    Vec3 forward, up;
    PhysBody** link;             // its entry in the link pool, or null
    Vec3 visionLower, visionUpper;
    Vec3 lastOffsets;
    int32_t order;               // for the vision turns
};

PathData* DataOf(const Object* o)
{
    return o && o->constructor == AnimPath_Constructor ? static_cast<PathData*>(o->userData) : nullptr;
}

int Random(void) { return g_tuning && g_tuning->random ? g_tuning->random() : rand(); }

float Abs(float v) { return std::fabs(v); }

Vec3 Sub(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Add(Vec3 a, Vec3 b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Scale(Vec3 a, float s) { return Vec3{a.x * s, a.y * s, a.z * s}; }
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(Vec3 a) { return std::sqrt(Dot(a, a)); }
Vec3 Unit(Vec3 a)
{
    float l = Length(a);
    return l > 0.0f ? Scale(a, 1.0f / l) : Vec3{0, 0, 0};
}

void AddLink(PathData* d, PhysBody* body)
{
    if (d->link || !g_tuning || !g_tuning->links || !body) return;
    d->link = static_cast<PhysBody**>(List_Alloc(g_tuning->links));
    if (d->link) *d->link = body;
}

void RemoveLink(PathData* d)
{
    if (!d->link || !g_tuning) return;
    List_Free(g_tuning->links, d->link);
    d->link = nullptr;
}

// The "Route" item of the route's current scene.
Node* FindRouteItem(const PathData* d)
{
    Scene* scene = d->routeScene ? d->routeScene : (d->routeSet ? AnimSet_GetCurrentScene(d->routeSet) : nullptr);
    return scene ? Scene_FindItem(scene, "Route", 0) : nullptr;
}

// The route is moved along to a random time of its animation.
void RandomRouteTime(PathData* d)
{
    if (d->routeScene) Scene_SetTime(d->routeScene, float(Random() % 1000) * 0.001f * Scene_GetDuration(d->routeScene));
    if (d->routeSet) AnimSet_SetTime(d->routeSet, float(Random() % 1000) * 0.001f * AnimSet_GetLength(d->routeSet));
}

// Moves the route on by dt. A route set at its end plays the next
// animation (flag 2) or a random one (flag 1) from its start, and the
// "Route" item of that animation is found again.
void AdvanceRoute(PathData* d, float dt)
{
    if (d->routeScene) Scene_Advance(d->routeScene, dt);
    if (!d->routeSet || AnimSet_Advance(d->routeSet, dt, ANIMSET_ADVANCE_SCENE)) return;
    const int32_t count = int32_t(AnimSet_GetCount(d->routeSet));
    if (count <= 0) return;
    int32_t next = -1;
    if (d->flags & ANIMPATH_NEXT)
        next = (AnimSet_GetCurrentIndex(d->routeSet) + 1) % count;
    else if (d->flags & ANIMPATH_RANDOM_NEXT)
        next = Random() % count;
    if (next < 0) return;
    AnimSet_PlayIndex(d->routeSet, next);
    AnimSet_SetTime(d->routeSet, 0.0f);
    if (Node* item = FindRouteItem(d)) d->routeItem = item;
}

void Park(Object* o, PathData* d)
{
    RemoveLink(d);
    d->flags |= ANIMPATH_PARKED | ANIMPATH_FOLLOWING;
    d->flags &= ~uint32_t(ANIMPATH_KNOCKED | ANIMPATH_RANDOM_TIME);
    PhysBody_SetCollisionGroup(o->body, ANIMPATH_PARKED_GROUP);
    PhysBody_ZeroVelocities(o->body);
    PhysBody_SetActive(o->body, 0);
}

void Unpark(Object* o, PathData* d)
{
    AddLink(d, o->body);
    d->flags &= ~uint32_t(ANIMPATH_PARKED);
    PhysBody_SetCollisionGroup(o->body, o->collisionGroup);
    PhysBody_SetActive(o->body, 1);
}

// The smallest squared distance to a target; "no target" counts as far.
float NearestTargetSq(const Vec3& p)
{
    float best = 3.0e38f;
    for (int i = 0; i < ANIMPATH_TARGETS; ++i) {
        Object* t = g_tuning->targets[i];
        if (!t || t->serial != g_tuning->targetSerials[i]) continue;
        Vec3 q;
        Object_GetTransform(t, &q, nullptr, nullptr);
        float d2 = Dot(Sub(q, p), Sub(q, p));
        if (d2 < best) best = d2;
    }
    return best;
}

int IsTarget(const Object* o)
{
    if (!o) return 0;
    for (int i = 0; i < ANIMPATH_TARGETS; ++i)
        if (g_tuning->targets[i] == o && o->serial == g_tuning->targetSerials[i]) return 1;
    return 0;
}

void Clip(Object* o, PathData* d, const Vec3& position)
{
    const AnimPathTuning& v = g_tuning->values;
    float d2 = NearestTargetSq(position);
    if (d2 < v.physicalClipSq && !(d->flags & ANIMPATH_RANDOM_TIME)) {
        if (d->flags & ANIMPATH_PARKED) Unpark(o, d);
    } else if (!((d->flags & ANIMPATH_KNOCKED) && d2 < v.physicalClipWhenHitSq)) {
        Park(o, d);
    }
    d->flags = Flags_Set(d->flags, ANIMPATH_TOO_FAR_TO_ANIMATE, d2 >= v.animUpdateClipSq);
    if (o->node) Node_SetFlags(o->node, NODE_HIDDEN, d2 >= v.notShownClipSq);
    d->flags = Flags_Set(d->flags, ANIMPATH_TOO_FAR_TO_SEE, d2 >= v.visionPickMaxSq);
}

Group* GroupOf(const PathData* d)
{
    if (!g_tuning || d->groupIndex < 0 || d->groupIndex >= g_tuning->groupCount) return nullptr;
    return &g_tuning->groups[d->groupIndex];
}

void EndRoundIfDue(void)
{
    Tuning* t = g_tuning;
    if (++t->updateCounter < t->objectCount) return;
    t->updateCounter = 0;
    t->roundFlags = t->nextRoundFlags;
    t->nextRoundFlags = 0;
    t->picksMade = 0;
    for (int i = 0; i < t->groupCount; ++i) {
        Group& g = t->groups[i];
        g.stopped = t->values.stopAllThreshold != 0 && g.counter >= t->values.stopAllThreshold;
        g.counter = 0;
    }
}

void Vision(Object* o, PathData* d, const Vec3& position, const Vec3& at, const Vec3& up)
{
    Tuning* t = g_tuning;
    if (t->objectCount <= 0 || d->order != t->visionTurn % t->objectCount) return;
    if (t->roundFlags & kRoundBudgetUsed) return;  // this follower keeps its turn for the next round
    t->visionTurn = (d->order + 1) % t->objectCount;
    d->flags |= ANIMPATH_FREE;
    if ((d->flags & ANIMPATH_VISION) && !(d->flags & ANIMPATH_TOO_FAR_TO_SEE)) {
        if (!(d->flags & ANIMPATH_SAW_SOMETHING)) {
            auto within = [](float lo, float hi) { return lo + float(Random() % 1000) * 0.001f * (hi - lo); };
            d->lastOffsets = Vec3{within(d->visionLower.x, d->visionUpper.x), within(d->visionLower.y, d->visionUpper.y),
                                  within(d->visionLower.z, d->visionUpper.z)};
        }
        Vec3 right = Cross(up, at);
        Vec3 start = Add(position, Add(Scale(right, d->lastOffsets.x),
                                       Add(Scale(up, d->lastOffsets.y), Scale(at, d->lastOffsets.z))));
        Vec3 forward = Length(d->forward) > 0.0f ? d->forward : at;
        Vec3 end = Add(start, Scale(forward, t->values.visionLength));
        const bool linked = d->link != nullptr;
        RemoveLink(d);
        Vec3 hitPoint;
        void* hit = PhysWorld_CastRayAgainst(&start, &end, t->links, &hitPoint, nullptr);
        d->flags = Flags_Set(d->flags, ANIMPATH_SAW_SOMETHING, hit != nullptr);
        if (hit) {
            Object* seen = static_cast<Object*>(hit);
            Vec3 there;
            Object_GetTransform(seen, &there, nullptr, nullptr);
            if (Dot(Sub(there, position), forward) < 0.0f) {
                d->flags |= ANIMPATH_KNOCKED | ANIMPATH_RANDOM_TIME;
                d->flags &= ~uint32_t(ANIMPATH_FOLLOWING);
            }
        }
        d->flags &= ~uint32_t(ANIMPATH_FREE);
        if (linked) AddLink(d, o->body);
        if (++t->picksMade >= t->values.picksPerRound) t->roundFlags |= kRoundBudgetUsed;
    }
}

// Reads "Configs\AnimPath.cfg"; what it lacks keeps its default.
void ReadTuning(AnimPathTuning* v)
{
    *v = AnimPathTuning{};
    float dist[5] = {kDefaultDistance, kDefaultDistance, kDefaultDistance, kDefaultDistance, kDefaultDistance};
    v->picksPerRound = 1;
    v->followGain = 7.0f;
    v->visionLength = 25.0f;
    v->cosines[0] = std::cos(15.0f * kPi / 180.0f);
    v->cosines[1] = std::cos(5.0f * kPi / 180.0f);
    ConfigNode* cfg = Config_Open("Configs\\AnimPath.cfg");
    if (cfg) {
        Config_SetSection(cfg, "AnimPath");
        uint32_t b = 0;
        if (Config_GetBool(cfg, "TargetLine", &b) && b) v->debugFlags |= 1;
        if (Config_GetBool(cfg, "VisionPickLine", &b) && b) v->debugFlags |= 2;
        const char* keys[5] = {"physicalClipDist", "animUpdateClipDist", "physicalClipDistWhenHit", "notShownClipDist",
                               "visionPickMaxDist"};
        for (int i = 0; i < 5; ++i) Config_GetFloat(cfg, keys[i], &dist[i]);
        Config_GetInt(cfg, "visionPicksPerUpdate", &v->picksPerRound);
        Config_GetInt(cfg, "followAnimsStoppedToStopAll", &v->stopAllThreshold);
        float box[3];
        if (Config_GetVector3(cfg, "defaultVisionStartAreaLower", box)) v->visionLower = Vec3{box[0], box[1], box[2]};
        if (Config_GetVector3(cfg, "defaultVisionStartAreaUpper", box)) v->visionUpper = Vec3{box[0], box[1], box[2]};
        Config_GetFloat(cfg, "distRelFollowVelocity", &v->followGain);
        Config_Close(cfg);
    }
    v->physicalClipSq = dist[0] * dist[0];
    v->animUpdateClipSq = dist[1] * dist[1];
    v->physicalClipWhenHitSq = dist[2] * dist[2];
    v->notShownClipSq = dist[3] * dist[3];
    v->visionPickMaxSq = dist[4] * dist[4];
}

}  // namespace

int AnimPath_Init(void)
{
    if (g_tuning) return 1;
    g_tuning = static_cast<Tuning*>(Mem_Calloc(sizeof(Tuning), 16));
    if (!g_tuning) return 0;
    g_tuning->links = List_Create(sizeof(PhysBody*));
    if (!g_tuning->links) {
        Mem_Free(g_tuning);
        g_tuning = nullptr;
        return 0;
    }
    ReadTuning(&g_tuning->values);
    return 1;
}

void AnimPath_Shutdown(void)
{
    if (!g_tuning) return;
    List_Destroy(g_tuning->links);
    Mem_Free(g_tuning);
    g_tuning = nullptr;
}

void AnimPath_Register(void)
{
    CallbackRegistry_AddFn("AnimPath_Constructor", AnimPath_Constructor);
    CallbackRegistry_AddFn("AnimPath_Destructor", AnimPath_Destructor);
    CallbackRegistry_AddFn("AnimPath_Update", AnimPath_Update);
    CallbackRegistry_AddFn("AnimPath_Collision", AnimPath_Collision);
}

int AnimPath_SetTarget(int slot, Object* object)
{
    if (!g_tuning || slot < 0 || slot >= ANIMPATH_TARGETS) return 0;
    g_tuning->targets[slot] = object;
    g_tuning->targetSerials[slot] = Object_GetSerial(object);
    return 1;
}

const AnimPathTuning* AnimPath_GetTuning(void) { return g_tuning ? &g_tuning->values : nullptr; }

void AnimPath_SetRandom(int (*random)(void))
{
    if (g_tuning) g_tuning->random = random;
}

List* AnimPath_GetLinkPool(void) { return g_tuning ? g_tuning->links : nullptr; }

uint32_t AnimPath_GetFlags(const Object* object)
{
    const PathData* d = DataOf(object);
    return d ? d->flags : 0;
}

Node* AnimPath_GetRouteItem(const Object* object)
{
    const PathData* d = DataOf(object);
    return d ? d->routeItem : nullptr;
}

Vec3 AnimPath_OrientationError(const Vec3* at, const Vec3* up, const Vec3* targetAt, const Vec3* targetUp)
{
    Vec3 a = *at, a2 = *targetAt;
    Vec3 w{0, 0, 0};
    float hl = std::sqrt(a.x * a.x + a.z * a.z);
    Vec3 h = hl > 0.0f ? Vec3{a.x / hl, 0, a.z / hl} : Vec3{0, 0, 1};
    float pitch = Vec3_Pitch(&a);
    // Yaw about the vertical; left out near the pole, where the heading of
    // a nearly vertical at says nothing.
    if (pitch < kPolePitch) w.y = Angle_Diff(Vec3_Heading(&a), Vec3_Heading(&a2), 1, 1);
    // Pitch about the horizontal axis across the heading.
    float dp = Angle_Diff(pitch, Vec3_Pitch(&a2), 1, 1);
    w.x = h.z * dp;
    w.z = -h.x * dp;
    // Roll about the heading: the angle of each up vector from the side
    // vector (the horizontal right of the current heading).
    Vec3 side{h.z, 0.0f, -h.x};
    auto rollOf = [&side](const Vec3* u) {
        float c = Dot(side, *u);
        c = c > 1.0f ? 1.0f : (c < -1.0f ? -1.0f : c);
        float angle = std::acos(c);
        return u->y < 0.0f ? 2.0f * kPi - angle : angle;
    };
    float dr = Angle_Diff(rollOf(up), rollOf(targetUp), 1, 1);
    w.x += h.x * dr;
    w.z += h.z * dr;
    return w;
}

uint32_t AnimPath_Constructor(Object* object, uint32_t, void* templateRecord)
{
    const ObjectTemplate* t = static_cast<const ObjectTemplate*>(templateRecord);
    PathData* d = static_cast<PathData*>(Mem_Calloc(sizeof(PathData), 16));
    Object_SetUserData(object, d);
    if (!d || !t || !g_tuning) return 0;
    d->groupIndex = -1;
    d->routeNode = Node_Create(ObjectWorld_GetRootNode());
    const char* route = t->stringVal[0];
    if (d->routeNode && route[0]) {
        if (String_FindNoCase(route, ".lws"))
            d->routeScene = Scene_Load(route, d->routeNode, SCENE_LOOP, nullptr);
        else
            d->routeSet = AnimSet_Load(route, "ANIM", d->routeNode, nullptr);
        d->routeItem = FindRouteItem(d);
    }
    d->groupHash = Name_Hash(t->stringVal[1][0] ? t->stringVal[1] : route, 1, 1);
    d->followRadius = Abs(t->fpVal[0]);
    for (int i = 0; i < 4; ++i) d->tuning[i] = Abs(t->fpVal[1 + i]);
    d->maxSpeed = t->fpVal[5] != 0.0f ? Abs(t->fpVal[5]) : 1000.0f;
    d->speedReference = std::fmax(Abs(t->fpVal[6]), 0.1f);
    d->startTime = Abs(t->fpVal[7]);
    d->damping = t->vector3dVal[0];
    const Vec3& g = t->vector3dVal[1];
    d->angularGain = (g.x == 0.0f && g.y == 0.0f && g.z == 0.0f) ? Vec3{1, 1, 1} : g;
    const Vec3 &b0 = t->vector3dVal[2], &b1 = t->vector3dVal[3];
    if (b0.x == 0 && b0.y == 0 && b0.z == 0 && b1.x == 0 && b1.y == 0 && b1.z == 0) {
        d->visionLower = g_tuning->values.visionLower;
        d->visionUpper = g_tuning->values.visionUpper;
    } else {
        d->visionLower = Vec3{std::fmin(b0.x, b1.x), std::fmin(b0.y, b1.y), std::fmin(b0.z, b1.z)};
        d->visionUpper = Vec3{std::fmax(b0.x, b1.x), std::fmax(b0.y, b1.y), std::fmax(b0.z, b1.z)};
    }
    // BoolVal0-13 are flag bits 1..8192; 14, 15 and 16 are the vision, group
    // and kept bits.
    d->flags = t->boolVals & 0x3FFFu;
    d->flags = (d->flags & 0x3Fu) | ((d->flags & ~0x3Fu) << 1);  // BoolVal6 and up skip bit 64
    if (ObjectTemplate_GetBool(t, 14)) d->flags |= ANIMPATH_VISION;
    if (ObjectTemplate_GetBool(t, 15)) d->flags |= ANIMPATH_GROUPED;
    if (ObjectTemplate_GetBool(t, 16)) d->flags |= ANIMPATH_KEPT_400000;
    if (d->flags & ANIMPATH_FORWARD_SPEED) d->flags |= ANIMPATH_SCALED_ANIMATION;
    if (!(d->flags & ANIMPATH_CLIP)) AddLink(d, object->body);
    if ((d->flags & ANIMPATH_ORIENT_NODE) && !(d->flags & ANIMPATH_STEER)) d->flags |= ANIMPATH_NODE_FREE;
    d->flags |= ANIMPATH_FOLLOWING | ANIMPATH_FREE;

    if (Node* item = ObjectScene_GetCurrentItemNode()) {
        Vec3 p, at, up;
        Node_GetWorldPosition(item, &p);
        Node_GetWorldOrientation(item, &at, &up);
        for (Node* n : {d->routeNode, object->node}) {
            if (!n) continue;
            Node_SetWorldOrientation(n, &at, &up);
            Node_SetWorldPosition(n, &p);
        }
    }
    Object_Sync(object, (d->flags & ANIMPATH_NODE_FREE) ? 14u : 15u);
    if (d->startTime != 0.0f) {
        if (d->routeSet) AnimSet_SetTime(d->routeSet, d->startTime);
        if (d->routeScene) Scene_SetTime(d->routeScene, d->startTime);
    }
    if (object->body) {
        if (d->routeItem) {
            Vec3 p, at, up;
            Node_GetWorldPosition(d->routeItem, &p);
            Node_GetWorldOrientation(d->routeItem, &at, &up);
            PhysBody_SetPosition(object->body, &p);
            PhysBody_SetOrientation(object->body, &up, &at);
        }
        PhysWorld_RegisterBodyEvents(ObjectWorld_GetPhysicsWorld(), object->body);
        if (!(d->flags & ANIMPATH_CLIP)) {
            d->flags |= ANIMPATH_PARKED;
            PhysBody_SetCollisionGroup(object->body, ANIMPATH_PARKED_GROUP);
        }
        PhysBody_GetPosition(object->body, &d->lastPosition);
    }
    if ((d->flags & ANIMPATH_GROUPED) && d->groupHash) {
        for (int i = 0; i < g_tuning->groupCount; ++i)
            if (g_tuning->groups[i].hash == d->groupHash) d->groupIndex = i;
        if (d->groupIndex < 0 && g_tuning->groupCount < kMaxGroups) {
            d->groupIndex = g_tuning->groupCount++;
            g_tuning->groups[d->groupIndex] = Group{d->groupHash, 0, 0};
        }
    }
    d->order = g_tuning->nextOrder++;
    ++g_tuning->objectCount;
    return 0;
}

uint32_t AnimPath_Destructor(Object* object, uint32_t, void*)
{
    PathData* d = DataOf(object);
    if (!d) return 0;
    RemoveLink(d);
    Scene_Release(d->routeScene);
    AnimSet_Release(d->routeSet);
    Node_Destroy(d->routeNode);
    Mem_Free(d);
    Object_SetUserData(object, nullptr);
    if (g_tuning && g_tuning->objectCount > 0) {
        --g_tuning->objectCount;
        if (g_tuning->objectCount == 0) g_tuning->nextOrder = 0;
    }
    return 0;
}

uint32_t AnimPath_Update(Object* object, uint32_t, void* arg)
{
    PathData* d = DataOf(object);
    if (!d || !g_tuning || !object->body) return 0;
    const float dt = arg ? *static_cast<const float*>(arg) : 0.0f;
    PhysBody* body = object->body;
    Vec3 position, at, up, velocity;
    PhysBody_GetPosition(body, &position);
    if (d->flags & ANIMPATH_CLIP) Clip(object, d, position);
    const bool parked = (d->flags & ANIMPATH_PARKED) != 0;
    if (!parked) PhysBody_SetActive(body, 1);
    PhysBody_GetAxes(body, &at, &up);
    PhysBody_GetLinearVelocity(body, &velocity);
    Group* group = GroupOf(d);
    if (d->flags & ANIMPATH_FREE) d->flags = Flags_Set(d->flags, ANIMPATH_GROUP_STOPPED, group && group->stopped);

    if (!(d->flags & ANIMPATH_TOO_FAR_TO_ANIMATE)) {
        float step = dt;
        if (d->flags & ANIMPATH_SCALED_ANIMATION) {
            float speed = (d->flags & ANIMPATH_FORWARD_SPEED)
                              ? Length(Vec3{velocity.x * at.x, velocity.y * at.y, velocity.z * at.z})
                              : Length(velocity);
            step = dt * std::fmin(speed / d->speedReference, 1.0f);
        }
        Object_AdvanceAnimation(object, step);
    }
    if (d->flags & ANIMPATH_NODE_FREE) {
        Node_SetWorldOrientation(object->node, &at, &up);
        Node_SetWorldPosition(object->node, &position);
    }

    // Without a "Route" item there is nothing to follow: the body is left as
    // it is.
    if (d->routeItem && (d->flags & ANIMPATH_FOLLOWING)) {
        Vec3 routePoint, routeAt, routeUp;
        Node_GetWorldPosition(d->routeItem, &routePoint);
        Node_GetWorldOrientation(d->routeItem, &routeAt, &routeUp);
        Vec3 delta = Sub(routePoint, position);
        if (d->flags & ANIMPATH_HORIZONTAL) delta.y = 0.0f;
        const float distance = Length(delta);
        if (distance < d->followRadius) {
            if (!(d->flags & ANIMPATH_GROUP_STOPPED)) {
                AdvanceRoute(d, dt);
                Node_GetWorldPosition(d->routeItem, &routePoint);
                Node_GetWorldOrientation(d->routeItem, &routeAt, &routeUp);
            }
        } else if (group) {
            ++group->counter;  // fell behind this round
        }
        if (!parked) {
            // velocity = d / |d| x |d| x gain: the distance times the gain.
            if (distance > 0.0f) {
                Vec3 v = Scale(delta, g_tuning->values.followGain);
                PhysBody_SetLinearVelocity(body, &v);
            }
            PhysBody_ClampLinearSpeed(body, d->maxSpeed);
        } else {
            PhysBody_SetPosition(body, &routePoint);
            PhysBody_ZeroVelocities(body);
            PhysBody_SetActive(body, 0);
        }
        if (d->flags & (ANIMPATH_FACE_TRAVEL | ANIMPATH_VISION)) {
            Vec3 now;
            PhysBody_GetPosition(body, &now);
            Vec3 moved = Sub(now, d->lastPosition);
            if (Length(moved) > kMoveToTurn) {
                d->forward = Unit(moved);
                d->up = Cross(d->forward, Cross(Vec3{0, 1, 0}, d->forward));
                d->lastPosition = now;
            }
        }
        Vec3 targetAt = routeAt, targetUp = routeUp;
        if (d->flags & ANIMPATH_LOOK_AT_ROUTE) {
            if (distance > 0.0f) {
                targetAt = Unit(delta);
                targetUp = Unit(Cross(targetAt, Cross(Vec3{0, 1, 0}, targetAt)));
            }
        } else if ((d->flags & ANIMPATH_FACE_TRAVEL) && Length(d->forward) > 0.0f) {
            targetAt = d->forward;
            targetUp = Unit(d->up);
        }
        if (d->flags & ANIMPATH_STEER) {
            if (!parked) {
                Vec3 w = AnimPath_OrientationError(&at, &up, &targetAt, &targetUp);
                w = Vec3{w.x * d->angularGain.x, w.y * d->angularGain.y, w.z * d->angularGain.z};
                PhysBody_SetAngularVelocity(body, &w);
            } else {
                PhysBody_SetOrientation(body, &targetUp, &targetAt);
            }
        } else if (d->flags & ANIMPATH_ORIENT_NODE) {
            Node_SetWorldOrientation(object->node, &targetAt, &targetUp);
        }
    }
    PhysBody_DampLinearVelocity(body, &d->damping, dt);
    Vision(object, d, position, at, up);
    // A knocked follower's route wanders to a random time every update, so it
    // takes up its route somewhere else once it is parked again.
    if (d->flags & ANIMPATH_RANDOM_TIME) RandomRouteTime(d);
    EndRoundIfDue();
    return 0;
}

uint32_t AnimPath_Collision(Object* object, Object* other, uint32_t)
{
    PathData* d = DataOf(object);
    if (!d || !g_tuning || !other) return 0;
    if (ObjectCollision_GetEventType() != OBJECT_EVENT_CONTACT || (d->flags & ANIMPATH_KNOCKED)) return 0;
    if (!(ObjectCollision_GetImpactSpeed() > kKnockSpeed)) return 0;
    bool byTarget = (d->flags & ANIMPATH_KNOCK_BY_TARGET) && IsTarget(other);
    bool byFollower = (d->flags & ANIMPATH_KNOCK_BY_FOLLOWER) && DataOf(other);
    if (!byTarget && !byFollower) return 0;
    d->flags &= ~uint32_t(ANIMPATH_FREE | ANIMPATH_FOLLOWING);
    d->flags |= ANIMPATH_KNOCKED;
    RandomRouteTime(d);
    return 0;
}
