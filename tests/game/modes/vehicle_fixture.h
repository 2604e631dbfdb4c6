// The walking modes' test level (modes_fixture.h) with the vehicle modes
// registered too, a camera frame per viewport, scripted pads for every
// player, player starts as the level state reads them, a counting restart
// callback that does what the level state's does, and static boxes.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "engine/physshape.h"
#include "game/modes/vehicle_common.h"
#include "game/modes/vehicle_modes.h"
#include "modes_fixture.h"
#include "tools/lib/rbswrite.h"

namespace vehicletest {

inline int g_restarts = 0;
inline void CountRestart(uint32_t)
{
    g_restarts++;
    Level_SetClock2(0.0f);
    Level_RaiseEvents(LEVEL_EVENT_RESPAWN);
}

}  // namespace vehicletest

class VehicleTest : public ModesTest {
protected:
    void SetUp() override
    {
        ModesTest::SetUp();
        ASSERT_EQ(VehicleModes_Register(), 1);
        vehicletest::g_restarts = 0;
        Level_SetRestartCallback(vehicletest::CountRestart);
        for (int p = 0; p < GAME_LEVEL_PLAYERS; ++p) scripted[p] = true;
        for (int v = 0; v < LEVEL_VIEWPORTS; ++v) {
            LevelViewport& vp = Level_GetSession()->viewports[v];
            vp.cameraFrame = Node_Create(ObjectWorld_GetRootNode());
            vp.rect[0] = vp.rect[1] = 0.0f;
            vp.rect[2] = vp.rect[3] = 1.0f;
        }
    }

    // A static box (convex shape file) of half sizes h centred at c, turned
    // by the frame (at, up), in collision group 1 and the pick list.
    PhysBody* Box(Vec3 h, Vec3 c, Vec3 at = {0, 0, 1}, Vec3 up = {0, 1, 0})
    {
        std::vector<uint8_t> bytes = Rbs_Write({Rbs_Box(0.0f, h.x, h.y, h.z)});
        PhysBody* body = PhysShape_ParseRbs(bytes.data(), bytes.size(), phys);
        if (!body) return nullptr;
        PhysBody_SetCollisionGroup(body, 1);
        PhysWorld_AddBody(phys, body, &c, &at, &up);
        PhysContacts_AddBody(body);
        return body;
    }
    // A flat floor whose top is at height y.
    PhysBody* Floor(float y = 0.0f, float half = 50.0f) { return Box({half, 1.0f, half}, {0, y - 1.0f, 0}); }

    // The level scene of ModesTest::WriteLevel (player p starts at (10 p, y,
    // 0)), with the starts also in the session as the level state reads them.
    void WriteLevel(std::vector<LwsWriterItem> extra = {}, float y = 1.0f)
    {
        ModesTest::WriteLevel(extra, y);
        const Vec3 at = {0, 0, 1}, up = {0, 1, 0};
        for (int p = 0; p < 4; ++p) {
            const Vec3 start = entitytest::V(10.0f * p, y, 0);
            Player_SetStart(p, &start, &at, &up);
        }
    }

    // WriteCharacter with the animations given first.
    void WriteMode(const std::string& path, const char* mode, const Anims& anims, const std::string& control,
                   const std::string& vehicleData = "", const std::string& more = "")
    {
        WriteCharacter(path, mode, control, vehicleData, anims, {}, more);
    }
    // Builds the level's entities (one human player unless SetPlayers said
    // otherwise); returns player 0's entity.
    Object* Build()
    {
        if (Level_GetNumPlayerEntities() == 0) SetPlayers({1});
        Entity_CreateFromLevel("Levels\\Test\\Level.lws");
        return Level_GetPlayerEntity(0);
    }

    // Player 0's scripted pad for the following frames.
    void Pad(float x, float y, uint32_t buttons = 0, uint32_t oldButtons = 0)
    {
        scripted[0] = true;
        script[0].stickX = x;
        script[0].stickY = y;
        script[0].buttons = buttons;
        script[0].oldButtons = oldButtons;
    }

    // Frames until the entity rests on the ground (bounces over); false after 5 s.
    bool Settle(Object* o)
    {
        for (int i = 0; i < 250; ++i) {
            Frame();
            Vec3 v = Velocity(o);
            if ((Entity_GetRecord(o)->flags & ENTITY_ON_GROUND) && Vec3_LengthSq(&v) < 0.01f) return true;
        }
        return false;
    }

    template <typename T>
    static T* Data(Object* o)
    {
        return (T*)Entity_GetRecord(o)->modeData;
    }
};

using namespace vehicletest;
