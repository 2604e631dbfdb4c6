// Set-up of the object tests: the content layer's tests' engine and modules
// (ContentTest), plus the physics world with the pick list, the object world
// with one pool, the callback registry, the templates and the 3D sprites
// with their billboard batch. Object configuration files are compiled with
// the configuration compiler; models and scenes come from the project's own
// writers.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "content_fixture.h"
#include "engine/animset.h"
#include "engine/billboard.h"
#include "engine/callbacks.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physworld.h"
#include "engine/sprite3d.h"
#include "phys_fixture.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"
#include "tools/lib/rbswrite.h"

class ObjectTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        oldWarning_ = Physics_SetWarningHook(phys_test::CountWarning);
        ASSERT_EQ(Phys_Init(), 1);
        ASSERT_EQ(PhysContacts_Init(), 1);
        phys = PhysWorld_CreateDefault();
        ASSERT_NE(phys, nullptr);
        PhysWorld_PairCollisionGroups(phys, 1, 1);
        ASSERT_EQ(ObjectWorld_Init(), 1);
        ObjectWorld_SetPhysicsWorld(phys);
        ASSERT_EQ(CallbackRegistry_Init(), 1);
        ASSERT_EQ(ObjectTemplate_Init(), 1);
        ASSERT_EQ(Sprite3d_Init(), 1);
        ASSERT_EQ(AnimSet_Init(), 1);
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
        PhysWorld_SetStepFunction(nullptr);
        PhysRay_SetCastFunction(nullptr);
        phys_test::g_steps.clear();
        phys_test::g_rays.clear();
        phys_test::g_rayScript.clear();
        PhysWorld_Destroy(phys);
        PhysContacts_Shutdown();
        PhysWorlds_DestroyAll();
        Physics_SetWarningHook(oldWarning_);
        AnimSet_Shutdown();
        Sprite3d_Shutdown();
        ContentTest::TearDown();
    }

    // Compiles configuration text and puts it where Config_Open finds name.
    void InstallConfig(const std::string& name, const std::string& text)
    {
        std::vector<uint8_t> bytes;
        CfgcError error;
        ASSERT_EQ(Cfgc_Compile(text.data(), text.size(), &bytes, &error), 1) << error.line << ": " << error.message;
        WriteData(Cfgc_OutputPath(name.c_str()), bytes);
    }
    // An object configuration file of the given Description keys.
    void InstallObject(const std::string& name, const std::string& keys)
    {
        InstallConfig(name, "Object {\n Description {\n" + keys + "\n }\n}\n");
    }
    void InstallShapes(const std::string& model, const std::vector<RbsBlock>& blocks)
    {
        WriteData(Rbs_OutputPath(model.c_str()), Rbs_Write(blocks));
    }
    void InstallScene(const std::string& name, const LwsWriterScene& scene) { WriteData(name, LwsWriter_Write(scene)); }
    // An animation set "<name>ANIM" of the given scenes, one animation each.
    void InstallAnimSet(const std::string& name, const std::vector<std::pair<std::string, std::string>>& animations)
    {
        AtfWriterSet set;
        for (const auto& [animation, scene] : animations) {
            AtfWriterAnimation a;
            a.name = animation;
            a.scenePath = scene;
            set.animations.push_back(a);
        }
        WriteData(AtfWriter_CacheName(name.c_str()), AtfWriter_Encode(set));
    }

    // A scene item with one key at p, under raw item `parent` when >= 0.
    static LwsWriterItem ScenePlace(const char* name, Vec3 p = {0, 0, 0}, int parent = -1)
    {
        LwsWriterItem item;
        item.name = name;
        LwsWriterKey k;
        k.position[0] = p.x;
        k.position[1] = p.y;
        k.position[2] = p.z;
        item.keys.push_back(k);
        if (parent >= 0) {
            item.parentKind = LWS_PARENT_ITEM;
            item.parentIndex = parent;
        }
        return item;
    }
    void InstallModel(const std::string& name, const LwoWriterObject& model) { WriteData(name, LwoWriter_Write(model)); }

    // A description with the defaults of a configuration file that names
    // nothing but what the caller sets afterwards.
    static ObjectDescription Describe(const char* visual = "NOVISUAL", const char* physical = "NOCOLLISION")
    {
        ObjectDescription d{};
        d.friction = 1.0f;
        d.convex = 1;
        snprintf(d.visualModel, sizeof d.visualModel, "%s", visual);
        snprintf(d.physicalModel, sizeof d.physicalModel, "%s", physical);
        d.parent = ObjectWorld_GetRootNode();
        return d;
    }

    // An object of the description at p, synced with the flags.
    Object* PlaceObject(const ObjectDescription& d, Vec3 p, uint32_t sync)
    {
        Object* o = Object_Create(pool, &d);
        if (!o) return nullptr;
        Node_SetPosition(o->node, &p);
        Object_Sync(o, sync);
        return o;
    }
    // The pool's objects in pool order.
    std::vector<Object*> PoolObjects()
    {
        std::vector<Object*> out;
        List_ForEach(
            pool,
            [](void* item, void* arg) {
                static_cast<std::vector<Object*>*>(arg)->push_back(static_cast<Object*>(item));
                return 0;
            },
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

    PhysWorld* phys = nullptr;
    List* pool = nullptr;
    PhysWarningHook oldWarning_ = nullptr;
};
