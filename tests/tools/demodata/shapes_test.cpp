#include "tools/demodata/shapes.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <tuple>

#include "engine/lwo.h"
#include "tests/engine/engine_fixture.h"

namespace {

// Every shape written as an object and read back by the game's own object
// parser, whose face normals must point the way the shape faces.
class ShapesTest : public EngineFileTest {
protected:
    LwoObject* Read(const MeshBuilder& mesh, const char* name = "Shapes\\Shape.lwo")
    {
        WriteData(name, LwoWriter_Write(Shape_ToObject(mesh)));
        LwoObject* object = Lwo_Open(name, -1);
        EXPECT_TRUE(object && Lwo_ComputeNormals(object) == 1) << name;
        return object;
    }
    // Each directed edge once and its reverse once: the surface is closed
    // and every triangle is wound the same way as its neighbours.
    static bool Closed(const LwoObject* o)
    {
        // Points at one place are one point to a solid.
        std::map<std::tuple<float, float, float>, uint32_t> place;
        std::vector<uint32_t> id(o->pointCount);
        for (uint32_t p = 0; p < o->pointCount; p++)
            id[p] = place.emplace(std::make_tuple(o->points[p].x, o->points[p].y, o->points[p].z), p).first->second;
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        for (uint32_t t = 0; t < o->polygonCount; t++)
            for (uint32_t k = 0; k < 3; k++) {
                const uint32_t a = id[o->indices[o->polygons[t].firstIndex + k]];
                const uint32_t b = id[o->indices[o->polygons[t].firstIndex + (k + 1) % 3]];
                if (a != b) edges[{a, b}]++;
            }
        for (const auto& [edge, count] : edges) {
            auto back = edges.find({edge.second, edge.first});
            if (count != 1 || back == edges.end() || back->second != 1) return false;
        }
        return true;
    }
    // fn(centroid, normal) holds for every triangle with a normal.
    static bool EveryFace(const LwoObject* o, const std::function<bool(const Vec3&, const Vec3&)>& fn)
    {
        for (uint32_t t = 0; t < o->polygonCount; t++) {
            const Vec3& n = o->faceNormals[t];
            if (n.x == 0 && n.y == 0 && n.z == 0) continue;  // a sliver at a pole
            Vec3 c = {0, 0, 0};
            for (uint32_t k = 0; k < 3; k++) {
                const Vec3& p = o->points[o->indices[o->polygons[t].firstIndex + k]];
                c = {c.x + p.x / 3, c.y + p.y / 3, c.z + p.z / 3};
            }
            if (!fn(c, n)) return false;
        }
        return true;
    }
    static bool Outward(const LwoObject* o, const Vec3& centre)
    {
        return EveryFace(o, [&](const Vec3& c, const Vec3& n) {
            return (c.x - centre.x) * n.x + (c.y - centre.y) * n.y + (c.z - centre.z) * n.z > 0;
        });
    }
};

TEST_F(ShapesTest, ClosedSolidsAreWatertightAndFaceOutwards)
{
    ShapeSurface plain;
    plain.name = "Plain";
    // The shape, how it is built, a point inside it.
    const std::tuple<const char*, std::function<void(MeshBuilder*, uint32_t)>, Vec3> cases[] = {
        {"box",
         [](MeshBuilder* m, uint32_t s) {
             const float lo[3] = {-1, 0, -2}, hi[3] = {1, 3, 2};
             Shape_Box(m, lo, hi, s, 1);
         },
         {0, 1.5f, 0}},
        {"ramp", [](MeshBuilder* m, uint32_t s) { Shape_Ramp(m, 2, 1, 4, s, 1); }, {0, 0.3f, 2.7f}},
        {"cylinder", [](MeshBuilder* m, uint32_t s) { Shape_Cylinder(m, 0.5f, 0, 2, 12, s); }, {0, 1, 0}},
        {"capsule", [](MeshBuilder* m, uint32_t s) { Shape_Capsule(m, 0.3f, 0.3f, 1.5f, 12, s); }, {0, 0.9f, 0}},
        {"sphere", [](MeshBuilder* m, uint32_t s) { Shape_Sphere(m, 0.4f, 12, 8, s); }, {0, 0, 0}},
        {"cone", [](MeshBuilder* m, uint32_t s) { Shape_Cone(m, 0.5f, 0, 1, 10, s); }, {0, 0.3f, 0}},
    };
    for (const auto& [name, build, centre] : cases) {
        MeshBuilder mesh;
        build(&mesh, mesh.Surface(plain));
        LwoObject* o = Read(mesh);
        ASSERT_NE(o, nullptr) << name;
        EXPECT_EQ(o->polygonCount, mesh.triangles.size()) << name;
        EXPECT_TRUE(Closed(o)) << name;
        EXPECT_TRUE(Outward(o, centre)) << name;
        Lwo_Free(o);
    }
    // The torus faces away from its tube's centre line.
    MeshBuilder ring;
    Shape_Ring(&ring, 2, 0.3f, 16, 6, ring.Surface(plain));
    LwoObject* o = Read(ring);
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(Closed(o));
    EXPECT_TRUE(EveryFace(o, [](const Vec3& c, const Vec3& n) {
        const float r = std::hypot(c.x, c.y);
        const Vec3 axis = {c.x / r * 2, c.y / r * 2, 0};  // the nearest point of the tube's centre line
        return (c.x - axis.x) * n.x + (c.y - axis.y) * n.y + c.z * n.z > 0;
    }));
    Lwo_Free(o);
}

TEST_F(ShapesTest, GroundsFaceUpAndBowlsFaceIn)
{
    ShapeSurface grass;
    grass.name = "Grass";
    grass.texture = "Grass.bmp";
    MeshBuilder plane, terrain, track, bowl;
    Shape_Plane(&plane, 40, 20, 4, plane.Surface(grass), 0.5f);
    Shape_Terrain(&terrain, 30, 8, 2, 7, terrain.Surface(grass), 1);
    Shape_TrackLoop(&track, 20, 6, 24, 0.5f, track.Surface(grass), 0.25f);
    Shape_Bowl(&bowl, 8, 3, 16, 5, bowl.Surface(grass));
    for (MeshBuilder* m : {&plane, &terrain, &track}) {
        LwoObject* o = Read(*m);
        ASSERT_NE(o, nullptr);
        EXPECT_TRUE(EveryFace(o, [](const Vec3&, const Vec3& n) { return n.y > 0.5f; }));
        // The picture is the surface's colour texture through the UV map.
        ASSERT_EQ(o->surfaceCount, 1u);
        char image[64];
        ASSERT_EQ(Lwo_GetSurfaceImageName(o, 0, 0, image, sizeof image), 1);
        EXPECT_STREQ(image, "Grass.bmp");
        EXPECT_GE(Lwo_GetSurfaceTexCoordMap(o, 0), 0);
        Lwo_Free(o);
    }
    LwoObject* o = Read(bowl);
    ASSERT_NE(o, nullptr);
    // Inwards: up, and across towards the bowl's axis.
    EXPECT_TRUE(EveryFace(o, [](const Vec3& c, const Vec3& n) { return n.y > 0 && -c.x * n.x - c.z * n.z >= 0; }));
    Lwo_Free(o);
    // A picture card faces -z with its picture once across it, upright (v 1 at the top).
    MeshBuilder card;
    Shape_Card(&card, 2, 3, card.Surface(grass));
    ASSERT_NE(o = Read(card), nullptr);
    EXPECT_TRUE(EveryFace(o, [](const Vec3&, const Vec3& n) { return n.z < -0.99f; }));
    Lwo_Free(o);
    EXPECT_EQ(std::make_pair(card.uvs, card.points[4]),
              std::make_pair(std::vector<float>{0, 0, 0, 1, 1, 1, 1, 0}, 3.0f));
    // Too many repeats for the parser are caught by the generator; here the
    // plane's coordinates run 0..20 along x at 0.5 a metre.
    float most = 0;
    for (float t : plane.uvs) most = std::max(most, t);
    EXPECT_FLOAT_EQ(most, 20.0f);
}

TEST_F(ShapesTest, TrackLoopsKeepOneTextureScaleRoundTheLoopAndCloseOnWholeRepeats)
{
    ShapeSurface road;
    road.name = "Road";
    // Radius, segments, tile, the repeats round the loop: the tracks' road
    // (39.27 rounds down), one rounding up, and a loop too short for one.
    const std::tuple<float, int, float, float> cases[] = {{25, 48, 0.25f, 39}, {20, 24, 0.3f, 38}, {1, 5, 0.05f, 1}};
    for (const auto& [radius, segments, tile, repeats] : cases) {
        MeshBuilder track;
        Shape_TrackLoop(&track, radius, 7, segments, 0.3f, track.Surface(road), tile);
        LwoObject* o = Read(track);
        ASSERT_TRUE(o && o->polygonCount == 2u * (uint32_t)segments);
        // The texture coordinates each corner is drawn with: every segment,
        // the closing one too, spans the first's share of a whole number of
        // repeats.
        std::vector<float> span;
        std::vector<uint32_t> unlike;  // segments of another span
        for (uint32_t t = 0; t < o->polygonCount; t++) {
            float u, v[3];
            for (uint32_t k = 0; k < 3; k++)
                ASSERT_TRUE(Lwo_GetTexCoord(o, 0, t, o->indices[o->polygons[t].firstIndex + k], &u, &v[k]));
            span.push_back(std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]}));
            if (std::fabs(span[t] - span[0]) > 1e-4f) unlike.push_back(t / 2);
        }
        EXPECT_EQ(unlike, std::vector<uint32_t>{}) << radius;
        EXPECT_NEAR(span[0] * (float)segments, repeats, 1e-3f) << radius;
        Lwo_Free(o);
    }
}

