#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hash.h"
#include "content_fixture.h"
#include "engine/billboard.h"
#include "engine/particle.h"
#include "engine/sprite3d.h"
#include "engine/trigger.h"
#include "tests/engine/sound_recorder.h"

namespace {

using soundrecorder::Calls;

// The random values the triggers draw, in turn (repeating).
std::vector<int> g_randoms = {0};
size_t g_nextRandom = 0;
int ScriptedRandom(void) { return g_randoms[g_nextRandom++ % g_randoms.size()]; }

const std::string kSound = "&AnimCommonTriggerType_Sound_";

class TriggerTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        ASSERT_EQ(Trigger_Init(), 1);
        ASSERT_EQ(Particle_Init(), 1);
        ASSERT_EQ(Sprite3d_Init(), 1);
        soundrecorder::Install({"Sfx\\Step1.wav", "Sfx\\Step2.wav", "Sfx\\Step4.wav", "Sfx\\Engine.wav"});
        g_randoms = {0};
        g_nextRandom = 0;
        Trigger_SetRandom(ScriptedRandom);
        WriteImage("puff.png", 255, 255, 255);
        holder = Node_Create(nullptr);
        item = Node_Create(holder);
    }
    void TearDown() override
    {
        Trigger_Shutdown();
        EXPECT_EQ(soundrecorder::Get().live, 0) << "sound references left";
        EXPECT_EQ(List_Count(Sprite3d_GetPool()), 0u);
        Sprite3d_Shutdown();
        Particle_Shutdown();
        Trigger_SetRandom(nullptr);
        soundrecorder::Uninstall();
        ContentTest::TearDown();
    }
    void MoveItem(float x)
    {
        const Vec3 p = {x, 0, 0};
        Node_SetPosition(item, &p);
    }
    TriggerHandler Parse(const std::string& name) { return Trigger_Parse(set, name.c_str()); }
    void Fire(const std::string& name, int32_t phase) { Trigger_Fire(set, name.c_str(), item, phase, 0, 0); }

    int dummy = 0;
    AnimSet* set = (AnimSet*)&dummy;  // the triggers only tell sets apart
    Node* holder = nullptr;
    Node* item = nullptr;
};

