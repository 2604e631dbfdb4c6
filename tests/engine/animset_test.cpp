#include "engine/animset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content_fixture.h"
#include "engine/animfile.h"
#include "engine/loaderror.h"
#include "engine/sceneplay.h"
#include "engine/trigger.h"
#include "tests/engine/sound_recorder.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/lwswrite.h"

namespace {

// What the game's handlers were called with.
struct Call {
    std::string name;
    Node* item;
    int32_t phase;
    float time, span;
};
std::vector<Call> g_calls;
std::vector<std::string> g_lookedUp;

void Handler(AnimSet*, const char* name, Node* item, int32_t phase, float time, float span)
{
    g_calls.push_back({name, item, phase, time, span});
}
// Names starting with "X" have no handler.
AnimEventHandler Lookup(AnimSet*, const char* name)
{
    g_lookedUp.push_back(name);
    return name[0] == 'X' ? nullptr : Handler;
}

// "name phase" of each call since the last look, then forgets them.
std::vector<std::string> Fired()
{
    std::vector<std::string> out;
    for (const Call& c : g_calls) out.push_back(c.name + " " + std::to_string(c.phase));
    g_calls.clear();
    return out;
}

using Names = std::vector<std::string>;

LwsWriterKey Key(float time, float x)
{
    LwsWriterKey k;
    k.time = time;
    k.position[0] = x;
    return k;
}

class AnimSetTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        ASSERT_EQ(Trigger_Init(), 1);
        ASSERT_EQ(AnimSet_Init(), 1);
        soundrecorder::Install({"Sfx\\Engine.wav"});
        g_calls.clear();
        g_lookedUp.clear();
        model = Node_Create(nullptr);
        // Two seconds each: "Arm" moves x from 0 to 2 in Idle, from 10 to 12
        // in Run; Jump is one second. "Body" has one key.
        WriteScene("Anims\\Idle.lws", 60, 0);
        WriteScene("Anims\\Run.lws", 60, 10);
        WriteScene("Anims\\Jump.lws", 30, 20);
    }
    void TearDown() override
    {
        AnimSet_Shutdown();
        Trigger_Shutdown();
        EXPECT_EQ(soundrecorder::Get().live, 0);
        soundrecorder::Uninstall();
        ContentTest::TearDown();
    }
    void WriteScene(const std::string& name, int frames, float x)
    {
        LwsWriterScene s;
        s.lastFrame = frames;
        LwsWriterItem body, arm;
        body.name = "Body";
        body.keys = {Key(0, 0)};
        arm.name = "Arm";
        arm.keys = {Key(0, x), Key((float)frames / 30.0f, x + 2.0f * (float)frames / 60.0f)};
        s.items = {body, arm};
        WriteData(name, LwsWriter_Write(s));
    }
    static AtfWriterAnimation Animation(const char* name, const char* scene, uint32_t sceneFlags = SCENE_LOOP,
                                        float blend = 0.0f)
    {
        AtfWriterAnimation a;
        a.name = name;
        a.scenePath = scene;
        a.sceneFlags = sceneFlags | SCENE_NODES_ONLY;
        a.blendTime = blend;
        return a;
    }
    AnimSet* Load(const AtfWriterSet& atf, const char* setName = "Chars\\Hero")
    {
        EXPECT_EQ(AtfWriter_Write(atf, AtfWriter_CacheName(setName).c_str()), 1);
        AnimSet* set = AnimSet_Load(setName, "ANIM", model, Lookup);
        EXPECT_NE(set, nullptr) << LoadError_Get();
        return set;
    }
    static Node* Arm(AnimSet* set, uint32_t animation)
    {
        return Scene_GetItemNode(AnimSet_GetAnimScene(set, animation), 1);
    }

    Node* model = nullptr;
};

