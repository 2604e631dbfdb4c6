// Shared set-up of the shell's tests: each test works in a folder of its own
// (tests run in parallel processes), its working folder while it runs and
// removed afterwards; DataTest adds the engine with the file layer installed
// over its table, WadDataTest the archive layer on top.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/file.h"
#include "app/wad.h"
#include "gfx/core/engine.h"
#include "platform/win32/path.h"
#include "tests/test_env.h"

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string(info->test_suite_name()) + "." + info->name();
        folder_ = TestTmp() / name_;
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
        Path_Shutdown();
    }
    void TearDown() override
    {
        Path_Shutdown();
        std::filesystem::current_path(TestTmp());
        std::filesystem::remove_all(folder_);
    }
    // Writes bytes to a path relative to the test's folder ("data/x/y.txt"),
    // creating the folders on the way.
    static void WriteDisk(const std::string& path, const std::string& bytes)
    {
        std::filesystem::path p(path);
        if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc).write(bytes.data(), (std::streamsize)bytes.size());
    }
    static void WriteDisk(const std::string& path, const std::vector<uint8_t>& bytes)
    {
        WriteDisk(path, std::string(bytes.begin(), bytes.end()));
    }
    static std::string ReadDisk(const std::string& path) { return TestReadFile(path); }

    std::filesystem::path folder_;
    std::string name_;  // Suite.Test
};

class DataTest : public FolderTest {
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
        ASSERT_EQ(File_Init(), 1);
    }
    void TearDown() override
    {
        File_Shutdown();
        File_SetClock(nullptr);
        Engine_Term();
        FolderTest::TearDown();
    }
};

// Mounted archives are let go at the end.
class WadDataTest : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        ASSERT_EQ(Wad_Init(), 1);
    }
    void TearDown() override
    {
        Wad_Shutdown();
        DataTest::TearDown();
    }
};
