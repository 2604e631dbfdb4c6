#include "platform/win32/mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

struct MutexModule {
    int fd = -1;           // descriptor holding the lock, or -1
    std::string testName;  // overrides the caller's name when not empty
};

MutexModule g_mutex;

std::string LockPath(const char* name)
{
    const char* folder = getenv("XDG_RUNTIME_DIR");
    if (!folder || !*folder)
        folder = getenv("TMPDIR");
    if (!folder || !*folder)
        folder = "/tmp";
    // Names may hold blanks and other characters unwelcome in file names.
    std::string file = "helm-";
    for (const char* c = name; *c; ++c)
        file += isalnum((unsigned char)*c) || *c == '-' || *c == '.' ? *c : '_';
    return std::string(folder) + '/' + file + ".lock";
}

}  // namespace

MutexResult Mutex_CreateNamed(const char* name)
{
    if (!g_mutex.testName.empty())
        name = g_mutex.testName.c_str();
    if (!name || !*name)
        return MUTEX_FAILED;
    if (g_mutex.fd >= 0)
        return MUTEX_EXISTS;
    int fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return MUTEX_FAILED;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? MUTEX_EXISTS : MUTEX_FAILED;
    }
    g_mutex.fd = fd;
    return MUTEX_CREATED;
}

void Mutex_Release()
{
    if (g_mutex.fd >= 0) {
        close(g_mutex.fd);
        g_mutex.fd = -1;
    }
}

void Mutex_SetTestName(const char* name)
{
    g_mutex.testName = name ? name : "";
}
