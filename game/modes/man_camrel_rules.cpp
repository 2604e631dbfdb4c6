// Man_CamRel: the rules slot, run first in every entity update with a
// zeroed input record. Its first half is the walking player's game: HUD
// texts, the time limit and best scores, freezes, the floating point texts,
// level completion and unlocks. Its second half chooses the animations and
// their speed, applies damping, extra gravity, forced velocities and death
// by falling, drives the chase camera and the HUD items, keeps the target
// list of homing weapons and releases shots waiting on an animation; the
// lives step (death and the die menu) runs between the animation rules and
// the last transitions.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/view.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/menu_system.h"
#include "game/modes/man_camrel.h"
#include "game/modes/mode_common.h"
#include "game/viewports.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kArrowPitchMin = 0.6981317f;  // 40 degrees
constexpr float kArrowPitchMax = 2.443461f;   // 140 degrees
constexpr float kPushAngle = 0.34906586f;     // 20 degrees
constexpr float kTargetHold = 5.0f;
constexpr float kForcedDuration = 0.25f;

// ---------------------------------------------------------------- Menu pages

int DefaultGoTo(const char* page)
{
    MenuSystem* menu = Level_GetInGameMenu();
    return menu && Menu_GoToByName(menu, page, 1) ? 1 : 0;
}
void DefaultSetOpen(void) { Menu_SetOpen(Level_GetInGameMenu(), 1, 1); }
void DefaultSetEntryText(const char* page, const char* entry, const char* text)
{
    if (MenuSystem* menu = Level_GetInGameMenu()) Menu_SetEntryText(menu, page, entry, text);
}
const ManCamRelMenuCalls kDefaultMenu = {DefaultGoTo, DefaultSetOpen, DefaultSetEntryText};
ManCamRelMenuCalls g_menu = kDefaultMenu;

// ---------------------------------------------------------------- Helpers

bool In(int32_t anim, std::initializer_list<int32_t> list)
{
    for (int32_t a : list)
        if (a == anim) return true;
    return false;
}

bool IsDying(int32_t anim) { return In(anim, {MCR_DEAD, MCR_DROWN, MCR_DIE_IN_AIR}); }

float Clamp(float v, float lo, float hi) { return std::fmin(std::fmax(v, lo), hi); }

void ShowNumber(EntityRecord* record, uint32_t slot, const char* format, int32_t value)
{
    char text[32];
    snprintf(text, sizeof text, format, (int)value);
    Entity_ShowTextString(record, slot, text);
}

// A screen-text line of the player's viewport beyond the HUD slots.
void ScreenLine(EntityRecord* record, int line, const char* text, const Vec2* position, float scale,
                const uint32_t* colour, int centred)
{
    int viewport = 0;
    if (!record->player || !Player_GetViewportIndex((int)record->player - 1, &viewport)) return;
    static const Vec2 kOrigin = {0.0f, 0.0f};
    Level_AddScreenText(Game_GetContext()->fonts[0], viewport, line, text, position ? position : &kOrigin, scale,
                        colour, centred);
}

// A slot's root is drawn when the slot is shown and the view mask allows it.
void ShowSlotRoot(EntityRecord* record, uint32_t slot, bool visible)
{
    if (slot >= record->animSlotCount || !record->animSlots[slot].root) return;
    EntityAnimSlot& s = record->animSlots[slot];
    bool allowed = (s.flags & ANIMSLOT_SHOWN) && (record->viewMask & s.viewInMode);
    Node_SetFlags(s.root, NODE_HIDDEN, visible && allowed ? 0 : 1);
}

void SetHidden(Node* node, bool hidden)
{
    if (node) Node_SetFlags(node, NODE_HIDDEN, hidden ? 1 : 0);
}

// ---------------------------------------------------------------- Game half

void HudTexts(ManCamRelData* d, EntityRecord* record, uint32_t rule)
{
    ShowNumber(record, 2, "%d", d->score);
    switch (rule) {
    case RULE_SCORE_PICKUPS:
        ShowNumber(record, 3, "%d", d->scorePickupsCollected);
        ShowNumber(record, 4, "%d", Math_TruncToInt((float)d->scorePickupTotal * d->requiredFraction));
        break;
    case RULE_HIDDEN_PICKUPS:
        ShowNumber(record, 3, "%d", d->hiddenCollected);
        ShowNumber(record, 4, "%d", d->hiddenTotal);
        break;
    case RULE_NORMAL:
        Entity_ShowTextString(record, 3, "-");
        Entity_ShowTextString(record, 4, "-");
        break;
    default:
        Entity_ShowTextString(record, 3, "");
        Entity_ShowTextString(record, 4, "");
        break;
    }
    ShowNumber(record, 5, "X%d", d->lives);
}

void TimeLimit(ManCamRelData* d, EntityRecord* record, uint32_t rule)
{
    if (rule != RULE_COUNTDOWN && rule != RULE_BEATTIME && rule != RULE_COUNTDOWN_MUST_COMPLETE) return;
    float remaining = Level_GetTimeAllowance() - Level_GetClock2();
    if (!(remaining > 0.0f)) remaining = 0.0f;
    ShowNumber(record, 6, "%d", Math_TruncToInt(remaining));
    if (remaining != 0.0f) return;
    if (rule == RULE_COUNTDOWN) {
        const int player = (int)record->player - 1;
        const int32_t entry = Level_GetLevelToUnlock();
        const int32_t best = Progress_GetPlayerValue(player, entry);
        if ((uint32_t)best < (uint32_t)d->score || best == 0) {
            Progress_SetPlayerValue(player, entry, d->score);
            if (ManCamRel_OpenPage("newBestScore", LEVEL_ENDED))
                ManCamRel_SetEntryText("newBestScore", "bestscore", d->score);
        } else if (ManCamRel_OpenPage("notBeatenTopScore", LEVEL_ENDED)) {
            ManCamRel_SetEntryText("notBeatenTopScore", "bestscore", best);
            ManCamRel_SetEntryText("notBeatenTopScore", "attemptscore", d->score);
        }
    } else {
        // A lost game: without its page the level ends as a quit does.
        ManCamRel_OpenPage("timeOver", LEVEL_ENDED | LEVEL_QUIT);
    }
}

