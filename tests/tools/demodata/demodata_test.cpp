#include "tools/demodata/demodata.h"

#include <fstream>
#include <map>

#include "app/config.h"
#include "app/text.h"
#include "engine/animfile.h"
#include "engine/lwo.h"
#include "engine/scene.h"
#include "engine/scenedata.h"
#include "engine/scenetext.h"
#include "tests/engine/engine_fixture.h"
#include "tools/lib/atfwrite.h"

namespace {

namespace fs = std::filesystem;

const std::string kRepositoryData = std::string(HELM_SOURCE_DIR) + "/data";

// Every file below a folder with its bytes, by path relative to it.
std::map<std::string, std::string> Tree(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            files[fs::relative(e.path(), root).generic_string()] =
                std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    return files;
}

void Put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Builds in the test's own folder; reads the stage through the game's file
// layer by making the stage the working folder.
class DemoDataTest : public EngineFileTest {
protected:
    std::string Build(const std::string& sources, const std::string& stage)
    {
        std::string error;
        return DemoData_Build(sources, (folder_ / stage).string(), &error) ? "" : error;
    }
    void EnterStage(const std::string& stage)
    {
        fs::current_path(folder_ / stage);
        Path_Shutdown();
    }
};

// Two builds' bytes are compared by the end-to-end data build case.
TEST_F(DemoDataTest, TheRepositorysSourcesBuildIntoWhatTheGameReads)
{
    ASSERT_EQ(Build(kRepositoryData, "one"), "");
    const std::map<std::string, std::string> one = Tree(folder_ / "one");
    EXPECT_TRUE(one.count("game.ver"));
    EXPECT_TRUE(one.count("Streams/VIDEO/Intro.mpg"));
    EXPECT_FALSE(fs::exists(folder_ / "one.demodata-build"));

    // What the game opens, opened by the game's own readers.
    EnterStage("one");
    ASSERT_EQ(ConfigSys_Init(), 1);
    ConfigNode* level = Config_Open("levels\\level1.cfg");
    ASSERT_NE(level, nullptr);
    char scene[256];
    ASSERT_EQ(Config_GetString(level, "game::Level::levelscene", scene, sizeof scene), 1);
    EXPECT_STREQ(scene, "Levels\\Meadow\\Meadow.lws");
    Config_Close(level);
    ConfigSys_Shutdown();

    Scene parsed{};
    void* file = File_Open(scene, "r");
    ASSERT_NE(file, nullptr);
    int version = 0;
    ASSERT_EQ(SceneText_ReadVersion(file, &version) && SceneText_Parse(&parsed, file, version), 1);
    File_Close(file);
    EXPECT_EQ(SceneData_Name(parsed.itemNames, parsed.itemNameSize, parsed.records[0].nameOffset),
              std::string("Ground"));
    SceneData_Free(&parsed);
    LwoObject* ground = Lwo_Open("Levels\\Meadow\\Ground.lwo", -1);
    ASSERT_NE(ground, nullptr);
    Lwo_Free(ground);

    ASSERT_EQ(Text_Init(), 1);
    Text_Load("language", 0);
    char text[TEXT_BUFFER_SIZE];
    for (int slot = 1; slot <= 8; slot++)
        EXPECT_EQ(std::string(Text_Get(("LS_MEMCARD_FILENAME" + std::to_string(slot)).c_str(), 0, text)),
                  "Slot " + std::to_string(slot));
    Text_Shutdown();
}

TEST_F(DemoDataTest, TheSourcesHoldNoPictureSoundMeshOrVideo)
{
    const char* binary[] = {".bmp", ".png", ".jpg", ".tga", ".dds", ".wav", ".dwf", ".mp3", ".ogg", ".mpg", ".mpeg",
                            ".avi", ".mp4", ".lwo", ".cfb", ".wad", ".dff", ".atf", ".rbs", ".met"};
    int files = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(kRepositoryData)) {
        if (!e.is_regular_file()) continue;
        files++;
        std::string extension = e.path().extension().string();
        for (char& c : extension) c = (char)tolower((unsigned char)c);
        for (const char* b : binary) EXPECT_NE(extension, b) << e.path();
        std::ifstream in(e.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.find('\0'), std::string::npos) << e.path() << " is not text";
    }
    EXPECT_GT(files, 0);
}

