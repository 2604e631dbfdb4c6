// Test harness of the graphics layers above the driver. gfxtest: counted memory, stream bytes and
// chunk edits a reader must refuse. WorldTest: the engine on the Direct3D 8 driver with the world
// attached, owned objects and goldens. SceneTest adds a world with a camera in it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/bytes.h"
#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldties.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/direct3d/rasteriser_format.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tests/gfx/world/world_shapes.h"
#include "tests/platform/direct3d/golden_match.h"
#include "tests/test_env.h"

namespace gfxtest {

struct Counter {
    long live = 0;
    bool poison = false;  // new bytes are 0xA5
    size_t largest = 0;   // the largest block asked for
};
inline Counter& Count()
{
    static Counter c;
    return c;
}

constexpr size_t kHeader = 16;  // the block's size; keeps the caller's block 16-byte aligned

inline void* Alloc(size_t n)
{
    Count().largest = std::max(Count().largest, n);
    char* p = (char*)malloc(n + kHeader);
    if (!p) return nullptr;
    Count().live++;
    memcpy(p, &n, sizeof n);
    if (Count().poison) memset(p + kHeader, 0xA5, n);
    return p + kHeader;
}
inline void Free(void* p)
{
    if (p) Count().live--, free((char*)p - kHeader);
}
inline void* Realloc(void* p, size_t n)
{
    void* q = Alloc(n);
    if (!p || !q) return q;
    size_t old;
    memcpy(&old, (char*)p - kHeader, sizeof old);
    memcpy(q, p, std::min(old, n));
    Free(p);
    return q;
}
inline void* Calloc(size_t count, size_t size)
{
    void* p = Alloc(count * size);
    if (p) memset(p, 0, count * size);
    return p;
}

// A memory stream's bytes.
using Bytes = std::vector<uint8_t>;

inline Stream* OpenWrite() { return Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr); }
inline Bytes CloseWrite(Stream* s)
{
    StreamMemory m = {};
    Stream_Close(s, &m);
    Bytes out(m.start, m.start + m.length);
    Engine_Free(m.start);
    return out;
}
// The stream reads from `bytes`, which must outlive it.
inline Stream* OpenRead(Bytes& bytes)
{
    StreamMemory m = {bytes.data(), (uint32_t)bytes.size()};
    return Stream_Open(STREAM_MEMORY, STREAM_READ, &m);
}
inline uint32_t U32(const Bytes& b, size_t at) { return Bytes_LoadU32(b.data() + at); }
inline void PutU32(Bytes& b, size_t at, uint32_t v) { Bytes_StoreU32(b.data() + at, v); }
// Little-endian words appended to bytes.
inline void Words(Bytes& out, std::initializer_list<uint32_t> words)
{
    for (uint32_t w : words) out.resize(out.size() + 4), PutU32(out, out.size() - 4, w);
}
inline uint32_t FloatBits(float f)
{
    uint32_t u;
    memcpy(&u, &f, 4);
    return u;
}

// What write(object, stream) puts in a memory stream.
template <typename T, typename W>
Bytes Written(W write, const T* object)
{
    Stream* s = OpenWrite();
    EXPECT_NE(write(object, s), nullptr);
    return CloseWrite(s);
}
// What read(stream) makes of the first chunk of type `chunk` in bytes.
template <typename R>
auto ReadChunk(R read, uint32_t chunk, Bytes& bytes) -> decltype(read(nullptr))
{
    Stream* s = OpenRead(bytes);
    auto object = Stream_FindChunk(s, chunk, nullptr, nullptr) ? read(s) : nullptr;
    Stream_Close(s, nullptr);
    return object;
}
inline Bytes WriteGeometry(const Geometry* g) { return Written(Geometry_StreamWrite, g); }
inline Geometry* ReadGeometry(Bytes& b) { return ReadChunk(Geometry_StreamRead, CHUNK_GEOMETRY, b); }
inline Bytes WriteAtomic(const Atomic* a) { return Written(Atomic_StreamWrite, a); }
inline Atomic* ReadAtomic(Bytes& b) { return ReadChunk(Atomic_StreamRead, CHUNK_ATOMIC, b); }
inline Bytes WriteMaterial(const Material* m) { return Written(Material_StreamWrite, m); }
inline Material* ReadMaterial(Bytes& b) { return ReadChunk(Material_StreamRead, CHUNK_MATERIAL, b); }

