#include "frontend/start_menu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/config.h"
#include "app/pad.h"
#include "app/state.h"
#include "common/memory.h"
#include "engine/font.h"
#include "engine/node.h"
#include "engine/view.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/loading_screen.h"
#include "game/player_input.h"
#include "game/players.h"
#include "game/race_setup.h"
#include "gfx/core/renderstate.h"

namespace {

constexpr const char* kMenuFile = "Menu.cfg";
constexpr int kTypes = 8;
constexpr int kOptions = 11;

// The start menu's own table of types (empty indices match nothing).
const char* const kTypeNames[kTypes] = {
    "GameState_Type_Quit", "", "GameState_Type_Options", "", "", "GameState_Type_FrontEnd", "GameState_Type_Glim", ""};
const char* const kOptionNames[kOptions] = {"",
                                            "Options_Player1_Cycle",
                                            "Options_Player2_Cycle",
                                            "Options_Player3_Cycle",
                                            "Options_Player4_Cycle",
                                            "Options_Player1_Computer",
                                            "Options_Player2_Computer",
                                            "Options_Player3_Computer",
                                            "Options_Player4_Computer",
                                            "Options_Aspect",
                                            "Options_Back"};
const char* const kKindNames[3] = {"None", "Human", "Computer"};

enum : uint8_t { OPTION_BACK = 10, OPTION_ASPECT = 9 };

StartMenu g_menu;

// Render states the text drawing turns off (Z test, Z write, texture).
constexpr int32_t kZTest = 6, kZWrite = 8, kTexture = 1;

void SetRenderState(int32_t state, uintptr_t value) { RenderState_Set(state, (void*)value); }

void UseDisplay(void)
{
    StartMenuDisplay& d = g_menu.display;
    if (d.users++ > 0) return;
    d.view = View_CreateFractional(0, 0, 1, 1, 0.5f, 250.0f);
    if (d.view) {
        View_SetFov(d.view, 0.65f);
        Game_ApplyAspectRatio(d.view);
    }
    d.camera = Node_Create(nullptr);
    d.root = Node_Create(nullptr);
    d.normal = Font_Load(nullptr, nullptr);
    d.highlighted = Font_Load(nullptr, nullptr);
    const uint8_t white[4] = {255, 255, 255, 255}, red[4] = {255, 128, 128, 255};
    if (d.normal) {
        Font_SetColour(d.normal, white);
        Font_SetSize(d.normal, 0.75f);
    }
    if (d.highlighted) {
        Font_SetColour(d.highlighted, red);
        Font_SetSize(d.highlighted, 0.75f);
    }
}

void ReleaseDisplay(void)
{
    StartMenuDisplay& d = g_menu.display;
    if (d.users == 0 || --d.users > 0) return;
    Font_Release(d.normal);
    Font_Release(d.highlighted);
    Node_Destroy(d.camera);
    Node_Destroy(d.root);
    View_Destroy(d.view);
    d = StartMenuDisplay{};
}

// Clears and draws the empty view, then sets the text's render states.
void BeginText(void)
{
    const StartMenuDisplay& d = g_menu.display;
    if (d.view) {
        View_Clear(d.view, 1, 1);
        View_Render(d.view, d.root, d.camera);
    }
    SetRenderState(kZTest, 0);
    SetRenderState(kZWrite, 0);
    SetRenderState(kTexture, 0);
}

// Only the depth states go back; the texture state stays off.
void EndText(void)
{
    SetRenderState(kZTest, 1);
    SetRenderState(kZWrite, 1);
}

void DrawList(const StartMenuList& list, int rows)
{
    const StartMenuDisplay& d = g_menu.display;
    int shown = rows > 0 ? rows : STARTMENU_MAX_ENTRIES;
    for (int row = 0; row < shown && list.scroll + row < list.count; row++) {
        Font* font = row == list.cursor ? d.highlighted : d.normal;
        if (font) Font_DrawString(font, 40.0f, 40.0f + 15.0f * (float)row, list.entries[list.scroll + row].label, 0);
    }
    if (d.normal) Font_DrawString(d.normal, 10.0f, 40.0f + 15.0f * (float)list.cursor, "-->", 0);
}

const StartMenuEntry* Selected(const StartMenuList& list)
{
    int index = list.scroll + list.cursor;
    return index < list.count ? &list.entries[index] : nullptr;
}

// Player 0's control of the action: held above 0.75, or newly pressed.
bool Player0Held(int action)
{
    return Pad_GetValue(Player_GetInputDevice(0), Player_GetBinding(0, action)) > PLAYER_INPUT_HELD;
}
bool Player0Pressed(int action) { return Pad_JustPressed(Player_GetInputDevice(0), Player_GetBinding(0, action)); }

GameState* MakeState(void (*enter)(GameState*), StateUpdateFn update, StateCallback render, StateCallback destroy)
{
    GameState* state = State_Create();
    if (!state) return nullptr;
    state->enter = enter;
    State_SetUpdate(state, update);
    State_SetRender(state, render);
    State_SetDestroy(state, destroy);
    State_SetPreUpdate(state, Game_PauseUpdate);
    State_SetAuxCallback(state, GameState_ClearType);
    return state;
}

}  // namespace

