#include "platform/win32/path.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Listing {
    std::vector<std::string> names;  // sorted, without "." and ".."
    struct timespec mtime;           // the folder's modification time when read
};

struct PathModule {
    // Keyed by the folder's absolute spelling as built by AbsoluteOf.
    std::unordered_map<std::string, Listing> folders;
};

PathModule g_path;

bool SameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool ReadFolder(const std::string& folder, Listing* listing)
{
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    listing->names.clear();
    listing->mtime = info.st_mtim;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        listing->names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(listing->names.begin(), listing->names.end());
    return true;
}

// The cached listing of a folder, read on first use; null when the folder
// can't be read.
Listing* GetListing(const std::string& folder)
{
    auto found = g_path.folders.find(folder);
    if (found != g_path.folders.end())
        return &found->second;
    Listing listing;
    if (!ReadFolder(folder, &listing))
        return nullptr;
    return &g_path.folders.emplace(folder, std::move(listing)).first->second;
}

// Reads the folder again after a miss when it changed since it was listed.
// File systems stamp folder times from a coarse clock, so a change made just
// after the listing can leave the time as it was: a folder modified in the
// last two seconds is read again whatever its time says.
bool Refresh(const std::string& folder, Listing* listing)
{
    struct stat info;
    if (stat(folder.c_str(), &info) != 0)
        return false;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    bool recent = now.tv_sec - info.st_mtim.tv_sec < 2;
    if (!recent && SameTime(info.st_mtim, listing->mtime))
        return false;
    return ReadFolder(folder, listing);
}

const std::string* Match(const Listing& listing, const std::string& part)
{
    if (std::binary_search(listing.names.begin(), listing.names.end(), part))
        return &part;
    for (const std::string& name : listing.names)
        if (strcasecmp(name.c_str(), part.c_str()) == 0)
            return &name;
    return nullptr;
}

std::string AbsoluteOf(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    std::string absolute = cwd;
    if (!path.empty() && path != ".") {
        if (absolute != "/")
            absolute += '/';
        absolute += path;
    }
    return absolute;
}

void SplitLast(const char* realPath, std::string* folder, std::string* name)
{
    std::string path = realPath;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        *folder = AbsoluteOf("");
        *name = path;
    } else {
        *folder = AbsoluteOf(slash == 0 ? "/" : path.substr(0, slash));
        *name = path.substr(slash + 1);
    }
}

// Forgets the listing of a folder and of everything below it.
void ForgetTree(const std::string& folder)
{
    std::string prefix = folder + '/';
    for (auto it = g_path.folders.begin(); it != g_path.folders.end();) {
        if (it->first == folder || it->first.compare(0, prefix.size(), prefix) == 0)
            it = g_path.folders.erase(it);
        else
            ++it;
    }
}

}  // namespace

int Path_Resolve(const char* name, char* out, size_t size, int* exists)
{
    if (exists)
        *exists = 0;
    if (out && size)
        out[0] = 0;
    if (!name || !*name || !out || size == 0)
        return 0;

    // A leading "/" is a POSIX absolute path (tools and tests pass those);
    // a leading "\\" or a drive prefix means the root of the game's drive,
    // which is the working folder.
    bool absolute = name[0] == '/';
    std::string text = name;
    std::replace(text.begin(), text.end(), '\\', '/');
    size_t start = 0;
    size_t colon = text.find(":/");
    if (colon != std::string::npos && colon <= 1)
        start = colon + 2;

    std::string real;
    if (absolute)
        real = "/";
    bool found = true;
    size_t at = start;
    while (at < text.size()) {
        size_t slash = text.find('/', at);
        if (slash == std::string::npos)
            slash = text.size();
        std::string part = text.substr(at, slash - at);
        at = slash + 1;
        if (part.empty())
            continue;
        if (found && part != "." && part != "..") {
            std::string folder = AbsoluteOf(real);
            Listing* listing = GetListing(folder);
            const std::string* match = listing ? Match(*listing, part) : nullptr;
            if (listing && !match && Refresh(folder, listing))
                match = Match(*listing, part);
            if (match)
                part = *match;
            else
                found = false;
        }
        if (!real.empty() && real.back() != '/')
            real += '/';
        real += part;
    }
    if (real.empty() || real.size() >= size)
        return 0;
    memcpy(out, real.c_str(), real.size() + 1);
    if (exists)
        *exists = found ? 1 : 0;
    return 1;
}

void Path_NoteCreated(const char* realPath)
{
    if (!realPath || !*realPath)
        return;
    std::string folder, name;
    SplitLast(realPath, &folder, &name);
    auto it = g_path.folders.find(folder);
    if (it == g_path.folders.end())
        return;
    std::vector<std::string>& names = it->second.names;
    auto place = std::lower_bound(names.begin(), names.end(), name);
    if (place == names.end() || *place != name)
        names.insert(place, name);
}

void Path_NoteRemoved(const char* realPath)
{
    if (!realPath || !*realPath)
        return;
    std::string folder, name;
    SplitLast(realPath, &folder, &name);
    ForgetTree(AbsoluteOf(realPath));
    auto it = g_path.folders.find(folder);
    if (it == g_path.folders.end())
        return;
    std::vector<std::string>& names = it->second.names;
    auto place = std::lower_bound(names.begin(), names.end(), name);
    if (place != names.end() && *place == name)
        names.erase(place);
}

void Path_NoteRenamed(const char* fromRealPath, const char* toRealPath)
{
    Path_NoteRemoved(fromRealPath);
    Path_NoteRemoved(toRealPath);  // a replaced folder's listings are stale too
    Path_NoteCreated(toRealPath);
}

void Path_Shutdown()
{
    g_path.folders.clear();
}
