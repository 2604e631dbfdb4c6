#include "game/ai_route.h"

#include <cmath>
#include <cstdio>

#include "app/config.h"
#include "common/hash.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/scene.h"
#include "game/entity.h"
#include "game/game_context.h"

namespace {

AnimEventHandler RouteEventLookup(AnimSet*, const char*) { return Entity_MessageDispatch; }

// The current scene's "Route" item; the item is kept when there is no scene.
void FindItem(AiRoute* route)
{
    Scene* scene = AnimSet_GetCurrentScene(route->set);
    if (scene) route->item = Scene_FindItem(scene, "Route", 0);
}

void Flag(AiRoute* route, ConfigNode* reader, const char* key, uint32_t bit)
{
    uint32_t value = 0;
    if (!Config_GetBool(reader, key, &value)) return;
    if (value)
        route->flags |= bit;
    else
        route->flags &= ~bit;
}

}  // namespace

void Route_LoadConfig(ConfigNode* reader, const char* section, Object* entity, AiRoute* route, int applyDefaults)
{
    if (!reader || !route) return;
    if (applyDefaults) {
        route->catchUpDist = 1.0f;
        route->distanceRelSpeed = 1.0f;
        route->flags |= ROUTE_RETURN_Y;
    }
    const char* s = section ? section : "";
    char key[1024];
    snprintf(key, sizeof key, "%s::aiAllowCatchUpDist", s);
    Config_GetFloat(reader, key, &route->catchUpDist);
    snprintf(key, sizeof key, "%s::aiDistanceRelSpeedVal", s);
    Config_GetFloat(reader, key, &route->distanceRelSpeed);
    snprintf(key, sizeof key, "%s::aiCushionDist", s);
    Config_GetFloat(reader, key, &route->cushionDist);
    snprintf(key, sizeof key, "%s::aiTimeOffset", s);
    Config_GetFloat(reader, key, &route->timeOffset);
    snprintf(key, sizeof key, "%s::aiRandomRoutes", s);
    Flag(route, reader, key, ROUTE_RANDOM);
    snprintf(key, sizeof key, "%s::ai3DWaitToCatchup", s);
    Flag(route, reader, key, ROUTE_WAIT_3D);
    snprintf(key, sizeof key, "%s::aiReturnYMovement", s);
    Flag(route, reader, key, ROUTE_RETURN_Y);

    char name[1024];
    snprintf(key, sizeof key, "%s::aiRoutesAnim", s);
    if (!Config_GetString(reader, key, name, sizeof name)) return;
    uint32_t hash = Name_Hash(name, 0, 1);
    if (hash != route->pathHash || !route->node) {
        Route_Free(route);
        route->node = Node_Create(ObjectWorld_GetRootNode());
        if (!route->node) return;
        route->set = AnimSet_Load(name, "ANIM", route->node, RouteEventLookup);
        route->pathHash = hash;
        if (route->set) FindItem(route);
    }
    // A surviving computer player follows the new level's route from its new start.
    if (entity && entity->node) {
        Vec3 p, at, up;
        Node_GetPosition(entity->node, &p);
        Node_GetOrientation(entity->node, &at, &up);
        Node_SetPosition(route->node, &p);
        Node_SetOrientation(route->node, &at, &up);
    }
}

