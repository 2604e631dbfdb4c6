#include "physics/collision/mesh_container.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "physics/base/phys_warning.h"

namespace {

constexpr int kLeafSize = 4;

struct BuildItem {
  Aabb box;
  Vec3 centre;
  uint32_t tri;  // index into indexTriangles
};

Aabb TriangleBox(const MeshTriangle& t) {
  return {Vec3_Min(Vec3_Min(t.a, t.b), t.c), Vec3_Max(Vec3_Max(t.a, t.b), t.c)};
}

float HalfArea(const Aabb& b) {
  Vec3 e = b.max - b.min;
  return e.x * e.y + e.y * e.z + e.z * e.x;
}

// Surface-area split over 12 bins of the centres along `axis`: the index
// where items[begin, end) were partitioned, or -1 when no bin boundary
// separates them.
int SahSplit(std::vector<BuildItem>& items, int begin, int end, int axis, float lo, float hi) {
  constexpr int kBins = 12;
  Aabb binBox[kBins];
  int binCount[kBins] = {};
  for (Aabb& b : binBox) b = Aabb_Empty();
  float scale = float(kBins) / (hi - lo);
  auto binOf = [&](const BuildItem& it) {
    int k = int((Vec3_Get(it.centre, axis) - lo) * scale);
    return k < 0 ? 0 : (k >= kBins ? kBins - 1 : k);
  };
  for (int i = begin; i < end; ++i) {
    int k = binOf(items[size_t(i)]);
    ++binCount[k];
    binBox[k] = Aabb_Union(binBox[k], items[size_t(i)].box);
  }
  // Sweep from the right to get the cost of every right part.
  float rightCost[kBins];
  Aabb acc = Aabb_Empty();
  int count = 0;
  for (int k = kBins - 1; k > 0; --k) {
    acc = Aabb_Union(acc, binBox[k]);
    count += binCount[k];
    rightCost[k] = count ? HalfArea(acc) * float(count) : 0.0f;
  }
  acc = Aabb_Empty();
  count = 0;
  int best = -1;
  float bestCost = 3.4e38f;
  for (int k = 1; k < kBins; ++k) {
    acc = Aabb_Union(acc, binBox[k - 1]);
    count += binCount[k - 1];
    if (count == 0 || count == end - begin) continue;
    float cost = HalfArea(acc) * float(count) + rightCost[k];
    if (cost < bestCost) {
      bestCost = cost;
      best = k;
    }
  }
  if (best < 0) return -1;
  auto middle = std::partition(items.begin() + begin, items.begin() + end,
                               [&](const BuildItem& it) { return binOf(it) < best; });
  return int(middle - items.begin());
}

// Builds the subtree over items[begin, end) and returns its node index.
// Splits by surface area; from depth 32 on (or when binning cannot split)
// at the median of the centres, which keeps the depth, and so the fixed
// traversal stacks of the queries, bounded.
int BuildNode(MeshContainer* mesh, std::vector<BuildItem>& items, int begin, int end,
              std::vector<MeshTriangle>& source, int depth) {
  Aabb box = Aabb_Empty(), centres = Aabb_Empty();
  for (int i = begin; i < end; ++i) {
    box = Aabb_Union(box, items[size_t(i)].box);
    Aabb_AddPoint(&centres, items[size_t(i)].centre);
  }
  int self = mesh->nodes.Count();
  MeshNode node{box, 0, 0};
  mesh->nodes.Push(node);
  if (end - begin <= kLeafSize) {
    mesh->nodes[self].first = mesh->triangles.Count();
    mesh->nodes[self].count = end - begin;
    for (int i = begin; i < end; ++i) mesh->triangles.Push(source[items[size_t(i)].tri]);
    return self;
  }
  Vec3 extent = centres.max - centres.min;
  int axis = extent.x >= extent.y && extent.x >= extent.z ? 0 : (extent.y >= extent.z ? 1 : 2);
  int mid = -1;
  float lo = Vec3_Get(centres.min, axis), hi = Vec3_Get(centres.max, axis);
  if (depth < 32 && hi > lo) mid = SahSplit(items, begin, end, axis, lo, hi);
  if (mid <= begin || mid >= end) {
    mid = (begin + end) / 2;
    std::nth_element(items.begin() + begin, items.begin() + mid, items.begin() + end,
                     [axis](const BuildItem& a, const BuildItem& b) {
                       float ca = Vec3_Get(a.centre, axis), cb = Vec3_Get(b.centre, axis);
                       return ca < cb || (ca == cb && a.tri < b.tri);
                     });
  }
  BuildNode(mesh, items, begin, mid, source, depth + 1);
  int right = BuildNode(mesh, items, mid, end, source, depth + 1);
  mesh->nodes[self].first = right;
  return self;
}

void Rebuild(MeshContainer* mesh) {
  mesh->nodes.Clear();
  mesh->triangles.Clear();
  int n = mesh->indexTriangles.Count();
  if (n == 0) {
    mesh->localBounds = Aabb{};
    return;
  }
  std::vector<MeshTriangle> source(static_cast<size_t>(n));
  std::vector<BuildItem> items(static_cast<size_t>(n));
  Aabb all = Aabb_Empty();
  for (int i = 0; i < n; ++i) {
    const MeshIndexTriangle& it = mesh->indexTriangles[i];
    MeshTriangle& t = source[size_t(i)];
    t.a = mesh->vertices[int(it.v[0])];
    t.b = mesh->vertices[int(it.v[1])];
    t.c = mesh->vertices[int(it.v[2])];
    t.normal = Vec3_Unit(Vec3_Cross(t.b - t.a, t.c - t.a));
    t.index = uint32_t(i);
    items[size_t(i)] = {TriangleBox(t), (t.a + t.b + t.c) * (1.0f / 3.0f), uint32_t(i)};
    all = Aabb_Union(all, items[size_t(i)].box);
  }
  mesh->nodes.Reserve(2 * n);
  mesh->triangles.Reserve(n);
  BuildNode(mesh, items, 0, n, source, 0);
  mesh->localBounds = all;
}

// Sweep of a sphere (centre o, motion d over t in [0, 1]) against a capsule
// axis p-q of the same radius: the ray against the swept edge. Returns the
// smallest t in [0, 1] or -1.
float RayCapsule(Vec3 o, Vec3 d, Vec3 p, Vec3 q, float r) {
  Vec3 axis = q - p, m = o - p;
  float aa = Vec3_Dot(axis, axis);
  float best = -1.0f;
  if (aa > 1e-20f) {
    // Infinite cylinder: |(m + t d) x axis|^2 = r^2 |axis|^2.
    Vec3 dxa = Vec3_Cross(d, axis), mxa = Vec3_Cross(m, axis);
    float a = Vec3_Dot(dxa, dxa), b = Vec3_Dot(dxa, mxa), c = Vec3_Dot(mxa, mxa) - r * r * aa;
    if (a > 1e-20f && c > 0.0f) {
      float disc = b * b - a * c;
      if (disc >= 0.0f) {
        float t = (-b - std::sqrt(disc)) / a;
        if (t >= 0.0f && t <= 1.0f) {
          float s = Vec3_Dot(m + d * t, axis) / aa;
          if (s >= 0.0f && s <= 1.0f) best = t;
        }
      }
    }
  }
  // End caps: the corner spheres.
  float len = Vec3_Norm(d);
  if (len > 1e-20f) {
    Vec3 dir = d * (1.0f / len);
    for (Vec3 corner : {p, q}) {
      float t = Geometry_RaySphere(o, dir, len, corner, r);
      if (t >= 0.0f) {
        t /= len;
        if (best < 0.0f || t < best) best = t;
      }
    }
  }
  return best;
}

}  // namespace

