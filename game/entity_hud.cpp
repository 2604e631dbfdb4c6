// Entity HUD slots and texts, possession, hiding, queries and the two
// orientation helpers of the modes.
#include "game/entity_hud.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/colour.h"
#include "app/config.h"
#include "app/text.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "game/level_session.h"
#include "game/viewports.h"

namespace {

constexpr float kParkedPosition[3] = {-9999.0f, 9999.0f, -9999.0f};

AnimEventHandler HudEventLookup(AnimSet*, const char*) { return Entity_MessageDispatch; }

template <typename T>
T* Append(T** array, uint32_t* count)
{
    size_t size = sizeof(T) * (*count + 1);
    T* grown = (T*)Mem_Recalloc(*array, 8, size);
    if (!grown || Mem_GetSize(grown) < size) return nullptr;
    *array = grown;
    T* item = &grown[(*count)++];
    *item = T{};
    return item;
}

// A colour component of 0..1 as a byte; values outside (and NaN) are clamped.
uint8_t ColourByte(float v)
{
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return (uint8_t)(v * 255.0f + 0.5f);
}

// "SECONDARY" is the first PC font; anything else the kart font.
Font* HudFont(const char* name)
{
    if (name && strcmp(name, "SECONDARY") == 0) return Game_GetFont(1);
    return Game_GetKartFont();
}

// Draws a line of text in a HUD text slot's place for a player entity.
void ShowLine(EntityRecord* record, uint32_t slot, const char* text)
{
    if (!record || !record->player || slot >= record->hudTextCount || !text) return;
    int viewport = 0;
    if (!Player_GetViewportIndex((int)record->player - 1, &viewport)) return;
    EntityHudTextSlot* s = &record->hudTexts[slot];
    const Vec2 position = {s->position[0], s->position[1]};
    Level_AddScreenText(s->font, viewport, (int)slot, text, &position, s->scale, &s->colour, (int)s->centred);
}

float FirstPrimitiveValue(PhysBody* body)
{
    float r = 0.0f;
    return PhysBody_GetFirstPrimitiveValue(body, &r) ? r : 0.0f;
}

// The direction an entity faces: its first animation slot's root (where the
// modes keep their facing), else its body or node.
void Facing(Object* object, const EntityRecord* record, Vec3* at, Vec3* up)
{
    *at = {0.0f, 0.0f, 1.0f};
    *up = {0.0f, 1.0f, 0.0f};
    if (Entity_GetAnimRootOrientation(record, 0, at, up)) return;
    Vec3 position;
    Object_GetTransform(object, &position, up, at);
}

void Position(Object* object, Vec3* out)
{
    *out = {0.0f, 0.0f, 0.0f};
    Object_GetTransform(object, out, nullptr, nullptr);
}

struct FindTarget {
    Object* searcher;
    const EntityRecord* record;
    Vec3 position, at;
    Object* best;
    float bestDistanceSq;
};

int ConsiderTarget(void* item, void* arg)
{
    auto* f = (FindTarget*)arg;
    Object* candidate = (Object*)item;
    EntityRecord* c = Entity_GetRecord(candidate);
    if (!c || candidate == f->searcher) return 0;
    if (!(c->typeMask & f->record->typeControlMask)) return 0;
    Vec3 p, d;
    Position(candidate, &p);
    Vec3_Sub(&d, &p, &f->position);
    float d2 = Vec3_LengthSq(&d);
    if (!(d2 < 9.0f) || !(d2 < f->bestDistanceSq)) return 0;
    if (c->player || c->kind <= f->record->kind) return 0;
    Vec3_Normalise(&d);
    if (!(Vec3_Dot(&d, &f->at) > 0.8f)) return 0;
    f->best = candidate;
    f->bestDistanceSq = d2;
    return 0;
}

struct QueryWalk {
    const EntityQuery* query;
    EntityQueryHit* out;
    int capacity;
    int count;
};

int CollectMatch(void* item, void* arg)
{
    auto* w = (QueryWalk*)arg;
    float d2;
    if (!Entity_QueryTest(w->query, (Object*)item, &d2)) return 0;
    EntityQueryHit hit = {(Object*)item, d2};
    // Keep the nearest `capacity` matches, sorted by insertion.
    int at = w->count;
    while (at > 0 && w->out[at - 1].distanceSq > d2) --at;
    if (at >= w->capacity) return 0;
    int last = w->count < w->capacity ? w->count : w->capacity - 1;
    for (int i = last; i > at; --i) w->out[i] = w->out[i - 1];
    w->out[at] = hit;
    if (w->count < w->capacity) w->count++;
    return 0;
}

// up = at x (up x at), normalised; at normalised.
void Rebuild(Vec3* at, Vec3* up)
{
    Vec3_Normalise(at);
    Vec3 side;
    Vec3_Cross(&side, up, at);
    if (Vec3_LengthSq(&side) == 0.0f) {
        const Vec3 z = {0.0f, 0.0f, 1.0f}, x = {1.0f, 0.0f, 0.0f};
        Vec3_Cross(&side, std::fabs(at->y) < 0.99f ? &z : &x, at);
    }
    Vec3_Cross(up, at, &side);
    Vec3_Normalise(up);
}

}  // namespace

