#include "game/modes/vehicle_modes.h"

#include "game/control_mode.h"
#include "game/modes/airplane_mode.h"
#include "game/modes/ball_mode.h"
#include "game/modes/battleblades_mode.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/camera_mode.h"
#include "game/modes/faketilt_mode.h"
#include "game/modes/mode_helpers.h"
#include "game/modes/skater_mode.h"

int VehicleModes_Register(void)
{
    // The table's rows, plus a free slot for the two modes that own a chase
    // camera without one, and detach slots for the modes that keep level
    // objects in a player's record.
    const ControlModeSlots skater = {SkaterMode_Load,
                                     SkaterMode_Update,
                                     SkaterMode_Restart,
                                     SkaterMode_RulesUpdate,
                                     SkaterMode_Collision,
                                     SkaterMode_RouteUpdate,
                                     SkaterMode_Free,
                                     nullptr,
                                     nullptr,
                                     nullptr};
    const ControlModeSlots fakeTilt = {FakeTiltMode_Load,
                                       FakeTiltMode_Update,
                                       FakeTiltMode_Restart,
                                       FakeTiltMode_RulesUpdate,
                                       FakeTiltMode_Collision,
                                       FakeTiltMode_RouteUpdate,
                                       FakeTiltMode_Free,
                                       nullptr,
                                       nullptr,
                                       nullptr};
    const ControlModeSlots blades = {BattleBladesMode_Load,
                                     BattleBladesMode_Update,
                                     BattleBladesMode_Restart,
                                     BattleBladesMode_RulesUpdate,
                                     BattleBladesMode_Collision,
                                     BattleBladesMode_RouteUpdate,
                                     BattleBladesMode_Free,
                                     nullptr,
                                     nullptr,
                                     nullptr};
    const ControlModeSlots ball = {BallMode_Load, BallMode_Update, nullptr,       BallMode_RulesUpdate,
                                   nullptr,       BallMode_Route,  BallMode_Free, nullptr,
                                   nullptr,       BallMode_Detach};
    const ControlModeSlots plane = {AirPlaneMode_Load,
                                    AirPlaneMode_Update,
                                    AirPlaneMode_Restart,
                                    AirPlaneMode_RulesUpdate,
                                    nullptr,
                                    nullptr,
                                    AirPlaneMode_Free,
                                    nullptr,
                                    nullptr,
                                    nullptr};
    const ControlModeSlots camera = {CameraModeMode_Load,
                                     CameraModeMode_Update,
                                     nullptr,
                                     CameraModeMode_RulesUpdate,
                                     nullptr,
                                     nullptr,
                                     CameraModeMode_Free,
                                     nullptr,
                                     nullptr,
                                     nullptr};
    const ControlModeSlots broom = {BroomStickMode_Load,        BroomStickMode_Update,    BroomStickMode_Restart,
                                    BroomStickMode_RulesUpdate, BroomStickMode_Collision, BroomStickMode_Route,
                                    BroomStickMode_Free,        ControlMode_Hook,         BroomStickMode_Message,
                                    BroomStickMode_Detach};
    int ok = 1;
    ok &= ControlMode_Register(MODE_SKATER, &skater, sizeof(SkaterData));
    ok &= ControlMode_Register(MODE_FAKETILT, &fakeTilt, sizeof(FakeTiltData));
    ok &= ControlMode_Register(MODE_BATTLEBLADES, &blades, sizeof(BattleBladesData));
    ok &= ControlMode_Register(MODE_BALL, &ball, sizeof(BallData));
    ok &= ControlMode_Register(MODE_AIRPLANE, &plane, sizeof(AirPlaneData));
    ok &= ControlMode_Register(MODE_CAMERAMODE, &camera, sizeof(CameraModeData));
    ok &= ControlMode_Register(MODE_BROOMSTICK, &broom, sizeof(BroomStickData));
    return ok;
}
