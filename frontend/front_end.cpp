#include "frontend/front_end.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/colour.h"
#include "app/config.h"
#include "app/pad.h"
#include "app/shell.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "app/state.h"
#include "app/text.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/animset.h"
#include "engine/font.h"
#include "engine/node.h"
#include "engine/scene.h"
#include "engine/sceneplay.h"
#include "engine/sprite.h"
#include "engine/view.h"
#include "frontend/option_screens.h"
#include "frontend/screen_machine.h"
#include "frontend/select_screens.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/memcard_ui.h"
#include "game/player_input.h"
#include "game/players.h"
#include "game/screen_text.h"
#include "gfx/core/arena.h"
#include "platform/win32/sysfile.h"

namespace {

const char* const kScreenNames[FRONTEND_SCREENS] = {
    "FrontEnd_None",
    "FrontEnd_Launch",
    "FrontEnd_Title",
    "FrontEnd_Main",
    "FrontEnd_PlayGame",
    "FrontEnd_Options",
    "FrontEnd_LoadSave",
    "FrontEnd_Credits",
    "FrontEnd_Engine",
    "FrontEnd_PlayerSelect",
    "FrontEnd_PlayerSelect2",
    "FrontEnd_CupSelect",
    "FrontEnd_LevelSelect",
    "FrontEnd_LevelSelect2",
    "FrontEnd_LevelSelect3",
    "FrontEnd_LevelSelectZ",
    "FrontEnd_ControllerOptions",
    "FrontEnd_ControllerOptions2",
    "FrontEnd_GameOptions",
    "FrontEnd_SoundOptions",
    "Tutorial_Main",
    "Tutorial_Ask",
    "Tutorial_Levels",
    "FrontEnd_CompletedGame",
};

const char* const kStyleNames[FRONTEND_STYLES] = {
    "FrontEnd_ItemStyle_Fade",       "FrontEnd_ItemStyle_Dull",      "FrontEnd_ItemStyle_DullIcon",
    "FrontEnd_ItemStyle_BobHi",      "FrontEnd_ItemStyle_BobLo",     "FrontEnd_ItemStyle_Scale",
    "FrontEnd_ItemStyle_ScaleIcon",  "FrontEnd_ItemStyle_BobIcon",   "FrontEnd_ItemStyle_Secondary",
    "FrontEnd_ItemStyle_Ignore",     "FrontEnd_ItemStyle_TextLeft",  "FrontEnd_ItemStyle_TextRight",
    "FrontEnd_ItemStyle_TextCentre", "FrontEnd_ItemStyle_TextSmall",
};

constexpr const char* kStylePrefix = "FrontEnd_ItemStyle_";
constexpr float kTitleSize = 1.25f;
constexpr float kInfoSize = 0.55f;
constexpr float kSmallText = 0.5714286f;  // 4 / 7
constexpr float kTitleSpacing = -0.06f;   // letter spacing of the title, in font heights

FrontEnd* g_fe = nullptr;
FrontEndSoundHook g_soundHook = nullptr;
bool g_noScreens = false;  // the configuration could not be read: nothing to show or to leave by

FrontEndMemory MakeMemory()
{
    FrontEndMemory m = {};
    for (int32_t& slot : m.history) slot = -1;
    for (int32_t& slot : m.savedHistory) slot = -1;
    return m;
}

FrontEndMemory g_memory = MakeMemory();

// ---- reading values of FrontEnd.cfg ----

// Exactly n comma-separated numbers into out; 0 (out untouched) otherwise.
int ParseFloats(const char* text, float* out, int n)
{
    if (!text) return 0;
    float values[4];
    const char* p = text;
    for (int i = 0; i < n; i++) {
        char* end = nullptr;
        values[i] = strtof(p, &end);
        if (end == p) return 0;
        while (*end == ' ' || *end == '\t') end++;
        if (i + 1 < n) {
            if (*end != ',') return 0;
            p = end + 1;
        } else if (*end) {
            return 0;
        }
    }
    memcpy(out, values, sizeof(float) * (size_t)n);
    return 1;
}

// "r:g:b" bytes as 0..1.
int ParseColour3(const char* text, float* out)
{
    if (!text) return 0;
    int32_t c[3];
    const char* p = text;
    for (int i = 0; i < 3; i++) {
        char* end = nullptr;
        long v = strtol(p, &end, 10);
        if (end == p) return 0;
        c[i] = (int32_t)std::clamp(v, 0L, 255L);
        p = end;
        if (i < 2) {
            if (*p != ':') return 0;
            p++;
        }
    }
    for (int i = 0; i < 3; i++) out[i] = (float)c[i] / 255.0f;
    return 1;
}

int32_t ParseInt(const char* text)
{
    long long v = text ? strtoll(text, nullptr, 10) : 0;
    return (int32_t)std::clamp<long long>(v, INT32_MIN, INT32_MAX);
}

char* DupValue(const char* text) { return text && text[0] ? String_Dup(text) : nullptr; }

Sprite* LoadSprite(const char* name)
{
    if (!name || !name[0]) return nullptr;
    Sprite* sprite = Sprite_Load(name, 0);
    if (sprite) Sprite_SetColour(sprite, 1, 1, 1, 1);
    return sprite;
}

// The value of "<screen>::<group>::<key>" (group may be null), or null.
const char* Value(ConfigNode* cfg, const char* screen, const char* group, const char* key)
{
    return group ? Config_GetValue(cfg, Config_Key(screen, group, key, nullptr))
                 : Config_GetValue(cfg, Config_Key(screen, key, nullptr));
}

void ParseStyles(const char* text, uint32_t* style)
{
    if (!text) return;
    char local[512];
    snprintf(local, sizeof local, "%s", text);
    char* parts[32];
    int count = std::min(String_Tokenise(local, parts, 32, "|", 0), 32);
    for (int i = 0; i < count; i++) {
        char name[256];
        snprintf(name, sizeof name, "%s%s", kStylePrefix, parts[i]);
        int32_t bit = FrontEnd_FindItemStyle(name);
        if (bit >= 0) *style |= 1u << bit;
    }
}

// One item of group "Item<n>": every key, its sprites, its style values at
// their Lo targets.
void LoadItem(FrontEnd* fe, ConfigNode* cfg, const char* screen, const char* group, FrontEndItem* item)
{
    item->link = -1;
    item->returnValue = -1;
    item->sound = item->soundHi = -1;
    item->scaleLo = item->scaleHi = item->fadeLo = item->fadeHi = item->dullLo = item->dullHi = 1.0f;
    ParseStyles(Value(cfg, screen, group, "Style"), &item->style);
    ParseFloats(Value(cfg, screen, group, "Pos"), item->pos, 2);
    if (const char* text = Value(cfg, screen, group, "Text")) item->textId = Text_Id(text);
    ParseFloats(Value(cfg, screen, group, "ImagePos"), item->imagePos, 2);
    item->imageName = DupValue(Value(cfg, screen, group, "Image"));
    ParseFloats(Value(cfg, screen, group, "BobLo"), item->bobLo, 2);
    ParseFloats(Value(cfg, screen, group, "BobHi"), item->bobHi, 2);
    struct {
        const char* key;
        float* value;
    } floats[] = {{"FadeLo", &item->fadeLo},   {"FadeHi", &item->fadeHi}, {"ScaleLo", &item->scaleLo},
                  {"ScaleHi", &item->scaleHi}, {"DullLo", &item->dullLo}, {"DullHi", &item->dullHi}};
    for (auto& f : floats) ParseFloats(Value(cfg, screen, group, f.key), f.value, 1);
    if (const char* link = Value(cfg, screen, group, "Link")) {
        item->link = FrontEnd_FindScreen(link);
        if (item->link < 0) item->cardMode = MemCardUI_FindMode(link);
    }
    if (const char* sound = Value(cfg, screen, group, "Sound"))
        item->sound = SoundBank_FindId(sound, fe->soundGroup, 0);
    if (const char* sound = Value(cfg, screen, group, "SoundHi"))
        item->soundHi = SoundBank_FindId(sound, fe->soundGroup, 0);
    if (const char* rv = Value(cfg, screen, group, "ReturnValue")) item->returnValue = ParseInt(rv);
    item->userData = DupValue(Value(cfg, screen, group, "UserData"));
    for (int d = 0; d < FRONTEND_SECONDARY; d++) {
        FrontEndSecondary& s = item->secondary[d];
        char key[32];
        snprintf(key, sizeof key, "SecondaryPos%d", d);
        ParseFloats(Value(cfg, screen, group, key), s.pos, 2);
        snprintf(key, sizeof key, "SecondarySize%d", d);
        ParseFloats(Value(cfg, screen, group, key), s.size, 2);
        snprintf(key, sizeof key, "SecondaryImage%d", d);
        s.name = DupValue(Value(cfg, screen, group, key));
        s.sprite = LoadSprite(s.name);
    }
    item->image = LoadSprite(item->imageName);
    FrontEndItem_InitStyle(item, 0);
}

// The screen's section keys, matched by prefix in the order of the format.
void LoadScreenKeys(FrontEnd* fe, ConfigNode* cfg, FrontEndScreen* s)
{
    const char* section = kScreenNames[s->index];
    for (ConfigNode* key = Config_FirstChild(cfg, section); key; key = Config_NextSibling(key)) {
        const char* name = ConfigNode_GetName(key);
        const char* value = key->value;
        if (!strncmp(name, "InfoText", 8)) {
            s->infoText = Text_Id(value);
        } else if (!strncmp(name, "TitlePos", 8)) {
            ParseFloats(value, s->titlePos, 2);
        } else if (!strncmp(name, "TitleText", 9)) {
            s->titleText = Text_Id(value);
        } else if (!strncmp(name, "TextFile", 8)) {
            // "TextFile_PC" replaces an earlier text file; a plain one never does.
            bool pc = !strcmp(name + 8, "_PC");
            if (pc || s->text.sectionCount == 0) FrontEnd_LoadTextFile(value, &s->text);
        } else if (!strncmp(name, "StaticText", 10)) {
            s->staticText = ParseInt(value);
            s->textScale = 1.0f;
        } else if (!strncmp(name, "IndexedText", 11)) {
            s->indexedText = ParseInt(value);
            s->indexedMode = 1;
            s->textScale = 1.0f;
        } else if (!strncmp(name, "TextColour", 10)) {
            ParseColour3(value, s->textColour);
        } else if (!strncmp(name, "FadeEntry", 9)) {
            s->fadeEntry = (uint32_t)String_ToBool(value);
        } else if (!strncmp(name, "NoScene", 7)) {
            s->noScene = (uint32_t)String_ToBool(value);
        } else if (!strncmp(name, "Horizontal", 10)) {
            s->horizontal = (uint32_t)String_ToBool(value);
        } else if (!strncmp(name, "Scene", 5)) {
            if (!s->scene && value && value[0]) {
                s->sceneNode = Node_Create(nullptr);
                s->scene = s->sceneNode ? Scene_Load(value, s->sceneNode, SCENE_LOOP, nullptr) : nullptr;
                s->sceneName = DupValue(value);
            }
        } else if (!strncmp(name, "Static", 8)) {
            s->isStatic = (uint32_t)String_ToBool(value);
        } else if (!strncmp(name, "Override", 8)) {
            s->overrideSelect = (uint32_t)String_ToBool(value);
        }
    }
    int32_t var = 0;
    if (Config_GetInt(cfg, Config_Key(section, "userU32Var1", nullptr), &var)) s->userVar1 = (uint32_t)var;
    if (Config_GetInt(cfg, Config_Key(section, "userU32Var2", nullptr), &var)) s->userVar2 = (uint32_t)var;
    (void)fe;
}

// The packing and test runs touch the other platforms' animations of entry
// n: each set named is loaded and released at once.
void TouchPlatformAnims(ConfigNode* cfg, const char* section, int n)
{
    if (!Game_GetWadProcess() && !Game_GetTestProcess()) return;
    for (const char* platform : {"SKY", "XBOX"}) {
        char key[48], name[CONFIG_TEXT_MAX];
        snprintf(key, sizeof key, "ScreenAnim%d_%s", n, platform);
        if (!Config_GetString(cfg, Config_Key(section, key, nullptr), name, sizeof name)) continue;
        Node* node = Node_Create(nullptr);
        if (node) AnimSet_Release(AnimSet_Load(name, "anim", node, nullptr));
        Node_Destroy(node);
    }
}

void LoadScreenAnims(ConfigNode* cfg, FrontEndScreen* s)
{
    const char* section = kScreenNames[s->index];
    for (int n = 0;; n++) {
        char key[48], name[CONFIG_TEXT_MAX];
        TouchPlatformAnims(cfg, section, n);
        snprintf(key, sizeof key, "ScreenAnim%d", n);
        if (!Config_GetString(cfg, Config_Key(section, key, nullptr), name, sizeof name)) {
            snprintf(key, sizeof key, "ScreenAnim%d_PC", n);
            if (!Config_GetString(cfg, Config_Key(section, key, nullptr), name, sizeof name)) break;
        }
        Node* node = Node_Create(nullptr);
        AnimSet* set = node ? AnimSet_Load(name, "anim", node, nullptr) : nullptr;
        if (!set) {
            Node_Destroy(node);
            continue;
        }
        snprintf(key, sizeof key, "ScreenAnim%dPos", n);
        Vec3 pos;
        if (Config_GetVector3(cfg, Config_Key(section, key, nullptr), &pos.x)) Node_SetPosition(node, &pos);
        auto* grown = (FrontEndAnim*)Mem_Realloc(s->anims, 8, sizeof(FrontEndAnim) * (size_t)(s->animCount + 1));
        if (!grown || Mem_GetSize(grown) < sizeof(FrontEndAnim) * (size_t)(s->animCount + 1)) {
            AnimSet_Release(set);
            Node_Destroy(node);
            break;
        }
        s->anims = grown;
        s->anims[s->animCount++] = FrontEndAnim{node, set};
    }
}

void LoadScreenItems(FrontEnd* fe, ConfigNode* cfg, FrontEndScreen* s)
{
    const char* section = kScreenNames[s->index];
    for (int n = 0;; n++) {
        char group[32];
        snprintf(group, sizeof group, "Item%d", n);
        if (!Config_Find(cfg, Config_Key(section, group, nullptr))) break;
        size_t size = sizeof(FrontEndItem) * (size_t)(n + 1);
        auto* grown = (FrontEndItem*)Mem_Recalloc(s->items, 8, size);
        if (!grown || Mem_GetSize(grown) < size) break;
        s->items = grown;
        s->itemCount = n + 1;
        LoadItem(fe, cfg, section, group, &s->items[n]);
    }
}

void FreeScreen(FrontEndScreen* s)
{
    for (int32_t i = 0; i < s->itemCount; i++) {
        FrontEndItem& item = s->items[i];
        Mem_Free(item.userData);
        Mem_Free(item.imageName);
        Sprite_Release(item.image);
        for (FrontEndSecondary& sec : item.secondary) {
            Mem_Free(sec.name);
            Sprite_Release(sec.sprite);
        }
    }
    Mem_Free(s->items);
    for (int32_t a = 0; a < s->animCount; a++) {
        AnimSet_Release(s->anims[a].set);
        Node_Destroy(s->anims[a].node);
    }
    Mem_Free(s->anims);
    TextFile_Free(&s->text);
    Scene_Release(s->scene);
    Node_Destroy(s->sceneNode);
    Mem_Free(s->sceneName);
    int32_t index = s->index;
    memset(s, 0, sizeof *s);
    s->index = index;
}

// Completed LevelSelectZ items (those naming a progress entry): 1 when all
// of them are completed and there are more than at the last visit.
int CheckCompletedGame(FrontEnd* fe)
{
    const FrontEndScreen& z = fe->screens[FRONTEND_LEVELSELECTZ];
    uint32_t named = 0, completed = 0;
    for (int32_t i = 0; i < z.itemCount; i++) {
        int32_t entry = z.items[i].returnValue;
        if (entry < 0 || entry >= GAME_PROGRESS_ENTRIES) continue;
        named++;
        if (Progress_TestFlags(entry, PROGRESS_COMPLETED)) completed++;
    }
    int shown = completed == named && completed > g_memory.completedCount;
    g_memory.completedCount = completed;
    return shown;
}

void ResetEligibility(void)
{
    GameContext* ctx = Game_GetContext();
    ctx->controllingPlayer = GAME_ANY_PLAYER;
    ctx->eligibilityOn = 0;
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) {
        ctx->eligible[p] = 255;
        ctx->playerKinds[p] = PLAYER_KIND_COMPUTER;
        ctx->inputDevices[p] = Player_GetInputDevice(p);
    }
}