TEST_F(DemoDataTest, ABuildReplacesDataAndStreamsWholeAndLeavesTheRestOfTheStage)
{
    const fs::path sources = folder_ / "src";
    Put(sources / "stage.txt", "gamever \"first\"\ntexture Old\\Picture.bmp solid 4 4\nstream Beep effect=blip\n");
    ASSERT_EQ(Build(sources.string(), "stage"), "");
    Put(folder_ / "stage/DATA/Cache/01/00000001.dff", "a cache of the old data");
    Put(folder_ / "stage/SaveGame/slot1.sav", "a save");
    Put(folder_ / "stage/frames/tour-01.png", "a capture");
    Put(sources / "stage.txt", "gamever \"second\"\ntexture New\\Picture.bmp solid 4 4\n");
    ASSERT_EQ(Build(sources.string(), "stage"), "");
    const std::map<std::string, std::string> stage = Tree(folder_ / "stage");
    // The new data replaces the old whole (no cache outlives its sources); saves and captures stay.
    EXPECT_EQ(
        std::make_tuple(stage.at("game.ver"), (bool)(stage.count("DATA/New/Picture.bmp")),
                        (bool)(stage.count("DATA/Old/Picture.bmp")), (bool)(stage.count("DATA/Cache/01/00000001.dff")),
                        (bool)(stage.count("Streams/Beep.wav")), stage.at("SaveGame/slot1.sav"),
                        stage.at("frames/tour-01.png")),
        std::make_tuple("second\n", true, false, false, false, "a save", "a capture"));
}

