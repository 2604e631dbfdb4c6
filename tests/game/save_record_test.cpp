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
    for (size_t i = 25; i < SAVE_DATE_SIZE; i++) EXPECT_EQ(r[i], 0) << i;
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_TIME]), 123456u);
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_COMPLETED]), 0u);
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_EFFECTS]), 166u);
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_MUSIC]), 90u);
    EXPECT_EQ(Bytes_Hash(&r[76], 24), 3157929988u);
    EXPECT_EQ(Bytes_Hash(&r[100], 1832), 2713844390u);
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_HEADER_SUM]), 216797747u);
    EXPECT_EQ(Bytes_Hash(&r[0], 76), 2971956450u);
    EXPECT_EQ(Bytes_LoadU32(&r[SAVE_OFFSET_RECORD_SUM]), 253796236u);
    EXPECT_TRUE(Save_CheckHeader(r.data()));
    EXPECT_TRUE(Save_CheckRecord(r.data()));
    EXPECT_EQ(Save_GetSizeKB(), 2u);
    EXPECT_STREQ(Save_GetTitle(), "Quillomere - Glimfall");
}

TEST_F(SaveRecordTest, TheCompletedCountCountsEntriesWithTheCompletedBitWhateverElseTheyCarry)
{
    Progress_SetFlags(3, PROGRESS_COMPLETED | PROGRESS_BEATTIME_RULE, 1);
    Progress_SetFlags(149, PROGRESS_COMPLETED | PROGRESS_LOCKED, 1);
    Progress_SetFlags(7, PROGRESS_BEATTIME_RULE | PROGRESS_HIDDEN_RULE, 1);
    std::vector<uint8_t> r = Sealed();
    EXPECT_EQ(Save_GetHeaderCompleted(r.data()), 2u);
}

TEST_F(SaveRecordTest, ARoundTripGivesBackTheProgressBlockAndPlayerZerosValues)
{
    GameContext* ctx = Game_GetContext();
    for (int i = 0; i < GAME_PROGRESS_ENTRIES; i++) {
        ctx->progress.flags[i] = (uint32_t)(i * 7) & 15u;
        ctx->progress.best[i] = i * 0.5f - 3.0f;
        ctx->playerValues[0][i] = i * 1000 - 70000;
        ctx->playerValues[1][i] = 5;
    }
    for (int c = 0; c < GAME_CHARACTERS; c++) ctx->progress.characterLocks[c] = (uint32_t)c & 1u;
    std::vector<uint8_t> r = Sealed();
    GameProgress saved = ctx->progress;  // building copied player 0's values into it
    int32_t values[GAME_PROGRESS_ENTRIES];
    memcpy(values, ctx->playerValues[0], sizeof values);

    ResetGame();
    ASSERT_EQ(Save_UnpackRecord(r.data()), 1);
    EXPECT_EQ(memcmp(&saved, &ctx->progress, sizeof saved), 0);
    EXPECT_EQ(memcmp(values, ctx->playerValues[0], sizeof values), 0);
    EXPECT_EQ(ctx->playerValues[1][0], 0);  // players 1..3 are not saved
    EXPECT_EQ(ctx->effectsVolume, 166.0f / 255.0f);
    EXPECT_EQ(ctx->musicVolume, 90.0f / 255.0f);
}

TEST_F(SaveRecordTest, StoredVolumesNeverDriftOverSaveAndLoadCycles)
{
    GameContext* ctx = Game_GetContext();
    struct Case {
        float volume;
        uint32_t byte;
    } documented[] = {{0.65f, 166}, {0.35f, 90}, {0.5625f, 144}, {0.4375f, 112}, {0.0f, 0}, {1.0f, 255}};
    for (const Case& c : documented) EXPECT_EQ(Save_VolumeToByte(c.volume), c.byte) << c.volume;
    EXPECT_EQ(Save_VolumeToByte(-0.5f), 0u);
    EXPECT_EQ(Save_VolumeToByte(7.0f), 255u);

    std::vector<float> volumes;
    for (int k = 0; k <= 16; k++) volumes.push_back(k / 16.0f);
    for (int b = 0; b < 256; b++) volumes.push_back(b * (1.0f / 255.0f));
    for (float v : volumes) {
        ctx->effectsVolume = ctx->musicVolume = v;
        std::vector<uint8_t> first = Sealed();
        for (int cycle = 0; cycle < 100; cycle++) {
            std::vector<uint8_t> r = Sealed();
            ASSERT_EQ(Save_UnpackRecord(r.data()), 1);
        }
        std::vector<uint8_t> last = Sealed();
        EXPECT_EQ(Bytes_LoadU32(&last[SAVE_OFFSET_EFFECTS]), Bytes_LoadU32(&first[SAVE_OFFSET_EFFECTS])) << v;
        EXPECT_EQ(Bytes_LoadU32(&last[SAVE_OFFSET_MUSIC]), Bytes_LoadU32(&first[SAVE_OFFSET_MUSIC])) << v;
    }
}

TEST_F(SaveRecordTest, TamperingBreaksTheChecksThatCoverTheByte)
{
    const std::vector<uint8_t> good = Sealed();
    for (size_t i = 0; i < SAVE_RECORD_SIZE; i++) {
        std::vector<uint8_t> r = good;
        r[i] ^= 0x5A;
        bool inHeader = i < SAVE_HEADER_SIZE;
        EXPECT_EQ(Save_CheckHeader(r.data()), inHeader ? 0 : 1) << i;
        EXPECT_EQ(Save_CheckRecord(r.data()), 0) << i;
    }
}

TEST_F(SaveRecordTest, ARefusedRecordLeavesTheContextAsItWas)
{
    std::vector<uint8_t> good = Sealed();
    Progress_SetFlags(0, PROGRESS_COMPLETED, 1);
    Game_GetContext()->effectsVolume = 0.25f;
    GameContext before;
    memcpy(&before, Game_GetContext(), sizeof before);
    for (size_t at : {(size_t)10, SAVE_OFFSET_HEADER_SUM, (size_t)500, SAVE_OFFSET_RECORD_SUM}) {
        std::vector<uint8_t> r = good;
        r[at] ^= 1;
        EXPECT_EQ(Save_UnpackRecord(r.data()), 0) << at;
        EXPECT_EQ(memcmp(&before, Game_GetContext(), sizeof before), 0) << at;
    }
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