// ---- drawing ----

Font* MainFont(void) { return Game_GetKartFont(); }

// Font (whole seconds of the state clock modulo 4) of the context's list.
Font* CyclingFont(void)
{
    Font* font = Game_GetFont((int)State_GetClock() % GAME_FONTS);
    return font ? font : MainFont();
}

void DrawSprite(Sprite* sprite, float x, float y, float w, float h, float r, float g, float b, float a)
{
    if (!sprite) return;
    const float rect[4] = {x, y, w, h};
    Sprite_SetColour(sprite, r, g, b, a);
    Sprite_DrawSimple(sprite, rect);
}

void DrawBarAndStars(FrontEnd* fe)
{
    if (fe->current == FRONTEND_NONE || fe->current == FRONTEND_LAUNCH) return;
    DrawSprite(fe->infoBar, 0, 400, 640, 48, 1, 1, 1, 1);
    if (fe->current < FRONTEND_MAIN || fe->current > FRONTEND_SOUNDOPTIONS) return;
    float sw = fe->star ? Sprite_GetWidth(fe->star) : 0.0f, sh = fe->star ? Sprite_GetHeight(fe->star) : 0.0f;
    DrawSprite(fe->star, fe->starPos[0], fe->starPos[1], sw, sh, 1, 1, 1, 1);
    char text[32];
    if (fe->versionText[0]) snprintf(text, sizeof text, "%s", fe->versionText);
    else snprintf(text, sizeof text, "%d", Progress_SumPlayerValues(0));
    Font* font = MainFont();
    ScreenText_Set(font, fe->starCountScale, 255, 255, 255, 1.0f);
    float x = fe->starCountPosGiven ? fe->starCountPos[0] : fe->starPos[0] + sw * 0.5f;
    float y =
        (fe->starCountPosGiven ? fe->starCountPos[1] : fe->starPos[1] + sh * 0.5f) - ScreenText_Height(font) * 0.5f;
    float width = ScreenText_Width(font, text);
    if (fe->starCountJustify == 2) x -= width;
    else if (fe->starCountJustify != 1) x -= width * 0.5f;
    ScreenText_Draw(font, x, y, text);
}