// ---------------------------------------------------------------- HUD

uint32_t Hud_LayoutNumber(uint32_t player, uint32_t viewports)
{
    if (viewports < 1) viewports = 1;
    uint32_t i = player < viewports - 1 ? player : viewports - 1;
    if (viewports == 1) return i;
    if (viewports == 2) return i + 1;
    if (viewports <= 4) return i + 3;
    return i;
}

int Hud_LoadConfig(const char* hudFile, EntityRecord* record, uint32_t layout, const char* entityFile)
{
    if (!hudFile || !record) return 0;
    ConfigNode* reader = Config_Open(hudFile);
    if (!reader) return 0;
    char section[32], key[64], extension[32];
    snprintf(section, sizeof section, "HUD%u", layout);
    Config_SetSection(reader, section);

    for (uint32_t i = 0;; ++i) {
        snprintf(extension, sizeof extension, "HudAnim%u", i);
        Node* node = Node_Create(nullptr);
        if (!node) break;
        AnimSet* set = AnimSet_Load(hudFile, extension, node, HudEventLookup);
        if (!set && entityFile) set = AnimSet_Load(entityFile, extension, node, HudEventLookup);
        EntityHudAnimSlot* slot = set ? Append(&record->hudAnims, &record->hudAnimCount) : nullptr;
        if (!slot) {
            AnimSet_Release(set);
            Node_Destroy(node);
            break;
        }
        slot->node = node;
        slot->set = set;
        int32_t mask = -1;
        snprintf(key, sizeof key, "HudAnim%uViewInMode", i);
        Config_GetInt(reader, key, &mask);
        slot->viewMask = (uint32_t)mask;
        float v[3] = {0.0f, 0.0f, 0.0f};
        snprintf(key, sizeof key, "HudAnim%uOffset", i);
        Config_GetVector3(reader, key, v);
        Vec3 offset = {v[0], v[1], v[2] + 0.22f};
        Node_SetPosition(node, &offset);
    }

    for (uint32_t i = 0;; ++i) {
        float position[2];
        snprintf(key, sizeof key, "HudText%uPosition", i);
        if (!Config_GetVector2(reader, key, position)) break;
        if (i >= HUD_TEXT_SLOTS) {
            GameLog_Printf("%s: %s: HUD text slots beyond %u are ignored", hudFile, section, HUD_TEXT_SLOTS);
            break;
        }
        EntityHudTextSlot* slot = Append(&record->hudTexts, &record->hudTextCount);
        if (!slot) break;
        slot->position[0] = position[0];
        slot->position[1] = position[1];
        int32_t mask = -1;
        snprintf(key, sizeof key, "HudText%uViewInMode", i);
        Config_GetInt(reader, key, &mask);
        slot->viewMask = (uint32_t)mask;
        char text[256];
        snprintf(key, sizeof key, "HudText%uFontName", i);
        Config_GetString(reader, key, text, sizeof text);
        slot->font = HudFont(text);
        snprintf(key, sizeof key, "HudText%uLocalName", i);
        if (Config_GetString(reader, key, text, sizeof text)) slot->textId = Text_Id(text);
        slot->scale = 1.0f;
        snprintf(key, sizeof key, "HudText%uScale", i);
        Config_GetFloat(reader, key, &slot->scale);
        float r = 1.0f, g = 1.0f, b = 1.0f, a = 1.0f;
        snprintf(key, sizeof key, "HudText%uColour", i);
        if (!Config_GetColour4(reader, key, &r, &g, &b, &a)) Config_GetColour3(reader, key, &r, &g, &b);
        slot->colour = Colour_Pack(ColourByte(a), ColourByte(r), ColourByte(g), ColourByte(b));
        uint32_t centred = 0;
        snprintf(key, sizeof key, "HudText%uCentered", i);
        if (Config_GetBool(reader, key, &centred)) slot->centred = centred;
    }
    Config_Close(reader);
    return 1;
}

