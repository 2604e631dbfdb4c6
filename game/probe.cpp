#include "game/probe.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/state.h"
#include "common/list.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/renderobj.h"
#include "engine/view.h"
#include "game/control_mode.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/level_session.h"
#include "game/level_state.h"
#include "game/memcard_ui.h"
#include "game/menu_system.h"
#include "game/modes/battleblades_mode.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/man_camrel.h"
#include "game/modes/skater_mode.h"
#include "game/race_setup.h"
#include "game/save_game.h"

namespace {

GameProbeFn g_frontEnd = nullptr;

constexpr float kFeetRayHeight = 10.0f;

// The in-game menu's pages by name; the menu keeps only their hashes.
const char* const kMenuPages[] = {
    "loadingScreenContinue", "pauseMenuMain",     "extraGames", "dieMenu",
    "newBestScore",          "notBeatenTopScore", "timeOver",   "unlockedTimeAttack",
    "unlockedHiddenPickups",
};

int Put(char* value, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(value, size, format, args);
    va_end(args);
    return 1;
}

int PutVec(char* value, size_t size, const Vec3& v) { return Put(value, size, "%.4f,%.4f,%.4f", v.x, v.y, v.z); }

// The decimal index after prefix ("character.3"), within 0..limit - 1; -1
// when the name is not that or the number is bad.
int IndexAfter(const char* name, const char* prefix, int limit)
{
    const size_t n = strlen(prefix);
    if (strncmp(name, prefix, n) || !name[n]) return -1;
    char* end = nullptr;
    const long v = strtol(name + n, &end, 10);
    if (*end || name[n] == '-' || name[n] == '+' || v < 0 || v >= limit) return -1;
    return (int)v;
}

int IsLive(const Object* object) { return object && Object_GetSerial(object) != 0; }

int CountFogged(void* item, void* count)
{
    if (((const RenderObj*)item)->blendFlags & RENDEROBJ_FOG) ++*(uint32_t*)count;
    return 0;
}

// The level's first player: the slot drawn in viewport 0 (slot 0 when none is).
int FirstPlayer()
{
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
        int viewport = -1;
        if (Player_GetViewportIndex(p, &viewport) && viewport == 0) return p;
    }
    return 0;
}

// The first player's entity while a level runs, or null.
Object* PlayerEntity()
{
    if (!Level_GetState()) return nullptr;
    Object* object = Level_GetPlayerEntity(FirstPlayer());
    return IsLive(object) ? object : nullptr;
}

const char* StateName()
{
    GameState* state = State_GetCurrent();
    if (!state) return "none";
    if (state->enter) return "starting";
    if (state->update == Game_Update) return "root";
    if (state->update == Level_Update) return "level";
    if (state->update == MemCardUI_StateUpdate) return "savescreens";
    return "other";
}

int ProbePage(char* value, size_t size)
{
    MenuSystem* menu = Level_GetState() ? Level_GetInGameMenu() : nullptr;
    if (!menu || !Menu_IsOpen(menu)) return Put(value, size, "none");
    const uint32_t hash = Menu_GetCurrentHash(menu);
    for (const char* page : kMenuPages)
        if (Menu_NameMatches(page, hash)) return Put(value, size, "%s", page);
    return Put(value, size, "#%08x", hash);
}

// The counts of the modes that keep them; 0 for a mode without the count.
enum Count { COUNT_LIVES, COUNT_SCORE, COUNT_PICKUPS };

int ProbeCount(Count which, char* value, size_t size)
{
    EntityRecord* record = Entity_GetRecord(PlayerEntity());
    if (!record || !record->modeData) return 0;
    if (record->mode == MODE_MAN_CAMREL) {
        const ManCamRelData* d = (const ManCamRelData*)record->modeData;
        const int32_t counts[] = {d->lives, d->score,
                                  d->scorePickupsCollected + d->hiddenCollected + d->levelCompCollected};
        return Put(value, size, "%d", counts[which]);
    }
    if (record->mode == MODE_BROOMSTICK) {
        const BroomStickData* d = (const BroomStickData*)record->modeData;
        const int32_t counts[] = {d->lives, d->score, d->scoreCollected + d->hiddenCollected};
        return Put(value, size, "%d", counts[which]);
    }
    if (record->mode == MODE_SKATER && which == COUNT_PICKUPS) {
        const SkaterData* d = (const SkaterData*)record->modeData;
        return Put(value, size, "%d", d->pickups4 + d->pickups5 + d->pickups7);
    }
    return 0;
}

