// The four small control modes:
//   "Flitter" (mode 3): a ground creature with tank-style turning, running,
//     a jump into a glide and a fire animation;
//   "Butterfly" (mode 4): walks on the ground and flies with upward and
//     forward impulses, bending its facing while it flies;
//   "Thrusting" (mode 5) and "ScreenRel" (mode 6): update slots that leave
//     the entity as the shared entity update leaves it.
// Flitter and Butterfly keep their facing on the object's node and write
// each turn to the node and the body. They step by the game's frame time.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/modes/mode_keys.h"

struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

enum : int32_t {
    FLITTER_STAND, FLITTER_WALK, FLITTER_RUN, FLITTER_JUMPIN, FLITTER_LAND, FLITTER_FIRE, FLITTER_CHARGE,
    FLITTER_GLIDE, FLITTER_ANIM_COUNT
};

enum : int32_t {
    BUTTERFLY_STAND, BUTTERFLY_WALK, BUTTERFLY_JUMPIN, BUTTERFLY_FLY, BUTTERFLY_GLIDE, BUTTERFLY_LAND,
    BUTTERFLY_ANIM_COUNT
};

// Buttons.
enum : uint32_t {
    SMALL_BUTTON_FORWARD = 0x1,
    SMALL_BUTTON_FORWARD2 = 0x2,  // also forward: there is no reverse
    SMALL_BUTTON_LEFT = 0x4,
    SMALL_BUTTON_RIGHT = 0x8,
    SMALL_BUTTON_FIRE = 0x10,
    SMALL_BUTTON_JUMP = 0x40,    // jump and glide; Butterfly: fly up
    SMALL_BUTTON_RETURN = 0x80,  // give control back
};

struct FlitterData {
    Vec3 damping;
    float turnSpeedStep;  // radians per second per second
    float maxTurnSpeed;   // radians per second
    float maxSpeed;
    float forwardSpeedStep;
    float jumpImpulse;
    float runSpeed;
    float turnSpeed;      // current
    float forwardSpeed;   // current
    ModeLoadPass loadPass;
};

struct ButterflyData {
    Vec3 damping;
    float flyImpulse;
    float flyUpImpulse;
    float walkImpulse;
    ModeLoadPass loadPass;
};

const ModeKeyTable* FlitterMode_GetKeyTable(void);
const ModeKeyTable* ButterflyMode_GetKeyTable(void);
const char* const* FlitterMode_GetAnimNames(uint32_t* count);
const char* const* ButterflyMode_GetAnimNames(uint32_t* count);

void FlitterMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass);
void FlitterMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void ButterflyMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass);
void ButterflyMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void ScreenRelMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void ThrustingMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