void Hud_Free(EntityRecord* record)
{
    if (!record) return;
    for (uint32_t i = 0; i < record->hudAnimCount; ++i) {
        AnimSet_Release(record->hudAnims[i].set);
        Node_Destroy(record->hudAnims[i].node);
    }
    Mem_Free(record->hudAnims);
    Mem_Free(record->hudTexts);
    record->hudAnims = nullptr;
    record->hudTexts = nullptr;
    record->hudAnimCount = record->hudTextCount = 0;
}

EntityHudTextSlot* Entity_GetHudSlot(EntityRecord* record, uint32_t n)
{
    return record && n < record->hudTextCount ? &record->hudTexts[n] : nullptr;
}

EntityHudAnimSlot* Entity_GetHudAnimSlot(EntityRecord* record, uint32_t n)
{
    return record && n < record->hudAnimCount ? &record->hudAnims[n] : nullptr;
}

void Entity_ShowText(EntityRecord* record, uint32_t slot, uint32_t textId)
{
    if (!record || !record->player || slot >= record->hudTextCount) return;
    EntityHudTextSlot* s = &record->hudTexts[slot];
    uint32_t id = textId ? textId : s->textId;
    if (!id) return;
    char text[TEXT_BUFFER_SIZE];
    Text_GetById(id, 0, text, sizeof text);
    s->currentText = id;
    ShowLine(record, slot, text);
}

void Entity_ShowTextString(EntityRecord* record, uint32_t slot, const char* text)
{
    ShowLine(record, slot, text ? text : "");
}

// ---------------------------------------------------------------- Possession

Object* Entity_FindTakeOverTarget(Object* searcher)
{
    EntityRecord* record = Entity_GetRecord(searcher);
    EntitySystem* system = EntitySystem_Get();
    if (!record || !system || !system->pool) return nullptr;
    FindTarget f = {searcher, record, {}, {}, nullptr, 0.0f};
    Position(searcher, &f.position);
    Vec3 up;
    Facing(searcher, record, &f.at, &up);
    Vec3_Normalise(&f.at);
    f.bestDistanceSq = 1e30f;
    List_ForEach(system->pool, ConsiderTarget, &f);
    record->takeOverTarget = f.best;
    return f.best;
}

int Entity_TakeOver(Object* holder, Object* target)
{
    EntityRecord* h = Entity_GetRecord(holder);
    EntityRecord* t = Entity_GetRecord(target);
    if (!h || !t || holder == target || t->kind <= h->kind || t->player) return 0;
    t->player = h->player;
    h->player = 0;
    t->heldFrom = holder;
    h->takeOverTime = t->clock;
    if (t->player) Level_SetPlayerEntity((int)t->player - 1, target);
    Entity_Park(holder);
    return 1;
}

