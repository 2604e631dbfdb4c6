#include "app/config.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/binfile.h"
#include "app/cache.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "app/file.h"

struct ConfigReader {
  ConfigNode* firstNode;
  char* stringBlock;  // every name and value with its NUL, one block
  char section[CONFIG_TEXT_MAX];
  char subSection[CONFIG_TEXT_MAX];
};

namespace {

struct ConfigSystem {
  List* nodes;
  List* readers;
  char key[CONFIG_TEXT_MAX];
};

ConfigSystem g_config = {};

// 1/255 as the single-precision value the colour getters multiply by.
float Config_ColourScale() {
  uint32_t bits = 0x3B808081u;
  float scale;
  memcpy(&scale, &bits, sizeof scale);
  return scale;
}

void Config_CopyText(char* out, const char* text) {
  snprintf(out, CONFIG_TEXT_MAX, "%s", text ? text : "");
}

// atoi without its undefined overflow: saturates to the int range.
int Config_ParseInt(const char* text) {
  long long v = strtoll(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int)v;
}

// A writable copy of a value split at a separator with quotes honoured. The
// getters never split the value inside the reader: the tokeniser cuts in
// place, and callers read the same key again.
struct ConfigSplit {
  char local[256];
  char* text;
  char* parts[8];
  int count;  // the tokeniser's raw count, which may exceed 8
};

int Config_SplitValue(ConfigSplit* split, const char* value, const char* separator) {
  size_t length = strlen(value);
  split->text = length < sizeof split->local ? split->local : (char*)Mem_Alloc(length + 1, 8);
  if (!split->text) return 0;
  memcpy(split->text, value, length + 1);
  split->count = String_Tokenise(split->text, split->parts, 8, separator, 1);
  return 1;
}

void Config_FreeSplit(ConfigSplit* split) {
  if (split->text != split->local) Mem_Free(split->text);
}

}  // namespace

int ConfigSys_Init(void) {
  if (g_config.nodes) return 1;
  g_config.nodes = List_Create(sizeof(ConfigNode), 8);
  g_config.readers = List_Create(sizeof(ConfigReader), 8);
  if (!g_config.nodes || !g_config.readers) {
    ConfigSys_Shutdown();
    return 0;
  }
  return 1;
}

void ConfigSys_Shutdown(void) {
  if (g_config.nodes) List_Destroy(g_config.nodes);
  if (g_config.readers) List_Destroy(g_config.readers);
  g_config = ConfigSystem{};
}

List* ConfigSys_GetNodePool(void) { return g_config.nodes; }
List* ConfigSys_GetReaderPool(void) { return g_config.readers; }

ConfigNode* Config_Open(const char* sourceName) {
  char path[CACHE_NAME_MAX];
  Cache_NameFromSource(path, sourceName, 0, "cfb");
  return Config_Load(path);
}

ConfigNode* Config_Load(const char* path) {
  if (!g_config.nodes || !path) return nullptr;
  long fileSize = File_GetSize(path, 1);
  if (fileSize <= 0) return nullptr;
  uint64_t blockSize = (uint64_t)fileSize;
  char* block = (char*)Mem_Calloc((size_t)blockSize, 4);
  if (!block) return nullptr;
  Stream* stream = BinFile_Open(path, "r");
  if (!stream) {
    Mem_Free(block);
    return nullptr;
  }

  ConfigReader* reader = nullptr;
  ConfigNode* last = nullptr;
  uint64_t offset = 0;
  int failed = 0;
  for (;;) {
    // A record becomes a node only when it was read whole. Each string must
    // fit the block with its NUL; lengths are checked in 64 bits so that
    // 0xFFFFFFFF cannot wrap. Any failure ends the file there.
    uint32_t nameLength, nameHash, valueLength, depth;
    if (!BinFile_ReadInt32(stream, &nameLength)) break;
    if (offset + nameLength + 1 > blockSize) break;
    char* name = block + offset;
    if (!BinFile_ReadString(stream, name, nameLength)) break;
    if (!BinFile_ReadInt32(stream, &nameHash)) break;
    if (!BinFile_ReadInt32(stream, &valueLength)) break;
    uint64_t valueOffset = offset + nameLength + 1;
    if (valueOffset + valueLength + 1 > blockSize) break;
    char* value = block + valueOffset;
    if (!BinFile_ReadString(stream, value, valueLength)) break;
    if (!BinFile_ReadInt32(stream, &depth)) break;

    if (!reader) {
      reader = (ConfigReader*)List_Alloc(g_config.readers);
      if (!reader) {
        failed = 1;
        break;
      }
      reader->stringBlock = block;
    }
    ConfigNode* node = (ConfigNode*)List_Alloc(g_config.nodes);
    if (!node) {
      failed = 1;
      break;
    }
    if (!reader->firstNode) reader->firstNode = node;
    node->name = name;
    node->value = value;
    node->depth = depth;
    node->nameHash = nameHash;
    node->reader = reader;
    node->previous = last;
    if (last) last->next = node;
    last = node;
    offset = valueOffset + valueLength + 1;
  }
  BinFile_Close(stream);
  if (failed || !reader || !reader->firstNode) {
    if (reader && reader->firstNode) {
      Config_Close(reader->firstNode);
    } else {
      if (reader) List_Free(g_config.readers, reader);
      Mem_Free(block);
    }
    return nullptr;
  }
  return reader->firstNode;
}

