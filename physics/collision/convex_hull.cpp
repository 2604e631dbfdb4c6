#include "physics/collision/convex_hull.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

extern "C" {
#include <libqhull_r/qhull_ra.h>
}

#include "physics/base/phys_warning.h"

namespace {

// The four hull parameters, in the order the callers give them.
struct HullTolerances {
  float weld;      // points closer than this to a point kept before them are that point
  float build;     // while the hull is built: facets whose centres lie this near each other's planes merge
  float plane;     // once it is built: the same, at this distance
  float coplanar;  // once it is built: facets whose normals agree to this cosine merge
};

// Reads the parameters; 0 for a value that is not finite or out of its range.
int ReadTolerances(const float params[4], HullTolerances* out) {
  if (!params) return 0;
  for (int i = 0; i < 4; ++i)
    if (!std::isfinite(params[i]) || params[i] < 0) return 0;
  if (params[3] > 1) return 0;
  *out = HullTolerances{params[0], params[1], params[2], params[3]};
  return 1;
}

// Drops every point that lies within `distance` of a point kept before it
// (x, y, z triples, compacted in place, in their order); the points kept.
int Weld(std::vector<double>* coords, double distance) {
  const int count = int(coords->size() / 3);
  if (!(distance > 0)) return count;
  std::map<std::array<int64_t, 3>, std::vector<int>> cells;  // grid of side `distance`
  const double limit = distance * distance;
  int kept = 0;
  double* c = coords->data();
  for (int i = 0; i < count; ++i) {
    const double* p = c + size_t(i) * 3;
    std::array<int64_t, 3> cell;
    for (int k = 0; k < 3; ++k) cell[k] = int64_t(std::floor(p[k] / distance));
    bool near = false;
    for (int dx = -1; dx <= 1 && !near; ++dx)
      for (int dy = -1; dy <= 1 && !near; ++dy)
        for (int dz = -1; dz <= 1 && !near; ++dz) {
          auto it = cells.find({cell[0] + dx, cell[1] + dy, cell[2] + dz});
          if (it == cells.end()) continue;
          for (int j : it->second) {
            const double* q = c + size_t(j) * 3;
            const double ex = p[0] - q[0], ey = p[1] - q[1], ez = p[2] - q[2];
            if (ex * ex + ey * ey + ez * ez < limit) {
              near = true;
              break;
            }
          }
        }
    if (near) continue;
    std::memmove(c + size_t(kept) * 3, p, 3 * sizeof(double));
    cells[cell].push_back(kept++);
  }
  coords->resize(size_t(kept) * 3);
  return kept;
}

// The merging pass: qhull with the merge tolerances, keeping (in their
// order) only the points that stay vertices. Facets whose centres lie within
// `build` of each other's planes merge while the hull is built (C-), within
// `plane` once it is built (C), and so do facets whose normals agree to
// `coplanar` (A); a point that near a merged facet is no vertex. Returns the
// points kept, or 0 when qhull fails. qhull reports errors by longjmp inside
// qh_new_qhull, so nothing with a destructor lives across that call except
// what is built before it.
int KeepMergedVertices(std::vector<double>* coords, int count, const HullTolerances& tol) {
  FILE* devnull = std::fopen("/dev/null", "w");
  if (!devnull) devnull = std::tmpfile();
  if (!devnull) return 0;
  char options[96];
  int used = snprintf(options, sizeof options, "qhull Pp W1e-7 E1e-7 C-%.9g C%.9g", double(tol.build),
                      double(tol.plane));
  if (tol.coplanar < 1) snprintf(options + used, sizeof options - size_t(used), " A%.9g", double(tol.coplanar));
  std::vector<uint8_t> isVertex(size_t(count), 0);
  qhT qhData;
  qhT* qh = &qhData;
  QHULL_LIB_CHECK
  qh_zero(qh, devnull);
  int exitCode = qh_new_qhull(qh, 3, count, coords->data(), False, options, nullptr, devnull);
  int ok = exitCode == 0;
  if (ok) {
    vertexT* vertex;
    FORALLvertices {
      int id = qh_pointid(qh, vertex->point);
      if (id >= 0 && id < count) isVertex[size_t(id)] = 1;
    }
  }
  qh_freeqhull(qh, !qh_ALL);
  int curLong = 0, totLong = 0;
  qh_memfreeshort(qh, &curLong, &totLong);
  std::fclose(devnull);
  if (!ok) return 0;
  int kept = 0;
  double* c = coords->data();
  for (int i = 0; i < count; ++i)
    if (isVertex[size_t(i)]) std::memmove(c + size_t(kept++) * 3, c + size_t(i) * 3, 3 * sizeof(double));
  coords->resize(size_t(kept) * 3);
  return kept;
}

// One triangle of qhull's output, with the plane of its (merged) facet.
struct RawFacet {
  double normal[3];
  double offset;  // dot(normal, x) == offset
  int v[3];       // indices into the hull vertex list
};

// Runs qhull over the points. On success fills hull vertex positions and the
// triangulated facets and returns 1; any qhull error returns 0. qhull reports
// errors by longjmp inside qh_new_qhull, so nothing of ours with a destructor
// lives across that call except what is built before it.
int RunQhull(std::vector<double>& coords, int count, std::vector<Vec3>& outVertices,
             std::vector<RawFacet>& outFacets) {
  // qhull insists on a stream for its messages; they are not wanted.
  FILE* devnull = std::fopen("/dev/null", "w");
  if (!devnull) devnull = std::tmpfile();
  if (!devnull) return 0;
  qhT qhData;
  qhT* qh = &qhData;
  QHULL_LIB_CHECK
  qh_zero(qh, devnull);
  char options[] = "qhull Qt Pp W1e-7 E1e-7";
  int exitCode = qh_new_qhull(qh, 3, count, coords.data(), False, options, nullptr, devnull);
  int ok = 0;
  if (exitCode == 0) {
    ok = 1;
    std::vector<int> pointToVertex(size_t(count), -1);
    facetT* facet;
    vertexT *vertex, **vertexp;
    FORALLfacets {
      if (!ok) break;
      if (qh_setsize(qh, facet->vertices) != 3) { ok = 0; break; }
      RawFacet raw{};
      for (int k = 0; k < 3; ++k) raw.normal[k] = facet->normal[k];
      raw.offset = -facet->offset;
      int k = 0;
      FOREACHvertex_(facet->vertices) {
        int id = qh_pointid(qh, vertex->point);
        if (id < 0 || id >= count) { ok = 0; break; }
        if (pointToVertex[size_t(id)] < 0) {
          pointToVertex[size_t(id)] = int(outVertices.size());
          const double* p = vertex->point;
          outVertices.push_back(V3(float(p[0]), float(p[1]), float(p[2])));
        }
        raw.v[k++] = pointToVertex[size_t(id)];
      }
      if (ok) outFacets.push_back(raw);
    }
  }
  qh_freeqhull(qh, !qh_ALL);
  int curLong = 0, totLong = 0;
  qh_memfreeshort(qh, &curLong, &totLong);
  std::fclose(devnull);
  return ok && !outFacets.empty();
}

void Refuse(const char* why) { PHYS_WARNING("ConvexHull_Build", why); }

// Adds the volume integrals of tetrahedron (origin, a, b, c) to the sums.
void AddTetrahedron(Vec3 a, Vec3 b, Vec3 c, double* volume, double firstMoment[3],
                    double second[3][3]) {
  double det = double(Vec3_Dot(a, Vec3_Cross(b, c)));
  double vol = det / 6.0;
  *volume += vol;
  Vec3 s = a + b + c;
  for (int i = 0; i < 3; ++i) firstMoment[i] += vol * double(Vec3_Get(s, i)) / 4.0;
  // Integral of x x^T over the tetrahedron: det/120 (A A^T + s s^T).
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double aat = double(Vec3_Get(a, i)) * Vec3_Get(a, j) + double(Vec3_Get(b, i)) * Vec3_Get(b, j) +
                   double(Vec3_Get(c, i)) * Vec3_Get(c, j);
      second[i][j] += det / 120.0 * (aat + double(Vec3_Get(s, i)) * Vec3_Get(s, j));
    }
}

}  // namespace

