// Bad input to a scripted run is refused at start, before anything plays,
// with the file and line and exit code 2 (the script reader's own tests
// take every fault it refuses).
#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

struct BadScript {
    const char* what;
    const char* text;  // the script; null: the file does not exist
    const char* said;  // part of the message
};

TEST(ScriptTest, ABadScriptFailsAtStartNamingItsLine)
{
    E2E_REQUIRE_STAGE();
    const BadScript cases[] = {
        {"an unknown key", "tap Return\npress NoSuchKey\nend\n", "bad.txt:2"},
        {"a missing file", nullptr, "bad.txt"},
    };
    for (const BadScript& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path script = TempDir() / "bad.txt";
        fs::remove(script);
        if (c.text) std::ofstream(script) << c.text;
        GameRun run{"bad-script", script.string()};
        run.stage = TempDir() / "empty-stage";  // refused before any data is read
        fs::create_directories(run.stage);
        run.timeoutSeconds = 30;
        const Result r = RunGame(run);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    }
}

}  // namespace