MeshContainer* MeshContainer_Construct() { return new MeshContainer(); }

int MeshContainer_AddVertices(MeshContainer* mesh, const float* vertices, int count) {
  if (!mesh || count < 0 || count > (1 << 24) || (count > 0 && !vertices)) return 0;
  for (int i = 0; i < count * 4; ++i) {
    if ((i & 3) != 3 && !std::isfinite(vertices[i])) {
      PHYS_WARNING("MeshContainer_AddVertices", "non-finite vertex: batch refused");
      return 0;
    }
  }
  if (!mesh->vertices.Reserve(mesh->vertices.Count() + count)) return 0;
  for (int i = 0; i < count; ++i)
    mesh->vertices.Push(V3(vertices[i * 4], vertices[i * 4 + 1], vertices[i * 4 + 2]));
  return 1;
}

int MeshContainer_AddTriangles(MeshContainer* mesh, const uint16_t* indices, int count) {
  if (!mesh || count <= 0 || count > (1 << 24) || !indices) return 0;
  int accepted = 0, refused = 0;
  uint32_t nv = uint32_t(mesh->vertices.Count());
  for (int i = 0; i < count; ++i) {
    MeshIndexTriangle t{{indices[i * 3], indices[i * 3 + 1], indices[i * 3 + 2]}};
    bool ok = t.v[0] < nv && t.v[1] < nv && t.v[2] < nv;
    if (ok) {
      Vec3 a = mesh->vertices[int(t.v[0])], b = mesh->vertices[int(t.v[1])], c = mesh->vertices[int(t.v[2])];
      Vec3 e1 = b - a, e2 = c - a;
      float area2 = Vec3_Norm(Vec3_Cross(e1, e2));
      float scale = std::max(Vec3_LengthSq(e1), Vec3_LengthSq(e2));
      // Slivers whose normal cannot be trusted count as degenerate too.
      ok = area2 > 1e-6f * scale && area2 > 1e-12f;
    }
    if (!ok || !mesh->indexTriangles.Push(t)) {
      ++refused;
      continue;
    }
    ++accepted;
  }
  if (refused) {
    char text[96];
    std::snprintf(text, sizeof text, "%d triangle(s) out of range or without area dropped", refused);
    PHYS_WARNING("MeshContainer_AddTriangles", text);
    mesh->refusedTriangles += refused;
  }
  if (accepted) Rebuild(mesh);
  return accepted;
}

