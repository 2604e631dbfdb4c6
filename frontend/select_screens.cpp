#include "frontend/select_screens.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/colour.h"
#include "app/state.h"
#include "app/text.h"
#include "engine/materialanim.h"
#include "engine/node.h"
#include "engine/sprite.h"
#include "frontend/front_end.h"
#include "frontend/screen_machine.h"
#include "game/game_context.h"
#include "game/loading_screen.h"
#include "game/player_input.h"
#include "game/players.h"
#include "game/race_setup.h"
#include "game/screen_text.h"

namespace {

constexpr int kCups = 5;
constexpr int kCupTracks = 4;
constexpr int kPositions = 4;
constexpr uint8_t kNoCharacter = 255;
constexpr uint8_t kNoDevice = 255;
constexpr int kOskeld = 8;  // the ninth character, player 1's in play mode 1

// Track digit, D(ay) or N(ight), F(orwards) or B(ackwards).
const char kCupTable[kCups][kCupTracks][4] = {
    {"1DF", "2DF", "3DF", "4DF"}, {"3NF", "5DB", "1DF", "2NF"}, {"2DF", "4NF", "5DB", "1NF"},
    {"5NB", "3NF", "1DF", "4NB"}, {"4DB", "2NB", "3DB", "5NF"},
};

FrontEnd* Fe() { return FrontEnd_Get(); }
FrontEndScreen* Current() { return FrontEnd_CurrentScreen(); }
GameContext* Ctx() { return Game_GetContext(); }

bool RequestedLaunch() { return Fe() && Fe()->requested == FRONTEND_LAUNCH; }

void EligibilityOff()
{
    Ctx()->eligibilityOn = 0;
    Ctx()->controllingPlayer = GAME_ANY_PLAYER;
}

// Every road to a level has a human: the last input player, set up as the
// grid screens set their player up, unless someone already is human (the
// character screens' players then stand).
void EnsureHumanPlayer()
{
    GameContext* ctx = Ctx();
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++)
        if (ctx->playerKinds[p] == PLAYER_KIND_HUMAN) return;
    const uint8_t p = ctx->lastInputPlayer < GAME_PLAYER_SLOTS ? ctx->lastInputPlayer : 0;
    ctx->eligible[p] = 1;
    ctx->controllingPlayer = p;
    ctx->playerKinds[p] = PLAYER_KIND_HUMAN;
    ctx->inputDevices[p] = Player_GetInputDevice(p);
    ctx->playerCount = 1;
}

// The level side reads the difficulty from the race set-up.
void WriteDifficulty()
{
    for (int p = 0; p < GAMESETUP_PLAYERS; p++) GameSetup_SetPlayerDifficulty(p, Game_GetDifficulty());
}

// The exits of the screens a level is launched from. Each keeps the history,
// so the front end comes back to that screen after the level, whether it
// was played out or left through the pause menu.
void TowardsLaunch()
{
    EnsureHumanPlayer();
    WriteDifficulty();
    FrontEnd_StopMusic();
    FrontEnd_SaveHistory();
}

// The screens that switch the eligibility list on take input only from the
// players on it: the character screens put their players there, and when a
// road reached the screen without them (no player is on the list), the last
// input player is put there, so the screen is never dead.
void EligibilityOn()
{
    GameContext* ctx = Ctx();
    ctx->eligibilityOn = 1;
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++)
        if (ctx->eligible[p] == 1) return;
    if (ctx->lastInputPlayer < GAME_PLAYER_SLOTS) ctx->eligible[ctx->lastInputPlayer] = 1;
}

void SetSection(FrontEndScreen* s, int32_t n)
{
    s->text.hold = 0;
    TextFile_SetSection(&s->text, n);
}

// ---- grids of levels ----

struct Grid {
    int32_t columns, rows;
};

bool Locked(int32_t item) { return FrontEnd_IsItemLocked(item) != 0; }

// The first unlocked item of the row at or before the column, or -1.
int32_t UnlockedAtOrBefore(const Grid& g, int32_t row, int32_t column)
{
    for (int32_t c = column; c >= 0; c--)
        if (!Locked(row * g.columns + c)) return row * g.columns + c;
    return -1;
}