// One change to a good chunk: the word at `at` set (unless kKeep), then a cut to `cut` (unless 0).
constexpr size_t kKeep = (size_t)-1;
struct Edit {
    const char* what;
    size_t at;
    uint32_t value;
    int32_t error;  // the error the refusal leaves (0: any)
    size_t cut = 0;
};
// Each edit of good on its own: read(bytes) refuses, leaving no block behind and the edit's error.
template <typename R>
void ExpectRefused(const Bytes& good, std::initializer_list<Edit> edits, R read)
{
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        Bytes bytes = good;
        if (e.at != kKeep) PutU32(bytes, e.at, e.value);
        if (e.cut) bytes.resize(e.cut);
        const long before = Count().live;
        Error_Get(nullptr);
        EXPECT_EQ(read(bytes), nullptr);
        EXPECT_EQ(Count().live, before);
        const int32_t code = Error_TakeCode();
        EXPECT_TRUE(e.error ? code == e.error : code != (int32_t)ERR_NO_ERROR)
            << std::hex << code << " for " << e.error;
    }
}

}  // namespace gfxtest

class WorldTest : public D3D8DriverTest {
protected:
    size_t arenaSize = 4u << 20;
    TextureDictionary* dictionary = nullptr;
    Material* white = nullptr;                 // an opaque white material
    std::vector<std::function<void()>> owned;  // released last first at tear-down