struct NameSearch {
    const char* name;
    size_t length;
};

int MatchesName(void* item, void* arg)
{
    const Object* object = (const Object*)item;
    const NameSearch* search = (const NameSearch*)arg;
    return IsLive(object) && strlen(object->name) == search->length &&
           !strncmp(object->name, search->name, search->length);
}

// "entity.NAME.field": the named entity or level object's field.
int ProbeEntity(const char* name, char* value, size_t size)
{
    const char* first = name + strlen("entity.");
    const char* field = strrchr(first, '.');
    if (!field || field == first || !Level_GetState()) return 0;
    NameSearch search = {first, (size_t)(field - first)};
    field++;
    Object* object = nullptr;
    if (EntitySystem* system = EntitySystem_Get(); system && system->pool)
        object = (Object*)List_ForEach(system->pool, MatchesName, &search);
    if (!object && Level_GetObjectList()) object = (Object*)List_ForEach(Level_GetObjectList(), MatchesName, &search);
    if (!object) return 0;
    if (!strcmp(field, "pos")) {
        Vec3 position;
        Object_GetTransform(object, &position, nullptr, nullptr);
        return PutVec(value, size, position);
    }
    const EntityRecord* record = Entity_GetRecord(object);
    if (!record) return 0;
    if (!strcmp(field, "health")) return Put(value, size, "%.4f", record->health);
    if (!strcmp(field, "alpha")) return Put(value, size, "%.4f", record->animAlpha);
    return 0;
}

int ProbePlayer(const char* name, char* value, size_t size)
{
    Object* object = PlayerEntity();
    if (!object) return 0;
    const EntityRecord* record = Entity_GetRecord(object);
    if (!strcmp(name, "player.pos")) {
        Vec3 position = {0.0f, 0.0f, 0.0f};
        Object_GetTransform(object, &position, nullptr, nullptr);
        return PutVec(value, size, position);
    }
    if (!strcmp(name, "player.up")) {
        // The model's frame holds the up the control mode keeps (the Skater's
        // follows the floor while its body's axes stay locked upright); an
        // entity without a model has only its body's.
        Vec3 at = {0.0f, 0.0f, 1.0f}, up = {0.0f, 1.0f, 0.0f};
        if (!Entity_GetAnimRootOrientation(record, 0, &at, &up)) {
            if (!object->body && !object->node) return 0;
            Object_GetTransform(object, nullptr, &up, &at);
        }
        return PutVec(value, size, up);
    }
    if (!strcmp(name, "player.feet")) {
        // The lowest point of its body's first shape (a sphere's radius below
        // its centre) against the pick list's first surface straight below a
        // point well above it; a player's own body is not in the pick list.
        float radius = 0.0f;
        if (!object->body || !PhysBody_GetFirstPrimitiveValue(object->body, &radius)) return 0;
        Vec3 p, down = {0.0f, -1.0f, 0.0f};
        PhysBody_GetPosition(object->body, &p);
        const Vec3 above = {p.x, p.y + kFeetRayHeight, p.z};
        PhysRayHit hit;
        if (!PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &above, &down, 2.0f * kFeetRayHeight)) return 0;
        return Put(value, size, "%.4f", p.y - radius - hit.point.y);
    }
    if (!strcmp(name, "player.speed")) {
        if (!object->body) return 0;
        Vec3 v;
        PhysBody_GetLinearVelocity(object->body, &v);
        return Put(value, size, "%.4f", std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
    }
    if (!strcmp(name, "element") || !strcmp(name, "spin")) {
        const BattleBladesData* top = BattleBlades_GetData(object);
        if (!top) return 0;
        if (name[0] == 's') return Put(value, size, "%.4f", top->spin);
        static const char* const kElements[BLADE_ELEMENTS] = {"ice", "water", "fire"};
        if (top->element < 0 || top->element >= BLADE_ELEMENTS) return Put(value, size, "%d", top->element);
        return Put(value, size, "%s", kElements[top->element]);
    }
    if (!record) return 0;
    if (!strcmp(name, "mode")) {
        const char* mode = ControlMode_GetName(record->mode);
        return mode ? Put(value, size, "%s", mode) : 0;
    }
    if (!strcmp(name, "health")) return Put(value, size, "%.4f", record->health);
    if (!strcmp(name, "possessed")) return Put(value, size, "%d", record->heldFrom ? 1 : 0);
    if (!strcmp(name, "player.anim")) {
        if (!record->animSlotCount) return 0;
        const EntityAnimSlot& slot = record->animSlots[0];
        if (slot.current < 0) return Put(value, size, "-");
        if (slot.names && (uint32_t)slot.current < slot.nameCount && slot.names[slot.current])
            return Put(value, size, "%s", slot.names[slot.current]);
        return Put(value, size, "%d", slot.current);
    }
    return 0;
}

