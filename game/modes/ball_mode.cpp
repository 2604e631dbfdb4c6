#include "game/modes/ball_mode.h"

#include <cmath>
#include <cstddef>

#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/modes/mode_common.h"
#include "game/modes/skate_common.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kDeadZone = 0.1f;
constexpr float kFadeDistance = 3.5f;
constexpr float kTurnGain = 10.0f;
constexpr float kBoardRate = 2.0f;  // angular velocity change per second

#define BALL_KEY(name, kind)                     \
    {                                            \
#name, kind, offsetof(BallData, name), 0 \
    }
const VehicleKey kKeys[] = {
    BALL_KEY(forwardVelStep, VKEY_FLOAT), BALL_KEY(noInputDamping, VKEY_VEC3), BALL_KEY(runDamping, VKEY_VEC3),
    BALL_KEY(dieInAirVel, VKEY_FLOAT),    BALL_KEY(dieInAirTime, VKEY_FLOAT),
};
#undef BALL_KEY

BallData* DataOf(EntityRecord* record)
{
    return record && record->mode == MODE_BALL ? (BallData*)record->modeData : nullptr;
}

float WrapPi(float a)
{
    if (a >= kPi) return a - 2.0f * kPi;
    if (a < -kPi) return a + 2.0f * kPi;
    return a;
}

}  // namespace

void BallMode_Load(ConfigNode* reader, void* modeData, EntityRecord*, Object* object, int32_t pass)
{
    // Both passes read "controlData": only the route has a per-level section.
    if (!reader || !modeData) return;
    VehicleKeys_Read(reader, "controlData", kKeys, sizeof kKeys / sizeof kKeys[0], modeData, "Ball");
    Mode_LoadRoute(reader, &((BallData*)modeData)->route, object, pass);
}

void BallMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    BallData* data = DataOf(record);
    Vec3 steering;
    if (data && Mode_SteerByRoute(&data->route, object, record, input, &steering))
        Mode_StickAlong(input, steering, record->player);
}

void BallMode_Free(EntityRecord* record)
{
    if (BallData* data = DataOf(record)) Route_Free(&data->route);
}

void BallMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    BallData* data = DataOf(record);
    if (!data || !object->body) return;
    const float dt = Game_GetFrameTime();
    PhysBody* body = object->body;
    Vec3 at = {0.0f, 0.0f, 1.0f}, up = {0.0f, 1.0f, 0.0f};
    if (object->node) Node_GetWorldOrientation(object->node, &at, &up);
    const Vec3 position = Vehicle_BodyPosition(object);

    float cameraHeading = 0.0f;
    if (Node* camera = Vehicle_CameraFrame(record)) {
        Vec3 cameraPosition, cameraAt, cameraUp;
        Node_GetWorldPosition(camera, &cameraPosition);
        Node_GetWorldOrientation(camera, &cameraAt, &cameraUp);
        cameraHeading = Vec3_Heading(&cameraAt);
        record->animAlphaTarget = Vec3_Distance(&cameraPosition, &position) >= kFadeDistance ? 1.0f : 0.3f;
    }

    const float stick = std::sqrt(input->stickX * input->stickX + input->stickY * input->stickY);
    if (stick <= kDeadZone) {
        PhysBody_DampLinearVelocity(body, &data->noInputDamping, dt);
    } else {
        // "Stick up" pushes along the camera's heading, away from the camera.
        const Vec3 worldUp = {0.0f, 1.0f, 0.0f};
        Vec3 d = {input->stickX, 0.0f, input->stickY};
        Vec3_RotateAxis(&d, &d, &worldUp, -cameraHeading);
        float turn = Angle_Diff(Vec3_Heading(&at), Vec3_Heading(&d), 1, 1) * dt * stick * kTurnGain;
        Vec3_RotateAxis(&at, &at, &up, -turn);
        Vec3 push = {d.x, 0.0f, d.z}, v;
        Vec3_Normalise(&push);
        PhysBody_GetLinearVelocity(body, &v);
        Vec3_Scale(&push, &push, dt * data->forwardVelStep * stick);
        Vec3_Add(&v, &v, &push);
        PhysBody_SetLinearVelocity(body, &v);
        Vec3_Add(&data->tilt, &data->tilt, &d);
        data->tilt.x = WrapPi(data->tilt.x);
        data->tilt.z = WrapPi(data->tilt.z);
        PhysBody_DampLinearVelocity(body, &data->runDamping, dt);
    }

    // Falling death. A player's ball acts on it once: the level restarts, or
    // with more player entities the ball respawns. A scene ball only keeps
    // health 0.
    if (Entity_GetHealth(record) > 0.0f) data->deathHandled = 0;
    if (SkateCommon_FallingDeath(object, record, &data->fallStamp, data->dieInAirVel, data->dieInAirTime) &&
        record->player && !data->deathHandled) {
        data->deathHandled = 1;
        data->fallStamp = record->clock;
        if (Level_GetNumPlayerEntities() < 2) Level_Restart(0);
        else Entity_Respawn(object, 0);
    }
    if (object->node) Node_SetWorldOrientation(object->node, &at, &up);
}

void BallMode_RulesUpdate(Object*, EntityRecord* record, PlayerInputRecord*)
{
    BallData* data = DataOf(record);
    if (!data || !data->board) return;
    Object* board = data->board;
    if (Object_GetSerial(board) != data->boardSerial || !board->body) {
        data->board = nullptr;
        return;
    }
    const float dt = Game_GetFrameTime();
    Vec3 at, up, w;
    PhysBody_GetAxes(board->body, &at, &up);
    PhysBody_GetAngularVelocity(board->body, &w);
    // The board's tilt about z and x as headings of its up vector, steered
    // toward the accumulated pushes.
    const Vec3 aboutZ = {up.y, 0.0f, up.x}, aboutX = {up.y, 0.0f, up.z};
    float dz = Angle_Diff(Vec3_Heading(&aboutZ), data->tilt.z, 1, 1);
    float dx = Angle_Diff(Vec3_Heading(&aboutX), data->tilt.x, 1, 1);
    if (dz < 0.0f) w.z += kBoardRate * dt;
    if (dz > 0.0f) w.z -= kBoardRate * dt;
    if (dx < 0.0f) w.x -= kBoardRate * dt;
    if (dx > 0.0f) w.x += kBoardRate * dt;
    w.x = w.x < -1.0f ? -1.0f : (w.x > 1.0f ? 1.0f : w.x);
    w.z = w.z < -1.0f ? -1.0f : (w.z > 1.0f ? 1.0f : w.z);
    PhysBody_SetAngularVelocity(board->body, &w);
}

void BallMode_Detach(EntityRecord* record)
{
    if (BallData* data = DataOf(record)) data->board = nullptr;
}

void BallMode_SetBoard(Object* ball, Object* board)
{
    BallData* data = DataOf(Entity_GetRecord(ball));
    if (!data) return;
    data->board = board && board->body && Object_GetSerial(board) ? board : nullptr;
    data->boardSerial = data->board ? Object_GetSerial(board) : 0;
}
