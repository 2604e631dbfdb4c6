// Path translation: the one place where data names become real paths.
//
// Stands in for the case-insensitive Windows file system. Data names use
// backslashes and any letter case ("DATA\Cache\01\0562ECDA.cfb"); the disk
// holds "data/cache/01/0562ecda.cfb". Every part of a name that exists is
// matched without regard to case (an exact match wins when two entries differ
// only in case); the first part that does not exist and everything behind it
// keep the caller's spelling, so new files land inside the existing folders.
//
// Directory listings are cached. The file operations of sysfile.h report what
// the program creates, renames and removes, so a new file is found at once;
// a change made by another process is picked up when a lookup misses and the
// folder's modification time shows that it changed.
//
// Only the operating-system boundary calls this module: names are hashed and
// compared before translation, never after. Main thread only.
#pragma once

#include <cstddef>

// Translates `name` into `out` (size bytes with the terminator). "\" and "/"
// both separate; "X:\", ":\" or "\" in front means the working folder (the
// root of the game disc); a leading "/" keeps the name absolute; "." and ".."
// pass through. `exists`, when given, is set to 1 when every part was found.
// Returns 1, or 0 for a null or empty name or a result that does not fit
// (out then holds "").
int Path_Resolve(const char* name, char* out, size_t size, int* exists = nullptr);

// Cache upkeep, called with real paths (Path_Resolve results) after the
// change succeeded on disk.
void Path_NoteCreated(const char* realPath);
void Path_NoteRemoved(const char* realPath);
void Path_NoteRenamed(const char* fromRealPath, const char* toRealPath);

// Drops every cached listing (they are read again on demand). Call at
// shut-down and after changing the working folder.
void Path_Shutdown();
