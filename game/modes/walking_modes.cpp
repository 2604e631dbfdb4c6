// Registration of control modes 0 to 6.
#include "game/modes/walking_modes.h"

#include "game/control_mode.h"
#include "game/modes/man_camrel.h"
#include "game/modes/man_mode.h"
#include "game/modes/mode_helpers.h"
#include "game/modes/skitter.h"
#include "game/modes/small_modes.h"

int WalkingModes_Register(void)
{
    ControlModeSlots man = {};
    man.load = ManMode_Load;
    man.update = ManMode_Update;
    man.route = ManMode_Route;
    man.free = ManMode_Free;

    ControlModeSlots camRel = {};
    camRel.load = ManCamRelMode_Load;
    camRel.update = ManCamRelMode_Update;
    camRel.restart = ManCamRelMode_Restart;
    camRel.rules = ManCamRelMode_RulesUpdate;
    camRel.collision = ManCamRelMode_Collision;
    camRel.route = ManCamRelMode_Route;
    camRel.free = ManCamRelMode_Free;
    camRel.hook = ControlMode_Hook;
    camRel.message = ManCamRelMode_Message;
    camRel.detach = ManCamRelMode_Detach;

    ControlModeSlots skitter = {};
    skitter.load = SkitterMode_Load;
    skitter.update = SkitterMode_Update;
    skitter.restart = SkitterMode_Restart;
    skitter.rules = SkitterMode_RulesUpdate;
    skitter.collision = SkitterMode_Collision;
    skitter.route = SkitterMode_Route;
    skitter.free = SkitterMode_Free;
    skitter.message = SkitterMode_Message;
    skitter.detach = SkitterMode_Detach;

    ControlModeSlots flitter = {};
    flitter.load = FlitterMode_Load;
    flitter.update = FlitterMode_Update;

    ControlModeSlots butterfly = {};
    butterfly.load = ButterflyMode_Load;
    butterfly.update = ButterflyMode_Update;

    ControlModeSlots thrusting = {};
    thrusting.update = ThrustingMode_Update;

    ControlModeSlots screenRel = {};
    screenRel.update = ScreenRelMode_Update;

    int ok = 1;
    ok &= ControlMode_Register(MODE_MAN, &man, sizeof(ManData));
    ok &= ControlMode_Register(MODE_MAN_CAMREL, &camRel, sizeof(ManCamRelData));
    ok &= ControlMode_Register(MODE_SKITTER, &skitter, sizeof(SkitterData));
    ok &= ControlMode_Register(MODE_FLITTER, &flitter, sizeof(FlitterData));
    ok &= ControlMode_Register(MODE_BUTTERFLY, &butterfly, sizeof(ButterflyData));
    ok &= ControlMode_Register(MODE_THRUSTING, &thrusting, 0);
    ok &= ControlMode_Register(MODE_SCREENREL, &screenRel, 0);
    return ok;
}
