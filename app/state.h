// The state stack: every mode of the game (start menu, options, front end,
// level, save screens) is a state record, and the modes form a stack. The
// shell ticks it once per frame (State_Update); a tick runs the current
// state's callbacks in a fixed order, performs at most one push or one pop,
// and reports whether any state is left. An empty stack ends the program.
//
// A tick of the current state S:
//   1. the clock advances; frameTime is 0 on the first tick after S was
//      pushed or returned to, else dt;
//   2. after a return, S.resume(S, resumeArgument) runs; 0 pops S at once;
//   3. S.load (once) inside the main view's update, then a present;
//   4. S.enter (once), then the frame clock restarts and the nodes refresh
//      unless S.keepNodes;
//   5. preUpdate, then update (each returns S to stay, another record to push
//      it, null to pop); staying renders S inside the main view's update.
// Records live in a pool for the process: a record created but never pushed
// stays there; a popped one goes back to it after its destroy callback (run
// only when enter has run). Main thread only.
#pragma once

#include <cstdint>

struct GameState;

typedef void (*StateCallback)(GameState* state);
typedef GameState* (*StateUpdateFn)(GameState* state, float frameTime);
typedef uint32_t (*StateResumeFn)(GameState* state, uint32_t argument);
typedef void (*StateAuxFn)(void);

struct GameState {
    float frameTime;          // seconds given to this tick's preUpdate and update
    StateCallback enter;      // run once on the first tick, then cleared
    StateResumeFn resume;     // run on the first tick after a child popped; 0 pops this state too
    StateUpdateFn update;
    StateCallback render;     // inside the main view's update
    StateUpdateFn preUpdate;
    StateAuxFn aux;           // kept for the owner; the stack never calls it
    StateCallback destroy;    // on pop, only when enter has run
    StateCallback load;       // once, before enter, inside the main view's update, then presented
    GameState* previous;      // the parent (set on push)
    uint32_t resumeArgument;  // passed to resume, then cleared
    uintptr_t userData;       // the owner's word
    uint32_t keepNodes;       // non-zero: no node refresh after enter
};

// Creates the record pool; no current state; clock 0. 0 on failure.
int State_Init(void);
// A zeroed record from the pool; when no state is current it becomes the
// current one (pushed, keepNodes 0). Null when memory runs out.
GameState* State_Create(void);
// The setters take a record of State_Create (never null).
void State_SetUpdate(GameState* state, StateUpdateFn update);
void State_SetRender(GameState* state, StateCallback render);
void State_SetPreUpdate(GameState* state, StateUpdateFn preUpdate);
void State_SetAuxCallback(GameState* state, StateAuxFn aux);
void State_SetDestroy(GameState* state, StateCallback destroy);
void State_SetUserData(GameState* state, uintptr_t userData);
// One tick; 1 while a state is current afterwards, 0 when the stack is empty.
int State_Update(float dt);
// Runs destroy (when enter has run), compacts the node names and gives the
// record back to the pool.
void State_Destroy(GameState* state);
// Calls the parent's render callback (an overlay draws what lies under it);
// nothing without a parent or its render callback.
void State_RenderPrevious(GameState* state);
// The current state's frameTime; 0 without a current state.
float State_GetFrameTime(void);
// Seconds given to State_Update since State_Init.
float State_GetClock(void);
// The current state, or null.
GameState* State_GetCurrent(void);
// Drops the pool and every record (shut-down and tests); the stack is empty.
void State_Reset(void);
