// Configuration compiler: turns the text form of a configuration into the
// compiled records the game reads.
//
// Text form, one statement a line (blanks and a carriage return around names
// and values are trimmed):
//   # comment, // comment          whole-line comments; blank lines are skipped
//   name = value                   a key with its value (the value may be empty)
//   name                           a key without a value
//   name {      or   name = {      opens a group: a key whose value is "{"
//   }                              closes the innermost group
// Keys inside a group lie one level deeper than the group. Names must not
// contain "::" (the path separator of lookups) and must not be empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CfgcError {
  int line;             // 1-based line of the fault
  std::string message;  // what is wrong
};

// Compiles text into out (replaced). On a fault returns 0 with error filled
// and out empty.
int Cfgc_Compile(const char* text, size_t length, std::vector<uint8_t>* out, CfgcError* error);

// Appends one record: name, hash, value and depth in the compiled layout.
void Cfgc_AppendRecord(std::vector<uint8_t>* out, const char* name, const char* value,
                       uint32_t depth);

// The whole tool: reads the source file, compiles it and writes the result
// to output (through a temporary file, so a failure leaves no partial or
// empty output behind). 0 with message set, as the user reads it, when the
// source is a folder or cannot be read, holds a fault ("SOURCE:LINE: ..."),
// holds no key at all (the game opens an empty compiled file as missing),
// or the output cannot be written.
int Cfgc_CompileFile(const std::string& source, const std::string& output, std::string* message);

// The data-relative path of the compiled file of a source name as the game
// passes it ("FrontEnd\FrontEnd.cfg" -> "Cache/01/0562ecda.cfb").
std::string Cfgc_OutputPath(const char* sourceName);
