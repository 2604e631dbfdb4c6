#include "game/level_file.h"

#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "common/hash.h"
#include "engine/objectworld.h"
#include "engine/physworld.h"
#include "game/game_context.h"
#include "game/race_setup.h"

namespace {

constexpr float kDegreesToRadians = 6.2831855f / 360.0f;

uint32_t ClampByte(float v)
{
    if (!(v > 0.0f)) return 0;  // NaN too
    return v >= 255.0f ? 255u : (uint32_t)v;
}

void ReadString(ConfigNode* cfg, const char* key, char* out)
{
    // Config_GetString empties the buffer of a missing key: read through a
    // scratch buffer so a missing key keeps what out holds.
    char value[CONFIG_TEXT_MAX];
    if (!Config_GetString(cfg, key, value, sizeof value)) return;
    size_t n = strnlen(value, LEVEL_NAME_MAX - 1);
    memcpy(out, value, n);
    out[n] = 0;
}

int ReadVector(ConfigNode* cfg, const char* key, Vec3* out)
{
    float v[3];
    if (!Config_GetVector3(cfg, key, v)) return 0;
    *out = Vec3{v[0], v[1], v[2]};
    return 1;
}

}  // namespace

uint32_t Level_FogTypeFromKey(int32_t value, int present)
{
    if (!present || value == 0) return 1;
    return value == 1 ? 2 : 3;
}

uint32_t Level_PackFogColour(const float* rgb, int32_t alpha)
{
    uint32_t a = alpha < 0 ? 0u : alpha > 255 ? 255u : (uint32_t)alpha;
    return a << 24 | ClampByte(rgb[2]) << 16 | ClampByte(rgb[1]) << 8 | ClampByte(rgb[0]);
}

void Level_ResetSettings(LevelState* level)
{
    LevelSession* s = Level_GetSession();
    s->sceneName[0] = 0;
    s->configDir[0] = 0;
    s->backDome.nearClip = 0.1f;
    s->backDome.farClip = 250.0f;
    s->backDome.camRel = 1;
    s->backDome.posOffset = Vec3{0.0f, 0.0f, 0.0f};
    s->backDome.scaleOffset = Vec3{1.0f, 1.0f, 1.0f};
    s->worldNearClip = 0.1f;
    s->worldFarClip = 250.0f;
    s->worldZBufferClear = 1;
    s->levelToUnlock = 0;
    s->timeAllowance = 0.0f;
    s->clock2 = 0.0f;
    if (!level) return;
    level->backDomePath[0] = 0;
    level->winnerFocusTime = 0.0f;
    level->clippingDistance = 0.0f;
    level->clippingOnSectionDist = 0.0f;
    level->clippingViewAngle = 0.0f;
    level->clippingSegName[0] = 0;
    level->extraGameTypes = 1;
    level->mapLoadFogOn = 0;
    level->fogType = 1;
    level->fogColour = 0xFF000000u;
    level->fogDistance = 0.0f;
    level->fogDensity = 0.0f;
}