void Config_Close(ConfigNode* first) {
  if (!first || !g_config.nodes) return;
  ConfigReader* reader = first->reader;
  if (reader) {
    Mem_Free(reader->stringBlock);
    List_Free(g_config.readers, reader);
  }
  for (ConfigNode* n = first; n;) {
    ConfigNode* next = n->next;
    List_Free(g_config.nodes, n);
    n = next;
  }
}

void Config_SetSection(ConfigNode* node, const char* section) {
  if (node && node->reader) Config_CopyText(node->reader->section, section);
}

void Config_SetSubSection(ConfigNode* node, const char* subSection) {
  if (node && node->reader) Config_CopyText(node->reader->subSection, subSection);
}

const char* Config_GetSection(ConfigNode* node) {
  if (!node || !node->reader || !node->reader->section[0]) return nullptr;
  return node->reader->section;
}

const char* Config_GetSubSection(ConfigNode* node) {
  if (!node || !node->reader || !node->reader->subSection[0]) return nullptr;
  return node->reader->subSection;
}

const char* Config_Key(const char* first, ...) {
  char* out = g_config.key;
  Config_CopyText(out, first);
  size_t used = strlen(out);
  va_list args;
  va_start(args, first);
  for (const char* part = va_arg(args, const char*); part; part = va_arg(args, const char*)) {
    int n = snprintf(out + used, CONFIG_TEXT_MAX - used, "::%s", part);
    if (n < 0) break;
    used += (size_t)n;
    if (used >= CONFIG_TEXT_MAX - 1) {
      used = CONFIG_TEXT_MAX - 1;
      break;
    }
  }
  va_end(args);
  return out;
}

ConfigNode* Config_Find(ConfigNode* node, const char* key) {
  if (!node || !node->reader || !key) return nullptr;
  const ConfigReader* reader = node->reader;

  // The full path: section and subsection in front when set.
  const char* section = reader->section;
  const char* subSection = reader->subSection;
  size_t length = strlen(section) + strlen(subSection) + strlen(key) + 5;
  char local[512];
  char* path = length < sizeof local ? local : (char*)Mem_Alloc(length, 8);
  if (!path) return nullptr;
  if (section[0] && subSection[0])
    snprintf(path, length, "%s::%s::%s", section, subSection, key);
  else if (subSection[0])
    snprintf(path, length, "%s::%s", subSection, key);
  else if (section[0])
    snprintf(path, length, "%s::%s", section, key);
  else
    snprintf(path, length, "%s", key);

  char* parts[CONFIG_MAX_PATH_PARTS];
  int count = String_Tokenise(path, parts, CONFIG_MAX_PATH_PARTS, "::", 0);
  uint32_t hashes[CONFIG_MAX_PATH_PARTS];
  // A path with more parts than we keep finds nothing: cutting it would
  // match a shorter key.
  int usable = count >= 1 && count <= CONFIG_MAX_PATH_PARTS;
  for (int i = 0; usable && i < count; i++) hashes[i] = Name_Hash(parts[i], 1, 1);
  if (path != local) Mem_Free(path);
  if (!usable) return nullptr;

  uint32_t depth = (uint32_t)(count - 1);
  uint32_t last = hashes[count - 1];
  if (last == 0) return nullptr;
  for (ConfigNode* n = node; n; n = n->next) {
    if (n->depth != depth || n->nameHash != last) continue;
    // Each ancestor is the first node met walking back at its depth.
    const ConfigNode* p = n->previous;
    int d = (int)depth - 1;
    for (; d >= 0; d--) {
      while (p && p->depth != (uint32_t)d) p = p->previous;
      if (!p || p->nameHash != hashes[d]) break;
    }
    if (d < 0) return n;
  }
  return nullptr;
}

const char* ConfigNode_GetName(const ConfigNode* node) {
  return node ? node->name : nullptr;
}

uint32_t ConfigNode_GetHash(const ConfigNode* node) {
  return node ? node->nameHash : 0;
}

