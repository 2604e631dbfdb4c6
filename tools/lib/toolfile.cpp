#include "tools/lib/toolfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

int ToolFile_Write(const std::string& path, const void* bytes, size_t size, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error) *error = path + ": " + what;
        return 0;
    };
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ec);
        if (ec) return fail("can't make the folder: " + ec.message());
    }
    const std::string temporary = path + ".tmp";
    FILE* out = fopen(temporary.c_str(), "wb");
    if (!out) return fail(std::string("can't be written: ") + strerror(errno));
    bool ok = size == 0 || fwrite(bytes, 1, size, out) == size;
    if (fclose(out) != 0) ok = false;
    if (ok) {
        std::filesystem::rename(temporary, path, ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(temporary, ec);
        return fail("write failed");
    }
    return 1;
}

int ToolFile_Write(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error)
{
    return ToolFile_Write(path, bytes.data(), bytes.size(), error);
}

int ToolFile_Write(const std::string& path, const std::string& text, std::string* error)
{
    return ToolFile_Write(path, text.data(), text.size(), error);
}

void ToolFile_PutU16(std::vector<uint8_t>* out, uint32_t v)
{
    out->push_back((uint8_t)v);
    out->push_back((uint8_t)(v >> 8));
}

void ToolFile_PutU32(std::vector<uint8_t>* out, uint32_t v)
{
    ToolFile_PutU16(out, v & 0xFFFF);
    ToolFile_PutU16(out, v >> 16);
}

int ToolFile_Read(const std::string& path, std::string* out, std::string* error)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        if (error) *error = path + ": is a folder";
        return 0;
    }
    FILE* in = fopen(path.c_str(), "rb");
    if (!in) {
        if (error) *error = path + ": can't be opened: " + strerror(errno);
        return 0;
    }
    out->clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) out->append(buffer, got);
    const bool failed = ferror(in) != 0;
    fclose(in);
    if (failed) {
        if (error) *error = path + ": can't be read";
        return 0;
    }
    return 1;
}

std::string ToolFile_DataPath(const std::string& folder, const std::string& dataName)
{
    std::string name = dataName;
    for (char& c : name)
        if (c == '\\') c = '/';
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}