void Entity_Park(Object* object)
{
    if (!object) return;
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, 1);
    PhysBody* body = object->body;
    if (!body) return;
    PhysBody_SetPhantom(body, 1);
    PhysBody_SetActive(body, 1);
    PhysBody_ResetMotion(body, 0);
    const Vec3 parked = {kParkedPosition[0], kParkedPosition[1], kParkedPosition[2]};
    PhysBody_SetPosition(body, &parked);
}

void Entity_Release(Object* possessed, const Vec3* position, const Vec3* up, const Vec3* at)
{
    EntityRecord* p = Entity_GetRecord(possessed);
    if (!p || !p->heldFrom) return;
    Object* holder = p->heldFrom;
    EntityRecord* h = Entity_GetRecord(holder);
    p->heldFrom = nullptr;
    if (!h) return;
    h->player = p->player;
    p->player = 0;
    holder->update = Entity_Update;
    holder->collision = Entity_Collision;
    if (h->player) Level_SetPlayerEntity((int)h->player - 1, holder);
    if (PhysBody* body = holder->body) {
        PhysBody_SetPhantom(body, 0);
        if (position) PhysBody_SetPosition(body, position);
        if (up && at) PhysBody_SetOrientation(body, up, at);
        PhysBody_ZeroVelocities(body);
        PhysBody_SetActive(body, 1);
    }
    if (holder->node) {
        Node_SetParent(holder->node, ObjectWorld_GetRootNode());
        Node_SetFlags(holder->node, NODE_HIDDEN, 0);
        if (position) Node_SetWorldPosition(holder->node, position);
        if (up && at) Node_SetWorldOrientation(holder->node, at, up);
    }
    // A character whose model follows only its body's position keeps its
    // facing in the model: it faces the way it is put down too.
    if (up && at)
        for (uint32_t i = 0; i < h->animSlotCount; ++i)
            if (h->animSlots[i].root && h->animSlots[i].rbRelMode == ANIMSLOT_FOLLOW_POSITION)
                Node_SetWorldOrientation(h->animSlots[i].root, at, up);
}

int Entity_PlaceHeld(Object* holder, Object* possessed)
{
    EntityRecord* h = Entity_GetRecord(holder);
    EntityRecord* p = Entity_GetRecord(possessed);
    if (!h || !p || p->heldFrom != holder) return 0;
    if (p->clock - h->takeOverTime < 0.5f) return 0;
    Vec3 base, at, up;
    Position(possessed, &base);
    Facing(possessed, p, &at, &up);
    at.y = 0.0f;
    if (Vec3_LengthSq(&at) == 0.0f) at = {0.0f, 0.0f, 1.0f};
    Vec3_Normalise(&at);
    const Vec3 yAxis = {0.0f, 1.0f, 0.0f};
    PhysBody* body = holder->body;
    float reach = 1.5f * (FirstPrimitiveValue(body) + FirstPrimitiveValue(possessed->body));
    float raise = 3.0f * FirstPrimitiveValue(body);
    Vec3 direction = at;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt) Vec3_RotateAxis(&direction, &direction, &yAxis, 1.5707964f);
        Vec3 place = {base.x + direction.x * reach, base.y + direction.y * reach + raise, base.z + direction.z * reach};
        if (body) {
            PhysBody_SetPosition(body, &place);
            PhysBody_ResetMotion(body, 0);
            PhysBody_SetActive(body, 1);
            PhysBody_SetPhantom(body, 0);
            if (ObjectCollision_TestOverlap(body)) continue;
        }
        Entity_Release(possessed, &place, &yAxis, &direction);
        return 1;
    }
    Entity_Park(holder);
    return 0;
}

void Entity_Hide(Object* object, int place, const Vec3* position)
{
    EntityRecord* record = Entity_GetRecord(object);
    if (!object) return;
    if (PhysBody* body = object->body) {
        PhysBody_SetPhantom(body, 1);
        PhysBody_SetActive(body, 0);
        if (place == 1 && position) PhysBody_SetPosition(body, position);
    }
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, 1);
    Entity_SetPhysicsActive(object, 1);
    Entity_ShowAnimSlots(record, 0);
}

// ---------------------------------------------------------------- Queries

