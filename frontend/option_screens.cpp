#include "frontend/option_screens.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/colour.h"
#include "app/sound.h"
#include "app/text.h"
#include "common/maths.h"
#include "engine/animset.h"
#include "engine/materialanim.h"
#include "engine/node.h"
#include "engine/quadbatch.h"
#include "engine/view.h"
#include "engine/virtualscreen.h"
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
// The models sway about their upright axis by this much either way as they
// turn, so that their buttons never face away from the labels that point
// at them.
constexpr float kSway = 0.25f;
// The option screens' field of view, whatever the scenes shown before left
// on the view.
constexpr float kModelFov = 0.55f;
// How fast a camera's aim closes on its target (the part of the distance
// closed per second).
constexpr float kAimRate = 3.0f;
// Where the models hang: the model node of ControllerOptions2 and
// SoundOptions, and the first animation's node below it; ControllerOptions
// hangs its animations straight under the root.
constexpr Vec3 kModelPlace = {0.084f, -0.0756f, 10.1257f};
constexpr Vec3 kModelAnimPlace = {0.0f, -0.6f, 0.5f};
constexpr Vec3 kControllerPlace = {-0.2f, -0.25f, -9.0f};
// That controller hangs behind the other screens' view (their camera looks
// along +z): it is turned half round to show its camera its face.
constexpr float kControllerFacing = 3.14159265f;
// How far above the highest label's line ControllerOptions prints the
// controller's name (its text stands on that line).
constexpr float kNameAboveLabels = 20.0f;
// ControllerOptions2 shows the controller at this size.
constexpr float kControlsModelSize = 1.2f;

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
    Node_Destroy(m.camera);
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

// The screen's text file stands on section n, fully shown.
void HoldSection(FrontEndScreen* s, int32_t n)
{
    s->text.hold = 1;
    s->text.alpha = 1.0f;
    TextFile_SetSection(&s->text, n);
}

void SetPosition(Node* node, const Vec3& p)
{
    if (node) Node_SetPosition(node, &p);
}

// The screen's camera at the origin, looking at its aim. The camera has no
// parent: its world matrix is set directly.
void PlaceCamera(FrontEndModelScreen& m)
{
    if (!m.camera) return;
    const Vec3 eye = {0.0f, 0.0f, 0.0f}, up = {0.0f, 1.0f, 0.0f};
    Vec3 at = {m.aim[0], m.aim[1], m.aim[2]};
    if (Vec3_LengthSq(&at) < 1e-6f) at = {0.0f, 0.0f, 1.0f};
    Vec3_Normalise(&at);
    Node_SetWorldPosition(m.camera, &eye);
    Node_SetWorldOrientation(m.camera, &at, &up);
}

// The aim moves towards the node's world place (kept when there is no node).
void EaseAim(FrontEndModelScreen& m, Node* target, float dt)
{
    if (!target) return;
    Vec3 to;
    Node_GetWorldPosition(target, &to);
    const float t = std::min(1.0f, dt * kAimRate);
    const float goal[3] = {to.x, to.y, to.z};
    for (int k = 0; k < 3; k++) m.aim[k] += (goal[k] - m.aim[k]) * t;
    PlaceCamera(m);
}

// The camera made and aimed at once at the target's place (straight ahead
// without one).
void MakeCamera(FrontEndModelScreen& m, Node* target)
{
    m.camera = Node_Create(nullptr);
    m.aim[0] = m.aim[1] = 0.0f;
    m.aim[2] = 1.0f;
    EaseAim(m, target, 1.0f);
    PlaceCamera(m);
}

// A root node with a model node under it at the option models' place; the
// screen's animations under the model, the first at its own place below it.
void BuildModel(FrontEndScreen* s, FrontEndModelScreen& m)
{
    m.root = Node_Create(nullptr);
    m.model = m.root ? Node_Create(m.root) : nullptr;
    SetPosition(m.model, kModelPlace);
    if (m.model) AdoptAnimations(s, m, m.model);
    SetPosition(FrontEnd_ScreenAnimValue(s->index, 0), kModelAnimPlace);
}

// The model turns on: a sway about its upright axis, around `facing`, whose
// phase advances.
void TurnModel(Node* node, FrontEndModelScreen& m, float dt, float facing)
{
    m.turn += dt * kTurnRate;
    if (!node) return;
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Node_SetRotation(node, &up, facing + kSway * std::sin(m.turn));
}

// The depth buffer cleared and the model drawn over the background from
// the screen's own camera.
void DrawModel(const FrontEndModelScreen& m)
{
    View* view = Ctx()->screenView;
    if (!view || !m.root || !m.camera) return;
    View_Clear(view, 0, 1);
    const float kept = View_GetFov(view);
    View_SetFov(view, kModelFov);
    View_Render(view, m.root, m.camera);
    View_SetFov(view, kept);
}