// One frame of focus moves over the grid, skipping locked items. Every
// search stops after one full cycle and keeps the focus.
void MoveOverGrid(const Grid& g)
{
    FrontEnd* fe = Fe();
    if (!fe || g.columns <= 0 || g.rows <= 0) return;
    const int32_t focus = FrontEnd_GetFocus(fe->current);
    const int32_t row = focus / g.columns, column = focus % g.columns;
    int32_t target = -1;
    int vertical = PlayerInput_UpPressed(PLAYER_INPUT_ANY) ? -1 : PlayerInput_DownPressed(PLAYER_INPUT_ANY) ? 1 : 0;
    if (vertical) {
        for (int32_t step = 1; step < g.rows && target < 0; step++) {
            int32_t r = ((row + vertical * step) % g.rows + g.rows) % g.rows;
            target = UnlockedAtOrBefore(g, r, column);
        }
    } else if (PlayerInput_LeftPressed(PLAYER_INPUT_ANY)) {
        if (column > 0) {
            if (!Locked(focus - 1)) target = focus - 1;
        } else {
            target = UnlockedAtOrBefore(g, row, g.columns - 1);
        }
    } else if (PlayerInput_RightPressed(PLAYER_INPUT_ANY)) {
        if (column < g.columns - 1) {
            if (!Locked(focus + 1)) target = focus + 1;
        } else {
            for (int32_t c = 0; c < g.columns && target < 0; c++)
                if (!Locked(row * g.columns + c)) target = row * g.columns + c;
        }
    }
    if (target >= 0 && target != focus) {
        FrontEnd_SetFocus(fe->current, target);
        FrontEnd_PlaySound("MoveFocus");
    }
}

// Select on a grid: a locked focus plays "Invalid" and launches nothing;
// otherwise the navigation follows the item's link and the history is kept
// for the return from the level.
void GridSelect()
{
    FrontEnd* fe = Fe();
    FrontEndScreen* s = Current();
    if (!PlayerInput_SelectPressed(PLAYER_INPUT_ANY) || s->fade > 0.0f) return;
    if (Locked(FrontEnd_GetFocus(fe->current))) {
        FrontEnd_PlaySound("Invalid");
        return;
    }
    s->overrideSelect = 0;
    FrontEnd_SaveHistory();
}

// The grid screens move their focus themselves: the generic focus moves
// are off while they are shown.
void GridEnter()
{
    EligibilityOn();
    Current()->isStatic = 1;
}

void GridUpdate(const Grid& g)
{
    Current()->overrideSelect = 1;
    MoveOverGrid(g);
    GridSelect();
}

// "level<n>.cfg" entries from the focused item to `last` (inclusive), then
// "NONE". An item's ReturnValue below 1 gives its index + 1.
void WriteLevels(int32_t last)
{
    FrontEndScreen* s = Current();
    const int32_t focus = FrontEnd_GetFocus(s->index);
    last = std::min(last, s->itemCount - 1);
    int index = 0;
    for (int32_t i = focus; i <= last && index < GAMESETUP_LEVELS - 1; i++) {
        int32_t number = s->items[i].returnValue < 1 ? i + 1 : s->items[i].returnValue;
        char level[32];
        snprintf(level, sizeof level, "level%d.cfg", number);
        GameSetup_SetLevel(level, index++);
    }
    GameSetup_SetLevel(GAMESETUP_END, index);
}

// ---- character screens ----

// A position's picture is a texture sequence of the background scene's
// model, found by name; without one nothing is shown.
void ShowPicture(const FrontEndCharacterSelect& c, int position, int frame)
{
    if (!c.pictureFormat) return;
    char name[96];
    snprintf(name, sizeof name, c.pictureFormat, position);
    TexSeq_ShowFrame(TexSeq_Find(name), (uint32_t)frame);
}

bool HeldByOther(const FrontEndCharacterSelect& c, int position, int character)
{
    for (int q = 0; q < kPositions; q++)
        if (q != position && c.joined[q] && c.character[q] == character) return true;
    return false;
}