    // Opens and starts the engine with the world attached (answers first).
    void SetUp() override
    {
        if (answers.desktopWidth == 0) answers.desktopWidth = 640, answers.desktopHeight = 480;
        D3D8Test_SetAnswers(&answers);
        window =
            Window_Create("world test", (int32_t)answers.desktopWidth, (int32_t)answers.desktopHeight, WINDOW_HEADLESS);
        ASSERT_NE(window, nullptr);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        MemoryFunctions memory = {gfxtest::Alloc, gfxtest::Free, gfxtest::Realloc, gfxtest::Calloc};
        ASSERT_EQ(Engine_Init(&memory, 0, arenaSize), 1);
        ASSERT_EQ(World_PluginAttach(), 1);
        RegisterPlugins();
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
        StartEngine(0);
        dictionary = TextureDictionary_SetCurrent(TextureDictionary_Create());
        Texture_SetReadCallback([](const char* name, const char*) -> Texture* {
            if (strcmp(name, "brick") && strcmp(name, "stone")) return nullptr;
            return Texture_SetName(Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888)), name);
        });
        BeginFrame();
        white = Own(MakeMaterial());
    }
    void TearDown() override
    {
        while (!owned.empty()) owned.back()(), owned.pop_back();
        EndFrame();
        TextureDictionary_SetCurrent(nullptr);
        if (dictionary) TextureDictionary_Destroy(dictionary);
        D3D8DriverTest::TearDown();
        gfxtest::Count().poison = false, gfxtest::Count().largest = 0;
    }
    // Released at tear-down after everything owned since (leaving its world; a camera with its frame).
    template <typename T>
    T* Own(T* object)
    {
        if (object) owned.push_back([object] { Release(object); });
        return object;
    }
    static void Release(Geometry* g) { Geometry_Destroy(g); }
    static void Release(Material* m) { Material_Destroy(m); }
    static void Release(Texture* t) { Texture_Destroy(t); }
    static void Release(Frame* f) { Frame_Destroy(f); }
    static void Release(World* w) { World_Destroy(w); }
    static void Release(Light* l) { Light_Destroy(l); }
    static void Release(Atomic* a)
    {
        if (World* w = Atomic_GetWorld(a)) World_RemoveAtomic(w, a);
        Atomic_Destroy(a);
    }
    static void Release(Camera* c)
    {
        if (World* w = Camera_GetWorld(c)) World_RemoveCamera(w, c);
        DestroyCamera(c);
    }
    // An owned atomic of g on an owned frame at (x, y, z), in world w (unless null).
    Atomic* Place(Geometry* g, float x = 0, float y = 0, float z = 0, World* w = nullptr)
    {
        Atomic* a = Own(MakeAtomic(g, Own(worldshapes::FrameAt(x, y, z))));
        if (w) World_AddAtomic(w, a);
        return a;
    }
    // The picture fn draws with camera over `clear` (r, g, b, a): the pixels (0xAARRGGBB) row by row.
    template <typename Fn>
    std::vector<uint32_t> Snapshot(Camera* camera, Fn fn, const uint8_t* clear = nullptr)
    {
        static const uint8_t kGrey[4] = {64, 64, 64, 255};
        EndFrame();
        if (!Camera_BeginUpdate(camera)) return {};
        Camera_Clear(camera, (void*)(clear ? clear : kGrey), 3);
        fn();
        Camera_EndUpdate(camera);
        D3D8Test_Finish();  // the device draws deferred
        const D3D8DrawSurface& s = D3D8_DeviceState()->backBuffer->surface;
        std::vector<uint32_t> out((size_t)s.width * s.height);
        const int bpp = RasteriserFormat_BytesPerPixel(s.format);
        for (int y = 0; y < s.height; y++)
            for (int x = 0; x < s.width; x++)
                out[(size_t)y * s.width + x] =
                    RasteriserFormat_Load(s.format, s.pixels + (size_t)y * s.pitch + (size_t)x * bpp);
        if (!D3D8_System()->inScene) BeginFrame();
        return out;
    }
    // The back buffer against tests/<golden>.png (empty when it matches); HELM_REGEN_GOLDEN=1
    // rewrites the goldens after an intended change: look at each one before committing it.
    static std::string MatchGolden(const std::string& golden, int tolerance = 3, int allowedOff = 0)
    {
        D3D8Test_Finish();
        return raster_test::MatchGoldenSurface(
            D3D8_DeviceState()->backBuffer->surface, std::string(HELM_SOURCE_DIR) + "/tests/" + golden + ".png",
            TestTmp().string() + "/" + golden.substr(golden.rfind('/') + 1) + "_actual.png", tolerance, allowedOff);
    }
    // Two leaves split at x = 0 with a triangle each, the second's on material b. Owned.
    World* TwoLeafWorld(Material* b = nullptr, int32_t renderOrder = 2)
    {
        const WorldBox left = {{-200, -200, -200}, {0, 200, 200}}, right = {{0, -200, -200}, {200, 200, 200}},
                       all = {{-200, -200, -200}, {200, 200, 200}};
        WorldSector* l = WorldSector_CreateLeaf(&left, 3, 1, WORLD_POSITIONS);
        WorldSector* r = WorldSector_CreateLeaf(&right, 3, 1, WORLD_POSITIONS);
        for (WorldSector* s : {l, r}) {
            s->triangles[0] = SectorTriangle{0, {0, 1, 2}};
            const float x = s == l ? -10.0f : 10.0f;
            s->vertices[0] = Vec3{x, 0, 0}, s->vertices[1] = Vec3{x, 1, 0}, s->vertices[2] = Vec3{x + 1, 0, 0};
        }
        r->matListWindowBase = 1;
        World* w = TreeWorld(all, (WorldSector*)WorldSector_CreatePlane(SECTOR_PLANE_X, 0, 0, 0, l, r), WORLD_POSITIONS,
                             {white, b ? b : white});
        w->renderOrder = renderOrder;
        return w;
    }
    // A material list of `materials` (the caller deinitialises it).
    static MaterialList List(std::initializer_list<Material*> materials)
    {
        MaterialList list;
        MaterialList_Initialize(&list);
        for (Material* m : materials) MaterialList_AppendMaterial(&list, m);
        return list;
    }
    // A world over box of the tree at root with a list of `materials` (null when refused). Owned.
    World* TreeWorld(const WorldBox& box, WorldSector* root, uint32_t flags, std::initializer_list<Material*> materials)
    {
        MaterialList list = List(materials);
        World* w = World_CreateWithTree(&box, root, &list, flags);
        MaterialList_Deinitialize(&list);
        return Own(w);
    }
    // A leaf of a unit square at z = 5 (4 vertices prelit (60 v, 10, 20), normals (0, 64, -128), texture
    // coordinates the corners; 2 triangles, the second on material `second`) in an owned world of its own.
    WorldSector* QuadLeaf(uint32_t flags, std::initializer_list<Material*> materials, uint16_t second = 0)
    {
        const WorldBox box = {{-10, -10, -10}, {10, 10, 10}};
        WorldSector* leaf = WorldSector_CreateLeaf(&box, 4, 2, flags);
        for (int v = 0; v < 4; v++) {
            leaf->vertices[v] = Vec3{(float)(v % 2), (float)(v / 2), 5};
            if (leaf->normals) leaf->normals[v] = SectorNormal{0, 64, -128, 0};
            if (leaf->preLitLum) leaf->preLitLum[v] = RGBA{(uint8_t)(60 * v), 10, 20, 255};
            if (leaf->texCoords[0]) leaf->texCoords[0][v] = TexCoords{(float)(v % 2), (float)(v / 2)};
        }
        leaf->triangles[0] = SectorTriangle{0, {0, 2, 1}};
        leaf->triangles[1] = SectorTriangle{second, {1, 2, 3}};
        TreeWorld(box, leaf, flags, materials);
        return leaf;
    }
    static WorldSector* Leaf(World* w, bool right)
    {
        PlaneSector* p = (PlaneSector*)w->rootSector;
        return right ? p->right : p->left;
    }

