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
#include "gfx/core/engine.h"
#include "platform/win32/path.h"

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
// names the game uses.
class PhysDataTest : public PhysTest {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::path(HELM_TEST_TMP) /
                  (std::string("objects_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "data");
        std::filesystem::current_path(folder_);
        Path_Shutdown();
        ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
        ASSERT_EQ(File_Init(), 1);
        PhysTest::SetUp();
    }
    void TearDown() override
    {
        PhysTest::TearDown();
        File_Shutdown();
        Engine_Term();
        Path_Shutdown();
        std::filesystem::current_path(HELM_TEST_TMP);
        std::filesystem::remove_all(folder_);
    }
    // Writes bytes at a data-relative path ("Cache/01/x.rbs").
    static void WriteData(const std::string& path, const std::vector<uint8_t>& bytes)
    {
        std::filesystem::path p = std::filesystem::path("data") / path;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::filesystem::path folder_;
};