// Any menu input of one player that joins: the four directions, select and
// actions 5 and 6.
bool JoinPressed(uint8_t p)
{
    return PlayerInput_UpPressed(p) || PlayerInput_DownPressed(p) || PlayerInput_LeftPressed(p) ||
           PlayerInput_RightPressed(p) || PlayerInput_SelectPressed(p) || PlayerInput_Action5Pressed(p) ||
           PlayerInput_Action6Pressed(p);
}

int PositionOf(const FrontEndCharacterSelect& c, uint8_t player)
{
    for (int q = 0; q < kPositions; q++)
        if (c.joined[q] && c.player[q] == player) return q;
    return -1;
}

void Join(FrontEndCharacterSelect& c, uint8_t player)
{
    if (c.count >= kPositions) return;
    int q = c.count++;
    c.joined[q] = 1;
    c.player[q] = player;
    c.confirmed[q] = 0;
    c.joinedThisFrame[q] = 1;
    c.character[q] = 0;
    if (player < GAME_PLAYER_SLOTS) Ctx()->eligible[player] = 1;
    for (int k = 0; k < GAME_CHARACTERS; k++) {
        if (!HeldByOther(c, q, k)) {
            c.character[q] = (uint8_t)k;
            break;
        }
    }
}

void PlaceCharacterNodes(FrontEndCharacterSelect& c)
{
    for (Node* node : c.positionNodes)
        if (node) Node_SetParent(node, nullptr);
    for (int q = 0; q < kPositions; q++) {
        if (!c.joined[q] || !c.positionNodes[q] || c.character[q] >= GAME_CHARACTERS) continue;
        if (Node* parent = c.characterNodes[c.character[q]]) Node_SetParent(c.positionNodes[q], parent);
    }
}

void CharacterEnter(const char* pictures)
{
    FrontEnd* fe = Fe();
    GameContext* ctx = Ctx();
    FrontEndCharacterSelect& c = fe->characters;
    Sprite_Release(c.tint);
    c = FrontEndCharacterSelect{};
    c.pictureFormat = pictures;
    const uint32_t tint = Colour_Pack(200, 150, 150, 150);
    c.tint = Sprite_CreateBlank(&tint, 1, 1);
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) {
        ctx->deviceIndex[p] = kNoDevice;
        ctx->playerKinds[p] = PLAYER_KIND_COMPUTER;
        ctx->inputDevices[p] = Player_GetInputDevice(p);
        ctx->eligible[p] = 255;  // the players who join are put on the list
    }
    // The characters a player's stars have reached open.
    Character_UnlockEarned(Progress_SumPlayerValues(0));
    // The nodes of the scene the screen draws: its own, or the background.
    const FrontEndScreen* s = Current();
    if (Node* scene = s && s->scene ? s->sceneNode : fe->backgroundNode) {
        for (int q = 0; q < kPositions; q++) {
            char name[32];
            snprintf(name, sizeof name, "P%d_NULL", q + 1);
            c.positionNodes[q] = FrontEnd_FindNode(scene, name);
            c.positionParents[q] = c.positionNodes[q] ? Node_GetParent(c.positionNodes[q]) : nullptr;
        }
        for (int k = 0; k < GAME_CHARACTERS; k++) {
            char name[32];
            snprintf(name, sizeof name, "CHAR_NULL%.2d", k + 1);
            c.characterNodes[k] = FrontEnd_FindNode(scene, name);
        }
    }
    // The play mode is PlayGame's choice; a front end made anew after a
    // level has none, and the road back keeps the mode it was taken with.
    if (fe->screens[FRONTEND_PLAYGAME].lastSelected >= 0)
        ctx->playMode = (uint32_t)fe->screens[FRONTEND_PLAYGAME].lastSelected;
    // Free places say JOIN unless nobody else can take them (Single Track).
    const int blank = ctx->playMode == 1 ? 9 : 8;
    for (int q = 0; q < kPositions; q++) ShowPicture(c, q, blank);
    Join(c, ctx->lastInputPlayer < GAME_PLAYER_SLOTS ? ctx->lastInputPlayer : 0);
    EligibilityOff();
    FrontEnd_SetFocus(fe->current == FRONTEND_PLAYERSELECT2 ? FRONTEND_PLAYERSELECT2 : FRONTEND_PLAYERSELECT,
                      (int32_t)ctx->playMode);
    fe->selectSpent = 1;  // the entry frame's select belongs to the screen before
}