// The title, letter by letter with the title's spacing, centred on x.
void DrawTitle(Font* font, float x, float y, const char* text)
{
    const float gap = kTitleSpacing * ScreenText_Height(font);
    const size_t n = strlen(text);
    float width = n > 1 ? gap * (float)(n - 1) : 0.0f;
    char letter[2] = {0, 0};
    for (size_t i = 0; i < n; i++) {
        letter[0] = text[i];
        width += ScreenText_Width(font, letter);
    }
    float at = x - width * 0.5f;
    for (size_t i = 0; i < n; i++) {
        letter[0] = text[i];
        ScreenText_Draw(font, at, y, letter);
        at += ScreenText_Width(font, letter) + gap;
    }
}

}  // namespace

// ---- names ----

int32_t FrontEnd_FindScreen(const char* name)
{
    if (!name) return -1;
    for (int32_t i = 0; i < FRONTEND_SCREENS; i++)
        if (!strcmp(name, kScreenNames[i])) return i;
    return -1;
}

int32_t FrontEnd_FindItemStyle(const char* name)
{
    if (!name) return -1;
    for (int32_t i = 0; i < FRONTEND_STYLES; i++)
        if (!strcmp(name, kStyleNames[i])) return i;
    return -1;
}

const char* FrontEnd_GetScreenName(int32_t screen)
{
    return screen >= 0 && screen < FRONTEND_SCREENS ? kScreenNames[screen] : nullptr;
}

