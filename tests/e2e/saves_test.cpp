// Saves cut short: the program is killed inside a save, between writing
// the temporary file and the rename and at seeded instants around them.
// Each time the slot holds the old or the new record whole, both of its
// checksums pass, and a leftover temporary file is never taken for a save.
#include <gtest/gtest.h>

#include <random>

#include "e2e_fixture.h"
#include "game/save_record.h"

namespace {

using namespace e2e;

// The save files below the folder's "SaveGame", by name (the temporary
// files end in ".tmp").
std::vector<fs::path> SaveFiles(const fs::path& folder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "SaveGame", ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

fs::path SlotFile(const fs::path& folder)
{
    for (const fs::path& file : SaveFiles(folder))
        if (file.extension() != ".tmp") return file;
    return {};
}

bool Sound(const std::string& record)
{
    return record.size() == SAVE_RECORD_SIZE && Save_CheckHeader((const uint8_t*)record.data()) &&
           Save_CheckRecord((const uint8_t*)record.data());
}

// A save over the old one, stopped at `stop` and killed there.
struct Kill {
    std::string stop;
    GameRun run;
    bool stopped = false;  // it reached the stop
    int signal = SIGKILL;  // what it is sent there; then what ended it
};

// Starts every save at once, each in a folder of its own, and sends each
// program its signal as soon as it holds at its stop (or ended by itself).
// One that spins or stalls on the way or after its signal is killed (see
// Wait).
void KillInsideSaves(std::vector<Kill>& kills)
{
    std::vector<pid_t> pids;
    for (Kill& k : kills) {
        k.run.script = "save_over.txt";
        k.run.env = {"HELM_SAVE_STOP=" + k.stop};
        pids.push_back(Start(k.run));
    }
    for (size_t i = 0; i < kills.size(); i++) {
        bool ended = pids[i] < 0;
        Progress progress;
        while (!ended && !(kills[i].stopped = fs::exists(FolderOf(kills[i].run) / "save-stopped")) &&
               !progress.Stalled(pids[i])) {
            ended = waitpid(pids[i], nullptr, WNOHANG) == pids[i];
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (ended) continue;
        kill(pids[i], kills[i].stopped ? kills[i].signal : SIGKILL);
        kills[i].signal = Wait(kills[i].run, pids[i]).signal;
    }
}

TEST(SavesTest, AProgramKilledInsideASaveLeavesTheOldOrTheNewRecordWhole)
{
    E2E_REQUIRE_STAGE();
    if (!StageHasConfig("FrontEnd\\FrontEnd.cfg") || !StageHasConfig("MemCard.cfg"))
        GTEST_SKIP() << "the stage has no front end or save screens yet (" << StageConfigPath("MemCard.cfg") << ")";
    // The old record, and the new one a whole save over it writes.
    GameRun run{"saves-old", "save_new.txt"};
    const Result first = RunGame(run);
    ASSERT_EQ(first.exitCode, 0) << first.output;
    const fs::path withOld = first.folder;
    const std::string oldRecord = ReadFile(SlotFile(withOld));
    ASSERT_TRUE(Sound(oldRecord));
    GameRun whole = run;
    whole.name = "saves-new";
    whole.stage = withOld;
    whole.script = "save_over.txt";
    const Result second = RunGame(whole);
    ASSERT_EQ(second.exitCode, 0) << second.output;
    const std::string newRecord = ReadFile(SlotFile(second.folder));
    ASSERT_TRUE(Sound(newRecord));
    ASSERT_NE(newRecord, oldRecord) << "the two saves must differ to tell them apart";

    // Just before the rename, then seeded instants: byte counts of the
    // temporary file and just after the rename.
    std::vector<std::string> stops = {"rename"};
    std::mt19937 random(20261207);
    for (int i = 0; i < 4; i++) stops.push_back(std::to_string(random() % SAVE_RECORD_SIZE));
    stops.push_back("renamed");
    // The last is sent a quit signal (the interrupt key, a shut-down): it
    // ends a program held inside a save as promptly, and leaves the same.
    std::vector<Kill> kills;
    for (const std::string& stop : stops) {
        kills.push_back({stop, run, false, kills.size() + 1 == stops.size() ? SIGTERM : SIGKILL});
        kills.back().run.name = "saves-kill-" + std::to_string(kills.size());
        kills.back().run.stage = withOld;
    }
    KillInsideSaves(kills);
    for (const Kill& k : kills) {
        const std::string& stop = k.stop;
        const fs::path folder = FolderOf(k.run);
        SCOPED_TRACE("stopped at " + stop);
        ASSERT_TRUE(k.stopped) << "it never reached the stop:\n" << ReadFile(folder / "output.txt");
        EXPECT_EQ(k.signal, &k == &kills.back() ? SIGTERM : SIGKILL);
        const std::string left = ReadFile(SlotFile(folder));
        EXPECT_TRUE(Sound(left));
        if (stop == "renamed") {
            // The new record: not the old one, and the same settings and
            // progress as the whole save wrote (the date differs per run).
            EXPECT_NE(left, oldRecord);
            const size_t body = SAVE_OFFSET_RECORD_SUM - SAVE_OFFSET_EFFECTS;
            EXPECT_EQ(left.substr(SAVE_OFFSET_EFFECTS, body), newRecord.substr(SAVE_OFFSET_EFFECTS, body));
            EXPECT_EQ(SaveFiles(folder).size(), 1u) << "the temporary file was renamed";
        } else {
            EXPECT_TRUE(left == oldRecord) << "before the rename the slot holds the old record";
        }
        if (stop != "rename") continue;
        // A whole new record waits beside the old save; a fresh process
        // still finds the save valid and takes the old one, and its start
        // removes the temporary file (a file of another name stays).
        ASSERT_EQ(SaveFiles(folder).size(), 2u);
        EXPECT_TRUE(Sound(ReadFile(SaveFiles(folder)[1])));
        const fs::path other = SlotFile(folder).parent_path() / "Notes.tmp";
        std::ofstream(other) << "not the storage's";
        GameRun check = k.run;
        check.freshFolder = false;
        check.script = "save_check.txt";
        check.env.clear();
        const Result checked = RunGame(check);
        EXPECT_EQ(checked.exitCode, 0) << checked.output;
        EXPECT_TRUE(ReadFile(SlotFile(folder)) == oldRecord);
        EXPECT_EQ(SaveFiles(folder), (std::vector<fs::path>{other, SlotFile(folder)}));
    }
}

}  // namespace