StartMenu* StartMenu_Get(void) { return &g_menu; }

void StartMenu_FreeList(StartMenuList* list)
{
    for (int i = 0; i < list->count; i++) Mem_Free(list->entries[i].label);
    Mem_Free(list->entries);
    *list = StartMenuList{};
}

int StartMenu_ReadSection(const char* file, const char* section, const char* const* names, int count,
                          StartMenuList* list)
{
    StartMenu_FreeList(list);
    ConfigNode* cfg = Config_Open(file);
    if (!cfg) return 0;
    for (ConfigNode* key = Config_FirstChild(cfg, section); key && list->count < STARTMENU_MAX_ENTRIES;
         key = Config_NextSibling(key)) {
        StartMenuEntry entry = {};
        const char* value = key->value ? key->value : "";
        if (*value == '*') {
            entry.star = 1;
            value++;
        }
        for (int t = 0; t < count; t++) {
            const char* name = names[t];
            size_t length = name ? strlen(name) : 0;
            if (!length || strncmp(value, name, length) != 0) continue;
            entry.type = (uint8_t)t;
            if (strlen(value) > length) {
                const char* comma = strchr(value + length, ',');
                if (comma) entry.level = (uint16_t)strtol(comma + 1, nullptr, 10);
            }
            break;
        }
        entry.label = String_Dup(ConfigNode_GetName(key));
        size_t size = sizeof(StartMenuEntry) * (size_t)(list->count + 1);
        auto* grown = (StartMenuEntry*)Mem_Realloc(list->entries, 8, size);
        if (!grown || Mem_GetSize(grown) < size || !entry.label) {
            Mem_Free(entry.label);
            if (grown) list->entries = grown;
            break;
        }
        list->entries = grown;
        list->entries[list->count++] = entry;
    }
    Config_Close(cfg);
    return 1;
}

void StartMenu_MoveCursor(StartMenuList* list, int up, int down, float dt, int rows)
{
    if (!up && !down) {
        list->repeat = 0.0f;
        list->holds = 0;
        return;
    }
    list->repeat -= dt;
    if (list->repeat > 0.0f) return;
    const int last = rows > 0 ? rows - 1 : STARTMENU_MAX_ENTRIES;
    if (up) {
        if (list->cursor > 0) list->cursor--;
        else if (list->scroll > 0) list->scroll--;
    } else if (list->cursor < last && list->scroll + list->cursor + 1 < list->count) {
        list->cursor++;
    } else if (rows > 0 && list->scroll + rows < list->count) {
        list->scroll++;
    }
    list->repeat = list->holds++ == 0 ? STARTMENU_FIRST_REPEAT : STARTMENU_REPEAT;
}

void GameState_ClearType(void) { Game_GetContext()->gameStateType = GAMESTATE_NONE; }

// ---- the start menu ----

GameState* StartMenu_CreateState(void)
{
    return MakeState(StartMenu_Init, StartMenu_Update, StartMenu_Render, StartMenu_Exit);
}

void StartMenu_Init(GameState*)
{
    GameContext* ctx = Game_GetContext();
    LoadingScreen_End();
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) ctx->deviceIndex[p] = (uint8_t)p;
    UseDisplay();
    g_menu.loaded = (uint32_t)StartMenu_ReadSection(kMenuFile, "Menu", kTypeNames, kTypes, &g_menu.menu);
    ctx->gameStateType = g_menu.loaded ? GAMESTATE_GLIM : GAMESTATE_FRONTEND;
}

GameState* StartMenu_Update(GameState* state, float dt)
{
    GameContext* ctx = Game_GetContext();
    if (ctx->gameStateType == GAMESTATE_NONE) return nullptr;
    if (ctx->gameStateType == GAMESTATE_FRONTEND) {
        Game_SetRequestedState(GAME_REQUEST_FRONTEND);
        return nullptr;
    }
    if (Game_GetWadProcess()) {
        Game_SetRequestedState(GAME_REQUEST_NONE);
        ctx->gameStateType = GAMESTATE_NONE;
        return nullptr;
    }
    StartMenu_MoveCursor(&g_menu.menu, PlayerInput_UpHeld(PLAYER_INPUT_ANY), PlayerInput_DownHeld(PLAYER_INPUT_ANY), dt,
                         STARTMENU_ROWS);
    if (!PlayerInput_SelectPressed(PLAYER_INPUT_ANY)) return state;
    const StartMenuEntry* entry = Selected(g_menu.menu);
    if (!entry || entry->type == GAMESTATE_NONE) return state;
    ctx->gameStateType = entry->type;
    Game_SetStartLevel(Game_GetStartLevelNumber(), entry->level);
    char level[32];
    snprintf(level, sizeof level, "level%d.cfg", entry->level);
    GameSetup_SetLevel(level, 0);
    GameSetup_SetLevel(GAMESETUP_END, 1);
    if (entry->type == GAMESTATE_FRONTEND) {
        Game_SetRequestedState(GAME_REQUEST_FRONTEND);
        return nullptr;
    }
    GameStateCreator create = Game_StateForType(entry->type);
    return create ? create() : nullptr;
}

