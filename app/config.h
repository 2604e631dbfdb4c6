// Compiled configuration reader. A compiled configuration (".cfb" in the
// hashed cache) is a flat list of key records in pre-order of the key tree:
//   u32 L1, name (padded string), u32 nameHash, u32 L2, value (padded
//   string), u32 depth (0 at the top, parent's depth + 1 below).
// Opened, it becomes a chain of nodes; the first node is the handle callers
// keep. Keys are paths of names joined with "::", matched on the name hashes
// only (case and blanks ignored), first match in file order, forward from
// the node a lookup starts at. A section and a subsection set on the handle
// are put in front of every later path.
#pragma once

#include <cstddef>
#include <cstdint>

struct ConfigReader;

struct ConfigNode {
  const char* name;   // inside the reader's string block
  const char* value;  // likewise; "" for a key without a value
  uint32_t depth;
  uint32_t nameHash;  // Name_Hash(name, 1, 1), as stored in the file
  ConfigNode* next;
  ConfigNode* previous;
  ConfigReader* reader;  // the open file this node belongs to
};

constexpr int CONFIG_TEXT_MAX = 1024;     // section, subsection, key buffer
constexpr int CONFIG_MAX_PATH_PARTS = 100;

// Creates / destroys the node and reader pools. Init returns 0 on failure.
int ConfigSys_Init(void);
void ConfigSys_Shutdown(void);
// The node and reader pools (the game fixes their capacities before the
// first configuration opens); null before ConfigSys_Init.
struct List;
List* ConfigSys_GetNodePool(void);
List* ConfigSys_GetReaderPool(void);

// Opens the compiled form of a source name ("FrontEnd\FrontEnd.cfg"), found
// at Cache\<top bits>\<hash>.cfb. Null when it is missing or empty.
ConfigNode* Config_Open(const char* sourceName);
// Opens a compiled file by its data name. A file cut inside a record keeps
// the whole records before it; lengths running past the file end the read
// there. Null when nothing could be read; nothing is left allocated then.
ConfigNode* Config_Load(const char* path);
// Frees the reader, its string block and every node from the given one on.
void Config_Close(ConfigNode* first);

// Sets (copied, cut to 1023 characters) or clears (null) the section or
// subsection used by every later lookup through any node of the file.
void Config_SetSection(ConfigNode* node, const char* section);
void Config_SetSubSection(ConfigNode* node, const char* subSection);
// The section (subsection), or null when none is set.
const char* Config_GetSection(ConfigNode* node);
const char* Config_GetSubSection(ConfigNode* node);

// Joins the parts (ended by a null) with "::" in a static buffer that the
// next call overwrites; cut to 1023 characters.
const char* Config_Key(const char* first, ...);

// The first node from this one on whose path matches the key, or null.
// Paths of more than 100 parts find nothing.
ConfigNode* Config_Find(ConfigNode* node, const char* key);
const char* ConfigNode_GetName(const ConfigNode* node);
uint32_t ConfigNode_GetHash(const ConfigNode* node);
// The node after the key's node when it lies deeper, else null.
ConfigNode* Config_FirstChild(ConfigNode* node, const char* key);
// The next node at the same depth under the same parent, or null.
ConfigNode* Config_NextSibling(ConfigNode* node);

// Getters. A missing key returns 0 (GetBoolTri: 2) and leaves the outputs
// untouched, except Config_GetString, which empties its buffer.
// The value text inside the reader (valid until Config_Close), or null.
const char* Config_GetValue(ConfigNode* node, const char* key);
// A copy in a new Mem_Alloc block that the caller frees with Mem_Free.
char* Config_DupString(ConfigNode* node, const char* key);
// Copies the value into buffer, cut to size - 1 characters. Callers that
// pass no size must give a buffer that holds the whole value.
int Config_GetString(ConfigNode* node, const char* key, char* buffer, size_t size = SIZE_MAX);
int Config_GetFloat(ConfigNode* node, const char* key, float* out);
// The value read as a number and truncated toward zero (saturated to int).
int Config_GetInt(ConfigNode* node, const char* key, int32_t* out);
// 1 for TRUE, YES, ON or 1 in any case, else 0; out may be null.
int Config_GetBool(ConfigNode* node, const char* key, uint32_t* out);
int Config_GetBoolTri(ConfigNode* node, const char* key);
// Exactly three (two) comma-separated numbers.
int Config_GetVector3(ConfigNode* node, const char* key, float* out);
int Config_GetVector2(ConfigNode* node, const char* key, float* out);
// Two or three comma-separated numbers: x and y from the first two, z (when
// asked for) only when there are exactly three. 0 for any other count.
int Config_GetVector2or3(ConfigNode* node, const char* key, float* x, float* y, float* z);
// Three (four) colon-separated numbers 0..255 scaled to 0..1.
int Config_GetColour3(ConfigNode* node, const char* key, float* r, float* g, float* b);
int Config_GetColour4(ConfigNode* node, const char* key, float* r, float* g, float* b,
                      float* a);
// Comma-separated bytes: four parts, or three with alpha 255.
int Config_GetColourBytes(ConfigNode* node, const char* key, uint8_t* rgba);
