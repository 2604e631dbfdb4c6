#include "frontend/option_screens.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/colour.h"
#include "app/sound.h"
#include "app/text.h"
#include "engine/animset.h"
#include "engine/materialanim.h"
#include "engine/node.h"
#include "engine/quadbatch.h"
#include "engine/view.h"
#include "frontend/front_end.h"
#include "frontend/screen_machine.h"
#include "game/game_context.h"
#include "game/ingame_menu.h"
#include "game/memcard_ui.h"
#include "game/player_input.h"
#include "game/players.h"
#include "game/screen_text.h"

namespace {

constexpr int kLayouts = 3;
constexpr int kLabelSlots = 9;
constexpr float kTurnRate = 0.5f;

// The actions the nine label slots stand for, and the names of the
// controller model's nodes they point at.
const int kLabelActions[kLabelSlots] = {0, 4, 5, 6, 7, 10, 8, 9, 12};
const char* const kButtonNodes[kLabelSlots] = {"Move",  "Action_1", "Action_2", "Action_3", "Action_4",
                                               "Start", "Action_5", "Action_6", "Action_7"};

FrontEnd* Fe() { return FrontEnd_Get(); }
FrontEndScreen* Current() { return FrontEnd_CurrentScreen(); }
GameContext* Ctx() { return Game_GetContext(); }
FrontEndModelScreen& Model() { return Fe()->model; }

// A label's text and colour for a control of the default layout; null for
// a control without a label.
const char* Label(int control, bool* white)
{
    *white = true;
    switch (control) {
    case 0: return "<MOVE>";
    case 4: return "<ACTION1>";
    case 5: return "<ACTION3>";
    case 6: return "<ACTION2>";
    case 7: return "<ACTION4>";
    case 10: return "<START>";
    default: break;
    }
    *white = false;
    switch (control) {
    case 8: return "L1";
    case 9: return "R1";
    case 12: return "L2";
    case 13: return "R2";
    default: return nullptr;
    }
}

// The screen's animations hang under `parent` while the screen is shown;
// their former parents are kept to put them back.
void AdoptAnimations(FrontEndScreen* s, FrontEndModelScreen& m, Node* parent)
{
    for (int32_t a = 0; a < s->animCount && a < 8; a++) {
        Node* node = s->anims[a].node;
        m.parents[a] = Node_GetParent(node);
        Node_SetParent(node, parent);
    }
}

void ReleaseModel(FrontEndScreen* s, FrontEndModelScreen& m)
{
    if (s) {
        for (int32_t a = 0; a < s->animCount && a < 8; a++)
            if (Node_GetParent(s->anims[a].node) == m.model || Node_GetParent(s->anims[a].node) == m.root)
                Node_SetParent(s->anims[a].node, m.parents[a]);
    }
    QuadBatch_Destroy(m.batch);
    Node_Destroy(m.model);
    Node_Destroy(m.root);
    m = FrontEndModelScreen{};
}

// The sound options' two texture sequences show the frame (the focused item).
void ShowSoundPictures(int32_t frame)
{
    for (const char* name : {"FrontEnd\\Quillomere\\Scenes\\01.png_00", "FrontEnd\\Quillomere\\Scenes\\01.png_01"})
        TexSeq_ShowFrame(TexSeq_Find(name), (uint32_t)frame);
}

void SetPosition(Node* node, float x, float y, float z)
{
    if (!node) return;
    const Vec3 p = {x, y, z};
    Node_SetPosition(node, &p);
}

// A root node with a model node under it at the option models' place; the
// screen's animations under the model, the first at `first`.
void BuildModel(FrontEndScreen* s, FrontEndModelScreen& m, float fx, float fy, float fz)
{
    m.root = Node_Create(nullptr);
    m.model = m.root ? Node_Create(m.root) : nullptr;
    SetPosition(m.model, 0.084f, -0.0756f, 10.1257f);
    if (m.model) AdoptAnimations(s, m, m.model);
    SetPosition(FrontEnd_ScreenAnimValue(s->index, 0), fx, fy, fz);
}

void TurnModel(Node* node, float angle)
{
    if (!node) return;
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Node_SetRotation(node, &up, angle);
}

// The depth buffer cleared and the model drawn over the background, with
// the field of view given (0 keeps the view's).
void DrawModel(Node* root, float fov)
{
    GameContext* ctx = Ctx();
    View* view = ctx->screenView;
    if (!view || !root) return;
    View_Clear(view, 0, 1);
    const float kept = View_GetFov(view);
    if (fov > 0.0f) View_SetFov(view, fov);
    View_Render(view, root, ctx->cameraNode);
    if (fov > 0.0f) View_SetFov(view, kept);
}

}  // namespace

void FrontEnd_ReleaseModelScreen(void)
{
    FrontEnd* fe = Fe();
    if (!fe) return;
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    ReleaseModel(s, fe->model);
}

// ---- Options ----

void FrontEnd_OptionsEnter(int)
{
    FrontEndScreen* s = Current();
    s->text.hold = 0;
    TextFile_SetSection(&s->text, FrontEnd_GetFocus(s->index));
    Ctx()->eligibilityOn = 0;
    Ctx()->controllingPlayer = GAME_ANY_PLAYER;
}