void StartMenu_Render(GameState*)
{
    const StartMenuDisplay& d = g_menu.display;
    BeginText();
    char version[64];
    Game_FormatVersion(version, sizeof version);
    if (d.normal) {
        Font_SetSize(d.normal, 1.1f);
        Font_Printf(d.normal, -150.0f, 40.0f, "%s", version);
        Font_Printf(d.normal, -151.0f, 40.0f, "%s", version);
        Font_SetSize(d.normal, 0.75f);
    }
    DrawList(g_menu.menu, STARTMENU_ROWS);
    if (d.normal) {
        for (int i = 0; i < 48; i++) Font_DrawString(d.normal, 270.0f, 10.0f * (float)i, "I", 0);
        for (int i = 0; i < 86; i++) Font_DrawString(d.normal, 275.0f + 5.0f * (float)i, 330.0f, "-", 0);
        Font_DrawString(d.normal, 700.0f, 460.0f, "Release build. No debug info available.", 0);
    }
    EndText();
}

void StartMenu_Exit(GameState*)
{
    StartMenu_FreeList(&g_menu.menu);
    ReleaseDisplay();
    g_menu.loaded = 0;
    Game_GetContext()->gameStateType = GAMESTATE_NONE;
}

// ---- the options state ----

GameState* Options_CreateState(void) { return MakeState(Options_Init, Options_Update, Options_Render, Options_Exit); }

void Options_Init(GameState*)
{
    UseDisplay();
    StartMenu_ReadSection(kMenuFile, "Options", kOptionNames, kOptions, &g_menu.options);
}

GameState* Options_Update(GameState* state, float dt)
{
    GameContext* ctx = Game_GetContext();
    StartMenuList& list = g_menu.options;
    StartMenu_MoveCursor(&list, Player0Held(0), Player0Held(1), dt, 0);
    if (!Player0Pressed(4)) return state;
    const StartMenuEntry* entry = Selected(list);
    if (!entry) return state;
    const int option = entry->type;
    if (option >= 1 && option <= 4) {
        const int p = option - 1;
        const uint32_t count =
            ctx->characterCount ? std::min<uint32_t>(ctx->characterCount, GAME_CHARACTERS) : (uint32_t)GAME_CHARACTERS;
        ctx->characters[p] = (uint8_t)((ctx->characters[p] + 1u) % count);
    } else if (option >= 5 && option <= 8) {
        const int p = option - 5;
        ctx->playerKinds[p] = ctx->playerKinds[p] >= PLAYER_KIND_COMPUTER ? PLAYER_KIND_NONE : ctx->playerKinds[p] + 1;
    } else if (option == OPTION_ASPECT) {
        ctx->wideScreen = !ctx->wideScreen;
        Game_ApplyAspectRatio(ctx->screenView);
    } else if (option == OPTION_BACK) {
        return nullptr;
    }
    return state;
}

void Options_Render(GameState*)
{
    const StartMenuDisplay& d = g_menu.display;
    GameContext* ctx = Game_GetContext();
    BeginText();
    DrawList(g_menu.options, 0);
    if (d.normal) {
        for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
            const uint8_t c = ctx->characters[p];
            const char* name = c < GAME_CHARACTERS ? ctx->characterNames[c] : "";
            const uint32_t kind = ctx->playerKinds[p];
            Font_Printf(d.normal, 300.0f, 40.0f + 15.0f * (float)p, "%d - %s - %s", p + 1, name,
                        kind < 3 ? kKindNames[kind] : "");
        }
        Font_Printf(d.normal, 300.0f, 115.0f, "Screen Mode - %s", ctx->wideScreen ? "Wide (16:9)" : "Normal (4:3)");
    }
    EndText();
}

void Options_Exit(GameState*)
{
    GameContext* ctx = Game_GetContext();
    ctx->playerCount = 0;
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++)
        if (ctx->playerKinds[p] != PLAYER_KIND_NONE) ctx->playerCount++;
    StartMenu_FreeList(&g_menu.options);
    ReleaseDisplay();
}
