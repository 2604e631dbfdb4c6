// The Ball control mode (mode 8): a rolling ball on a physics body, pushed
// by the stick relative to the camera, whose node turns toward the push. It
// fades (animation alpha 0.3) while the player's camera is nearer than 3.5
// units, and a long fall kills a player's ball: alone it restarts the level,
// with more player entities it respawns where it was started. It can steer
// a separate tilting board object through the board's angular velocity,
// toward the tilt the pushes have added up.
//
// Angles are radians throughout.
//
// A computer player's ball is pushed by its route slot along the route of
// its configuration, as a player would push the stick.
//
// Slots: load, update, rules, route, free, and detach (the board belongs to
// the level a kept player record leaves). The data block is BallData.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/ai_route.h"

struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

struct BallData {
    float dieInAirTime, dieInAirVel;  // falling faster than dieInAirVel for longer kills
    float forwardVelStep;             // acceleration per unit stick
    Vec3 noInputDamping, runDamping;  // per-axis damping per second
    float fallStamp;                  // entity clock of the last frame not falling fast
    Vec3 tilt;                        // the pushes added up; x and z kept in [-pi, pi)
    Object* board;                    // the steered board, or null; not owned
    uint32_t boardSerial;             // the board's serial when it was set (a destroyed board is dropped)
    uint32_t deathHandled;            // this death was acted on; cleared once health is above 0
    AiRoute route;                    // a computer player's (owned)
};

void BallMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void BallMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BallMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
// A computer player's stick: along its route, relative to its camera.
void BallMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BallMode_Free(EntityRecord* record);
void BallMode_Detach(EntityRecord* record);

// Sets (or with null clears) the board object the ball entity steers. The
// board needs a physics body. Nothing for an object that is not a Ball entity.
void BallMode_SetBoard(Object* ball, Object* board);