TEST_F(AnimSetTest, FileIndicesAreMappedToTheLoadedAnimationsAndBadIndicesSkipped)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Gone", "Anims\\Missing.lws"),
                      Animation("Run", "Anims\\Run.lws")};
    atf.events = {"Step", "&AnimCommonTriggerType_Sound_Sfx\\Engine.wav,True", "Xnothing",
                  "&AnimCommonTriggerType_Sound_Sfx\\None.wav"};
    atf.keyEvents = {{0, 0, 1, 0.5f, 1.0f}, {1, 0, 1, 0.5f, 1.0f}, {2, 2, 1, 0.2f, 0.4f}, {0, 4, 1, 0, 1},
                     {0, 0, 2, 0, 1},       {3, 0, 0, 0, 1},       {2, 1, 0, 0.1f, 0.3f}};
    AnimSet* set = Load(atf);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(AnimSet_GetCount(set), 2u);
    EXPECT_STREQ(AnimSet_GetName(set, 0), "Idle");
    EXPECT_STREQ(AnimSet_GetName(set, 1), "Run");
    EXPECT_STREQ(AnimSet_GetCurrentName(set), "Idle");
    EXPECT_EQ(Node_GetParent(AnimSet_GetCurrentScene(set)->nodes[0])->parent, model);
    // The trigger took its name; the others went to the lookup (also the
    // trigger whose sound does not load).
    EXPECT_EQ(g_lookedUp, (Names{"Step", "Xnothing", "&AnimCommonTriggerType_Sound_Sfx\\None.wav"}));
    EXPECT_EQ(set->events[1].handler, Trigger_Fire);
    EXPECT_EQ(set->events[2].handler, nullptr);
    // Kept: Idle's, and Run's two (file index 2 is loaded index 1).
    ASSERT_EQ(set->keyEventCount, 3u);
    EXPECT_EQ(set->keyEvents[0].animation, 0u);
    EXPECT_EQ(set->keyEvents[0].item, Arm(set, 0));
    EXPECT_EQ(set->keyEvents[1].animation, 1u);
    EXPECT_EQ(set->keyEvents[1].event, 2u);
    EXPECT_EQ(set->keyEvents[2].item, Scene_GetItemNode(AnimSet_GetAnimScene(set, 1), 0));
}

