// Pieces shared by the walking and creature modes.
#include "game/modes/mode_common.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/ai_route.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/mode_keys.h"
#include "game/projectile.h"
#include "game/viewports.h"

int32_t Mode_Anim(const EntityRecord* record)
{
    return record && record->animSlotCount ? record->animSlots[0].current : -1;
}

int Mode_AnimFinished(const EntityRecord* record) { return !Entity_TestAnimFlags(record, 0, ANIMSLOT_PLAYING); }

int Mode_Play(EntityRecord* record, int32_t id) { return Entity_PlayAnim(record, id, 0, 0.0f); }

float Mode_AnimAge(const EntityRecord* record) { return Entity_GetTime(record) - Entity_GetAnimSlotFloat(record, 0); }

int Mode_Pressed(const PlayerInputRecord* input, uint32_t button)
{
    return input && (input->buttons & button) && !(input->oldButtons & button);
}

int Mode_Held(const PlayerInputRecord* input, uint32_t button) { return input && (input->buttons & button); }

float Mode_FrameTime(void) { return Game_GetFrameTime(); }

Node* Mode_CameraFrame(uint32_t player) { return player ? Viewport_GetCameraFrame((int)player - 1) : nullptr; }

void Mode_Facing(Object* object, const EntityRecord* record, Vec3* at, Vec3* up)
{
    *at = {0.0f, 0.0f, 1.0f};
    *up = {0.0f, 1.0f, 0.0f};
    if (Entity_GetAnimRootOrientation(record, 0, at, up)) return;
    if (object && object->node) Node_GetWorldOrientation(object->node, at, up);
}

void Mode_SetNodeFacing(Object* object, const Vec3* at, const Vec3* up)
{
    if (!object) return;
    if (object->node) Node_SetWorldOrientation(object->node, at, up);
    PhysBody_SetOrientation(object->body, up, at);
}

Vec3 Mode_BodyPosition(const Object* object)
{
    Vec3 p = {0, 0, 0};
    if (object) PhysBody_GetPosition(object->body, &p);
    return p;
}

void Mode_LoadRoute(ConfigNode* reader, AiRoute* route, Object* object, int32_t pass)
{
    char section[64];
    ModeKeys_SectionName(MODEKEY_LEVEL_SECTION, pass, section, sizeof section);
    Route_LoadConfig(reader, section, object, route, pass == 0);
}

int Mode_SteerByRoute(AiRoute* route, Object* object, EntityRecord* record, PlayerInputRecord* input, Vec3* steering)
{
    *steering = {0.0f, 0.0f, 0.0f};
    if (!object || !record || !input) return 0;
    if (record->player && record->heldFrom) {
        if (const PlayerInputRecord* pad = Player_GetInputRecord((int)record->player - 1)) *input = *pad;
        return 0;
    }
    const Vec3 position = Mode_BodyPosition(object);
    if (object->body && Route_Update(steering, route, &position, nullptr, nullptr, nullptr)) return 1;
    *steering = {0.0f, 0.0f, 0.0f};
    if (!record->player) record->flags &= ~ENTITY_MOVING;
    return 0;
}

void Mode_StickAlong(PlayerInputRecord* input, const Vec3& direction, uint32_t player)
{
    Vec3 cameraAt = {0.0f, 0.0f, 1.0f}, cameraUp;
    if (Node* frame = Mode_CameraFrame(player)) Node_GetWorldOrientation(frame, &cameraAt, &cameraUp);
    // The modes turn the stick by minus the camera's heading into the world.
    const Vec3 stick = Mode_TurnAboutUp(Vec3{direction.x, 0.0f, direction.z}, Vec3_Heading(&cameraAt));
    input->stickX = stick.x;
    input->stickY = stick.z;
}

Vec3 Mode_TurnAboutUp(const Vec3& v, float angle)
{
    static const Vec3 kUp = {0.0f, 1.0f, 0.0f};
    Vec3 out;
    Vec3_RotateAxis(&out, &v, &kUp, angle);
    return out;
}