// ---- records ----

FrontEnd* FrontEnd_Get(void) { return g_fe; }
FrontEndMemory* FrontEnd_GetMemory(void) { return &g_memory; }

FrontEndScreen* FrontEnd_CurrentScreen(void)
{
    if (!g_fe || g_fe->current < 0 || g_fe->current >= FRONTEND_SCREENS) return nullptr;
    return &g_fe->screens[g_fe->current];
}

int32_t FrontEnd_GetFocus(int32_t screen)
{
    if (screen < 0 || screen >= FRONTEND_SCREENS) return 0;
    int32_t count = g_fe ? g_fe->screens[screen].itemCount : 0;
    return count > 0 ? std::clamp(g_memory.focus[screen], 0, count - 1) : 0;
}

void FrontEnd_SetFocus(int32_t screen, int32_t focus)
{
    if (screen >= 0 && screen < FRONTEND_SCREENS) g_memory.focus[screen] = focus;
}

FrontEndItem* FrontEnd_FocusedItem(void)
{
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!s || s->itemCount == 0) return nullptr;
    return &s->items[FrontEnd_GetFocus(s->index)];
}

void FrontEnd_PlaySound(const char* name, uint32_t index)
{
    if (g_soundHook) g_soundHook(name, (int32_t)index);
    if (g_fe && g_fe->soundGroup) SoundBank_Play(name, g_fe->soundGroup, index, 1.0f, 0, nullptr);
}

