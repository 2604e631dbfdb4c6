// Fuzzes the walking and creature control modes: the input chooses a mode
// (Man_CamRel, Man, Skitter, Flitter or Butterfly), the value of every key
// of its key table (missing, 0, negative, huge or a number of the input), a
// few animation event texts for the message slot and 60 frames of pad
// input. The configuration is written as text, compiled and served; one
// entity of it plays in a minimal level (a ground, a physics world, no
// rendering), and the body's position and velocity and the node's
// orientation stay finite.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "game/entity.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/man_camrel.h"
#include "game/modes/man_mode.h"
#include "game/modes/skitter.h"
#include "game/modes/small_modes.h"
#include "game/modes/walking_modes.h"
#include "game/projectile.h"
#include "game/viewports.h"
#include "game_fuzz_files.h"
#include "tests/game/entity_modules.h"
#include "tools/lib/cfgc.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size, at;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    float Float()
    {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits = bits << 8 | Byte();
        float f;
        memcpy(&f, &bits, sizeof f);
        return f;
    }
};

std::string Number(Input& in, bool integer)
{
    static const char* const kFixed[4][2] = {{"0", "0"}, {"-3", "-3.5"}, {"2147483647", "1e30"}, {"2", "2.5"}};
    char text[64];
    const int pick = in.Byte() % 6;
    if (pick < 4) return kFixed[pick][integer ? 0 : 1];
    if (pick == 4) snprintf(text, sizeof text, integer ? "%.0f" : "%g", (double)in.Float());
    else snprintf(text, sizeof text, "%d", (int)(int8_t)in.Byte());
    return text;
}

// "key = value" lines for the table, some keys missing; type masks, a speed
// table, a camera and areas.
std::string Keys(const ModeKeyTable* table, Input& in)
{
    std::string text;
    for (uint32_t i = 0; i < table->count; ++i) {
        const ModeKey& k = table->keys[i];
        if (in.Byte() % 4 == 0) continue;
        std::string value;
        if (k.kind == MODEKEY_BOOL || k.kind == MODEKEY_FLAG) value = (in.Byte() & 1) ? "TRUE" : "FALSE";
        const int numbers = k.kind == MODEKEY_VEC3 ? 3 : k.kind == MODEKEY_VEC2 ? 2 : value.empty() ? 1 : 0;
        for (int n = 0; n < numbers; ++n) value += (n ? ", " : "") + Number(in, k.kind == MODEKEY_INT);
        text += std::string("  ") + k.name + " = " + value + "\n";
    }
    text += "  entityTypeToAttack0 = " + Number(in, true) + "\n  aiEntityTypeToAttack0 = " + Number(in, true) + "\n";
    text += "  aiSpeed0 = " + Number(in, false) + "\n  aiSpeed0AnimNum = " + Number(in, true) +
            "\n  aiSpeed0OnNonAttack = TRUE\n";
    if (in.Byte() & 1) text += "  genCamData {\n   defaultDistance = " + Number(in, false) + "\n  }\n";
    text += "  colAreas {\n   Area0Val1 = " + Number(in, false) + "\n   Area0Val2 = " + Number(in, false) +
            "\n   Area0WeakArea = TRUE\n   Area0DamageArea = TRUE\n  }\n";
    return text;
}

const char* const kEvents[] = {"ProjType", "ProjType,0", "ProjType,9", "ProjType,-1", "Message",
                               "Message,0,activate,GROUP", "Message,x,deactivate,A,B,C,D,E", ",,,,,,,,,",
                               "", "ProjType,99999999999999"};

struct Level {
    EntityModules modules;
    Node* camera;
};

// The level modules with the walking modes, a ground and player 0's camera.
bool Open(Level& l)
{
    WalkingModes_Register();
    if (!EntityModules_Start(&l.modules)) return false;
    Game_SetFrameTime(0.02f);
    PhysBody* ground = PhysBody_Create(l.modules.phys, 100.0f, 0.0f);
    PhysBody_SetCollisionGroup(ground, 1);
    const Vec3 centre = {0.0f, -100.0f, 0.0f};
    PhysWorld_AddBody(l.modules.phys, ground, &centre, nullptr, nullptr);
    PhysContacts_AddBody(ground);
    Player_SetViewportIndex(0, 0);
    Level_SetNumPlayerEntities(1);
    Level_SetNumViewports(1);
    l.camera = Node_Create(ObjectWorld_GetRootNode());
    const Vec3 eye = {0, 3, -6};
    Node_SetWorldPosition(l.camera, &eye);
    Viewport_SetCameraFrame(0, l.camera);
    return true;
}