// ---- ControllerOptions ----

void FrontEnd_ControllerOptionsEnter(int)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    ReleaseModel(nullptr, m);
    m.root = Node_Create(nullptr);
    if (m.root) AdoptAnimations(s, m, m.root);
    SetPosition(FrontEnd_ScreenAnimValue(s->index, 0), -0.2f, -0.25f, -9.0f);
    if (Node* model = FrontEnd_ScreenAnimValue(s->index, 0))
        for (int b = 0; b < kLabelSlots; b++) m.buttons[b] = FrontEnd_FindNode(model, kButtonNodes[b]);
    m.batch = QuadBatch_Create(50, 50);
    const uint8_t player = ctx->lastInputPlayer < GAME_PLAYER_SLOTS ? ctx->lastInputPlayer : 0;
    m.cursor = std::clamp(Player_GetControlPreset(player), 0, kLayouts - 1);
    ctx->controllingPlayer = player;
    ctx->eligibilityOn = 0;
    m.confirmed = 0;
}

void FrontEnd_ControllerOptionsExit(int)
{
    ReleaseModel(&Fe()->screens[FRONTEND_CONTROLLEROPTIONS], Model());
    Ctx()->controllingPlayer = GAME_ANY_PLAYER;
}

void FrontEnd_ControllerOptionsUpdate(float* dt)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    if (m.confirmed) {
        Player_SetControlPreset(ctx->lastInputPlayer, m.cursor);
        m.confirmed = 0;
        FrontEnd_PopScreen();
    } else if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) {
        m.confirmed = 1;
    } else if (PlayerInput_LeftPressed(PLAYER_INPUT_ANY)) {
        m.cursor = std::max(0, m.cursor - 1);
    } else if (PlayerInput_RightPressed(PLAYER_INPUT_ANY)) {
        m.cursor = std::min(kLayouts - 1, m.cursor + 1);
    }
    // One third of the model's animation per layout.
    if (AnimSet* set = FrontEnd_ScreenAnimValue2(s->index, 0))
        AnimSet_SetTime(set, AnimSet_GetLength(set) * (float)m.cursor / (float)kLayouts);
    m.turn += *dt * kTurnRate;
    TurnModel(m.root, m.turn);
}

void FrontEnd_ControllerOptionsRenderBack(float*) { DrawModel(Model().root, 0.0f); }

void FrontEnd_ControllerOptionsRenderFront(float*)
{
    FrontEndScreen* s = Current();
    const FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    Font* font = Game_GetKartFont();
    // Only the slots that have an item to stand at are printed.
    for (int i = 0; i < kLabelSlots && i < s->itemCount; i++) {
        bool white = true;
        const char* label = Label(Binding_FindInPreset(m.cursor, kLabelActions[i]), &white);
        if (!label) continue;
        const FrontEndItem& item = s->items[i];
        if (white) ScreenText_Set(font, 0.95f, 255, 255, 255, 1.0f);
        else ScreenText_Set(font, 0.95f, 255, 200, 100, 1.0f);
        float y = item.pos[1] + ScreenText_Height(font) * 0.5f;
        float x = i < 6 ? item.pos[0] + 10.0f : item.pos[0] - 10.0f - ScreenText_Width(font, label);
        ScreenText_Draw(font, x, y, label);
    }
    char key[64], text[TEXT_BUFFER_SIZE];
    Player_GetControllerText(ctx->lastInputPlayer, key, sizeof key);
    ScreenText_Set(font, 0.85f, 255, 155, 100, 1.0f);
    ScreenText_DrawCentred(font, 355.0f, 110.0f, Text_Get(key, 0, text, sizeof text));
    ScreenText_Set(font, 0.55f, 255, 255, 255, 1.0f);
    Text_Get("LS_FRONTEND_ITEMS_CONTROLLERINFO2", 0, text, sizeof text);
    float y = 393.0f + ScreenText_Height(font) * 0.25f;
    ScreenText_Draw(font, 405.0f - ScreenText_Width(font, text), y, text);
    snprintf(text, sizeof text, "%d", m.cursor + 1);
    ScreenText_Set(font, 0.65f, 255, 155, 100, 1.0f);
    ScreenText_Draw(font, 410.0f, y, text);
}

// ---- ControllerOptions2 ----

void FrontEnd_ControllerOptions2Enter(int)
{
    FrontEndModelScreen& m = Model();
    ReleaseModel(nullptr, m);
    BuildModel(Current(), m, 0.0f, -0.6f, 0.5f);
    m.batch = QuadBatch_Create(64, 64);
    m.shown = 0;
    m.timer = 0.0f;
}

void FrontEnd_ControllerOptions2Exit(int) { ReleaseModel(&Fe()->screens[FRONTEND_CONTROLLEROPTIONS2], Model()); }

void FrontEnd_ControllerOptions2Update(float* dt)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    m.timer += *dt;
    if (m.timer > 1.0f) {
        m.timer -= 1.0f;
        // Without items there is nothing to show in turn.
        if (s->itemCount > 0) m.shown = (m.shown + 1) % s->itemCount;
    }
    m.turn += *dt * kTurnRate;
    TurnModel(m.model, m.turn);
}

