#include "tests/layers/include_graph.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// A cell without backticks and without the parenthesised remarks.
std::string Clean(const std::string& cell)
{
    std::string out;
    int depth = 0;
    for (char c : cell) {
        if (c == '(') depth++;
        else if (c == ')') depth = depth > 0 ? depth - 1 : 0;
        else if (depth == 0 && c != '`') out += c;
    }
    return Trim(out);
}

std::vector<std::string> Cells(const std::string& row)
{
    std::vector<std::string> cells;
    std::string t = Trim(row);
    if (t.size() < 2 || t.front() != '|' || t.back() != '|') return cells;
    std::stringstream in(t.substr(1, t.size() - 2));
    std::string cell;
    while (std::getline(in, cell, '|')) cells.push_back(Trim(cell));
    return cells;
}

bool Fail(std::string* error, const std::string& why) { return (*error = why), false; }

bool IsNothing(const std::string& name) { return name.empty() || name == "-" || name == "\u2014"; }

// The units a stands-on name means: the unit of that name, or every unit
// whose name starts with "name/".
std::vector<int> Resolve(const IncludeGraph& graph, const std::string& name)
{
    std::vector<int> out;
    for (size_t i = 0; i < graph.units.size(); i++) {
        const std::string& u = graph.units[i].name;
        if (u == name || (u.size() > name.size() && u.compare(0, name.size(), name) == 0 && u[name.size()] == '/'))
            out.push_back((int)i);
    }
    return out;
}

// Depth-first closure with cycle detection: state 0 unvisited, 1 on the
// path, 2 done.
bool Close(IncludeGraph* graph, int unit, std::vector<int>& state, std::vector<std::vector<int>>& direct,
           std::string* error)
{
    if (state[unit] == 2) return true;
    if (state[unit] == 1) return Fail(error, "the graph has a cycle through " + graph->units[unit].name);
    state[unit] = 1;
    std::vector<int> reach = {unit};
    for (int d : direct[unit]) {
        if (!Close(graph, d, state, direct, error)) return false;
        for (int r : graph->units[d].reach)
            if (std::find(reach.begin(), reach.end(), r) == reach.end()) reach.push_back(r);
    }
    graph->units[unit].reach = reach;
    state[unit] = 2;
    return true;
}

bool IsSource(const std::filesystem::path& p)
{
    const std::string e = p.extension().string();
    return e == ".h" || e == ".cpp" || e == ".c";
}

}  // namespace

bool IncludeGraph_Parse(const std::string& readme, IncludeGraph* graph, std::string* error)
{
    graph->units.clear();
    std::stringstream in(readme);
    std::string line;
    bool inTable = false, found = false;
    while (std::getline(in, line)) {
        std::vector<std::string> cells = Cells(line);
        if (!inTable) {
            if (cells.size() == 3 && cells[0] == "unit" && cells[1] == "folder" && cells[2] == "stands on")
                inTable = found = true;
            continue;
        }
        if (cells.empty()) break;
        if (cells.size() != 3) return Fail(error, "a row of the graph does not have three cells: " + line);
        if (cells[0].find_first_not_of("-: ") == std::string::npos) continue;  // the separator row
        IncludeUnit unit;
        unit.name = Clean(cells[0]);
        unit.folder = Clean(cells[1]);
        if (unit.name.empty() || unit.folder.empty())
            return Fail(error, "a row of the graph lacks a unit or a folder: " + line);
        if (unit.folder.back() != '/') unit.folder += '/';
        std::stringstream names(Clean(cells[2]));
        std::string name;
        while (std::getline(names, name, ','))
            if (!IsNothing(Trim(name))) unit.standsOn.push_back(Trim(name));
        for (const IncludeUnit& other : graph->units)
            if (other.name == unit.name || other.folder == unit.folder)
                return Fail(error, "unit or folder named twice: " + unit.name);
        graph->units.push_back(unit);
    }
    if (!found) return Fail(error, "no table headed | unit | folder | stands on |");
    std::vector<std::vector<int>> direct(graph->units.size());
    for (size_t i = 0; i < graph->units.size(); i++)
        for (const std::string& name : graph->units[i].standsOn) {
            std::vector<int> targets = Resolve(*graph, name);
            if (targets.empty())
                return Fail(error, graph->units[i].name + " stands on " + name + ", which names no unit");
            direct[i].insert(direct[i].end(), targets.begin(), targets.end());
        }
    std::vector<int> state(graph->units.size(), 0);
    for (size_t i = 0; i < graph->units.size(); i++)
        if (!Close(graph, (int)i, state, direct, error)) return false;
    return true;
}

int IncludeGraph_UnitOf(const IncludeGraph& graph, const std::string& path)
{
    int best = -1;
    size_t bestLength = 0;
    for (size_t i = 0; i < graph.units.size(); i++) {
        const std::string& f = graph.units[i].folder;
        if (path.compare(0, f.size(), f) == 0 && f.size() > bestLength) {
            best = (int)i;
            bestLength = f.size();
        }
    }
    return best;
}

std::vector<std::string> IncludeGraph_CheckFile(const IncludeGraph& graph, const std::string& path,
                                                const std::string& text)
{
    std::vector<std::string> violations;
    const int from = IncludeGraph_UnitOf(graph, path);
    std::stringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        std::string t = Trim(line);
        if (t.empty() || t[0] != '#') continue;
        t = Trim(t.substr(1));
        if (t.compare(0, 7, "include") != 0) continue;
        t = Trim(t.substr(7));
        if (t.empty() || t[0] != '"') continue;
        const size_t close = t.find('"', 1);
        if (close == std::string::npos) continue;
        const std::string header = t.substr(1, close - 1);
        if (header.find('/') == std::string::npos) continue;  // beside the including file
        const std::string where = path + ":" + std::to_string(number) + ": includes \"" + header + "\"";
        const int to = IncludeGraph_UnitOf(graph, header);
        if (from < 0) {
            violations.push_back(where + " from a folder that is no unit of the graph");
        } else if (to < 0) {
            violations.push_back(where + ", which is in no unit of the graph");
        } else {
            const std::vector<int>& reach = graph.units[from].reach;
            if (std::find(reach.begin(), reach.end(), to) == reach.end())
                violations.push_back(where + " of " + graph.units[to].name + ", which " + graph.units[from].name +
                                     " does not stand on");
        }
    }
    return violations;
}

std::vector<std::string> IncludeGraph_CheckTree(const IncludeGraph& graph, const std::string& root, size_t* count)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (const IncludeUnit& unit : graph.units) {
        const fs::path folder = fs::path(root) / unit.folder;
        if (!fs::is_directory(folder)) continue;
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
            if (!e.is_regular_file() || !IsSource(e.path())) continue;
            const std::string relative = fs::relative(e.path(), root).generic_string();
            // A file in a deeper unit's folder is that unit's, and checked once.
            if (&graph.units[IncludeGraph_UnitOf(graph, relative)] == &unit) files.push_back(relative);
        }
    }
    std::sort(files.begin(), files.end());
    if (count) *count = files.size();
    std::vector<std::string> violations;
    for (const std::string& relative : files) {
        std::ifstream in(fs::path(root) / relative, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> v = IncludeGraph_CheckFile(graph, relative, text.str());
        violations.insert(violations.end(), v.begin(), v.end());
    }
    return violations;
}