void Freeze(ManCamRelData* d, EntityRecord* record, Node* frame, float now)
{
    if (record->flags & ENTITY_FROZEN) {
        d->freezeTime = now;
        d->fallTime = now;
        Mode_Play(record, MCR_STAND);
        if (AnimSet* set = Entity_GetAnimSlotValue(record, 0)) {
            AnimSet_SetModuleFlag(0);
            AnimSet_SetTime(set, 0.0f);
            AnimSet_SetModuleFlag(1);
        }
        d->flags |= MCR_WAS_FROZEN;
        for (int line = 6; line <= 15; ++line) ScreenLine(record, line, "", nullptr, 1.0f, nullptr, 0);
        return;
    }
    if (!frame) {
        d->flags &= ~MCR_WAS_FROZEN;
        return;
    }
    if (d->flags & MCR_WAS_FROZEN) {
        Node_SetWorldPosition(frame, &d->savedCamPosition);
        Node_SetWorldOrientation(frame, &d->savedCamAt, &d->savedCamUp);
        ChaseCamera_AddAngleX(d->camera, 0.0f);
        ChaseCamera_AddAngleY(d->camera, 0.0f);
        ChaseCamera_AddAngleZ(d->camera, 0.0f);
    }
    d->flags &= ~MCR_WAS_FROZEN;
    Node_GetWorldPosition(frame, &d->savedCamPosition);
    Node_GetWorldOrientation(frame, &d->savedCamAt, &d->savedCamUp);
}

// Whether the floating text on the line is drawn over the score counter
// (HUD text 2) of the entity's viewport this frame.
bool MeetsCounter(EntityRecord* record, int line)
{
    int viewport = 0;
    float a[4], b[4];
    if (!record->player || !Player_GetViewportIndex((int)record->player - 1, &viewport)) return false;
    if (!Level_GetScreenTextBox(viewport, 2, a) || !Level_GetScreenTextBox(viewport, line, b)) return false;
    return a[0] < b[2] && b[0] < a[2] && a[1] < b[3] && b[1] < a[3];
}

// One axis of a floating text's flight towards the score counter.
void Fly(float* position, float* velocity, float target, float dt)
{
    float acceleration = (target > *position && *velocity < 0.0f) ? 150.0f : 75.0f;
    if (target <= *position)
        *velocity -= dt * acceleration;
    else
        *velocity += dt * acceleration;
    *velocity = Clamp(*velocity, -20.0f, 20.0f);
    *position += *velocity;
}

void FloatingTexts(ManCamRelData* d, EntityRecord* record, Node* frame, float dt)
{
    float target[3] = {0.0f, 0.0f, 8.0f};
    uint32_t colour = 0xFFFFFFFFu;
    int centred = 0;
    if (EntityHudTextSlot* slot = Entity_GetHudSlot(record, 2)) {
        target[0] = slot->position[0] * 640.0f;
        target[1] = slot->position[1] * 480.0f;
        colour = slot->colour;
        centred = (int)slot->centred;
    }
    View* view = record->player ? Viewport_GetWorldView((int)record->player - 1) : nullptr;
    int viewport = -1;
    if (record->player) Player_GetViewportIndex((int)record->player - 1, &viewport);
    // The texts in the order they were added: each keeps clear of those added before it.
    int order[MCR_FLOAT_TEXTS], shown[MCR_FLOAT_TEXTS], n = 0, count = 0;
    for (int i = 0; i < MCR_FLOAT_TEXTS; ++i) {
        if (!(d->texts[i].flags & MCR_TEXT_ACTIVE)) {
            ScreenLine(record, (int)record->hudTextCount + i, "", nullptr, 1.0f, nullptr, 0);
            continue;
        }
        int k = n++;
        for (; k > 0 && (int32_t)(d->texts[order[k - 1]].serial - d->texts[i].serial) > 0; --k) order[k] = order[k - 1];
        order[k] = i;
    }
    for (int k = 0; k < n; ++k) {
        ManCamRelFloatText& t = d->texts[order[k]];
        const int line = (int)record->hudTextCount + order[k];
        if (t.flags & MCR_TEXT_UNPROJECTED) {
            Vec3 screen = {320.0f, 240.0f, 8.0f};
            if (view) {
                View_SetFov(view, record->worldFov);
                View_ProjectPoint(view, frame, ObjectWorld_GetRootNode(), &screen, &t.world);
            }
            t.x = screen.x;
            t.y = screen.y;
            t.depth = screen.z;
            t.flags &= ~MCR_TEXT_UNPROJECTED;
        }
        Fly(&t.x, &t.vx, target[0], dt);
        Fly(&t.y, &t.vy, target[1], dt);
        Vec2 position = {t.x / 640.0f, t.y / 480.0f};
        ScreenLine(record, line, t.text, &position, ManCamRel_TextScale(t.depth), &colour, centred);
        if (Level_ScreenTextClearance(viewport, line, shown, count, &position.y)) t.y = position.y * 480.0f;
        shown[count++] = line;
        // After the draw, the depth flies in as well: a text far from the
        // counter's depth would otherwise never arrive and its points never
        // count.
        float vz = t.depth > target[2] ? -20.0f : 20.0f;
        t.depth = std::fabs(t.depth - target[2]) <= 20.0f * dt ? target[2] : t.depth + vz * dt;
        const float dx = t.x - target[0], dy = t.y - target[1], dz = t.depth - target[2];
        // It has arrived once near the counter, or once it touches it on the
        // screen: it never circles over the counter and the lines below it.
        const bool touches = MeetsCounter(record, line);
        if (touches || dx * dx + dy * dy + dz * dz < 20.0f * 20.0f) {
            if (touches) ScreenLine(record, line, "", nullptr, 1.0f, nullptr, 0);
            t.flags = 0;
            d->score = Math_AddClamped(d->score, t.value);
        }
    }
}

