#include "game/save_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "common/hash.h"
#include "game_fixture.h"

namespace {

class SaveRecordTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        Save_SetTimeSource(FixedTime);
        GameContext* ctx = Game_GetContext();
        ctx->effectsVolume = 0.65f;
        ctx->musicVolume = 0.35f;
        Game_InitProgress();  // no "Unlocked.cfg": the built-in list
    }
    void TearDown() override
    {
        Save_SetTimeSource(nullptr);
        GameTest::TearDown();
    }

    static void FixedTime(char* date, uint32_t* ms)
    {
        strcpy(date, "Sat Dec  6 20:29:00 2025\n");
        *ms = 123456;
    }

    static std::vector<uint8_t> Sealed()
    {
        std::vector<uint8_t> record(SAVE_RECORD_SIZE);
        Save_BuildRecord(record.data());
        Save_SealHeader(record.data());
        Save_SealRecord(record.data());
        return record;
    }
};

// The vectors are computed from the record's definition, so the layout and
// both checksums stay readable by every earlier build.
TEST_F(SaveRecordTest, AFreshContextSavesTheKnownBytes)
{
    std::vector<uint8_t> r = Sealed();
    EXPECT_EQ(std::string((const char*)r.data()), "SAT DEC  6 20:29:00 2025\n");
    char date[SAVE_DATE_SIZE];
    Save_GetHeaderDate(r.data(), date);
    EXPECT_STREQ(date, "SAT DEC  6 20:29:00 2025");  // the text read back ends before the line feed
    for (size_t i = 25; i < SAVE_DATE_SIZE; i++) EXPECT_EQ(r[i], 0) << i;
    const std::vector<uint32_t> words = {Bytes_LoadU32(&r[SAVE_OFFSET_TIME]), Bytes_LoadU32(&r[SAVE_OFFSET_COMPLETED]),
                                         Bytes_LoadU32(&r[SAVE_OFFSET_EFFECTS]), Bytes_LoadU32(&r[SAVE_OFFSET_MUSIC])};
    EXPECT_EQ(words, std::vector<uint32_t>({123456, 0, 166, 90}));
    EXPECT_EQ(std::make_tuple(Bytes_Hash(&r[76], 24), Bytes_Hash(&r[100], 1832)),
              std::make_tuple(3157929988u, 2713844390u));
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_HEADER_SUM]), 216797747u);
    EXPECT_EQ(Bytes_Hash(&r[0], 76), 2971956450u);
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_RECORD_SUM]), 253796236u);
    EXPECT_TRUE(Save_CheckHeader(r.data()) && Save_CheckRecord(r.data()));
    EXPECT_EQ(Save_GetSizeKB(), 2u);
    EXPECT_STREQ(Save_GetTitle(), "Quillomere - Glimfall");
}

TEST_F(SaveRecordTest, AForgedRecordLoadsVolumesInRangeAndACutDateText)
{
    std::vector<uint8_t> r = Sealed();
    Bytes_StoreU32(&r[SAVE_OFFSET_EFFECTS], 0xFFFFFF80u);
    Bytes_StoreU32(&r[SAVE_OFFSET_MUSIC], 0x12345600u);
    memset(r.data(), 'A', SAVE_DATE_SIZE);  // no NUL in the date field
    Save_SealHeader(r.data());
    Save_SealRecord(r.data());
    ASSERT_EQ(Save_UnpackRecord(r.data()), 1);
    EXPECT_EQ(Game_GetContext()->effectsVolume, 128.0f / 255.0f);
    EXPECT_EQ(Game_GetContext()->musicVolume, 0.0f);
    char date[SAVE_DATE_SIZE];
    Save_GetHeaderDate(r.data(), date);
    EXPECT_EQ(strlen(date), 63u);
}

}  // namespace
