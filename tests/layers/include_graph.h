// The library graph as the README's architecture table states it, and the
// check of every `#include "folder/..."` of the libraries' sources against
// it. A unit is a library or, inside gfx, one of its folders; a unit may
// include its own headers and those of every unit it stands on, directly or
// through others, never those of a unit above it or beside it.
#pragma once

#include <string>
#include <vector>

struct IncludeUnit {
    std::string name;                   // "gfx/core", "app", ...
    std::string folder;                 // relative to the root, with a trailing '/'
    std::vector<std::string> standsOn;  // names as written: units, or a prefix naming a group ("gfx")
    std::vector<int> reach;             // indices of every unit it may include, itself first
};

struct IncludeGraph {
    std::vector<IncludeUnit> units;
};

// Reads the table whose header row is "| unit | folder | stands on |" out of
// a README. Backticks are ignored, text in parentheses (outside packages)
// too, and "-" or an em dash means "nothing". False, with the reason in
// *error, for a missing table, a duplicate unit or folder, a name standing
// on nothing known, or a cycle.
bool IncludeGraph_Parse(const std::string& readme, IncludeGraph* graph, std::string* error);

// The unit whose folder is the longest prefix of a root-relative path, or -1.
int IncludeGraph_UnitOf(const IncludeGraph& graph, const std::string& path);

// The violations in one source file's text, each "path:line: ...", naming
// the included header, its unit and the including unit. Only includes in
// quotes with a folder are checked; "x.h" of the same folder and <...>
// headers are not.
std::vector<std::string> IncludeGraph_CheckFile(const IncludeGraph& graph, const std::string& path,
                                                const std::string& text);

// Every .h/.cpp/.c under the units' folders below root (a file belongs to the
// unit of its deepest folder); folders that do not exist yet are skipped.
// *files (may be null) receives the number of files read.
std::vector<std::string> IncludeGraph_CheckTree(const IncludeGraph& graph, const std::string& root,
                                                size_t* files = nullptr);
