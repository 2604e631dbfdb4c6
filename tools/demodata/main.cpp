// demodata: builds the game's working folder from the demo data's sources.
#include <cstdio>
#include <cstring>

#include "tools/demodata/demodata.h"

namespace {

const char* const kUsage =
    "usage: demodata SOURCES STAGE\n"
    "\n"
    "Builds the folder the game runs in, STAGE, from the recipes in SOURCES\n"
    "(starting at SOURCES/stage.txt): STAGE/DATA with the data files and the\n"
    "compiled configurations, STAGE/Streams with music and clips, and\n"
    "STAGE/game.ver. DATA, Streams and game.ver are replaced whole; nothing\n"
    "else in STAGE is touched. A fault is reported as FILE:LINE: message with\n"
    "exit status 1, and the stage is then left as it was.\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        const bool help = argc == 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"));
        fputs(kUsage, help ? stdout : stderr);
        return help ? 0 : 2;
    }
    std::string error;
    if (!DemoData_Build(argv[1], argv[2], &error)) {
        fprintf(stderr, "demodata: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