TEST_F(AnimSetTest, MissingCutAndEmptySetsAreHandled)
{
    const uint32_t nodes = List_Count(Node_GetPool());
    EXPECT_EQ(AnimSet_Load("Chars\\Nobody", "ANIM", model, Lookup), nullptr);
    EXPECT_STRNE(LoadError_Get(), "");
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle")};
    std::vector<uint8_t> bytes = AtfWriter_Encode(atf);
    bytes.resize(bytes.size() - 6);  // inside the animation record
    WriteData(AtfWriter_CacheName("Chars\\Cut"), bytes);
    EXPECT_EQ(AnimSet_Load("Chars\\Cut", "ANIM", model, Lookup), nullptr);
    EXPECT_EQ(List_Count(Node_GetPool()), nodes);
    EXPECT_EQ(List_Count(AnimSet_GetPool()), 0u);

    atf.animations = {Animation("Idle", "Anims\\Missing")};
    atf.events = {"Step"};
    atf.keyEvents = {{0, 0, 0, 0.1f, 0.2f}};
    AnimSet* empty = Load(atf, "Chars\\Empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(AnimSet_GetCount(empty), 0u);
    EXPECT_EQ(AnimSet_GetCurrentName(empty), nullptr);
    EXPECT_EQ(AnimSet_Play(empty, "Idle"), 0);
    EXPECT_EQ(AnimSet_PlayIndexFromStart(empty, 0), 0);
    AnimSet_SetTime(empty, 1.0f);
    EXPECT_EQ(AnimSet_Advance(empty, 0.1f, ANIMSET_ADVANCE_SCENE), 1);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(AnimSetTest, SwitchesFireWholeAnimationEventsAndEndOpenOnes)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Run", "Anims\\Run")};
    atf.events = {"IdleWhole", "RunWhole", "Step"};
    atf.keyEvents = {{0, 0, 1, 0.0f, 2.0f}, {1, 1, 1, 0.0f, 2.0f}, {0, 2, 1, 0.5f, 1.5f}};
    AnimSet* set = Load(atf);
    // Loading made Idle current: its whole-animation events had phase 1.
    EXPECT_EQ(Fired(), (Names{"IdleWhole 1"}));
    AnimSet_SetTime(set, 1.0f);
    EXPECT_EQ(Fired(), (Names{"Step 0"}));    // whole events never fire from the time
    EXPECT_EQ(AnimSet_Play(set, "Idle"), 1);  // current: nothing
    EXPECT_EQ(AnimSet_PlayIndexFromStart(set, 0), 0);
    EXPECT_EQ(AnimSet_PlayIndexFromStart(set, 2), 0);
    EXPECT_EQ(AnimSet_Play(set, "Walk"), 0);
    EXPECT_TRUE(Fired().empty());
    EXPECT_EQ(AnimSet_Play(set, "Run"), 1);
    EXPECT_EQ(Fired(), (Names{"IdleWhole 0", "Step 1", "RunWhole 1"}));
    EXPECT_EQ(AnimSet_GetCurrentIndex(set), 1);
    EXPECT_EQ(Node_GetParent(AnimSet_GetAnimScene(set, 0)->nodes[0])->parent, nullptr);  // out of the tree
    EXPECT_EQ(AnimSet_PlayFromStart(set, "Idle"), 1);
    EXPECT_EQ(Fired(), (Names{"RunWhole 0", "IdleWhole 1"}));
    EXPECT_FLOAT_EQ(AnimSet_GetTime(set), 0.0f);
}

TEST_F(AnimSetTest, KeyEventsFireOnceAsTheirTimesAreCrossed)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle")};
    atf.events = {"Step", "Blink", "Start"};
    // Step 0.5 .. 1.0; Blink shorter than a frame; Start at time 0.
    atf.keyEvents = {{0, 0, 1, 0.5f, 1.0f}, {0, 1, 1, 0.61f, 0.62f}, {0, 2, 0, 0.0f, 0.3f}};
    AnimSet* set = Load(atf);
    Fired();
    AnimSet_SetTime(set, 0.25f);  // the first time starts from before 0
    EXPECT_EQ(Fired(), (Names{"Start 0"}));
    AnimSet_SetTime(set, 0.5f);  // exactly on Step's start
    EXPECT_EQ(Fired(), (Names{"Start 1", "Step 0"}));
    EXPECT_EQ(g_calls.size(), 0u);
    AnimSet_SetTime(set, 0.5f);
    AnimSet_SetTime(set, 0.55f);
    EXPECT_TRUE(Fired().empty());
    AnimSet_SetTime(set, 0.7f);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].item, Arm(set, 0));
    EXPECT_NEAR(g_calls[0].time, 0.09f, 1e-5f);
    EXPECT_NEAR(g_calls[0].span, 0.01f, 1e-5f);
    EXPECT_EQ(Fired(), (Names{"Blink 0", "Blink 1"}));
    AnimSet_SetTime(set, 0.35f);  // backwards: nothing
    AnimSet_SetTime(set, 0.45f);
    EXPECT_TRUE(Fired().empty());
    AnimSet_SetTime(set, 1.25f);  // in time order
    EXPECT_EQ(Fired(), (Names{"Step 0", "Blink 0", "Blink 1", "Step 1"}));
    EXPECT_FLOAT_EQ(Arm(set, 0)->local.m[3][0], 1.25f);
}

