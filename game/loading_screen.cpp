#include "game/loading_screen.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/config.h"
#include "app/file.h"
#include "engine/sprite.h"
#include "engine/view.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "game/game_context.h"
#include "game/race_setup.h"

namespace {

LoadingScreen g_loading = [] {
    LoadingScreen l = {};
    l.currentIndex = -1;
    return l;
}();

constexpr const char* kDataSizeKeys[LOADING_TYPES] = {
    "DataSize::FrontEndLoadingType_Initial", "DataSize::FrontEndLoadingType_FrontEnd",
    "DataSize::FrontEndLoadingType_1", "DataSize::FrontEndLoadingType_2", "DataSize::FrontEndLoadingType_3"};

// The indicator moves this far per byte, in bar widths.
constexpr float kIndicatorRate = 0.00066666666f;

void ReadName(ConfigNode* cfg, const char* key, char* out)
{
    char value[CONFIG_TEXT_MAX];
    if (!Config_GetString(cfg, key, value, sizeof value)) return;
    size_t n = strnlen(value, LOADING_NAME - 1);
    memcpy(out, value, n);
    out[n] = 0;
}

Sprite* LoadOwned(const char* name) { return name[0] ? Sprite_Load(name, 0) : nullptr; }

void DrawRect(Sprite* sprite, const float* rect)
{
    if (sprite && rect[2] > 0.0f && rect[3] > 0.0f) Sprite_Draw(sprite, 0, nullptr, rect);
}

void DrawText(float alpha)
{
    TextFile& text = g_loading.text;
    if (text.sectionCount <= 0) return;
    text.masterFade = alpha;
    TextFile_SetSection(&text, g_loading.currentIndex);
    TextFile_Draw(&text);
}

}  // namespace

LoadingScreen* LoadingScreen_Get(void) { return &g_loading; }

void LoadingScreen_Begin(uint32_t type)
{
    g_loading.type = type;
    g_loading.counter = 0.0f;
    g_loading.loadEnded = 0;
    LoadProgress_Begin(0, LoadingScreen_Draw, nullptr);
}

void LoadingScreen_End(void)
{
    LoadProgress_End(0);
    g_loading.loadEnded = 1;
}

void LoadingScreen_Draw(uint32_t elapsedMs, float bytes, void*)
{
    // A load inside a state's load callback runs inside the main camera's
    // update, and a scene cannot be begun inside another.
    if (g_engineInstance && g_engineInstance->currentCamera) return;
    Camera* camera = View_GetMainCamera();
    if (!camera || !Camera_BeginUpdate(camera)) return;
    if (g_loading.current) {
        Sprite_SetAlpha(g_loading.current, 1.0f);
        Sprite_DrawSimple(g_loading.current, nullptr);
    }
    const float frame[4] = {g_loading.framePos[0], g_loading.framePos[1], g_loading.frameSize[0],
                            g_loading.frameSize[1]};
    DrawRect(g_loading.frame, frame);
    LoadingLayout layout = LoadingScreen_Advance(bytes);
    DrawRect(g_loading.bar, layout.bar);
    for (int i = 0; i < layout.pieceCount; i++) DrawRect(g_loading.indicator, layout.pieces[i]);
    if (g_loading.text.sectionCount > 0) {
        TextFile_SetSection(&g_loading.text, g_loading.currentIndex);
        TextFile_Update(&g_loading.text, (float)elapsedMs * 0.001f);
    }
    DrawText(1.0f);
    Camera_EndUpdate(camera);
    View_ShowRaster();
    g_loading.drawn++;
}

void LoadingScreen_SetImage(int32_t index, int force)
{
    g_loading.loadEnded = 0;  // an image is chosen for the load to come
    if (index == g_loading.currentIndex && !force) return;
    Sprite_Release(g_loading.current);
    g_loading.current = nullptr;
    g_loading.currentIndex = index;
    if (index < 0 || index >= LOADING_IMAGES || !g_loading.images[index][0]) return;
    g_loading.current = Sprite_Load(g_loading.images[index], 0);
    if (g_loading.current) return;
    g_loading.currentIndex = 0;
    g_loading.current = LoadOwned(g_loading.images[0]);
    if (!g_loading.current) {
        const uint32_t black = 0xFF000000u;
        g_loading.current = Sprite_CreateBlank(&black, 2, 2);
    }
}

int LoadingScreen_DrawFade(int background, float time, int fadeIn)
{
    float alpha = 4.0f * (time > 0.0f ? time : 0.0f);
    if (alpha > 1.0f) alpha = 1.0f;
    if (background) {
        const uint32_t white = 0xFFFFFFFFu;
        if (Sprite* overlay = Sprite_CreateBlank(&white, 2, 2)) {
            Sprite_DrawSimple(overlay, nullptr);
            Sprite_Release(overlay);
        }
    }
    if (g_loading.current) {
        Sprite_SetAlpha(g_loading.current, alpha);
        Sprite_DrawSimple(g_loading.current, nullptr);
    }
    // Once the load has ended (the level's continue page) the image stays,
    // but it no longer says it is loading.
    if (!g_loading.loadEnded) DrawText(alpha);
    return fadeIn ? 4.0f * time >= 1.0f : 4.0f * time <= 0.0f;
}

