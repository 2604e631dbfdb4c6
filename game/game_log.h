// The game's log: one line per refusal of bad data ("Frog.cfg: EntityType0 = 40
// sets no type bit"), written to standard error. Loaders of outside data log
// what they cut or refuse so that a designer can find the key; nothing here
// stops the game. Tests install a sink to read the lines.
#pragma once

// A sink receives each formatted line without its newline.
typedef void (*GameLogSink)(const char* line);

// Formats one line (cut to 1023 characters) and hands it to the sink, or to
// standard error when no sink is installed.
void GameLog_Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Installs a sink; null restores standard error.
void GameLog_SetSink(GameLogSink sink);
