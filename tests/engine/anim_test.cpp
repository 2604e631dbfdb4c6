// Animation files and sets, the triggers of their key events and the
// particles the triggers spawn.
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/binfile.h"
#include "common/bytes.h"
#include "common/hash.h"
#include "content_fixture.h"
#include "engine/animfile.h"
#include "engine/animset.h"
#include "engine/billboard.h"
#include "engine/loaderror.h"
#include "engine/particle.h"
#include "engine/sceneplay.h"
#include "engine/sprite3d.h"
#include "engine/trigger.h"
#include "tools/lib/atfwrite.h"

namespace {

using soundrecorder::Calls;

// Names of every length from 0 to 9, so each padding case (L mod 4) is met;
// the second key-event record is a skip.
AtfWriterSet SampleSet()
{
    AtfWriterSet set;
    for (int i = 0; i < 5; i++) {
        AtfWriterAnimation a;
        a.sceneFlags = 1u << i, a.flags = (uint32_t)i % 4;
        a.scenePath = std::string("Anims\\") + std::string(i, 'p') + ".lws";
        a.name = i ? std::string((size_t)i * 2 + 1, (char)('a' + i)) : "", a.valueA = 100 + i;
        a.blendTime = 0.25f * (float)i;
        set.animations.push_back(a);
    }
    for (int i = 0; i < 10; i++) set.events.push_back(std::string((size_t)i, (char)('A' + i)));
    set.keyEvents = {{0, 1, 2, 0.5f, 0.75f}, {4, 9, 0xFFFFFFFFu, 0, 0}, {3, 0, 1, 0.0f, 1.0f}};
    return set;
}

using FilePtr = std::unique_ptr<AnimFile, void (*)(AnimFile*)>;
FilePtr Parse(const std::vector<uint8_t>& bytes)
{
    return FilePtr(AnimFile_Parse(bytes.data(), bytes.size()), AnimFile_Free);
}

// Everything a file holds, as text.
std::string Text(const AnimFile& f)
{
    std::string s;
    for (uint32_t i = 0; i < f.animationCount; i++) {
        const AnimFileAnimation& a = f.animations[i];
        s += std::to_string(a.sceneFlags) + " " + std::to_string(a.flags) + " " + a.scenePath + " " + a.name + " " +
             std::to_string(a.valueA) + " " + std::to_string(a.blendTime) + "\n";
    }
    for (uint32_t i = 0; i < f.eventCount; i++) s += std::string(f.eventNames[i]) + ",";
    for (uint32_t i = 0; i < f.keyEventCount; i++) {
        const AnimFileKeyEvent& k = f.keyEvents[i];
        s += "\n" + std::to_string(k.animation) + " " + std::to_string(k.event) + " " + std::to_string(k.item) + " " +
             std::to_string(k.start) + " " + std::to_string(k.end);
    }
    return s;
}

TEST(AnimFile, SetsReadBackWithEveryStringLengthAndCutsEndTheKeyEventsOrTheFile)
{
    const AtfWriterSet set = SampleSet();
    const std::vector<uint8_t> whole = AtfWriter_Encode(set);
    const FilePtr file = Parse(whole);
    ASSERT_NE(file, nullptr) << LoadError_Get();
    std::string expected;
    for (const AtfWriterAnimation& a : set.animations)
        expected += std::to_string(a.sceneFlags) + " " + std::to_string(a.flags) + " " + a.scenePath + " " + a.name +
                    " " + std::to_string(a.valueA) + " " + std::to_string(a.blendTime) + "\n";
    for (const std::string& e : set.events) expected += e + ",";
    EXPECT_EQ(Text(*file), expected + "\n0 1 2 0.500000 0.750000\n3 0 1 0.000000 1.000000");
    AtfWriterSet abc;
    abc.events = {"abc"};
    EXPECT_EQ(AtfWriter_Encode(abc),
              (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0}));
    EXPECT_EQ(Text(*Parse(std::vector<uint8_t>(8, 0))), "");  // an empty set is a file

