#include "tools/lib/cfgc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/binfile.h"
#include "app/cache.h"
#include "common/bytes.h"
#include "common/hash.h"
#include "tools/lib/toolfile.h"

namespace {

void Cfgc_PutString(std::vector<uint8_t>* out, const std::string& text) {
  uint32_t length = (uint32_t)text.size();
  ToolFile_PutU32(out, length);
  size_t at = out->size();
  out->resize(at + (size_t)BinFile_PaddedSize(length));
  BinFile_PadString(out->data() + at, text.data(), length);
}

bool Cfgc_IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Cfgc_Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && Cfgc_IsBlank(s[b])) b++;
  while (e > b && Cfgc_IsBlank(s[e - 1])) e--;
  return s.substr(b, e - b);
}

bool Cfgc_StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

int Cfgc_Fail(CfgcError* error, int line, const std::string& message,
              std::vector<uint8_t>* out) {
  out->clear();
  if (error) {
    error->line = line;
    error->message = message;
  }
  return 0;
}

}  // namespace

void Cfgc_AppendRecord(std::vector<uint8_t>* out, const char* name, const char* value,
                       uint32_t depth) {
  Cfgc_PutString(out, name);
  ToolFile_PutU32(out, Name_Hash(name, 1, 1));
  Cfgc_PutString(out, value);
  ToolFile_PutU32(out, depth);
}

int Cfgc_Compile(const char* text, size_t length, std::vector<uint8_t>* out, CfgcError* error) {
  out->clear();
  std::vector<int> openLines;  // line of each open group, innermost last
  size_t pos = 0;
  int lineNumber = 0;
  while (pos < length) {
    size_t end = pos;
    while (end < length && text[end] != '\n') end++;
    std::string line = Cfgc_Trim(std::string(text + pos, end - pos));
    pos = end + 1;
    lineNumber++;
    if (line.empty() || line[0] == '#' || Cfgc_StartsWith(line, "//")) continue;

    if (line == "}") {
      if (openLines.empty()) return Cfgc_Fail(error, lineNumber, "\"}\" without an open group", out);
      openLines.pop_back();
      continue;
    }

    std::string name, value;
    bool group = false;
    if (line.back() == '{') {
      name = line;
      name.pop_back();
      name = Cfgc_Trim(name);
      if (!name.empty() && name.back() == '=') {
        name.pop_back();
        name = Cfgc_Trim(name);
      }
      // "a = b{" is a key whose value ends in a brace, not a group.
      group = name.find('=') == std::string::npos;
      value.assign(1, '{');
    }
    if (!group) {
      size_t equals = line.find('=');
      if (equals == std::string::npos) {
        name = line;
        value.clear();
      } else {
        name = Cfgc_Trim(line.substr(0, equals));
        value = Cfgc_Trim(line.substr(equals + 1));
      }
    }
    if (name.empty()) return Cfgc_Fail(error, lineNumber, "empty name", out);
    if (name.find("::") != std::string::npos)
      return Cfgc_Fail(error, lineNumber, "name \"" + name + "\" contains \"::\"", out);
    if (name.find('}') != std::string::npos || name.find('{') != std::string::npos)
      return Cfgc_Fail(error, lineNumber, "brace inside the name \"" + name + "\"", out);
    if (Name_Hash(name.c_str(), 1, 1) == 0)
      return Cfgc_Fail(error, lineNumber, "name \"" + name + "\" can never be found", out);
    if (value.size() > 0x7FFFFFFFu || name.size() > 0x7FFFFFFFu)
      return Cfgc_Fail(error, lineNumber, "line too long", out);

    Cfgc_AppendRecord(out, name.c_str(), value.c_str(), (uint32_t)openLines.size());
    if (group) openLines.push_back(lineNumber);
  }
  if (!openLines.empty())
    return Cfgc_Fail(error, openLines.back(), "group opened here is never closed", out);
  return 1;
}

int Cfgc_CompileFile(const std::string& source, const std::string& output, std::string* message) {
  auto fail = [message](const std::string& text) {
    if (message) *message = text;
    return 0;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(source, ec)) return fail(source + ": is a folder, not a configuration source");
  FILE* in = fopen(source.c_str(), "rb");
  if (!in) return fail(source + ": can't be opened: " + strerror(errno));
  std::vector<char> text;
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) text.insert(text.end(), buffer, buffer + got);
  const bool readFailed = ferror(in) != 0;
  const int readError = errno;
  fclose(in);
  if (readFailed) return fail(source + ": can't be read: " + strerror(readError));

  std::vector<uint8_t> compiled;
  CfgcError error;
  if (!Cfgc_Compile(text.data(), text.size(), &compiled, &error))
    return fail(source + ":" + std::to_string(error.line) + ": " + error.message);
  if (compiled.empty())
    return fail(source + ": holds no keys; the game would open its compiled form as missing");

  return ToolFile_Write(output, compiled, message);
}

std::string Cfgc_OutputPath(const char* sourceName) {
  char name[CACHE_NAME_MAX];
  Cache_NameFromSource(name, sourceName, 0, "cfb");
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}