// A visual under the node (itself or a descendant) that the draw walk reaches.
bool ShowsVisual(const Node* node)
{
    if (node->flags & NODE_HIDDEN) return false;
    if (node->visual && node->alpha > 0.0f && !(node->flags & (NODE_NO_VISUAL | NODE_ZERO_SCALE))) return true;
    for (const Node* child = node->child; child; child = child->next)
        if (ShowsVisual(child)) return true;
    return false;
}

// 1 when the first player sees its character: the level's last frame
// (since its load) showed the level, not the loading image; the
// character's model is shown, standing where the character is (its slot 0
// follows the body); and it projects inside the player's view (640 x 480 on
// the virtual screen) at least a metre in front of the camera. 0 otherwise.
int ProbeInView(char* value, size_t size)
{
    const LevelState* level = Level_GetState();
    Object* object = PlayerEntity();
    const EntityRecord* record = Entity_GetRecord(object);
    int viewport = 0;
    if (!level || !record || !Player_GetViewportIndex(FirstPlayer(), &viewport)) return 0;
    const LevelViewport& vp = Level_GetSession()->viewports[viewport];
    const EntityAnimSlot* slot = record->animSlotCount ? &record->animSlots[0] : nullptr;
    Node* root = slot ? slot->root : nullptr;
    bool shown =
        root && vp.worldView && vp.cameraFrame && level->renderedOnce && !level->covered && record->animAlpha > 0.0f;
    for (const Node* n = root; shown && n; n = n->parent) shown = !(n->flags & NODE_HIDDEN);
    if (!shown || !ShowsVisual(root)) return Put(value, size, "0");
    Vec3 position, model, apart;
    Object_GetTransform(object, &position, nullptr, nullptr);
    Node_GetWorldPosition(root, &model);
    Vec3_Sub(&apart, &model, &position);
    if (slot->rbRelMode != ANIMSLOT_FREE && Vec3_LengthSq(&apart) > 0.25f) return Put(value, size, "0");
    Vec3 screen;
    View_ProjectPoint(vp.worldView, vp.cameraFrame, root, &screen, nullptr);
    const bool inside =
        screen.z >= 1.0f && screen.x >= 0.0f && screen.x <= 640.0f && screen.y >= 0.0f && screen.y <= 480.0f;
    return Put(value, size, "%d", inside ? 1 : 0);
}

int ProbeCameraHeading(char* value, size_t size)
{
    int viewport = 0;
    if (!PlayerEntity() || !Player_GetViewportIndex(FirstPlayer(), &viewport)) return 0;
    Node* frame = Level_GetSession()->viewports[viewport].cameraFrame;
    if (!frame) return 0;
    Vec3 at, up;
    Node_GetWorldOrientation(frame, &at, &up);
    return Put(value, size, "%.3f", std::atan2(at.x, at.z) * 180.0 / M_PI);
}