ConfigNode* Config_FirstChild(ConfigNode* node, const char* key) {
  ConfigNode* n = Config_Find(node, key);
  if (n && n->next && n->next->depth > n->depth) return n->next;
  return nullptr;
}

ConfigNode* Config_NextSibling(ConfigNode* node) {
  if (!node) return nullptr;
  for (ConfigNode* n = node->next; n; n = n->next) {
    if (n->depth < node->depth) return nullptr;
    if (n->depth == node->depth) return n;
  }
  return nullptr;
}

const char* Config_GetValue(ConfigNode* node, const char* key) {
  ConfigNode* n = Config_Find(node, key);
  return n ? n->value : nullptr;
}

char* Config_DupString(ConfigNode* node, const char* key) {
  const char* value = Config_GetValue(node, key);
  return value ? String_Dup(value) : nullptr;
}

int Config_GetString(ConfigNode* node, const char* key, char* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  const char* value = Config_GetValue(node, key);
  buffer[0] = 0;
  if (!value) return 0;
  size_t n = strlen(value);
  if (n >= size) n = size - 1;
  memcpy(buffer, value, n);
  buffer[n] = 0;
  return 1;
}

int Config_GetFloat(ConfigNode* node, const char* key, float* out) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  if (out) *out = (float)atof(value);
  return 1;
}

int Config_GetInt(ConfigNode* node, const char* key, int32_t* out) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  double v = atof(value);
  int32_t result;
  if (std::isnan(v))
    result = 0;
  else if (v >= 2147483647.0)
    result = INT32_MAX;
  else if (v <= -2147483648.0)
    result = INT32_MIN;
  else
    result = (int32_t)v;  // truncation toward zero
  if (out) *out = result;
  return 1;
}

int Config_GetBool(ConfigNode* node, const char* key, uint32_t* out) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  if (out) *out = (uint32_t)String_ToBool(value);
  return 1;
}

int Config_GetBoolTri(ConfigNode* node, const char* key) {
  const char* value = Config_GetValue(node, key);
  return value ? String_ToBool(value) : 2;
}

namespace {

// Reads exactly want comma-separated numbers into out.
int Config_GetFloats(ConfigNode* node, const char* key, float* out, int want) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  ConfigSplit split;
  if (!Config_SplitValue(&split, value, ",")) return 0;
  int ok = split.count == want;
  for (int i = 0; ok && i < want; i++) out[i] = (float)atof(split.parts[i]);
  Config_FreeSplit(&split);
  return ok;
}

// Reads exactly want colon-separated colour parts scaled to 0..1.
int Config_GetColour(ConfigNode* node, const char* key, float* out[], int want) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  ConfigSplit split;
  if (!Config_SplitValue(&split, value, ":")) return 0;
  int ok = split.count == want;
  for (int i = 0; ok && i < want; i++)
    if (out[i]) *out[i] = (float)Config_ParseInt(split.parts[i]) * Config_ColourScale();
  Config_FreeSplit(&split);
  return ok;
}

}  // namespace

int Config_GetVector3(ConfigNode* node, const char* key, float* out) {
  return Config_GetFloats(node, key, out, 3);
}

int Config_GetVector2(ConfigNode* node, const char* key, float* out) {
  return Config_GetFloats(node, key, out, 2);
}

int Config_GetVector2or3(ConfigNode* node, const char* key, float* x, float* y, float* z) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  ConfigSplit split;
  if (!Config_SplitValue(&split, value, ",")) return 0;
  int ok = split.count == 2 || split.count == 3;
  if (ok) {
    if (x) *x = (float)atof(split.parts[0]);
    if (y) *y = (float)atof(split.parts[1]);
    if (z && split.count == 3) *z = (float)atof(split.parts[2]);
  }
  Config_FreeSplit(&split);
  return ok;
}

int Config_GetColour3(ConfigNode* node, const char* key, float* r, float* g, float* b) {
  float* out[3] = {r, g, b};
  return Config_GetColour(node, key, out, 3);
}

int Config_GetColour4(ConfigNode* node, const char* key, float* r, float* g, float* b,
                      float* a) {
  float* out[4] = {r, g, b, a};
  return Config_GetColour(node, key, out, 4);
}

int Config_GetColourBytes(ConfigNode* node, const char* key, uint8_t* rgba) {
  const char* value = Config_GetValue(node, key);
  if (!value) return 0;
  ConfigSplit split;
  if (!Config_SplitValue(&split, value, ",")) return 0;
  int ok = split.count == 3 || split.count == 4;
  if (ok) {
    for (int i = 0; i < split.count; i++) rgba[i] = (uint8_t)Config_ParseInt(split.parts[i]);
    if (split.count == 3) rgba[3] = 255;
  }
  Config_FreeSplit(&split);
  return ok;
}