public:
    static uint32_t State(uint32_t state)
    {
        uint32_t v = 0;
        D3D8_GetRenderState(state, &v);
        return v;
    }
    static uint32_t StageState(uint32_t stage, uint32_t type)
    {
        uint32_t v = 0;
        D3D8_GetTextureStageState(stage, type, &v);
        return v;
    }
    // The device copy of the meshes in an instance-data entry, and a vertex's floats.
    static D3D8MeshInstance* Records(ResourceArenaEntry* e)
    {
        return D3D8InstanceData_Records(D3D8InstanceData_Get(e));
    }
    static const float* Vertex(const D3D8MeshInstance& r, uint32_t i)
    {
        return (const float*)(r.vertexBuffer->bytes.data() + (size_t)(r.baseIndex + i) * r.stride);
    }

protected:
    virtual void RegisterPlugins() {}  // a test's own plugins
    static long Live() { return gfxtest::Count().live; }
    static int32_t TakeError() { return Error_TakeCode(); }
    // The pending error as (plugin id, code), taken.
    static std::pair<int32_t, int32_t> TakeErrorOf()
    {
        ErrorRecord e = {};
        Error_Get(&e);
        return {e.pluginId, e.code};
    }

    // A material with the given colour (caller releases).
    static Material* MakeMaterial(uint8_t r = 255, uint8_t g = 255, uint8_t b = 255, uint8_t a = 255)
    {
        Material* m = Material_Create();
        m->colour[0] = r, m->colour[1] = g, m->colour[2] = b, m->colour[3] = a;
        return m;
    }
    // A grid of n x n quads (world_shapes.h) with every triangle on material.
    static Geometry* MakeGrid(int n, float size, uint32_t flags, Material* material, float z = 0)
    {
        return worldshapes::Grid(n, n, size, flags, material, z);
    }
    // An atomic of g (the atomic takes a reference) on frame (may be null).
    static Atomic* MakeAtomic(Geometry* g, Frame* frame = nullptr)
    {
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        if (frame) Atomic_SetFrame(a, frame);
        return a;
    }
};

// A world (+-200) with a camera at the origin looking along +z (640 x 480, far plane 100).
class SceneTest : public WorldTest {
protected:
    World* world = nullptr;
    Camera* camera = nullptr;
    std::vector<Atomic*> atomics;
    void SetUp() override
    {
        WorldTest::SetUp();
        const WorldBox box = {{-200, -200, -200}, {200, 200, 200}};
        world = Own(World_Create(&box));
        camera = Own(MakeCamera());
        Camera_SetFarClipPlane(camera, 100);
        World_AddCamera(world, camera);
    }
    // An atomic of g (the test's reference goes to it) at (x, y, z) in the world.
    Atomic* Add(Geometry* g, float x = 0, float y = 0, float z = 0)
    {
        atomics.push_back(Place(g, x, y, z, world));
        Geometry_Destroy(g);
        return atomics.back();
    }
    Light* AddLight(uint8_t kind, LightColour colour, float x = 0, float y = 0, float z = 0, const Vec3* at = nullptr,
                    float radius = 0)
    {
        Frame* f = Own(worldshapes::FrameAt(x, y, z, at));
        Light* l = Own(Light_Create(kind));
        Light_SetColour(l, &colour);
        Light_SetFrame(l, f);
        Light_SetRadius(l, radius);
        World_AddLight(world, l);
        return l;
    }
    // The listed atomics (all by default) drawn by the camera; the pixels.
    std::vector<uint32_t> Draw(std::vector<Atomic*> list = {}, const uint8_t* clear = nullptr)
    {
        if (list.empty()) list = atomics;
        return Snapshot(
            camera, [&] { std::for_each(list.begin(), list.end(), Atomic_Render); }, clear);
    }
    // The pixel where world point (x, y, z) lands (world +x runs to the left).
    static uint32_t PixelAt(const std::vector<uint32_t>& pixels, float x, float y, float z)
    {
        const int px = (int)std::lround(320 - 320 * x / z), py = (int)std::lround(240 - 240 * y / z);
        return pixels[(size_t)py * 640 + (size_t)px];
    }
};
