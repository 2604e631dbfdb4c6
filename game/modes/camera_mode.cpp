#include "game/modes/camera_mode.h"

#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kTurn = -0.43633232f;      // -25 degrees per unit stick
constexpr float kTurnSpeed = -1.0471976f;  // -60 degrees per second per unit stick

CameraModeData* DataOf(EntityRecord* record) { return record ? (CameraModeData*)record->modeData : nullptr; }

}  // namespace

void CameraModeMode_Load(ConfigNode* reader, void* modeData, EntityRecord*, Object*, int32_t pass)
{
    CameraModeData* data = (CameraModeData*)modeData;
    if (!reader || !data || pass != 0) return;
    ChaseCamera_LoadConfig(reader, &data->camera, "controlData::genCamData");
}

void CameraModeMode_Update(Object*, EntityRecord* record, PlayerInputRecord* input)
{
    CameraModeData* data = DataOf(record);
    if (!data) return;
    ChaseCamera_AddAngleY(data->camera, input->stickX * kTurn);
    ChaseCamera_SetRotateSpeedY(data->camera, input->stickX * kTurnSpeed);
}

void CameraModeMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    CameraModeData* data = DataOf(record);
    if (!data) return;
    // Settled: the physics engine's flag 4 clear, or (an entity's body is
    // held active, which keeps that flag set for good) resting on the ground.
    if (object->body) {
        Vec3 v;
        PhysBody_GetLinearVelocity(object->body, &v);
        const bool resting = (record->flags & ENTITY_ON_GROUND) && Vec3_LengthSq(&v) < 0.01f;
        if (!PhysBody_TestStateFlag4(object->body) || resting) PhysBody_ResetMotion(object->body, 1);
    }
    if (!record->player) return;
    if (Node* cameraFrame = Vehicle_CameraFrame(record)) {
        ChaseCamera_FollowObject(data->camera, Entity_GetAnimObject(record, 0));
        ChaseCamera_Update(data->camera, cameraFrame, Game_GetFrameTime());
    }
}

void CameraModeMode_Free(EntityRecord* record)
{
    if (CameraModeData* data = DataOf(record)) Mem_FreeSlot(&data->camera);
}