void LevelCompletion(ManCamRelData* d, EntityRecord* record, uint32_t rule)
{
    Object* end = d->levelEnd;
    if (!end) return;
    const int32_t i = HitModeObject_GetAnimIndex(end);
    const int32_t n = (int32_t)HitModeObject_GetAnimCount(end);
    bool complete = false;
    if (rule == RULE_NORMAL || rule == RULE_SCORE_PICKUPS || rule == RULE_BEATTIME) {
        complete = d->levelCompCollected >= d->levelCompPickupTotal && i == n - 4 &&
                   (rule != RULE_SCORE_PICKUPS || (d->flags & MCR_PICKUPS_MET));
    } else if (rule == RULE_HIDDEN_PICKUPS) {
        if (i == 0) HitModeObject_PlayIndex(end, n - 4, 1, record->player);
        complete = i == n - 4 && (d->flags & MCR_PICKUPS_MET);
    }
    if (complete) {
        HitModeObject_PlayIndex(end, n - 3, 1, record->player);
        HitModeObject_ChooseNext(end, n - 2);
        ObjectEvent_Queue(d->typeHashes[MCR_TYPE_ENDAREATRIGGER], OBJECT_EVENT_ACTIVATE, 1, record->player);
    }
    if (i != n - 1) return;
    for (ManCamRelFloatText& t : d->texts) {
        if (!(t.flags & MCR_TEXT_ACTIVE)) continue;
        d->score = Math_AddClamped(d->score, t.value);
        t.flags = 0;
    }
    if (!HitModeObject_TestState(end, HITSTATE_FINISHED)) return;
    const int32_t entry = Level_GetLevelToUnlock();
    bool opened = false;
    if (rule == RULE_SCORE_PICKUPS && !Progress_TestFlags(entry, PROGRESS_BEATTIME_RULE)) {
        Progress_SetFlags(entry, PROGRESS_BEATTIME_RULE, 1);
        ManCamRel_OpenPage("unlockedTimeAttack", LEVEL_ENDED);
        opened = true;
    }
    if (rule == RULE_BEATTIME && !Progress_TestFlags(entry, PROGRESS_HIDDEN_RULE)) {
        Progress_SetFlags(entry, PROGRESS_HIDDEN_RULE, 1);
        ManCamRel_OpenPage("unlockedHiddenPickups", LEVEL_ENDED);
        opened = true;
    }
    const int player = (int)record->player - 1;
    if (Progress_GetPlayerValue(player, entry) < d->score) Progress_SetPlayerValue(player, entry, d->score);
    if (!opened) Level_SetFlags(LEVEL_ENDED, 1);
}

// ---------------------------------------------------------------- Animation half

// Visibility of a candidate: the ray from the body to it. A hit on the
// candidate itself (the ray ends inside its body) or on this entity does not
// block; after a hit on this entity the cast goes on from just beyond it.
bool Visible(Object* self, Object* candidate)
{
    Vec3 from = Mode_BodyPosition(self);
    const Vec3 to = Mode_BodyPosition(candidate);
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    for (int tries = 0; tries < 4; ++tries) {
        Vec3 d;
        Vec3_Sub(&d, &to, &from);
        float length = Mode_Length(d);
        if (!(length > 1e-4f)) return true;
        Vec3 unit = Mode_Unit(d);
        PhysRayHit hit;
        if (!PhysWorld_CastRayDir(world, &hit, &from, &unit, length)) return true;
        if (hit.object == candidate) return true;
        if (hit.object != self) return false;
        from = {hit.point.x + unit.x * 0.01f, hit.point.y + unit.y * 0.01f, hit.point.z + unit.z * 0.01f};
    }
    return false;
}

void GatherCandidates(ManCamRelData* d, Object* object, const Vec3& at)
{
    memset(d->scanned, 0, sizeof d->scanned);
    memset(d->scannedVisible, 0, sizeof d->scannedVisible);
    Vec3 facing = Mode_Unit(at);
    EntityQuery query = {};
    query.self = object;
    query.mode = ENTITY_QUERY_ANY_MODE;
    query.bits = ENTITY_QUERY_PITCH_ARC | ENTITY_QUERY_HEADING_ARC;
    if (d->flags & MCR_HAS_ATTACK_TYPES) query.bits |= ENTITY_QUERY_SHARED_TYPE;
    query.typeMask = d->attackMask;
    query.maxDistance = d->targetViewRadius;
    query.pitch = Vec3_Pitch(&facing);
    query.pitchArc = d->targetViewAngle[0];
    query.heading = Vec3_Heading(&facing);
    query.headingArc = d->targetViewAngle[1];
    EntityQueryHit hits[MCR_CANDIDATES];
    int n = Entity_Query(&query, hits, MCR_CANDIDATES);
    for (int i = 0; i < n; ++i) d->scanned[i] = {hits[i].object, hits[i].distanceSq};
}