int MeshContainer_RayCast(const MeshContainer* mesh, Vec3 o, Vec3 d, float maxT, float* tHit, Vec3* normal) {
  if (mesh->nodes.Empty()) return 0;
  Vec3 inv = {1.0f / d.x, 1.0f / d.y, 1.0f / d.z};
  const MeshNode* nodes = mesh->nodes.Data();
  const MeshTriangle* tris = mesh->triangles.Data();
  float best = maxT;
  const MeshTriangle* hit = nullptr;
  int stack[64];
  int top = 0;
  stack[top++] = 0;
  while (top) {
    int ni = stack[--top];
    const MeshNode& n = nodes[ni];
    if (!Geometry_RayAabb(o, inv, best, n.box)) continue;
    if (n.count) {
      for (int i = 0; i < n.count; ++i) {
        const MeshTriangle& t = tris[n.first + i];
        float th = Geometry_RayTriangle(o, d, best, t.a, t.b, t.c);
        if (th >= 0.0f && (th < best || !hit)) {
          best = th;
          hit = &t;
        }
      }
    } else if (top + 2 <= 64) {
      // Visit the child nearer along the ray first so that its hit prunes the other.
      int left = ni + 1, right = n.first;
      Vec3 cl = (nodes[left].box.min + nodes[left].box.max) * 0.5f;
      Vec3 cr = (nodes[right].box.min + nodes[right].box.max) * 0.5f;
      if (Vec3_Dot(cl - cr, d) > 0.0f) std::swap(left, right);
      stack[top++] = right;
      stack[top++] = left;
    }
  }
  if (!hit) return 0;
  *tHit = best;
  *normal = Vec3_Dot(hit->normal, d) > 0.0f ? -hit->normal : hit->normal;
  return 1;
}

int MeshContainer_SweepSphere(const MeshContainer* mesh, Vec3 from, Vec3 to, float r, float* fraction, Vec3* normal,
                              float steepness) {
  Vec3 d = to - from;
  float least = steepness * Vec3_Norm(d);  // the approach along the normal that counts as an impact
  Aabb box = Aabb_Inflate({Vec3_Min(from, to), Vec3_Max(from, to)}, r);
  float best = 2.0f;
  Vec3 bestNormal{0, 1, 0};
  MeshContainer_Query(mesh, box, [&](const MeshTriangle& t) {
    // Skip triangles already touched at the start: the contact test owns them.
    int region;
    Vec3 closest = Geometry_ClosestOnTriangle(from, t.a, t.b, t.c, &region);
    if (Vec3_LengthSq(from - closest) <= r * r) return;
    float side = Vec3_Dot(from - t.a, t.normal);
    Vec3 n = side >= 0.0f ? t.normal : -t.normal;
    float dist = side >= 0.0f ? side : -side;
    float approach = -Vec3_Dot(n, d);
    if (approach > 1e-12f && approach >= least) {
      float tt = (dist - r) / approach;
      if (tt >= 0.0f && tt <= 1.0f && tt < best) {
        Vec3 p = from + d * tt - n * r;
        int rg;
        Vec3 q = Geometry_ClosestOnTriangle(p, t.a, t.b, t.c, &rg);
        if (rg == 0 || Vec3_LengthSq(p - q) < 1e-10f) {
          best = tt;
          bestNormal = n;
          return;
        }
      }
    }
    const Vec3 corners[3] = {t.a, t.b, t.c};
    for (int e = 0; e < 3; ++e) {
      float tt = RayCapsule(from, d, corners[e], corners[(e + 1) % 3], r);
      if (tt >= 0.0f && tt < best) {
        Vec3 c = from + d * tt, p, q;
        Geometry_ClosestSegmentSegment(c, c, corners[e], corners[(e + 1) % 3], &p, &q);
        Vec3 n = Vec3_Unit(c - q);
        if (-Vec3_Dot(n, d) < least) continue;
        best = tt;
        bestNormal = n;
      }
    }
  });
  if (best > 1.0f) return 0;
  *fraction = best;
  *normal = bestNormal;
  return 1;
}
