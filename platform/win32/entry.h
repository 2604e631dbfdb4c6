// Process entry: stands in for the Windows start-up, which hands the program
// its command line as one string. The POSIX main() builds that string from
// argv with this function and passes it to the shell's entry.
#pragma once

#include <cstddef>

// Joins argv[1..argc-1] with single blanks into `out` (size bytes with the
// terminator; the text is cut to fit). An argument that contains white space
// or is empty is put in double quotes, so the shell's tokeniser gives it back
// as one token (-Launch "Level One"). Returns the length of the whole text
// without the terminator, so a caller can size its buffer.
size_t Entry_BuildCommandLine(int argc, const char* const* argv, char* out, size_t size);

// Ends every service SDL runs for the stand-ins (video, audio, controllers,
// events), as the process's last act: the display connection is closed and
// what the system libraries behind it hold is given back.
void Entry_Shutdown();