// Whatever the screen's enter moved goes back where it was.
void RestoreCharacterNodes(FrontEndCharacterSelect& c)
{
    for (int q = 0; q < kPositions; q++)
        if (c.positionNodes[q]) Node_SetParent(c.positionNodes[q], c.positionParents[q]);
}

}  // namespace

void FrontEnd_ReleaseCharacterScreen(void)
{
    FrontEnd* fe = Fe();
    if (!fe) return;
    RestoreCharacterNodes(fe->characters);
    Sprite_Release(fe->characters.tint);
    fe->characters = FrontEndCharacterSelect{};
}

// ---- tracks ----

int FrontEnd_CupTrackPath(int cup, int track, char* out, unsigned size)
{
    if (!out || !size) return 0;
    out[0] = 0;
    if (cup < 0 || cup >= kCups || track < 0 || track >= kCupTracks) return 0;
    const char* t = kCupTable[cup][track];
    FrontEnd_TrackPath(t[0] - '0', t[1] == 'D', t[2] == 'F', out, size);
    return 1;
}

int FrontEnd_CupTrackBackwards(int cup, int track)
{
    if (cup < 0 || cup >= kCups || track < 0 || track >= kCupTracks) return 0;
    return kCupTable[cup][track][2] == 'B';
}

void FrontEnd_TrackPath(int track, int day, int forwards, char* out, unsigned size)
{
    snprintf(out, size, "LandScape\\Track%.2d\\T%.2d_%s_%s.cfg", track, track, day ? "Day" : "Night",
             forwards ? "Forwards" : "Backwards");
}

// ---- Main, PlayGame ----

void FrontEnd_MenuEnter(int)
{
    GameContext* ctx = Ctx();
    SetSection(Current(), -1);
    EligibilityOff();
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) {
        ctx->deviceIndex[p] = kNoDevice;
        ctx->playerKinds[p] = PLAYER_KIND_COMPUTER;
        ctx->inputDevices[p] = Player_GetInputDevice(p);
    }
}

void FrontEnd_MenuExit(int)
{
    if (Fe()->requested == FRONTEND_GAMEOPTIONS) Ctx()->controllingPlayer = Ctx()->lastInputPlayer;
}

void FrontEnd_MenuUpdate(float*)
{
    FrontEndScreen* s = Current();
    SetSection(s, FrontEnd_GetFocus(s->index));
}

// ---- Engine ----

// No progress entry stands for an engine class or a cup: every item of
// these screens is open.
static void OpenEveryItem(FrontEndScreen* s)
{
    for (int32_t i = 0; i < s->itemCount; i++) s->items[i].disabled = 0;
}

void FrontEnd_EngineEnter(int)
{
    FrontEndScreen* s = Current();
    OpenEveryItem(s);
    SetSection(s, s->itemCount - 1);
    EligibilityOff();
}

void FrontEnd_EngineExit(int)
{
    int32_t value = Fe()->screens[FRONTEND_ENGINE].lastSelected;
    if (value >= 0 && value <= 2) GameSetup_SetEngineClass((uint32_t)value);
}

void FrontEnd_EngineUpdate(float*)
{
    FrontEndScreen* s = Current();
    SetSection(s, s->itemCount - 1);
}

// ---- CupSelect ----

void FrontEnd_CupSelectEnter(int)
{
    OpenEveryItem(Current());
    EligibilityOn();
}

void FrontEnd_CupSelectExit(int)
{
    const int cup = std::clamp(FrontEnd_GetFocus(FRONTEND_CUPSELECT), 0, kCups - 1);
    for (int t = 0; t < kCupTracks; t++) {
        char path[GAMESETUP_TEXT];
        FrontEnd_CupTrackPath(cup, t, path, sizeof path);
        GameSetup_SetLevel(path, t);
    }
    GameSetup_SetLevel(GAMESETUP_END, kCupTracks);
    if (RequestedLaunch()) TowardsLaunch();
}

