#include "game/game_setup.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/cache.h"
#include "app/config.h"
#include "app/file.h"
#include "app/shell.h"
#include "app/state.h"
#include "app/text.h"
#include "app/video.h"
#include "app/wad.h"
#include "common/cmdline.h"
#include "common/strings.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "game/game_context.h"
#include "game/level_state.h"
#include "game/loading_screen.h"
#include "game/memcard_ui.h"
#include "game/modes/vehicle_modes.h"
#include "game/modes/walking_modes.h"
#include "game/players.h"
#include "game/race_setup.h"
#include "game/save_game.h"
#include "game/save_record.h"
#include "game/state_hooks.h"

namespace {

constexpr const char* kStateTypeNames[GAMESTATE_TYPES] = {
    nullptr,
    "GameState_Type_Start",
    "GameState_Type_Options",
    "GameState_Type_Variant",
    "GameState_Type_MainMenu",
    "GameState_Type_FrontEnd",
    "GameState_Type_Glim",
};
constexpr size_t kTypePrefix = 15;  // "GameState_Type_"

// The built-in character list, used when "CharList.txt" gives no names.
constexpr const char* kDefaultCharacters[GAME_CHARACTERS] = {"Wren",   "Pip",   "Moss",   "Bramble",
                                                             "Fennel", "Tansy", "Sorrel", "Quill"};

// Entries unlocked when there is no "Unlocked.cfg".
constexpr int kDefaultUnlocked[] = {1,  2,  4,  5,  18, 70, 71, 72, 73, 74, 75,
                                    76, 77, 78, 79, 91, 92, 93, 94, 95};

constexpr const char* kMovieLists[] = {"streams\\movies_PC.txt", "streams\\movies_SKY.txt",
                                       "streams\\movies_XBOX.txt", "streams\\movies_NGC.txt"};

struct Switches {
    uint32_t wadProcess;
    uint32_t testProcess;
    uint32_t platformProcess;
    char playerConfig[GAME_TEXT_LINE];
    char levelConfig[GAME_TEXT_LINE];
    bool frontEndMissingSaid;
};

Switches g_switches;

typedef void (*LineFn)(char* line, void* arg);

// Calls fn for every line of a data file read as text, without its line
// feed and one carriage return. A line longer than the buffer keeps its
// first part; the rest of it is skipped, never read as a line of its own.
// 0 when the file can't be opened.
int ForEachLine(const char* name, LineFn fn, void* arg)
{
    void* file = File_Open(name, "r");
    if (!file) return 0;
    char line[GAME_TEXT_LINE];
    while (File_Gets(line, sizeof line, file)) {
        size_t n = strlen(line);
        if (n == sizeof line - 1 && line[n - 1] != '\n') {
            char rest[GAME_TEXT_LINE];
            while (File_Gets(rest, sizeof rest, file)) {
                size_t m = strlen(rest);
                if (m && rest[m - 1] == '\n') break;
            }
        }
        if (n && line[n - 1] == '\n') line[--n] = 0;
        if (n && line[n - 1] == '\r') line[--n] = 0;
        fn(line, arg);
    }
    File_Close(file);
    return 1;
}

// The text with blanks cut from both ends (in place).
char* Trim(char* text)
{
    while (*text && isspace((unsigned char)*text)) text++;
    size_t n = strlen(text);
    while (n && isspace((unsigned char)text[n - 1])) text[--n] = 0;
    return text;
}

void CopyText(char* to, size_t size, const char* from) { snprintf(to, size, "%s", from ? from : ""); }

char** CommandLine(int32_t* count)
{
    char** tokens = App_GetCommandLine(count);
    if (!tokens) *count = 0;
    return tokens;
}

void ShowLogoLine(char* line, void*)
{
    GameLogo logo;
    if (Game_ParseLogoLine(line, &logo)) App_ShowLogo(logo.name, logo.time, logo.fade, logo.skippable);
}

void PlayMovieLine(char* line, void*)
{
    GameMovie movie;
    if (Game_ParseMovieLine(line, &movie) && Game_MovieShouldPlay(&movie, App_IsPAL()))
        Video_Play(movie.name, movie.flag);
}

void ReadBuildLine(char* line, void* arg)
{
    int* first = (int*)arg;
    if (*first) Game_SetBuildNumber((uint32_t)atoi(line));
    *first = 0;
}

void AddCharacterLine(char* line, void*)
{
    GameContext* ctx = Game_GetContext();
    char* name = Trim(line);
    if (!*name || ctx->characterCount >= GAME_CHARACTERS) return;
    CopyText(ctx->characterNames[ctx->characterCount++], GAME_CHARACTER_NAME, name);
}

// "Character N STARS": character N (1..8) starts locked until STARS stars.
int LockedCharacterLine(const char* line)
{
    if (String_FindNoCase(line, "Character") != line) return 0;
    int character = 0;
    long stars = 0;
    if (sscanf(line + 9, "%d %ld", &character, &stars) == 2 && character >= 1 && character <= GAME_CHARACTERS &&
        stars >= 1 && stars <= INT32_MAX) {
        Character_SetLocked(character - 1, 1);
        Character_SetStarsNeeded(character - 1, (uint32_t)stars);
    }
    return 1;
}

void UnlockLine(char* line, void*)
{
    if (LockedCharacterLine(line)) return;
    char* tokens[64];
    int count = String_Tokenise(line, tokens, 64, ",");
    if (count > 64) count = 64;
    for (int i = 0; i < count; i++) {
        // Entry 0 and anything outside the table stay locked.
        long n = strtol(tokens[i], nullptr, 10);
        if (n >= 1 && n < GAME_PROGRESS_ENTRIES) Progress_SetLocked((int)n, 0);
    }
}

}  // namespace