    AtfWriterSet head = set;
    head.keyEvents.clear();
    const size_t headSize = AtfWriter_Encode(head).size();
    for (size_t cut = 0; cut <= whole.size(); cut++) {
        const FilePtr part = Parse(std::vector<uint8_t>(whole.begin(), whole.begin() + (ptrdiff_t)cut));
        if (cut < headSize) {
            EXPECT_TRUE(!part && *LoadError_Get()) << cut;
            continue;
        }
        ASSERT_NE(part, nullptr) << cut;
        const size_t records = (cut - headSize) / 20;
        EXPECT_EQ(part->keyEventCount, records - (records >= 2)) << cut;
    }
    const size_t firstPath = 4 + 8;
    const size_t firstName = firstPath + 4 + BinFile_PaddedSize(set.animations[0].scenePath.size());
    const std::pair<size_t, uint32_t> lies[] = {
        {0, 0x7FFFFFFF}, {0, 6}, {firstPath, 0xFFFFFFFF}, {firstPath, 4000}, {firstName, 0xFFFFFFFC}};
    for (const auto& [offset, value] : lies) {
        std::vector<uint8_t> bytes = whole;
        Bytes_StoreU32(&bytes[offset], value);
        EXPECT_TRUE(!Parse(bytes) && *LoadError_Get()) << offset << " " << value;
    }
    EXPECT_EQ(Parse({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), nullptr);
}

class ParticleTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        Particle_Shutdown();
        Particle_SetDetail(1);
        Particle_SetUnlimited(0);
    }
    static Particle* Spawn(float alpha = 1.0f)
    {
        const Vec3 at = {1, 2, 3}, v = {0, 0.1f, 0};
        const float size[2] = {0.5f, 0.25f};
        return Particle_Spawn(7, 0xABCD, &at, &v, size, 1.0f, 0.5f, 0.0f, alpha, 0.75f);
    }
};

TEST_F(ParticleTest, TheLimitFollowsTheDetailAndOnlyInitResetsTheCount)
{
    const uint32_t limits[][2] = {{0, 0}, {1, 200}, {2, 400}, {3, 0}};
    for (const auto& [detail, limit] : limits) {
        Particle_SetDetail((int32_t)detail);
        ASSERT_EQ(Particle_Init(), 1);
        for (uint32_t i = 0; i < limit; i++) ASSERT_NE(Spawn(), nullptr) << detail << " " << i;
        EXPECT_TRUE(!Spawn() && Particle_GetLiveCount() == limit);
        Particle_Shutdown();
        EXPECT_TRUE(!Spawn() && Particle_GetLiveCount() == limit);
    }
    Particle_SetUnlimited(1);
    ASSERT_TRUE(Particle_Init() && !Spawn());
    Particle_Shutdown();
    Particle_SetDetail(1);
    ASSERT_TRUE(Particle_Init() && Particle_GetLiveCount() == 0);
    for (int i = 0; i < 201; i++) ASSERT_NE(Spawn(), nullptr) << i;
}

// What the game's handlers of key events were called with.
struct Call {
    std::string name;
    Node* item;
    int32_t phase;
    float time, span;
};
std::vector<Call> g_calls;
std::vector<std::string> g_lookedUp;
std::vector<int> g_randoms = {0};  // the random values the triggers draw, in turn (repeating)
size_t g_nextRandom = 0;

const std::string kSound = "&AnimCommonTriggerType_Sound_", kPuff = "&AnimCommonTriggerType_Particle_puff.png,";