void TargetList(ManCamRelData* d, EntityRecord* record, Object* object, const Vec3& at, float now)
{
    Weapon* weapon = ProjType_GetCurrentWeapon(&d->weapons, nullptr);
    const bool homing = weapon && (weapon->mode == PROJMODE_STRAIGHT || weapon->mode == PROJMODE_HOMING) &&
                        (d->flags & MCR_WEAPONS_ALLOW);
    if (homing) {
        if (d->scanIndex < 0 || d->scanIndex >= MCR_CANDIDATES) d->scanIndex = 0;
        if (d->scanIndex == 0) GatherCandidates(d, object, at);
        const int i = d->scanIndex;
        if (d->scanned[i].object) {
            d->scannedVisible[i] = Visible(object, d->scanned[i].object) ? 1u : 0u;
            d->scanIndex = i + 1;
        } else {
            d->scanIndex = MCR_CANDIDATES;
        }
        if (d->scanIndex >= MCR_CANDIDATES) {
            memcpy(d->active, d->scanned, sizeof d->active);
            memcpy(d->activeVisible, d->scannedVisible, sizeof d->activeVisible);
            d->scanIndex = 0;
            if (d->target) {
                d->targetValue = d->targetViewRadius * d->targetViewRadius;
                int found = -1;
                for (int k = 0; k < MCR_CANDIDATES && found < 0; ++k)
                    if (d->active[k].object == d->target) found = k;
                if (found < 0) {
                    d->target = nullptr;
                } else {
                    d->targetValue = d->active[found].value;
                    if (d->activeVisible[found]) d->flags &= ~MCR_TARGET_HIDDEN;
                }
                if (d->target && !(d->flags & MCR_TARGET_HIDDEN)) {
                    d->flags |= MCR_TARGET_HIDDEN;
                    d->targetHoldUntil = now + kTargetHold;
                }
            }
        }
    } else {
        d->target = nullptr;
    }
    if (d->target && (d->flags & MCR_TARGET_HIDDEN) && now > d->targetHoldUntil) {
        d->target = nullptr;
        d->flags &= ~MCR_TARGET_HIDDEN;
    }
    if (d->target && Mode_Anim(record) == MCR_DOUBLEJUMP) {
        EntityRecord* t = Entity_GetRecord(d->target);
        if (t && t->mode == MODE_SKITTER) d->target = nullptr;
    }
    if (!d->target && homing) {
        // A Skitter is not locked on again while the double jump plays.
        const bool doubleJump = Mode_Anim(record) == MCR_DOUBLEJUMP;
        for (int k = 0; k < MCR_CANDIDATES; ++k) {
            if (!d->active[k].object || !d->activeVisible[k]) continue;
            EntityRecord* candidate = Entity_GetRecord(d->active[k].object);
            if (doubleJump && candidate && candidate->mode == MODE_SKITTER) continue;
            d->target = d->active[k].object;
            d->targetValue = d->active[k].value;
            break;
        }
    }
}

void ReleaseFinishedShots(ManCamRelData* d, EntityRecord* record, Object* object)
{
    for (uint32_t s = 0; s < record->animSlotCount; ++s) {
        const EntityAnimSlot& slot = record->animSlots[s];
        if (slot.flags & ANIMSLOT_PLAYING) continue;
        for (ManCamRelPendingShot& shot : d->pending) {
            if (!shot.projectile || shot.set != slot.set) continue;
            Projectile_Release(shot.projectile, object);
            shot = ManCamRelPendingShot{};
        }
    }
}

void Arrow(ManCamRelData* d, EntityRecord* record, Object* object, Node* frame, uint32_t rule, float dt)
{
    EntityHudAnimSlot* arrow = Entity_GetHudAnimSlot(record, 2);
    if (!arrow) return;
    if (rule != RULE_NORMAL && rule != RULE_SCORE_PICKUPS && rule != RULE_BEATTIME) return;
    const Vec3 p = Mode_BodyPosition(object);
    Object* target = nullptr;
    float best = 1.0e9f;
    for (uint32_t i = 0; i < d->levelCompCount; ++i) {
        Object* pickup = d->levelComp[i];
        if (!pickup || HitModeObject_GetAnimIndex(pickup) > 0) continue;
        Vec3 q = {0, 0, 0};
        Object_GetTransform(pickup, &q, nullptr, nullptr);
        float d2 = Vec3_DistanceSq(&p, &q);
        if (d2 < best) {
            best = d2;
            target = pickup;
        }
    }
    if (!target) target = d->levelEnd;
    if (!target || !frame) {
        SetHidden(arrow->node, true);
        return;
    }
    SetHidden(arrow->node, false);
    Vec3 q = {0, 0, 0};
    Object_GetTransform(target, &q, nullptr, nullptr);
    Vec3 direction;
    Vec3_Sub(&direction, &q, &p);
    direction = Mode_Unit(direction);
    if (Vec3_LengthSq(&direction) == 0.0f) return;
    Vec3 cameraAt, cameraUp;
    Node_GetWorldOrientation(frame, &cameraAt, &cameraUp);
    cameraAt = Mode_Unit(cameraAt);
    float pitch = Clamp(Vec3_Pitch(&direction), kArrowPitchMin, kArrowPitchMax) - Vec3_Pitch(&cameraAt);
    float heading = Angle_Diff(Vec3_Heading(&cameraAt), Vec3_Heading(&direction), 1, 1);
    d->arrowPitch = Math_MoveTowards(d->arrowPitch, pitch, dt * d->levelCompArrowSpeed[0]);
    d->arrowHeading = Angle_MoveTowards(heading, d->arrowHeading, dt * d->levelCompArrowSpeed[1]);
    const Vec3 forward = {0, 0, 1}, up = {0, 1, 0}, right = {1, 0, 0};
    Vec3 at = Mode_TurnAboutUp(forward, -d->arrowHeading);
    Vec3 side = Mode_TurnAboutUp(right, -d->arrowHeading);
    Vec3 arrowAt, arrowUp;
    Vec3_RotateAxis(&arrowAt, &at, &side, -d->arrowPitch);
    Vec3_RotateAxis(&arrowUp, &up, &side, -d->arrowPitch);
    if (arrow->node && Mode_IsFinite(arrowAt) && Mode_IsFinite(arrowUp)) Node_SetOrientation(arrow->node, &arrowAt, &arrowUp);
}

