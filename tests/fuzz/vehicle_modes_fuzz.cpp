// Fuzzes what the skating, rolling, flying and battling control modes read.
// The first byte chooses the mode, the second the level's section number,
// the next four the pad, and the rest is a compiled configuration served for
// every file. The mode's data (pass 0, then the level's pass) is loaded into
// a player entity of a minimal level set up once, restarted both ways, run
// through its rules, route and movement steps and freed; the tail also goes
// to the BroomStick's key-event handler as event texts.
#include <cstdlib>

#include "common/memory.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/control_mode.h"
#include "game/entity.h"
#include "game/level_session.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/vehicle_modes.h"
#include "game_fuzz_files.h"
#include "tests/game/entity_modules.h"

namespace {

const uint32_t kModes[] = {MODE_SKATER,   MODE_FAKETILT,   MODE_BATTLEBLADES, MODE_BALL,
                           MODE_AIRPLANE, MODE_CAMERAMODE, MODE_BROOMSTICK};

struct Level {
    EntityModules modules;
    Object object;
    AnimSet set;  // stands for the entity's animation set in key events
};

Level* Start()
{
    static Level* level = nullptr;
    if (level) return level;
    fuzz::StartGame();
    level = new Level{};
    if (!EntityModules_Start(&level->modules) || !VehicleModes_Register()) abort();
    Level_SetNumPlayerEntities(1);
    Player_SetViewportIndex(0, 0);
    Level_GetSession()->viewports[0].cameraFrame = Node_Create(ObjectWorld_GetRootNode());
    Object& o = level->object;
    o.node = Node_Create(ObjectWorld_GetRootNode());
    o.body = PhysBody_Create(level->modules.phys, 0.5f, 1.0f);
    const Vec3 at = {0.0f, 5.0f, 0.0f};
    PhysWorld_AddBody(level->modules.phys, o.body, &at, nullptr, nullptr);
    o.userInt = ENTITY_USER_INT;
    o.serial = 1;
    level->set.object = &o;
    return level;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8) return 0;
    Level* level = Start();
    const uint32_t mode = kModes[data[0] % (sizeof kModes / sizeof kModes[0])];
    const int32_t pass = data[1] % 4;
    const float stickX = ((int)data[2] - 128) / 100.0f, stickY = ((int)data[3] - 128) / 100.0f;
    const uint32_t buttons = (uint32_t)data[4] << 4 | (uint32_t)data[5] << 12;
    // A fresh projectile pool: the weapon lists read make their shots there.
    Projectile_DestroyPool();
    Projectile_CreatePool();
    fuzz::Serve(data + 6, size - 6);
    ConfigNode* reader = Config_Open("Fuzz.cfg");
    if (!reader) return 0;
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
    Object* object = &level->object;
    object->userData = &record;
    const ControlModeSlots& s = record.slots;

    s.load(reader, record.modeData, &record, object, 0);
    s.load(reader, record.modeData, &record, object, pass);
    Config_Close(reader);
    PlayerInputRecord input{};
    input.stickX = stickX;
    input.stickY = stickY;
    input.buttons = buttons;
    for (int restart = 1; restart >= 0; --restart) {
        if (s.restart) s.restart(object, &record, restart);
        for (int frame = 0; frame < 4; ++frame) {
            record.clock += 0.02f;
            PlayerInputRecord zero{};
            if (s.rules) s.rules(object, &record, &zero);
            if (s.route && (frame & 1)) s.route(object, &record, &input);
            if (s.update) s.update(object, &record, &input);
            input.oldButtons = input.buttons;
            input.buttons ^= (uint32_t)data[frame % size] << 4;
        }
    }
    if (mode == MODE_BROOMSTICK) {
        // The tail as event texts, split at zero bytes.
        char text[300];
        size_t start = size > 64 ? size - 64 : 6;
        for (size_t at = start; at < size;) {
            size_t n = 0;
            while (at < size && data[at] && n < sizeof text - 1) text[n++] = (char)data[at++];
            text[n] = 0;
            ++at;
            BroomStickMode_Message(&level->set, text, object->node, 0, 0.0f, 0.0f);
            BroomStickMode_Message(&level->set, text, object->node, (int32_t)(n & 1), 0.0f, 0.0f);
        }
        BroomStickMode_Detach(&record);
    }
    if (s.free) s.free(&record);
    object->userData = nullptr;
    Mem_Free(record.modeData);
    return 0;
}
