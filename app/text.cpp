#include "app/text.h"

#include <cstdio>
#include <cstring>

#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "app/file.h"

namespace {

struct TextEntry {
  uint32_t keyHash;  // Name_Hash(key, 1, 1)
  char* text;        // the text after macro expansion, own block
  uint32_t index;    // 0 for the first entry of its hash, 1 for the next, ...
};

struct TextMacro {
  uint32_t nameHash;  // Name_Hash(name, 1, 0)
  char* name;
  char* replacement;
};

// Entries per key hash, so that adding a line costs the same however many
// are loaded (counting them in the entry pool would make loading grow with
// the square of the table). Open addressing; hash 0 (never a key's) marks a
// free slot; never more than half full.
struct TextCount {
  uint32_t keyHash;
  uint32_t count;
};

struct TextTables {
  List* entries;
  List* macros;
  TextCount* counts;
  uint32_t countCapacity;  // a power of two, or 0 before the first line
  uint32_t countUsed;
  char missing[TEXT_BUFFER_SIZE];
};

TextTables* g_text = nullptr;
TextLanguageQuery g_languageQuery = nullptr;

const char* Text_LanguageWord(int language) {
  switch (language) {
    case 2: return "german";
    case 3: return "french";
    case 4: return "spanish";
    case 5: return "italian";
    default: return "english";
  }
}

int Text_IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

struct TextFind {
  uint32_t hash;
  uint32_t index;
};

int Text_MatchEntry(void* item, void* arg) {
  const TextEntry* e = (const TextEntry*)item;
  TextFind* find = (TextFind*)arg;
  return e->keyHash == find->hash && e->index == find->index;
}

// The slot of hash in a counts table: its own, or the free one where it
// would go. Null while the table is empty.
TextCount* Text_CountSlot(TextCount* counts, uint32_t capacity, uint32_t hash) {
  if (!capacity) return nullptr;
  const uint32_t mask = capacity - 1;
  for (uint32_t i = (hash * 2654435761u) & mask;; i = (i + 1) & mask)
    if (counts[i].keyHash == hash || counts[i].keyHash == 0) return &counts[i];
}

// Doubles the counts table (or makes its first one); 0 when memory ran out,
// with the table unchanged.
int Text_GrowCounts(TextTables* t) {
  const uint32_t capacity = t->countCapacity ? t->countCapacity * 2 : 256;
  TextCount* grown = (TextCount*)Mem_Calloc(sizeof(TextCount) * (size_t)capacity, 8);
  if (!grown) return 0;
  for (uint32_t i = 0; i < t->countCapacity; i++)
    if (t->counts[i].keyHash) *Text_CountSlot(grown, capacity, t->counts[i].keyHash) = t->counts[i];
  Mem_Free(t->counts);
  t->counts = grown;
  t->countCapacity = capacity;
  return 1;
}

int Text_MatchMacro(void* item, void* arg) {
  return ((const TextMacro*)item)->nameHash == *(const uint32_t*)arg;
}

// Replaces every occurrence of one macro's name in work (case-sensitive),
// going on behind each inserted replacement, so a replacement that holds
// its own name is not expanded again. The result is cut at TEXT_MAX.
int Text_ExpandMacro(void* item, void* arg) {
  const TextMacro* m = (const TextMacro*)item;
  char* work = (char*)arg;
  size_t nameLength = strlen(m->name);
  size_t replacementLength = strlen(m->replacement);
  if (nameLength == 0) return 0;
  char* position = work;
  while (char* hit = strstr(position, m->name)) {
    char rest[TEXT_BUFFER_SIZE];
    snprintf(rest, sizeof rest, "%s", hit + nameLength);
    size_t used = (size_t)(hit - work);
    size_t n = replacementLength;
    if (n > TEXT_MAX - used) n = TEXT_MAX - used;
    memcpy(work + used, m->replacement, n);
    used += n;
    size_t resume = used;
    size_t restLength = strlen(rest);
    if (restLength > TEXT_MAX - used) restLength = TEXT_MAX - used;
    memcpy(work + used, rest, restLength);
    work[used + restLength] = 0;
    if (resume >= TEXT_MAX) break;
    position = work + resume;
  }
  return 0;
}

// Reads one line into line (TEXT_BUFFER_SIZE bytes) without its line feed
// and one carriage return before it; the tail of an overlong line is
// skipped. Null at the end of the file.
char* Text_ReadLine(void* file, char* line) {
  if (!File_Gets(line, (int)TEXT_BUFFER_SIZE, file)) return nullptr;
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') {
    line[--n] = 0;
  } else if (n == TEXT_MAX) {
    char skip[TEXT_BUFFER_SIZE];
    while (File_Gets(skip, (int)sizeof skip, file)) {
      size_t k = strlen(skip);
      if (k > 0 && skip[k - 1] == '\n') break;
    }
  }
  if (n > 0 && line[n - 1] == '\r') line[--n] = 0;
  return line;
}

