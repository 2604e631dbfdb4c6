// The content layer's test fixtures, one per layer of its set-up:
//   ContentTest  the engine opened and started through the Direct3D 8
//                driver with the world plugins and the render objects'
//                material extension, the file layer over a test folder of
//                its own, the hashed cache, image formats and every module
//                of the content layer, with a world, a camera and a View
//                filled by hand;
//   PhysTest     the physics interface over a test folder with the file
//                layer: memory hooks, one default world (group 1 paired
//                with itself) and the pick list, warnings counted;
//   ObjectTest   ContentTest with that physics world, the object world with
//                one pool, the callback registry, the templates, the 3D
//                sprites and the animation sets.
// And the stand-ins the tests put into the layer's seams: the physics step
// and ray casts, and the animation triggers' sound table.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "app/file.h"
#include "common/list.h"
#include "content_modules.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "engine/sprite3d.h"
#include "engine/triggersound.h"
#include "engine_fixture.h"
#include "gfx/core/camera.h"
#include "gfx/core/image.h"
#include "gfx/core/renderstate.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "gfx/world/worldties.h"
#include "physics/base/phys_warning.h"
#include "physics/dynamics/phys_time.h"
#include "physics/dynamics/rigid_body.h"
#include "tests/engine/drawing_fixture.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/rbswrite.h"

class ContentTest : public D3D8DriverTest, protected enginetest::TestFolder {
protected:
    World* world = nullptr;
    Camera* camera = nullptr;
    Node* cameraNode = nullptr;
    View view{};

    void SetUp() override
    {
        EnterFolder("content_");
        answers.desktopWidth = 640, answers.desktopHeight = 480;
        D3D8Test_SetAnswers(&answers);
        window = Window_Create("content test", 640, 480, WINDOW_HEADLESS);
        ASSERT_NE(window, nullptr);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ASSERT_EQ(Engine_Init(nullptr, 0, 4u << 20), 1);
        ASSERT_EQ(ContentModules_Attach(), 1);
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
        StartEngine(0);
        ASSERT_EQ(File_Init(), 1);
        Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write);
        Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
        ASSERT_EQ(ContentModules_Start(&world), 1);
        camera = MakeCamera(0, 0, 0);
        World_AddCamera(world, camera);
        cameraNode = Node_Create(nullptr);
        view.camera = camera, view.frame = Camera_GetFrame(camera), view.width = 640, view.height = 480;
        view.aspect = 0.75f, view.fov = 0.5f;
        SetCameraWindow(0.5f, 0.375f);
    }

    void TearDown() override
    {
        if (camera) {
            World_RemoveCamera(world, camera);
            DestroyCamera(camera);
        }
        ContentModules_Stop(world);
        File_Shutdown();
        D3D8DriverTest::TearDown();
        LeaveFolder();
    }

    // A normal (not mirrored) view window: x negative, as views make it.
    void SetCameraWindow(float x, float y)
    {
        const Vec2 window = {-x, y};
        Camera_SetViewWindow(camera, &window);
        Camera_SetNearClipPlane(camera, 0.1f);
        Camera_SetFarClipPlane(camera, 1000.0f);
    }

    // Places the camera (node and frame) and derives the render objects'
    // frustum from it.
    void PlaceCamera(const Vec3& position)
    {
        Node_SetPosition(cameraNode, &position);
        Node_GetWorldFrameMatrix(cameraNode, &view.frame->modelling);
        // A root node's world is set by the draw walk; do it here.
        cameraNode->world = cameraNode->local, cameraNode->flags &= ~NODE_DIRTY;
        Frame_MarkDirty(view.frame);
        Frame_GetWorldMatrix(view.frame);
        Camera_SyncFrustum(&camera->object);
        RenderObj_SetReferenceNode(cameraNode);
        RenderObj_SetViewFrustum(&view);
    }

    // Runs fn inside a camera update (render states can be set and read,
    // atomics drawn) and returns the device calls it made.
    template <typename Fn>
    std::string Draw(Fn fn)
    {
        EndFrame();
        std::string text;
        if (Camera_BeginUpdate(camera)) {
            text = Record(fn);
            Camera_EndUpdate(camera);
        }
        return text;
    }

    static int32_t State(int32_t state)
    {
        uint32_t value = 0xFFFFFFFFu;
        RenderState_Get(state, &value);
        return (int32_t)value;
    }

    // A solid 4 x 4 image file (".png" or ".bmp" by the name) of colour r, g, b.
    static void WriteImage(const std::string& name, uint8_t r, uint8_t g, uint8_t b)
    {
        std::filesystem::create_directories(DataPath(name).parent_path());
        drawingtest::WriteImage(DataPath(name).string(), 4, 4,
                                [=](int32_t, int32_t) { return 0xFFu << 24 | r << 16 | g << 8 | b; });
    }
    // Compiles configuration text for the source name the game opens.
    static void WriteConfig(const std::string& sourceName, const std::string& text)
    {
        std::vector<uint8_t> compiled;
        CfgcError error;
        ASSERT_EQ(Cfgc_Compile(text.data(), text.size(), &compiled, &error), 1) << error.line << ": " << error.message;
        WriteData(Cfgc_OutputPath(sourceName.c_str()), compiled);
    }
};

