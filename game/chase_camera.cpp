#include "game/chase_camera.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/memory.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physray.h"
#include "game/game_context.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kFiveDegrees = 0.0872665f;
constexpr float kFifteenDegrees = 0.2617994f;
constexpr float kTwentyFiveDegrees = 0.43633232f;
constexpr float kSeventyFiveDegrees = 1.3089969f;
const Vec3 kUp = {0.0f, 1.0f, 0.0f};

float DegToRad(float degrees) { return degrees * 0.0027777778f * 6.2831855f; }
Vec3 DegToRad(Vec3 v) { return {DegToRad(v.x), DegToRad(v.y), DegToRad(v.z)}; }
Vec3 Abs(Vec3 v) { return {std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)}; }
Vec3 NegAbs(Vec3 v) { return {-std::fabs(v.x), -std::fabs(v.y), -std::fabs(v.z)}; }
bool IsZero(const Vec3& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

float Component(const Vec3& v, int i) { return i == 0 ? v.x : (i == 1 ? v.y : v.z); }

// ---------------------------------------------------------------- Configuration

struct Reader {
    ConfigNode* config;
    const char* section;
    int found;

    const char* Key(const char* name)
    {
        static char key[1024];
        snprintf(key, sizeof key, "%s::%s", section, name);
        return key;
    }
    bool Float(const char* name, float* out)
    {
        bool ok = Config_GetFloat(config, Key(name), out) != 0;
        found |= ok;
        return ok;
    }
    bool Vector(const char* name, Vec3* out)
    {
        float v[3];
        bool ok = Config_GetVector3(config, Key(name), v) != 0;
        if (ok) *out = {v[0], v[1], v[2]};
        found |= ok;
        return ok;
    }
    // A boolean sets or clears its bits in *word by its value; missing changes nothing.
    void Bits(const char* name, uint32_t* word, uint32_t bits)
    {
        uint32_t value = 0;
        if (!Config_GetBool(config, Key(name), &value)) return;
        found = 1;
        if (value)
            *word |= bits;
        else
            *word &= ~bits;
    }
};

// The four lag vectors and the relative bits of one lag kind, into both the
// configured and the in-force record.
void ReadLag(Reader* r, const char* prefix, const char* relPrefix, ChaseCameraLag* def, ChaseCameraLag* now,
             uint32_t* flags, uint32_t flag)
{
    static const char* const kVectors[4] = {"PosSpeed", "NegSpeed", "PosDistMax", "NegDistMax"};
    char name[128];
    for (int i = 0; i < 4; ++i) {
        Vec3 v;
        snprintf(name, sizeof name, "%s%s", prefix, kVectors[i]);
        if (!r->Vector(name, &v)) continue;
        v = i == 3 ? NegAbs(v) : Abs(v);
        Vec3* fields[4] = {&def->posSpeed, &def->negSpeed, &def->posDistMax, &def->negDistMax};
        Vec3* live[4] = {&now->posSpeed, &now->negSpeed, &now->posDistMax, &now->negDistMax};
        *fields[i] = v;
        *live[i] = v;
        *flags |= flag;
    }
    static const char* const kRel[6] = {"XPosSpeedRel", "XNegSpeedRel", "YPosSpeedRel",
                                        "YNegSpeedRel", "ZPosSpeedRel", "ZNegSpeedRel"};
    static const uint32_t kRelBits[6] = {0x1, 0x8, 0x2, 0x10, 0x4, 0x20};
    for (int i = 0; i < 6; ++i) {
        snprintf(name, sizeof name, "%s%s", relPrefix, kRel[i]);
        r->Bits(name, &def->relative, kRelBits[i]);
        r->Bits(name, &now->relative, kRelBits[i]);
    }
}

void ReadSlide(Reader* r, char axis, float* slide)
{
    char name[64];
    static const char* const kKeys[5] = {"RotateSpeed", "RotateSpeedMin", "DistMultClose", "DistMultFar",
                                         "DistMultPower"};
    for (int i = 0; i < 5; ++i) {
        snprintf(name, sizeof name, "slide%c%s", axis, kKeys[i]);
        float v;
        if (!r->Float(name, &v)) continue;
        slide[i] = i < 2 ? DegToRad(std::fabs(v)) : v;
    }
}

// ---------------------------------------------------------------- Helpers

// Lags the point L towards G along the facing's forward and side axes and in
// height; offsets beyond the maximum distances are taken up at once.
void LagStep(Vec3* L, const Vec3& G, const Vec3& facing, const ChaseCameraLag& lag, const Vec3& posMax,
             const Vec3& negMax)
{
    Vec3 d;
    Vec3_Sub(&d, &G, L);
    if (IsZero(d)) return;
    float t = Game_GetFrameTime();
    Vec3 forward = {facing.x, 0.001f, facing.z};
    Vec3_Normalise(&forward);
    Vec3 side;
    Vec3_Cross(&side, &kUp, &forward);

    struct Axis {
        const Vec3* axis;
        int component;
        uint32_t posBit, negBit;
    } axes[2] = {{&forward, 2, 0x4, 0x20}, {&side, 0, 0x1, 0x8}};
    Vec3 moved = {0.0f, 0.0f, 0.0f};
    for (const Axis& ax : axes) {
        float a = Vec3_Dot(&d, ax.axis);
        if (!(std::fabs(a) > 0.01f)) continue;
        float excess = 0.0f, speed;
        if (a >= 0.0f) {
            float m = Component(posMax, ax.component);
            if (a > m) excess = a - m;
            speed = Component(lag.posSpeed, ax.component);
            if (lag.relative & ax.posBit) speed *= a;
        } else {
            float m = Component(negMax, ax.component);
            if (a < m) excess = a - m;
            speed = Component(lag.negSpeed, ax.component);
            if (lag.relative & ax.negBit) speed *= a;
        }
        float step = Math_MoveTowards(excess, a, t * speed);
        moved.x += ax.axis->x * step;
        moved.y += ax.axis->y * step;
        moved.z += ax.axis->z * step;
    }
    Vec3_Add(L, L, &moved);

    float h = G.y - L->y;
    if (h < 0.0f && h < negMax.y) L->y += h - negMax.y;
    if (h >= 0.0f && h > posMax.y) L->y += h - posMax.y;
    float speed;
    if (h < 0.0f) {
        speed = lag.negSpeed.y;
        if (lag.relative & 0x10) speed *= h;
    } else {
        speed = lag.posSpeed.y;
        if (lag.relative & 0x2) speed *= h;
    }
    L->y = Math_MoveTowards(L->y, G.y, t * speed);
}

// Up vector of a view direction: D x (up x D), normalised.
Vec3 ViewUp(const Vec3& D)
{
    Vec3 side, up;
    Vec3_Cross(&side, &kUp, &D);
    Vec3_Cross(&up, &D, &side);
    Vec3_Normalise(&up);
    return up;
}

float SlideMultiplier(const float* slide, float h, float target)
{
    if (h >= target || !(target > 0.0f)) return slide[3];
    return Math_Lerp(slide[2], slide[3], Math_Pow(h / target, slide[4]));
}

float PitchOf(Vec3 v)
{
    Vec3_Normalise(&v);
    return Vec3_Pitch(&v);
}

// The ray from the lagged point through the camera: renews the scaled hit
// distance, measures and drops slide records, and starts new slides.
void CollisionStep(ChaseCamera* c, const Vec3& P, const Vec3& D)
{
    const Vec3 T = c->laggedViewObj;
    float dist = Vec3_Distance(&T, &P);
    if (dist < c->targetDistance) dist = c->targetDistance;
    PhysRayHit hit;
    hit.point = T;
    hit.normal = kUp;
    hit.distanceSq = 0.0f;
    hit.object = nullptr;
    PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &T, &D, -2.0f * dist);
    float h = std::sqrt(hit.distanceSq);
    c->scaledHitDist = h * c->hitDistMultiply;
    ChaseCamera_SetFlags(c, CHASECAM_X_BEYOND_SLIDE | CHASECAM_Y_BEYOND_SLIDE, h > c->slideMaxDist);
    c->flags &= ~(CHASECAM_X_SLIDING | CHASECAM_Y_SLIDING | CHASECAM_X_SPEED_LOCKED | CHASECAM_Y_SPEED_LOCKED);
    if (!(c->flags & (CHASECAM_X_SLIDE | CHASECAM_Y_SLIDE))) return;

    float p = Vec3_Pitch(&D), y = Vec3_Heading(&D);
    if (c->flags & CHASECAM_X_PLUS_NEW) c->slides[CHASECAM_X_PLUS].turn = Angle_Diff(c->lastPitch, p, 1, 1);
    if (c->flags & CHASECAM_X_MINUS_NEW) c->slides[CHASECAM_X_MINUS].turn = Angle_Diff(c->lastPitch, p, 1, 1);
    if (c->flags & CHASECAM_Y_MINUS_NEW) c->slides[CHASECAM_Y_MINUS].turn = Angle_Diff(c->lastHeading, y, 1, 1);
    if (c->flags & CHASECAM_Y_PLUS_NEW) c->slides[CHASECAM_Y_PLUS].turn = Angle_Diff(c->lastHeading, y, 1, 1);
    c->flags &= ~(CHASECAM_X_PLUS_NEW | CHASECAM_X_MINUS_NEW | CHASECAM_Y_MINUS_NEW | CHASECAM_Y_PLUS_NEW);
    c->lastPitch = p;
    c->lastHeading = y;

    const bool xSlides = (c->flags & CHASECAM_X_SLIDE) && !(c->flags & (CHASECAM_X_BEYOND_SLIDE | CHASECAM_X_SLIDE_OFF));
    const bool ySlides = (c->flags & CHASECAM_Y_SLIDE) && !(c->flags & (CHASECAM_Y_BEYOND_SLIDE | CHASECAM_Y_SLIDE_OFF));
    if (xSlides) {
        Vec3 back = {-D.x, -D.y, -D.z};
        float q = Vec3_Pitch(&back);
        const uint32_t held[2] = {CHASECAM_X_PLUS_HELD, CHASECAM_X_MINUS_HELD};
        for (int i = 0; i < 2; ++i) {
            if (!(c->flags & held[i])) continue;
            ChaseCameraSlide* s = &c->slides[CHASECAM_X_PLUS + i];
            Vec3 toHit;
            Vec3_Sub(&toHit, &s->hitPoint, &T);
            float pitch = PitchOf(toHit);
            s->arcLimit = i == 0 ? pitch + s->turn : pitch - s->turn;
            if (Angle_Diff(y, s->angle, 0, 1) >= kFifteenDegrees || Vec3_Length(&toHit) >= 1.5f * dist ||
                Angle_Diff(s->arcLimit, q, 0, 1) > kSeventyFiveDegrees)
                c->flags &= ~held[i];
        }
        if ((c->flags & CHASECAM_X_PLUS_HELD) && (c->flags & CHASECAM_X_MINUS_HELD) &&
            Angle_Diff(c->slides[CHASECAM_X_PLUS].arcLimit, c->slides[CHASECAM_X_MINUS].arcLimit, 1, 1) < 0.0f)
            c->slides[CHASECAM_X_PLUS].arcLimit = c->slides[CHASECAM_X_MINUS].arcLimit;
    }
    if (ySlides) {
        const uint32_t held[2] = {CHASECAM_Y_MINUS_HELD, CHASECAM_Y_PLUS_HELD};
        for (int i = 0; i < 2; ++i) {
            if (!(c->flags & held[i])) continue;
            ChaseCameraSlide* s = &c->slides[CHASECAM_Y_MINUS + i];
            Vec3 fromHit;
            Vec3_Sub(&fromHit, &T, &s->hitPoint);
            float length = Vec3_Length(&fromHit);
            Vec3_Normalise(&fromHit);
            float heading = Vec3_Heading(&fromHit);
            s->arcLimit = i == 0 ? heading + s->turn : heading - s->turn;
            if (Angle_Diff(p, s->angle, 0, 1) >= kTwentyFiveDegrees || length >= 1.5f * dist ||
                Angle_Diff(s->arcLimit, y, 0, 1) > kSeventyFiveDegrees)
                c->flags &= ~held[i];
        }
        if ((c->flags & CHASECAM_Y_MINUS_HELD) && (c->flags & CHASECAM_Y_PLUS_HELD) &&
            Angle_Diff(c->slides[CHASECAM_Y_MINUS].arcLimit, c->slides[CHASECAM_Y_PLUS].arcLimit, 1, 1) < 0.0f)
            c->slides[CHASECAM_Y_MINUS].arcLimit = c->slides[CHASECAM_Y_PLUS].arcLimit;
    }

    if (h * h <= dist * dist) {
        if (xSlides) {
            float a = Angle_Diff(p, Vec3_Pitch(&hit.normal), 1, 1);
            int record = a >= 0.0f ? CHASECAM_X_PLUS : CHASECAM_X_MINUS;
            ChaseCamera_AddAngleX(c, a >= 0.0f ? kFiveDegrees : -kFiveDegrees);
            c->slides[record].hitPoint = hit.point;
            c->slides[record].angle = y;
            c->flags |= a >= 0.0f ? (CHASECAM_X_PLUS_HELD | CHASECAM_X_PLUS_NEW)
                                  : (CHASECAM_X_MINUS_HELD | CHASECAM_X_MINUS_NEW);
            float speed = std::fabs(a) * c->slideX[0] * SlideMultiplier(c->slideX, h, c->targetDistance);
            if (speed < c->slideX[1]) speed = c->slideX[1];
            ChaseCamera_SetRotateSpeedX(c, speed);
            c->flags |= CHASECAM_X_SLIDING | CHASECAM_X_SPEED_LOCKED;
        }
        if (ySlides && (hit.normal.x != 0.0f || hit.normal.z != 0.0f)) {
            float b = Angle_Diff(y, Vec3_Heading(&hit.normal), 1, 1);
            int record = b >= 0.0f ? CHASECAM_Y_PLUS : CHASECAM_Y_MINUS;
            ChaseCamera_AddAngleY(c, b >= 0.0f ? -kFiveDegrees : kFiveDegrees);
            c->slides[record].hitPoint = hit.point;
            c->slides[record].angle = p;
            c->flags |= b >= 0.0f ? (CHASECAM_Y_PLUS_HELD | CHASECAM_Y_PLUS_NEW)
                                  : (CHASECAM_Y_MINUS_HELD | CHASECAM_Y_MINUS_NEW);
            float speed = std::fabs(b) * c->slideY[0] * SlideMultiplier(c->slideY, h, c->targetDistance);
            if (speed < c->slideY[1]) speed = c->slideY[1];
            ChaseCamera_SetRotateSpeedY(c, speed);
            c->flags |= CHASECAM_Y_SLIDING | CHASECAM_Y_SPEED_LOCKED;
        }
    }
    c->flags &= ~(CHASECAM_X_SLIDE_OFF | CHASECAM_Y_SLIDE_OFF);
}

