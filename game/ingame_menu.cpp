#include "game/ingame_menu.h"

#include <algorithm>
#include <cmath>

#include "app/config.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/callbacks.h"
#include "game/game_context.h"
#include "game/level_file.h"
#include "game/menu_system.h"
#include "game/player_input.h"

namespace {

// The page's user data while it lives.
struct PauseSliders {
    MenuImage* sfxKnob;  // the adjusters' image blocks (null without one)
    MenuImage* musicKnob;
    float sfxStart[2], sfxEnd[2];
    float musicStart[2], musicEnd[2];
    int32_t changeSound;                    // sound-bank id, -1 for none
    float timer;                            // seconds until a held direction steps again
    uint32_t sfxSelection, musicSelection;  // the entries whose focus picks the volume
};

void Place(MenuImage* knob, const float* start, const float* end, float volume)
{
    if (!knob) return;
    for (int axis = 0; axis < 2; axis++) knob->pos[axis] = start[axis] + (end[axis] - start[axis]) * volume;
}

void InitKnob(MenuPage* page, const char* entry, MenuImage** knob, float* start, float* end)
{
    MenuEntry* e = MenuPage_FindEntryByName(page, entry, nullptr);
    *knob = e ? e->image : nullptr;
    if (*knob) {
        start[0] = end[0] = (*knob)->pos[0];
        start[1] = end[1] = (*knob)->pos[1];
    }
}

// One step of a volume, its effect and its sound.
void Step(const PauseSliders* s, float* volume, int steps, bool effects)
{
    *volume = Volume_StepSixteenth(*volume, steps);
    if (effects) Sound_SetMasterVolume(*volume);
    else Level_SetMusicVolume(*volume);
    if (s->changeSound >= 0) SoundBank_PlayId(s->changeSound, 1.0f, 0, nullptr);
}

}  // namespace

float Volume_StepSixteenth(float v, int steps)
{
    v = std::clamp(v + (float)steps * VOLUME_STEP, 0.0f, 1.0f);
    return std::floor(v * 16.0f) / 16.0f;
}

void InGameMenu_Register(void)
{
    CallbackRegistry_AddFn("InGameMenu_Callbacks_PauseMenuMainUpdate", InGameMenu_Callbacks_PauseMenuMainUpdate);
    CallbackRegistry_AddFn("InGameMenu_Callbacks_PauseMenuMainInit", InGameMenu_Callbacks_PauseMenuMainInit);
    CallbackRegistry_AddFn("InGameMenu_Callbacks_PauseMenuMainShutdown", InGameMenu_Callbacks_PauseMenuMainShutdown);
}

void InGameMenu_Callbacks_PauseMenuMainInit(MenuPage* page, MenuSystem* menu, void* argument)
{
    if (!page) return;
    InGameMenu_Callbacks_PauseMenuMainShutdown(page, menu, nullptr);
    auto* s = (PauseSliders*)Mem_Calloc(sizeof(PauseSliders), 8);
    if (!s) return;
    s->changeSound = -1;
    s->sfxSelection = Name_Hash("sfxVolumeSelection", 1, 1);
    s->musicSelection = Name_Hash("musicVolumeSelection", 1, 1);
    InitKnob(page, "sfxVolumeAdjuster", &s->sfxKnob, s->sfxStart, s->sfxEnd);
    InitKnob(page, "musicVolumeAdjuster", &s->musicKnob, s->musicStart, s->musicEnd);
    if (auto* cfg = (ConfigNode*)argument) {
        float range[2];
        if (Config_GetVector2(cfg, "sfxScrollBarRange", range))
            for (int axis = 0; axis < 2; axis++) s->sfxEnd[axis] = s->sfxStart[axis] + range[axis];
        if (Config_GetVector2(cfg, "musicScrollBarRange", range))
            for (int axis = 0; axis < 2; axis++) s->musicEnd[axis] = s->musicStart[axis] + range[axis];
        char name[CONFIG_TEXT_MAX];
        if (menu && Config_GetString(cfg, "sfxChangeSound", name, sizeof name) && name[0])
            s->changeSound = SoundBank_FindId(name, menu->soundGroup, 0);
    }
    page->userData = s;
}

void InGameMenu_Callbacks_PauseMenuMainUpdate(MenuPage* page, MenuSystem* menu, void*)
{
    auto* s = page ? (PauseSliders*)page->userData : nullptr;
    if (!s || !menu) return;
    GameContext* ctx = Game_GetContext();
    s->timer = std::max(0.0f, s->timer - Game_GetFrameTime());
    Place(s->sfxKnob, s->sfxStart, s->sfxEnd, ctx->effectsVolume);
    Place(s->musicKnob, s->musicStart, s->musicEnd, ctx->musicVolume);
    if (s->timer > 0.0f) return;
    const uint32_t focused =
        page->focus >= 0 && page->focus < page->entryCount ? page->entries[page->focus].nameHash : 0;
    const bool sfx = focused == s->sfxSelection, music = focused == s->musicSelection;
    // Left, then right in the same frame: both held apply both steps.
    if (PlayerInput_LeftHeld(menu->player)) {
        s->timer = VOLUME_REPEAT;
        if (sfx && ctx->effectsVolume > 0.0f) Step(s, &ctx->effectsVolume, -1, true);
        if (music && ctx->musicVolume > 0.0f) Step(s, &ctx->musicVolume, -1, false);
    }
    if (PlayerInput_RightHeld(menu->player)) {
        s->timer = VOLUME_REPEAT;
        if (sfx && ctx->effectsVolume < 1.0f) Step(s, &ctx->effectsVolume, 1, true);
        if (music && ctx->musicVolume < 1.0f) Step(s, &ctx->musicVolume, 1, false);
    }
}

void InGameMenu_Callbacks_PauseMenuMainShutdown(MenuPage* page, MenuSystem*, void*)
{
    if (!page || !page->userData) return;
    Mem_Free(page->userData);
    page->userData = nullptr;
}