TEST_F(ShapesTest, JointedModelsHangTogetherAndMergeIntoTheirRestPose)
{
    ShapeSurface skin, clothes;
    skin.name = "Skin";
    clothes.name = "Clothes";
    for (bool boxy : {false, true}) {
        const std::vector<ShapePart> parts = Shape_Character(2.0f, skin, clothes, boxy);
        ASSERT_EQ(parts.size(), 6u);
        EXPECT_EQ(parts[0].parent, -1);
        for (size_t i = 1; i < parts.size(); i++) EXPECT_EQ(parts[i].parent, 0) << parts[i].name;
        const MeshBuilder merged = Shape_Merge(parts);
        LwoObject* o = Read(merged);
        ASSERT_NE(o, nullptr);
        EXPECT_NEAR(o->boundingBox[1], 0.0f, 0.02f);  // standing on the ground
        EXPECT_NEAR(o->boundingBox[4], 2.0f, 0.1f);   // as tall as asked
        EXPECT_EQ(o->surfaceCount, 2u);
        Lwo_Free(o);
        // Each part on its own is a closed solid around its joint.
        for (const ShapePart& part : parts) {
            LwoObject* p = Read(part.mesh, "Shapes\\Part.lwo");
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(Closed(p)) << part.name;
            Lwo_Free(p);
        }
    }
    ShapeSurface paint, tyre;
    paint.name = "Paint";
    tyre.name = "Tyre";
    for (const std::vector<ShapePart>& model : {Shape_Kart(paint, tyre), Shape_Broom(paint, tyre)}) {
        for (const ShapePart& part : model) {
            LwoObject* p = Read(part.mesh, "Shapes\\Part.lwo");
            ASSERT_NE(p, nullptr);
            if (part.name != "Body") {
                EXPECT_TRUE(Closed(p)) << part.name;  // the body is three boxes
            }
            // Wheels, handle and bristles were turned onto their axes: still facing out.
            EXPECT_TRUE(
                Outward(p, {(p->boundingBox[0] + p->boundingBox[3]) / 2, (p->boundingBox[1] + p->boundingBox[4]) / 2,
                            (p->boundingBox[2] + p->boundingBox[5]) / 2}) ||
                part.name == "Body")
                << part.name;
            Lwo_Free(p);
        }
    }
}

}  // namespace
