#include "game/player_input.h"

#include "app/pad.h"
#include "game/game_context.h"
#include "game/players.h"

namespace {

// One test of one player's device.
typedef int (*DeviceTest)(int player, Pad* device);

int BindingPressed(Pad* device, int player, int action)
{
    return Pad_JustPressed(device, Player_GetDefaultBinding(player, action));
}

int BindingHeld(Pad* device, int player, int action)
{
    return Pad_GetValue(device, Player_GetDefaultBinding(player, action)) > PLAYER_INPUT_HELD;
}

// Runs the test for the player, or for every slot below GameMaxPlayers when
// the player is PLAYER_INPUT_ANY; the first eligible player whose test
// succeeds answers and becomes the last input player.
int RunTest(uint8_t player, DeviceTest test)
{
    GameContext* ctx = Game_GetContext();
    if (ctx->inputLocked) return 0;
    int first = player, last = player;
    if (player == PLAYER_INPUT_ANY) {
        first = 0;
        last = (int)Game_GetMaxPlayers() - 1;
    }
    for (int p = first; p <= last; p++) {
        if (!PlayerInput_IsEligible(p)) continue;
        if (test(p, ctx->inputDevices[p])) {
            ctx->lastInputPlayer = (uint8_t)p;
            return 1;
        }
    }
    return 0;
}

int EscapeTest(int, Pad*)
{
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    return keyboard ? Pad_JustPressed(keyboard, PLAYER_INPUT_ESCAPE_KEY) : 0;
}

int SelectTest(int p, Pad* d) { return BindingPressed(d, p, 4); }
int Action5Test(int p, Pad* d) { return BindingPressed(d, p, 5); }
int Action6Test(int p, Pad* d) { return BindingPressed(d, p, 6); }
int BackTest(int p, Pad* d) { return BindingPressed(d, p, 7) || BindingPressed(d, p, 10); }
int UpTest(int p, Pad* d) { return BindingPressed(d, p, 0); }
int DownTest(int p, Pad* d) { return BindingPressed(d, p, 1); }
int LeftTest(int p, Pad* d) { return BindingPressed(d, p, 2); }
int RightTest(int p, Pad* d) { return BindingPressed(d, p, 3); }
int UpHeldTest(int p, Pad* d) { return BindingHeld(d, p, 0); }
int DownHeldTest(int p, Pad* d) { return BindingHeld(d, p, 1); }
int LeftHeldTest(int p, Pad* d) { return BindingHeld(d, p, 2); }
int RightHeldTest(int p, Pad* d) { return BindingHeld(d, p, 3); }
int NeverTest(int, Pad*) { return 0; }

int AnyTest(int p, Pad* d)
{
    static const int kActions[] = {4, 5, 6, 7, 10, 0, 1, 2, 3};
    for (int action : kActions)
        if (BindingPressed(d, p, action)) return 1;
    return 0;
}

}  // namespace

int PlayerInput_IsEligible(int player)
{
    if (player < 0 || player >= GAME_PLAYER_SLOTS) return 0;
    const GameContext* ctx = Game_GetContext();
    if (ctx->eligibilityOn && ctx->eligible[player] != 1) return 0;
    if (ctx->controllingPlayer != GAME_ANY_PLAYER && ctx->controllingPlayer != player) return 0;
    return ctx->inputDevices[player] != nullptr;
}

int PlayerInput_EscapePressed(uint8_t player) { return RunTest(player, EscapeTest); }
int PlayerInput_SelectPressed(uint8_t player) { return RunTest(player, SelectTest); }
int PlayerInput_Action5Pressed(uint8_t player) { return RunTest(player, Action5Test); }
int PlayerInput_Action6Pressed(uint8_t player) { return RunTest(player, Action6Test); }
int PlayerInput_BackPressed(uint8_t player) { return RunTest(player, BackTest); }
int PlayerInput_UpPressed(uint8_t player) { return RunTest(player, UpTest); }
int PlayerInput_DownPressed(uint8_t player) { return RunTest(player, DownTest); }
int PlayerInput_LeftPressed(uint8_t player) { return RunTest(player, LeftTest); }
int PlayerInput_RightPressed(uint8_t player) { return RunTest(player, RightTest); }
int PlayerInput_UpHeld(uint8_t player) { return RunTest(player, UpHeldTest); }
int PlayerInput_DownHeld(uint8_t player) { return RunTest(player, DownHeldTest); }
int PlayerInput_LeftHeld(uint8_t player) { return RunTest(player, LeftHeldTest); }
int PlayerInput_RightHeld(uint8_t player) { return RunTest(player, RightHeldTest); }
int PlayerInput_NeverPressed(uint8_t player) { return RunTest(player, NeverTest); }
int PlayerInput_AnyPressed(uint8_t player) { return RunTest(player, AnyTest); }