const char* Game_GetStateTypeName(uint32_t type) { return type < GAMESTATE_TYPES ? kStateTypeNames[type] : nullptr; }

int Game_FindStateType(const char* shortName)
{
    if (!shortName) return -1;
    for (uint32_t t = 0; t < GAMESTATE_TYPES; t++)
        if (kStateTypeNames[t] && String_EqualNoCase(kStateTypeNames[t] + kTypePrefix, shortName)) return (int)t;
    return -1;
}

// ---- set-up ----

GameState* Game_Setup(void)
{
    Game_ResetContext();
    // The control modes fill their rows of the mode table once, before any
    // entity loads; the rows live for the process.
    WalkingModes_Register();
    VehicleModes_Register();
    Game_ReadSwitches();
    Game_MountDataWad();
    Game_LoadLogos();
    Game_LoadLoadingScreens();
    char size[16];
    snprintf(size, sizeof size, "%d", (int)Save_GetSizeKB());
    Text_SetMacro("<SIZE>", size);
    Text_Load("language", 1);  // the game's texts are English whatever the language
    Game_LoadFonts();
    return Game_CreateRootState();
}

void Game_LoadLoadingScreens(void)
{
    LoadingScreen_Begin(0);
    LoadingScreen_LoadData("Load.dat");
    LoadingScreen_LoadSprites();
    LoadingScreen_SetImage(0, 1);
}

void Game_ReadSwitches(void)
{
    int32_t count = 0;
    char** tokens = CommandLine(&count);
    Switches& s = g_switches;
    s.wadProcess = s.testProcess = s.platformProcess = 0;
    CmdLine_GetBools(tokens, count, "WadProcess", &s.wadProcess, "TestProcess", &s.testProcess, "PlatformProcess",
                     &s.platformProcess, nullptr);
    char* playerConfig = nullptr;
    char* levelConfig = nullptr;
    CmdLine_GetStrings(tokens, count, "PlayerConfig", &playerConfig, "LevelConfig", &levelConfig, nullptr);
    CopyText(s.playerConfig, sizeof s.playerConfig, playerConfig);
    CopyText(s.levelConfig, sizeof s.levelConfig, levelConfig);
}

int Game_GetWadProcess(void) { return g_switches.wadProcess != 0; }
int Game_GetTestProcess(void) { return g_switches.testProcess != 0; }
int Game_GetPlatformProcess(void) { return g_switches.platformProcess != 0; }
const char* Game_GetPlayerConfig(void) { return g_switches.playerConfig; }
const char* Game_GetLevelConfig(void) { return g_switches.levelConfig; }

int Game_MountDataWad(void) { return Wad_Mount(GAME_DATA_WAD, 1); }

