// Shared set-up of the engine's physics tests: the memory hooks, one default
// world and the pick list; the physics engine's warnings are counted instead
// of printed. The recording stand-ins of the step and ray seams live here
// too.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/file.h"
#include "engine_fixture.h"
#include "gfx/core/engine.h"
#include "tools/lib/lwowrite.h"

#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "physics/base/phys_warning.h"
#include "physics/dynamics/phys_time.h"
#include "physics/dynamics/rigid_body.h"

namespace phys_test {

inline int g_warnings = 0;
inline void CountWarning(const char*, const char*, const char*, int) { ++g_warnings; }

// Every call of the step seam, as the stand-in saw it.
struct StepCall {
    double time;
    int subSteps;
};
inline std::vector<StepCall> g_steps;
inline void RecordStep(DynWorld*, PhysTime time, int subSteps) { g_steps.push_back({PhysTime_ToSeconds(time), subSteps}); }

// The ray seam's stand-in: records every cast and answers from a script
// (one result per cast in order; a miss once the script runs out).
struct RayCall {
    Vec3 from, to;
    PrimitiveCollector* collector;
};
inline std::vector<RayCall> g_rays;
inline std::vector<PhysRayResult> g_rayScript;
inline void ScriptedRay(PrimitiveCollector* c, const Vec3* from, const Vec3* to, PhysRayResult* out)
{
    size_t i = g_rays.size();
    g_rays.push_back({*from, *to, c});
    *out = i < g_rayScript.size() ? g_rayScript[i] : PhysRayResult{};
}

inline Vec3 V(float x, float y, float z) { return Vec3{x, y, z}; }

// A model of triangulated boxes of half extent h, one layer per centre.
inline LwoWriterObject BoxModel(float h, const std::vector<Vec3>& centres = {{0, 0, 0}})
{
    LwoWriterObject o;
    o.tags = {"Default"};
    o.surfaces.push_back(LwoWriterSurface{});
    o.surfaces[0].name = "Default";
    uint16_t number = 0;
    for (const Vec3& c : centres) {
        LwoWriterLayer layer;
        layer.number = number++;
        for (int i = 0; i < 8; ++i)
            layer.points.insert(layer.points.end(), {c.x + (i & 1 ? h : -h), c.y + (i & 2 ? h : -h), c.z + (i & 4 ? h : -h)});
        const uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
        for (const auto& f : faces) {
            layer.polygons.push_back(LwoWriterPolygon{{f[0], f[1], f[2]}, 0});
            layer.polygons.push_back(LwoWriterPolygon{{f[0], f[2], f[3]}, 0});
        }
        o.layers.push_back(layer);
    }
    return o;
}

inline float Dist(Vec3 a, Vec3 b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace phys_test

class PhysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        old_ = Physics_SetWarningHook(phys_test::CountWarning);
        phys_test::g_warnings = 0;
        ASSERT_EQ(Phys_Init(), 1);
        ASSERT_EQ(PhysContacts_Init(), 1);
        world_ = PhysWorld_CreateDefault();
        ASSERT_NE(world_, nullptr);
        PhysWorld_PairCollisionGroups(world_, 1, 1);
    }
    void TearDown() override
    {
        PhysWorld_SetStepFunction(nullptr);
        PhysRay_SetCastFunction(nullptr);
        phys_test::g_steps.clear();
        phys_test::g_rays.clear();
        phys_test::g_rayScript.clear();
        PhysWorld_Destroy(world_);
        PhysContacts_Shutdown();
        PhysWorlds_DestroyAll();
        Physics_SetWarningHook(old_);
    }

    // A sphere in the world at p (group 1, paired with itself).
    PhysBody* Sphere(Vec3 p, float radius = 0.5f, float mass = 1.0f)
    {
        PhysBody* b = PhysBody_Create(world_, radius, mass);
        EXPECT_NE(b, nullptr);
        PhysBody_SetCollisionGroup(b, 1);
        PhysWorld_AddBody(world_, b, &p, nullptr, nullptr);
        return b;
    }
    void Steps(int n, float dt = 1.0f / 60.0f)
    {
        for (int i = 0; i < n; ++i) PhysWorld_Step(world_, dt);
    }

    PhysWorld* world_ = nullptr;
    PhysWarningHook old_ = nullptr;
};

// PhysTest in a folder of its own with the graphics engine's file table and
// the file layer installed: data files are written under "data/" by the
// names the game uses (enginetest::WriteData).
class PhysDataTest : public PhysTest, protected enginetest::TestFolder {
protected:
    void SetUp() override
    {
        EnterFolder("objects_");
        ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
        ASSERT_EQ(File_Init(), 1);
        PhysTest::SetUp();
    }
    void TearDown() override
    {
        PhysTest::TearDown();
        File_Shutdown();
        Engine_Term();
        LeaveFolder();
    }
};