void PlayerHud(ManCamRelData* d, EntityRecord* record, Object* object, Node* frame, uint32_t rule, float dt)
{
    Node* indicator = Entity_GetAnimObject(record, 1) ? record->animSlots[1].root : nullptr;
    if (!record->player) {
        SetHidden(indicator, true);
        return;
    }
    int32_t current = -1;
    Weapon* weapon = ProjType_GetCurrentWeapon(&d->weapons, &current);
    if (weapon && (weapon->flags & WEAPON_LIMITED)) ShowNumber(record, 0, "%d", weapon->ammo);

    if (EntityHudAnimSlot* icon = Entity_GetHudAnimSlot(record, 3)) {
        if (!(d->flags & MCR_WEAPONS_ALLOW)) {
            SetHidden(icon->node, true);
        } else {
            AnimSet_PlayIndex(icon->set, ProjType_GetIconIndex(&d->weapons));
            AnimSet_Advance(icon->set, dt, ANIMSET_ADVANCE_SCENE);
            SetHidden(icon->node, false);
        }
    }

    if (!d->target) {
        SetHidden(indicator, true);
    } else if (indicator) {
        Vec3 q = Mode_BodyPosition(d->target);
        Node_SetWorldPosition(indicator, &q);
        if ((d->flags & MCR_TARGET_TO_CAMERA) && frame) {
            Vec3 c, at, up, y = {0, 1, 0};
            Node_GetWorldPosition(frame, &c);
            Vec3_Sub(&at, &q, &c);
            at = Mode_Unit(at);
            Vec3 rest;
            Vec3_Sub(&rest, &y, &at);
            Vec3_Cross(&up, &at, &rest);
            if (Vec3_LengthSq(&at) > 0.0f && Vec3_LengthSq(&up) > 1e-8f) Node_SetWorldOrientation(indicator, &at, &up);
        }
        SetHidden(indicator, false);
    }

    if (EntityHudAnimSlot* health = Entity_GetHudAnimSlot(record, 0)) {
        float fraction = d->totalHealth > 0.0f ? Entity_GetHealth(record) / d->totalHealth : 0.0f;
        AnimSet_SetTime(health->set, fraction * AnimSet_GetLength(health->set));
    }

    if (EntityHudAnimSlot* special = Entity_GetHudAnimSlot(record, 4)) {
        int32_t ammo = ProjType_GetAmmo(&d->weapons, d->specialMoveProjectileNum);
        if (ammo == 0) {
            AnimSet_PlayIndex(special->set, 0);
            Entity_ShowTextString(record, 7, "");
        } else {
            AnimSet_PlayIndex(special->set, 1);
            ShowNumber(record, 7, "%d", ammo);
        }
        AnimSet_Advance(special->set, dt, ANIMSET_ADVANCE_SCENE);
    }

    if (EntityHudAnimSlot* meter = Entity_GetHudAnimSlot(record, 1)) {
        if (rule == RULE_COUNTDOWN || rule == RULE_COUNTDOWN_MUST_COMPLETE) {
            SetHidden(meter->node, true);
        } else {
            float length = AnimSet_GetLength(meter->set);
            float wanted = d->levelCompPickupTotal > 0
                               ? (float)d->levelCompCollected / (float)d->levelCompPickupTotal * length
                               : 0.0f;
            AnimSet_SetTime(meter->set, Math_MoveTowards(AnimSet_GetTime(meter->set), wanted, dt));
            SetHidden(meter->node, false);
        }
    }
    Arrow(d, record, object, frame, rule, dt);
}

void FollowWithCamera(ManCamRelData* d, EntityRecord* record, Node* frame, const Vec3& up, const Vec3& v, float now, float dt)
{
    float offset = 0.0f;
    const float sinceLanding = now - record->landingTime;
    if (record->flags & ENTITY_ON_GROUND) {
        const Vec3 forward = {0, 0, 1};
        Vec3 f = Mode_TurnAboutUp(forward, -ChaseCamera_GetAngleY(d->camera));
        offset = std::acos(Clamp(Vec3_Dot(&f, &up), -1.0f, 1.0f)) - kHalfPi;
    } else if (v.y < 0.0f) {
        float r = Math_MoveTowards(d->downVelRangeForAngleChange, 0.1f,
                                   sinceLanding * d->downVelRangeForAngleChangeReducePerSec);
        if (r > 0.0f) {
            float vy = std::fmax(v.y, -r);
            offset = -(Math_Pow(-vy / r, d->downVelRangePowerVal) * d->downVelRelAngleRange);
        }
    } else {
        float r = Math_MoveTowards(d->upVelRangeForAngleChange, 0.1f,
                                   sinceLanding * d->upVelRangeForAngleChangeReducePerSec);
        if (r > 0.0f) {
            float vy = std::fmin(v.y, r);
            offset = Math_Pow(vy / r, d->upVelRangePowerVal) * d->upVelRelAngleRange;
        }
    }
    if (!std::isfinite(offset)) offset = 0.0f;
    d->camPitchOffset = offset;
    if (!(d->flags & MCR_MANUAL_CAMERA))
        ChaseCamera_SetRotateSpeedX(d->camera, 3.0f * ChaseCamera_GetAngleXError(d->camera, 0));
    ChaseCamera_SetAngleX(d->camera, d->camPitch + offset);
    ChaseCamera_FollowObject(d->camera, Entity_GetAnimObject(record, 0) ? record->animSlots[0].root : nullptr);
    ChaseCamera_Update(d->camera, frame, dt);
}

void ResetCamera(ManCamRelData* d, EntityRecord* record, Node* frame)
{
    const ManCamRelCamMode& mode = d->camModes[d->camMode];
    Vec3 defaults = {0, 0, 0};
    ChaseCamera_GetVector(d->camera, &defaults);
    float heading = 0.0f;
    Math_DirToAngles(nullptr, &heading, &record->startAt);
    Vec3 angles = {mode.xRotation, heading, defaults.z};
    float distance = mode.railDist;
    if (record->animSlotCount) ChaseCamera_FollowObject(d->camera, record->animSlots[0].root);
    ChaseCamera_Reset(d->camera, frame, &angles, &distance);
    Entity_SetAnimRootOrientation(record, 0, &record->startAt, &record->startUp);
    record->flags &= ~ENTITY_ALIVE;
    ChaseCamera_SetSlideMaxDist(d->camera, mode.slideMaxDist);
}

bool BlocksSkid(int32_t anim)
{
    return In(anim, {MCR_CLOSE_ATTACK1, MCR_CLOSE_ATTACK1_FINISH, MCR_CLOSE_ATTACK2, MCR_CLOSE_ATTACK2_FINISH,
                     MCR_CLOSE_ATTACK_IN_AIR, MCR_CLOSE_ATTACK_CHARGE, MCR_CLOSE_ATTACK_CHARGE_RELEASE, MCR_SWIPE1,
                     MCR_SWIPE2, MCR_SWIPE3, MCR_STUNNED, MCR_STUNNED_UPWARDS, MCR_DEAD, MCR_DROWN, MCR_DIE_IN_AIR,
                     MCR_LAND, MCR_FIRE, MCR_SPECIAL_MOVE});
}