TEST_F(TriggerTest, EventNamesBecomeTriggersOrAreRefused)
{
    struct Case {
        std::string name;
        bool kept;
        uint32_t type, flags, sounds;
    };
    const Case cases[] = {
        {kSound + "Sfx\\Step<N>.wav", true, TRIGGER_SOUND, 0, 2},  // 1 and 2 load, 3 does not
        {kSound + "Sfx\\Engine.wav,True", true, TRIGGER_SOUND, TRIGGER_LOOPING, 1},
        {kSound + "Sfx\\Engine.wav,Looping3D,0-10", true, TRIGGER_SOUND, TRIGGER_LOOPING | TRIGGER_GAIN_RANGE, 1},
        {kSound + "Sfx\\Engine.wav,Looping2D,x,1-5,20000-4000", true, TRIGGER_SOUND,
         TRIGGER_LOOPING | TRIGGER_2D | TRIGGER_PITCH_RANGE | TRIGGER_PITCH_SCALE, 1},
        {kSound + "Sfx\\Missing.wav", false, 0, 0, 0},
        {"AnimCommonTriggerType_Sound_Sfx\\Engine.wav", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Sounds_Sfx\\Engine.wav", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Particle_puff.png,Smoke,4", true, TRIGGER_PARTICLE, 0, 0},
        {"&AnimCommonTriggerType_Particle_puff.png,Spinkle,2", true, TRIGGER_PARTICLE, 0, 0},
        {"&AnimCommonTriggerType_Particle_puff.png,Fire,4", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Particle_puff.png,Smoke,0", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Particle_puff.png,Smoke,3", false, 0, 0, 0},  // 4 is no multiple of 3
        {"&AnimCommonTriggerType_Flare_puff.png,4,1.5", true, TRIGGER_FLARE, 0, 0},
        {"&AnimCommonTriggerType_Flare_puff.png,4,0", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Rumble_7", true, TRIGGER_RUMBLE, 0, 0},
        {"&AnimCommonTriggerType_Rumble_3,4", false, 0, 0, 0},
        {"&AnimCommonTriggerType_Rumble_3,4,0.5", true, TRIGGER_RUMBLE, 0, 0},
        {"&AnimCommonTriggerType_Rumble_3,4,200,true", true, TRIGGER_RUMBLE, 0, 0},
        {"&AnimCommonTriggerType_Rumble_1,2,3,4,5", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Parse(c.name) == Trigger_Fire, c.kept);
        AnimTrigger* t = Trigger_Find(set, c.name.c_str());
        ASSERT_EQ(t != nullptr, c.kept);
        if (!t) continue;
        EXPECT_EQ(t->type, c.type);
        EXPECT_EQ(t->flags, c.flags);
        EXPECT_EQ(t->soundCount, c.sounds);
    }
    EXPECT_EQ(Calls("load Sfx\\Step"),
              (std::vector<std::string>{"load Sfx\\Step1.wav", "load Sfx\\Step2.wav", "load Sfx\\Step3.wav"}));
    // A name parsed again finds its trigger.
    const size_t loads = Calls("load").size();
    EXPECT_EQ(Parse(kSound + "Sfx\\Step<N>.wav"), Trigger_Fire);
    EXPECT_EQ(Calls("load").size(), loads);

    const AnimTrigger* smoke = Trigger_Find(set, "&AnimCommonTriggerType_Particle_puff.png,Smoke,4");
    EXPECT_EQ(smoke->particleKind, Name_Hash("Smoke", 1, 1));
    EXPECT_EQ(smoke->particleSprite->srcBlend, (uint32_t)SPRITE3D_BLEND_SRCALPHA);
    EXPECT_EQ(Trigger_Find(set, "&AnimCommonTriggerType_Particle_puff.png,Spinkle,2")->particleSprite->srcBlend,
              (uint32_t)SPRITE3D_BLEND_ONE);
    EXPECT_FLOAT_EQ(Trigger_Find(set, "&AnimCommonTriggerType_Flare_puff.png,4,1.5")->flareSize, 1.5f);
    const int32_t seven[5] = {7, 0, 0, 0, 0}, scaled[5] = {3, 4, 127, 0, 1}, full[5] = {3, 4, 200, 1, 1};
    const std::pair<const char*, const int32_t*> rumbles[] = {{"&AnimCommonTriggerType_Rumble_7", seven},
                                                              {"&AnimCommonTriggerType_Rumble_3,4,0.5", scaled},
                                                              {"&AnimCommonTriggerType_Rumble_3,4,200,true", full}};
    for (const auto& r : rumbles)
        for (int i = 0; i < 5; i++) EXPECT_EQ(Trigger_Find(set, r.first)->rumble[i], r.second[i]) << r.first << i;
}

TEST_F(TriggerTest, LoopingSoundsRunFromTheStartToTheEndOfTheirEvent)
{
    g_randoms = {1000};  // start frequency 24000 + 1000 % 751
    const std::string twoD = kSound + "Sfx\\Engine.wav,Looping2D";
    const std::string threeD = kSound + "Sfx\\Engine.wav,Looping3D";
    const std::string once = kSound + "Sfx\\Step<N>.wav";
    ASSERT_EQ(Parse(twoD), Trigger_Fire);
    ASSERT_EQ(Parse(threeD), Trigger_Fire);
    ASSERT_EQ(Parse(once), Trigger_Fire);
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
    const std::vector<std::string> expected = {
        // Sounds 1 and 2 are the two triggers' Engine, 3 and 4 the steps.
        "loop 1 unplaced -> 1005", "frequency 1005 24249", "release 1005",
        "loop 1 unplaced -> 1006", "frequency 1006 24249", "loop 2 at node -> 1007",
        "frequency 1007 24249",    "oneshot 3 at node",    "oneshot 4 at node"};
    EXPECT_EQ(soundrecorder::Get().calls, expected);
    Trigger_ResetForAnimSet(set);  // the running loops go
    EXPECT_EQ(Calls("release").size(), 3u);
}

TEST_F(TriggerTest, GainAndPitchFollowTheItemsSpeedOnlyWithTime)
{
    const std::string both = kSound + "Sfx\\Engine.wav,True,0-10,0-10,20000-4000";
    const std::string flat = kSound + "Sfx\\Engine.wav,True,0.3-0,2-8";  // no upper gain, no pitch scale
    ASSERT_EQ(Parse(both), Trigger_Fire);
    ASSERT_EQ(Parse(flat), Trigger_Fire);
    soundrecorder::Get().calls.clear();
    Fire(both, 0);  // runs with no time: only the start
    EXPECT_EQ(Calls("gain").size(), 0u);
    EXPECT_EQ(Calls("frequency").size(), 1u);
    MoveItem(5);
    Trigger_UpdateAll(set, 0.0f);  // the first frame of a state
    EXPECT_EQ(Calls("gain").size(), 0u);
    // 5 units in 0.5 s: speed 1, a tenth of each range.
    Trigger_UpdateAll(set, 0.5f);
    EXPECT_EQ(Calls("gain"), std::vector<std::string>{"gain 1003 0.1000"});
    EXPECT_EQ(Calls("frequency").back(), "frequency 1003 20400");
    Fire(both, 1);

    soundrecorder::Get().calls.clear();
    Fire(flat, 0);
    MoveItem(9);
    Trigger_UpdateAll(set, 0.5f);
    EXPECT_EQ(Calls("gain"), std::vector<std::string>{"gain 1004 0.3000"});
    EXPECT_EQ(Calls("frequency").size(), 1u);  // the start frequency only
    Fire(flat, 1);
}

TEST_F(TriggerTest, ParticlesFlaresAndRumbleFollowTheItem)
{
    const std::string smoke = "&AnimCommonTriggerType_Particle_puff.png,Smoke,4";
    const std::string sparkle = "&AnimCommonTriggerType_Particle_puff.png,Spinkle,4";
    const std::string flare = "&AnimCommonTriggerType_Flare_puff.png,4,1.5";
    const std::string rumble = "&AnimCommonTriggerType_Rumble_-5,2,0.5";
    for (const std::string& n : {smoke, sparkle, flare, rumble}) ASSERT_EQ(Parse(n), Trigger_Fire) << n;
    MoveItem(2);
    // One update in three spawns: the scripted values say when.
    g_randoms = {1, 0};
    g_nextRandom = 0;
    Fire(smoke, 0);  // draws 1: nothing
    EXPECT_EQ(Particle_GetLiveCount(), 0u);
    g_randoms = {0};
    Trigger_UpdateAll(set, 0.1f);
    ASSERT_EQ(Particle_GetLiveCount(), 1u);
    Fire(smoke, 1);
    Fire(sparkle, 0);
    EXPECT_EQ(Particle_GetLiveCount(), 2u);
    Fire(sparkle, 1);
    struct Seen {
        std::vector<Particle*> all;
    } seen;
    List_ForEach(
        Particle_GetPool(),
        [](void* p, void* arg) {
            ((Seen*)arg)->all.push_back((Particle*)p);
            return 0;
        },
        &seen);
    ASSERT_EQ(seen.all.size(), 2u);
    for (Particle* p : seen.all) {
        const bool isSmoke = p->kind == Name_Hash("Smoke", 1, 1);
        EXPECT_EQ(p->colour[3], isSmoke ? 165 : 63);
        EXPECT_FLOAT_EQ(p->growth[0], isSmoke ? 4.0f : 1.5f);
        EXPECT_EQ(p->flags, isSmoke
                                ? (uint32_t)(PARTICLE_SPAWNED | PARTICLE_GROWS | PARTICLE_FLAG2048)
                                : (uint32_t)(PARTICLE_SPAWNED | PARTICLE_GROWS | PARTICLE_FLAG64 | PARTICLE_FLAG2048));
        // Random units of 0 give -1: the smoke is a quarter of that off the item.
        EXPECT_FLOAT_EQ(p->position.x, isSmoke ? 2.0f - 0.25f : 2.0f - 1.0f);
    }

    Fire(flare, 0);
    Trigger_UpdateAll(set, 0.1f);
    const BillboardBatch* batch = Billboard_GetBatch();
    ASSERT_EQ(batch->quadCount, 2u);
    EXPECT_FLOAT_EQ(batch->quads[0].centre.x, 2.0f);
    EXPECT_FLOAT_EQ(batch->quads[0].halfWidth, 0.75f);
    Fire(flare, 1);

    const Vec3 triple = {3, 3, 3};
    Node_Scale(item, &triple, 0);
    Fire(rumble, 0);
    const TriggerInstance* in = Trigger_Find(set, rumble.c_str())->instances;
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->rumble[0], 0);  // below 0 is 0
    EXPECT_EQ(in->rumble[2], 127);
    EXPECT_NEAR(in->rumbleLevel, 2.0f, 1e-4f);
    Fire(rumble, 1);
    EXPECT_EQ(Trigger_Find(set, rumble.c_str())->instances, nullptr);
}