// Animation sets and triggers over the content layer, with the sound
// recorder: the triggers' sounds load for the Step variants 1, 2 and 4 and
// for Engine.
class AnimTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        ASSERT_TRUE(Trigger_Init() && Particle_Init() && Sprite3d_Init() && AnimSet_Init());
        soundrecorder::Install({"Sfx\\Step1.wav", "Sfx\\Step2.wav", "Sfx\\Step4.wav", "Sfx\\Engine.wav"});
        g_calls.clear();
        g_lookedUp.clear();
        g_randoms = {0};
        g_nextRandom = 0;
        Trigger_SetRandom([] { return g_randoms[g_nextRandom++ % g_randoms.size()]; });
        WriteImage("puff.png", 255, 255, 255);
        model = Node_Create(nullptr);
        item = Node_Create(model);
        // Two seconds each: "Arm" moves x from 0 to 2 in Idle, from 10 to 12
        // in Run; Jump is one second. "Body" has one key.
        for (const auto& [name, frames, x] : {std::tuple{"Idle", 60, 0.0f}, {"Run", 60, 10.0f}, {"Jump", 30, 20.0f}}) {
            LwsWriterItem arm = Placed("Arm", {x, 0, 0});
            arm.keys.push_back(Key((float)frames / 30.0f, x + 2.0f * (float)frames / 60.0f));
            WriteScene(std::string("Anims\\") + name + ".lws", SceneOf({Placed("Body"), arm}, frames));
        }
    }
    void TearDown() override
    {
        AnimSet_Shutdown();
        Trigger_Shutdown();
        EXPECT_EQ(soundrecorder::Get().live, 0) << "sound references left";
        EXPECT_EQ(List_Count(Sprite3d_GetPool()), 0u);
        Sprite3d_Shutdown();
        Particle_Shutdown();
        Trigger_SetRandom(nullptr);
        soundrecorder::Uninstall();
        ContentTest::TearDown();
    }

    static AtfWriterAnimation Animation(const char* name, const char* scene, uint32_t sceneFlags = SCENE_LOOP,
                                        float blend = 0.0f)
    {
        AtfWriterAnimation a;
        a.name = name, a.scenePath = scene, a.sceneFlags = sceneFlags | SCENE_NODES_ONLY, a.blendTime = blend;
        return a;
    }
    // The set of the file, with the game's handlers: a recorder for every
    // name but those starting with "X".
    AnimSet* Load(const AtfWriterSet& atf, const char* setName = "Chars\\Hero")
    {
        EXPECT_EQ(AtfWriter_Write(atf, AtfWriter_CacheName(setName).c_str()), 1);
        AnimSet* set = AnimSet_Load(setName, "ANIM", model, [](AnimSet*, const char* name) -> AnimEventHandler {
            g_lookedUp.push_back(name);
            if (name[0] == 'X') return nullptr;
            return [](AnimSet*, const char* name, Node* item, int32_t phase, float time, float span) {
                g_calls.push_back({name, item, phase, time, span});
            };
        });
        EXPECT_NE(set, nullptr) << LoadError_Get();
        return set;
    }
    static Node* Arm(AnimSet* set, uint32_t animation)
    {
        return Scene_GetItemNode(AnimSet_GetAnimScene(set, animation), 1);
    }
    // "name phase" of each handler call since the last look, then forgets them.
    static std::string Fired()
    {
        std::string out;
        for (const Call& c : g_calls) out += (out.empty() ? "" : ", ") + c.name + " " + std::to_string(c.phase);
        g_calls.clear();
        return out;
    }

    // The triggers only tell sets apart.
    TriggerHandler Parse(const std::string& name) { return Trigger_Parse(set, name.c_str()); }
    void Fire(const std::string& name, int32_t phase) { Trigger_Fire(set, name.c_str(), item, phase, 0, 0); }
    void MoveItem(float x)
    {
        const Vec3 p = {x, 0, 0};
        Node_SetPosition(item, &p);
    }
    int dummy = 0;
    AnimSet* set = (AnimSet*)&dummy;
    Node* model = nullptr;
    Node* item = nullptr;
};