TEST_F(AnimSetTest, AWrapEndsOpenEventsAndCrossesOnFromTheStart)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle")};
    atf.events = {"Long", "Early", "&AnimCommonTriggerType_Sound_Sfx\\Engine.wav,True"};
    // Long never ends inside the scene; the looping sound runs 1.2 .. 5.
    atf.keyEvents = {{0, 0, 1, 1.5f, 3.0f}, {0, 1, 1, 0.1f, 0.2f}, {0, 2, 1, 1.2f, 5.0f}};
    AnimSet* set = Load(atf);
    AnimSet_SetTime(set, 1.6f);
    EXPECT_EQ(Fired(), (Names{"Early 0", "Early 1", "Long 0"}));
    EXPECT_EQ(soundrecorder::Calls("loop").size(), 1u);
    EXPECT_EQ(AnimSet_Advance(set, 0.6f, ANIMSET_ADVANCE_SCENE), 0);  // 2.2 wraps to 0.2
    EXPECT_EQ(Fired(), (Names{"Long 1", "Early 0", "Early 1"}));
    EXPECT_EQ(soundrecorder::Calls("release").size(), 1u);  // the looping sound stopped
    EXPECT_NEAR(AnimSet_GetTime(set), 0.2f, 1e-5f);
}

TEST_F(AnimSetTest, AdvanceModesDecideWhetherTheEndLoops)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Once", "Anims\\Idle", 0), Animation("Loop", "Anims\\Run", SCENE_LOOP)};
    AnimSet* set = Load(atf);
    struct Case {
        int32_t animation;
        uint32_t mode;
        float time;  // after advancing 1.5 s by 1.0 s on a 2 s scene
    };
    for (const Case c : {Case{0, ANIMSET_ADVANCE_ONCE, 2.0f}, Case{0, ANIMSET_ADVANCE_LOOP, 0.5f},
                         Case{0, ANIMSET_ADVANCE_SCENE, 2.0f}, Case{1, ANIMSET_ADVANCE_ONCE, 2.0f},
                         Case{1, ANIMSET_ADVANCE_LOOP, 0.5f}, Case{1, ANIMSET_ADVANCE_SCENE, 0.5f}}) {
        AnimSet_PlayIndex(set, c.animation);
        AnimSet_SetTime(set, 1.5f);
        const uint32_t looping = AnimSet_GetCurrentScene(set)->flags & SCENE_LOOP;
        EXPECT_EQ(AnimSet_Advance(set, 0.25f, c.mode), 1);
        EXPECT_EQ(AnimSet_Advance(set, 0.75f, c.mode), 0);
        EXPECT_NEAR(AnimSet_GetTime(set), c.time, 1e-5f) << c.animation << " " << c.mode;
        EXPECT_EQ(AnimSet_GetCurrentScene(set)->flags & SCENE_LOOP, looping);  // put back
    }
}

TEST_F(AnimSetTest, SwitchingBlendsFromTheFrozenPreviousPose)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Run", "Anims\\Run", SCENE_LOOP, 1.0f),
                      Animation("Jump", "Anims\\Jump", SCENE_LOOP, 1.0f)};
    atf.animations[2].flags = ANIMFILE_NO_BLEND;
    AnimSet* set = Load(atf);
    AnimSet_SetTime(set, 0.5f);  // Idle's arm at 0.5
    AnimSet_Play(set, "Run");
    // Each step: Run's own arm, and the arm shown (blend clock / 1 s read
    // before the step's time is added).
    struct Step {
        float dt, own, shown;
    };
    for (const Step s : {Step{0.5f, 10.5f, 0.5f}, Step{0.25f, 10.75f, 0.5f + (10.75f - 0.5f) * 0.5f},
                         Step{0.25f, 11.0f, 0.5f + (11.0f - 0.5f) * 0.75f}, Step{0.25f, 11.25f, 11.25f}}) {
        AnimSet_Advance(set, s.dt, ANIMSET_ADVANCE_SCENE);
        EXPECT_NEAR(Arm(set, 1)->local.m[3][0], s.shown, 1e-4f) << s.own;
        EXPECT_NEAR(Arm(set, 0)->local.m[3][0], 0.5f, 1e-6f);  // Idle stays frozen
    }
    // Without the module flag, or into an animation never blended into, the
    // new pose shows at once.
    AnimSet_Play(set, "Idle");
    AnimSet_SetModuleFlag(0);
    AnimSet_Play(set, "Run");
    AnimSet_Advance(set, 0.25f, ANIMSET_ADVANCE_SCENE);
    EXPECT_NEAR(Arm(set, 1)->local.m[3][0], 11.5f, 1e-4f);
    AnimSet_SetModuleFlag(1);
    AnimSet_Play(set, "Jump");
    EXPECT_EQ(set->animations[2].previous, -1);
}