float Mode_Length(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

float Mode_HorizontalLength(const Vec3& v) { return std::sqrt(v.x * v.x + v.z * v.z); }

Vec3 Mode_Unit(const Vec3& v)
{
    float length = Mode_Length(v);
    if (!(length > 1e-12f)) return Vec3{0, 0, 0};
    return Vec3{v.x / length, v.y / length, v.z / length};
}

int Mode_IsFinite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void Mode_SquareFacing(Vec3* at, Vec3* up)
{
    Vec3 u = Mode_Unit(*up);
    if (Vec3_LengthSq(&u) == 0.0f) return;
    float along = Vec3_Dot(at, &u);
    Vec3 a = {at->x - u.x * along, at->y - u.y * along, at->z - u.z * along};
    a = Mode_Unit(a);
    if (Vec3_LengthSq(&a) == 0.0f) return;
    *at = a;
    *up = u;
}

int Mode_SplitEvent(const char* text, char* copy, size_t size, char* words[MODE_EVENT_WORDS])
{
    if (!text || !copy || !size) return 0;
    strncpy(copy, text, size - 1);
    copy[size - 1] = '\0';
    int count = 0;
    char* p = copy;
    while (count < MODE_EVENT_WORDS) {
        char* comma = strchr(p, ',');
        if (comma) *comma = '\0';
        while (*p == ' ' || *p == '\t') p++;
        char* end = p + strlen(p);
        while (end > p && (end[-1] == ' ' || end[-1] == '\t')) *--end = '\0';
        words[count++] = p;
        if (!comma) break;
        p = comma + 1;
    }
    return count;
}

int32_t Mode_WordNumber(const char* word) { return word ? (int32_t)strtol(word, nullptr, 10) : 0; }

int Mode_ReadShotEvent(const EntityRecord* record, const char* event, WeaponList* weapons, int32_t* slot, int* named)
{
    *slot = -1;
    *named = 0;
    char copy[256];
    char* words[MODE_EVENT_WORDS];
    const int count = Mode_SplitEvent(event, copy, sizeof copy, words);
    if (count < 1) return 0;
    if (strcmp(words[0], "Message") == 0) {
        ObjectEvent_ParseMessage(words, count, record ? record->player : 0);
        return 0;
    }
    if (strcmp(words[0], "ProjType") != 0) return 0;
    ProjType_GetCurrentWeapon(weapons, slot);
    if (count >= 2) {
        *named = 1;
        const int32_t n = Mode_WordNumber(words[1]);
        if (ProjType_GetWeapon(weapons, n)) *slot = n;
    }
    return 1;
}

Object* Mode_FireWeapon(Object* object, EntityRecord* record, WeaponList* weapons, Weapon* weapon, AnimSet* set,
                        Node* item, Node* target, int anyMode, ModeHeldShot* held, int heldCount)
{
    if (!object || !weapon) return nullptr;
    Object* shot = Projectile_Spawn(weapon, object, weapons);
    if (!shot) return nullptr;
    const uint32_t mode = Projectile_GetModeIndex(shot);
    if (target && (anyMode || mode == PROJMODE_STRAIGHT || mode == PROJMODE_HOMING)) Projectile_SetLaunchNode(target);
    Node* from = item ? item : (record && record->animSlotCount ? record->animSlots[0].root : object->node);
    if (mode == PROJMODE_FRAME_FOLLOW) {
        for (int i = 0; i < heldCount; ++i) {
            if (held[i].projectile) continue;
            held[i] = {shot, set, from};
            break;
        }
        Projectile_SetLaunchNode(from);
    }
    Vec3 position = {0, 0, 0}, at = {0, 0, 1}, up = {0, 1, 0};
    if (from) {
        Node_GetWorldPosition(from, &position);
        Node_GetWorldOrientation(from, &at, &up);
    }
    Projectile_Launch(shot, &position, &at, &up, object, object->body);
    return shot;
}

void Mode_ReleaseShots(ModeHeldShot* held, int count, Object* owner)
{
    for (int i = 0; i < count; ++i) {
        if (held[i].projectile) Projectile_Release(held[i].projectile, owner);
        held[i] = ModeHeldShot{};
    }
}