ConvexHull* ConvexHull_Build(const float* points, int count, const float params[4], float margin) {
  HullTolerances tol;
  if (!ReadTolerances(params, &tol)) {
    Refuse("hull parameters out of range");
    return nullptr;
  }
  if (!points || count < 4) {
    Refuse("fewer than four points");
    return nullptr;
  }
  std::vector<double> coords(size_t(count) * 3);
  for (int i = 0; i < count; ++i) {
    for (int k = 0; k < 3; ++k) {
      float v = points[size_t(i) * 4 + size_t(k)];
      if (!std::isfinite(v)) {
        Refuse("non-finite point");
        return nullptr;
      }
      // qhull's arithmetic loses its way on coordinates far beyond any
      // world (one point 1e27 away from a unit box kept it busy for minutes).
      if (std::fabs(v) > kHullMaxCoordinate) {
        Refuse("point beyond the hull's coordinate range");
        return nullptr;
      }
      coords[size_t(i) * 3 + size_t(k)] = double(v);
    }
  }
  // Near points welded; with merging, only the points that stay vertices of
  // the merged hull go on. The hull of what is left is then built exactly,
  // so that its faces are planar and it stays convex.
  int kept = Weld(&coords, tol.weld);
  if (kept >= 4 && (tol.build > 0 || tol.plane > 0 || tol.coplanar < 1)) kept = KeepMergedVertices(&coords, kept, tol);
  std::vector<Vec3> verts;
  std::vector<RawFacet> facets;
  if (kept < 4 || !RunQhull(coords, kept, verts, facets)) {
    Refuse("qhull found no three-dimensional hull (flat, collinear or coincident points)");
    return nullptr;
  }
  if (verts.size() > 65535 || facets.size() > 65535) {
    Refuse("hull too large");
    return nullptr;
  }

  // Regroup the triangles into faces by their plane: distinct faces of a
  // convex polyhedron never share an outward normal.
  std::vector<int> group(facets.size(), -1);
  std::vector<int> groupLeader;
  for (size_t i = 0; i < facets.size(); ++i) {
    for (size_t g = 0; g < groupLeader.size(); ++g) {
      const RawFacet& f = facets[size_t(groupLeader[g])];
      double d = f.normal[0] * facets[i].normal[0] + f.normal[1] * facets[i].normal[1] +
                 f.normal[2] * facets[i].normal[2];
      if (d > 1.0 - 1e-6 && std::fabs(f.offset - facets[i].offset) < 1e-5 * (1.0 + std::fabs(f.offset))) {
        group[i] = int(g);
        break;
      }
    }
    if (group[i] < 0) {
      group[i] = int(groupLeader.size());
      groupLeader.push_back(int(i));
    }
  }

  ConvexHull* hull = new ConvexHull();
  hull->margin = margin;
  hull->vertices.Reserve(int(verts.size()));
  for (Vec3 v : verts) hull->vertices.Push(v);

  std::vector<int> polygon;
  for (size_t g = 0; g < groupLeader.size(); ++g) {
    const RawFacet& lead = facets[size_t(groupLeader[g])];
    Vec3 n = Vec3_Unit(V3(float(lead.normal[0]), float(lead.normal[1]), float(lead.normal[2])));
    polygon.clear();
    for (size_t i = 0; i < facets.size(); ++i) {
      if (group[i] != int(g)) continue;
      for (int k = 0; k < 3; ++k)
        if (std::find(polygon.begin(), polygon.end(), facets[i].v[k]) == polygon.end())
          polygon.push_back(facets[i].v[k]);
    }
    // Order the face's vertices counter-clockwise about its normal.
    Vec3 centre{0, 0, 0};
    for (int v : polygon) centre += verts[size_t(v)];
    centre = centre * (1.0f / float(polygon.size()));
    Vec3 t1, t2;
    Vec3_PlaneSpace(n, &t1, &t2);
    std::sort(polygon.begin(), polygon.end(), [&](int a, int b) {
      Vec3 da = verts[size_t(a)] - centre, db = verts[size_t(b)] - centre;
      return std::atan2(Vec3_Dot(da, t2), Vec3_Dot(da, t1)) < std::atan2(Vec3_Dot(db, t2), Vec3_Dot(db, t1));
    });
    // Drop vertices lying on the straight line of their neighbours.
    for (size_t i = 0; polygon.size() > 3 && i < polygon.size();) {
      Vec3 p = verts[size_t(polygon[(i + polygon.size() - 1) % polygon.size()])];
      Vec3 c = verts[size_t(polygon[i])];
      Vec3 q = verts[size_t(polygon[(i + 1) % polygon.size()])];
      Vec3 e1 = c - p, e2 = q - c;
      if (Vec3_Norm(Vec3_Cross(e1, e2)) <= 1e-6f * Vec3_Norm(e1) * Vec3_Norm(e2) + 1e-12f)
        polygon.erase(polygon.begin() + long(i));
      else
        ++i;
    }
    if (hull->faceVertices.Count() + int(polygon.size()) > 65535) {
      Refuse("hull too large");
      PhysObject_Destroy(hull);
      return nullptr;
    }
    HullFace face{};
    face.normal = n;
    face.offset = 0;
    for (int v : polygon) face.offset += Vec3_Dot(n, verts[size_t(v)]);
    face.offset /= float(polygon.size());
    face.first = uint16_t(hull->faceVertices.Count());
    face.count = uint16_t(polygon.size());
    for (int v : polygon) hull->faceVertices.Push(uint16_t(v));
    hull->faces.Push(face);
  }

  // Edges: each polygon side once, with the faces on both sides.
  std::vector<uint64_t> sides;  // (min vertex, max vertex, face)
  for (int f = 0; f < hull->faces.Count(); ++f) {
    const HullFace& face = hull->faces[f];
    for (int k = 0; k < face.count; ++k) {
      uint32_t a = hull->faceVertices[face.first + k];
      uint32_t b = hull->faceVertices[face.first + (k + 1) % face.count];
      if (a > b) std::swap(a, b);
      sides.push_back((uint64_t(a) << 40) | (uint64_t(b) << 20) | uint64_t(f));
    }
  }
  std::sort(sides.begin(), sides.end());
  for (size_t i = 0; i < sides.size();) {
    uint64_t key = sides[i] >> 20;
    HullEdge e{};
    e.v0 = uint16_t(sides[i] >> 40);
    e.v1 = uint16_t((sides[i] >> 20) & 0xFFFFF);
    e.f0 = e.f1 = uint16_t(sides[i] & 0xFFFFF);
    size_t j = i + 1;
    if (j < sides.size() && (sides[j] >> 20) == key) e.f1 = uint16_t(sides[j] & 0xFFFFF);
    while (j < sides.size() && (sides[j] >> 20) == key) ++j;
    hull->edges.Push(e);
    Vec3 na = hull->faces[e.f0].normal, nb = hull->faces[e.f1].normal;
    hull->edgeArcs.Push(HullEdgeArc{na, nb, Vec3_Cross(nb, na)});
    i = j;
  }

  // Mass properties from tetrahedra fanned from the first vertex.
  Vec3 ref = verts[0];
  double volume = 0, first[3] = {0, 0, 0}, second[3][3] = {};
  for (const HullFace& face : hull->faces) {
    Vec3 a = verts[hull->faceVertices[face.first]] - ref;
    for (int k = 1; k + 1 < face.count; ++k) {
      Vec3 b = verts[hull->faceVertices[face.first + k]] - ref;
      Vec3 c = verts[hull->faceVertices[face.first + k + 1]] - ref;
      AddTetrahedron(a, b, c, &volume, first, second);
    }
  }
  Aabb box = Aabb_Empty();
  for (Vec3 v : verts) Aabb_AddPoint(&box, v);
  hull->localBounds = box;
  if (!(volume > 1e-12)) {
    Refuse("hull without volume");
    PhysObject_Destroy(hull);
    return nullptr;
  }
  double m[3] = {first[0] / volume, first[1] / volume, first[2] / volume};
  hull->volume = float(volume);
  hull->centroid = ref + V3(float(m[0]), float(m[1]), float(m[2]));
  for (Vec3 v : verts) hull->boundingRadius = std::fmax(hull->boundingRadius, Vec3_Norm(v - hull->centroid));
  double cov[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) cov[i][j] = (second[i][j] - volume * m[i] * m[j]) / volume;
  double trace = cov[0][0] + cov[1][1] + cov[2][2];
  for (int i = 0; i < 3; ++i)
    hull->unitInertia.r[i] = V3(float((i == 0 ? trace : 0) - cov[i][0]), float((i == 1 ? trace : 0) - cov[i][1]),
                                float((i == 2 ? trace : 0) - cov[i][2]));
  return hull;
}

int ConvexHull_Support(const ConvexHull* hull, Vec3 dir) {
  int best = 0;
  float bestDot = -3.4e38f;
  const Vec3* v = hull->vertices.Data();
  for (int i = 0, n = hull->vertices.Count(); i < n; ++i) {
    float d = Vec3_Dot(v[i], dir);
    if (d > bestDot) {
      bestDot = d;
      best = i;
    }
  }
  return best;
}