float ClampLimits(float angle, float min, float max)
{
    if (min == max) return angle;
    return Angle_ClampToArc(angle, min, max);
}

}  // namespace

// ---------------------------------------------------------------- Configuration

int ChaseCamera_LoadConfig(ConfigNode* reader, ChaseCamera** slot, const char* section)
{
    if (!reader || !slot) return 0;
    ChaseCamera c;
    if (*slot) {
        c = **slot;
    } else {
        memset(&c, 0, sizeof c);
        c.hitDistMultiply = 1.0f;
        c.slideMaxDist = 1000.0f;
    }
    Reader r = {reader, section ? section : "", 0};
    Vec3 v;
    float f;
    if (r.Vector("viewObjOffset", &v)) c.viewObjOffset = v;
    if (r.Vector("rotationSpeeds", &v)) c.rotationSpeeds = c.currentRotationSpeeds = DegToRad(v);
    if (r.Float("railMoveSpeed", &f)) c.railMoveInSpeed = c.railMoveOutSpeed = c.railHitMoveInSpeed = f;
    r.Float("railMoveInSpeed", &c.railMoveInSpeed);
    r.Float("railMoveOutSpeed", &c.railMoveOutSpeed);
    r.Float("railHitMoveInSpeed", &c.railHitMoveInSpeed);
    r.Float("railHitSlideMoveInSpeed", &c.railHitSlideMoveInSpeed);
    r.Float("railDistMinLimit", &c.railMinDistance);
    r.Float("hitDistMultiply", &c.hitDistMultiply);
    ReadSlide(&r, 'X', c.slideX);
    ReadSlide(&r, 'Y', c.slideY);
    r.Float("slideMaxDist", &c.slideMaxDist);
    if (r.Vector("defaultAngleMinLimits", &v)) c.defaultMinLimits = c.minLimits = DegToRad(v);
    if (r.Vector("defaultAngleMaxLimits", &v)) c.defaultMaxLimits = c.maxLimits = DegToRad(v);
    if (r.Vector("defaultAngles", &v)) c.defaultAngles = DegToRad(v);
    if (r.Float("defaultDistance", &f)) c.defaultDistance = c.distance = c.targetDistance = c.distanceLimit = f;
    if (r.Vector("defaultCameraTilt", &v)) c.defaultTilt = c.tilt = c.targetTilt = DegToRad(v);
    if (r.Vector("defaultCameraTiltSpeed", &v)) c.defaultTiltSpeed = c.tiltSpeed = DegToRad(v);
    ReadLag(&r, "defaultViewObjLag", "viewObjLag", &c.defaultViewObjLag, &c.viewObjLag, &c.flags,
            CHASECAM_VIEW_OBJ_LAG);
    ReadLag(&r, "defaultCamLag", "camLag", &c.defaultCamLag, &c.camLag, &c.flags, CHASECAM_CAM_LAG);
    r.Bits("moveToPickHit", &c.flags, CHASECAM_MOVE_TO_PICK_HIT);
    r.Bits("xSlideCam", &c.flags, CHASECAM_X_SLIDE);
    r.Bits("ySlideCam", &c.flags, CHASECAM_Y_SLIDE);
    r.Bits("railHitMoveInSpeedDistRel", &c.flags, CHASECAM_HIT_SPEED_GAP);
    r.Float("moveToPickSnapDist", &c.snapDist);
    if (!r.found) return 0;

    ChaseCamera_SetAngles(&c, &c.defaultAngles, &c.angles);
    if (!*slot) {
        *slot = (ChaseCamera*)Mem_Alloc(sizeof(ChaseCamera), 16);
        if (!*slot) return 0;
    }
    **slot = c;
    return 1;
}