void FrontEnd_PlaySoundId(int32_t id)
{
    if (id < 0) return;
    if (g_soundHook) g_soundHook(nullptr, id);
    SoundBank_PlayId(id, 1.0f, 0, nullptr);
}

void FrontEnd_SetSoundHook(FrontEndSoundHook hook) { g_soundHook = hook; }

void FrontEnd_StopMusic(void)
{
    if (g_fe && g_fe->music) Sound_Pause(g_fe->music, 1);
}

void FrontEnd_SetMusicVolume(float volume)
{
    if (g_fe && g_fe->music) Sound_SetVolume(g_fe->music, volume);
}

// ---- loading ----

void FrontEnd_Load(FrontEnd* fe)
{
    GameContext* ctx = Game_GetContext();
    for (int32_t s = 0; s < FRONTEND_SCREENS; s++) {
        FrontEndScreen& screen = fe->screens[s];
        screen.index = s;
        screen.textColour[0] = screen.textColour[1] = screen.textColour[2] = 1.0f;
        screen.textScale = 1.0f;
        screen.lastSelected = -1;
    }
    fe->starCountScale = 1.0f;
    const char* path = ctx->frontEndPath[0] ? ctx->frontEndPath : FRONTEND_CONFIG;
    ConfigNode* cfg = Config_Open(path);
    fe->demoWaitTime = 0.0f;  // no file, no demo
    g_noScreens = cfg == nullptr;
    if (!cfg) {
        // Without its screens the game cannot run: the program ends as a
        // start that failed, naming the file and where it was looked for.
        char folder[400], why[600];
        if (!SysFile_GetCurrentFolder(folder, sizeof folder)) snprintf(folder, sizeof folder, "the working folder");
        snprintf(why, sizeof why, "%s could not be read (looked for in %s and DATA in %s)", path, GAME_DATA_WAD,
                 folder);
        App_FailStart(why);
    }
    if (cfg) {
        // The sounds first, so that the items find their sounds by name.
        SoundBank_LoadSection(cfg, "Settings::SOUNDS", &fe->soundGroup);
        fe->demoWaitTime = 30.0f;
        Config_GetFloat(cfg, "Settings::DemoWaitTime", &fe->demoWaitTime);
        Config_GetVector2(cfg, "Settings::StarPos", fe->starPos);
        fe->starCountPosGiven = (uint32_t)Config_GetVector2(cfg, "Settings::StarCountPos", fe->starCountPos);
        Config_GetInt(cfg, "Settings::StarCountJustify", &fe->starCountJustify);
        Config_GetFloat(cfg, "Settings::StarCountScale", &fe->starCountScale);
        for (int32_t s = 0; s < FRONTEND_SCREENS; s++) {
            FrontEndScreen* screen = &fe->screens[s];
            LoadScreenKeys(fe, cfg, screen);
            LoadScreenAnims(cfg, screen);
            LoadScreenItems(fe, cfg, screen);
        }
        char name[CONFIG_TEXT_MAX];
        if (Config_GetString(cfg, "Settings::BackgroundScene", name, sizeof name) && name[0]) {
            fe->backgroundNode = Node_Create(nullptr);
            if (fe->backgroundNode) fe->backgroundScene = Scene_Load(name, fe->backgroundNode, SCENE_LOOP, nullptr);
        }
        struct {
            const char* key;
            Sprite** sprite;
        } sprites[] = {{"Settings::InfoBar", &fe->infoBar},
                       {"Settings::StarGraphic", &fe->star},
                       {"Settings::LockGraphic", &fe->lock},
                       {"Settings::UnknownGraphic", &fe->unknown},
                       {"Settings::ReverseGraphic", &fe->reverse}};
        for (auto& s : sprites)
            if (Config_GetString(cfg, s.key, name, sizeof name)) *s.sprite = LoadSprite(name);
        if (fe->infoBar) Sprite_SetBlendMode(fe->infoBar, SPRITE_BLEND_SUBTRACTIVE);
        Config_Close(cfg);
    }
    const uint32_t white = Colour_Pack(255, 255, 255, 255);
    fe->blank = Sprite_CreateBlank(&white, 8, 8);
}