TEST_F(AnimTest, EventNamesBecomeTriggersOrAreRefused)
{
    // The name, kept; its type, flags and sounds.
    const std::tuple<std::string, bool, uint32_t, uint32_t, uint32_t> cases[] = {
        {kSound + "Sfx\\Step<N>.wav", true, TRIGGER_SOUND, 0, 2},  // 1 and 2 load, 3 does not
        {kSound + "Sfx\\Engine.wav,True", true, TRIGGER_SOUND, TRIGGER_LOOPING, 1},
        {kSound + "Sfx\\Engine.wav,Looping3D,0-10", true, TRIGGER_SOUND, TRIGGER_LOOPING | TRIGGER_GAIN_RANGE, 1},
        {kSound + "Sfx\\Engine.wav,Looping2D,x,1-5,20000-4000", true, TRIGGER_SOUND,
         TRIGGER_LOOPING | TRIGGER_2D | TRIGGER_PITCH_RANGE | TRIGGER_PITCH_SCALE, 1},
        {kSound + "Sfx\\Missing.wav", false, 0, 0, 0},
        {"AnimCommonTriggerType_Sound_Sfx\\Engine.wav", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Sounds_Sfx\\Engine.wav", false, 0, 0, 0},
        {kPuff + "Smoke,4", true, TRIGGER_PARTICLE, 0, 0},
        {kPuff + "Spinkle,2", true, TRIGGER_PARTICLE, 0, 0},
        {kPuff + "Fire,4", false, 0, 0, 0},
        {kPuff + "Smoke,0", false, 0, 0, 0},
        {kPuff + "Smoke,3", false, 0, 0, 0},  // 4 is no multiple of 3
        {"&AnimCommonTriggerType_Flare_puff.png,4,1.5", true, TRIGGER_FLARE, 0, 0},
        {"&AnimCommonTriggerType_Flare_puff.png,4,0", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Rumble_7", true, TRIGGER_RUMBLE, 0, 0},
        {"&AnimCommonTriggerType_Rumble_3,4", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Rumble_3,4,0.5", true, TRIGGER_RUMBLE, 0, 0},
        {"&AnimCommonTriggerType_Rumble_3,4,200,true", true, TRIGGER_RUMBLE, 0, 0},
        {"&AnimCommonTriggerType_Rumble_1,2,3,4,5", false, 0, 0, 0},
    };
    for (const auto& [name, kept, type, flags, sounds] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Parse(name) == Trigger_Fire, kept);
        const AnimTrigger* t = Trigger_Find(set, name.c_str());
        ASSERT_EQ(t != nullptr, kept);
        if (t) {
            EXPECT_EQ(std::vector<uint32_t>({t->type, t->flags, t->soundCount}),
                      std::vector<uint32_t>({type, flags, sounds}));
        }
    }
    EXPECT_EQ(Calls("load Sfx\\Step"),
              (std::vector<std::string>{"load Sfx\\Step1.wav", "load Sfx\\Step2.wav", "load Sfx\\Step3.wav"}));
    const size_t loads = Calls("load").size();
    EXPECT_TRUE(Parse(kSound + "Sfx\\Step<N>.wav") == Trigger_Fire && Calls("load").size() == loads);
    const AnimTrigger* smoke = Trigger_Find(set, (kPuff + "Smoke,4").c_str());
    EXPECT_TRUE(smoke->particleKind == Name_Hash("Smoke", 1, 1) &&
                smoke->particleSprite->srcBlend == SPRITE3D_BLEND_SRCALPHA &&
                Trigger_Find(set, (kPuff + "Spinkle,2").c_str())->particleSprite->srcBlend == SPRITE3D_BLEND_ONE &&
                Trigger_Find(set, "&AnimCommonTriggerType_Flare_puff.png,4,1.5")->flareSize == 1.5f);
    const std::pair<const char*, std::vector<int32_t>> rumbles[] = {
        {"&AnimCommonTriggerType_Rumble_7", {7, 0, 0, 0, 0}},
        {"&AnimCommonTriggerType_Rumble_3,4,0.5", {3, 4, 127, 0, 1}},
        {"&AnimCommonTriggerType_Rumble_3,4,200,true", {3, 4, 200, 1, 1}}};
    for (const auto& [name, values] : rumbles) {
        const int32_t* r = Trigger_Find(set, name)->rumble;
        EXPECT_EQ(std::vector<int32_t>(r, r + 5), values) << name;
    }
}

TEST_F(AnimTest, SoundsPlayFromTheStartToTheEndOfTheirEventAndFollowTheItemsSpeed)
{
    g_randoms = {1000};  // start frequency 24000 + 1000 % 751
    const std::string twoD = kSound + "Sfx\\Engine.wav,Looping2D", threeD = kSound + "Sfx\\Engine.wav,Looping3D",
                      once = kSound + "Sfx\\Step<N>.wav";
    for (const std::string& n : {twoD, threeD, once}) ASSERT_EQ(Parse(n), Trigger_Fire) << n;
    soundrecorder::Get().calls.clear();
    Fire(twoD, 0);
    Fire(twoD, 1);
    Fire(twoD, 1);  // no instance: nothing
    Fire(twoD, 0);
    Fire(threeD, 0);
    Fire(once, 0);
    g_randoms = {1};
    Fire(once, 1);
    Fire(once, 0);
    EXPECT_EQ(soundrecorder::Get().calls,
              (std::vector<std::string>{"loop 1 unplaced -> 1005", "frequency 1005 24249", "release 1005",
                                        "loop 1 unplaced -> 1006", "frequency 1006 24249", "loop 2 at node -> 1007",
                                        "frequency 1007 24249", "oneshot 3 at node", "oneshot 4 at node"}));
    Trigger_ResetForAnimSet(set);  // the running loops go
    EXPECT_EQ(Calls("release").size(), 3u);

    const std::string both = kSound + "Sfx\\Engine.wav,True,0-10,0-10,20000-4000";
    const std::string flat = kSound + "Sfx\\Engine.wav,True,0.3-0,2-8";  // no upper gain, no pitch scale
    ASSERT_TRUE(Parse(both) == Trigger_Fire && Parse(flat) == Trigger_Fire);
    soundrecorder::Get().calls.clear();
    Fire(both, 0);  // runs with no time: only the start
    MoveItem(5);
    Trigger_UpdateAll(set, 0.0f);  // the first frame of a state
    EXPECT_EQ(Calls("gain").size() * 10 + Calls("frequency").size(), 1u);
    Trigger_UpdateAll(set, 0.5f);  // 5 units in 0.5 s: speed 1, a tenth of each range
    EXPECT_EQ(Calls("gain"), std::vector<std::string>{"gain 1010 0.1000"});
    EXPECT_EQ(Calls("frequency").back(), "frequency 1010 20400");
    Fire(both, 1);
    soundrecorder::Get().calls.clear();
    Fire(flat, 0);
    MoveItem(9);
    Trigger_UpdateAll(set, 0.5f);
    EXPECT_EQ(Calls("gain"), std::vector<std::string>{"gain 1011 0.3000"});
    EXPECT_EQ(Calls("frequency").size(), 1u);  // the start frequency only
    Fire(flat, 1);
}

TEST_F(AnimTest, ParticlesFlaresAndRumbleFollowTheItemAndInstancedSetsCopyTriggers)
{
    const std::string smoke = kPuff + "Smoke,4", sparkle = kPuff + "Spinkle,4",
                      flare = "&AnimCommonTriggerType_Flare_puff.png,4,1.5",
                      rumble = "&AnimCommonTriggerType_Rumble_-5,2,0.5";
    for (const std::string& n : {smoke, sparkle, flare, rumble}) ASSERT_EQ(Parse(n), Trigger_Fire) << n;
    MoveItem(2);
    g_randoms = {1, 0};
    g_nextRandom = 0;
    Fire(smoke, 0);  // draws 1: nothing
    EXPECT_EQ(Particle_GetLiveCount(), 0u);
    g_randoms = {0};
    Trigger_UpdateAll(set, 0.1f);
    Fire(smoke, 1);
    Fire(sparkle, 0);
    Fire(sparkle, 1);
    std::vector<std::string> seen;
    List_ForEach(
        Particle_GetPool(),
        [](void* item, void* arg) {
            const Particle* p = (const Particle*)item;
            char text[96];
            snprintf(text, sizeof text, "%s a%d g%g x%g f%u", p->kind == Name_Hash("Smoke", 1, 1) ? "smoke" : "other",
                     p->colour[3], p->growth[0], p->position.x, p->flags);
            ((std::vector<std::string>*)arg)->push_back(text);
            return 0;
        },
        &seen);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"other a63 g1.5 x1 f2129", "smoke a165 g4 x1.75 f2065"}));
    Fire(flare, 0);
    Trigger_UpdateAll(set, 0.1f);
    const BillboardBatch* batch = Billboard_GetBatch();
    ASSERT_TRUE(batch->quadCount == 2 && Str({batch->quads[0].centre.x, batch->quads[0].halfWidth, 0}) == "2 0.75 0");
    Fire(flare, 1);
    const Vec3 triple = {3, 3, 3};
    Node_Scale(item, &triple, 0);
    Fire(rumble, 0);
    const TriggerInstance* in = Trigger_Find(set, rumble.c_str())->instances;
    ASSERT_TRUE(in && Str({(float)in->rumble[0], (float)in->rumble[2], in->rumbleLevel}) == "0 127 2");
    Fire(rumble, 1);
    EXPECT_EQ(Trigger_Find(set, rumble.c_str())->instances, nullptr);

    ASSERT_EQ(Parse(kSound + "Sfx\\Step<N>.wav"), Trigger_Fire);
    int other = 0;
    AnimSet* copy = (AnimSet*)&other;
    ASSERT_TRUE(Trigger_InstanceForSet(set, copy) &&
                Calls("addref").size() * 10 + List_Count(Sprite3d_GetPool()) == 26);
    AnimTrigger* mine = Trigger_Find(copy, flare.c_str());
    EXPECT_TRUE(mine && mine != Trigger_Find(set, flare.c_str()));
    Trigger_Fire(copy, flare.c_str(), item, 0, 0, 0);
    EXPECT_EQ(Trigger_Find(set, flare.c_str())->instances, nullptr);
    Trigger_ReleaseForSet(copy);
    EXPECT_TRUE(!Trigger_GetFirst(copy) && soundrecorder::Get().live == 2);  // the original's two variants
    Trigger_ReleaseForSet(set);
}