// ---------------------------------------------------------------- Frames

void ChaseCamera_Reset(ChaseCamera* c, Node* node, const Vec3* angles, const float* distance)
{
    if (!c) return;
    ChaseCamera_SetAngles(c, angles ? angles : &c->defaultAngles, &c->angles);
    c->distance = c->targetDistance = distance ? *distance : c->defaultDistance;
    c->currentViewObjOffset = c->viewObjOffset;
    c->currentRotationSpeeds = c->rotationSpeeds;
    c->viewObjLag = c->defaultViewObjLag;
    c->flags &= ~(CHASECAM_X_SLIDING | CHASECAM_Y_SLIDING | CHASECAM_X_SPEED_LOCKED | CHASECAM_Y_SPEED_LOCKED |
                  CHASECAM_X_SLIDE_OFF | CHASECAM_Y_SLIDE_OFF | CHASECAM_X_BEYOND_SLIDE | CHASECAM_Y_BEYOND_SLIDE |
                  CHASECAM_X_MINUS_HELD | CHASECAM_X_PLUS_HELD | CHASECAM_Y_PLUS_HELD | CHASECAM_Y_MINUS_HELD |
                  CHASECAM_SNAP_REQUEST);
    c->laggedViewObj = c->viewObjPosition;
    if (node) {
        Vec3 D;
        Math_AnglesToDir(&D, c->angles.x, c->angles.y);
        Vec3 up = ViewUp(D);
        Vec3_RotateAxis(&up, &up, &D, -c->angles.z);
        PhysRayHit hit;
        PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &c->laggedViewObj, &D, -c->distance);
        if (c->distance != 0.0f) {
            c->distance = c->distanceLimit = std::sqrt(hit.distanceSq);
        } else {
            // A zero-length ray is no cast: the camera sits on its target.
            hit.point = c->laggedViewObj;
            c->distanceLimit = 0.0f;
        }
        Node_SetPosition(node, &hit.point);
        Node_SetOrientation(node, &D, &up);
    }
    c->slideMaxDist = 0.0f;
}

