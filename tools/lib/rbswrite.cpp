#include "tools/lib/rbswrite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/cache.h"
#include "common/bytes.h"

namespace {

void PutU32(std::vector<uint8_t>* out, uint32_t v)
{
    uint8_t b[4];
    Bytes_StoreU32(b, v);
    out->insert(out->end(), b, b + 4);
}

void PutF32(std::vector<uint8_t>* out, float v)
{
    uint8_t b[4];
    Bytes_StoreF32(b, v);
    out->insert(out->end(), b, b + 4);
}

}  // namespace

std::vector<uint8_t> Rbs_Write(const std::vector<RbsBlock>& blocks)
{
    std::vector<uint8_t> out;
    PutU32(&out, 0);
    PutU32(&out, 0);
    PutU32(&out, uint32_t(blocks.size()));
    for (const RbsBlock& b : blocks) {
        PutU32(&out, b.type);
        PutF32(&out, b.mass);
        uint32_t points = uint32_t(b.countOverride >= 0 ? b.countOverride : int64_t(b.points.size() / 3));
        PutU32(&out, points);
        if (b.type == RBS_MESH) {
            int64_t triangles = b.triangleOverride >= 0 ? b.triangleOverride : int64_t(b.indices.size() / 3);
            PutU32(&out, uint32_t(triangles));
        }
        for (float f : b.points) PutF32(&out, f);
        if (b.type == RBS_MESH) {
            for (uint16_t i : b.indices) {
                uint8_t two[2];
                Bytes_StoreU16(two, i);
                out.insert(out.end(), two, two + 2);
            }
        }
    }
    return out;
}

int Rbs_WriteFile(const std::vector<RbsBlock>& blocks, const std::string& path, std::string* message)
{
    std::vector<uint8_t> bytes = Rbs_Write(blocks);
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    const std::string temporary = path + ".tmp";
    FILE* out = fopen(temporary.c_str(), "wb");
    if (!out) {
        if (message) *message = path + ": can't be written: " + strerror(errno);
        return 0;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (fclose(out) != 0) ok = false;
    if (ok) {
        std::filesystem::rename(temporary, path, ec);
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(temporary, ec);
        if (message) *message = path + ": write failed";
        return 0;
    }
    return 1;
}

std::string Rbs_OutputPath(const char* modelPath)
{
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, modelPath, 0, "rbs");
    std::string path = name;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

RbsBlock Rbs_Box(float mass, float hx, float hy, float hz, float cx, float cy, float cz)
{
    RbsBlock b;
    b.type = RBS_CONVEX;
    b.mass = mass;
    for (int i = 0; i < 8; ++i) {
        b.points.push_back(cx + ((i & 1) ? hx : -hx));
        b.points.push_back(cy + ((i & 2) ? hy : -hy));
        b.points.push_back(cz + ((i & 4) ? hz : -hz));
    }
    return b;
}

RbsBlock Rbs_Grid(int n, float cell, float y)
{
    RbsBlock b;
    b.type = RBS_MESH;
    float half = n * cell * 0.5f;
    for (int z = 0; z <= n; ++z) {
        for (int x = 0; x <= n; ++x) {
            b.points.push_back(x * cell - half);
            b.points.push_back(y);
            b.points.push_back(z * cell - half);
        }
    }
    for (int z = 0; z < n; ++z) {
        for (int x = 0; x < n; ++x) {
            uint16_t a = uint16_t(z * (n + 1) + x), c = uint16_t(a + n + 1);
            // Both triangles wound so that their normal points up (+y).
            b.indices.insert(b.indices.end(), {a, c, uint16_t(a + 1)});
            b.indices.insert(b.indices.end(), {uint16_t(a + 1), c, uint16_t(c + 1)});
        }
    }
    return b;
}
