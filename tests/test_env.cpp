// Linked into every test executable: the run's scratch folder becomes the
// working and run-time folder before any test runs, and goes at exit when
// every test passed.
#include "tests/test_env.h"

#include <gtest/gtest.h>

namespace {

void RemoveScratch()
{
    std::error_code ec;
    if (!testing::UnitTest::GetInstance()->Passed()) {
        fprintf(stderr, "The scratch files of this run stay in %s\n", TestTmp().c_str());
        return;
    }
    std::filesystem::current_path(std::filesystem::temp_directory_path(ec), ec);
    std::filesystem::remove_all(TestTmp(), ec);
}

const bool g_started = [] {
    std::filesystem::current_path(TestTmp());
    // The programs the tests start (and the tests themselves) keep their
    // single-instance locks here, so none is left behind in the system's
    // run-time folder.
    setenv("XDG_RUNTIME_DIR", TestTmp().c_str(), 1);
    // The test runner's record is made first, so that it is still there
    // when the exit handler asks it.
    testing::UnitTest::GetInstance();
    std::atexit(RemoveScratch);
    return true;
}();

}  // namespace
