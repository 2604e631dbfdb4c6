#include "platform/win32/mutex.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/test_env.h"

namespace {

// Each test uses its own lock name and run-time folder, so parallel test
// processes never meet.
class MutexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = TestTmp().string() + "/mutex-" + std::to_string(getpid());
        std::filesystem::create_directories(folder_);
        runtime_.emplace("XDG_RUNTIME_DIR", folder_.c_str());
        name_ = "Test Mutex " + std::to_string(getpid());
        Mutex_SetTestName(name_.c_str());
    }

    void TearDown() override
    {
        Mutex_Release();
        Mutex_SetTestName(nullptr);
        runtime_.reset();
        std::filesystem::remove_all(folder_);
    }

    std::string folder_;
    std::string name_;
    std::optional<ScopedEnv> runtime_;  // XDG_RUNTIME_DIR as the test sets it
};

// Starts a process that takes the lock and then waits to be killed. Returns
// its id once it reports what it got.
pid_t StartHolder(MutexResult* got)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        char result = (char)Mutex_CreateNamed("Tesk Mutex");
        if (write(fds[1], &result, 1) != 1)
            _exit(2);
        for (;;)
            pause();
    }
    close(fds[1]);
    char result = 0;
    if (child < 0 || read(fds[0], &result, 1) != 1)
        result = (char)MUTEX_FAILED;
    close(fds[0]);
    *got = (MutexResult)result;
    return child;
}

}  // namespace

TEST_F(MutexTest, ASecondProcessIsRefusedUntilTheFirstIsKilled)
{
    MutexResult childGot = MUTEX_FAILED;
    pid_t child = StartHolder(&childGot);
    ASSERT_GT(child, 0);
    EXPECT_EQ(childGot, MUTEX_CREATED);
    EXPECT_EQ(Mutex_CreateNamed("Tesk Mutex"), MUTEX_EXISTS);

    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(Mutex_CreateNamed("Tesk Mutex"), MUTEX_CREATED);
}

TEST_F(MutexTest, TheLockLivesInTheRunTimeFolderAndIsHeldOncePerProcessOrFailsWithoutOne)
{
    EXPECT_EQ(Mutex_CreateNamed("Tesk Mutex"), MUTEX_CREATED);
    std::string file = folder_ + "/helm-Test_Mutex_" + std::to_string(getpid()) + ".lock";
    EXPECT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(Mutex_CreateNamed("Tesk Mutex"), MUTEX_EXISTS);
    Mutex_Release();
    // The file left behind does not count as a holder.
    EXPECT_EQ(Mutex_CreateNamed("Tesk Mutex"), MUTEX_CREATED);
    // An unusable run-time folder is reported as a failure.
    Mutex_Release();
    runtime_.reset();
    runtime_.emplace("XDG_RUNTIME_DIR", (folder_ + "/missing").c_str());
    EXPECT_EQ(Mutex_CreateNamed("Tesk Mutex"), MUTEX_FAILED);
}
