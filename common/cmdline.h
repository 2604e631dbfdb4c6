// Command-line option readers over a token array (String_Tokenise output;
// entries may be null where an earlier reader removed an option).
//
// Options are "-name" tokens, names compared without regard to case. Each
// reader takes pairs of (name, output pointer) ended by a null name. Options
// that are absent leave their outputs untouched, so callers preset defaults.
// With `remove` set, an option and its value are nulled in the array as they
// are read, so later readers do not see them. `count` must not exceed the
// number of entries the array holds.
//
// Two argument orders are offered: (count, tokens, remove, pairs...) and
// (tokens, count, pairs...), the latter never removing.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Switches, outputs `uint32_t*`: "-name" followed by nothing, by another
// option or by a removed entry sets 1; followed by TRUE/YES/ON sets 1, by
// FALSE/NO/OFF sets 0, by any other word (a number too) leaves the output.
void CmdLine_GetBools(int count, char** tokens, int remove, ...);
void CmdLine_GetBools(char** tokens, int count, ...);

// Integers, outputs `int32_t*`: the token after "-name" read as by atoi
// (letters give 0), whatever it starts with.
void CmdLine_GetInts(int count, char** tokens, int remove, ...);
void CmdLine_GetInts(char** tokens, int count, ...);

// One integer option whose values are checked (nothing is removed): every
// token after a "-name" must be a whole decimal number (digits after an
// optional sign) from `least` to `most`. 1 when each is (the last one in
// *out) or the option is absent (*out untouched); otherwise 0 with *out
// untouched and the first refused value named in `why` (size bytes), with
// the option as typed:
// `-Width: "abc" is not a number`, `-Height 100000 is above the limit of
// 8192`, `-Width 0 is below the limit of 1`.
int CmdLine_GetIntInRange(int count, char** tokens, const char* name, int32_t least, int32_t most, int32_t* out,
                          char* why, size_t size);

// Strings, outputs `char**`: the token after "-name" itself (it points into
// the token buffer; nothing is copied).
void CmdLine_GetStrings(int count, char** tokens, int remove, ...);
void CmdLine_GetStrings(char** tokens, int count, ...);