int Game_ParseLogoLine(char* line, GameLogo* out)
{
    char* parts[4] = {};
    int count = String_Tokenise(line, parts, 4, ",");
    if (count < 1) return 0;
    char* name = Trim(parts[0]);
    if (!*name) return 0;
    CopyText(out->name, sizeof out->name, name);
    out->time = count > 1 ? (float)atof(Trim(parts[1])) : 0.0f;
    out->fade = count > 2 ? String_ToBool(Trim(parts[2])) : 1;
    out->skippable = count > 3 ? String_ToBool(Trim(parts[3])) : 0;
    return 1;
}

void Game_LoadLogos(void) { ForEachLine("configs\\logos.cfg", ShowLogoLine, nullptr); }

int Game_ParseMovieLine(char* line, GameMovie* out)
{
    char* parts[3] = {};
    int count = String_Tokenise(line, parts, 3, ",");
    if (count < 1) return 0;
    char* name = Trim(parts[0]);
    if (!*name) return 0;
    CopyText(out->name, sizeof out->name, name);
    out->flag = count > 1 ? String_ToBool(Trim(parts[1])) : 0;
    out->standard[0] = 0;
    if (count > 2) {
        const char* standard = Trim(parts[2]);
        size_t n = 0;
        while (n < sizeof out->standard - 1 && isalpha((unsigned char)standard[n])) n++;
        memcpy(out->standard, standard, n);
        out->standard[n] = 0;
    }
    return 1;
}

int Game_MovieShouldPlay(const GameMovie* movie, int pal)
{
    if (strcmp(movie->standard, "PAL") == 0) return pal != 0;
    if (strcmp(movie->standard, "NTSC") == 0) return pal == 0;
    return 1;
}

void Game_LoadMovieList(void)
{
    int32_t count = 0;
    char** tokens = CommandLine(&count);
    uint32_t wadProcess = 0;
    CmdLine_GetBools(tokens, count, "WadProcess", &wadProcess, nullptr);
    if (wadProcess) {
        // The packing run touches every list so that each lands in the archive.
        for (const char* list : kMovieLists)
            if (void* file = File_Open(list, "r")) File_Close(file);
    }
    ForEachLine(kMovieLists[0], PlayMovieLine, nullptr);
}

// ---- root state ----

GameState* Game_CreateRootState(void)
{
    GameState* state = State_Create();
    if (!state) return nullptr;
    state->enter = Game_Init;
    State_SetUpdate(state, Game_Update);
    State_SetDestroy(state, Game_Exit);
    return state;
}

void Game_InitInput(void)
{
    Player_AssignDevices();
    Cache_Init(6);
}

void Game_Init(GameState*)
{
    Game_InitInput();
    Game_ReadBuildNumber();
    MemCardUI_Setup();
    Save_RemoveLeftovers();  // one program runs at a time: no save is under way
    Phys_Init();
    if (!Game_GetPhysicsWorld()) Game_SetPhysicsWorld(PhysWorld_CreateDefault());
    PhysContacts_Init();
    Game_LoadCharacterList();
    GameContext* ctx = Game_GetContext();
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) ctx->characters[p] = (uint8_t)p;
    Game_ApplyStartArguments();
    for (int s = 0; s < GAME_PLAYER_SLOTS; s++) ctx->inputDevices[s] = Player_GetInputDevice(s);
    ctx->playerCount = 1;
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) ctx->playerOrder[p] = (uint8_t)p;
    Game_InitProgress();
}

GameState* Game_Update(GameState*, float)
{
    GameContext* ctx = Game_GetContext();
    ctx->levelLoaded = 0;
    uint32_t request = Game_GetRequestedState();
    uint32_t type = ctx->gameStateType;
    if (request == GAME_REQUEST_FRONTEND) type = GAMESTATE_FRONTEND;
    if (request == GAME_REQUEST_LEVEL) type = GAMESTATE_GLIM;
    GameStateCreator create = Game_StateForType(type);
    if (!create && type == GAMESTATE_FRONTEND && !g_switches.frontEndMissingSaid) {
        printf("The front end is not built yet: start a level with -leveltype Glim -levelnumber N\n");
        fflush(stdout);
        g_switches.frontEndMissingSaid = true;
    }
    return create ? create() : nullptr;
}

void Game_Exit(GameState* state)
{
    LoadingScreen_End();
    LoadingScreen_Free();
    Game_ReleaseContext();
    PhysContacts_Shutdown();
    PhysWorlds_DestroyAll();
    Game_SetPhysicsWorld(nullptr);
    State_SetUserData(state, 0);
    ConfigSys_Shutdown();
}

