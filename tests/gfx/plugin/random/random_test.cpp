#include "gfx/plugin/random/random.h"

#include "tests/gfx/plugin/plugin_fixture.h"

namespace {

TEST_F(PluginTest, RandomNumbersRestartTheFixedSequenceAtEveryEngineStartAndNeverSetBit31)
{
    std::vector<uint32_t> first;
    uint32_t orBits = 0;
    for (int i = 0; i < 100000; i++) orBits |= i < 64 ? (first.push_back(Random_Next()), first.back()) : Random_Next();
    EXPECT_EQ(orBits, 0x7FFFFFFFu);  // every other bit shows up, bit 31 never
    EXPECT_EQ(first[0], 1373023817u);
    EXPECT_EQ(first[2], 2145093567u);
    EndFrame();
    ReleaseOwned();  // the engine's objects go before it stops, the texture dictionaries with it
    StopEngine();
    StartEngine();
    UseNewDictionary();
    for (int i = 0; i < 64; i++) EXPECT_EQ(Random_Next(), first[i]) << i;
}

}  // namespace