namespace phys_test {

inline int g_warnings = 0;
inline void CountWarning(const char*, const char*, const char*, int) { ++g_warnings; }

// The ray seam's stand-in: records every cast and answers from a script
// (one result per cast in order; a miss once the script runs out).
struct RayCall {
    Vec3 from, to;
    PrimitiveCollector* collector;
};
inline std::vector<RayCall> g_rays;
inline std::vector<PhysRayResult> g_rayScript;
inline void ScriptedRay(PrimitiveCollector* c, const Vec3* from, const Vec3* to, PhysRayResult* out)
{
    size_t i = g_rays.size();
    g_rays.push_back({*from, *to, c});
    *out = i < g_rayScript.size() ? g_rayScript[i] : PhysRayResult{};
}

inline Vec3 V(float x, float y, float z) { return Vec3{x, y, z}; }

inline Vec3 Position(PhysBody* b)
{
    Vec3 p;
    PhysBody_GetPosition(b, &p);
    return p;
}
inline Vec3 Velocity(PhysBody* b)
{
    Vec3 v;
    PhysBody_GetLinearVelocity(b, &v);
    return v;
}

inline float Dist(Vec3 a, Vec3 b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// A model of boxes of half extent h, one layer per centre.
inline LwoWriterObject BoxModel(float h, const std::vector<Vec3>& centres = {{0, 0, 0}})
{
    std::vector<LwoWriterLayer> layers;
    for (const Vec3& c : centres) layers.push_back(BoxLayer(h, c, (uint16_t)layers.size()));
    return Model({"Default"}, layers);
}

// The physics engine between Open and Close: the engine with its contact
// list, one default world, the warnings counted.
struct PhysSandbox {
    PhysWorld* phys = nullptr;
    PhysWarningHook oldWarning = nullptr;

    void Open()
    {
        oldWarning = Physics_SetWarningHook(CountWarning);
        g_warnings = 0;
        ASSERT_EQ(Phys_Init(), 1);
        ASSERT_EQ(PhysContacts_Init(), 1);
        phys = PhysWorld_CreateDefault();
        ASSERT_NE(phys, nullptr);
        PhysWorld_PairCollisionGroups(phys, 1, 1);
    }
    void Close()
    {
        PhysWorld_SetStepFunction(nullptr);
        PhysRay_SetCastFunction(nullptr);
        g_rays.clear();
        g_rayScript.clear();
        PhysWorld_Destroy(phys);
        PhysContacts_Shutdown();
        PhysWorlds_DestroyAll();
        Physics_SetWarningHook(oldWarning);
    }
};

}  // namespace phys_test

using namespace phys_test;

class PhysTest : public EngineFileTest, protected PhysSandbox {
protected:
    void SetUp() override
    {
        EngineFileTest::SetUp();
        Open();
    }
    void TearDown() override
    {
        Close();
        EngineFileTest::TearDown();
    }
    // A sphere in the world at p (group 1).
    PhysBody* Sphere(Vec3 p, float radius = 0.5f, float mass = 1.0f)
    {
        PhysBody* b = PhysBody_Create(phys, radius, mass);
        EXPECT_NE(b, nullptr);
        PhysBody_SetCollisionGroup(b, 1);
        PhysWorld_AddBody(phys, b, &p, nullptr, nullptr);
        return b;
    }
    void Step(int frames = 1, float dt = 1.0f / 60.0f)
    {
        for (int i = 0; i < frames; ++i) PhysWorld_Step(phys, dt);
    }
};

class ObjectTest : public ContentTest, protected PhysSandbox {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        Open();
        ASSERT_EQ(ObjectWorld_Init(), 1);
        ObjectWorld_SetPhysicsWorld(phys);
        for (auto init : {CallbackRegistry_Init, ObjectTemplate_Init, Sprite3d_Init, AnimSet_Init})
            ASSERT_EQ(init(), 1);
        pool = ObjectPool_Create();
        ASSERT_NE(pool, nullptr);
    }
    void TearDown() override
    {
        ObjectWorld_Shutdown();
        ObjectTemplate_Shutdown();
        CallbackRegistry_Shutdown();
        ObjectScene_SetCreateHook(nullptr);
        ObjectScene_SetAfterLoadHook(nullptr);
        ObjectCollision_ClearEvent();
        Close();
        AnimSet_Shutdown();
        Sprite3d_Shutdown();
        ContentTest::TearDown();
    }