void FrontEnd_CupSelectUpdate(float*)
{
    FrontEndScreen* s = Current();
    const FrontEndItem* item = FrontEnd_FocusedItem();
    TextFile_SetSection(&s->text, s->itemCount + 2);
    s->text.hold = 1;
    s->text.alpha = item && item->disabled ? 1.0f : 0.5f;
}

void FrontEnd_CupSelectRenderFront(float*)
{
    FrontEnd* fe = Fe();
    const FrontEndItem* item = FrontEnd_FocusedItem();
    if (!item || item->disabled || !fe->reverse) return;
    const int cup = std::clamp(FrontEnd_GetFocus(FRONTEND_CUPSELECT), 0, kCups - 1);
    const float w = Sprite_GetWidth(fe->reverse), h = Sprite_GetHeight(fe->reverse);
    for (int t = 0; t < kCupTracks; t++) {
        if (!FrontEnd_CupTrackBackwards(cup, t) || !item->secondary[t].sprite) continue;
        const float rect[4] = {item->secondary[t].pos[0] - w * 2.0f / 3.0f, item->secondary[t].pos[1], w, h};
        Sprite_SetColour(fe->reverse, 1, 1, 1, 1);
        Sprite_DrawSimple(fe->reverse, rect);
    }
}

// ---- LevelSelect ----

void FrontEnd_LevelSelectEnter(int)
{
    EligibilityOn();
    Fe()->levelSelect = FrontEndLevelSelect{1, 1, 0, 0};
}

void FrontEnd_LevelSelectExit(int)
{
    if (!RequestedLaunch()) return;
    const FrontEndLevelSelect& ls = Fe()->levelSelect;
    char path[GAMESETUP_TEXT];
    FrontEnd_TrackPath(FrontEnd_GetFocus(FRONTEND_LEVELSELECT) + 1, (int)ls.day, (int)ls.forwards, path, sizeof path);
    GameSetup_SetLevel(path, 0);
    GameSetup_SetLevel(GAMESETUP_END, 1);
    TowardsLaunch();
}

void FrontEnd_LevelSelectUpdate(float*)
{
    FrontEndScreen* s = Current();
    FrontEndLevelSelect& ls = Fe()->levelSelect;
    SetSection(s, FrontEnd_GetFocus(s->index));
    s->overrideSelect = 1;
    if (PlayerInput_UpPressed(PLAYER_INPUT_ANY) || PlayerInput_DownPressed(PLAYER_INPUT_ANY)) ls.stage1 = ls.stage2 = 0;
    if (PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) {
        if (ls.stage2) {
            // The choice is made: the navigation follows the item's link.
            ls.stage1 = ls.stage2 = 0;
            s->overrideSelect = 0;
        } else if (ls.stage1) {
            ls.stage1 = 0;
            ls.stage2 = 1;
        } else {
            ls.stage1 = 1;
        }
        return;
    }
    if (ls.stage1) {
        if (PlayerInput_LeftPressed(PLAYER_INPUT_ANY)) ls.day = 1;
        if (PlayerInput_RightPressed(PLAYER_INPUT_ANY)) ls.day = 0;
    } else if (ls.stage2) {
        if (PlayerInput_LeftPressed(PLAYER_INPUT_ANY)) ls.forwards = 1;
        if (PlayerInput_RightPressed(PLAYER_INPUT_ANY)) ls.forwards = 0;
    }
}

void FrontEnd_LevelSelectRenderBack(float*) {}

void FrontEnd_LevelSelectRenderFront(float*)
{
    const FrontEndLevelSelect& ls = Fe()->levelSelect;
    Font* font = Game_GetKartFont();
    const float pulse = std::sin(6.0f * State_GetClock()) / 15.0f;
    struct Mode {
        const char* key;
        bool chosen;
        bool active;
        float y;
    } modes[4] = {
        {"LS_FRONTEND_ITEMS_LEVELMODE1", ls.day != 0, ls.stage1 != 0, 300.0f},
        {"LS_FRONTEND_ITEMS_LEVELMODE2", ls.day == 0, ls.stage1 != 0, 325.0f},
        {"LS_FRONTEND_ITEMS_LEVELMODE3", ls.forwards != 0, ls.stage2 != 0, 355.0f},
        {"LS_FRONTEND_ITEMS_LEVELMODE4", ls.forwards == 0, ls.stage2 != 0, 380.0f},
    };
    for (const Mode& m : modes) {
        char text[TEXT_BUFFER_SIZE];
        Text_Get(m.key, 0, text, sizeof text);
        float scale = m.chosen ? 0.9f + (m.active ? pulse : 0.0f) : 0.8f;
        ScreenText_Set(font, scale, 255, 255, 255, m.chosen ? 1.0f : 0.6f);
        ScreenText_Draw(font, 445.0f - ScreenText_Width(font, text), m.y, text);
    }
}