void ChaseCamera_FollowObject(ChaseCamera* c, Node* followed)
{
    if (!c || !followed) return;
    Vec3 p, at, up, side;
    Node_GetPosition(followed, &p);
    Node_GetOrientation(followed, &at, &up);
    Vec3_Cross(&side, &up, &at);
    const Vec3& o = c->currentViewObjOffset;
    if (o.x != 0.0f) p = {p.x + side.x * o.x, p.y + side.y * o.x, p.z + side.z * o.x};
    if (o.y != 0.0f) p = {p.x + up.x * o.y, p.y + up.y * o.y, p.z + up.z * o.y};
    if (o.z != 0.0f) p = {p.x + at.x * o.z, p.y + at.y * o.z, p.z + at.z * o.z};
    c->viewObjPosition = p;
    if (!(c->flags & CHASECAM_FOLLOWING)) {
        c->laggedViewObj = p;
        c->flags |= CHASECAM_FOLLOWING;
    }
}

void ChaseCamera_Update(ChaseCamera* c, Node* node, float dt)
{
    if (!c || !node) return;
    Vec3 C0, A0 = {0.0f, 0.0f, 1.0f}, U0 = kUp;
    Node_GetPosition(node, &C0);
    Node_GetOrientation(node, &A0, &U0);

    if (c->flags & CHASECAM_VIEW_OBJ_LAG)
        LagStep(&c->laggedViewObj, c->viewObjPosition, A0, c->viewObjLag, c->viewObjLag.posDistMax,
                c->viewObjLag.negDistMax);
    else
        c->laggedViewObj = c->viewObjPosition;

    c->angles.x = Angle_MoveTowards(c->targetAngles.x, c->angles.x, dt * c->currentRotationSpeeds.x);
    c->angles.y = Angle_MoveTowards(c->targetAngles.y, c->angles.y, dt * c->currentRotationSpeeds.y);
    c->angles.z = Angle_MoveTowards(c->targetAngles.z, c->angles.z, dt * c->currentRotationSpeeds.z);

    Vec3 D;
    Math_AnglesToDir(&D, c->angles.x, c->angles.y);

    float speed = c->targetDistance <= c->distance ? c->railMoveInSpeed : c->railMoveOutSpeed;
    c->distance = Math_MoveTowards(c->distance, c->targetDistance, dt * speed);
    if (c->distance > c->distanceLimit) c->distance = c->distanceLimit;
    if (c->distance < c->railMinDistance) c->distance = c->railMinDistance;

    Vec3 P = {c->laggedViewObj.x - D.x * c->distance, c->laggedViewObj.y - D.y * c->distance,
              c->laggedViewObj.z - D.z * c->distance};

    if (c->flags & CHASECAM_CAM_LAG) {
        Vec3 posMax = c->camLag.posDistMax, negMax = c->camLag.negDistMax;
        if (c->flags & CHASECAM_SNAPPED) {
            posMax.z = 0.1f;
            negMax.z = -0.1f;
        }
        Vec3 L = C0;
        LagStep(&L, P, A0, c->camLag, posMax, negMax);
        P = L;
        Vec3 toTarget;
        Vec3_Sub(&toTarget, &c->laggedViewObj, &P);
        if (!IsZero(toTarget)) {
            Vec3_Normalise(&toTarget);
            D = toTarget;
        }
    }

    c->tilt.x = Angle_MoveTowards(c->targetTilt.x, c->tilt.x, dt * c->tiltSpeed.x);
    c->tilt.y = Angle_MoveTowards(c->targetTilt.y, c->tilt.y, dt * c->tiltSpeed.y);
    c->tilt.z = Angle_MoveTowards(c->targetTilt.z, c->tilt.z, dt * c->tiltSpeed.z);
    if (c->tilt.x != 0.0f) {
        Vec3 side;
        Vec3_Cross(&side, &kUp, &D);
        Vec3_RotateAxis(&D, &D, &side, c->tilt.x);
    }
    if (c->tilt.y != 0.0f) {
        Vec3 side, axis;
        Vec3_Cross(&side, &kUp, &D);
        Vec3_Cross(&axis, &D, &side);
        Vec3_RotateAxis(&D, &D, &axis, c->tilt.y);
    }

    Vec3 U = ViewUp(D);
    float roll = c->angles.z + c->tilt.z;
    if (roll != 0.0f) Vec3_RotateAxis(&U, &U, &D, roll);

    if (c->flags & (CHASECAM_MOVE_TO_PICK_HIT | CHASECAM_X_SLIDE | CHASECAM_Y_SLIDE)) {
        float gap = c->distanceLimit - c->scaledHitDist;
        CollisionStep(c, P, D);
        if ((gap > 0.0f && gap <= c->snapDist) || ((c->flags & CHASECAM_SNAP_REQUEST) && gap > 0.0f)) {
            c->distanceLimit = c->scaledHitDist;
            c->flags |= CHASECAM_SNAPPED;
        } else {
            c->flags &= ~CHASECAM_SNAPPED;
            if (c->distanceLimit < c->scaledHitDist) {
                float open = c->targetDistance < c->scaledHitDist ? c->targetDistance : c->scaledHitDist;
                if (open > c->distanceLimit) c->distanceLimit = open;
            } else {
                float railSpeed;
                if (c->flags & (CHASECAM_X_SLIDING | CHASECAM_Y_SLIDING))
                    railSpeed = c->railHitSlideMoveInSpeed;
                else
                    railSpeed = c->railHitMoveInSpeed * ((c->flags & CHASECAM_HIT_SPEED_GAP)
                                                             ? std::fabs(c->distanceLimit - c->scaledHitDist)
                                                             : 1.0f);
                c->distanceLimit = Math_MoveTowards(c->distanceLimit, c->scaledHitDist, dt * railSpeed);
            }
        }
    }

    Node_SetPosition(node, &P);
    Node_SetOrientation(node, &D, &U);
    c->flags &= ~CHASECAM_SNAP_REQUEST;
}

