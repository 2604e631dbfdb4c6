// Shared set-up of the content-layer tests that read files: each test runs
// in a folder of its own with the engine initialised and the file layer
// installed, and writes its data under "data/" by the data names the game
// uses (back-slashes, any case).
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

class EngineFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::path(HELM_TEST_TMP) /
                  (std::string("engine_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "data");
        std::filesystem::current_path(folder_);
        base_ = std::filesystem::file_time_type::clock::now();
        Path_Shutdown();
        if (OpenEngine()) {
            ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
            ASSERT_EQ(File_Init(), 1);
        }
    }

    void TearDown() override
    {
        if (OpenEngine()) {
            File_Shutdown();
            Engine_Term();
        }
        Path_Shutdown();
        std::filesystem::current_path(HELM_TEST_TMP);
        std::filesystem::remove_all(folder_);
    }

    // Fixtures that open the engine themselves answer 0.
    virtual bool OpenEngine() { return true; }

    // Disk path of a data name: "Objects\Box.lwo" -> "data/Objects/Box.lwo".
    static std::filesystem::path DataPath(const std::string& name)
    {
        std::string p = "data/" + name;
        for (char& c : p)
            if (c == '\\') c = '/';
        return p;
    }

    static void WriteData(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::filesystem::path p = DataPath(name);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    }

    static void WriteData(const std::string& name, const std::string& text)
    {
        WriteData(name, std::vector<uint8_t>(text.begin(), text.end()));
    }

    static std::vector<uint8_t> ReadData(const std::string& name)
    {
        std::ifstream in(DataPath(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
