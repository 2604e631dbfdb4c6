#include "gfx/core/camera.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/pipelines.h"
#include "tests/gfx/world/world_fixture.h"

using namespace worldtest;

namespace {

int sRuns = 0;
void* sLastObject = nullptr;
int32_t CountingBody(PipelineNode*, const PipelineExecuteParams* params)
{
    sRuns++;
    sLastObject = params->data;
    return 1;
}
PipelineNodeDefinition sCounting = {"counting.csl", CountingBody, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                    nullptr,        nullptr,      0,       nullptr, 0,       0,       0};

Pipeline* CountingPipeline()
{
    Pipeline* p = Pipeline_Create();
    Pipeline_BeginEdit(p);
    Pipeline_AddNodeChain(p, nullptr, &sCounting, (PipelineNodeDefinition*)nullptr);
    Pipeline_Compile(p);
    return p;
}

class WorldObjectsTest : public WorldTest {
protected:
    const WorldBox big = {{-200, -200, -200}, {200, 200, 200}};

    // Two leaves split at x = 0, each with one triangle; the second leaf's
    // triangle uses window base 1.
    World* TwoLeafWorld(Material* a, Material* b, int32_t renderOrder = 2)
    {
        WorldBox left = {{-200, -200, -200}, {0, 200, 200}}, right = {{0, -200, -200}, {200, 200, 200}};
        WorldSector* l = WorldSector_CreateLeaf(&left, 3, 1, WORLD_POSITIONS);
        WorldSector* r = WorldSector_CreateLeaf(&right, 3, 1, WORLD_POSITIONS);
        for (WorldSector* s : {l, r}) {
            s->triangles[0] = SectorTriangle{0, {0, 1, 2}};
            const float x = s == l ? -10.0f : 10.0f;
            s->vertices[0] = Vec3{x, 0, 0}, s->vertices[1] = Vec3{x, 1, 0}, s->vertices[2] = Vec3{x + 1, 0, 0};
        }
        r->matListWindowBase = 1;
        MaterialList list;
        MaterialList_Initialize(&list);
        MaterialList_AppendMaterial(&list, a);
        MaterialList_AppendMaterial(&list, b);
        World* w = World_CreateWithTree(&big, (WorldSector*)WorldSector_CreatePlane(SECTOR_PLANE_X, 0, 0, 0, l, r),
                                        &list, WORLD_POSITIONS);
        MaterialList_Deinitialize(&list);
        if (w) w->renderOrder = renderOrder;
        return w;
    }
    static WorldSector* Leaf(World* w, bool right)
    {
        PlaneSector* p = (PlaneSector*)w->rootSector;
        return right ? p->right : p->left;
    }
    static int Count(EngineLink* head)
    {
        int n = 0;
        for (EngineLink* l = head->next; l != head; l = l->next) n++;
        return n;
    }
};

TEST_F(WorldObjectsTest, WorldsAreCreatedAsOneEmptyLeafAndLeaveNothingBehind)
{
    const long before = Live();
    World* w = World_Create(&big);
    ASSERT_NE(w, nullptr);
    WorldSector* leaf = w->rootSector;
    EXPECT_EQ(leaf->type, SECTOR_LEAF);
    EXPECT_EQ(leaf->mesh, MeshHeader_Empty());
    EXPECT_EQ(w->renderOrder, 2);
    EXPECT_EQ(WorldSector_GetWorld(leaf), w);
    EXPECT_EQ(WorldSector_DefaultRenderCallback(leaf), leaf);
    World_Destroy(w);
    EXPECT_EQ(Live(), before);
    EXPECT_EQ(WorldSector_GetWorld(leaf), nullptr);
}

TEST_F(WorldObjectsTest, HandBuiltTreesBuildEveryLeafAndRefuseWhatTheWalksCannotFollow)
{
    Material* a = MakeMaterial();
    Material* b = MakeMaterial(1, 1, 1);
    World* w = TwoLeafWorld(a, b);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(MeshHeader_Meshes(Leaf(w, false)->mesh)[0].material, a);
    EXPECT_EQ(MeshHeader_Meshes(Leaf(w, true)->mesh)[0].material, b);
    EXPECT_EQ(WorldSector_GetWorld(Leaf(w, true)), w);
    World_Destroy(w);

    const long before = Live();
    MaterialList one;
    MaterialList_Initialize(&one);
    MaterialList_AppendMaterial(&one, a);
    // A triangle whose material lies past the list.
    WorldSector* bad = WorldSector_CreateLeaf(&big, 3, 1, WORLD_POSITIONS);
    bad->triangles[0] = SectorTriangle{1, {0, 1, 2}};
    EXPECT_EQ(World_CreateWithTree(&big, bad, &one, 0), nullptr);
    // A chain of 70 planes is deeper than the walks' stack.
    WorldSector* root = WorldSector_CreateLeaf(&big, 0, 0, 0);
    for (int i = 0; i < 70; i++)
        root =
            (WorldSector*)WorldSector_CreatePlane(SECTOR_PLANE_Y, 0, 0, 0, root, WorldSector_CreateLeaf(&big, 0, 0, 0));
    EXPECT_EQ(World_CreateWithTree(&big, root, &one, 0), nullptr);
    MaterialList_Deinitialize(&one);
    EXPECT_EQ(Live(), before);
    Material_Destroy(a);
    Material_Destroy(b);
}

TEST_F(WorldObjectsTest, AtomicsAreRetiedToTheLeavesTheyOverlapAtEachSync)
{
    Material* m = MakeMaterial();
    World* w = TwoLeafWorld(m, m);
    Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, m);
    Atomic* a = Atomic_Create();
    Atomic* second = Atomic_Create();
    second->object.header.flags = ATOMIC_RENDER;
    Frame* f = Frame_Create();
    Frame* f2 = Frame_Create();
    Atomic_SetGeometry(a, g, 0);
    Atomic_SetGeometry(second, g, 0);
    Atomic_SetFrame(a, f);
    Atomic_SetFrame(second, f2);
    World_AddAtomic(w, a);
    World_AddAtomic(w, second);
    const Vec3 left = {-50, 0, 0}, middle = {0, 0, 0};
    Matrix_Translate(&f->modelling, &left, COMBINE_REPLACE);
    Matrix_Translate(&f2->modelling, &left, COMBINE_REPLACE);
    Frame_MarkDirty(f);
    Frame_MarkDirty(f2);
    Frame_SyncDirtyList();
    EXPECT_EQ(Count(&Leaf(w, false)->collAtomics), 1);  // flags 0x05: the first list
    EXPECT_EQ(Count(&Leaf(w, false)->atomics), 1);      // flags 0x04: the second
    EXPECT_EQ(Count(&Leaf(w, true)->collAtomics), 0);
    EXPECT_EQ(WorldTies_AtomicTiesInUse(), 2);
    // Straddling the plane: one tie per leaf, the old ones freed.
    Matrix_Translate(&f->modelling, &middle, COMBINE_REPLACE);
    Frame_MarkDirty(f);
    Frame_SyncDirtyList();
    EXPECT_EQ(Count(&Leaf(w, false)->collAtomics), 1);
    EXPECT_EQ(Count(&Leaf(w, true)->collAtomics), 1);
    EXPECT_EQ(Count(&a->sectorTies), 2);
    EXPECT_EQ(WorldTies_AtomicTiesInUse(), 3);
    World_RemoveAtomic(w, a);
    World_RemoveAtomic(w, second);
    EXPECT_EQ(WorldTies_AtomicTiesInUse(), 0);
    for (Atomic* x : {a, second}) {
        Frame* frame = Atomic_GetFrame(x);
        Atomic_SetFrame(x, nullptr);
        Frame_Destroy(frame);
        Atomic_Destroy(x);
    }
    Geometry_Destroy(g);
    World_Destroy(w);
    Material_Destroy(m);
}