// ---------------------------------------------------------------- Angles

float ChaseCamera_ClampAngleX(ChaseCamera* c, float angle)
{
    if (!c) return 0.0f;
    if ((c->flags & CHASECAM_X_SLIDE) && !(c->flags & (CHASECAM_X_BEYOND_SLIDE | CHASECAM_X_SLIDE_OFF)) &&
        (c->flags & (CHASECAM_X_PLUS_HELD | CHASECAM_X_MINUS_HELD))) {
        float from = (c->flags & CHASECAM_X_PLUS_HELD) ? c->slides[CHASECAM_X_PLUS].arcLimit : angle - kHalfPi;
        float to = (c->flags & CHASECAM_X_MINUS_HELD) ? c->slides[CHASECAM_X_MINUS].arcLimit : angle + kHalfPi;
        angle = Angle_ClampToArc(angle, from, to);
    }
    return ClampLimits(angle, c->minLimits.x, c->maxLimits.x);
}

float ChaseCamera_ClampAngleY(ChaseCamera* c, float angle)
{
    if (!c) return 0.0f;
    if ((c->flags & CHASECAM_Y_SLIDE) && !(c->flags & (CHASECAM_Y_BEYOND_SLIDE | CHASECAM_Y_SLIDE_OFF)) &&
        (c->flags & (CHASECAM_Y_MINUS_HELD | CHASECAM_Y_PLUS_HELD))) {
        float from = (c->flags & CHASECAM_Y_MINUS_HELD) ? c->slides[CHASECAM_Y_MINUS].arcLimit : angle - kHalfPi;
        float to = (c->flags & CHASECAM_Y_PLUS_HELD) ? c->slides[CHASECAM_Y_PLUS].arcLimit : angle + kHalfPi;
        angle = Angle_ClampToArc(angle, from, to);
    }
    return ClampLimits(angle, c->minLimits.y, c->maxLimits.y);
}