void GroundAnimations(ManCamRelData* d, EntityRecord* record, Object* object, float now)
{
    if (In(Mode_Anim(record), {MCR_JUMP, MCR_JUMPIN, MCR_DOUBLEJUMP})) Mode_Play(record, MCR_LAND);
    const int32_t anim = Mode_Anim(record);
    if (Vec3_LengthSq(&d->wantedDir) == 0.0f) {
        Vec3 v = {0, 0, 0};
        PhysBody_GetLinearVelocity(object->body, &v);
        float speed = std::hypot(v.x - d->platformVel.x, v.z - d->platformVel.z);
        float threshold = d->skidVel;
        if (Vec3_LengthSq(&d->platformVel) == 0.0f)
            threshold = d->skidVel * Math_Pow(1.0f - std::fmin(d->slope, kHalfPi) * 2.0f / kPi, d->skidPowerVal);
        if (speed < threshold) d->slowTime = now;
        if (speed >= threshold && now - d->slowTime > 0.2f) {
            if (!BlocksSkid(anim)) {
                Mode_Play(record, MCR_SKID);
                d->flags &= ~MCR_MOVING;
            }
        } else if (!BlocksSkid(anim) && anim != MCR_STAND && !(d->flags & MCR_MOVING) &&
                   !In(anim, {MCR_POSSESS_IN, MCR_POSSESS_OUT, MCR_BUMP})) {
            // Possession and bumps end by their own transitions: standing
            // still must not cut them short (possession could never start).
            Mode_Play(record, MCR_STAND);
        }
    } else {
        if (now - d->highVelTime < d->changeDirTimeAfterHighVel && (d->flags & MCR_VALID_TURN)) {
            Mode_Play(record, MCR_CHANGE_DIRECTION);
            d->flags &= ~MCR_MOVING;
            d->highVelTime = -1.0e9f;
        }
        d->slowTime = now;
    }
}

// Walk, run and push: the animation plays at a speed that follows the
// speed over the ground; the slot is paused and advanced here.
void Locomotion(ManCamRelData* d, EntityRecord* record, Object* object, const Vec3& at, float now, float dt)
{
    // A death (a kill area, a fall) must play out: the moving flag of the
    // frame before must not turn it back into a run.
    if (!(d->flags & MCR_MOVING) || IsDying(Mode_Anim(record))) {
        Entity_SetAnimFlags(record, 0, ANIMSLOT_PAUSED, 0);
        return;
    }
    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    const float s = std::hypot(v.x - d->platformVel.x, v.z - d->platformVel.z);
    float factor = 1.0f;
    bool pushing = false;
    if ((d->flags & MCR_PUSH_ALLOW) && now - d->frontContactTime < 0.1f) {
        const Vec3 origin = Mode_BodyPosition(object);
        PhysRayHit hit;
        if (PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &origin, &at, 2.0f)) {
            d->pushDir = {-hit.normal.x, 0.0f, -hit.normal.z};
            Vec3 a = Mode_Unit(at), b = Mode_Unit(d->pushDir);
            if (Vec3_LengthSq(&b) > 0.0f && std::acos(Clamp(Vec3_Dot(&a, &b), -1.0f, 1.0f)) < kPushAngle) {
                Mode_Play(record, MCR_PUSH);
                factor = Clamp(s * d->pushVelSpeedChange, d->pushMinAnimSpeedChange, d->pushMaxAnimSpeedChange);
                pushing = true;
            }
        }
    }
    if (!pushing) {
        if (s >= d->maxWalkSpeed) {
            Mode_Play(record, MCR_RUN);
            factor = Clamp((s - d->maxWalkSpeed) * d->runVelSpeedChange, d->runMinAnimSpeedChange,
                           d->runMaxAnimSpeedChange);
        } else {
            Mode_Play(record, MCR_WALK);
            factor = Clamp(s * d->walkVelSpeedChange, d->walkMinAnimSpeedChange, d->walkMaxAnimSpeedChange);
        }
    }
    if (s > d->changeDirHighVel) d->highVelTime = now;
    Entity_SetAnimFlags(record, 0, ANIMSLOT_PAUSED, 1);
    if (!(Level_GetEvents() & LEVEL_EVENT_FREEZE))
        AnimSet_Advance(Entity_GetAnimSlotValue(record, 0), dt * factor, ANIMSET_ADVANCE_SCENE);
}

void Lunge(ManCamRelData* d, EntityRecord* record, Object* object, const Vec3& at, float dt)
{
    if (!In(Mode_Anim(record), {MCR_CLOSE_ATTACK1, MCR_CLOSE_ATTACK2, MCR_SWIPE1, MCR_SWIPE2, MCR_SWIPE3,
                                MCR_SPECIAL_MOVE}))
        return;
    const float age = Mode_AnimAge(record);
    if (!(age >= d->closeAttackMoveStartTime && age < d->closeAttackMoveEndTime)) return;
    Vec3 facing = Mode_Unit(Vec3{at.x, 0.0f, at.z});
    if (Vec3_LengthSq(&facing) == 0.0f) return;
    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    Vec3 next = {v.x + facing.x * dt * d->closeAttackForwardVelStep - d->platformVel.x, v.y,
                 v.z + facing.z * dt * d->closeAttackForwardVelStep - d->platformVel.z};
    float length = Mode_Length(next);
    if (length > d->closeAttackMaxSpeed) {
        float k = d->closeAttackMaxSpeed > 0.0f ? d->closeAttackMaxSpeed / length : 0.0f;
        Vec3_Scale(&next, &next, k);
    }
    next.x += d->platformVel.x;
    next.z += d->platformVel.z;
    next.y = v.y;
    if (Mode_IsFinite(next)) PhysBody_SetLinearVelocity(object->body, &next);
}