void FrontEnd_ControllerOptions2RenderBack(float*)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    DrawModel(m.root, 0.55f);
    if (!m.batch || !ctx->screenView) return;
    for (int32_t i = 0; i < s->itemCount; i++) {
        int32_t n = s->items[i].returnValue;
        if (n < 1 || n > 15) continue;
        char name[16];
        snprintf(name, sizeof name, "Item%d", n);
        Node* node = FrontEnd_FindNode(m.model, name);
        if (!node) continue;
        Vec3 at;
        View_ProjectPoint(ctx->screenView, ctx->cameraNode, node, &at, nullptr);
        const uint32_t colour = Colour_Pack(i == m.shown ? 255 : 110, 255, 220, 0);
        const FrontEndItem& item = s->items[i];
        // A marker at the node's place and a line of them back to the item.
        for (int k = 0; k <= 8; k++) {
            float t = (float)k / 8.0f;
            float x = item.pos[0] + (at.x - item.pos[0]) * t, y = item.pos[1] + (at.y - item.pos[1]) * t;
            float r = k == 8 ? 4.0f : 1.0f;
            QuadBatch_AddQuad(m.batch, x - r, y - r, x + r, y + r, colour, QUADBATCH_SECOND_PASS);
        }
    }
    QuadBatch_Flush(m.batch);
}

// ---- GameOptions ----

void FrontEnd_GameOptionsEnter(int)
{
    FrontEnd_SetFocus(FRONTEND_GAMEOPTIONS, (int32_t)Game_GetDifficulty());
    Ctx()->eligibilityOn = 0;
}

void FrontEnd_GameOptionsUpdate(float*)
{
    FrontEnd* fe = Fe();
    FrontEndScreen* s = Current();
    if (fe->requested != fe->current || s->fade > 0.0f || s->itemCount == 0) return;
    if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) Game_SetDifficulty((uint32_t)FrontEnd_GetFocus(s->index));
}

// ---- SoundOptions ----

void FrontEnd_SoundOptionsEnter(int)
{
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    ReleaseModel(nullptr, m);
    BuildModel(Current(), m, 0.0f, -0.6f, 0.5f);
    ctx->eligibilityOn = 0;
    m.confirmed = 0;
    m.timer = 0.0f;
    m.savedEffects = ctx->effectsVolume;
    m.savedMusic = ctx->musicVolume;
    ShowSoundPictures(0);
}

void FrontEnd_SoundOptionsExit(int)
{
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    const uint32_t confirmed = m.confirmed;
    if (!confirmed) {
        ctx->effectsVolume = m.savedEffects;
        ctx->musicVolume = m.savedMusic;
    }
    ReleaseModel(&Fe()->screens[FRONTEND_SOUNDOPTIONS], m);
    Sound_SetMasterVolume(ctx->effectsVolume);
    FrontEnd_SetMusicVolume(ctx->musicVolume);
    if (confirmed) MemCardUI_SetMode(MEMCARD_MODE_AUTOSAVE);
}

void FrontEnd_SoundOptionsUpdate(float* dt)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    if (m.confirmed) {
        // The flag stays for the exit (apply and autosave, not restore); the
        // pop is asked once, not again on every frame of a fade-out.
        if (Fe()->requested == Fe()->current) FrontEnd_PopScreen();
        return;
    }
    if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) m.confirmed = 1;
    m.timer = std::max(0.0f, m.timer - *dt);
    if (m.timer == 0.0f) {
        const bool left = PlayerInput_LeftHeld(PLAYER_INPUT_ANY) != 0;
        const bool right = !left && PlayerInput_RightHeld(PLAYER_INPUT_ANY) != 0;
        if (left || right) {
            m.timer = VOLUME_REPEAT;
            const int steps = left ? -1 : 1;
            switch (FrontEnd_GetFocus(s->index)) {
            case 0:
                ctx->musicVolume = Volume_StepSixteenth(ctx->musicVolume, steps);
                FrontEnd_SetMusicVolume(ctx->musicVolume);
                FrontEnd_PlaySound("Generic");
                break;
            case 1:
                ctx->effectsVolume = Volume_StepSixteenth(ctx->effectsVolume, steps);
                // A silent master volume would silence the feedback too.
                if (ctx->effectsVolume > 0.0f) Sound_SetMasterVolume(ctx->effectsVolume);
                FrontEnd_PlaySound("Generic");
                break;
            case 2: {
                const uint32_t value = left ? 1 : 0;
                if (ctx->twoStateOption != value) FrontEnd_PlaySound("Generic");
                ctx->twoStateOption = value;
                break;
            }
            default: break;
            }
        }
    }
    if (AnimSet* set = FrontEnd_ScreenAnimValue2(s->index, 0))
        AnimSet_SetTime(set, AnimSet_GetLength(set) * ctx->effectsVolume);
    ShowSoundPictures(FrontEnd_GetFocus(s->index));
}

void FrontEnd_SoundOptionsRenderBack(float*) { DrawModel(Model().root, 0.0f); }
