// A scratch folder per test that is also the working folder while the test
// runs, so relative data names resolve inside it.
#pragma once

#include "platform/win32/path.h"
#include "tests/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = TestTmp() /
                (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
        Path_Shutdown();
    }

    void TearDown() override
    {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(root_);
        Path_Shutdown();
    }

    // Writes a file (and its folders) behind the program's back.
    static void Plant(const std::string& path, const std::string& text = "x")
    {
        std::filesystem::path p(path);
        if (p.has_parent_path())
            std::filesystem::create_directories(p.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    static bool OnDisk(const std::string& path) { return std::filesystem::exists(path); }

    static std::string Resolved(const char* name, int* exists = nullptr)
    {
        char real[512];
        if (!Path_Resolve(name, real, sizeof real, exists))
            return "<failed>";
        return real;
    }

    std::filesystem::path root_;
    std::filesystem::path previous_;
};
