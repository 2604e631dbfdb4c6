#include "gfx/core/pipeline.h"
#include "gfx/world/pipelines.h"
#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

class WorldObjectsTest : public WorldTest {
protected:
    const WorldBox big = {{-200, -200, -200}, {200, 200, 200}};
    static int Count(EngineLink* head)
    {
        int n = 0;
        for (EngineLink* l = head->next; l != head; l = l->next) n++;
        return n;
    }
};

TEST_F(WorldObjectsTest, WorldsAreOneEmptyLeafOrAHandBuiltTreeAndRefuseWhatTheWalksCannotFollow)
{
    const long before = Live();
    World* w = World_Create(&big);
    ASSERT_NE(w, nullptr);
    WorldSector* leaf = w->rootSector;
    EXPECT_EQ(std::tuple(leaf->type, leaf->mesh, WorldSector_GetWorld(leaf)),
              std::tuple(SECTOR_LEAF, MeshHeader_Empty(), w));
    EXPECT_EQ(WorldSector_DefaultRenderCallback(leaf), leaf);
    World_Destroy(w);
    EXPECT_EQ(std::tuple(Live(), WorldSector_GetWorld(leaf)), std::tuple(before, nullptr));

    WorldSector* bad = WorldSector_CreateLeaf(&big, 3, 1, WORLD_POSITIONS);
    bad->triangles[0] = SectorTriangle{1, {0, 1, 2}};
    EXPECT_EQ(TreeWorld(big, bad, 0, {white}), nullptr);
    // A chain of 70 planes is deeper than the walks' stack.
    WorldSector* root = WorldSector_CreateLeaf(&big, 0, 0, 0);
    for (int i = 0; i < 70; i++)
        root =
            (WorldSector*)WorldSector_CreatePlane(SECTOR_PLANE_Y, 0, 0, 0, root, WorldSector_CreateLeaf(&big, 0, 0, 0));
    EXPECT_EQ(TreeWorld(big, root, 0, {white}), nullptr);
    EXPECT_EQ(Live(), before);
    Material* b = Own(MakeMaterial(1, 1, 1));
    w = TwoLeafWorld(b);
    EXPECT_EQ(std::tuple(MeshHeader_Meshes(Leaf(w, false)->mesh)[0].material,
                         MeshHeader_Meshes(Leaf(w, true)->mesh)[0].material, WorldSector_GetWorld(Leaf(w, true))),
              std::tuple(white, b, w));
}

