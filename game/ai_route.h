// AI routes: a computer-controlled entity steers towards the item "Route" of
// an animated scene, as a player would with a stick. The route waits while
// the entity lags at or beyond its catch-up distance, speeds are matched
// inside a cushion along the route, and when a route animation ends another
// may be chosen (at random, or the one a mode asked for).
//
// The record lives in a mode's zero-filled data block; its node and
// animation set are its own (Route_Free releases them). The route's node is
// placed at the entity's node whenever the configuration names a route set,
// so a route restarts from the entity's start in every level.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct AnimSet;
struct ConfigNode;
struct Node;
struct Object;
struct PhysBody;

enum : uint32_t {
    ROUTE_RANDOM = 0x1,         // aiRandomRoutes: a random route when one ends
    ROUTE_WAIT_3D = 0x2,        // ai3DWaitToCatchup: the waiting test uses the 3D distance
    ROUTE_RETURN_Y = 0x4,       // aiReturnYMovement: the steering carries the height difference
    ROUTE_NEXT_REQUESTED = 0x8, // Route_SetNextIndex: play that route when the current one ends
    ROUTE_WAITING = 0x10,       // the entity lagged at the last update; the route did not advance
};

struct AiRoute {
    float catchUpDist;       // aiAllowCatchUpDist (1.0): at or beyond it the route waits
    float cushionDist;       // aiCushionDist: along-route distance of the speed matching
    float distanceRelSpeed;  // aiDistanceRelSpeedVal (1.0): steering strength per unit of distance ahead
    float lastAlong;         // signed along-route distance of the last update
    Vec3 lastPosition;       // entity position of the last update, y = 0
    float timeOffset;        // aiTimeOffset: route time after a reset
    Node* node;              // placement of the route, under the object world's root; owned
    AnimSet* set;            // the route animations ("aiRoutesAnim" + "ANIM"); owned
    Node* item;              // the "Route" item of the current scene, or null
    uint32_t pathHash;       // Name_Hash of the aiRoutesAnim value loaded
    int32_t requested;       // index asked for by Route_SetNextIndex
    uint32_t flags;          // ROUTE_*
};

// Reads the route keys from "<section>::<key>". With applyDefaults the
// catch-up distance and relative speed become 1.0 and ROUTE_RETURN_Y is set
// first. When "aiRoutesAnim" is present the route node is (made and) placed
// at the entity object's node; the set is (re)loaded only when its name's
// hash differs from the one loaded.
void Route_LoadConfig(ConfigNode* reader, const char* section, Object* entity, AiRoute* route, int applyDefaults);
// One steering step towards the route item (Game_GetFrameTime is the frame
// time): steering x and z for the stick, y the height difference. The
// outputs route at, route up and direction may be null. 0 when an argument
// is missing or the route has no set or item.
int Route_Update(Vec3* steering, AiRoute* route, const Vec3* position, Vec3* routeAt, Vec3* routeUp,
                 Vec3* direction);
// Back to the route's start (a random route with ROUTE_RANDOM), at
// timeOffset; the body is put on the route item (and turned to it with
// withOrientation). Nothing without a set.
void Route_Reset(AiRoute* route, PhysBody* body, int withOrientation);
// Releases the set, destroys the node, forgets the item and path hash.
void Route_Free(AiRoute* route);
int Route_IsWaiting(const AiRoute* route);
// Looks the item up again when the set's current index differs from index;
// clears ROUTE_WAITING.
void Route_RefreshItem(AiRoute* route, int32_t index);
// Plays route `index` when the current one ends.
void Route_SetNextIndex(AiRoute* route, int32_t index);
