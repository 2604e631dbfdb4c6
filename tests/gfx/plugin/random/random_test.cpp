#include "gfx/plugin/random/random.h"

#include "tests/gfx/plugin/plugin_fixture.h"

namespace {

class RandomTest : public PluginTest {};

TEST_F(RandomTest, TheFirstValuesAfterOpenAreTheFixedSequenceAndNeverSetBit31)
{
    EXPECT_EQ(Random_Next(), 1373023817u);
    EXPECT_EQ(Random_Next(), 253234266u);
    EXPECT_EQ(Random_Next(), 2145093567u);
    uint32_t orBits = 0;
    for (int i = 0; i < 100000; i++) orBits |= Random_Next();
    EXPECT_EQ(orBits, 0x7FFFFFFFu);  // every other bit shows up, bit 31 never
}

TEST_F(RandomTest, EveryEngineStartRestartsTheSameSequence)
{
    std::vector<uint32_t> first;
    for (int i = 0; i < 64; i++) first.push_back(Random_Next());
    EndFrame();
    StopEngine();  // the texture module's dictionaries go with it
    StartEngine();
    dictionary = TextureDictionary_Create();
    TextureDictionary_SetCurrent(dictionary);
    for (int i = 0; i < 64; i++) EXPECT_EQ(Random_Next(), first[i]) << i;
}

}  // namespace