TEST_F(AnimSetTest, InstancesShareTheLoadedSetAndFreeItOnce)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Run", "Anims\\Run")};
    atf.events = {"Step", "&AnimCommonTriggerType_Sound_Sfx\\Engine.wav,True"};
    atf.keyEvents = {{0, 0, 1, 0.5f, 1.0f}, {0, 1, 1, 0.2f, 0.3f}};
    const uint32_t nodes = List_Count(Node_GetPool());
    AnimSet* source = Load(atf);
    Node* other = Node_Create(nullptr);
    AnimSet* copy = AnimSet_Instance(source, other);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->names, source->names);
    EXPECT_EQ(copy->events, source->events);
    EXPECT_EQ(source->refCount, 2u);
    EXPECT_EQ(AnimSet_GetCurrentIndex(copy), 0);
    EXPECT_NE(Arm(copy, 0), Arm(source, 0));
    EXPECT_EQ(copy->keyEvents[0].item, Arm(copy, 0));
    g_calls.clear();
    AnimSet_SetTime(copy, 0.75f);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].item, Arm(copy, 0));
    EXPECT_FLOAT_EQ(Arm(copy, 0)->local.m[3][0], 0.75f);
    EXPECT_FLOAT_EQ(Arm(source, 0)->local.m[3][0], 0.0f);
    EXPECT_EQ(soundrecorder::Calls("addref").size(), 1u);  // the copied trigger's sound
    EXPECT_EQ(soundrecorder::Calls("loop").size(), 1u);    // the copy's own instance

    AnimSet_Release(copy);
    EXPECT_EQ(List_Count(AnimSet_GetPool()), 1u);
    EXPECT_EQ(source->refCount, 1u);
    AnimSet_Release(source);
    EXPECT_EQ(List_Count(AnimSet_GetPool()), 0u);
    Node_Destroy(other);
    EXPECT_EQ(List_Count(Node_GetPool()), nodes);
    EXPECT_EQ(List_Count(Scene_GetPool()), 0u);
}

TEST_F(AnimSetTest, AlphaReachesEveryNodeAndVisualsAreFlaggedForFading)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Run", "Anims\\Run")};
    AnimSet* set = Load(atf);
    AnimSet_SetAlpha(set, 0.5f);
    EXPECT_FLOAT_EQ(Arm(set, 0)->alpha, 127.0f);
    EXPECT_FLOAT_EQ(Arm(set, 1)->alpha, 127.0f);
    RenderObj plain{}, additive{};
    additive.blendFlags = RENDEROBJ_BLEND_ADD;
    Node_SetVisual(Arm(set, 0), &plain);
    Node_SetVisual(Arm(set, 1), &additive);
    AnimSet_FlagVisuals(set);
    EXPECT_EQ(plain.blendFlags, (uint32_t)RENDEROBJ_BLEND_ALPHA);
    EXPECT_EQ(additive.blendFlags, (uint32_t)RENDEROBJ_BLEND_ADD);
    Node_SetVisual(Arm(set, 0), nullptr);
    Node_SetVisual(Arm(set, 1), nullptr);
}

}  // namespace