TEST_F(WorldObjectsTest, AtomicsAndLightsAreRetiedToTheLeavesTheyOverlapAndDestroyedLightsLeave)
{
    World* w = TwoLeafWorld();
    Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white));
    Atomic *a = Place(g, -50, 0, 0, w), *second = Place(g, -50);
    second->object.header.flags = ATOMIC_RENDER;  // without collision tests: the other list
    World_AddAtomic(w, second);
    // Where a goes: its ties in the left and the right leaf, and the ties in use.
    const struct {
        float x;
        int left, right, inUse;
    } steps[] = {{-50, 1, 0, 2}, {0, 1, 1, 3}, {50, 0, 1, 2}};
    for (const auto& s : steps) {
        Atomic_GetFrame(a)->modelling.pos.x = s.x;
        Frame_MarkDirty(Atomic_GetFrame(a));
        Frame_SyncDirtyList();
        EXPECT_EQ(std::tuple(Count(&Leaf(w, false)->collAtomics), Count(&Leaf(w, true)->collAtomics),
                             WorldTies_AtomicTiesInUse()),
                  std::tuple(s.left, s.right, s.inUse))
            << s.x;
    }
    EXPECT_EQ(Count(&Leaf(w, false)->atomics), 1);
    World_RemoveAtomic(w, a);
    World_RemoveAtomic(w, second);
    EXPECT_EQ(WorldTies_AtomicTiesInUse(), 0);
    Light *sun = Light_Create(LIGHT_DIRECTIONAL), *lamp = Light_Create(LIGHT_POINT);
    Light* frameless = Light_Create(LIGHT_SPOT);
    Light_SetRadius(frameless, 3);  // no frame to mark
    Light_SetFrame(lamp, Own(worldshapes::FrameAt(-5, 0, 0)));
    Light_SetRadius(lamp, 2);
    for (Light* l : {sun, lamp, frameless}) World_AddLight(w, l);
    Frame_SyncDirtyList();
    EXPECT_EQ(std::tuple(Count(&w->globalLights), Count(&w->localLights), Count(&sun->sectorTies),
                         Count(&Leaf(w, false)->lights), WorldTies_LightTiesInUse()),
              std::tuple(1, 2, 0, 1, 1));
    Light_SetRadius(lamp, 10);  // now reaches across x = 0
    Frame_SyncDirtyList();
    EXPECT_EQ(Count(&lamp->sectorTies), 2);
    World_RemoveLight(w, lamp);
    EXPECT_EQ(std::tuple(Count(&lamp->sectorTies), Count(&w->localLights), Light_GetWorld(lamp)),
              std::tuple(0, 1, nullptr));
    World_AddLight(w, lamp);
    Frame_SyncDirtyList();
    for (Light* l : {sun, lamp, frameless}) Light_Destroy(l);  // still in the world
    EXPECT_TRUE(EngineLink_Empty(&w->globalLights));
    EXPECT_TRUE(EngineLink_Empty(&w->localLights));
    EXPECT_EQ(WorldTies_LightTiesInUse(), 0);
}

TEST_F(WorldObjectsTest, CameraUpdatesNameTheWorldAndSyncVisitsStraddlingLeavesInRenderOrder)
{
    for (int32_t order : {2, 1}) {
        SCOPED_TRACE(order);
        World* w = TwoLeafWorld(nullptr, order);
        Camera* camera = Own(MakeCamera(-50, 0, -100));
        Camera_SetFarClipPlane(camera, 300);
        EXPECT_EQ(World_RemoveCamera(w, camera), nullptr);
        World_AddCamera(w, camera);
        const uint16_t frame = Engine_Instance()->renderFrame;
        EndFrame();
        ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
        EXPECT_EQ(std::tuple(Engine_Instance()->currentWorld, Engine_Instance()->renderFrame),
                  std::tuple(w, (uint16_t)(frame + 1)));
        int32_t count = 0;
        WorldSector** visible = Camera_GetVisibleSectors(camera, &count);
        ASSERT_EQ(count, 2);  // both leaves reach past the frustum and are kept
        // Order 2 draws the far side (right of x = 0 for a camera at -50) first.
        EXPECT_EQ(visible[0], Leaf(w, order == 2));
        Camera_EndUpdate(camera);
        EXPECT_EQ(Engine_Instance()->currentWorld, nullptr);
        EXPECT_EQ(World_RemoveCamera(w, camera), w);
    }
}