// ---- LevelSelect2, LevelSelect3 ----

void FrontEnd_LevelSubSelectEnter(int) { GridEnter(); }

void FrontEnd_LevelSelect2Exit(int)
{
    if (!RequestedLaunch()) return;
    const int32_t focus = FrontEnd_GetFocus(FRONTEND_LEVELSELECT2);
    WriteLevels(focus / 3 * 3 + 2);
    TowardsLaunch();
}

void FrontEnd_LevelSelect2Update(float*)
{
    FrontEndScreen* s = Current();
    for (int32_t i = 0; i < s->itemCount; i++) s->items[i].disabled = (uint32_t)Locked(i);
    GridUpdate(Grid{3, 4});
}

void FrontEnd_LevelSelect3Exit(int)
{
    if (!RequestedLaunch()) return;
    WriteLevels(Fe()->screens[FRONTEND_LEVELSELECT3].itemCount - 1);
    TowardsLaunch();
}

void FrontEnd_LevelSelect3Update(float*)
{
    FrontEndScreen* s = Current();
    GridUpdate(Grid{5, 2});
    SetSection(s, FrontEnd_GetFocus(s->index));
}

void FrontEnd_LevelSelect3RenderFront(float*)
{
    FrontEnd* fe = Fe();
    FrontEndScreen* s = Current();
    if (!fe->lock) return;
    // The lock covers the tile as it is drawn, whatever its size and scale.
    for (int32_t i = 0; i < s->itemCount; i++) {
        float rect[4];
        if (!Locked(i) || !FrontEnd_ItemImageRect(&s->items[i], rect)) continue;
        Sprite_SetColour(fe->lock, 1, 1, 1, 1);
        Sprite_DrawSimple(fe->lock, rect);
    }
}

// ---- LevelSelectZ ----

void FrontEnd_LevelSelectZEnter(int)
{
    GameContext* ctx = Ctx();
    FrontEndScreen* s = Current();
    GameSetup_Reset();
    const uint8_t p = ctx->lastInputPlayer < GAME_PLAYER_SLOTS ? ctx->lastInputPlayer : 0;
    ctx->eligible[p] = 1;
    ctx->controllingPlayer = p;
    ctx->characters[p] = 0;
    ctx->playerKinds[p] = PLAYER_KIND_HUMAN;
    ctx->inputDevices[p] = Player_GetInputDevice(p);
    WriteDifficulty();
    ctx->playerCount = 1;
    GridEnter();
    if (!s->userVar1) s->userVar1 = 3;
    if (!s->userVar2) s->userVar2 = 4;
}

void FrontEnd_LevelSelectZExit(int)
{
    if (!RequestedLaunch()) return;
    WriteLevels(Fe()->screens[FRONTEND_LEVELSELECTZ].itemCount - 1);
    TowardsLaunch();
}

void FrontEnd_LevelSelectZUpdate(float*)
{
    FrontEndScreen* s = Current();
    for (int32_t i = 0; i < s->itemCount; i++) s->items[i].disabled = (uint32_t)Locked(i);
    GridUpdate(Grid{(int32_t)std::min(s->userVar1, 64u), (int32_t)std::min(s->userVar2, 64u)});
}

// ---- PlayerSelect, PlayerSelect2 ----

void FrontEnd_PlayerSelectEnter(int) { CharacterEnter("FrontEnd\\Quillomere\\Scenes\\01.bmp_%.2d"); }
void FrontEnd_PlayerSelect2Enter(int) { CharacterEnter("FrontEnd\\Quillomere\\Scenes\\Char_01.png_%.2d"); }