TEST_F(WorldObjectsTest, LightsJoinTheirListAndPositionalOnesAreTiedByRadius)
{
    Material* m = MakeMaterial();
    World* w = TwoLeafWorld(m, m);
    Light* sun = Light_Create(LIGHT_DIRECTIONAL);
    Light* lamp = Light_Create(LIGHT_POINT);
    Light* frameless = Light_Create(LIGHT_SPOT);
    Frame* f = Frame_Create();
    const Vec3 at = {-5, 0, 0};
    Matrix_Translate(&f->modelling, &at, COMBINE_REPLACE);
    Light_SetFrame(lamp, f);
    Light_SetRadius(lamp, 2);
    for (Light* l : {sun, lamp, frameless}) World_AddLight(w, l);
    Frame_SyncDirtyList();
    EXPECT_EQ(Count(&w->globalLights), 1);
    EXPECT_EQ(Count(&w->localLights), 2);
    EXPECT_EQ(Count(&sun->sectorTies), 0);
    EXPECT_EQ(Count(&Leaf(w, false)->lights), 1);
    Light_SetRadius(lamp, 10);  // now reaches across x = 0
    Frame_SyncDirtyList();
    EXPECT_EQ(Count(&lamp->sectorTies), 2);
    World_RemoveLight(w, lamp);
    EXPECT_EQ(Count(&lamp->sectorTies), 0);
    EXPECT_EQ(Count(&w->localLights), 1);
    EXPECT_EQ(Light_GetWorld(lamp), nullptr);
    Light_SetFrame(lamp, nullptr);
    Frame_Destroy(f);
    for (Light* l : {sun, lamp, frameless}) Light_Destroy(l);
    World_Destroy(w);
    Material_Destroy(m);
}