float ChaseCamera_ClampAngleZ(ChaseCamera* c, float angle)
{
    if (!c) return 0.0f;
    return ClampLimits(angle, c->minLimits.z, c->maxLimits.z);
}

float ChaseCamera_SetAngleX(ChaseCamera* c, float angle)
{
    if (!c) return 0.0f;
    if (!(c->flags & CHASECAM_X_SLIDING)) c->targetAngles.x = ChaseCamera_ClampAngleX(c, angle);
    return c->targetAngles.x;
}

float ChaseCamera_SetAngleY(ChaseCamera* c, float angle)
{
    if (!c) return 0.0f;
    if (!(c->flags & CHASECAM_Y_SLIDING)) c->targetAngles.y = ChaseCamera_ClampAngleY(c, angle);
    return c->targetAngles.y;
}

float ChaseCamera_SetAngleZ(ChaseCamera* c, float angle)
{
    if (!c) return 0.0f;
    c->targetAngles.z = ChaseCamera_ClampAngleZ(c, angle);
    return c->targetAngles.z;
}

void ChaseCamera_SetAngles(ChaseCamera* c, const Vec3* angles, Vec3* out)
{
    if (!c || !angles) return;
    Vec3 a = *angles;
    Vec3 r = {ChaseCamera_SetAngleX(c, a.x), ChaseCamera_SetAngleY(c, a.y), ChaseCamera_SetAngleZ(c, a.z)};
    if (out) *out = r;
}