void LoadingScreen_LoadSprites(void)
{
    if (!g_loading.frame) g_loading.frame = LoadOwned(g_loading.frameName);
    if (!g_loading.bar) g_loading.bar = LoadOwned(g_loading.barName);
    if (!g_loading.indicator) g_loading.indicator = LoadOwned(g_loading.indicatorName);
}

void LoadingScreen_Free(void)
{
    for (Sprite** sprite : {&g_loading.frame, &g_loading.bar, &g_loading.indicator, &g_loading.current}) {
        Sprite_Release(*sprite);
        *sprite = nullptr;
    }
    g_loading.currentIndex = -1;
    TextFile_Free(&g_loading.text);
}

void LoadingScreen_LoadData(const char* loadDat)
{
    FrontEnd_LoadTextFile(LOADING_TEXT_FILE, &g_loading.text);
    ConfigNode* cfg = Config_Open(loadDat);
    int32_t maxPlayers = 4;
    if (cfg) {
        ReadName(cfg, "Images::LoadingScreenMain", g_loading.images[0]);
        for (int i = 1; i <= 16; i++) {
            char key[48];
            snprintf(key, sizeof key, "Images::LoadingScreen%.2d", i);
            ReadName(cfg, key, g_loading.images[i]);
        }
        ReadName(cfg, "Images::LoadingScreenBoss1", g_loading.images[17]);
        ReadName(cfg, "Images::LoadingScreenBoss2", g_loading.images[18]);
        ReadName(cfg, "Images::LoadingFrame", g_loading.frameName);
        ReadName(cfg, "Images::LoadingBar", g_loading.barName);
        ReadName(cfg, "Images::LoadingIndicator", g_loading.indicatorName);
        Config_GetVector2(cfg, "Images::LoadingFramePos", g_loading.framePos);
        Config_GetVector2(cfg, "Images::LoadingFrameSize", g_loading.frameSize);
        Config_GetVector2(cfg, "Images::LoadingBarPos", g_loading.barPos);
        Config_GetVector2(cfg, "Images::LoadingBarSize", g_loading.barSize);
        for (int t = 0; t < LOADING_TYPES; t++) {
            int32_t bytes;
            if (Config_GetInt(cfg, kDataSizeKeys[t], &bytes)) g_loading.dataSize[t] = bytes > 0 ? (uint32_t)bytes : 0;
        }
        Config_GetInt(cfg, "UserData::GameMaxPlayers", &maxPlayers);
        Config_Close(cfg);
    }
    Game_SetMaxPlayers(maxPlayers);
}

LoadingLayout LoadingScreen_Advance(float bytes)
{
    LoadingLayout layout = {};
    const float x = g_loading.barPos[0], y = g_loading.barPos[1];
    const float w = g_loading.barSize[0], h = g_loading.barSize[1];
    if (!(bytes > 0.0f)) bytes = 0.0f;
    if (g_loading.bar) {
        float size = g_loading.type < LOADING_TYPES ? (float)g_loading.dataSize[g_loading.type] : 0.0f;
        g_loading.counter = std::fmin(g_loading.counter + bytes, size);
        if (size > 0.0f) {
            layout.bar[0] = x;
            layout.bar[1] = y;
            layout.bar[2] = g_loading.counter / size * w;
            layout.bar[3] = h;
        }
    } else if (g_loading.indicator) {
        g_loading.counter += bytes;
        const float range = w - 8.0f;
        if (range >= 1.0f) {
            // Wrapped in double: the counter grows without bound while a load runs.
            double travel = (double)g_loading.counter * kIndicatorRate * range;
            for (int i = 0; i < LOADING_PIECES; i++) {
                double offset = std::fmod(12.0 * i + travel, (double)range);
                layout.pieces[i][0] = x + (float)offset;
                layout.pieces[i][1] = y - 1.0f;
                layout.pieces[i][2] = 8.0f;
                layout.pieces[i][3] = h + 1.0f;
            }
            layout.pieceCount = LOADING_PIECES;
        }
    }
    return layout;
}

int32_t Level_GetLoadingScreenIndex(int entry)
{
    if (GameSetup_IsListEnd(entry)) return 0;
    char path[GAMESETUP_TEXT + 8];
    snprintf(path, sizeof path, "levels\\%s", GameSetup_GetLevel(entry));
    ConfigNode* cfg = Config_Open(path);
    int32_t index = 0;
    if (cfg) {
        Config_GetInt(cfg, "game::Level::loadingScreenIndex", &index);
        Config_Close(cfg);
    }
    return index;
}
