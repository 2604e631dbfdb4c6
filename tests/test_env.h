// What every test executable shares: the scratch folder of the run and a
// guard for environment variables, so that each test leaves the process as
// it found it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

// The scratch folder of this test process: a new folder of its own under the
// system's temporary folder ($TMPDIR, else /tmp), made on first use. The
// test executables link tests/test_env.cpp, which makes it the working
// folder at start-up and removes it at exit when every test passed; after a
// failure it stays, for what the failing tests left in it, and its path is
// printed.
inline const std::filesystem::path& TestTmp()
{
    static const std::filesystem::path folder = [] {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && !ec; attempt++) {
            char name[40];
            snprintf(name, sizeof name, "helm-test-%08x%08x", (unsigned)random(), (unsigned)random());
            const fs::path folder = base / name;
            if (fs::create_directory(folder, ec)) return folder;
        }
        fprintf(stderr, "No scratch folder can be made under \"%s\"\n", base.c_str());
        std::abort();
    }();
    return folder;
}

// Every byte of a file ("" when it can't be read).
inline std::string TestReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets an environment variable (null: unsets it) for the guard's life, then
// puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_) setenv(name_.c_str(), old_->c_str(), 1);
        else unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};