float ChaseCamera_AddAngleX(ChaseCamera* c, float delta)
{
    return c ? ChaseCamera_SetAngleX(c, c->angles.x + delta) : 0.0f;
}
float ChaseCamera_AddAngleY(ChaseCamera* c, float delta)
{
    return c ? ChaseCamera_SetAngleY(c, c->angles.y + delta) : 0.0f;
}
float ChaseCamera_AddAngleZ(ChaseCamera* c, float delta)
{
    return c ? ChaseCamera_SetAngleZ(c, c->angles.z + delta) : 0.0f;
}

// ---------------------------------------------------------------- Settings

void ChaseCamera_SetDistance(ChaseCamera* c, float distance)
{
    if (c) c->targetDistance = distance;
}
void ChaseCamera_SetRotateSpeedX(ChaseCamera* c, float speed)
{
    if (c && !(c->flags & CHASECAM_X_SPEED_LOCKED)) c->currentRotationSpeeds.x = speed;
}
void ChaseCamera_SetRotateSpeedY(ChaseCamera* c, float speed)
{
    if (c && !(c->flags & CHASECAM_Y_SPEED_LOCKED)) c->currentRotationSpeeds.y = speed;
}
void ChaseCamera_SetRotateSpeedZ(ChaseCamera* c, float speed)
{
    if (c) c->currentRotationSpeeds.z = speed;
}
void ChaseCamera_RestoreRotateSpeeds(ChaseCamera* c)
{
    if (c) c->currentRotationSpeeds = c->rotationSpeeds;
}
void ChaseCamera_SetViewObjOffset(ChaseCamera* c, const Vec3* offset)
{
    if (c && offset) c->currentViewObjOffset = *offset;
}
void ChaseCamera_SetTiltTarget(ChaseCamera* c, const Vec3* tilt)
{
    if (c && tilt) c->targetTilt = *tilt;
}
void ChaseCamera_SetSlideMaxDist(ChaseCamera* c, float distance)
{
    if (c) c->slideMaxDist = distance;
}
float ChaseCamera_GetSlideMaxDist(const ChaseCamera* c) { return c ? c->slideMaxDist : 0.0f; }