TEST_F(DemoDataTest, FaultsNameTheirSourceAndLineAndLeaveTheStageAsItWas)
{
    const std::pair<std::map<std::string, std::string>, const char*> cases[] = {
        {{{"stage.txt", "# fine\nfrobnicate now\n"}}, "stage.txt:2: unknown command \"frobnicate\""},
        {{{"stage.txt", "texture a.bmp solid 4 4 colour=1,2,3\n"}},
         "stage.txt:1: unknown option \"colour\" for texture"},
        {{{"stage.txt", "texture a.bmp marble 4 4\n"}}, "stage.txt:1: unknown pattern \"marble\""},
        {{{"stage.txt", "texture a.bmp solid 4 4 a=1,2\n"}}, "stage.txt:1: a \"1,2\" is not r,g,b"},
        {{{"stage.txt", "texture a.tga solid 4 4\n"}}, "stage.txt:1: a.tga: pictures are .bmp or .png"},
        {{{"stage.txt", "texture a.bmp solid 4 4\ntexture A.BMP solid 4 4\n"}},
         "stage.txt:2: DATA/A.BMP is written twice (first at stage.txt:1)"},
        {{{"stage.txt", "include sub.txt\n"}}, "stage.txt:1: "},  // the missing file, named by the reader
        {{{"stage.txt", "include sub.txt\n"}, {"sub.txt", "\ninclude sub.txt\n"}},
         "sub.txt:2: sub.txt includes itself"},
        {{{"stage.txt", "compile Bad.cfg configs/bad.cfg\n"}, {"configs/bad.cfg", "a = 1\n}\n"}},
         "stage.txt:1: "},  // then the source's own place, below
        {{{"stage.txt", "compile A.cfg a.cfg\ncompile a.CFG a.cfg\n"}, {"a.cfg", "a = 1\n"}},
         "stage.txt:2: a.CFG compiles to the cache place of A.cfg (stage.txt:1)"},
        {{{"stage.txt", "compile-folder nothing\n"}}, "stage.txt:1: nothing is not a folder of the sources"},
        {{{"stage.txt", "scene Levels\\A.lws\n  object Box.lwo\nend\n"}},
         "stage.txt:2: the object DATA/Levels/Box.lwo is made by no command"},
        {{{"stage.txt",
           "mesh Levels\\Box.lwo box\nscene Levels\\A.lws configs=Levels\\Cfg\n  object Box.lwo\n"
           "  null PlayerStart_Null at=0,0,1\n  null entity_Frog at=1,0,0\nend\n"
           "compile Levels\\Cfg\\Box.cfg box.cfg\n"},
          {"box.cfg", "a = 1\n"}},
         "stage.txt:5: the item has no configuration: Levels\\Cfg\\Frog.cfg is compiled by no command"},
        {{{"stage.txt", "scene Levels\\A.lws\n  light Sun\n  null After\nend\n"}},
         "stage.txt:3: objects and nulls come before every light and camera"},
        {{{"stage.txt", "scene Levels\\A.lws\n  null A\n"}}, "stage.txt:1: scene is never closed by \"end\""},
        {{{"stage.txt", "mesh Levels\\G.lwo plane size=200,200 tile=1\n"}},
         "stage.txt:1: Levels\\G.lwo: the texture repeats more than 64 times"},
        {{{"stage.txt", "mesh Levels\\G.lwo plane texture=Grass.bmp\n"}},
         "stage.txt:1: the texture DATA/Levels/pc/Grass.bmp is made by no command"},
        // A picture beside the object is not where the mesh loader looks.
        {{{"stage.txt", "texture Levels\\Grass.bmp solid 4 4\nmesh Levels\\G.lwo plane texture=Grass.bmp\n"}},
         "stage.txt:2: the texture DATA/Levels/pc/Grass.bmp is made by no command"},
        {{{"stage.txt", "mesh Levels\\G.lwo plane sequence=G##.png\n"}},
         "stage.txt:1: sequence= is PREFIX##SUFFIX:FIRST-LAST, without texture="},
        // Every frame of a sequence is a picture of its own.
        {{{"stage.txt", "texture Levels\\pc\\G00.png solid 4 4\nmesh Levels\\G.lwo plane sequence=G##.png:0-1\n"}},
         "stage.txt:2: the texture DATA/Levels/pc/G01.png is made by no command"},
        // Below 0 the frames count down as the game names them: 00, 99, 98 (two pictures of one line).
        {{{"stage.txt",
           "texture Levels\\pc\\G00.png,G99.png solid 4 4\nmesh Levels\\G.lwo card sequence=G##.png:-100--98\n"}},
         "stage.txt:2: the texture DATA/Levels/pc/G98.png is made by no command"},
        {{{"stage.txt", "unlocked 1 locked=5:0\n"}}, "stage.txt:1: stars \"0\" is not a number"},
        {{{"stage.txt", "mesh Levels\\G.lwo teapot\n"}}, "stage.txt:1: unknown shape \"teapot\""},
        {{{"stage.txt", "texts language\\english.txt en.txt\n"}, {"en.txt", "# texts\nLS_OK=Caf\xC3\xA9\n"}},
         "en.txt:2: no font has the characters"},
        {{{"stage.txt", "texts language\\english.txt en.txt\n"}, {"en.txt", "LS_A=a\nls_a =b\n"}},
         "stage.txt:1: text keys \"LS_A\" and \"ls_a\" are one key to the game"},
        {{{"stage.txt", "music Title\n  voice square 0.3 \"C4 H4\"\nend\n"}},
         "stage.txt:1: voice 1, step 2: bad token"},
        {{{"stage.txt", "logo Logos\\None.bmp 2\n"}},
         "stage.txt:1: the logo picture DATA/Logos/None.bmp is made by no command"},
        {{{"stage.txt", "movie Intro\n"}}, "stage.txt:1: the clip Streams/VIDEO/Intro.mpg is made by no command"},
        {{{"stage.txt", "charlist A B C D E F G H I\n"}}, "stage.txt:1: charlist takes at most 8 arguments"},
        {{{"stage.txt", "unlocked 1-3 150\n"}}, "stage.txt:1: unlock entry \"150\" is not a number"},
        {{{"stage.txt", "sound Sounds\\A.wav effect=moo\n"}}, "stage.txt:1: unknown effect kind \"moo\""},
        {{{"stage.txt", "copy A.txt ../outside.txt\n"}},
         "stage.txt:1: \"../outside.txt\" is not a path inside the sources"},
        {{{"stage.txt", "texture /abs.bmp solid 1 1\n"}}, "stage.txt:1: \"/abs.bmp\" is not a data name"},
        {{{"stage.txt", "animset A\n  animation Missing.lws idle\nend\n"}},
         "stage.txt:2: the scene DATA/Missing.lws is made by no command"},
        {{{"stage.txt", "animset A\n  event idle Fire\nend\n"}},
         "stage.txt:2: no animation \"idle\" before this event"},
    };
    // A good stage first: every fault must leave it exactly so.
    const fs::path good = folder_ / "good";
    Put(good / "stage.txt", "gamever \"kept\"\ntexture Kept.bmp solid 2 2\n");
    ASSERT_EQ(Build(good.string(), "stage"), "");
    const std::map<std::string, std::string> before = Tree(folder_ / "stage");
    int n = 0;
    for (const auto& [files, says] : cases) {
        const fs::path sources = folder_ / ("bad" + std::to_string(n++));
        for (const auto& [name, text] : files) Put(sources / name, text);
        const std::string error = Build(sources.string(), "stage");
        EXPECT_EQ(error.rfind(says, 0), 0u) << files.at("stage.txt") << "gave: " << error;
        EXPECT_EQ(Tree(folder_ / "stage"), before) << says;
    }
    // The compiler's fault carries the configuration source's own line.
    const std::string compiled = Build((folder_ / "bad8").string(), "stage");
    EXPECT_NE(compiled.find("configs/bad.cfg:2: "), std::string::npos) << compiled;
    EXPECT_NE(Build((folder_ / "bad6").string(), "stage").find("sub.txt: can't be opened"), std::string::npos);
    std::string error;
    EXPECT_EQ(DemoData_Build((folder_ / "nowhere").string(), (folder_ / "stage").string(), &error), 0);
    EXPECT_NE(error.find("is not a folder"), std::string::npos);
    // A stage that did not exist is not made by a failed build.
    EXPECT_NE(Build((folder_ / "bad0").string(), "fresh"), "");
    EXPECT_FALSE(fs::exists(folder_ / "fresh"));
    EXPECT_FALSE(fs::exists(folder_ / "fresh.demodata-build"));
}