// Where the node shows on the virtual screen, as DrawModel shows it.
Vec3 ProjectNode(View* view, const FrontEndModelScreen& m, Node* node)
{
    Vec3 at;
    const float kept = View_GetFov(view);
    View_SetFov(view, kModelFov);
    View_ProjectPoint(view, m.camera, node, &at, nullptr);
    View_SetFov(view, kept);
    return at;
}

// A leader from (x, y) to the point (virtual screen): along to the point's
// x, then up or down to it, where a marker sits on it; three quads, which
// the batch takes in pixels of the window.
void AddLeader(QuadBatch* batch, float x, float y, const Vec3& to, uint32_t colour)
{
    const VirtualScreenMap map = VirtualScreen_GetMap(1);
    const float line = 0.75f, marker = 4.0f;
    const float rects[3][4] = {{std::min(x, to.x), y - line, std::max(x, to.x), y + line},
                               {to.x - line, std::min(y, to.y), to.x + line, std::max(y, to.y)},
                               {to.x - marker, to.y - marker, to.x + marker, to.y + marker}};
    for (const auto& r : rects)
        QuadBatch_AddQuad(batch, r[0] * map.scaleX, r[1] * map.scaleY, r[2] * map.scaleX, r[3] * map.scaleY, colour,
                          QUADBATCH_SECOND_PASS);
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

namespace {

// The button node of the focused label slot, or null.
Node* FocusedButton(FrontEndScreen* s, const FrontEndModelScreen& m)
{
    const int32_t focus = FrontEnd_GetFocus(s->index);
    return focus < kLabelSlots ? m.buttons[focus] : nullptr;
}

}  // namespace

void FrontEnd_ControllerOptionsEnter(int)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    ReleaseModel(nullptr, m);
    m.root = Node_Create(nullptr);
    if (m.root) AdoptAnimations(s, m, m.root);
    Node* controller = FrontEnd_ScreenAnimValue(s->index, 0);
    SetPosition(controller, kControllerPlace);
    if (controller)
        for (int b = 0; b < kLabelSlots; b++) m.buttons[b] = FrontEnd_FindNode(controller, kButtonNodes[b]);
    m.batch = QuadBatch_Create(50, 50);
    TurnModel(controller, m, 0.0f, kControllerFacing);
    MakeCamera(m, FocusedButton(s, m) ? FocusedButton(s, m) : controller);
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
    TurnModel(FrontEnd_ScreenAnimValue(s->index, 0), m, *dt, kControllerFacing);
    EaseAim(m, FocusedButton(s, m), *dt);
}

void FrontEnd_ControllerOptionsRenderBack(float*) { DrawModel(Model()); }

void FrontEnd_ControllerOptionsRenderFront(float*)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    View* view = Ctx()->screenView;
    // Each label points at its button; the focused one brighter.
    const int32_t focus = FrontEnd_GetFocus(s->index);
    for (int i = 0; m.batch && view && i < kLabelSlots && i < s->itemCount; i++) {
        bool white = true;
        if (!m.buttons[i] || !Label(Binding_FindInPreset(m.cursor, kLabelActions[i]), &white)) continue;
        const Vec3 at = ProjectNode(view, m, m.buttons[i]);
        const FrontEndItem& item = s->items[i];
        const float x = i < 6 ? item.pos[0] + 4.0f : item.pos[0] - 4.0f;
        AddLeader(m.batch, x, item.pos[1], at, Colour_Pack(i == focus ? 255 : 110, 255, 220, 0));
    }
    QuadBatch_Flush(m.batch);
    FrontEnd_DrawBindingLabels();
}

void FrontEnd_DrawBindingLabels(void)
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
    // The controller's name stands above the highest label, clear of it and
    // of the leader that runs from it.
    float top = 480.0f;
    for (int i = 0; i < kLabelSlots && i < s->itemCount; i++) top = std::min(top, s->items[i].pos[1]);
    char key[64], text[TEXT_BUFFER_SIZE];
    Player_GetControllerText(ctx->lastInputPlayer, key, sizeof key);
    ScreenText_Set(font, 0.85f, 255, 155, 100, 1.0f);
    ScreenText_DrawCentred(font, 355.0f, top - kNameAboveLabels, Text_Get(key, 0, text, sizeof text));
    ScreenText_Set(font, 0.55f, 255, 255, 255, 1.0f);
    Text_Get("LS_FRONTEND_ITEMS_CONTROLLERINFO2", 0, text, sizeof text);
    float y = 393.0f + ScreenText_Height(font) * 0.25f;
    ScreenText_Draw(font, 405.0f - ScreenText_Width(font, text), y, text);
    snprintf(text, sizeof text, "%d", m.cursor + 1);
    ScreenText_Set(font, 0.65f, 255, 155, 100, 1.0f);
    ScreenText_Draw(font, 410.0f, y, text);
}

