// cfgc: compiles configuration text into the form the game reads.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lib/cfgc.h"

namespace {

const char* const kUsage =
    "usage: cfgc SOURCE NAME DATA-FOLDER\n"
    "       cfgc SOURCE -o OUTPUT\n"
    "\n"
    "Compiles the configuration text SOURCE. With NAME, the name the game opens\n"
    "it by (\"FrontEnd\\FrontEnd.cfg\": back-slashes, blanks and the extension\n"
    "count, letter case does not), the result goes to its place in the hashed\n"
    "cache, DATA-FOLDER/Cache/<hh>/<hash>.cfb. With -o it goes to OUTPUT.\n"
    "\n"
    "Text form, one statement a line; blanks around names and values are trimmed:\n"
    "  # comment   or   // comment     whole-line comments; blank lines are skipped\n"
    "  name = value                    a key and its value (which may be empty)\n"
    "  name                            a key without a value\n"
    "  name {      or   name = {       opens a group (a key whose value is \"{\")\n"
    "  }                               closes the innermost group\n"
    "Keys inside a group lie one level below it. Names must not contain \"::\".\n"
    "Errors are reported as SOURCE:LINE: message (or PATH: message), with exit\n"
    "status 1; a source without any key is an error too.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    bool help = argc == 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"));
    fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  const char* source = argv[1];
  std::string output = strcmp(argv[2], "-o") == 0
                           ? std::string(argv[3])
                           : (std::filesystem::path(argv[3]) / Cfgc_OutputPath(argv[2])).string();

  std::string message;
  if (!Cfgc_CompileFile(source, output, &message)) {
    fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  return 0;
}