void DampingAndLag(ManCamRelData* d, EntityRecord* record, Object* object, float now, float dt)
{
    if (d->flags & MCR_FORCED) {
        const Vec3 zero = {0, 0, 0};
        ChaseCamera_SetViewObjLagPosSpeed(d->camera, &zero);
        ChaseCamera_SetViewObjLagNegSpeed(d->camera, &zero);
        d->flags &= ~MCR_FORCED;
        return;
    }
    const ManCamRelCamMode& mode = d->camModes[d->camMode];
    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    Vec3 relative;
    Vec3_Sub(&relative, &v, &d->platformVel);
    Vec3 lag = {0, 0, 0};
    if (!(record->flags & ENTITY_ON_GROUND)) {
        if (now - record->landingTime < d->timeToChangeFromAirLag) {
            lag = mode.viewObjLagSpeedInAir;
        } else {
            ChaseCamera_GetViewObjLagNegSpeed(d->camera, &lag);
            lag.y = Math_MoveTowards(lag.y, mode.viewObjLagSpeedOnGround.y, dt * 15.0f);
        }
        ChaseCamera_SetCamLagPosSpeed(d->camera, &mode.camLagSpeedInAir);
        ChaseCamera_SetCamLagNegSpeed(d->camera, &mode.camLagSpeedInAir);
        Phys_DampVector(&relative, &d->inAirDamping, dt);
    } else {
        ChaseCamera_GetViewObjLagNegSpeed(d->camera, &lag);
        lag.y = Math_MoveTowards(lag.y, mode.viewObjLagSpeedOnGround.y, dt * 15.0f);
        ChaseCamera_SetCamLagPosSpeed(d->camera, &mode.camLagSpeedOnGround);
        ChaseCamera_SetCamLagNegSpeed(d->camera, &mode.camLagSpeedOnGround);
        if (!(d->flags & MCR_NO_INPUT)) {
            Phys_DampVector(&relative, &d->runDamping, dt);
        } else {
            record->flags |= ENTITY_IDLE;
            PhysBody_DampLinearVelocity(object->body, &d->noInputDamping, dt);
            Phys_DampVector(&relative, &d->noInputDamping, dt);
        }
        d->flags &= ~(MCR_JUMPED | MCR_DOUBLE_JUMPED);
    }
    ChaseCamera_SetViewObjLagPosSpeed(d->camera, &lag);
    ChaseCamera_SetViewObjLagNegSpeed(d->camera, &lag);
    Vec3 next;
    Vec3_Add(&next, &relative, &d->platformVel);
    if (Mode_IsFinite(next)) PhysBody_SetLinearVelocity(object->body, &next);
}

void Transitions(ManCamRelData* d, EntityRecord* record)
{
    if (!Mode_AnimFinished(record)) return;
    switch (Mode_Anim(record)) {
    case MCR_LAND:
    case MCR_CLOSE_ATTACK1_FINISH:
    case MCR_CLOSE_ATTACK2_FINISH:
    case MCR_CLOSE_ATTACK_IN_AIR:
    case MCR_POSSESS_OUT:
    case MCR_SPECIAL_MOVE:
    case MCR_BUMP:
        Mode_Play(record, MCR_STAND);
        break;
    case MCR_SWIPE1:
    case MCR_SWIPE2:
    case MCR_SWIPE3:
        if (--d->swipesLeft <= 0) {
            d->swipesLeft = 0;
            d->flags &= ~MCR_SWIPE_ARMED;
        }
        Mode_Play(record, MCR_STAND);
        break;
    case MCR_CLOSE_ATTACK1:
        Mode_Play(record, (d->flags & MCR_ATTACK_QUEUED) ? MCR_CLOSE_ATTACK2 : MCR_CLOSE_ATTACK1_FINISH);
        d->flags &= ~MCR_ATTACK_QUEUED;
        break;
    case MCR_CLOSE_ATTACK2:
        Mode_Play(record, (d->flags & MCR_ATTACK_QUEUED) ? MCR_CLOSE_ATTACK1 : MCR_CLOSE_ATTACK2_FINISH);
        d->flags &= ~MCR_ATTACK_QUEUED;
        break;
    case MCR_JUMPIN:
    case MCR_DOUBLEJUMP:
        Mode_Play(record, MCR_JUMP);
        break;
    default:
        break;
    }
}

void Lives(ManCamRelData* d, EntityRecord* record, Object* object)
{
    if (!IsDying(Mode_Anim(record))) return;
    if (!Mode_AnimFinished(record) && !(d->flags & MCR_KILLED_BY_AREA)) return;
    Mode_Play(record, MCR_STAND);
    if (d->lives <= 0 && record->player) {
        // The last life: the die menu, or the level ends as a quit does.
        ManCamRel_OpenPage("dieMenu", LEVEL_ENDED | LEVEL_QUIT);
        return;
    }
    if (d->lives > 0) d->lives--;
    Entity_Respawn(object, 0);
}

}  // namespace

float ManCamRel_TextScale(float z)
{
    if (z <= 0.0f) return 7.0f;
    if (z <= 8.0f) return (1.0f - z * 0.125f) * 6.0f + 1.0f;
    if (z < 16.0f) return 1.0f - (z - 8.0f) * 0.125f;
    return 0.0f;
}

void ManCamRel_SetMenuCalls(const ManCamRelMenuCalls* calls) { g_menu = calls ? *calls : kDefaultMenu; }

int ManCamRel_OpenPage(const char* page, uint32_t flagsWithoutPage)
{
    if (g_menu.goToByName && g_menu.goToByName(page)) {
        if (g_menu.setOpen) g_menu.setOpen();
        return 1;
    }
    Level_SetFlags(flagsWithoutPage, 1);
    return 0;
}

void ManCamRel_SetEntryText(const char* page, const char* entry, int32_t value)
{
    char text[32];
    snprintf(text, sizeof text, "%d", (int)value);
    if (g_menu.setEntryText) g_menu.setEntryText(page, entry, text);
}

void ManCamRelMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d || !object) return;
    const float dt = Mode_FrameTime();
    const float now = Entity_GetTime(record);
    const uint32_t rule = Level_GetGameRule();
    const bool frozen = (record->flags & ENTITY_FROZEN) != 0;
    const bool onGround = (record->flags & ENTITY_ON_GROUND) != 0;
    if (d->camMode < 0 || d->camMode >= MCR_CAMERA_MODES) d->camMode = 0;
    Node* frame = Mode_CameraFrame(record->player);

    // The game: texts, time, freezes, floating points and completion.
    if (record->player) {
        HudTexts(d, record, rule);
        TimeLimit(d, record, rule);
    }
    Freeze(d, record, frame, now);
    if (!frozen && frame) FloatingTexts(d, record, frame, dt);
    if (record->player) LevelCompletion(d, record, rule);

    // Orientation to the ground.
    d->slope = std::acos(Clamp(d->groundNormal.y, -1.0f, 1.0f));
    if (d->flags & MCR_RESET_NORMAL) d->groundNormal = {0, 1, 0};
    Vec3 at, up;
    Mode_Facing(object, record, &at, &up);
    if (d->flags & MCR_ORIENT_TO_GROUND) {
        if (Vec3_Dot(&up, &d->groundNormal) > d->cosColOrientMaxUpwardChange || up.y < d->groundNormal.y) {
            Vec3 next;
            Vec3_MoveTowards(&next, &up, &d->groundNormal, dt * d->colOrientSpeed);
            next = Mode_Unit(next);
            if (Vec3_LengthSq(&next) > 0.0f) {
                up = next;
                Mode_SquareFacing(&at, &up);
            }
        }
        Entity_SetAnimRootOrientation(record, 0, &at, &up);
        d->bestUp = -1.0f;
        d->groundNormal = {0, 1, 0};
        if (PhysBody_GetSpeed(object->body) < d->colOrientMinVel)
            d->flags |= MCR_RESET_NORMAL;
        else
            d->flags &= ~MCR_RESET_NORMAL;
    }

    TargetList(d, record, object, at, now);
    ReleaseFinishedShots(d, record, object);
    PlayerHud(d, record, object, frame, rule, dt);

    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    if (record->player && frame && !frozen && !(record->flags & ENTITY_RESPAWNED)) FollowWithCamera(d, record, frame, up, v, now, dt);
    if (record->flags & ENTITY_ALIVE) ResetCamera(d, record, frame);
    Mode_Facing(object, record, &at, &up);

    if (d->yVelChangePerSec != 0.0f) {
        PhysBody_GetLinearVelocity(object->body, &v);
        v.y += dt * d->yVelChangePerSec;
        PhysBody_SetLinearVelocity(object->body, &v);
    }

    if (now - d->dirCheckTime >= d->changeDirCheckIntervalTime) {
        if (std::fabs(Angle_Diff(d->checkedHeading, d->wantedHeading, 1, 1)) > d->changeDirValidTurnMade)
            d->flags |= MCR_VALID_TURN;
        else
            d->flags &= ~MCR_VALID_TURN;
        d->checkedHeading = d->wantedHeading;
        d->dirCheckTime = now;
    }

    Entity_SetFlags(record, ENTITY_NO_QUERY, IsDying(Mode_Anim(record)));

    if (onGround) GroundAnimations(d, record, object, now);

    // Stun blink.
    const int32_t anim = Mode_Anim(record);
    if (now < d->stunStart + d->stunDuration && anim != MCR_STUNNED && anim != MCR_STUNNED_UPWARDS)
        ShowSlotRoot(record, 0, ((int32_t)((now - d->stunStart) * 20.0f)) % 2 != 0);
    else
        ShowSlotRoot(record, 0, true);

    Locomotion(d, record, object, at, now, dt);
    Lunge(d, record, object, at, dt);
    DampingAndLag(d, record, object, now, dt);

    // Death by falling: timed from the last moment the fall was slow enough.
    PhysBody_GetLinearVelocity(object->body, &v);
    if (!onGround && !(record->flags & ENTITY_TOUCHED)) {
        if (v.y >= d->dieInAirVel) d->fallTime = now;
        if (now - d->fallTime > d->dieInAirTime && Entity_GetHealth(record) > 0.0f) Entity_SetHealth(record, 0.0f, 0.0f);
    } else {
        d->fallTime = now;
    }

    Transitions(d, record);

    if (Entity_GetHealth(record) <= 0.0f && Mode_Anim(record) != MCR_DEAD && Mode_Anim(record) != MCR_DROWN) {
        if (record->waterDepth <= d->waterDamageHeight)
            Mode_Play(record, (!onGround || (d->flags & MCR_KILLED_BY_AREA)) ? MCR_DIE_IN_AIR : MCR_DEAD);
        else
            Mode_Play(record, MCR_DROWN);
    }

    if (Mode_Anim(record) == MCR_STUNNED || Mode_Anim(record) == MCR_STUNNED_UPWARDS) {
        PhysBody_SetFriction(object->body, 0.0f);
        d->flags |= MCR_FORCED;
        if (Mode_AnimFinished(record)) Mode_Play(record, MCR_STAND);
    }

    Lives(d, record, object);

    if (!onGround && now - record->landingTime > 0.25f &&
        In(Mode_Anim(record), {MCR_STAND, MCR_WALK, MCR_RUN, MCR_PUSH, MCR_WADING, MCR_WALK_BACK,
                               MCR_CHANGE_DIRECTION, MCR_SKID}))
        Mode_Play(record, MCR_JUMP);

    if (Mode_AnimFinished(record)) {
        if (Mode_Anim(record) == MCR_POSSESS_IN) {
            Mode_Play(record, MCR_POSSESS_OUT);
            Entity_TakeOver(object, record->takeOverTarget);
        } else if (Mode_Anim(record) == MCR_FIRE) {
            Mode_Play(record, MCR_STAND);
        }
    }

    if (Vec3_LengthSq(&d->forcedVel) > 0.0f) {
        PhysBody_SetLinearVelocity(object->body, &d->forcedVel);
        PhysBody_SetFriction(object->body, 0.0f);
        d->flags |= MCR_FORCED;
        if (now - d->forcedVelTime >= kForcedDuration) d->forcedVel = {0, 0, 0};
        record->flags &= ~ENTITY_IDLE;
    }

    d->wantedDir = {0, 0, 0};
    d->flags &= ~(MCR_MOVING | MCR_MANUAL_CAMERA);
    record->flags &= ~ENTITY_IDLE;
}