void FrontEnd_Unload(FrontEnd* fe)
{
    for (FrontEndScreen& s : fe->screens) FreeScreen(&s);
    Sprite* sprites[] = {fe->infoBar, fe->star, fe->lock, fe->unknown, fe->reverse, fe->blank};
    for (Sprite* s : sprites) Sprite_Release(s);
    fe->infoBar = fe->star = fe->lock = fe->unknown = fe->reverse = fe->blank = nullptr;
    Scene_Release(fe->backgroundScene);
    Node_Destroy(fe->backgroundNode);
    fe->backgroundScene = nullptr;
    fe->backgroundNode = nullptr;
    SoundBank_ReleaseGroup(fe->soundGroup);
    fe->soundGroup = 0;
    Sound_Release(fe->music);
    fe->music = nullptr;
}

Node* FrontEnd_FindNode(Node* root, const char* name)
{
    if (!root || !name) return nullptr;
    if (Node* node = Node_FindByName(root, name)) return node;
    // Scene items become nodes named with their duplicate number: the
    // background's "P1_NULL" is the node "P1_NULL_00".
    char numbered[96];
    snprintf(numbered, sizeof numbered, "%s_00", name);
    return Node_FindByName(root, numbered);
}

// ---- drawing ----

void FrontEnd_RenderScene(void)
{
    FrontEnd* fe = g_fe;
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!fe || !s) return;
    GameContext* ctx = Game_GetContext();
    View* view = ctx->screenView;
    if (!view) return;
    Scene* scene = nullptr;
    Node* root = nullptr;
    if (!s->noScene) {
        scene = s->scene ? s->scene : fe->backgroundScene;
        root = s->scene ? s->sceneNode : fe->backgroundNode;
    }
    View_Clear(view, 1, 1);
    if (!scene || !root) return;
    Scene_Advance(scene, fe->sceneTime);
    float fov = View_GetFov(view);
    if (Node* camera = Scene_GetCamera(scene, 0, &fov)) {
        Mat4 world;
        Node_GetWorldMatrix(camera, &world);
        if (ctx->cameraNode) Node_SetMatrix(ctx->cameraNode, &world);
        View_SetFov(view, fov);
    }
    View_Render(view, root, ctx->cameraNode);
}

int FrontEnd_ItemImageRect(const FrontEndItem* item, float rect[4])
{
    if (!item || !item->image) return 0;
    float w = Sprite_GetWidth(item->image), h = Sprite_GetHeight(item->image);
    float x = item->imagePos[0], y = item->imagePos[1];
    if (item->style & FRONTEND_STYLE_SCALEICON) {
        const float sw = w * item->scaleIcon, sh = h * item->scaleIcon;
        x += (w - sw) * 0.5f;
        y += (h - sh) * 0.5f;
        w = sw;
        h = sh;
    }
    if ((item->style & FRONTEND_STYLE_BOBICON) && !item->disabled) {
        x += item->bob[0];
        y += item->bob[1];
    }
    rect[0] = x, rect[1] = y, rect[2] = w, rect[3] = h;
    return 1;
}