int Entity_QueryTest(const EntityQuery* query, Object* candidate, float* distanceSq)
{
    if (!query || !candidate || candidate == query->self || !candidate->body) return 0;
    EntityRecord* c = Entity_GetRecord(candidate);
    if (!c || (c->flags & ENTITY_NO_QUERY)) return 0;
    if (query->mode != ENTITY_QUERY_ANY_MODE && c->mode != query->mode) return 0;
    if ((query->bits & ENTITY_QUERY_PLAYERS) && !c->player) return 0;
    if ((query->bits & ENTITY_QUERY_NON_PLAYERS) && c->player) return 0;
    if ((query->bits & ENTITY_QUERY_SHARED_TYPE) && !(c->typeMask & query->typeMask)) return 0;
    Vec3 centre = {0, 0, 0}, p, d;
    Position(query->self, &centre);
    Position(candidate, &p);
    Vec3_Sub(&d, &p, &centre);
    float d2 = Vec3_LengthSq(&d);
    if (!(d2 <= query->maxDistance * query->maxDistance)) return 0;
    if (query->bits & (ENTITY_QUERY_PITCH_ARC | ENTITY_QUERY_HEADING_ARC)) {
        Vec3 n = d;
        Vec3_Normalise(&n);
        if ((query->bits & ENTITY_QUERY_PITCH_ARC) && Angle_Diff(query->pitch, Vec3_Pitch(&n), 0, 1) > query->pitchArc)
            return 0;
        if ((query->bits & ENTITY_QUERY_HEADING_ARC) &&
            Angle_Diff(query->heading, Vec3_Heading(&n), 0, 1) > query->headingArc)
            return 0;
    }
    if (distanceSq) *distanceSq = d2;
    return 1;
}

int Entity_Query(const EntityQuery* query, EntityQueryHit* out, int capacity)
{
    EntitySystem* system = EntitySystem_Get();
    if (!query || !out || capacity <= 0 || !system || !system->pool) return 0;
    QueryWalk w = {query, out, capacity, 0};
    List_ForEach(system->pool, CollectMatch, &w);
    return w.count;
}

Object* Entity_QueryNearest(const EntityQuery* query, float* distance)
{
    EntityQueryHit hit;
    if (!Entity_Query(query, &hit, 1)) return nullptr;
    if (distance) *distance = std::sqrt(hit.distanceSq);
    return hit.object;
}

// ---------------------------------------------------------------- Orientation

void Orient_LerpAt(Vec3* at, Vec3* up, const Vec3* target, float factor)
{
    if (!at || !up || !target) return;
    if (at->x == target->x && at->y == target->y && at->z == target->z) return;
    Vec3 t = *target;
    if (Vec3_LengthSq(&t) == 0.0f) return;
    Vec3_Normalise(&t);
    Vec3 next;
    Vec3_Lerp(&next, at, &t, factor);
    if (Vec3_LengthSq(&next) == 0.0f) return;
    *at = next;
    Rebuild(at, up);
}

void Orient_TurnAt(Vec3* at, Vec3* up, const Vec3* target, float maxAngle)
{
    if (!at || !up || !target) return;
    if (at->x == target->x && at->y == target->y && at->z == target->z) return;
    Vec3 t = *target, a = *at;
    if (Vec3_LengthSq(&t) == 0.0f || Vec3_LengthSq(&a) == 0.0f) return;
    Vec3_Normalise(&t);
    Vec3_Normalise(&a);
    float cosine = std::clamp(Vec3_Dot(&a, &t), -1.0f, 1.0f);
    float angle = std::acos(cosine);
    float step = std::fabs(maxAngle);
    if (angle <= step) {
        *at = t;
    } else {
        Vec3 axis;
        Vec3_Cross(&axis, &a, &t);
        if (Vec3_LengthSq(&axis) == 0.0f) axis = *up;
        // Vec3_RotateAxis turns by the negated angle about the axis: a turn of
        // -step about a x t brings a towards t.
        Vec3_RotateAxis(at, &a, &axis, -step);
    }
    Rebuild(at, up);
}