TEST_F(AnimTest, SetsMapFileIndicesToTheLoadedAnimationsAndSkipWhatDidNotLoad)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Gone", "Anims\\Missing.lws"),
                      Animation("Run", "Anims\\Run.lws")};
    atf.events = {"Step", "&AnimCommonTriggerType_Sound_Sfx\\Engine.wav,True", "Xnothing",
                  "&AnimCommonTriggerType_Sound_Sfx\\None.wav"};
    atf.keyEvents = {{0, 0, 1, 0.5f, 1.0f}, {1, 0, 1, 0.5f, 1.0f}, {2, 2, 1, 0.2f, 0.4f}, {0, 4, 1, 0, 1},
                     {0, 0, 2, 0, 1},       {3, 0, 0, 0, 1},       {2, 1, 0, 0.1f, 0.3f}};
    AnimSet* set = Load(atf);
    ASSERT_TRUE(set && AnimSet_GetCount(set) == 2);
    EXPECT_EQ(std::string(AnimSet_GetName(set, 0)) + AnimSet_GetName(set, 1) + AnimSet_GetCurrentName(set),
              "IdleRunIdle");
    EXPECT_EQ(Node_GetParent(AnimSet_GetCurrentScene(set)->nodes[0])->parent, model);
    EXPECT_EQ(g_lookedUp, (std::vector<std::string>{"Step", "Xnothing", "&AnimCommonTriggerType_Sound_Sfx\\None.wav"}));
    EXPECT_TRUE(set->events[1].handler == Trigger_Fire && !set->events[2].handler);
    ASSERT_EQ(set->keyEventCount, 3u);
    EXPECT_TRUE(set->keyEvents[0].item == Arm(set, 0) && set->keyEvents[1].animation == 1 &&
                set->keyEvents[1].event == 2 &&
                set->keyEvents[2].item == Scene_GetItemNode(AnimSet_GetAnimScene(set, 1), 0));

    const uint32_t nodes = List_Count(Node_GetPool());
    EXPECT_TRUE(!AnimSet_Load("Chars\\Nobody", "ANIM", model, nullptr) && *LoadError_Get());
    std::vector<uint8_t> bytes = AtfWriter_Encode(atf);
    bytes.resize(60);  // inside the animation records
    WriteData(AtfWriter_CacheName("Chars\\Cut"), bytes);
    EXPECT_EQ(AnimSet_Load("Chars\\Cut", "ANIM", model, nullptr), nullptr);
    EXPECT_TRUE(List_Count(Node_GetPool()) == nodes && List_Count(AnimSet_GetPool()) == 1);
    atf.animations = {Animation("Idle", "Anims\\Missing")};
    AnimSet* empty = Load(atf, "Chars\\Empty");
    ASSERT_TRUE(empty && AnimSet_GetCount(empty) == 0 && !AnimSet_GetCurrentName(empty));
    EXPECT_EQ(AnimSet_Play(empty, "Idle") + AnimSet_PlayIndexFromStart(empty, 0), 0);
    AnimSet_SetTime(empty, 1.0f);
    EXPECT_TRUE(AnimSet_Advance(empty, 0.1f, ANIMSET_ADVANCE_SCENE) == 1 && Fired() == "");
}