void FrontEnd_PlayerSelectExit(int)
{
    FrontEnd* fe = Fe();
    GameContext* ctx = Ctx();
    FrontEndCharacterSelect& c = fe->characters;
    RestoreCharacterNodes(c);
    GameSetup_Reset();
    const uint32_t choice = ctx->playMode;
    GameSetup_SetMode(choice == 1 ? 4 : choice);
    uint8_t characters[GAME_PLAYER_SLOTS];
    memset(characters, kNoCharacter, sizeof characters);
    ctx->playerCount = 0;
    for (int q = 0; q < kPositions; q++) {
        if (!c.joined[q]) continue;
        const uint8_t p = c.player[q];
        characters[p] = c.character[q];
        ctx->deviceIndex[p] = p;
        ctx->inputDevices[p] = Player_GetInputDevice(p);
        ctx->playerKinds[p] = PLAYER_KIND_HUMAN;
        ctx->playerCount++;
    }
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) GameSetup_SetPlayerFlag(characters[p] == kNoCharacter, p);
    if (choice == 1) characters[1] = kOskeld;
    // Every slot without a character takes a free one, from a random start.
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) {
        if (characters[p] != kNoCharacter) continue;
        int k = Game_Rand() % GAME_CHARACTERS;
        for (int tries = 0; tries < GAME_CHARACTERS; tries++, k = (k + 1) % GAME_CHARACTERS) {
            if (std::find(characters, characters + GAME_PLAYER_SLOTS, (uint8_t)k) == characters + GAME_PLAYER_SLOTS)
                break;
        }
        characters[p] = (uint8_t)k;
    }
    memcpy(ctx->characters, characters, sizeof characters);
    WriteDifficulty();
    Sprite_Release(c.tint);
    c.tint = nullptr;
}

void FrontEnd_PlayerSelectUpdate(float*)
{
    FrontEnd* fe = Fe();
    GameContext* ctx = Ctx();
    FrontEndCharacterSelect& c = fe->characters;
    for (uint32_t& j : c.joinedThisFrame) j = 0;
    const int players = (int)Game_GetMaxPlayers();
    // One select does one thing: a join, a refusal or a confirm spends it;
    // only once every joined player stands confirmed on an unlocked
    // character does a select go on to the item's link.
    bool spent = false;
    if (ctx->playMode != 1) {
        for (int p = 0; p < players && c.count < kPositions; p++) {
            if (PositionOf(c, (uint8_t)p) >= 0 || !JoinPressed((uint8_t)p)) continue;
            Join(c, (uint8_t)p);
            spent = true;
        }
    }
    bool ready = c.count > 0;
    for (int q = 0; q < kPositions; q++) {
        if (!c.joined[q]) continue;
        const uint8_t p = c.player[q];
        if (!c.confirmed[q] && !c.joinedThisFrame[q]) {
            int direction = PlayerInput_LeftPressed(p) ? -1 : PlayerInput_RightPressed(p) ? 1 : 0;
            for (int k = c.character[q] + direction; direction && k >= 0 && k < GAME_CHARACTERS; k += direction) {
                if (HeldByOther(c, q, k)) continue;
                c.character[q] = (uint8_t)k;
                FrontEnd_PlaySound("MoveFocus");
                break;
            }
        }
        if (!c.joinedThisFrame[q] && PlayerInput_SelectPressed(p)) {
            if (Character_IsLocked(c.character[q])) {
                FrontEnd_PlaySound("Invalid");
                spent = true;
            } else if (!c.confirmed[q]) {
                c.confirmed[q] = 1;
                FrontEnd_PlaySound("Announcer_Char", c.character[q]);
                spent = true;
            }
        }
        ready = ready && c.confirmed[q] && !Character_IsLocked(c.character[q]);
        ShowPicture(c, q, c.confirmed[q] ? 9 : c.character[q]);
    }
    if (spent || !ready) fe->selectSpent = 1;
    PlaceCharacterNodes(c);
    FrontEnd_SetFocus(fe->current, (int32_t)ctx->playMode);
}