int Route_Update(Vec3* steering, AiRoute* route, const Vec3* position, Vec3* routeAt, Vec3* routeUp,
                 Vec3* direction)
{
    if (!steering || !route || !position || !route->set || !route->item) return 0;
    float frameTime = Game_GetFrameTime();
    float invDt = frameTime > 0.0f ? 1.0f / frameTime : 0.0f;

    Vec3 P, at = {0.0f, 0.0f, 1.0f}, up = {0.0f, 1.0f, 0.0f};
    Node_GetWorldPosition(route->item, &P);
    Node_GetWorldOrientation(route->item, &at, &up);
    if (routeAt) *routeAt = at;
    if (routeUp) *routeUp = up;
    at.y = 0.0001f;
    Vec3_Normalise(&at);

    const Vec3 flat = {position->x, 0.0f, position->z};
    Vec3 M;
    Vec3_Sub(&M, &flat, &route->lastPosition);
    if (M.x != 0.0f || M.z != 0.0f) Vec3_Normalise(&M);
    route->lastPosition = flat;

    steering->y = (route->flags & ROUTE_RETURN_Y) ? P.y - position->y : 0.0f;

    Vec3 D;
    Vec3_Sub(&D, &P, position);
    if (direction) {
        *direction = D;
        if (Vec3_LengthSq(direction) > 0.00001f) Vec3_Normalise(direction);
    }
    float dist3 = (route->flags & ROUTE_WAIT_3D) ? std::sqrt(Vec3_LengthSq(&D)) : 0.0f;

    const Vec3 flatP = {P.x, 0.0f, P.z};
    Vec3 ahead;
    Vec3_Sub(&ahead, &flatP, &flat);
    float along = Vec3_Dot(&ahead, &at);
    float alongSpeed = (along - route->lastAlong) * invDt;
    route->lastAlong = along;

    D.y = 0.01f;
    float dist = std::sqrt(Vec3_LengthSq(&D));
    Vec3_Normalise(&D);

    float diff = Angle_Diff(Vec3_Heading(&D), Vec3_Heading(&M), 1, 1);
    if (std::fabs(diff) < 1.5707964f) {
        const Vec3 yAxis = {0.0f, 1.0f, 0.0f};
        Vec3_RotateAxis(&D, &D, &yAxis, diff);
    }
    if (along > 0.0f) {
        float scale = dist * route->distanceRelSpeed;
        Vec3_Scale(&D, &D, scale < 1.0f ? scale : 1.0f);
    }
    if (std::fabs(along) < route->cushionDist) {
        float k = alongSpeed;
        if (along > 0.0f) k -= 0.5f;
        if (k < -2.0f) k = -2.0f;
        if (k >= 2.0f) k = 2.0f;
        D = {D.x + at.x * k, D.y + at.y * k, D.z + at.z * k};
    }
    steering->x = D.x < -1.0f ? -1.0f : (D.x > 1.0f ? 1.0f : D.x);
    steering->z = D.z < -1.0f ? -1.0f : (D.z > 1.0f ? 1.0f : D.z);

    float test = (route->flags & ROUTE_WAIT_3D) ? dist3 : dist;
    if (route->catchUpDist <= test) {
        route->flags |= ROUTE_WAITING;
        return 1;
    }

    if (!AnimSet_Advance(route->set, frameTime, ANIMSET_ADVANCE_SCENE) &&
        (route->flags & (ROUTE_RANDOM | ROUTE_NEXT_REQUESTED))) {
        uint32_t count = AnimSet_GetCount(route->set);
        int32_t current = AnimSet_GetCurrentIndex(route->set);
        int32_t next = -1;
        if (route->flags & ROUTE_RANDOM) {
            if (count > 1) next = Game_Rand() % (int)count;
        } else {
            if (count > 1 && route->requested >= 0 && (uint32_t)route->requested < count) next = route->requested;
            route->flags &= ~ROUTE_NEXT_REQUESTED;
        }
        if (next >= 0 && next != current) {
            AnimSet_PlayIndex(route->set, next);
            FindItem(route);
            AnimSet_SetTime(route->set, 0.0f);
        }
    }
    route->flags &= ~ROUTE_WAITING;
    return 1;
}

void Route_Reset(AiRoute* route, PhysBody* body, int withOrientation)
{
    if (!route || !route->set) return;
    route->flags &= ~ROUTE_WAITING;
    uint32_t count = AnimSet_GetCount(route->set);
    if ((route->flags & ROUTE_RANDOM) && count > 1) AnimSet_PlayIndex(route->set, Game_Rand() % (int)count);
    FindItem(route);
    AnimSet_SetTime(route->set, route->timeOffset);
    if (!route->item || !body) return;
    Vec3 p, at, up;
    Node_GetWorldPosition(route->item, &p);
    PhysBody_SetPosition(body, &p);
    if (withOrientation) {
        Node_GetWorldOrientation(route->item, &at, &up);
        PhysBody_SetOrientation(body, &up, &at);
    }
}

void Route_Free(AiRoute* route)
{
    if (!route) return;
    AnimSet_Release(route->set);
    route->set = nullptr;
    Node_DestroyRef(&route->node);
    route->item = nullptr;
    route->pathHash = 0;
}

int Route_IsWaiting(const AiRoute* route) { return route && (route->flags & ROUTE_WAITING) ? 1 : 0; }

void Route_RefreshItem(AiRoute* route, int32_t index)
{
    if (!route) return;
    if (route->set && AnimSet_GetCurrentIndex(route->set) != index) FindItem(route);
    route->flags &= ~ROUTE_WAITING;
}

void Route_SetNextIndex(AiRoute* route, int32_t index)
{
    if (!route) return;
    route->flags |= ROUTE_NEXT_REQUESTED;
    route->requested = index;
}
