// The demo data's build by its tool: equal sources give byte-identical
// stages, and a fault in a source stops the build with the file and line
// and leaves the stage as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

fs::path Tool() { return BinaryDir() / "tools" / "demodata" / "demodata"; }

// Runs demodata SOURCES STAGE; its exit status, what it said in output.
int BuildStage(const fs::path& sources, const fs::path& stage, std::string* output)
{
    const fs::path log = stage.string() + ".log";
    const std::string command =
        "'" + Tool().string() + "' '" + sources.string() + "' '" + stage.string() + "' > '" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    *output = ReadFile(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file below the folder by its relative path, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
    return files;
}

// Two builds of the repository's data are byte-identical and small (a
// rebuild's replacing the data whole is the demodata library's test).
TEST(DataBuildTest, TwoBuildsAreByteIdenticalAndSmall)
{
    if (!fs::exists(Tool())) GTEST_SKIP() << "no " << Tool();
    const fs::path a = TempDir() / "build-a", b = TempDir() / "build-b";
    std::error_code ec;
    fs::remove_all(a, ec);
    fs::remove_all(b, ec);
    std::string output;
    ASSERT_EQ(BuildStage(SourceDir() / "data", a, &output), 0) << output;
    ASSERT_EQ(BuildStage(SourceDir() / "data", b, &output), 0) << output;
    const auto first = Tree(a), second = Tree(b);
    ASSERT_EQ(first.size(), second.size());
    size_t bytes = 0;
    for (const auto& [name, content] : first) {
        auto other = second.find(name);
        ASSERT_NE(other, second.end()) << name << " only in the first build";
        EXPECT_TRUE(content == other->second) << name << " differs between two builds";
        bytes += content.size();
    }
    EXPECT_LT(bytes, 30u << 20) << "the staged data outgrew 30 MB";
}

// The tool on a copy of data/ with a line its reader can't take: it exits
// with 1, names the file and line, and leaves what an earlier build made.
// (The faults one by one, and the stage kept whole, are the demodata
// library's tests.)
TEST(DataBuildTest, AFaultInASourceNamesFileAndLineAndLeavesTheStageAsItWas)
{
    if (!fs::exists(Tool())) GTEST_SKIP() << "no " << Tool();
    const fs::path sources = TempDir() / "faulty-data", stage = TempDir() / "faulty-stage";
    std::error_code ec;
    fs::remove_all(sources, ec);
    fs::remove_all(stage, ec);
    CopyTree(SourceDir() / "data", sources);
    const std::string original = ReadFile(sources / "stage.txt");
    std::ofstream(sources / "stage.txt", std::ios::app) << "frobnicate the data\n";
    fs::create_directories(stage / "DATA");
    std::ofstream(stage / "game.ver") << "old";
    std::string output;
    EXPECT_EQ(BuildStage(sources, stage, &output), 1) << output;
    const int line = (int)std::count(original.begin(), original.end(), '\n') + 1;
    EXPECT_NE(output.find("stage.txt:" + std::to_string(line) + ": "), std::string::npos) << output;
    EXPECT_EQ(ReadFile(stage / "game.ver"), "old");
    EXPECT_FALSE(fs::exists(stage / "Streams"));
}

}  // namespace