GameStateCreator Game_StateForType(uint32_t type)
{
    const GameStateHooks* hooks = GameStateHooks_Get();
    switch (type) {
    case GAMESTATE_START: return hooks->startMenu;
    case GAMESTATE_OPTIONS: return hooks->options;
    case GAMESTATE_FRONTEND: return hooks->frontEnd;
    case GAMESTATE_GLIM: return Level_CreateState;
    default: return nullptr;
    }
}

GameState* Game_PauseUpdate(GameState* state, float) { return state; }

// ---- the parts of Game_Init ----

void Game_ReadBuildNumber(void)
{
    Game_SetBuildNumber(0);
    int first = 1;
    ForEachLine("Build.ver", ReadBuildLine, &first);
}

void Game_LoadCharacterList(void)
{
    GameContext* ctx = Game_GetContext();
    ctx->characterCount = 0;
    ForEachLine("CharList.txt", AddCharacterLine, nullptr);
    if (ctx->characterCount == 0) {
        for (int c = 0; c < GAME_CHARACTERS; c++)
            CopyText(ctx->characterNames[c], GAME_CHARACTER_NAME, kDefaultCharacters[c]);
        ctx->characterCount = GAME_CHARACTERS;
    }
}

void Game_InitProgress(void)
{
    GameContext* ctx = Game_GetContext();
    for (uint32_t& flags : ctx->progress.flags) flags = PROGRESS_LOCKED;
    for (int c = 0; c < GAME_CHARACTERS; c++) {
        Character_SetLocked(c, 0);
        Character_SetStarsNeeded(c, 0);
    }
    if (!ForEachLine("Unlocked.cfg", UnlockLine, nullptr))
        for (int entry : kDefaultUnlocked) Progress_SetFlags(entry, 0xFFFFFFFFu, 0);
}

void Game_ApplyStartArguments(void)
{
    int32_t count = 0;
    char** tokens = CommandLine(&count);
    char* levelType = nullptr;
    constexpr int32_t kAbsent = INT32_MIN;
    int32_t levelNumber = kAbsent, levelVariant = 0, playerSet = -1, focus = 0, kill = 0;
    uint32_t focusSwitch = 0, killSwitch = 0;
    CmdLine_GetStrings(tokens, count, "leveltype", &levelType, nullptr);
    CmdLine_GetInts(tokens, count, "levelnumber", &levelNumber, "levelvariant", &levelVariant, "playerset",
                    &playerSet, "focus", &focus, "kill", &kill, nullptr);
    CmdLine_GetBools(tokens, count, "focus", &focusSwitch, "kill", &killSwitch, nullptr);

    uint32_t request = GAME_REQUEST_FRONTEND;
    GameContext* ctx = Game_GetContext();
    int type = Game_FindStateType(levelType);
    bool numbered = levelNumber != kAbsent;
    // Only the types that have a state of their own can be started directly;
    // "FrontEnd" is the ordinary road.
    if (levelType && numbered &&
        (type == GAMESTATE_START || type == GAMESTATE_OPTIONS || type == GAMESTATE_GLIM)) {
        ctx->gameStateType = (uint32_t)type;
        Game_SetStartLevelIndex(0);
        Game_SetStartLevel(levelNumber, levelVariant);
        if (type == GAMESTATE_GLIM) {
            // As the Launch screen does: the level, then the front end.
            char entry[32];
            snprintf(entry, sizeof entry, "level%d.cfg", (int)levelNumber);
            GameSetup_SetLevel(entry, 0);
            GameSetup_SetLevel(GAMESETUP_END, 1);
            request = GAME_REQUEST_LEVEL;
        } else {
            request = GAME_REQUEST_NONE;
        }
    }
    if (focusSwitch || focus) App_SetRunWhenInactive(1);
    if (killSwitch || kill) App_ScheduleTerminate(200);
    if (playerSet >= 0 && playerSet < GAME_CHARACTERS && 4 * playerSet + 3 < (int32_t)ctx->characterCount)
        for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) ctx->characters[p] = (uint8_t)(4 * playerSet + p);
    Game_SetRequestedState(request);
}

void Game_FormatVersion(char* buffer, size_t size)
{
    if (buffer && size)
        snprintf(buffer, size, "%s.%s.%s.%s.%.3d", "0", "A", "xx", "0", (int)Game_GetBuildNumber());
}