TEST_F(AnimTest, KeyEventsFireOnceAsTheirTimesAreCrossedAndWholeAnimationEventsOnSwitches)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle"), Animation("Run", "Anims\\Run")};
    atf.events = {
        "IdleWhole", "RunWhole", "Step", "Blink", "Start", "Long", "&AnimCommonTriggerType_Sound_Sfx\\Engine.wav,True"};
    atf.keyEvents = {{0, 0, 1, 0.0f, 2.0f}, {1, 1, 1, 0.0f, 2.0f}, {0, 2, 1, 0.5f, 1.0f}, {0, 3, 1, 0.61f, 0.62f},
                     {0, 4, 0, 0.0f, 0.3f}, {0, 5, 1, 1.5f, 3.0f}, {0, 6, 1, 1.2f, 5.0f}};
    AnimSet* set = Load(atf);
    EXPECT_EQ(Fired(), "IdleWhole 1");  // loading made Idle current
    AnimSet_SetTime(set, 0.25f);        // the first time starts from before 0
    EXPECT_EQ(Fired(), "Start 0");
    AnimSet_SetTime(set, 0.5f);  // exactly on Step's start
    EXPECT_EQ(Fired(), "Start 1, Step 0");
    AnimSet_SetTime(set, 0.5f);
    AnimSet_SetTime(set, 0.55f);
    EXPECT_EQ(Fired(), "");
    AnimSet_SetTime(set, 0.7f);
    ASSERT_TRUE(g_calls.size() == 2 && g_calls[0].item == Arm(set, 0));
    EXPECT_EQ(Str({g_calls[0].time, g_calls[0].span, 0}), "0.09 0.01 0");
    EXPECT_EQ(Fired(), "Blink 0, Blink 1");
    AnimSet_SetTime(set, 0.35f);  // backwards: nothing
    AnimSet_SetTime(set, 0.45f);
    EXPECT_EQ(Fired(), "");
    AnimSet_SetTime(set, 1.6f);  // in time order; whole events never fire from the time
    EXPECT_EQ(Fired(), "Step 0, Blink 0, Blink 1, Step 1, Long 0");
    EXPECT_EQ(Str({Arm(set, 0)->local.m[3][0], (float)Calls("loop").size(), 0}), "1.6 1 0");
    EXPECT_EQ(AnimSet_Advance(set, 0.6f, ANIMSET_ADVANCE_SCENE), 0);  // 2.2 wraps to 0.2
    EXPECT_EQ(Fired(), "Long 1, Start 0");
    // The looping sound stopped.
    EXPECT_EQ(Str({(float)Calls("release").size(), AnimSet_GetTime(set), 0}), "1 0.2 0");
    EXPECT_EQ(AnimSet_Play(set, "Idle"), 1);  // current: nothing
    EXPECT_EQ(AnimSet_PlayIndexFromStart(set, 0) + AnimSet_PlayIndexFromStart(set, 2) + AnimSet_Play(set, "Walk"), 0);
    EXPECT_EQ(Fired(), "");
    EXPECT_TRUE(AnimSet_Play(set, "Run") == 1 && Fired() == "IdleWhole 0, Start 1, RunWhole 1");
    // Idle's nodes are out of the tree.
    EXPECT_TRUE(AnimSet_GetCurrentIndex(set) == 1 && !Node_GetParent(AnimSet_GetAnimScene(set, 0)->nodes[0])->parent);
    EXPECT_EQ(AnimSet_PlayFromStart(set, "Idle"), 1);
    EXPECT_TRUE(Fired() == "RunWhole 0, IdleWhole 1" && AnimSet_GetTime(set) == 0.0f);
}