void ChaseCamera_SetViewObjLagPosSpeed(ChaseCamera* c, const Vec3* speed)
{
    if (!c || !speed) return;
    c->viewObjLag.posSpeed = *speed;
    c->flags |= CHASECAM_VIEW_OBJ_LAG;
}
void ChaseCamera_SetViewObjLagNegSpeed(ChaseCamera* c, const Vec3* speed)
{
    if (!c || !speed) return;
    c->viewObjLag.negSpeed = *speed;
    c->flags |= CHASECAM_VIEW_OBJ_LAG;
}
void ChaseCamera_SetCamLagPosSpeed(ChaseCamera* c, const Vec3* speed)
{
    if (!c || !speed) return;
    c->camLag.posSpeed = *speed;
    c->flags |= CHASECAM_VIEW_OBJ_LAG;
}
void ChaseCamera_SetCamLagNegSpeed(ChaseCamera* c, const Vec3* speed)
{
    if (!c || !speed) return;
    c->camLag.negSpeed = *speed;
    c->flags |= CHASECAM_VIEW_OBJ_LAG;
}

void ChaseCamera_GetViewObjLagNegSpeed(const ChaseCamera* c, Vec3* out)
{
    if (c && out) *out = c->viewObjLag.negSpeed;
}
void ChaseCamera_GetVector(const ChaseCamera* c, Vec3* out)
{
    if (c && out) *out = c->defaultAngles;
}
void ChaseCamera_GetRotationSpeeds(const ChaseCamera* c, Vec3* out)
{
    if (c && out) *out = c->rotationSpeeds;
}
float ChaseCamera_GetAngleY(const ChaseCamera* c) { return c ? c->angles.y : 0.0f; }
float ChaseCamera_GetAngleXError(const ChaseCamera* c, int isSigned)
{
    return c ? Angle_Diff(c->angles.x, c->targetAngles.x, isSigned, 1) : 0.0f;
}
float ChaseCamera_GetAngleYError(const ChaseCamera* c, int isSigned)
{
    return c ? Angle_Diff(c->angles.y, c->targetAngles.y, isSigned, 1) : 0.0f;
}
float ChaseCamera_GetDistanceTo(const ChaseCamera* c, Node* node)
{
    if (!c || !node) return 0.0f;
    Vec3 p;
    Node_GetWorldPosition(node, &p);
    return Vec3_Distance(&c->laggedViewObj, &p);
}
void ChaseCamera_SetFlags(ChaseCamera* c, uint32_t bits, int on)
{
    if (!c) return;
    if (on)
        c->flags |= bits;
    else
        c->flags &= ~bits;
}

// ---------------------------------------------------------------- Directions

Vec3* Math_AnglesToDir(Vec3* out, float angleX, float angleY)
{
    const Vec3 forward = {0.0f, 0.0f, 1.0f};
    Vec3 v, side;
    Vec3_RotateAxis(&v, &forward, &kUp, -angleY);
    Vec3_Cross(&side, &kUp, &v);
    Vec3_RotateAxis(out, &v, &side, angleX - kHalfPi);
    return out;
}

void Math_DirToAngles(float* angleX, float* angleY, const Vec3* direction)
{
    if (angleX) *angleX = kPi - Vec3_Pitch(direction);
    if (angleY) *angleY = Vec3_Heading(direction);
}

float Math_RotatedElevation(float angle, const Vec3* vector)
{
    if (!vector) return 0.0f;
    Vec3 r;
    Vec3_RotateAxis(&r, vector, &kUp, -angle);
    Vec3 v = {r.x, r.y, r.y};
    return Vec3_Heading(&v);
}

float Angle_MoveTowards(float target, float current, float step)
{
    if (step == 0.0f || current == target) return current;
    float diff = Angle_Diff(current, target, 1, 1);
    float s = std::fabs(step);
    float result = std::fabs(diff) < s ? target : (diff >= 0.0f ? current + s : current - s);
    return std::fmod(result, kTwoPi);
}