TEST_F(WorldObjectsTest, CameraUpdatesNameTheWorldAndSyncVisitsStraddlingLeavesInRenderOrder)
{
    Material* m = MakeMaterial();
    for (int32_t order : {2, 1}) {
        SCOPED_TRACE(order);
        World* w = TwoLeafWorld(m, m, order);
        Camera* camera = MakeCamera(-50, 0, -100);
        Camera_SetFarClipPlane(camera, 300);
        EXPECT_EQ(World_RemoveCamera(w, camera), nullptr);
        World_AddCamera(w, camera);
        const uint16_t frame = Engine_Instance()->renderFrame;
        EndFrame();
        ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
        EXPECT_EQ(Engine_Instance()->currentWorld, w);
        EXPECT_EQ(Engine_Instance()->renderFrame, (uint16_t)(frame + 1));
        int32_t count = 0;
        WorldSector** visible = Camera_GetVisibleSectors(camera, &count);
        ASSERT_EQ(count, 2);  // both leaves reach past the frustum and are kept
        // Order 2 draws the far side (right of x = 0 for a camera at -50) first.
        EXPECT_EQ(visible[0], Leaf(w, order == 2));
        Camera_EndUpdate(camera);
        EXPECT_EQ(Engine_Instance()->currentWorld, nullptr);
        EXPECT_EQ(World_RemoveCamera(w, camera), w);
        DestroyCamera(camera);
        World_Destroy(w);
    }
    Material_Destroy(m);
}

