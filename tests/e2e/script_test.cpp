// Bad input to a scripted run is refused at start, before anything plays,
// with the file and line and exit code 2.
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
        {"an unknown command", "at 1\njump around\nend\n", "bad.txt:2"},
        {"an unknown key", "tap Return\npress NoSuchKey\nend\n", "bad.txt:2"},
        {"a controller out of range", "controller 9\nend\n", "bad.txt:1"},
        {"a stick value out of range", "controller 1\naxis 0 leftx 3\nend\n", "bad.txt:2"},
        {"a command after the end", "end\ntap Return\n", "bad.txt:2"},
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
