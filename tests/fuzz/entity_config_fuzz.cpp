// Fuzzes the configuration readers of entities and level objects: the input
// is configuration text, compiled with the project's configuration compiler
// and served for every configuration the readers open. On it run the entity
// type and HUD keys, collision areas with hit tests, the chase camera with
// updates against a ray that stops where the input says, the weapon table
// with its selection and the projectile mode blocks, "HitModeObject.cfg",
// and the magnet and hinge-velocity blocks.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "common/memory.h"
#include "engine/node.h"
#include "engine/physray.h"
#include "game/chase_camera.h"
#include "game/col_area.h"
#include "game/entity.h"
#include "game/entity_hud.h"
#include "game/hit_mode_object.h"
#include "game/phys_utils.h"
#include "game/projectile.h"
#include "game_fuzz_files.h"
#include "tools/lib/cfgc.h"

namespace {

float g_rayDistance = -1.0f;

// The ray stops at the distance the input gives (none when negative).
void Ray(PrimitiveCollector*, const Vec3* from, const Vec3* to, PhysRayResult* out)
{
    *out = PhysRayResult{};
    Vec3 d;
    Vec3_Sub(&d, to, from);
    float length = std::sqrt(Vec3_LengthSq(&d));
    if (!(g_rayDistance >= 0.0f) || !(g_rayDistance < length) || !(length > 0.0f)) return;
    Vec3_Scale(&d, &d, g_rayDistance / length);
    Vec3_Add(&out->point, from, &d);
    out->normal = {0.3f, 0.4f, -0.866f};
    out->hit = 1;
    out->distance = g_rayDistance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    [[maybe_unused]] static bool started = (Node_Init(), PhysRay_SetCastFunction(Ray), VavadUtils_Register(), true);
    std::vector<uint8_t> compiled;
    CfgcError error;
    if (!Cfgc_Compile((const char*)data, size, &compiled, &error) || compiled.empty()) return 0;
    fuzz::Serve(compiled.data(), compiled.size());
    ConfigNode* reader = Config_Open("Fuzz.cfg");
    if (!reader) return 0;

    EntityRecord record{};
    EntityType_Load(reader, &record);
    if (record.mode >= CONTROL_MODES) abort();
    Mem_Free(record.modeData);
    Mem_Free(record.water);

    // HUD keys: the animation sets are not loaded (no set module), the texts are.
    for (uint32_t layout : {0u, 3u}) {
        EntityRecord hud{};
        Hud_LoadConfig("Fuzz.cfg", &hud, layout, nullptr);
        if (hud.hudTextCount > HUD_TEXT_SLOTS) abort();
        Hud_Free(&hud);
    }

    ColAreaList areas{};
    Config_SetSection(reader, "vehicle");
    ColArea_Load(reader, "controlData::colAreas", &areas);
    ColArea_Load(reader, "controlData_1::colAreas", &areas);
    const Vec3 own = {0, 0, 0}, facing = {0, 0, 1}, up = {0, 1, 0};
    for (int i = 0; i < 8; ++i) {
        Vec3 other = {std::sin(i * 0.8f), (float)(i % 3) - 1.0f, std::cos(i * 0.8f)};
        float v1 = 0, v2 = 0;
        ColArea_HitTest(&areas, &own, &other, &facing, &up, 3, nullptr, &v1, &v2);
    }
    ColArea_Free(&areas);

    // The ray stops where the top-level "rayDistance" says.
    ChaseCamera* camera = nullptr;
    ChaseCamera_LoadConfig(reader, &camera, "controlData::genCamData");
    ChaseCamera_LoadConfig(reader, &camera, "controlData_1::genCamData");
    if (camera) {
        Config_SetSection(reader, nullptr);
        g_rayDistance = -1.0f;
        Config_GetFloat(reader, "rayDistance", &g_rayDistance);
        Node* followed = Node_Create(nullptr);
        Node* cameraNode = Node_Create(nullptr);
        ChaseCamera_FollowObject(camera, followed);
        ChaseCamera_Reset(camera, cameraNode, nullptr, nullptr);
        ChaseCamera_SetSlideMaxDist(camera, 50.0f);
        for (int i = 0; i < 12; ++i) {
            Vec3 p = {0.3f * i, 0.1f * i, 0.5f * i};
            Node_SetPosition(followed, &p);
            ChaseCamera_FollowObject(camera, followed);
            ChaseCamera_SetAngleX(camera, 0.2f * i);
            ChaseCamera_AddAngleY(camera, 0.3f);
            if (i == 6) ChaseCamera_SetFlags(camera, CHASECAM_SNAP_REQUEST, 1);
            ChaseCamera_Update(camera, cameraNode, i == 3 ? 0.0f : 1.0f / 30.0f);
        }
        Node_Destroy(followed);
        Node_Destroy(cameraNode);
        Mem_FreeSlot(&camera);
        Config_SetSection(reader, "vehicle");
    }

    WeaponList weapons{0, -1, nullptr};
    char path[1024];
    for (int n = 0; n < 64; ++n) {
        Weapon w;
        if (!ProjType_ReadWeapon(reader, "controlData::projectiles", n, path, sizeof path, &w)) break;
        auto* grown = (Weapon*)Mem_Recalloc(weapons.weapons, 8, sizeof(Weapon) * (weapons.count + 1));
        if (!grown) break;
        weapons.weapons = grown;
        weapons.weapons[weapons.count++] = w;
    }
    ProjType_ResetWeapons(&weapons);
    for (int i = 0; i < 6; ++i) {
        ProjType_SelectNext(&weapons, i & 1, i & 2);
        ProjType_SelectPrevious(&weapons, i & 1, i & 4);
        if (weapons.current < -1 || weapons.current >= (int32_t)weapons.count) abort();
    }
    ProjType_AddAmmo(&weapons, 1, 5);
    ProjType_GetIconIndex(&weapons);
    ProjType_Free(&weapons);
    for (uint32_t mode = 0; mode <= PROJMODE_NONE; ++mode) {
        void* blocks = nullptr;
        uint32_t count = 0;
        ProjMode_ReadBlocks(reader, mode, &blocks, &count);
        Mem_Free(blocks);
    }

    HitModeObject_LoadConfig();
    float unclipped = 0, clipped = 0;
    HitModeObject_GetClipDistances(&unclipped, &clipped, nullptr, nullptr);
    MagnetParams params;
    Magnet_ReadParams(reader, &params);
    for (const char* section : {"MagnetData", "HingeVelChangeData", ""}) {
        HingeVelBlock block;
        HingeVel_Load(reader, section, nullptr, &block);
        HingeVel_Step(&block, 0.02f);
        HingeVel_Free(&block);
    }
    HitModeObject_FreeConfig();

    Config_Close(reader);
    return 0;
}
