// The FakeTilt control mode (mode 9): a walking character on a physics body,
// pushed by the stick relative to the camera in one step, whose model swings
// toward its travel direction and tilts to the floor (the frame, camera and
// rules of the Skater, skate_common.h). Its locomotion animation follows its
// speed; a probe of the ground ahead warns of edges and steep drops; bumps,
// landings and falls have their animations. A long fall kills: with one
// player the level restarts, with more the walker respawns where it was
// started and stands frozen while HUD slot 7 plays "start". Death areas
// (type "DEATH_AREA") start the lose path after their value 0 in seconds.
//
// Slots: load, update, restart, rules, collision, route, free.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/modes/skate_common.h"

struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

enum : int32_t {
    FAKETILT_ANIM_STAND = 0,
    FAKETILT_ANIM_WALK,
    FAKETILT_ANIM_RUN,
    FAKETILT_ANIM_TUMBLE,
    FAKETILT_ANIM_FALL,
    FAKETILT_ANIM_LONGFALL,
    FAKETILT_ANIM_LAND,
    FAKETILT_ANIM_CELEBRATE,
    FAKETILT_ANIM_STARTLEVEL,
    FAKETILT_ANIM_BUMP,
    FAKETILT_ANIM_NEAREDGE,
    FAKETILT_ANIM_LOSE,
    FAKETILT_ANIM_COUNT
};

struct FakeTiltData {
    SkateCommon common;  // first: the shared helpers work on it
    float locoStamp;     // entity clock of the last frame at walking speed or more
    float nearEdgeHold;  // "nearedge" holds until this entity clock
};

void FakeTiltMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void FakeTiltMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void FakeTiltMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart);
void FakeTiltMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void FakeTiltMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side);
void FakeTiltMode_RouteUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void FakeTiltMode_Free(EntityRecord* record);

// The locomotion animation for a speed: "tumble" from 20, "run" from 5,
// "walk" from 0.8, else "stand".
int32_t FakeTiltMode_LocomotionAnim(float speed);
