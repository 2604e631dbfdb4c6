#include "game/ingame_menu.h"

#include <algorithm>
#include <cmath>

float Volume_StepSixteenth(float v, int steps)
{
    v = std::clamp(v + (float)steps * VOLUME_STEP, 0.0f, 1.0f);
    return std::floor(v * 16.0f) / 16.0f;
}

void InGameMenu_Register(void) {}