void Text_AddLine(char* line) {
  char* equals = strchr(line, '=');
  if (!equals) return;
  *equals = 0;
  char* key = line;
  const char* text = equals + 1;

  const char* k = key;
  while (*k && Text_IsBlank(*k)) k++;
  if (*k == '<') {
    // The macro's name is the key without the blanks around it; its text is
    // kept as written.
    char* end = key + strlen(key);
    while (end > k && Text_IsBlank(end[-1])) *--end = 0;
    Text_SetMacro(k, text);
    return;
  }

  uint32_t hash = Name_Hash(key, 1, 1);
  if (hash == 0) return;
  char work[TEXT_BUFFER_SIZE];
  snprintf(work, sizeof work, "%s", text);
  List_ForEach(g_text->macros, Text_ExpandMacro, work);
  if (!work[0]) return;

  TextTables* t = g_text;
  if ((t->countUsed + 1) * 2 > t->countCapacity && !Text_GrowCounts(t)) return;
  TextCount* slot = Text_CountSlot(t->counts, t->countCapacity, hash);
  char* copy = String_Dup(work);
  if (!copy) return;
  TextEntry* entry = (TextEntry*)List_Alloc(t->entries);
  if (!entry) {
    Mem_Free(copy);
    return;
  }
  if (!slot->keyHash) {
    slot->keyHash = hash;
    t->countUsed++;
  }
  entry->keyHash = hash;
  entry->text = copy;
  entry->index = slot->count++;
}

int Text_FreeEntry(void* item, void*) {
  Mem_Free(((TextEntry*)item)->text);
  return 0;
}

int Text_FreeMacro(void* item, void*) {
  TextMacro* m = (TextMacro*)item;
  Mem_Free(m->name);
  Mem_Free(m->replacement);
  return 0;
}

}  // namespace

int Text_Init(void) {
  if (g_text) return 1;
  TextTables* t = (TextTables*)Mem_Calloc(sizeof(TextTables), 8);
  if (!t) return 0;
  t->entries = List_Create(sizeof(TextEntry), 8);
  t->macros = List_Create(sizeof(TextMacro), 8);
  if (!t->entries || !t->macros) {
    if (t->entries) List_Destroy(t->entries);
    if (t->macros) List_Destroy(t->macros);
    Mem_Free(t);
    return 0;
  }
  snprintf(t->missing, sizeof t->missing, "%s", "!!!TRANSLATION MISSING!!!");
  g_text = t;
  return 1;
}

void Text_Shutdown(void) {
  if (!g_text) return;
  List_ForEach(g_text->entries, Text_FreeEntry, nullptr);
  List_ForEach(g_text->macros, Text_FreeMacro, nullptr);
  List_Destroy(g_text->entries);
  List_Destroy(g_text->macros);
  Mem_Free(g_text->counts);
  Mem_Free(g_text);
  g_text = nullptr;
}

void Text_SetLanguageQuery(TextLanguageQuery query) {
  g_languageQuery = query;
}

void Text_Load(const char* folder, int forceEnglish) {
  if (!folder) return;
  int language = g_languageQuery ? g_languageQuery() : 0;
  const char* word = forceEnglish ? "english" : Text_LanguageWord(language);
  char path[1024];
  snprintf(path, sizeof path, "%s\\%s\\%s_%s.txt", folder, "PC", word, "PC");
  Text_ParseFile(path);
  snprintf(path, sizeof path, "%s\\%s.txt", folder, word);
  Text_ParseFile(path);
}

void Text_ParseFile(const char* path) {
  if (!g_text || !path) return;
  void* file = File_Open(path, "r");
  if (!file) return;
  char line[TEXT_BUFFER_SIZE];
  while (Text_ReadLine(file, line)) Text_AddLine(line);
  File_Close(file);
}

int Text_SetMacro(const char* name, const char* replacement) {
  if (!g_text || !name || !replacement) return 0;
  uint32_t hash = Name_Hash(name, 1, 0);
  char* nameCopy = String_Dup(name);
  char* textCopy = String_Dup(replacement);
  TextMacro* m = (TextMacro*)List_ForEach(g_text->macros, Text_MatchMacro, &hash);
  if (!m && nameCopy && textCopy) m = (TextMacro*)List_Alloc(g_text->macros);
  if (!m || !nameCopy || !textCopy) {
    Mem_Free(nameCopy);
    Mem_Free(textCopy);
    return 0;
  }
  // A redefinition keeps the macro's place in the pool, and so its turn.
  Mem_Free(m->name);
  Mem_Free(m->replacement);
  m->nameHash = hash;
  m->name = nameCopy;
  m->replacement = textCopy;
  return 1;
}

uint32_t Text_Id(const char* key) {
  return key ? Name_Hash(key, 1, 1) : 0;
}

char* Text_Get(const char* key, uint32_t index, char* buffer, size_t size) {
  if (!key) return nullptr;
  return Text_GetById(Text_Id(key), index, buffer, size);
}

char* Text_GetById(uint32_t id, uint32_t index, char* buffer, size_t size) {
  if (!buffer || size == 0) return nullptr;
  const char* text = "!!!TRANSLATION MISSING!!!";
  if (g_text) {
    text = g_text->missing;
    TextFind find = {id, index};
    const TextEntry* e = id ? (const TextEntry*)List_ForEach(g_text->entries, Text_MatchEntry, &find)
                            : nullptr;
    if (e) text = e->text;
  }
  snprintf(buffer, size, "%s", text);
  return buffer;
}

uint32_t Text_CountById(uint32_t id) {
  const TextCount* slot = g_text && id ? Text_CountSlot(g_text->counts, g_text->countCapacity, id) : nullptr;
  return slot && slot->keyHash ? slot->count : 0;
}
