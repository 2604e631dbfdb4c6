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
    "Errors are reported as SOURCE:LINE: message.\n";

int Fail(const std::string& message) {
  fprintf(stderr, "cfgc: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fputs(kUsage, argc == 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help")) ? stdout : stderr);
    return argc == 2 ? 0 : 2;
  }
  const char* source = argv[1];
  std::string output = strcmp(argv[2], "-o") == 0
                           ? std::string(argv[3])
                           : (std::filesystem::path(argv[3]) / Cfgc_OutputPath(argv[2])).string();

  FILE* in = fopen(source, "rb");
  if (!in) return Fail(std::string(source) + ": can't be read");
  std::vector<char> text;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) text.insert(text.end(), buffer, buffer + got);
  fclose(in);

  std::vector<uint8_t> compiled;
  CfgcError error;
  if (!Cfgc_Compile(text.data(), text.size(), &compiled, &error)) {
    fprintf(stderr, "%s:%d: %s\n", source, error.line, error.message.c_str());
    return 1;
  }

  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(output).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  FILE* out = fopen(output.c_str(), "wb");
  if (!out) return Fail(output + ": can't be written");
  bool ok = fwrite(compiled.data(), 1, compiled.size(), out) == compiled.size();
  if (fclose(out) != 0) ok = false;
  if (!ok) return Fail(output + ": write failed");
  return 0;
}
