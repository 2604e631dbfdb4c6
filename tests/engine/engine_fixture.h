// Shared set-up of the content-layer tests that read files: each test runs
// in a folder of its own and writes its data under "data/" by the data names
// the game uses (back-slashes, any case). EngineFileTest adds the engine and
// the file layer; content_fixture.h adds the drawing engine and the content
// modules on top of the same folder handling.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/file.h"
#include "gfx/core/engine.h"
#include "platform/win32/path.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"
#include "tests/test_env.h"

namespace enginetest {

// Disk path of a data name: "Objects\Box.lwo" -> "data/Objects/Box.lwo".
inline std::filesystem::path DataPath(const std::string& name)
{
    std::string p = "data/" + name;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

inline void WriteData(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::filesystem::path p = DataPath(name);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

inline void WriteData(const std::string& name, const std::string& text)
{
    WriteData(name, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> ReadData(const std::string& name)
{
    std::ifstream in(DataPath(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A vector as "x y z", each rounded to four decimals, without a sign on zero.
inline std::string Str(const Vec3& v)
{
    char text[64];
    snprintf(text, sizeof text, "%g %g %g", std::round(v.x * 1e4f) / 1e4f + 0.0f, std::round(v.y * 1e4f) / 1e4f + 0.0f,
             std::round(v.z * 1e4f) / 1e4f + 0.0f);
    return text;
}

// Scene writer shorthands.
inline LwsWriterItem Item(LwsWriterItem::Kind kind, const std::string& name)
{
    LwsWriterItem item;
    item.kind = kind, item.name = name;
    return item;
}

inline LwsWriterKey Key(float time, float x, float heading = 0, float scale = 1)
{
    LwsWriterKey k;
    k.time = time, k.position[0] = x, k.rotation[0] = heading;
    for (float& s : k.scale) s = scale;
    return k;
}

// A null item with one key at p turned by heading, under raw item `parent` when >= 0.
inline LwsWriterItem Placed(const std::string& name, Vec3 p = {0, 0, 0}, int parent = -1, float heading = 0)
{
    LwsWriterItem item = Item(LwsWriterItem::NUL, name);
    item.keys = {Key(0, p.x, heading)}, item.keys[0].position[1] = p.y, item.keys[0].position[2] = p.z;
    if (parent >= 0) item.parentKind = LWS_PARENT_ITEM, item.parentIndex = parent;
    return item;
}

inline LwsWriterScene SceneOf(std::vector<LwsWriterItem> items, int lastFrame = 60)
{
    LwsWriterScene s;
    s.items = std::move(items), s.lastFrame = lastFrame;
    return s;
}

inline void WriteScene(const std::string& name, const LwsWriterScene& scene) { WriteData(name, LwsWriter_Write(scene)); }

// Object writer shorthands: a white surface, an object of one surface per
// tag, a row of n unit triangles along x from x0 (triangle i on tag
// i % tags), and the cube of half extent h round c as twelve triangles
// wound outwards.
inline LwoWriterSurface Surface(const std::string& name, float r = 1, float g = 1, float b = 1)
{
    LwoWriterSurface s;
    s.name = name, s.colour[0] = r, s.colour[1] = g, s.colour[2] = b;
    return s;
}

inline LwoWriterObject Model(const std::vector<std::string>& tags, std::vector<LwoWriterLayer> layers)
{
    LwoWriterObject o;
    o.tags = tags;
    for (const std::string& t : tags) o.surfaces.push_back(Surface(t));
    o.layers = std::move(layers);
    return o;
}

inline LwoWriterLayer Strip(uint32_t n, uint32_t tags = 1, float x0 = 0, uint16_t number = 0)
{
    LwoWriterLayer layer;
    layer.number = number;
    for (uint32_t i = 0; i < n; i++) {
        const float x = x0 + (float)i;
        layer.points.insert(layer.points.end(), {x, 0, 0, x, 1, 0, x + 1, 0, 0});
        layer.polygons.push_back({{3 * i, 3 * i + 1, 3 * i + 2}, i % tags});
    }
    return layer;
}

inline LwoWriterLayer BoxLayer(float h, Vec3 c = {0, 0, 0}, uint16_t number = 0)
{
    LwoWriterLayer layer;
    layer.number = number;
    for (int i = 0; i < 8; ++i)
        layer.points.insert(layer.points.end(), {c.x + (i & 1 ? h : -h), c.y + (i & 2 ? h : -h), c.z + (i & 4 ? h : -h)});
    const uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& f : faces) {
        layer.polygons.push_back(LwoWriterPolygon{{f[0], f[1], f[2]}, 0});
        layer.polygons.push_back(LwoWriterPolygon{{f[0], f[2], f[3]}, 0});
    }
    return layer;
}

inline void WriteModel(const std::string& name, const LwoWriterObject& o) { WriteData(name, LwoWriter_Write(o)); }


// The test's own folder, made the working folder while the test runs.
class TestFolder {
protected:
    void EnterFolder(const char* prefix)
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = TestTmp() /
                  (std::string(prefix) + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "data");
        std::filesystem::current_path(folder_);
        Path_Shutdown();
    }
    void LeaveFolder()
    {
        Path_Shutdown();
        std::filesystem::current_path(TestTmp());
        std::filesystem::remove_all(folder_);
    }

    std::filesystem::path folder_;
};

}  // namespace enginetest

using namespace enginetest;

class EngineFileTest : public ::testing::Test, protected enginetest::TestFolder {
protected:
    void SetUp() override
    {
        EnterFolder("engine_");
        ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
        ASSERT_EQ(File_Init(), 1);
    }
    void TearDown() override
    {
        File_Shutdown();
        Engine_Term();
        LeaveFolder();
    }
};
