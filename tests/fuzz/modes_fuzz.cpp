// Fuzzes what the control modes read, each input in a minimal level (a
// ground, a physics world, no rendering). An even first byte: a walking or
// creature mode, every key of its key table given a value (missing, 0,
// negative, huge or from the input), a few animation event texts and 60
// frames of pad input, written as text and compiled; the body and node stay
// finite. An odd one: a skating, rolling, flying or battling mode, its
// section number and pad, then a compiled configuration, loaded (pass 0,
// then the level's), restarted both ways, stepped and freed, with the tail
// as BroomStick event texts.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/memory.h"
#include "engine/physbody.h"
#include "game/control_mode.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/man_camrel.h"
#include "game/modes/man_mode.h"
#include "game/modes/skitter.h"
#include "game/modes/small_modes.h"
#include "game/modes/vehicle_modes.h"
#include "game/modes/walking_modes.h"
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
        return std::bit_cast<float>(bits);
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

const char* const kEvents[] = {"ProjType",
                               "ProjType,0",
                               "ProjType,9",
                               "ProjType,-1",
                               "Message",
                               "Message,0,activate,GROUP",
                               "Message,x,deactivate,A,B,C,D,E",
                               ",,,,,,,,,",
                               "",
                               "ProjType,99999999999999"};

// The level modules with every mode, a ground and player 0's camera, for
// the length of one input (over the configuration served when it starts).
struct Level {
    EntityModules modules;
    Node* camera;

    Level()
    {
        WalkingModes_Register();
        if (!EntityModules_Start(&modules) || !VehicleModes_Register()) abort();
        Game_SetFrameTime(0.02f);
        PhysBody* ground = PhysBody_Create(modules.phys, 100.0f, 0.0f);
        PhysBody_SetCollisionGroup(ground, 1);
        const Vec3 centre = {0.0f, -100.0f, 0.0f};
        PhysWorld_AddBody(modules.phys, ground, &centre, nullptr, nullptr);
        PhysContacts_AddBody(ground);
        Player_SetViewportIndex(0, 0);
        Level_SetNumPlayerEntities(1);
        Level_SetNumViewports(1);
        camera = Node_Create(ObjectWorld_GetRootNode());
        const Vec3 eye = {0, 3, -6};
        Node_SetWorldPosition(camera, &eye);
        Viewport_SetCameraFrame(0, camera);
    }
    ~Level()
    {
        Viewport_SetCameraFrame(0, nullptr);
        Node_Destroy(camera);
        EntityModules_Stop(&modules);
        for (uint32_t m = 0; m < CONTROL_MODES; ++m) ControlMode_Register(m, nullptr, 0);
    }
};

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void Walk(Input& in)
{
    static const char* const kModes[] = {"Man_CamRel", "Man", "Skitter", "Flitter", "Butterfly"};
    const ModeKeyTable* tables[] = {ManCamRelMode_GetKeyTable(), ManMode_GetKeyTable(), SkitterMode_GetKeyTable(),
                                    FlitterMode_GetKeyTable(), ButterflyMode_GetKeyTable()};
    const int mode = in.Byte() % 5;
    std::string text = std::string(
                           "Object {\n Description {\n  Name = Fuzz\n  VisualModel = NOVISUAL\n"
                           "  PhysicalModel = SPHERE0.5\n  Mass = 1\n  Active = TRUE\n  CollisionGroup = 2\n"
                           "  Constructor = Entity_Constructor\n  Destructor = Entity_Destructor\n"
                           "  Update = Entity_Update\n  Collision = Entity_Collision\n }\n}\n"
                           "vehicle {\n vehicleData {\n  ControlMode = ") +
                       kModes[mode] + "\n  maxVelocity = 50\n  VehicleHeight = 1\n }\n controlData {\n" +
                       Keys(tables[mode], in) + " }\n}\n";
    std::vector<uint8_t> compiled;
    CfgcError error;
    if (!Cfgc_Compile(text.data(), text.size(), &compiled, &error) || compiled.empty()) return;
    fuzz::Serve(compiled.data(), compiled.size());
    Level level;
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
}

