// Localised text tables: lines "KEY=text" of the current language, looked up
// by the key's name hash and a duplicate index (the n-th line with that key).
// Lines whose key starts with "<" define macros, replaced in the texts of the
// lines after them. A missing text reads "!!!TRANSLATION MISSING!!!".
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int TEXT_MAX = 1023;                // characters of a line or a text
constexpr size_t TEXT_BUFFER_SIZE = TEXT_MAX + 1;

// Language numbers as the shell reports them: 0 English, 2 German, 3 French,
// 4 Spanish, 5 Italian; anything else reads English.
typedef int (*TextLanguageQuery)(void);

// Creates the tables once (a second call does nothing); 0 on failure.
int Text_Init(void);
// Frees every entry, every macro and the tables.
void Text_Shutdown(void);

// Where Text_Load asks for the language; null restores "always English".
void Text_SetLanguageQuery(TextLanguageQuery query);

// Parses "<folder>\PC\<language>_PC.txt", then "<folder>\<language>.txt"
// (English when forceEnglish). Adds to what is loaded: nothing is cleared.
void Text_Load(const char* folder, int forceEnglish);
// Adds the entries and macros of one data file read as text; a missing file
// adds nothing. A line longer than 1023 characters keeps its first 1023; the
// rest up to its line feed is skipped, never read as a line of its own. One
// trailing carriage return is dropped.
void Text_ParseFile(const char* path);
// Defines a macro or replaces its text (found by Name_Hash(name, 1, 0)).
// Returns 0 when memory ran out.
int Text_SetMacro(const char* name, const char* replacement);

// Name_Hash(key, 1, 1); 0 for null.
uint32_t Text_Id(const char* key);
// Copies the text (or the missing-text default) into buffer, cut to size - 1
// characters, and returns buffer; null when key or buffer is null. Texts
// are at most 1023 characters, so 1024 bytes always hold them.
char* Text_Get(const char* key, uint32_t index, char* buffer, size_t size = TEXT_BUFFER_SIZE);
char* Text_GetById(uint32_t id, uint32_t index, char* buffer, size_t size = TEXT_BUFFER_SIZE);
// Number of entries with that id.
uint32_t Text_CountById(uint32_t id);
