// Shared set-up of the content-layer tests that read files: each test runs
// in a folder of its own and writes its data under "data/" by the data names
// the game uses (back-slashes, any case). EngineFileTest adds the engine and
// the file layer; content_fixture.h adds the drawing engine and the content
// modules on top of the same folder handling.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/file.h"
#include "gfx/core/engine.h"
#include "platform/win32/path.h"
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

inline bool DataExists(const std::string& name) { return std::filesystem::exists(DataPath(name)); }

// Scene writer shorthands.
inline LwsWriterItem Item(LwsWriterItem::Kind kind, const std::string& name)
{
    LwsWriterItem item;
    item.kind = kind;
    item.name = name;
    return item;
}

inline LwsWriterKey Key(float time, float x, float heading = 0, float scale = 1)
{
    LwsWriterKey k;
    k.time = time;
    k.position[0] = x;
    k.rotation[0] = heading;
    for (float& s : k.scale) s = scale;
    return k;
}

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
        base_ = std::filesystem::file_time_type::clock::now();
        Path_Shutdown();
    }
    void LeaveFolder()
    {
        Path_Shutdown();
        std::filesystem::current_path(TestTmp());
        std::filesystem::remove_all(folder_);
    }
    // Sets a data file's modification time to the test's start + offset
    // seconds (equal offsets give equal times).
    void Touch(const std::string& name, int offsetSeconds)
    {
        std::filesystem::last_write_time(DataPath(name), base_ + std::chrono::seconds(offsetSeconds));
    }

    std::filesystem::path folder_;
    std::filesystem::file_time_type base_;
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