TEST_F(AnimTest, AdvanceModesDecideWhetherTheEndLoopsAndSwitchesBlendFromTheFrozenPose)
{
    AtfWriterSet atf;
    atf.animations = {Animation("Idle", "Anims\\Idle", 0), Animation("Run", "Anims\\Run", SCENE_LOOP, 1.0f),
                      Animation("Jump", "Anims\\Jump", SCENE_LOOP, 1.0f)};
    atf.animations[2].flags = ANIMFILE_NO_BLEND;
    AnimSet* set = Load(atf);
    const uint32_t modes[][3] = {{0, ANIMSET_ADVANCE_ONCE, 0},  {0, ANIMSET_ADVANCE_LOOP, 1},
                                 {0, ANIMSET_ADVANCE_SCENE, 0}, {1, ANIMSET_ADVANCE_ONCE, 0},
                                 {1, ANIMSET_ADVANCE_LOOP, 1},  {1, ANIMSET_ADVANCE_SCENE, 1}};
    AnimSet_SetModuleFlag(0);
    for (const auto& [animation, mode, wraps] : modes) {
        AnimSet_PlayIndex(set, (int32_t)animation);
        AnimSet_SetTime(set, 1.5f);
        const uint32_t looping = AnimSet_GetCurrentScene(set)->flags & SCENE_LOOP;
        EXPECT_TRUE(AnimSet_Advance(set, 0.25f, mode) == 1 && AnimSet_Advance(set, 0.75f, mode) == 0);
        EXPECT_NEAR(AnimSet_GetTime(set), wraps ? 0.5f : 2.0f, 1e-5f) << animation << " " << mode;
        EXPECT_EQ(AnimSet_GetCurrentScene(set)->flags & SCENE_LOOP, looping);  // put back
    }
    AnimSet_PlayIndex(set, 0);
    AnimSet_SetTime(set, 0.5f);  // Idle's arm at 0.5
    AnimSet_Play(set, "Run");
    AnimSet_Advance(set, 0.25f, ANIMSET_ADVANCE_SCENE);
    EXPECT_NEAR(Arm(set, 1)->local.m[3][0], 10.75f, 1e-4f);
    AnimSet_SetModuleFlag(1);
    AnimSet_Play(set, "Idle");
    AnimSet_SetTime(set, 0.5f);
    AnimSet_PlayFromStart(set, "Run");
    const float steps[][2] = {
        {0.5f, 0.5f}, {0.25f, 0.5f + (10.75f - 0.5f) * 0.5f}, {0.25f, 0.5f + (11.0f - 0.5f) * 0.75f}, {0.25f, 11.25f}};
    for (const auto& [dt, shown] : steps) {
        AnimSet_Advance(set, dt, ANIMSET_ADVANCE_SCENE);
        EXPECT_NEAR(Arm(set, 1)->local.m[3][0], shown, 1e-4f) << shown;
        EXPECT_NEAR(Arm(set, 0)->local.m[3][0], 0.5f, 1e-6f);  // Idle stays frozen
    }
    AnimSet_Play(set, "Jump");
    EXPECT_EQ(set->animations[2].previous, -1);
}