TEST_F(WorldObjectsTest, DestroyingAWorldLetsGoOfEverythingStillInIt)
{
    Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white));
    Atomic* a = Place(g, -50);
    Frame* lampFrame = Own(worldshapes::FrameAt(5, 0, 0));
    Light* lamp = Own(Light_Create(LIGHT_POINT));
    Light_SetFrame(lamp, lampFrame);
    Light_SetRadius(lamp, 10);
    Clump* clump = Clump_Create();
    Atomic* member = Atomic_Create();
    Clump_AddAtomic(clump, member);
    Camera* camera = Own(MakeCamera(-50, 0, -100));
    Camera_SetFarClipPlane(camera, 300);
    Own(World_Create(&big));  // other worlds, before and after it
    World* w = TwoLeafWorld();
    owned.pop_back();  // destroyed below
    Own(World_Create(&big));
    World_AddAtomic(w, a);
    World_AddLight(w, lamp);
    World_AddClump(w, clump);
    World_AddCamera(w, camera);
    EndFrame();
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    Camera_EndUpdate(camera);
    int32_t count = 0;
    Camera_GetVisibleSectors(camera, &count);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(WorldTies_AtomicTiesInUse(), 1);
    World_Destroy(w);
    EXPECT_EQ(std::tuple(Atomic_GetWorld(a), Atomic_GetWorld(member), Clump_GetWorld(clump), Light_GetWorld(lamp),
                         Camera_GetWorld(camera), Camera_GetVisibleSectors(camera, &count),
                         WorldTies_AtomicTiesInUse() + WorldTies_LightTiesInUse()),
              std::tuple(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0));
    // The next frame moves and draws them without reading the freed world.
    for (Frame* moved : {Atomic_GetFrame(a), Light_GetFrame(lamp), Camera_GetFrame(camera)}) {
        moved->modelling.pos.y += 1;
        Frame_MarkDirty(moved);
    }
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    EXPECT_EQ(Engine_Instance()->currentWorld, nullptr);
    EXPECT_EQ(Atomic_Render(a), a);
    Camera_EndUpdate(camera);
    Clump_Destroy(clump);
}

int sRuns = 0;
void* sLastObject = nullptr;
int32_t CountRun(PipelineNode*, const PipelineExecuteParams* params) { return sRuns++, sLastObject = params->data, 1; }

TEST_F(WorldObjectsTest, DefaultPipelinesAreSelectedUnlessTheObjectOrWorldHasItsOwn)
{
    Pipeline* builtIn = Pipeline_GetDefaultAtomicPipeline();
    ASSERT_NE(builtIn, nullptr);
    EXPECT_EQ(builtIn->pluginId, 2u);
    PipelineNodeDefinition counting = {};
    counting.name = "counting.csl", counting.body = CountRun;
    Pipeline* p[2];
    for (Pipeline*& q : p) {
        q = Pipeline_Create();
        Pipeline_BeginEdit(q);
        Pipeline_AddNodeChain(q, nullptr, &counting, (PipelineNodeDefinition*)nullptr);
        Pipeline_Compile(q);
    }
    Atomic* a = Atomic_Create();
    Pipeline_SetDefaultAtomicPipeline(p[0]);
    sRuns = 0;
    EXPECT_EQ(Atomic_Render(a), a);
    EXPECT_EQ(sRuns, 1);
    a->pipeline = p[1];
    EXPECT_EQ(Atomic_GetRenderPipeline(a), p[1]);
    a->pipeline = nullptr;
    Pipeline_SetDefaultAtomicPipeline(nullptr);
    EXPECT_EQ(Atomic_GetRenderPipeline(a), builtIn);
    Atomic_Destroy(a);

    World* w = TwoLeafWorld();
    WorldSector* leaf = Leaf(w, false);
    EXPECT_EQ(WorldSector_GetRenderPipeline(leaf), Pipeline_GetDefaultWorldSectorPipeline());
    w->pipeline = p[0];
    Engine_Instance()->currentWorld = w;
    EXPECT_EQ(WorldSector_GetRenderPipeline(leaf), p[0]);
    leaf->pipeline = p[1];
    sRuns = 0;
    EXPECT_EQ(WorldSector_Render(w, leaf), leaf);
    EXPECT_EQ(std::tuple(sRuns, sLastObject), std::tuple(1, leaf));
    Engine_Instance()->currentWorld = nullptr;
    for (Pipeline* q : p) Pipeline_Destroy(q);

    // The world's modules registered in order; the engine is open, so a new one is refused.
    std::vector<uint32_t> ids;
    for (const PluginEntry* e = Engine_GetRegistry()->first; e; e = e->next)
        if (e->pluginId >= 0x501 && e->pluginId <= 0x50B) ids.push_back(e->pluginId);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x501, 0x502, 0x503, 0x504, 0x505, 0x50A, 0x507, 0x50B, 0x509}));
    EXPECT_EQ(World_PluginAttach(), 0);
    TakeError();
}

}  // namespace
