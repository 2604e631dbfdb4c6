#include "game/ai_route.h"

#include <gtest/gtest.h>

#include <cmath>

#include "entity_fixture.h"

using namespace entitytest;

namespace {

int g_random = 0;
int Random() { return g_random; }

class AiRouteTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        g_random = 0;
        Game_SetRandomSource(Random);
        holder.node = Node_Create(ObjectWorld_GetRootNode());
        // Route 0 runs from z = 0 to z = 10 in 2 s; route 1 from x = 0 to x = 10 in 1 s.
        WriteRouteScene("Routes\\Path_a.lws", 2.0f, V(0, 0, 10));
        WriteRouteScene("Routes\\Path_b.lws", 1.0f, V(10, 0, 0));
        WriteRouteSet("Routes\\Path", {"a", "b"});
        WriteRouteSet("Routes\\Single", {"a"});
    }
    void TearDown() override
    {
        Route_Free(&route);
        EntityTest::TearDown();
    }
    void WriteRouteScene(const char* path, float seconds, Vec3 end)
    {
        LwsWriterScene s;
        s.lastFrame = (int)std::lround(seconds * 30.0f);
        s.items = {entitytest::Item("Route", V(0, 0, 0))};
        s.items[0].keys.push_back(LwsWriterKey{seconds, {end.x, end.y, end.z}});
        WriteData(path, LwsWriter_Write(s));
    }
    void WriteRouteSet(const char* set, std::vector<std::string> names)
    {
        AtfWriterSet atf;
        for (const std::string& n : names)
            atf.animations.push_back({SCENE_NODES_ONLY, 0, "Routes\\Path_" + n + ".lws", n});
        std::vector<uint8_t> bytes = AtfWriter_Encode(atf);
        WriteData(AtfWriter_CacheName(set, "ANIM"), std::string(bytes.begin(), bytes.end()));
    }
    void Load(const std::string& keys, int defaults = 1, const char* section = "controlData")
    {
        WriteConfig("Route.cfg", std::string("vehicle {\n ") + section + " {\n" + keys + "\n }\n}\n");
        ConfigNode* reader = Config_Open("Route.cfg");
        Config_SetSection(reader, "vehicle");
        Route_LoadConfig(reader, section, &holder, &route, defaults);
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
    Load("aiRoutesAnim = Routes\\Path");
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
    // A body with inertia pushed by the steering, thrown sideways: the turn correction steers its drift out in a
    // second.
    for (float side : {6.0f, -6.0f}) {
        Route_Free(&route);
        Load("aiAllowCatchUpDist = 3\naiRoutesAnim = Routes\\Path");
        Vec3 position = V(0, 0, 0), v = V(side, 0, 0);
        for (int i = 0; i < 400; ++i) {
            Update(position, &steering);
            v = V((v.x + steering.x * 20.0f * dt) * (1 - 2 * dt), 0, (v.z + steering.z * 20.0f * dt) * (1 - 2 * dt));
            position = V(position.x + v.x * dt, 0, position.z + v.z * dt);
            ASSERT_TRUE(i < 50 || std::fabs(position.x) < 0.2f) << side << " at frame " << i;
        }
    }
}

TEST_F(AiRouteTest, RoutesSwitchAtTheirEndsOnlyWhenAnotherIsChosen)
{
    Load("aiAllowCatchUpDist = 100\naiRandomRoutes = TRUE\naiRoutesAnim = Routes\\Single");
    Vec3 steering;
    for (int i = 0; i < 150; ++i) Update(RoutePoint(), &steering);
    EXPECT_EQ(AnimSet_GetCurrentIndex(route.set), 0) << "one animation never switches";
    EXPECT_NEAR(RoutePoint().z, 10.0f, 1e-3) << "and stays at its end";

    Load("aiRandomRoutes = FALSE\naiRoutesAnim = Routes\\Path", 0);
    Route_Reset(&route, nullptr, 0);
    Route_SetNextIndex(&route, 1);
    EXPECT_TRUE(route.flags & ROUTE_NEXT_REQUESTED);
    for (int i = 0; i < 200 && AnimSet_GetCurrentIndex(route.set) == 0; ++i) Update(RoutePoint(), &steering);
    EXPECT_EQ(AnimSet_GetCurrentIndex(route.set), 1);
    EXPECT_FALSE(route.flags & ROUTE_NEXT_REQUESTED);
    EXPECT_LT(AnimSet_GetTime(route.set), 0.1f) << "the new route starts from its beginning";
    // Random routes draw; the same index leaves the ended route alone.
    route.flags |= ROUTE_RANDOM;
    g_random = 1;
    for (int i = 0; i < 60; ++i) Update(RoutePoint(), &steering);
    EXPECT_EQ(AnimSet_GetCurrentIndex(route.set), 1);
    g_random = 2;  // 2 mod 2 = 0
    for (int i = 0; i < 3; ++i) Update(RoutePoint(), &steering);
    EXPECT_EQ(AnimSet_GetCurrentIndex(route.set), 0);
}

}  // namespace
