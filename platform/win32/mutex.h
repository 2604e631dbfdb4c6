// Named process-wide lock: stands in for a Windows named mutex, which the
// shell uses so that only one copy of the program runs.
//
// The lock is an flock() on a file in the run-time folder ($XDG_RUNTIME_DIR,
// or the temporary folder when that is unset), held through a descriptor
// that stays open for the process's life and is not inherited by exec. The
// kernel drops it when the process ends however it ends, so a crashed run
// never blocks the next one; the file's existence means nothing.
#pragma once

enum MutexResult {
    MUTEX_FAILED = -1,  // the lock file can't be opened: run anyway
    MUTEX_EXISTS = 0,   // another holder has it (this process included)
    MUTEX_CREATED = 1,  // this process now holds it
};

// Takes the lock of `name` and keeps it until Mutex_Release or the end of the
// process. One lock per process: while one is held, this returns
// MUTEX_EXISTS for any name.
MutexResult Mutex_CreateNamed(const char* name);

// Gives up the lock this process holds, if any.
void Mutex_Release();

// Test hook: while set, every Mutex_CreateNamed uses this name instead of its
// own, so tests and parallel runs do not block each other. Null clears it.
void Mutex_SetTestName(const char* name);