void FrontEnd_DrawItems(void)
{
    FrontEnd* fe = g_fe;
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!fe || !s) return;
    const int32_t focus = FrontEnd_GetFocus(s->index);
    for (int32_t i = 0; i < s->itemCount; i++) {
        const FrontEndItem& item = s->items[i];
        float r[4];
        if (!FrontEnd_ItemImageRect(&item, r)) continue;
        DrawSprite(item.image, r[0], r[1], r[2], r[3], item.dullIcon, item.dullIcon, item.dullIcon,
                   item.disabled ? 0.5f : 1.0f);
        if (item.disabled) DrawSprite(fe->lock, r[0], r[1], r[2], r[3], 1, 1, 1, 0.75f);
    }
    if (focus < 0 || focus >= s->itemCount) return;
    const FrontEndItem& item = s->items[focus];
    for (const FrontEndSecondary& sec : item.secondary) {
        if (!sec.sprite) continue;
        float w = sec.size[0] > 0 ? sec.size[0] : Sprite_GetWidth(sec.sprite);
        float h = sec.size[1] > 0 ? sec.size[1] : Sprite_GetHeight(sec.sprite);
        DrawSprite(sec.sprite, sec.pos[0], sec.pos[1], w, h, 1, 1, 1, 1);
        if (item.disabled) DrawSprite(fe->unknown, sec.pos[0], sec.pos[1], w, h, 1, 1, 1, 1);
    }
}

void FrontEnd_DrawInfoText(void)
{
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!s) return;
    char text[TEXT_BUFFER_SIZE];
    for (int32_t i = 0; i < s->itemCount; i++) {
        const FrontEndItem& item = s->items[i];
        if (!item.textId) continue;
        Text_GetById(item.textId, 0, text, sizeof text);
        Font* font = (item.style & FRONTEND_STYLE_SECONDARY) ? CyclingFont() : MainFont();
        float size = item.scale * ((item.style & FRONTEND_STYLE_TEXTSMALL) ? kSmallText : 1.0f);
        uint8_t grey = (uint8_t)(std::clamp(item.dull, 0.0f, 1.0f) * 255.0f);
        ScreenText_Set(font, size, grey, grey, grey, item.fade);
        float x = item.pos[0], y = item.pos[1] + ScreenText_Height(font) * 0.5f;
        if (item.style & FRONTEND_STYLE_TEXTRIGHT) x -= ScreenText_Width(font, text);
        else if (item.style & FRONTEND_STYLE_TEXTCENTRE) x -= ScreenText_Width(font, text) * 0.5f;
        if (!(item.style & FRONTEND_STYLE_BOBICON)) {
            x += item.bob[0];
            y += item.bob[1];
        }
        ScreenText_Draw(font, x, y, text);
    }
    if (s->titleText) {
        Text_GetById(s->titleText, 0, text, sizeof text);
        for (char* c = text; *c; c++) *c = String_UpperAscii(*c);
        Font* font = MainFont();
        ScreenText_Set(font, kTitleSize, (uint8_t)(s->textColour[0] * 255.0f), (uint8_t)(s->textColour[1] * 255.0f),
                       (uint8_t)(s->textColour[2] * 255.0f), 1.0f);
        DrawTitle(font, 320.0f, s->titlePos[1], text);
    }
    if (s->infoText) {
        Text_GetById(s->infoText, 0, text, sizeof text);
        Font* font = CyclingFont();
        ScreenText_Set(font, kInfoSize, 255, 255, 255, 1.0f);
        ScreenText_Draw(font, 55.0f, 433.0f, text);
    }
}

void FrontEnd_LoadSounds(void)
{
    FrontEnd* fe = g_fe;
    if (!fe) return;
    GameContext* ctx = Game_GetContext();
    Sound_SetMasterVolume(ctx->effectsVolume);
    fe->music = Sound_LoadStream("Title", 1);
    fe->musicStarted = 0;
    fe->musicWaiting = 1;
}

void FrontEnd_PurgeResources(void) { ResourceArena_Empty(); }

// ---- the state ----

GameState* FrontEnd_CreateState(void)
{
    GameState* state = State_Create();
    if (!state) return nullptr;
    state->enter = FrontEnd_Init;
    State_SetUpdate(state, FrontEnd_Update);
    State_SetRender(state, FrontEnd_Render);
    State_SetDestroy(state, FrontEnd_Exit);
    return state;
}

void FrontEnd_Init(GameState* state)
{
    if (g_fe) FrontEnd_Exit(g_fe->state);
    // Nothing of what ran before (a level's device data, its bodies) lives on.
    FrontEnd_PurgeResources();
    Game_RecreatePhysicsWorld();
    g_fe = (FrontEnd*)Mem_Calloc(sizeof(FrontEnd), 16);
    if (!g_fe) return;
    FrontEnd* fe = g_fe;
    fe->state = state;
    fe->result = state;
    memset(fe->cheats, ' ', FRONTEND_CHEAT_LENGTH);
    FrontEnd_Load(fe);

    const int completed = CheckCompletedGame(fe);
    fe->current = fe->requested = g_memory.visited ? FRONTEND_MAIN : FRONTEND_TITLE;
    g_memory.visited = 1;
    FrontEnd_LoadSounds();
    const bool restored = FrontEnd_HasSavedHistory();
    if (restored) {
        FrontEnd_RestoreHistory();
    } else {
        FrontEnd_ClearHistory();
        ResetEligibility();
    }
    if (completed) {
        fe->current = fe->requested = FRONTEND_COMPLETEDGAME;
        g_memory.visited = 1;
    } else if (restored) {
        // The screen the road to the level started from is entered as on any
        // other way in: its record was made afresh above (LevelSelect's day
        // and direction toggles would otherwise show night and backwards).
        if (auto enter = FrontEnd_GetHandlers(fe->current)->enter) enter(0);
    }
    if (fe->current == FRONTEND_TITLE) fe->attractCountdown = fe->demoWaitTime;
}

