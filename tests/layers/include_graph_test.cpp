#include "tests/layers/include_graph.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/test_env.h"

namespace {

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

TEST(IncludeGraph, SourceTreeFollowsTheReadmeGraph)
{
    IncludeGraph graph;
    std::string error;
    ASSERT_TRUE(IncludeGraph_Parse(TestReadFile(HELM_SOURCE_DIR "/README.md"), &graph, &error)) << error;
    // The folders of today's libraries are units, so their files are read.
    for (const char* folder : {"common/", "gfx/core/", "gfx/driver/d3d8/", "gfx/toolkit/bmp/", "physics/base/", "app/",
                               "platform/win32/", "platform/direct3d/", "tools/lib/"})
        EXPECT_GE(IncludeGraph_UnitOf(graph, folder), 0) << folder;
    size_t files = 0;
    const std::vector<std::string> violations = IncludeGraph_CheckTree(graph, HELM_SOURCE_DIR, &files);
    EXPECT_TRUE(violations.empty()) << Joined(violations);
    EXPECT_GT(files, 150u);
}

TEST(IncludeGraph, AWrongIncludeInATreeIsNamedWithFileAndLine)
{
    const std::string root = HELM_SOURCE_DIR "/tests/layers/fixture";
    IncludeGraph graph;
    std::string error;
    ASSERT_TRUE(IncludeGraph_Parse(TestReadFile(root + "/README.md"), &graph, &error)) << error;
    const std::vector<std::string> violations = IncludeGraph_CheckTree(graph, root);
    ASSERT_EQ(violations.size(), 1u) << Joined(violations);
    EXPECT_EQ(violations[0], "base/wrong.cpp:4: includes \"top/top.h\" of top, which base does not stand on");
}

// A graph shaped like the tree's: a group (gfx), a chain through it, and a
// unit nested in another's folder (tools/lib in tools).
const char kGraph[] = R"(
| unit | folder | stands on |
|---|---|---|
| `common` | `common/` | — |
| `platform_d3d8` | `platform/direct3d/` | - (SDL2, libpng) |
| `gfx/core` | `gfx/core/` | `common` |
| `gfx/driver` | `gfx/driver/` | `gfx/core`, `platform_d3d8` |
| `app` | `app/` | `gfx` |
| `tools_lib` | `tools/lib/` | `app` |
| `tools` | `tools/` | `tools_lib` |

Text after the table is not read.
)";

TEST(IncludeGraph, IncludesAreJudgedByTheUnitsTheyReach)
{
    IncludeGraph graph;
    std::string error;
    ASSERT_TRUE(IncludeGraph_Parse(kGraph, &graph, &error)) << error;
    // The including file, its include line; allowed.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"gfx/core/im3d.h", "#include \"gfx/driver/d3d8/d3d8im3d.h\"", false},  // the kernel stands on no driver
        {"gfx/core/im3d.h", "#include \"gfx/core/pipeline.h\"", true},
        {"gfx/core/texture.cpp", "#include \"platform/direct3d/d3d8.h\"", false},
        {"gfx/driver/d3d8/x.cpp", "#include \"common/memory.h\"", true},  // through gfx/core
        {"gfx/driver/d3d8/x.cpp", "#include \"platform/direct3d/d3d8.h\"", true},
        {"platform/direct3d/x.cpp", "#include \"common/memory.h\"", false},
        {"common/memory.cpp", "#include \"app/file.h\"", false},
        {"app/wad.cpp", "#include \"gfx/driver/d3d8/x.h\"", true},  // "gfx" names every gfx folder
        {"app/wad.cpp", "  #  include \"tools/lib/cfgc.h\"  // spaced", false},
        {"tools/lib/cfgc.cpp", "#include \"tools/cfgc/main.h\"", false},  // the deeper folder is its own unit
        {"tools/cfgc/main.cpp", "#include \"tools/lib/cfgc.h\"", true},
        {"tools/cfgc/main.cpp", "#include \"common/strings.h\"", true},
        {"common/hash.cpp", "#include \"tests/common/helper.h\"", false},  // no unit at all
        {"common/hash.cpp", "#include \"../app/file.h\"", false},
        {"common/hash.cpp", "#include \"hash.h\"", true},  // beside the file
        {"common/hash.cpp", "#include <SDL2/SDL.h>", true},
        {"common/hash.cpp", "// #include \"app/file.h\" in a comment", true},
        {"bench/x.cpp", "#include \"common/hash.h\"", false},  // a file outside every unit
    };
    for (const auto& [file, line, allowed] : cases) {
        const std::string text = std::string("// first line\n") + line + "\n";
        const std::vector<std::string> v = IncludeGraph_CheckFile(graph, file, text);
        EXPECT_EQ(v.empty(), allowed) << file << ": " << line << "\n" << Joined(v);
        if (!v.empty()) {
            EXPECT_EQ(v[0].rfind(std::string(file) + ":2: includes ", 0), 0u) << v[0];
        }
    }
}

TEST(IncludeGraph, TablesThatCannotBeAGraphAreRefused)
{
    // The table rows; the reason given.
    const std::tuple<const char*, const char*> cases[] = {
        {"| a | a/ | b |\n| b | b/ | a |\n", "cycle"},
        {"| a | a/ | a |\n", "cycle"},
        {"| a | a/ | c |\n", "names no unit"},
        {"| a | a/ | - |\n| a | b/ | - |\n", "named twice"},
        {"| a | a/ | - |\n| b | a/ | - |\n", "named twice"},
        {"| a | a/ |\n", "three cells"},
    };
    for (const auto& [rows, reason] : cases) {
        IncludeGraph graph;
        std::string error;
        const std::string table = std::string("| unit | folder | stands on |\n|---|---|---|\n") + rows;
        EXPECT_FALSE(IncludeGraph_Parse(table, &graph, &error)) << rows;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    IncludeGraph graph;
    std::string error;
    EXPECT_FALSE(IncludeGraph_Parse("| name | folder | uses |\n|---|---|---|\n| a | a/ | - |\n", &graph, &error));
}

}  // namespace
