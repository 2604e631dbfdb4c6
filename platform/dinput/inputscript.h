// The script player of scripted runs: reads a script of timed keyboard,
// controller and stick events, plays it into the game through SDL's event
// queue and SDL's virtual controllers (so the input code path is the
// player's own), steps the millisecond clock by a fixed amount once a
// frame, checks named values the game reports, asks for frame captures and
// ends the run with an exit code. Test hook; main thread only.
//
// The script: one command a line; "#" starts a comment (at the start of a
// line or after a blank); blanks separate words, double quotes group words
// into one ("Left Shift"). Times are game seconds (the clock's steps, not
// wall time); keys are SDL key names ("Return", "Escape", "Left", "A").
//
//   controller N          attach N (1..4) virtual game controllers; only
//                         before every other command, since the input
//                         layer counts its controllers once at start-up
//   at T                  wait until the run's time is T
//   after T               wait T after the previous command ran
//   press KEY             the key goes down
//   release KEY           the key goes up
//   tap KEY               down now, up two frames later (so a poll sees it)
//   hold KEY T            down now, up T later
//   button C B on|off     button B of controller C (0-based): 0..10 or a
//                         name (a b x y leftshoulder rightshoulder back
//                         start leftstick rightstick guide)
//   axis C A V            axis A (0..5 or leftx lefty rightx righty
//                         lefttrigger righttrigger) to V (sticks -1..1,
//                         triggers 0..1)
//   wait P OP V [timeout T]   wait until probe P compares true (T default 10)
//   expect P OP V [TOL]   probe P must compare true now (TOL for == and !=)
//   capture NAME          the frame this step presents is saved as NAME
//                         (letters, digits, "_", "-", "."; ".png" added)
//   end                   the run ends with exit code 0 through the
//                         game's normal shut-down; nothing may follow it
//
// Comparisons (OP: == != < <= > >=): a value that reads as 1 to 4 numbers
// separated by commas compares as numbers: == and != within TOL (default
// 0.001; for vectors their distance), < <= > >= plainly and for single
// numbers only. Anything else compares as text, == and != only, exactly. A probe name ending in
// ".x", ".y", ".z" or ".w" that the game does not know is that component
// of the probe named without it ("player.pos.y").
//
// Commands run in order: a tick runs every command that is due, stopping at
// the first that must wait (at, after, a wait whose comparison is false).
#pragma once

#include <cstddef>
#include <cstdint>

struct InputScript;

enum : int32_t {
    INPUTSCRIPT_RUNNING = 0,
    INPUTSCRIPT_ENDED = 1,   // "end" ran: exit code 0
    INPUTSCRIPT_FAILED = 2,  // an expect or wait failed: exit code 3
};

constexpr uint32_t INPUTSCRIPT_DEFAULT_STEP_MS = 20;
constexpr int32_t INPUTSCRIPT_EXIT_BAD_SCRIPT = 2;  // the script can't be read or played
constexpr int32_t INPUTSCRIPT_EXIT_FAILED = 3;      // a check failed
constexpr int32_t INPUTSCRIPT_MAX_CONTROLLERS = 4;
constexpr float INPUTSCRIPT_DEFAULT_TIMEOUT = 10.0f;
constexpr double INPUTSCRIPT_DEFAULT_TOLERANCE = 0.001;

// Asks the game for a named value, written as text into value (size bytes,
// NUL-terminated); 1 when the name is known, 0 otherwise.
typedef int (*InputScriptProbe)(const char* name, char* value, size_t size, void* user);
// Asks for the frame presented at the end of this step to be saved under
// the capture name (without ".png").
typedef void (*InputScriptCapture)(const char* name, void* user);

// Reads a script from text. fileName names it in messages. Null when the
// text holds a fault, with "FILE:LINE: what" in error (errorSize bytes,
// NUL-terminated; may be null): an unknown command or key, a missing or
// extra argument, a value out of range, a controller line after other
// commands or naming more controllers than attached, a command after "end",
// or no "end" at all. The caller destroys the script.
InputScript* InputScript_Parse(const char* text, size_t length, const char* fileName, char* error, size_t errorSize);
// Reads the file and parses it; null with "FILE: ..." when it can't be read.
InputScript* InputScript_Load(const char* path, char* error, size_t errorSize);
// Detaches the controllers Start attached and, when Start made it manual,
// gives the clock back to the system. Null is ignored.
void InputScript_Destroy(InputScript* script);

// Without a probe every wait and expect fails ("no probes in this run").
void InputScript_SetProbe(InputScript* script, InputScriptProbe probe, void* user);
// Without a capture function "capture" lines do nothing.
void InputScript_SetCapture(InputScript* script, InputScriptCapture capture, void* user);

// Before the game starts: attaches the controllers the script asks for and
// makes the millisecond clock manual, stepped by stepMs (1..1000) a tick.
// 0 with error set when a controller can't be attached or the step is out
// of range; nothing is left attached then.
int InputScript_Start(InputScript* script, uint32_t stepMs, char* error, size_t errorSize);
// One step, at the start of every frame of the main loop and of the logo
// and video loops: the clock moves on by the step, keys due up go up, and
// the due commands run. Returns the status afterwards; once ended or
// failed, further ticks do nothing.
int32_t InputScript_Tick(InputScript* script);
// The game ended by itself (its state stack emptied or its window closed):
// that ends the script cleanly when "end" is the next command, and fails
// it otherwise. Returns the status.
int32_t InputScript_GameEnded(InputScript* script);

int32_t InputScript_GetStatus(const InputScript* script);
// The failure as "FILE:LINE: command: what" (empty while none).
const char* InputScript_GetMessage(const InputScript* script);
// Milliseconds of run time (the ticks so far times the step).
uint64_t InputScript_GetTimeMs(const InputScript* script);

// The comparison the script makes: 1 true, 0 false, -1 when the two can't
// be compared with op (why in message when given). op is one of
// "==", "!=", "<", "<=", ">", ">=".
int InputScript_Compare(const char* actual, const char* op, const char* expected, double tolerance, char* message,
                        size_t messageSize);
