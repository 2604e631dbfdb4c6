// The BroomStick mode's rules slot: the run around the flight. Each frame,
// in this order: HUD texts; the time limit of the timed rules with the
// in-game menu's pages; the stop (a frozen broom keeps its camera and stands
// still); the score pop-ups flying into the score counter; the end-area
// sequence that ends the run, with best scores and unlocks; the lock-on
// scan (one line-of-sight ray per frame); held shots; the lock-on
// indicator and the HUD gauges and arrow; the camera; the stun blink and
// pose; and the flight step.
//
// The end area: the level's one "ENDAREA" object, whose last four
// animations are waiting (N - 4), triggered (N - 3), looping until the end
// (N - 2) and finished (N - 1). Completion pickups step it from animation 0
// two by two; when the rule's condition holds it is triggered and the
// "ENDAREATRIGGER" objects are activated; a kind-6 pickup among them plays
// the last animation, and when that has finished the run ends.
//
// Lost runs record nothing: a missing "timeOver" page ends the level with
// the quit flag as well.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/view.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/man_camrel.h"
#include "game/modes/vehicle_common.h"
#include "game/viewports.h"

namespace {

constexpr float kPopupDepth = 8.0f;
constexpr float kLockTime = 5.0f;
constexpr float kArrowPitchMin = 0.69813174f, kArrowPitchMax = 2.443461f;

enum : uint32_t {
    HUD_TEXT_WEAPON = 0,
    HUD_TEXT_SCORE = 2,
    HUD_TEXT_COUNT = 3,
    HUD_TEXT_TOTAL = 4,
    HUD_TEXT_LIVES = 5,
    HUD_TEXT_TIME = 6,
    HUD_TEXT_SPECIAL = 7,
};
enum : uint32_t {
    HUD_ANIM_HEALTH = 0,
    HUD_ANIM_COMPLETION = 1,
    HUD_ANIM_ARROW = 2,
    HUD_ANIM_WEAPON = 3,
    HUD_ANIM_SPECIAL = 4,
    HUD_ANIM_SPEED = 5,
};

BroomStickData* DataOf(EntityRecord* record)
{
    return record && record->mode == MODE_BROOMSTICK ? (BroomStickData*)record->modeData : nullptr;
}

void ShowNumber(EntityRecord* record, uint32_t slot, const char* format, int32_t value)
{
    char text[32];
    snprintf(text, sizeof text, format, value);
    Entity_ShowTextString(record, slot, text);
}

int PlayerIndex(const EntityRecord* record) { return (int)record->player - 1; }

void HudTexts(EntityRecord* record, BroomStickData* data, uint32_t rule)
{
    ShowNumber(record, HUD_TEXT_SCORE, "%d", data->score);
    if (rule == RULE_SCORE_PICKUPS) {
        ShowNumber(record, HUD_TEXT_COUNT, "%d", data->scoreCollected);
        ShowNumber(record, HUD_TEXT_TOTAL, "%d",
                   Math_TruncToInt((float)data->scorePresent * data->scoreFractionRequired));
    } else if (rule == RULE_HIDDEN_PICKUPS) {
        ShowNumber(record, HUD_TEXT_COUNT, "%d", data->hiddenCollected);
        ShowNumber(record, HUD_TEXT_TOTAL, "%d", data->hiddenPresent);
    } else if (rule == RULE_NORMAL) {
        Entity_ShowTextString(record, HUD_TEXT_COUNT, "-");
        Entity_ShowTextString(record, HUD_TEXT_TOTAL, "-");
    } else {
        Entity_ShowTextString(record, HUD_TEXT_COUNT, "");
        Entity_ShowTextString(record, HUD_TEXT_TOTAL, "");
    }
    ShowNumber(record, HUD_TEXT_LIVES, "X%d", data->lives);
}

void TimeLimit(EntityRecord* record, BroomStickData* data, uint32_t rule)
{
    if (rule != RULE_COUNTDOWN && rule != RULE_COUNTDOWN_MUST_COMPLETE && rule != RULE_BEATTIME) return;
    float left = Level_GetTimeAllowance() - Level_GetClock2();
    if (!(left > 0.0f)) left = 0.0f;
    ShowNumber(record, HUD_TEXT_TIME, "%d", Math_TruncToInt(left));
    // Every frame the time stays up: a page closed without a restart comes
    // back, so the run cannot go on without time.
    if (left != 0.0f) return;
    const int32_t entry = Level_GetLevelToUnlock();
    // The in-game menu's pages go through the walking modes' page opener,
    // which sets the level flags given when the page (or the menu) is missing.
    if (rule == RULE_COUNTDOWN) {
        // The run ended normally: without the page the level ends as won.
        const int32_t best = Progress_GetPlayerValue(PlayerIndex(record), entry);
        if (data->score > best || best == 0) {
            Progress_SetPlayerValue(PlayerIndex(record), entry, data->score);
            ManCamRel_SetEntryText("newBestScore", "bestscore", data->score);
            ManCamRel_OpenPage("newBestScore", LEVEL_ENDED);
        } else {
            ManCamRel_SetEntryText("notBeatenTopScore", "bestscore", best);
            ManCamRel_SetEntryText("notBeatenTopScore", "attemptscore", data->score);
            ManCamRel_OpenPage("notBeatenTopScore", LEVEL_ENDED);
        }
    } else {
        // A lost run: the level ends without progress.
        ManCamRel_OpenPage("timeOver", LEVEL_ENDED | LEVEL_QUIT);
    }
}

// Screen-text slot of pop-up i: after the entity's HUD lines; 20 or more is not drawn.
int PopupSlot(const EntityRecord* record, uint32_t i) { return (int)(record->hudTextCount + i); }

// Draws pop-up i at (x, *y); with `shown` (count slots) it moves along y
// clear of their texts, *y following.
void PopupText(EntityRecord* record, uint32_t i, const char* text, float x, float* y, float scale,
               const int* shown = nullptr, int count = 0)
{
    int viewport = 0, slot = PopupSlot(record, i);
    if (slot >= LEVEL_SCREEN_TEXTS || !Player_GetViewportIndex(PlayerIndex(record), &viewport)) return;
    const EntityHudTextSlot* hud = Entity_GetHudSlot(record, HUD_TEXT_SCORE);
    if (!hud) return;
    const Vec2 position = {x, *y};
    Level_AddScreenText(hud->font, viewport, slot, text, &position, hud->scale * scale, &hud->colour, 0);
    if (shown) Level_ScreenTextClearance(viewport, slot, shown, count, y);
}

void HidePopup(EntityRecord* record, uint32_t i)
{
    float y = 0.0f;
    PopupText(record, i, "", 0.0f, &y, 1.0f);
}

// The score counter on the 640 x 480 screen of the player's own view, the
// frame the pop-ups fly and are drawn in (a split screen's view maps it
// into its part of the screen once, when the text is drawn).
int PopupTarget(EntityRecord* record, float* x, float* y)
{
    const EntityHudTextSlot* hud = Entity_GetHudSlot(record, HUD_TEXT_SCORE);
    int viewport = 0;
    if (!hud || !Player_GetViewportIndex(PlayerIndex(record), &viewport)) return 0;
    *x = hud->position[0] * 640.0f;
    *y = hud->position[1] * 480.0f;
    return 1;
}

float ApproachAxis(float position, float target, float velocity, float dt)
{
    if (target > position) velocity += dt * (velocity < 0.0f ? 150.0f : 75.0f);
    else velocity -= dt * 75.0f;
    return velocity < -20.0f ? -20.0f : (velocity > 20.0f ? 20.0f : velocity);
}

void UpdatePopups(EntityRecord* record, BroomStickData* data, float dt)
{
    float tx = 0.0f, ty = 0.0f;
    const bool haveTarget = PopupTarget(record, &tx, &ty) != 0;
    View* view = Vehicle_WorldView(record);
    Node* camera = Vehicle_CameraFrame(record);
    // The pop-ups in the order they were opened: each keeps clear of those opened before it.
    int order[BROOM_POPUPS], shown[BROOM_POPUPS], n = 0, count = 0;
    for (uint32_t i = 0; i < BROOM_POPUPS; ++i) {
        if (!(data->popups[i].flags & BROOM_POPUP_ACTIVE)) {
            HidePopup(record, i);
            continue;
        }
        int k = n++;
        for (; k > 0 && (int32_t)(data->popups[order[k - 1]].serial - data->popups[i].serial) > 0; --k)
            order[k] = order[k - 1];
        order[k] = (int)i;
    }
    for (int k = 0; k < n; ++k) {
        const uint32_t i = (uint32_t)order[k];
        BroomPopup& p = data->popups[i];
        if (p.flags & BROOM_POPUP_PROJECT) {
            if (view && camera) {
                Vec3 screen;
                View_ProjectPoint(view, camera, ObjectWorld_GetRootNode(), &screen, &p.world);
                p.x = screen.x;
                p.y = screen.y;
                p.depth = screen.z;
            }
            p.flags &= ~BROOM_POPUP_PROJECT;
        }
        p.depth = Math_MoveTowards(p.depth, kPopupDepth, dt * 4.0f);
        if (haveTarget) {
            p.vx = ApproachAxis(p.x, tx, p.vx, dt);
            p.vy = ApproachAxis(p.y, ty, p.vy, dt);
        }
        p.x += p.vx;
        p.y += p.vy;
        float scale = 0.0f;
        if (p.depth < kPopupDepth) scale = (1.0f - p.depth / kPopupDepth) * 6.0f + 1.0f;
        else if (p.depth < 2.0f * kPopupDepth) scale = 1.0f - (p.depth - kPopupDepth) / kPopupDepth;
        float y = p.y / 480.0f;
        PopupText(record, i, p.text, p.x / 640.0f, &y, scale, shown, count);
        p.y = y * 480.0f;
        shown[count++] = PopupSlot(record, i);
        const float dx = p.x - tx, dy = p.y - ty;
        if (!haveTarget || dx * dx + dy * dy < 400.0f) {
            p.flags = 0;
            data->score = Math_AddClamped(data->score, p.value);
        }
    }
}

void StopHandling(Object* object, EntityRecord* record, BroomStickData* data, float dt)
{
    Node* camera = Vehicle_CameraFrame(record);
    if (record->flags & ENTITY_FROZEN) {
        data->stopTime = record->clock;
        Vehicle_PlayAnim(record, BROOM_ANIM_FLY, 0);
        if (AnimSet* set = Entity_GetAnimSlotValue(record, 0)) {
            const int blending = AnimSet_GetModuleFlag();
            AnimSet_SetModuleFlag(0);
            AnimSet_SetTime(set, 0.0f);
            AnimSet_SetModuleFlag(blending);
        }
        data->flags |= BROOM_RESTORE_CAMERA;
        for (uint32_t i = 0; i < BROOM_POPUPS; ++i) HidePopup(record, i);
        return;
    }
    if (camera) {
        if (data->flags & BROOM_RESTORE_CAMERA) {
            Node_SetWorldPosition(camera, &data->savedCameraPosition);
            Node_SetWorldOrientation(camera, &data->savedCameraAt, &data->savedCameraUp);
        }
        Node_GetWorldPosition(camera, &data->savedCameraPosition);
        Node_GetWorldOrientation(camera, &data->savedCameraAt, &data->savedCameraUp);
    }
    data->flags &= ~BROOM_RESTORE_CAMERA;
    if (record->player) UpdatePopups(record, data, dt);
    (void)object;
}

void EndArea(EntityRecord* record, BroomStickData* data, uint32_t rule)
{
    Object* area = data->endArea;
    if (!area) return;
    const int32_t n = (int32_t)HitModeObject_GetAnimCount(area);
    if (n < 4) return;
    int32_t i = HitModeObject_GetAnimIndex(area);
    bool complete = false;
    if (rule == RULE_NORMAL || rule == RULE_SCORE_PICKUPS || rule == RULE_BEATTIME) {
        complete = data->compCollected >= data->levelCompPickupTotal && i == n - 4 &&
                   (rule != RULE_SCORE_PICKUPS || (data->flags & BROOM_REQUIREMENT));
    } else if (rule == RULE_HIDDEN_PICKUPS) {
        if (i == 0) {
            HitModeObject_PlayIndex(area, n - 4, 1, record->player);
            i = n - 4;
        }
        complete = i == n - 4 && (data->flags & BROOM_REQUIREMENT);
    }
    if (complete) {
        HitModeObject_PlayIndex(area, n - 3, 1, record->player);
        HitModeObject_ChooseNext(area, n - 2);
        ObjectEvent_Queue(data->endTriggerHash, OBJECT_EVENT_ACTIVATE, 1, record->player);
        return;
    }
    if (i != n - 1) return;
    // The last animation: pop-ups still flying count now, once.
    for (BroomPopup& p : data->popups) {
        if (!(p.flags & BROOM_POPUP_ACTIVE)) continue;
        data->score = Math_AddClamped(data->score, p.value);
        p.flags = 0;
    }
    if (!HitModeObject_TestState(area, HITSTATE_FINISHED) || (data->runState & BROOM_RUN_COMPLETE)) return;
    data->runState |= BROOM_RUN_COMPLETE;
    const int32_t entry = Level_GetLevelToUnlock();
    int opened = 0;
    if (rule == RULE_SCORE_PICKUPS && !Progress_TestFlags(entry, 4)) {
        Progress_SetFlags(entry, 4, 1);
        opened = ManCamRel_OpenPage("unlockedTimeAttack", 0);
    } else if (rule == RULE_BEATTIME && !Progress_TestFlags(entry, 8)) {
        Progress_SetFlags(entry, 8, 1);
        opened = ManCamRel_OpenPage("unlockedHiddenPickups", 0);
    }
    if (record->player && data->score > Progress_GetPlayerValue(PlayerIndex(record), entry))
        Progress_SetPlayerValue(PlayerIndex(record), entry, data->score);
    if (!opened) Level_SetFlags(LEVEL_ENDED, 1);
}

int InTable(const BroomTarget* table, const Object* object, float* distanceSq, uint32_t* visible)
{
    for (uint32_t i = 0; i < BROOM_TARGETS; ++i) {
        if (table[i].object != object) continue;
        *distanceSq = table[i].distanceSq;
        *visible = table[i].visible;
        return 1;
    }
    return 0;
}

void LockOn(Object* object, EntityRecord* record, BroomStickData* data)
{
    Weapon* weapon = ProjType_GetCurrentWeapon(&data->weapons, nullptr);
    if (!weapon || (weapon->mode != PROJMODE_STRAIGHT && weapon->mode != PROJMODE_HOMING)) {
        data->target = nullptr;
        return;
    }
    const Vec3 position = Vehicle_BodyPosition(object);
    if (data->scanIndex == 0) {
        Vec3 at, up;
        BroomStick_Frame(data, &at, &up);
        EntityQuery query{};
        query.self = object;
        query.mode = ENTITY_QUERY_ANY_MODE;
        query.bits = ENTITY_QUERY_PITCH_ARC | ENTITY_QUERY_HEADING_ARC;
        if (data->flags & BROOM_ATTACK_TYPES) query.bits |= ENTITY_QUERY_SHARED_TYPE;
        query.typeMask = data->attackMask;
        query.maxDistance = data->targetViewRadius;
        query.pitch = Vec3_Pitch(&at);
        query.pitchArc = data->targetViewAngle[0];
        query.heading = Vec3_Heading(&at);
        query.headingArc = data->targetViewAngle[1];
        EntityQueryHit hits[BROOM_TARGETS];
        int count = Entity_Query(&query, hits, (int)BROOM_TARGETS);
        memset(data->pending, 0, sizeof data->pending);
        for (int i = 0; i < count; ++i) data->pending[i] = BroomTarget{hits[i].object, hits[i].distanceSq, 0};
    }
    // One line of sight per frame. The ray ends at the candidate's centre,
    // so it meets the candidate's own surface: only something else in the
    // way blocks the view.
    if (data->scanIndex < BROOM_TARGETS) {
        BroomTarget& candidate = data->pending[data->scanIndex];
        if (candidate.object) {
            Vec3 to = Vehicle_BodyPosition(candidate.object);
            PhysRayResult hit{};
            PhysWorld_CastRayHit(ObjectWorld_GetPhysicsWorld(), &position, &to, &hit);
            candidate.visible = (!hit.hit || hit.object == candidate.object) ? 1u : 0u;
            data->scanIndex++;
        }
        if (data->scanIndex >= BROOM_TARGETS || !data->pending[data->scanIndex].object) data->scanIndex = BROOM_TARGETS;
    }
    if (data->scanIndex >= BROOM_TARGETS) {
        memcpy(data->live, data->pending, sizeof data->live);
        data->scanIndex = 0;
        if (data->target) {
            uint32_t visible = 0;
            if (!InTable(data->live, data->target, &data->targetDistanceSq, &visible)) {
                data->target = nullptr;
            } else {
                if (visible) data->flags &= ~BROOM_LOCK_TIMER;
                if (!(data->flags & BROOM_LOCK_TIMER)) {
                    data->flags |= BROOM_LOCK_TIMER;
                    data->lockExpiry = record->clock + kLockTime;
                }
            }
        }
    }
    if (data->target && (data->flags & BROOM_LOCK_TIMER) && record->clock > data->lockExpiry) data->target = nullptr;
    if (data->target) {
        EntityRecord* t = Entity_GetRecord(data->target);
        // A Skitter in its animation 10 is no target.
        if (t && t->mode == MODE_SKITTER && Vehicle_CurrentAnim(t, 0) == 10) data->target = nullptr;
    }
    if (!data->target) {
        for (const BroomTarget& t : data->live) {
            if (!t.object || !t.visible) continue;
            data->target = t.object;
            data->targetDistanceSq = t.distanceSq;
            data->flags &= ~BROOM_LOCK_TIMER;
            break;
        }
    }
}

void HeldShots(Object* object, EntityRecord* record, BroomStickData* data)
{
    for (uint32_t s = 0; s < record->animSlotCount; ++s) {
        if (Vehicle_AnimPlaying(record, s)) continue;
        AnimSet* set = record->animSlots[s].set;
        for (BroomHeld& h : data->held) {
            if (!h.projectile || h.set != set) continue;
            Projectile_Release(h.projectile, object);
            h = BroomHeld{};
        }
    }
}

void LockIndicator(EntityRecord* record, BroomStickData* data)
{
    Node* indicator = Entity_GetAnimObject(record, 1);
    if (!indicator) return;
    if (!record->player || !data->target) {
        Node_SetFlags(indicator, NODE_HIDDEN, 1);
        return;
    }
    Vec3 at = Vehicle_BodyPosition(data->target);
    Node_SetWorldPosition(indicator, &at);
    Node_SetFlags(indicator, NODE_HIDDEN, 0);
}

void SetGauge(EntityHudAnimSlot* slot, float fraction)
{
    if (!slot || !slot->set) return;
    fraction = fraction < 0.0f ? 0.0f : (fraction > 1.0f ? 1.0f : fraction);
    AnimSet_SetTime(slot->set, fraction * AnimSet_GetLength(slot->set));
}

void Arrow(Object* object, EntityRecord* record, BroomStickData* data, uint32_t rule, float dt)
{
    EntityHudAnimSlot* arrow = Entity_GetHudAnimSlot(record, HUD_ANIM_ARROW);
    if (!arrow || !arrow->node) return;
    const Vec3 position = Vehicle_BodyPosition(object);
    Object* goal = nullptr;
    if (rule == RULE_NORMAL || rule == RULE_SCORE_PICKUPS || rule == RULE_BEATTIME) {
        float best = 1e9f;
        for (uint32_t i = 0; i < data->compPickupCount; ++i) {
            Object* pickup = data->compPickups[i];
            if (HitModeObject_GetAnimIndex(pickup) != 0) continue;
            Vec3 at = Vehicle_BodyPosition(pickup);
            if (pickup->node) Node_GetWorldPosition(pickup->node, &at);
            float d = Vec3_DistanceSq(&at, &position);
            if (d < best) best = d, goal = pickup;
        }
        if (!goal) goal = data->endArea;
    }
    Node* camera = Vehicle_CameraFrame(record);
    if (!goal || !camera) {
        Node_SetFlags(arrow->node, NODE_HIDDEN, 1);
        return;
    }
    Node_SetFlags(arrow->node, NODE_HIDDEN, 0);
    Vec3 goalAt = Vehicle_BodyPosition(goal), direction, cameraAt, cameraUp;
    if (goal->node) Node_GetWorldPosition(goal->node, &goalAt);
    Vec3_Sub(&direction, &goalAt, &position);
    Vec3_Normalise(&direction);
    Node_GetWorldOrientation(camera, &cameraAt, &cameraUp);
    float pitch = Vec3_Pitch(&direction);
    pitch = pitch < kArrowPitchMin ? kArrowPitchMin : (pitch > kArrowPitchMax ? kArrowPitchMax : pitch);
    const float relPitch = Angle_Diff(Vec3_Pitch(&cameraAt), pitch, 1, 1);
    const float relYaw = Angle_Diff(Vec3_Heading(&cameraAt), Vec3_Heading(&direction), 1, 1);
    data->arrowPitch = Math_MoveTowards(data->arrowPitch, relPitch, dt * data->levelCompArrowSpeed[0]);
    data->arrowYaw = Math_MoveTowards(data->arrowYaw, relYaw, dt * data->levelCompArrowSpeed[1]);
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Vec3 at = {0.0f, 0.0f, 1.0f}, right;
    Vec3_RotateAxis(&at, &at, &up, -data->arrowYaw);
    Vec3_Cross(&right, &up, &at);
    Vec3_RotateAxis(&at, &at, &right, -data->arrowPitch);
    Vec3 arrowUp;
    Vec3_Cross(&arrowUp, &at, &right);
    Node_SetOrientation(arrow->node, &at, &arrowUp);
}

void HudAnimations(Object* object, EntityRecord* record, BroomStickData* data, uint32_t rule, float dt)
{
    int32_t weaponIndex = -1;
    Weapon* weapon = ProjType_GetCurrentWeapon(&data->weapons, &weaponIndex);
    if (weapon && (weapon->flags & WEAPON_LIMITED)) ShowNumber(record, HUD_TEXT_WEAPON, "%d", weapon->ammo);
    if (EntityHudAnimSlot* icon = Entity_GetHudAnimSlot(record, HUD_ANIM_WEAPON); icon && icon->set) {
        AnimSet_PlayIndexFromStart(icon->set, ProjType_GetIconIndex(&data->weapons));
        AnimSet_Advance(icon->set, dt, ANIMSET_ADVANCE_SCENE);
    }
    SetGauge(Entity_GetHudAnimSlot(record, HUD_ANIM_HEALTH),
             data->totalHealth != 0.0f ? Entity_GetHealth(record) / data->totalHealth : 0.0f);
    const int32_t special = ProjType_GetAmmo(&data->weapons, data->specialMoveProjectileNum);
    if (EntityHudAnimSlot* icon = Entity_GetHudAnimSlot(record, HUD_ANIM_SPECIAL); icon && icon->set)
        AnimSet_PlayIndex(icon->set, special > 0 ? 1 : 0);
    if (special > 0) ShowNumber(record, HUD_TEXT_SPECIAL, "%d", special);
    else Entity_ShowTextString(record, HUD_TEXT_SPECIAL, "");
    if (EntityHudAnimSlot* gauge = Entity_GetHudAnimSlot(record, HUD_ANIM_COMPLETION); gauge && gauge->node) {
        const bool hidden = rule == RULE_COUNTDOWN || rule == RULE_COUNTDOWN_MUST_COMPLETE;
        Node_SetFlags(gauge->node, NODE_HIDDEN, hidden);
        if (!hidden && gauge->set) {
            const float length = AnimSet_GetLength(gauge->set);
            const float wanted = data->levelCompPickupTotal > 0
                                     ? (float)data->compCollected / (float)data->levelCompPickupTotal * length
                                     : 0.0f;
            AnimSet_SetTime(gauge->set, Math_MoveTowards(AnimSet_GetTime(gauge->set), wanted, dt));
        }
    }
    Arrow(object, record, data, rule, dt);
    if (data->speedMax != 0.0f) SetGauge(Entity_GetHudAnimSlot(record, HUD_ANIM_SPEED), data->speed / data->speedMax);
}

void SteerCamera(EntityRecord* record, BroomStickData* data, float dt)
{
    ChaseCamera* cam = data->camera;
    const BroomCamPreset& preset = data->presets[data->camPreset & 3];
    Node* cameraFrame = Vehicle_CameraFrame(record);
    Node* rider = Entity_GetAnimObject(record, 0);
    if (record->flags & ENTITY_ALIVE) {
        // After a restart: behind the respawn place, the broom's angles from it.
        Vec3 angles = {0.0f, 0.0f, 0.0f};
        Math_DirToAngles(&angles.x, &angles.y, &record->startAt);
        angles.x -= preset.xRotation;
        float distance = preset.railDist;
        ChaseCamera_FollowObject(cam, rider);
        ChaseCamera_Reset(cam, cameraFrame, &angles, &distance);
        if (rider) Node_SetWorldOrientation(rider, &record->startAt, &record->startUp);
        data->pitch = Vec3_Pitch(&record->startUp);
        data->yaw = Vec3_Heading(&record->startAt);
        data->roll = Angle_Diff(0.0f, Vec3_RotatedHeading(-data->yaw, &record->startUp), 1, 1);
        Entity_SetFlags(record, ENTITY_ALIVE, 0);
        ChaseCamera_SetSlideMaxDist(cam, preset.slideMaxDist);
    }
    Vec3 speeds = {0.0f, 0.0f, 0.0f};
    ChaseCamera_GetRotationSpeeds(cam, &speeds);
    ChaseCamera_SetRotateSpeedX(cam, speeds.x);
    ChaseCamera_SetRotateSpeedY(cam, ChaseCamera_GetAngleYError(cam, 0) * data->rotateDistRelYCamSpeed);
    Vec3 at, up;
    BroomStick_Frame(data, &at, &up);
    float x = 0.0f, y = 0.0f;
    Math_DirToAngles(&x, &y, &at);
    // The preset's X rotation stays an offset of the pitch target, as the
    // skating modes keep theirs: set once, the next frame's target would
    // undo it and the presets would differ only in distance and lag.
    ChaseCamera_SetAngleX(cam, x - preset.xRotation);
    ChaseCamera_SetAngleY(cam, y);
    if (cameraFrame && !(record->flags & (ENTITY_FROZEN | ENTITY_RESPAWNED))) {
        ChaseCamera_FollowObject(cam, rider);
        ChaseCamera_Update(cam, cameraFrame, dt);
    }
}

void StunBlinkAndPose(EntityRecord* record, BroomStickData* data)
{
    Node* rider = Entity_GetAnimObject(record, 0);
    const float since = record->clock - data->lastStunTime;
    if (rider) {
        if (since < data->stunDuration && Vehicle_CurrentAnim(record, 0) != BROOM_ANIM_STUNNED) {
            const bool hide = Math_TruncToInt(since * 20.0f) % 2 == 0;
            Node_SetFlags(rider, NODE_HIDDEN, hide);
            data->runState = hide ? (data->runState | BROOM_STUN_HIDDEN) : (data->runState & ~BROOM_STUN_HIDDEN);
        } else if (data->runState & BROOM_STUN_HIDDEN) {
            // The blink is over: the rider is shown again whatever phase it ended in.
            Node_SetFlags(rider, NODE_HIDDEN, 0);
            data->runState &= ~BROOM_STUN_HIDDEN;
        }
    }
    const int32_t current = Vehicle_CurrentAnim(record, 0);
    AnimSet* set = Entity_GetAnimSlotValue(record, 0);
    if (current == BROOM_ANIM_FLY && set) AnimSet_SetTime(set, AnimSet_GetLength(set) * 0.5f);
    else if (current == BROOM_ANIM_FIRE && !Vehicle_AnimPlaying(record, 0)) Vehicle_PlayAnim(record, BROOM_ANIM_FLY, 0);
}

}  // namespace

void BroomStickMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    BroomStickData* data = DataOf(record);
    if (!data || !object->body) return;
    const float dt = Game_GetFrameTime();
    const uint32_t rule = Level_GetGameRule();
    if (record->player) {
        HudTexts(record, data, rule);
        TimeLimit(record, data, rule);
    }
    StopHandling(object, record, data, dt);
    EndArea(record, data, rule);
    LockOn(object, record, data);
    HeldShots(object, record, data);
    LockIndicator(record, data);
    if (record->player) HudAnimations(object, record, data, rule, dt);
    SteerCamera(record, data, dt);
    StunBlinkAndPose(record, data);
    BroomStick_Fly(object, record, data, dt);
}