// ---- ControllerOptions2 ----

namespace {

// The model node "Item<n>" of the item shown (n its ReturnValue, 1..15), or null.
Node* ShownNode(FrontEndScreen* s, const FrontEndModelScreen& m, int32_t item)
{
    if (item < 0 || item >= s->itemCount) return nullptr;
    const int32_t n = s->items[item].returnValue;
    if (n < 1 || n > 15) return nullptr;
    char name[16];
    snprintf(name, sizeof name, "Item%d", n);
    return FrontEnd_FindNode(m.model, name);
}

}  // namespace

void FrontEnd_ControllerOptions2Enter(int)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    ReleaseModel(nullptr, m);
    BuildModel(s, m);
    if (Node* model = FrontEnd_ScreenAnimValue(s->index, 0)) {
        // Sized afresh on every entry: the node keeps its matrix between them.
        const Vec3 up = {0.0f, 1.0f, 0.0f}, size = {kControlsModelSize, kControlsModelSize, kControlsModelSize};
        Node_SetRotation(model, &up, 0.0f);
        Node_Scale(model, &size, 0);
    }
    m.batch = QuadBatch_Create(64, 64);
    m.shown = 0;
    m.timer = 0.0f;
    MakeCamera(m, ShownNode(s, m, 0) ? ShownNode(s, m, 0) : m.model);
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
    TurnModel(m.model, m, *dt, 0.0f);
    EaseAim(m, ShownNode(s, m, m.shown), *dt);
}

void FrontEnd_ControllerOptions2RenderBack(float*)
{
    FrontEndScreen* s = Current();
    FrontEndModelScreen& m = Model();
    View* view = Ctx()->screenView;
    DrawModel(m);
    if (!m.batch || !view) return;
    Font* font = Game_GetKartFont();
    char text[TEXT_BUFFER_SIZE];
    for (int32_t i = 0; i < s->itemCount; i++) {
        Node* node = ShownNode(s, m, i);
        if (!node) continue;
        const Vec3 at = ProjectNode(view, m, node);
        // From beside the item's text (on the side it grows from) to the
        // node's place.
        const FrontEndItem& item = s->items[i];
        float width = 0.0f;
        if (item.textId) {
            ScreenText_Set(font, item.scale, 255, 255, 255, 1.0f);
            width = ScreenText_Width(font, Text_GetById(item.textId, 0, text, sizeof text));
        }
        float x = item.pos[0] + width + 6.0f;
        if (item.style & FRONTEND_STYLE_TEXTRIGHT) x = item.pos[0] - width - 6.0f;
        if (item.style & FRONTEND_STYLE_TEXTCENTRE) x = item.pos[0];
        AddLeader(m.batch, x, item.pos[1], at, Colour_Pack(i == m.shown ? 255 : 110, 255, 220, 0));
    }
    QuadBatch_Flush(m.batch);
}

// ---- GameOptions ----

// The screen's text file shows the difficulty that is set: its section is
// the difficulty (the focus alone changes nothing).
void FrontEnd_GameOptionsEnter(int)
{
    FrontEnd_SetFocus(FRONTEND_GAMEOPTIONS, (int32_t)Game_GetDifficulty());
    HoldSection(Current(), (int32_t)Game_GetDifficulty());
    Ctx()->eligibilityOn = 0;
}

void FrontEnd_GameOptionsUpdate(float*)
{
    FrontEnd* fe = Fe();
    FrontEndScreen* s = Current();
    if (fe->requested != fe->current || s->fade > 0.0f || s->itemCount == 0) return;
    if (!PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) return;
    Game_SetDifficulty((uint32_t)FrontEnd_GetFocus(s->index));
    HoldSection(s, (int32_t)Game_GetDifficulty());
}

// ---- SoundOptions ----

void FrontEnd_SoundOptionsEnter(int)
{
    FrontEndModelScreen& m = Model();
    GameContext* ctx = Ctx();
    FrontEndScreen* s = Current();
    ReleaseModel(nullptr, m);
    BuildModel(s, m);
    MakeCamera(m, nullptr);
    ctx->eligibilityOn = 0;
    m.confirmed = 0;
    m.timer = 0.0f;
    m.savedEffects = ctx->effectsVolume;
    m.savedMusic = ctx->musicVolume;
    ShowSoundPictures(0);
    // The screen's text file shows the two-state option: its section is
    // the option's value.
    HoldSection(s, (int32_t)ctx->twoStateOption);
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
    TextFile_SetSection(&s->text, (int32_t)ctx->twoStateOption);
}

void FrontEnd_SoundOptionsRenderBack(float*) { DrawModel(Model()); }
