#include "game/ai_route.h"

#include <gtest/gtest.h>

#include <cmath>

#include "entity_fixture.h"

using namespace entitytest;

namespace {

class AiRouteTest : public EntityTest {
protected:
    void TearDown() override
    {
        Route_Free(&route);
        EntityTest::TearDown();
    }
    // A route set of one animation from z = 0 to z = 10 in 2 s, loaded for the holder.
    void Load()
    {
        LwsWriterScene s;
        s.lastFrame = 60;
        s.items = {entitytest::Item("Route", V(0, 0, 0))};
        s.items[0].keys.push_back(LwsWriterKey{2.0f, {0, 0, 10}});
        WriteData("Routes\\Path_a.lws", LwsWriter_Write(s));
        AtfWriterSet atf;
        atf.animations.push_back({SCENE_NODES_ONLY, 0, "Routes\\Path_a.lws", "a"});
        std::vector<uint8_t> bytes = AtfWriter_Encode(atf);
        WriteData(AtfWriter_CacheName("Routes\\Path", "ANIM"), std::string(bytes.begin(), bytes.end()));
        WriteConfig("Route.cfg", "vehicle {\n controlData {\naiRoutesAnim = Routes\\Path\n }\n}\n");
        ConfigNode* reader = Config_Open("Route.cfg");
        Config_SetSection(reader, "vehicle");
        holder.node = Node_Create(ObjectWorld_GetRootNode());
        Route_LoadConfig(reader, "controlData", &holder, &route, 1);
        Config_Close(reader);
    }
    Vec3 RoutePoint()
    {
        Vec3 p;
        Node_GetWorldPosition(route.item, &p);
        return p;
    }
    int Update(Vec3 position, Vec3* steering)
    {
        return Route_Update(steering, &route, &position, nullptr, nullptr, nullptr);
    }

    AiRoute route{};
    Object holder{};
};

TEST_F(AiRouteTest, TheRouteWaitsAtTheCatchUpDistanceMeasuredFlat)
{
    Load();
    Vec3 steering;
    // The flat distance counts a height of 0.01, whatever the entity's height:
    // at exactly the catch-up distance the route waits, just inside it advances.
    for (bool inside : {false, true}) {
        Vec3 p = RoutePoint();
        Vec3 entityAt = V(p.x, p.y + 5.0f, p.z - 2.0f);
        float flat = std::sqrt(0.0f + 0.01f * 0.01f + 2.0f * 2.0f);
        route.catchUpDist = inside ? std::nextafter(flat, 10.0f) : flat;
        float before = AnimSet_GetTime(route.set);
        ASSERT_EQ(Update(entityAt, &steering), 1);
        EXPECT_EQ(Route_IsWaiting(&route), inside ? 0 : 1);
        EXPECT_EQ(AnimSet_GetTime(route.set) > before, inside);
        EXPECT_NEAR(steering.y, -5.0f, 1e-5) << "the height difference";
    }
    // With the 3D test the height counts.
    route.flags |= ROUTE_WAIT_3D;
    route.catchUpDist = 3.0f;
    Vec3 p = RoutePoint();
    Update(V(p.x, p.y + 5.0f, p.z - 2.0f), &steering);
    EXPECT_TRUE(Route_IsWaiting(&route));
}

}  // namespace