    // An object configuration file of the given Description keys.
    static void WriteObject(const std::string& name, const std::string& keys)
    {
        WriteConfig(name, "Object {\n Description {\n" + keys + "\n }\n}\n");
    }
    static void WriteShapes(const std::string& model, const std::vector<RbsBlock>& blocks)
    {
        WriteData(Rbs_OutputPath(model.c_str()), Rbs_Write(blocks));
    }
    // An animation set "<name>ANIM" of the given scenes, one animation each.
    static void WriteAnimSet(const std::string& name, const std::vector<std::pair<std::string, std::string>>& scenes)
    {
        AtfWriterSet set;
        for (const auto& [animation, scene] : scenes) {
            set.animations.push_back(AtfWriterAnimation{});
            set.animations.back().name = animation;
            set.animations.back().scenePath = scene;
        }
        WriteData(AtfWriter_CacheName(name.c_str()), AtfWriter_Encode(set));
    }
    // A description with the defaults of a configuration file that names
    // nothing but what the caller sets afterwards.
    static ObjectDescription Describe(const char* visual = "NOVISUAL", const char* physical = "NOCOLLISION",
                                      float mass = 0, const char* name = "thing")
    {
        ObjectDescription d{};
        d.friction = 1.0f, d.convex = 1, d.mass = mass;
        snprintf(d.visualModel, sizeof d.visualModel, "%s", visual);
        snprintf(d.physicalModel, sizeof d.physicalModel, "%s", physical);
        snprintf(d.name, sizeof d.name, "%s", name);
        d.parent = ObjectWorld_GetRootNode();
        return d;
    }
    Object* Make(const ObjectDescription& d) { return Object_Create(pool, &d); }
    Object* Copy(Object* o)
    {
        return Object_CreateFromTemplate(nullptr, o, nullptr, ObjectWorld_GetRootNode(), nullptr);
    }
    // The pool's objects in pool order.
    std::vector<Object*> PoolObjects()
    {
        std::vector<Object*> out;
        List_ForEach(
            pool, [](void* item, void* arg) { return ((std::vector<Object*>*)arg)->push_back((Object*)item), 0; },
            &out);
        return out;
    }
    void Step(int frames = 1, float dt = 1.0f / 60.0f)
    {
        for (int i = 0; i < frames; ++i) {
            PhysWorld_Step(phys, dt);
            ObjectPool_Update(pool, &dt);
        }
    }

    List* pool = nullptr;
};

// A recorder in the animation triggers' sound table: loads succeed for the
// names a test lists (each load gives a new fake sound), and every call is
// kept as one line of text ("load Sfx\Step1.wav", "loop 3 at node", ...).
namespace soundrecorder {

struct Recorder {
    std::set<std::string> loadable;
    std::vector<std::string> calls;
    uintptr_t next = 1;
    int live = 0;  // references held on loaded sounds and loops
};

inline Recorder& Get()
{
    static Recorder r;
    return r;
}

inline std::string Id(Sound* s) { return std::to_string((uintptr_t)s); }
inline std::string Where(Node* n) { return n ? "at node" : "unplaced"; }

// Installs the recorder with an empty record; Uninstall puts the sound
// system back.
inline void Install(std::set<std::string> loadable)
{
    Get() = Recorder{};
    Get().loadable = std::move(loadable);
    const TriggerSoundTable table = {
        [](const char* name, uint32_t) -> Sound* {
            Get().calls.push_back(std::string("load ") + name);
            return Get().loadable.count(name) ? (Get().live++, (Sound*)Get().next++) : nullptr;
        },
        [](Sound* s) { return Get().calls.push_back("addref " + Id(s)), Get().live++, s; },
        [](Sound* s) {
            if (s) Get().calls.push_back("release " + Id(s)), Get().live--;
        },
        [](Sound* s, Node* n) { Get().calls.push_back("oneshot " + Id(s) + " " + Where(n)); },
        [](Sound* s, Node* n) {
            Sound* loop = (Sound*)(Get().next++ + 1000);
            return Get().calls.push_back("loop " + Id(s) + " " + Where(n) + " -> " + Id(loop)), Get().live++, loop;
        },
        [](Sound* s, float g) {
            char text[64];
            snprintf(text, sizeof text, "gain %s %.4f", Id(s).c_str(), g);
            Get().calls.push_back(text);
        },
        [](Sound* s, uint32_t hz) { Get().calls.push_back("frequency " + Id(s) + " " + std::to_string(hz)); }};
    TriggerSound_Install(&table);
}
inline void Uninstall() { TriggerSound_Install(nullptr); }

// The recorded calls that start with prefix.
inline std::vector<std::string> Calls(const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& c : Get().calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

}  // namespace soundrecorder