TEST_F(WorldObjectsTest, DestroyingAWorldLetsGoOfEverythingStillInIt)
{
    Material* m = MakeMaterial();
    World* w = TwoLeafWorld(m, m);
    Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, m);
    Atomic* a = Atomic_Create();
    Atomic_SetGeometry(a, g, 0);
    Frame* f = worldshapes::FrameAt(-50, 0, 0);
    Atomic_SetFrame(a, f);
    Light* lamp = Light_Create(LIGHT_POINT);
    Frame* lampFrame = worldshapes::FrameAt(5, 0, 0);
    Light_SetFrame(lamp, lampFrame);
    Light_SetRadius(lamp, 10);
    Clump* clump = Clump_Create();
    Atomic* member = Atomic_Create();
    Clump_AddAtomic(clump, member);
    Camera* camera = MakeCamera(-50, 0, -100);
    Camera_SetFarClipPlane(camera, 300);
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
    EXPECT_EQ(Atomic_GetWorld(a), nullptr);
    EXPECT_EQ(Atomic_GetWorld(member), nullptr);
    EXPECT_EQ(Clump_GetWorld(clump), nullptr);
    EXPECT_EQ(Light_GetWorld(lamp), nullptr);
    EXPECT_EQ(Camera_GetWorld(camera), nullptr);
    EXPECT_EQ(Camera_GetVisibleSectors(camera, &count), nullptr);
    EXPECT_EQ(WorldTies_AtomicTiesInUse() + WorldTies_LightTiesInUse(), 0);
    // The next frame moves and draws them without the world (under the
    // sanitizers: nothing reads the freed world), and the clump leaves no list.
    for (Frame* moved : {f, lampFrame, Camera_GetFrame(camera)}) {
        moved->modelling.pos.y += 1;
        Frame_MarkDirty(moved);
    }
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    EXPECT_EQ(Engine_Instance()->currentWorld, nullptr);
    EXPECT_EQ(Atomic_Render(a), a);
    Camera_EndUpdate(camera);
    Clump_Destroy(clump);
    DestroyCamera(camera);
    Light_SetFrame(lamp, nullptr);
    Light_Destroy(lamp);
    Atomic_SetFrame(a, nullptr);
    Atomic_Destroy(a);
    for (Frame* frame : {f, lampFrame}) Frame_Destroy(frame);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(WorldObjectsTest, DefaultPipelinesAreSelectedUnlessTheObjectOrWorldHasItsOwn)
{
    Pipeline* builtIn = Pipeline_GetDefaultAtomicPipeline();
    ASSERT_NE(builtIn, nullptr);
    EXPECT_EQ(builtIn->pluginId, 2u);
    Pipeline* p = CountingPipeline();
    Pipeline* own = CountingPipeline();
    Atomic* a = Atomic_Create();
    Pipeline_SetDefaultAtomicPipeline(p);
    sRuns = 0;
    EXPECT_EQ(Atomic_Render(a), a);
    EXPECT_EQ(sRuns, 1);
    a->pipeline = own;
    EXPECT_EQ(Atomic_GetRenderPipeline(a), own);
    a->pipeline = nullptr;
    Pipeline_SetDefaultAtomicPipeline(nullptr);
    EXPECT_EQ(Atomic_GetRenderPipeline(a), builtIn);

    Material* mat = MakeMaterial();
    World* w = TwoLeafWorld(mat, mat);
    WorldSector* leaf = Leaf(w, false);
    EXPECT_EQ(WorldSector_GetRenderPipeline(leaf), Pipeline_GetDefaultWorldSectorPipeline());
    w->pipeline = p;
    Engine_Instance()->currentWorld = w;
    EXPECT_EQ(WorldSector_GetRenderPipeline(leaf), p);
    leaf->pipeline = own;
    sRuns = 0;
    EXPECT_EQ(WorldSector_Render(w, leaf), leaf);
    EXPECT_EQ(sRuns, 1);
    EXPECT_EQ(sLastObject, leaf);
    Engine_Instance()->currentWorld = nullptr;
    World_Destroy(w);
    Material_Destroy(mat);
    Atomic_Destroy(a);
    Pipeline_Destroy(p);
    Pipeline_Destroy(own);
}

TEST_F(WorldObjectsTest, PluginAttachRegistersTheModulesInOrderAndFailsWhenRefused)
{
    std::vector<uint32_t> ids;
    for (const PluginEntry* e = Engine_GetRegistry()->first; e; e = e->next)
        if (e->pluginId >= 0x501 && e->pluginId <= 0x50B) ids.push_back(e->pluginId);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x501, 0x502, 0x503, 0x504, 0x505, 0x50A, 0x507, 0x50B, 0x509}));
    // The engine is open now, so every registration is refused.
    EXPECT_EQ(World_PluginAttach(), 0);
    TakeError();
}

}  // namespace