GameState* FrontEnd_Update(GameState* state, float dt)
{
    FrontEnd* fe = g_fe;
    if (!fe) return nullptr;
    GameContext* ctx = Game_GetContext();
    fe->result = state;
    fe->selectSpent = 0;
    dt = std::min(dt, FRONTEND_MAX_DT);
    Game_SetFrameTime(dt);
    fe->sceneTime = dt;
    fe->clock += dt;

    if (MemCardUI_GetPendingMode() == MEMCARD_MODE_NONE && fe->musicWaiting) {
        if (!fe->musicStarted) {
            Sound_Start(fe->music, 0);
            fe->musicStarted = 1;
        } else {
            Sound_Pause(fe->music, 0);
        }
        // A save loaded meanwhile brought its own music volume.
        Sound_SetVolume(fe->music, ctx->musicVolume);
        fe->musicWaiting = 0;
    }
    // The save screens freeze the front end under them as it was last drawn:
    // they wait until a screen change and its fade are over (the autosave of
    // the sound options starts in the middle of one), so the panel never
    // stands on the fade's white.
    const FrontEndScreen* shown = FrontEnd_CurrentScreen();
    const bool settled = fe->requested == fe->current && (!shown || shown->fade <= 0.0f);
    if (!Game_GetWadProcess() && !Game_GetTestProcess() && settled) {
        if (GameState* card = MemCardUI_CreateState()) {
            Sound_Pause(fe->music, 1);
            fe->musicWaiting = 1;
            return card;
        }
    } else if (g_memory.leave) {
        return nullptr;
    }
    // Without screens the program ends as by Escape on Main.
    if (g_noScreens) {
        ctx->gameStateType = GAMESTATE_NONE;
        Game_SetRequestedState(GAME_REQUEST_NONE);
        return nullptr;
    }
    // Escape on Main leaves through the normal shut-down: no state for type 0.
    if (fe->current == FRONTEND_MAIN && !ctx->inputLocked) {
        Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
        if (keyboard && Pad_JustPressed(keyboard, PLAYER_INPUT_ESCAPE_KEY)) {
            ctx->gameStateType = GAMESTATE_NONE;
            Game_SetRequestedState(GAME_REQUEST_NONE);
            return nullptr;
        }
    }

    if (FrontEndScreen* s = FrontEnd_CurrentScreen()) {
        s->time += dt;
        if (auto update = FrontEnd_GetHandlers(fe->current)->update) update(&dt);
    }
    FrontEnd_ChangeScreen(dt);
    if (fe->current != FRONTEND_NONE) {
        if (View* view = ctx->screenView) {
            const uint8_t clear[4] = {145, 45, 102, 255};
            memcpy(view->clearColour, clear, sizeof clear);
        }
        FrontEnd_UpdateAttractTimer(dt);
        FrontEnd_CheckCheats(dt);
        FrontEnd_HandleNavigation(dt);
        if (FrontEndScreen* s = FrontEnd_CurrentScreen()) {
            s->text.focus = FrontEnd_GetFocus(s->index);
            TextFile_Update(&s->text, dt);
        }
    }
    return fe->result;
}

void FrontEnd_Render(GameState*)
{
    FrontEnd* fe = g_fe;
    FrontEndScreen* s = FrontEnd_CurrentScreen();
    if (!fe || !s) return;
    float time = fe->sceneTime;
    const FrontEndHandlers* h = FrontEnd_GetHandlers(fe->current);
    FrontEnd_RenderScene();
    if (h->renderBefore) h->renderBefore(&time);
    FrontEnd_DrawItems();
    DrawBarAndStars(fe);
    FrontEnd_DrawInfoText();
    TextFile_Draw(&s->text);
    if (h->renderAfter) h->renderAfter(&time);
    if (s->fade > 0.0f) DrawSprite(fe->blank, 0, 0, 640, 480, 1, 1, 1, std::min(s->fade, 1.0f));
}

void FrontEnd_Exit(GameState*)
{
    FrontEnd* fe = g_fe;
    if (!fe) return;
    // What the screen shown at the exit made goes with the front end.
    FrontEnd_ReleaseModelScreen();
    FrontEnd_ReleaseCharacterScreen();
    FrontEnd_Unload(fe);
    Mem_Free(fe);
    g_fe = nullptr;
    FrontEnd_PurgeResources();
}
