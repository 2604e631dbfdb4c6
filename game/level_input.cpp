#include "game/level_input.h"

#include <cmath>

#include "app/pad.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/players.h"

namespace {

constexpr uint32_t kActionBits[PLAYER_ACTIONS] = {0, 0, 0, 0, 16, 32, 64, 128, 256, 512, 4096, 8192, 1024, 2048};
constexpr float kCentred = 0.15f;

// Limits each component to the magnitude of the same component of the
// normalised vector, so a diagonal stays on the unit circle and a partial
// push keeps its size.
void LimitToCircle(float* x, float* y)
{
    float length = std::sqrt(*x * *x + *y * *y);
    if (length == 0.0f) return;
    float nx = std::fabs(*x / length), ny = std::fabs(*y / length);
    if (std::fabs(*x) > nx) *x = std::copysign(nx, *x);
    if (std::fabs(*y) > ny) *y = std::copysign(ny, *y);
}

void FillRecord(int player, PlayerInputRecord* rec)
{
    Pad* pad = Player_GetInputDevice(player);
    rec->pad = pad;
    rec->oldButtons = rec->buttons;
    rec->buttons = 0;
    rec->stickX = rec->stickY = rec->stick2X = rec->stick2Y = 0.0f;

    for (int a = 4; a < PLAYER_ACTIONS; a++)
        if (Player_ReadAction(pad, player, a) > 0.0f) rec->buttons |= kActionBits[a];
    if (Pad_GetKind(pad) == PAD_KEYBOARD && Pad_IsDown(pad, INPUT_F1_KEY)) rec->buttons |= kActionBits[11];

    struct Direction {
        int action;
        float* axis;
        float sign;
        uint32_t bit;
    } directions[] = {{2, &rec->stickX, -1.0f, INPUT_LEFT},
                      {3, &rec->stickX, 1.0f, INPUT_RIGHT},
                      {0, &rec->stickY, 1.0f, INPUT_UP},
                      {1, &rec->stickY, -1.0f, INPUT_DOWN}};
    for (const Direction& d : directions) {
        float v = Player_ReadAction(pad, player, d.action);
        if (v == 0.0f) continue;
        *d.axis += d.sign * v;
        rec->buttons |= d.bit;
    }
    LimitToCircle(&rec->stickX, &rec->stickY);

    if (Pad_GetKind(pad) == PAD_CONTROLLER) {
        rec->stick2X = Pad_GetValue(pad, 14);
        rec->stick2Y = Pad_GetValue(pad, 15);
        LimitToCircle(&rec->stick2X, &rec->stick2Y);
    }
    if (std::fabs(rec->stick2X) < kCentred && std::fabs(rec->stick2Y) < kCentred) rec->stick2Centred = 1;
    if (!rec->stick2Centred) rec->stick2X = rec->stick2Y = 0.0f;

    const LevelSession* s = Level_GetSession();
    if (s->clock - s->stamp <= s->stampDuration) rec->buttons = 0;
}

}  // namespace

uint32_t Input_ActionBit(int action) { return action >= 0 && action < PLAYER_ACTIONS ? kActionBits[action] : 0; }

void Level_UpdatePlayerInput(void)
{
    const GameContext* ctx = Game_GetContext();
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
        PlayerInputRecord* rec = Player_GetInputRecord(p);
        if (rec && ctx->playerKinds[p] != PLAYER_KIND_NONE) FillRecord(p, rec);
    }
}

float Player_ReadAction(Pad* pad, int player, int action)
{
    if (!pad || action < 0 || action >= PLAYER_ACTIONS) return 0.0f;
    return Pad_GetValue(pad, Player_GetBinding(player, action));
}
