// Normals of a parsed LightWave object: a face normal per triangle and a
// smoothed normal per corner.
//
// A corner's normal gathers the triangles around its point that are reached
// from the corner's own triangle by crossing shared edges between triangles
// whose face normals lie within the smoothing angle of each other (the
// angle of the surface of the triangle being left). Each gathered triangle
// adds its face normal weighted by its angle at the point, so a corner of a
// triangulated cube smoothed across all faces gets the plain mean of the
// three faces, however its faces were split. The walk never leaves the
// triangles that hold the point, so a crease cannot be bridged by a detour
// and each corner costs only its point's valence.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/memory.h"
#include "engine/loaderror.h"
#include "engine/lwo.h"

namespace {

constexpr uint32_t NO_NEIGHBOUR = 0xFFFFFFFFu;

struct Edge {
    uint64_t key;     // lower point index << 32 | higher
    uint32_t polygon;
    uint32_t slot;    // polygon x 3 + edge
};

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 Unit(Vec3 v)
{
    const float length = std::sqrt(Dot(v, v));
    if (length > 0.0f) v = {v.x / length, v.y / length, v.z / length};
    return v;
}

Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

int Holds(const LwoObject* o, uint32_t polygon, uint32_t point)
{
    const uint32_t* idx = &o->indices[o->polygons[polygon].firstIndex];
    return idx[0] == point || idx[1] == point || idx[2] == point;
}

}  // namespace

int Lwo_ComputeNormals(LwoObject* o)
{
    const uint32_t n = o->polygonCount;
    Mem_Free(o->faceNormals);
    Mem_Free(o->cornerNormals);
    o->faceNormals = (Vec3*)Mem_Calloc((n ? n : 1) * sizeof(Vec3), 16);
    o->cornerNormals = (Vec3*)Mem_Calloc((o->indexCount ? o->indexCount : 1) * sizeof(Vec3), 16);
    Edge* edges = (Edge*)Mem_Alloc((n ? n : 1) * 3 * sizeof(Edge), 16);
    uint32_t* neighbour = (uint32_t*)Mem_Alloc((n ? n : 1) * 3 * sizeof(uint32_t), 8);
    uint32_t* stamp = (uint32_t*)Mem_Calloc((n ? n : 1) * sizeof(uint32_t), 8);
    uint32_t* stack = (uint32_t*)Mem_Alloc((n ? n : 1) * sizeof(uint32_t), 8);
    int ok = o->faceNormals && o->cornerNormals && edges && neighbour && stamp && stack;
    if (ok) {
        for (uint32_t i = 0; i < n; i++) {
            const uint32_t* idx = &o->indices[o->polygons[i].firstIndex];
            const Vec3 &p0 = o->points[idx[0]], &p1 = o->points[idx[1]], &p2 = o->points[idx[2]];
            o->faceNormals[i] = Unit(Cross(Sub(p1, p0), Sub(p2, p1)));
            for (uint32_t k = 0; k < 3; k++) {
                const uint32_t a = idx[k], b = idx[(k + 1) % 3];
                const uint64_t lo = a < b ? a : b, hi = a < b ? b : a;
                edges[i * 3 + k] = Edge{lo << 32 | hi, i, i * 3 + k};
                neighbour[i * 3 + k] = NO_NEIGHBOUR;
            }
        }
        // Polygons sharing an edge (in either direction) sit next to each
        // other once the edges are sorted by their point pair.
        std::sort(edges, edges + (size_t)n * 3, [](const Edge& x, const Edge& y) {
            return x.key != y.key ? x.key < y.key : x.slot < y.slot;
        });
        for (size_t first = 0, end; first < (size_t)n * 3; first = end) {
            end = first + 1;
            while (end < (size_t)n * 3 && edges[end].key == edges[first].key) end++;
            for (size_t e = first; e < end; e++) {
                for (size_t f = first; f < end; f++)
                    if (edges[f].polygon != edges[e].polygon) {
                        neighbour[edges[e].slot] = edges[f].polygon;
                        break;
                    }
            }
        }
        uint32_t walk = 0;
        for (uint32_t i = 0; i < n; i++) {
            for (uint32_t k = 0; k < 3; k++) {
                const uint32_t point = o->indices[o->polygons[i].firstIndex + k];
                Vec3 sum = {0, 0, 0};
                walk++;
                uint32_t top = 0;
                stack[top++] = i;
                stamp[i] = walk;
                while (top > 0) {
                    const uint32_t q = stack[--top];
                    const uint32_t* idx = &o->indices[o->polygons[q].firstIndex];
                    uint32_t at = 0;
                    while (idx[at] != point) at++;
                    const Vec3& p = o->points[point];
                    const Vec3 e1 = Unit(Sub(o->points[idx[(at + 1) % 3]], p));
                    const Vec3 e2 = Unit(Sub(o->points[idx[(at + 2) % 3]], p));
                    float c = Dot(e1, e2);
                    c = c > 1.0f ? 1.0f : c < -1.0f ? -1.0f : c;
                    const float angle = std::acos(c);
                    const Vec3& fn = o->faceNormals[q];
                    sum = {sum.x + fn.x * angle, sum.y + fn.y * angle, sum.z + fn.z * angle};
                    const int32_t surface = o->polygons[q].surface;
                    const float limit = surface >= 0 ? o->surfaces[surface].smoothCos : 0.99999f;
                    for (uint32_t e = 0; e < 3; e++) {
                        const uint32_t next = neighbour[q * 3 + e];
                        if (next == NO_NEIGHBOUR || stamp[next] == walk) continue;
                        if (!(Dot(o->faceNormals[next], fn) > limit) || !Holds(o, next, point)) continue;
                        stamp[next] = walk;
                        stack[top++] = next;
                    }
                }
                o->cornerNormals[o->polygons[i].firstIndex + k] = Unit(sum);
            }
        }
    }
    Mem_Free(edges);
    Mem_Free(neighbour);
    Mem_Free(stamp);
    Mem_Free(stack);
    if (!ok) {
        Mem_Free(o->faceNormals);
        Mem_Free(o->cornerNormals);
        o->faceNormals = o->cornerNormals = nullptr;
        LoadError_Set("out of memory");
    }
    return ok;
}
