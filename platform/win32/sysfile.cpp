#include "platform/win32/sysfile.h"

#include "platform/win32/path.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

struct SysFind {
    std::vector<SysFindData> entries;
    size_t next;
};

namespace {

constexpr size_t kPathMax = 4096;

int FileSystemFree(const char* realPath, uint64_t* freeBytes)
{
    struct statvfs info;
    if (statvfs(realPath, &info) != 0)
        return 0;
    *freeBytes = (uint64_t)info.f_bavail * info.f_frsize;
    return 1;
}

int FileSystemWritable(const char* realPath) { return access(realPath, W_OK | X_OK) == 0; }

struct SysFileModule {
    SysDiskFreeQuery diskFree = FileSystemFree;
    SysWritableQuery writable = FileSystemWritable;
};

SysFileModule g_sysFile;

uint64_t Nanoseconds(const struct timespec& t)
{
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

// "*" any run, "?" any one character, letters without regard to case.
bool WildMatch(const char* pattern, const char* name)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' ||
                   tolower((unsigned char)*pattern) == tolower((unsigned char)*name)) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

bool Resolve(const char* name, char* real, int* exists = nullptr)
{
    return Path_Resolve(name, real, kPathMax, exists) == 1;
}

}  // namespace

FILE* SysFile_Open(const char* name, const char* mode)
{
    char real[kPathMax];
    if (!mode || strlen(mode) > 8 || !Resolve(name, real))
        return nullptr;
    char cloexec[16];
    snprintf(cloexec, sizeof cloexec, "%se", mode);
    FILE* file = fopen(real, cloexec);
    if (file && strpbrk(mode, "wa+"))
        Path_NoteCreated(real);
    return file;
}

int SysFile_CreateFolder(const char* name, int* existed)
{
    if (existed)
        *existed = 0;
    char real[kPathMax];
    if (!Resolve(name, real))
        return 0;
    if (mkdir(real, 0777) == 0) {
        Path_NoteCreated(real);
        return 1;
    }
    struct stat info;
    if (errno == EEXIST && stat(real, &info) == 0 && S_ISDIR(info.st_mode)) {
        if (existed)
            *existed = 1;
        return 1;
    }
    return 0;
}

int SysFile_GetWriteTime(const char* name, uint64_t* time)
{
    char real[kPathMax];
    struct stat info;
    if (!time || !Resolve(name, real) || stat(real, &info) != 0)
        return 0;
    *time = Nanoseconds(info.st_mtim);
    return 1;
}

int SysFile_Rename(const char* from, const char* to)
{
    char realFrom[kPathMax];
    char realTo[kPathMax];
    if (!Resolve(from, realFrom) || !Resolve(to, realTo))
        return 0;
    if (rename(realFrom, realTo) != 0)
        return 0;
    Path_NoteRenamed(realFrom, realTo);
    return 1;
}

int SysFile_SyncFile(FILE* file)
{
    return file && fflush(file) == 0 && fsync(fileno(file)) == 0;
}

int SysFile_SyncFolder(const char* name)
{
    char real[kPathMax];
    if (!Resolve(name, real))
        return 0;
    int fd = open(real, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

int SysFile_Remove(const char* name)
{
    char real[kPathMax];
    if (!Resolve(name, real) || unlink(real) != 0)
        return 0;
    Path_NoteRemoved(real);
    return 1;
}

int SysFile_RemoveFolder(const char* name)
{
    char real[kPathMax];
    if (!Resolve(name, real) || rmdir(real) != 0)
        return 0;
    Path_NoteRemoved(real);
    return 1;
}

int SysFile_GetKind(const char* name)
{
    char real[kPathMax];
    struct stat info;
    if (!Resolve(name, real) || stat(real, &info) != 0) return SYSFILE_MISSING;
    return S_ISDIR(info.st_mode) ? SYSFILE_FOLDER : SYSFILE_FILE;
}

int SysFile_IsWritable(const char* name)
{
    char real[kPathMax] = ".";
    if (name && *name && !Resolve(name, real)) return 0;
    return g_sysFile.writable(real);
}

void SysFile_SetWritableQuery(SysWritableQuery query) { g_sysFile.writable = query ? query : FileSystemWritable; }

SysFind* SysFile_FindFirst(const char* pattern, SysFindData* data)
{
    if (!pattern || !data)
        return nullptr;
    std::string text = pattern;
    std::replace(text.begin(), text.end(), '\\', '/');
    size_t slash = text.rfind('/');
    std::string folder = slash == std::string::npos ? "." : text.substr(0, slash + 1);
    std::string wild = slash == std::string::npos ? text : text.substr(slash + 1);
    if (wild.empty())
        return nullptr;
    char real[kPathMax];
    if (!Resolve(folder.c_str(), real))
        return nullptr;
    DIR* dir = opendir(real);
    if (!dir)
        return nullptr;
    SysFind* find = new (std::nothrow) SysFind;
    if (!find) {
        closedir(dir);
        return nullptr;
    }
    find->next = 0;
    while (struct dirent* entry = readdir(dir)) {
        if (!WildMatch(wild.c_str(), entry->d_name) || strlen(entry->d_name) >= sizeof data->name)
            continue;
        SysFindData found = {};
        strcpy(found.name, entry->d_name);
        std::string path = std::string(real) + '/' + entry->d_name;
        struct stat info;
        if (stat(path.c_str(), &info) == 0) {
            found.isFolder = S_ISDIR(info.st_mode) ? 1 : 0;
            found.size = found.isFolder ? 0 : (uint64_t)info.st_size;
            found.writeTime = Nanoseconds(info.st_mtim);
        }
        find->entries.push_back(found);
    }
    closedir(dir);
    std::sort(find->entries.begin(), find->entries.end(),
              [](const SysFindData& a, const SysFindData& b) { return strcmp(a.name, b.name) < 0; });
    if (!SysFile_FindNext(find, data)) {
        delete find;
        return nullptr;
    }
    return find;
}

int SysFile_FindNext(SysFind* find, SysFindData* data)
{
    if (!find || !data || find->next >= find->entries.size())
        return 0;
    *data = find->entries[find->next++];
    return 1;
}

void SysFile_FindClose(SysFind* find)
{
    delete find;
}

int SysFile_GetDiskFree(const char* name, uint64_t* freeBytes)
{
    char real[kPathMax] = ".";
    if (name && *name && !Resolve(name, real))
        return 0;
    if (!freeBytes)
        return 0;
    return g_sysFile.diskFree(real, freeBytes);
}

void SysFile_SetDiskFreeQuery(SysDiskFreeQuery query)
{
    g_sysFile.diskFree = query ? query : FileSystemFree;
}

int SysFile_GetCurrentFolder(char* out, size_t size)
{
    if (!out || size == 0) return 0;
    if (!getcwd(out, size)) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}