// The save screens' current message by its kind, "none" while they are
// not running.
int ProbeSaveScreen(char* value, size_t size)
{
    static const char* const kKinds[] = {"plain",  "question", "slots",      "files",   "check",
                                         "saving", "loading",  "formatting", "deleting"};
    const MemCardUI* ui = MemCardUI_Get();
    if (!ui->state) return Put(value, size, "none");
    const uint32_t kind = ui->message.kind;
    return Put(value, size, "%s", kind < sizeof kKinds / sizeof kKinds[0] ? kKinds[kind] : "other");
}

int ProbeSave(int position, char* value, size_t size)
{
    char fileName[256];
    Save_GetFileName(position, fileName, sizeof fileName);
    return Put(value, size, "%d", fileName[0] && Save_IsValid('A', fileName) ? 1 : 0);
}

int Answer(const char* name, char* value, size_t size)
{
    if (g_frontEnd && g_frontEnd(name, value, size)) return 1;
    const GameContext* context = Game_GetContext();
    if (!strcmp(name, "state")) return Put(value, size, "%s", StateName());
    if (!strcmp(name, "screen")) return Put(value, size, "none");
    if (!strcmp(name, "page")) return ProbePage(value, size);
    if (!strcmp(name, "savescreen")) return ProbeSaveScreen(value, size);
    if (!strcmp(name, "volume.music")) return Put(value, size, "%.4f", context->musicVolume);
    if (!strcmp(name, "volume.sfx")) return Put(value, size, "%.4f", context->effectsVolume);
    if (!strcmp(name, "restarts")) return Put(value, size, "%u", Level_GetRestartCount());
    if (!strcmp(name, "fogged")) {
        uint32_t fogged = 0;
        if (List* pool = RenderObj_GetPool()) List_ForEach(pool, CountFogged, &fogged);
        return Put(value, size, "%u", fogged);
    }
    if (int n = IndexAfter(name, "character.", GAME_PLAYER_SLOTS); n >= 0)
        return Put(value, size, "%u", context->characters[n]);
    if (int n = IndexAfter(name, "progress.", GAME_PROGRESS_ENTRIES); n >= 0)
        return Put(value, size, "%u", context->progress.flags[n]);
    if (int n = IndexAfter(name, "save.", SAVE_FILE_POSITIONS + 1); n >= 1) return ProbeSave(n - 1, value, size);
    if (!strncmp(name, "entity.", 7)) return ProbeEntity(name, value, size);
    if (!strcmp(name, "lives")) return ProbeCount(COUNT_LIVES, value, size);
    if (!strcmp(name, "score")) return ProbeCount(COUNT_SCORE, value, size);
    if (!strcmp(name, "pickups")) return ProbeCount(COUNT_PICKUPS, value, size);
    if (!strcmp(name, "camera.heading")) return ProbeCameraHeading(value, size);
    if (!strcmp(name, "player.inview")) return ProbeInView(value, size);
    // The level's own words, while a level runs.
    LevelState* level = Level_GetState();
    if (!strcmp(name, "level")) return Put(value, size, "%s", level ? GameSetup_GetLevel(level->levelIndex) : "none");
    if (!level) return 0;
    if (!strcmp(name, "rule")) {
        const char* rule = Level_GetRuleText(Level_GetGameRule());
        return rule ? Put(value, size, "%s", rule) : 0;
    }
    if (!strcmp(name, "covered")) return Put(value, size, "%u", level->covered);
    if (!strcmp(name, "clock")) return Put(value, size, "%.4f", Level_GetClock());
    if (!strcmp(name, "ruleclock")) return Put(value, size, "%.4f", Level_GetClock2());
    return ProbePlayer(name, value, size);
}

}  // namespace

int GameProbe_Get(const char* name, char* value, size_t size)
{
    if (!name || !value || !size) return 0;
    value[0] = 0;
    if (Answer(name, value, size)) return 1;
    value[0] = 0;
    return 0;
}

void GameProbe_SetFrontEndProbe(GameProbeFn probe) { g_frontEnd = probe; }