void FrontEnd_PlayerSelectRenderBack(float*)
{
    FrontEnd* fe = Fe();
    const FrontEndCharacterSelect& c = fe->characters;
    auto draw = [](Sprite* s, float x, float y, float w, float h) {
        if (!s) return;
        const float rect[4] = {x, y, w, h};
        Sprite_DrawSimple(s, rect);
    };
    if (fe->lock) Sprite_SetColour(fe->lock, 1, 1, 1, 1);
    if (fe->star) Sprite_SetColour(fe->star, 1, 1, 1, 1);
    for (int i = 0; i < 4; i++) {
        if (!Character_IsLocked(4 + i)) continue;
        draw(c.tint, 328.0f + 63.0f * i, 156.0f, 52.0f, 52.0f);
        draw(fe->lock, 329.0f + 63.0f * i, 157.0f, 50.0f, 50.0f);
    }
    for (int q = 0; q < kPositions; q++) {
        if (!c.joined[q] || !Character_IsLocked(c.character[q])) continue;
        draw(c.tint, 59.0f + 136.0f * q, 236.0f, 119.0f, 160.0f);
        draw(fe->lock, 60.0f + 136.5f * q, 235.0f, 120.0f, 120.0f);
        draw(fe->star, 80.0f + 136.5f * q, 320.0f, 80.0f, 80.0f);
    }
}

void FrontEnd_PlayerSelectRenderFront(float*)
{
    const FrontEndCharacterSelect& c = Fe()->characters;
    Font* font = Game_GetKartFont();
    for (int q = 0; q < kPositions; q++) {
        if (!c.joined[q] || !Character_IsLocked(c.character[q])) continue;
        // The stars that open the locked character.
        char stars[16];
        snprintf(stars, sizeof stars, "%u", Character_GetStarsNeeded(c.character[q]));
        ScreenText_Set(font, 1.0f, 255, 255, 255, 1.0f);
        ScreenText_DrawCentred(font, 120.0f + 136.5f * q, 415.0f - ScreenText_Height(font) * 0.5f, stars);
    }
}

// ---- Tutorial_Levels, CompletedGame ----

void FrontEnd_TutorialLevelsEnter(int)
{
    GameContext* ctx = Ctx();
    ctx->eligibilityOn = 1;
    if (ctx->lastInputPlayer < GAME_PLAYER_SLOTS) ctx->eligible[ctx->lastInputPlayer] = 1;
}

void FrontEnd_TutorialLevelsExit(int)
{
    if (!RequestedLaunch()) return;
    GameContext* ctx = Ctx();
    const FrontEndItem* item = FrontEnd_FocusedItem();
    ctx->playerCount = 1;
    GameSetup_SetLevel(item && item->userData ? item->userData : GAMESETUP_END, 0);
    GameSetup_SetLevel(GAMESETUP_END, 1);
    GameSetup_SetMode(5);
    TowardsLaunch();
}

void FrontEnd_CompletedGameExit(int)
{
    FrontEnd* fe = Fe();
    fe->current = fe->requested = FRONTEND_MAIN;
    FrontEnd_PushScreen(FRONTEND_CREDITS, 1);
}

// ---- Launch ----

void FrontEnd_LaunchEnter(int)
{
    FrontEnd* fe = Fe();
    FrontEnd_StopMusic();
    fe->launchTimer = 0.0f;
    fe->launchImageShown = 0;
}

void FrontEnd_LaunchUpdate(float* dt)
{
    FrontEnd* fe = Fe();
    fe->launchTimer += *dt;
    if (fe->launchTimer > 0.7f && !fe->launchImageShown) {
        fe->launchImageShown = 1;
        LoadingScreen_SetImage(Level_GetLoadingScreenIndex(0), 0);
    }
    if (fe->launchTimer > 1.7f) fe->requested = FRONTEND_NONE;
}

void FrontEnd_LaunchRender(float*)
{
    FrontEnd* fe = Fe();
    if (fe->launchImageShown) LoadingScreen_DrawFade(0, fe->launchTimer - 0.7f, 1);
}

void FrontEnd_LaunchLevel(int)
{
    Game_ChooseTrackName();
    Game_SetRequestedState(GAME_REQUEST_LEVEL);
    Fe()->result = nullptr;
}

void FrontEnd_LaunchExit(int value) { FrontEnd_LaunchLevel(value); }