TEST_F(AnimTest, InstancesShareTheLoadedSetFreeItOnceAndTakeTheAlpha)
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
    EXPECT_TRUE(copy->names == source->names && copy->events == source->events && source->refCount == 2 &&
                AnimSet_GetCurrentIndex(copy) == 0 && Arm(copy, 0) != Arm(source, 0) &&
                copy->keyEvents[0].item == Arm(copy, 0));
    AnimSet_SetTime(copy, 0.75f);
    ASSERT_TRUE(g_calls.size() == 1 && g_calls[0].item == Arm(copy, 0));
    EXPECT_EQ(Str({Arm(copy, 0)->local.m[3][0], Arm(source, 0)->local.m[3][0], 0}), "0.75 0 0");
    // The copied trigger's sound is referenced again; the copy has a loop of its own.
    EXPECT_EQ(Calls("addref").size() * 10 + Calls("loop").size(), 11u);
    AnimSet_SetAlpha(copy, 0.5f);
    EXPECT_TRUE(Arm(copy, 0)->alpha == 127.0f && Arm(copy, 1)->alpha == 127.0f);
    RenderObj plain{}, additive{};
    additive.blendFlags = RENDEROBJ_BLEND_ADD;
    Node_SetVisual(Arm(copy, 0), &plain);
    Node_SetVisual(Arm(copy, 1), &additive);
    AnimSet_FlagVisuals(copy);
    EXPECT_TRUE(plain.blendFlags == RENDEROBJ_BLEND_ALPHA && additive.blendFlags == RENDEROBJ_BLEND_ADD);
    Node_SetVisual(Arm(copy, 0), nullptr);
    Node_SetVisual(Arm(copy, 1), nullptr);
    AnimSet_Release(copy);
    EXPECT_TRUE(List_Count(AnimSet_GetPool()) == 1 && source->refCount == 1);
    AnimSet_Release(source);
    Node_Destroy(other);
    EXPECT_TRUE(List_Count(AnimSet_GetPool()) == 0 && List_Count(Node_GetPool()) == nodes &&
                List_Count(Scene_GetPool()) == 0);
}

}  // namespace
