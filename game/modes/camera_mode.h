// The CameraMode control mode (mode 11): an entity for viewing scenes. It
// never moves: once its body has settled, the rules step pins it (velocities
// zeroed, body held in place), and the stick only turns the chase camera
// around it.
//
// Slots: load (pass 0 only), update, rules, free (the chase camera is the
// mode's).
#pragma once

#include <cstdint>

struct ChaseCamera;
struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

struct CameraModeData {
    ChaseCamera* camera;  // owned
};

void CameraModeMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void CameraModeMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void CameraModeMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void CameraModeMode_Free(EntityRecord* record);