void Drive(const uint8_t* data, size_t size)
{
    static const uint32_t kModes[] = {MODE_SKATER,   MODE_FAKETILT,   MODE_BATTLEBLADES, MODE_BALL,
                                      MODE_AIRPLANE, MODE_CAMERAMODE, MODE_BROOMSTICK};
    if (size < 8) return;
    const uint32_t mode = kModes[data[0] % (sizeof kModes / sizeof kModes[0])];
    const int32_t pass = data[1] % 4;
    PlayerInputRecord input{};
    input.stickX = ((int)data[2] - 128) / 100.0f;
    input.stickY = ((int)data[3] - 128) / 100.0f;
    input.buttons = (uint32_t)data[4] << 4 | (uint32_t)data[5] << 12;
    fuzz::Serve(data + 6, size - 6);
    Level level;
    ConfigNode* reader = Config_Open("Fuzz.cfg");
    if (!reader) return;
    Config_SetSection(reader, "vehicle");

    EntityRecord record{};
    record.mode = mode;
    record.slots = *ControlMode_GetSlots(mode);
    record.modeData = Mem_Calloc(ControlMode_GetDataSize(mode), 8);
    record.player = 1;
    record.flags = ENTITY_ALIVE | ENTITY_PLAYER_RECORD;
    record.maxVelocity = data[5] & 1 ? 0.0f : 30.0f;
    record.vehicleHeight = 1.0f;
    record.startAt = {0.0f, 0.0f, 1.0f};
    record.startUp = {0.0f, 1.0f, 0.0f};
    Object object{};
    object.node = Node_Create(ObjectWorld_GetRootNode());
    object.body = PhysBody_Create(level.modules.phys, 0.5f, 1.0f);
    const Vec3 at = {0.0f, 5.0f, 0.0f};
    PhysWorld_AddBody(level.modules.phys, object.body, &at, nullptr, nullptr);
    object.userInt = ENTITY_USER_INT;
    object.serial = 1;
    object.userData = &record;
    const ControlModeSlots& s = record.slots;
    s.load(reader, record.modeData, &record, &object, 0);
    s.load(reader, record.modeData, &record, &object, pass);
    Config_Close(reader);
    for (int restart = 1; restart >= 0; --restart) {
        if (s.restart) s.restart(&object, &record, restart);
        for (int frame = 0; frame < 4; ++frame) {
            record.clock += 0.02f;
            PlayerInputRecord zero{};
            if (s.rules) s.rules(&object, &record, &zero);
            if (s.route && (frame & 1)) s.route(&object, &record, &input);
            if (s.update) s.update(&object, &record, &input);
            input.oldButtons = input.buttons;
            input.buttons ^= (uint32_t)data[frame % size] << 4;
        }
    }
    if (mode == MODE_BROOMSTICK) {
        // The tail as event texts, split at zero bytes; the set stands for
        // the entity's animation set.
        AnimSet set{};
        set.object = &object;
        char text[300];
        for (size_t at = size > 64 ? size - 64 : 6; at < size;) {
            size_t n = 0;
            while (at < size && data[at] && n < sizeof text - 1) text[n++] = (char)data[at++];
            text[n] = 0;
            ++at;
            BroomStickMode_Message(&set, text, object.node, 0, 0.0f, 0.0f);
            BroomStickMode_Message(&set, text, object.node, (int32_t)(n & 1), 0.0f, 0.0f);
        }
        BroomStickMode_Detach(&record);
    }
    if (s.free) s.free(&record);
    Mem_Free(record.modeData);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    fuzz::StartGame();
    Input in = {data + 1, size - 1, 0};
    if (data[0] & 1) Drive(data + 1, size - 1);
    else Walk(in);
    return 0;
}