void Level_Load(LevelState* level)
{
    char path[GAMESETUP_TEXT + 8];
    snprintf(path, sizeof path, "levels\\%s", GameSetup_GetLevel(level->levelIndex));
    char soundConfig[GAMESETUP_TEXT + 8];
    snprintf(soundConfig, sizeof soundConfig, "%s", path);

    ConfigNode* cfg = Config_Open(path);
    if (!cfg) {
        fprintf(stderr, "Level file \"%s\" not found: the level has no scene\n", path);
    } else {
        LevelSession* s = Level_GetSession();
        Config_SetSection(cfg, "game");
        ReadString(cfg, "Level::levelscene", s->sceneName);
        char value[CONFIG_TEXT_MAX];
        if (Config_GetString(cfg, "Level::levelConfigs", value, sizeof value)) Level_SetConfigDir(value);
        if (Config_GetString(cfg, "level::levelSoundConfig", value, sizeof value))
            snprintf(soundConfig, sizeof soundConfig, "%s", value);

        ReadString(cfg, "Level::BackDomePath", level->backDomePath);
        Config_GetBool(cfg, "Level::BackDomeCamRel", &s->backDome.camRel);
        Config_GetFloat(cfg, "Level::BackDomeFarClip", &s->backDome.farClip);
        Config_GetFloat(cfg, "Level::BackDomeNearClip", &s->backDome.nearClip);
        ReadVector(cfg, "Level::BackDomePosOffset", &s->backDome.posOffset);
        ReadVector(cfg, "Level::BackDomeScaleOffset", &s->backDome.scaleOffset);
        Config_GetBool(cfg, "Level::WorldZBufferClear", &s->worldZBufferClear);
        Config_GetFloat(cfg, "Level::WorldFarClip", &s->worldFarClip);
        Config_GetFloat(cfg, "Level::WorldNearClip", &s->worldNearClip);

        Config_GetInt(cfg, "Level::levelToUnlock", &s->levelToUnlock);

        Vec3 gravity;
        if (ReadVector(cfg, "Level::gravity", &gravity) && ObjectWorld_GetPhysicsWorld())
            PhysWorld_SetGravity(ObjectWorld_GetPhysicsWorld(), &gravity);

        float length = 0.0f;
        Config_GetFloat(cfg, "Level::gametimelength", &length);
        float best = Progress_GetFloat(s->levelToUnlock);
        s->timeAllowance = (best > 0.0f && best < length) ? best : length;

        Config_GetBool(cfg, "Level::extraGameTypes", &level->extraGameTypes);
        if (Config_GetString(cfg, "Level::DefaultGameType", value, sizeof value)) {
            int rule = Level_FindRuleByHash(Name_Hash(value, 1, 1));
            if (rule >= 0) Level_SetGameRule((uint32_t)rule);
        } else {
            Level_SetGameRule(RULE_NORMAL);
        }

        Config_GetFloat(cfg, "Level::winnerFocusTime", &level->winnerFocusTime);
        Config_GetFloat(cfg, "Level::ClippingDistance", &level->clippingDistance);
        Config_GetFloat(cfg, "Level::ClippingOnSectionDist", &level->clippingOnSectionDist);
        if (Config_GetFloat(cfg, "Level::ClippingViewAngle", &level->clippingViewAngle))
            level->clippingViewAngle *= kDegreesToRadians;
        ReadString(cfg, "Level::ClippingSegName", level->clippingSegName);
        Config_GetBool(cfg, "Level::MapLoadFogOn", &level->mapLoadFogOn);

        int32_t fogType = 0;
        int present = Config_GetInt(cfg, "Level::FogType", &fogType);
        level->fogType = Level_FogTypeFromKey(fogType, present);
        float rgb[3] = {0.0f, 0.0f, 0.0f};
        Config_GetVector3(cfg, "Level::FogColourRGB", rgb);
        int32_t alpha = 255;
        Config_GetInt(cfg, "Level::FogColourAlpha", &alpha);
        level->fogColour = Level_PackFogColour(rgb, alpha);
        Config_GetFloat(cfg, "Level::FogDensity", &level->fogDensity);
        Config_GetFloat(cfg, "Level::FogDistance", &level->fogDistance);
        Config_Close(cfg);
    }

    // The level's sounds live in group 1 (loaded without a group request),
    // replaced at every content load.
    SoundBank_ReleaseGroup(SOUNDBANK_UNGROUPED);
    SoundBank_Load(soundConfig, "SOUND", nullptr);
}

void Level_LoadMusic(const char* name, float volume, int looping)
{
    Level_FreeMusic();
    GameContext* ctx = Game_GetContext();
    ctx->music = name ? Sound_LoadStream(name, looping) : nullptr;
    Sound_StartNow(ctx->music);
    Sound_SetVolume(ctx->music, volume);
}

void Level_SetMusicVolume(float volume) { Sound_SetVolume(Game_GetContext()->music, volume); }

void Level_FreeMusic(void)
{
    GameContext* ctx = Game_GetContext();
    Sound_Release(ctx->music);
    ctx->music = nullptr;
}
