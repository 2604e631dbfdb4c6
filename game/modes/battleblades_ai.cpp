// The computer tops of the BattleBlades mode: the route slot writes a stick
// direction (a world direction, which the movement step pushes along
// unchanged) toward the nearest target in sight, asks for the element that
// beats it, and falls back on the AI route without one.
//
// Element changes wait aiReactionTime from the moment a target comes into
// sight and from each request, so a top that keeps its target in view
// changes element once the reaction time has passed, not never (stamped on
// every frame the target is seen, the wait could not end while it stays in
// view).
#include <cmath>

#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/ai_route.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/modes/battleblades_mode.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kVisionSlack = 1.1f;  // the search reaches 10% beyond the vision radius
constexpr float kLeadLimit = 1.5707964f;
const Vec3 kWorldUp = {0.0f, 1.0f, 0.0f};

float Clamp1(float v) { return v >= 1.0f ? 1.0f : (v <= -1.0f ? -1.0f : v); }

// The element the top asks for against a target of element `theirs`.
void ChooseElement(EntityRecord* record, BattleBladesData* data, int32_t theirs)
{
    const float r = (float)(Game_Rand() % 1000) * 0.001f;
    const int32_t winning = BattleBlades_Beats(theirs);
    int32_t wanted = -1;
    if (r >= data->aiDifficultyLevel) wanted = Game_Rand() % BLADE_ELEMENTS;
    else if (data->blades[winning] != 0) wanted = winning;
    else if (theirs >= 0 && theirs < BLADE_ELEMENTS && data->blades[theirs] != 0) wanted = theirs;
    data->aiChangeTime = record->clock;
    if (wanted >= 0) BattleBlades_RequestElement(record, wanted);
}

}  // namespace

void BattleBladesMode_RouteUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    BattleBladesData* data = BattleBlades_GetData(object);
    if (!data || !object->body) return;
    const float dt = Game_GetFrameTime();
    const Vec3 position = Vehicle_BodyPosition(object);

    EntityQuery query{};
    query.self = object;
    query.mode = ENTITY_QUERY_ANY_MODE;
    if (data->aiFlags & BLADES_ATTACK_MASK) query.bits |= ENTITY_QUERY_SHARED_TYPE;
    if (data->aiFlags & BLADES_ATTACK_ONLY_PLAYER) query.bits |= ENTITY_QUERY_PLAYERS;
    query.typeMask = data->attackMask;
    query.maxDistance = kVisionSlack * data->aiVisionRadius;
    float distance = 0.0f;
    Object* target = data->aiVisionRadius > 0.0f ? Entity_QueryNearest(&query, &distance) : nullptr;
    if (!target || distance >= data->aiVisionRadius) {
        Vec3 steering = {0.0f, 0.0f, 0.0f};
        Route_Update(&steering, &data->route, &position, nullptr, nullptr, nullptr);
        input->stickX = Clamp1(steering.x);
        input->stickY = Clamp1(steering.z);
        data->aiSawTarget = 0;
        return;
    }

    // The element: against a loss or a draw, once the reaction time has passed.
    if (const BattleBladesData* theirs = BattleBlades_GetData(target)) {
        const int32_t m = BattleBlades_Matchup(data->element, theirs->element);
        if (m != MATCHUP_WIN && record->clock - data->aiChangeTime > data->aiReactionTime)
            ChooseElement(record, data, theirs->element);
    }
    if (!data->aiSawTarget) data->aiChangeTime = record->clock;
    data->aiSawTarget = 1;

    const Vec3 targetPosition = Vehicle_BodyPosition(target);
    const Vec3& origin = record->startPosition;
    const float fromOrigin = Vec3_Distance(&position, &origin);
    Vec3 direction;
    if ((data->aiFlags & BLADES_DEFEND_ORIGIN) && fromOrigin >= data->aiFollowRadius &&
        Vec3_Distance(&targetPosition, &origin) >= fromOrigin) {
        Vec3_Sub(&direction, &origin, &position);
    } else {
        Vec3_Sub(&direction, &targetPosition, &position);
        direction.y = 0.01f;
        Vec3_Normalise(&direction);
        Vec3 motion;
        Vec3_Sub(&motion, &position, &record->lastPosition);
        motion.y = 0.0f;
        if (Vec3_LengthSq(&motion) > 0.0f) {
            Vec3_Normalise(&motion);
            // Lead the target by the top's own drift.
            float diff = Angle_Diff(Vec3_Heading(&motion), Vec3_Heading(&direction), 1, 1);
            if (std::fabs(diff) < kLeadLimit)
                Vec3_RotateAxis(&direction, &direction, &kWorldUp, -diff * data->aiDifficultyLevel);
            // A virtual view that turns at a limited rate: a target that
            // leaves it makes the top stop and think.
            bool thinking = false;
            if (data->aiMovementThinkTime != 0.0f) {
                const float wanted = Vec3_Heading(&direction);
                data->aiViewHeading =
                    Angle_MoveTowards(wanted, data->aiViewHeading, dt * data->aiVirtualViewingAngleChangeSpeed);
                if (data->aiViewHeading < 0.0f) data->aiViewHeading += 6.2831855f;
                if (std::fabs(Angle_Diff(data->aiViewHeading, wanted, 1, 1)) > data->aiVirtualViewingAngle)
                    data->aiThinkStamp = record->clock;
                thinking = record->clock - data->aiThinkStamp < data->aiMovementThinkTime;
            }
            if (thinking) {
                direction = Vec3{0.0f, 0.0f, 0.0f};
            } else if (PhysBody_GetSpeed(object->body) > data->aiAttackSpeed) {
                // Too fast: brake and turn.
                direction.x -= 2.0f * motion.x;
                direction.z -= 2.0f * motion.z;
            }
        }
    }
    input->stickX = Clamp1(direction.x);
    input->stickY = Clamp1(direction.z);
}