TEST_F(TriggerTest, InstancedSetsCopyTriggersWithTheirOwnReferences)
{
    const std::string step = kSound + "Sfx\\Step<N>.wav";
    const std::string flare = "&AnimCommonTriggerType_Flare_puff.png,4,1.5";
    ASSERT_EQ(Parse(step), Trigger_Fire);
    ASSERT_EQ(Parse(flare), Trigger_Fire);
    int other = 0;
    AnimSet* copy = (AnimSet*)&other;
    ASSERT_EQ(Trigger_InstanceForSet(set, copy), 1);
    EXPECT_EQ(Calls("addref").size(), 2u);
    EXPECT_EQ(List_Count(Sprite3d_GetPool()), 2u);
    AnimTrigger* mine = Trigger_Find(copy, flare.c_str());
    ASSERT_NE(mine, nullptr);
    EXPECT_NE(mine, Trigger_Find(set, flare.c_str()));
    Trigger_Fire(copy, flare.c_str(), item, 0, 0, 0);
    EXPECT_EQ(Trigger_Find(set, flare.c_str())->instances, nullptr);
    Trigger_ReleaseForSet(copy);
    EXPECT_EQ(Trigger_GetFirst(copy), nullptr);
    EXPECT_EQ(soundrecorder::Get().live, 2);  // the original's two variants
    Trigger_ReleaseForSet(set);
}

}  // namespace