void Close(Level& l)
{
    Viewport_SetCameraFrame(0, nullptr);
    Node_Destroy(l.camera);
    EntityModules_Stop(&l.modules);
    for (uint32_t m = 0; m < CONTROL_MODES; ++m) ControlMode_Register(m, nullptr, 0);
}

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    Input in = {data, size, 0};
    static const char* const kModes[] = {"Man_CamRel", "Man", "Skitter", "Flitter", "Butterfly"};
    const ModeKeyTable* tables[] = {ManCamRelMode_GetKeyTable(), ManMode_GetKeyTable(), SkitterMode_GetKeyTable(),
                                    FlitterMode_GetKeyTable(), ButterflyMode_GetKeyTable()};
    const int mode = in.Byte() % 5;
    std::string text = std::string("Object {\n Description {\n  Name = Fuzz\n  VisualModel = NOVISUAL\n"
                                   "  PhysicalModel = SPHERE0.5\n  Mass = 1\n  Active = TRUE\n  CollisionGroup = 2\n"
                                   "  Constructor = Entity_Constructor\n  Destructor = Entity_Destructor\n"
                                   "  Update = Entity_Update\n  Collision = Entity_Collision\n }\n}\n"
                                   "vehicle {\n vehicleData {\n  ControlMode = ") +
                       kModes[mode] + "\n  maxVelocity = 50\n  VehicleHeight = 1\n }\n controlData {\n" +
                       Keys(tables[mode], in) + " }\n}\n";
    std::vector<uint8_t> compiled;
    CfgcError error;
    if (!Cfgc_Compile(text.data(), text.size(), &compiled, &error) || compiled.empty()) return 0;
    fuzz::Serve(compiled.data(), compiled.size());

    Level level{};
    if (!Open(level)) abort();
    // A Skitter plays as an enemy (its AI drives it); the others as player 0.
    const bool enemy = mode == 2 && (in.Byte() & 1);
    Object* o = Entity_LoadData(nullptr, "Fuzz.cfg", nullptr, enemy ? 0 : 1, enemy ? 1 : 0,
                                enemy ? (ENTITY_ALIVE | ENTITY_ROUTE_DRIVEN) : (ENTITY_ALIVE | ENTITY_PLAYER_RECORD));
    EntityRecord* record = Entity_GetRecord(o);
    if (!enemy) Level_SetPlayerEntity(0, o);
    if (record && record->slots.message) {
        AnimSet fake{};
        fake.object = o;
        Node* item = Node_Create(ObjectWorld_GetRootNode());
        for (int i = 0; i < 4; ++i) {
            const char* event = kEvents[in.Byte() % (sizeof kEvents / sizeof kEvents[0])];
            record->slots.message(&fake, event, item, in.Byte() & 1, 0.0f, 0.0f);
        }
        // Shots held for the fake set are let go before it goes.
        if (record->slots.detach) record->slots.detach(record);
        Node_Destroy(item);
    }
    for (int frame = 0; frame < 60; ++frame) {
        Rules_Update(0.02f);
        PlayerInputRecord* pad = Player_GetInputRecord(0);
        const uint32_t previous = pad->buttons;
        for (float* axis : {&pad->stickX, &pad->stickY, &pad->stick2X, &pad->stick2Y})
            *axis = ((int)in.Byte() - 128) / 128.0f;
        pad->buttons = (uint32_t)in.Byte() << 4 | in.Byte() >> 4;
        pad->oldButtons = previous;
        PhysWorld_Step(level.modules.phys, 0.02f);
        Level_UpdateObjects(0.02f);
        const float dt = 0.02f;
        ObjectPool_Update(level.modules.objects, &dt);
        Projectile_UpdatePool(0.02f);
        Object* player = Level_GetPlayerEntity(0);
        for (Object* x : {o, player}) {
            if (!x || !x->body) continue;
            Vec3 p, v;
            PhysBody_GetPosition(x->body, &p);
            PhysBody_GetLinearVelocity(x->body, &v);
            Vec3 at{}, up{};
            if (x->node) Node_GetWorldOrientation(x->node, &at, &up);
            if (!Finite(p) || !Finite(v) || !Finite(at) || !Finite(up)) abort();
        }
    }
    Close(level);
    return 0;
}