TEST_F(DemoDataTest, ScenesPlaceItemsPartsAndParentsAndAnimationSetsNameThem)
{
    const fs::path sources = folder_ / "src";
    Put(sources / "stage.txt",
        "mesh Models\\Man.lwo character parts=TRUE height=2\n"
        "mesh Models\\Crate.lwo box size=1,1,1\n"
        "scene Models\\Show.lws fps=25 frames=50\n"
        "  character Man at=1,0,2 turn=90,0,0\n"
        "  object Crate.lwo keys=\"0:0,0,0 1:0,2,0:0,45,0\" parent=Man_Body\n"
        "  null Marker at=3,4,5\n"
        "  camera View at=0,2,-6 zoom=2\n"
        "end\n"
        "animset Models\\Man suffix=Anim0\n"
        "  animation Models\\Show.lws show loop=TRUE blend=0.25\n"
        "  event show ProjType item=6 start=0.5 end=0.6\n"
        "  event show \"Message Boom\" start=1\n"
        "end\n");
    ASSERT_EQ(Build(sources.string(), "stage"), "");
    EnterStage("stage");
    Scene scene{};
    void* file = File_Open("Models\\Show.lws", "r");
    ASSERT_NE(file, nullptr);
    int version = 0;
    ASSERT_EQ(SceneText_ReadVersion(file, &version) && SceneText_Parse(&scene, file, version), 1);
    File_Close(file);
    ASSERT_EQ(scene.itemCount, 6 + 3);
    auto name = [&](int i) {
        return std::string(SceneData_Name(scene.itemNames, scene.itemNameSize, scene.records[i].nameOffset));
    };
    EXPECT_EQ(std::make_tuple(name(0), name(5), name(6), name(7)),
              std::make_tuple("Man_Body", "Man_LegR", "Crate", "Marker"));
    EXPECT_FLOAT_EQ(scene.fps, 25.0f);
    // The root part stands at the model's place plus its hips; the parts
    // under it at their joints.
    EXPECT_FLOAT_EQ(scene.items[0].keys[0].position.x, 1.0f);
    EXPECT_FLOAT_EQ(scene.items[0].keys[0].position.y, 0.96f);
    EXPECT_NEAR(scene.items[0].keys[0].rotation.x, 1.5707964f, 1e-6f);
    EXPECT_FLOAT_EQ(scene.items[1].keys[0].position.y, 0.72f);  // the head over the hips
    EXPECT_FLOAT_EQ(scene.items[7].keys[0].position.z, 5.0f);
    EXPECT_FLOAT_EQ(scene.items[6].keys[1].position.y, 2.0f);
    // Parents: every part and the crate under the body; the rest roots.
    const int parentOf[] = {-1, 0, 0, 0, 0, 0, 0, -1, -1};
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(scene.records[i].parent ? (int)(scene.records[i].parent - scene.records) : -1, parentOf[i]) << i;
    SceneData_Free(&scene);

    // The animation set at its cache place, read by the content layer's reader.
    AnimFile* set = AnimFile_Read(AtfWriter_CacheName("Models\\Man", "Anim0").c_str());
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->animationCount, 1u);
    EXPECT_STREQ(set->animations[0].name, "show");
    EXPECT_STREQ(set->animations[0].scenePath, "Models\\Show.lws");
    EXPECT_EQ(set->animations[0].sceneFlags, 16u | 1u);  // nodes only, looping
    EXPECT_FLOAT_EQ(set->animations[0].blendTime, 0.25f);
    ASSERT_EQ(set->eventCount, 2u);
    EXPECT_STREQ(set->eventNames[1], "Message Boom");
    ASSERT_EQ(set->keyEventCount, 2u);
    EXPECT_EQ(set->keyEvents[0].item, 6u);
    EXPECT_FLOAT_EQ(set->keyEvents[0].end, 0.6f);
    EXPECT_EQ(set->keyEvents[1].event, 1u);
    EXPECT_FLOAT_EQ(set->keyEvents[1].end, 1.0f);
    AnimFile_Free(set);
}

}  // namespace
