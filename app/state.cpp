#include "app/state.h"

#include "app/hooks.h"
#include "app/mainview.h"
#include "app/shell.h"
#include "common/assert.h"
#include "common/list.h"

namespace {

enum : uint32_t {
    STATE_PUSHED = 1,    // first tick after a push (or the first state)
    STATE_RETURNED = 2,  // first tick after a child popped
    STATE_POP = 4,       // pop at once (a resume said so)
};

struct StateModule {
    List* pool;
    GameState* current;
    uint32_t flags;
    float clock;
};

StateModule g_state = {};

void DrawInsideMainView(StateCallback draw, GameState* state)
{
    MainView_SetUpdating(1);
    draw(state);
    MainView_SetUpdating(0);
}

}  // namespace

int State_Init(void)
{
    if (!g_state.pool) g_state.pool = List_Create(sizeof(GameState), 8);
    g_state.current = nullptr;
    g_state.flags = 0;
    g_state.clock = 0.0f;
    return g_state.pool != nullptr;
}

GameState* State_Create(void)
{
    if (!g_state.pool) return nullptr;
    GameState* state = (GameState*)List_Alloc(g_state.pool);
    if (state && !g_state.current) {
        g_state.current = state;
        g_state.flags = STATE_PUSHED;
        state->keepNodes = 0;
    }
    return state;
}

// The setters: one field of a record of State_Create.
template <typename T>
void SetField(GameState* state, T GameState::*field, T value)
{
    HELM_ASSERT(state);
    state->*field = value;
}

void State_SetUpdate(GameState* state, StateUpdateFn update) { SetField(state, &GameState::update, update); }
void State_SetRender(GameState* state, StateCallback render) { SetField(state, &GameState::render, render); }
void State_SetPreUpdate(GameState* state, StateUpdateFn preUpdate) { SetField(state, &GameState::preUpdate, preUpdate); }
void State_SetAuxCallback(GameState* state, StateAuxFn aux) { SetField(state, &GameState::aux, aux); }
void State_SetDestroy(GameState* state, StateCallback destroy) { SetField(state, &GameState::destroy, destroy); }
void State_SetUserData(GameState* state, uintptr_t userData) { SetField(state, &GameState::userData, userData); }

int State_Update(float dt)
{
    g_state.clock += dt;
    GameState* s = g_state.current;
    if (!s) return 0;
    const AppHooks* hooks = AppHooks_Get();
    s->frameTime = (g_state.flags & (STATE_PUSHED | STATE_RETURNED)) ? 0.0f : dt;
    if (g_state.flags & STATE_PUSHED) {
        g_state.flags &= ~STATE_PUSHED;
    } else if (g_state.flags & STATE_RETURNED) {
        if (s->resume && s->resume(s, s->resumeArgument) == 0) g_state.flags |= STATE_POP;
        s->resumeArgument = 0;
        g_state.flags &= ~STATE_RETURNED;
    }
    if (s->load) {
        StateCallback load = s->load;
        MainView_SetUpdating(1);
        load(s);
        s->load = nullptr;
        MainView_SetUpdating(0);
        MainView_Show();
    }
    if (s->enter) {
        StateCallback enter = s->enter;
        enter(s);
        s->enter = nullptr;
        App_ResetFrameClock();
        if (!s->keepNodes && hooks->nodeRefreshAttachments) hooks->nodeRefreshAttachments(nullptr);
    }
    GameState* next = s;
    if (g_state.flags & STATE_POP) {
        g_state.flags &= ~STATE_POP;
        next = nullptr;
    } else {
        if (s->preUpdate) next = s->preUpdate(s, s->frameTime);
        if (next == s) next = s->update ? s->update(s, s->frameTime) : nullptr;
        if (next == s) {
            if (s->render) {
                DrawInsideMainView(s->render, s);
                if (hooks->sprite3dClearQueue) hooks->sprite3dClearQueue();
                if (hooks->billboardResetCounts) hooks->billboardResetCounts();
            }
            return 1;
        }
    }
    if (next) {
        next->previous = s;
        g_state.current = next;
        g_state.flags |= STATE_PUSHED;
        return 1;
    }
    GameState* parent = s->previous;
    State_Destroy(s);
    g_state.current = parent;
    g_state.flags |= STATE_RETURNED;
    return parent ? 1 : 0;
}

void State_Destroy(GameState* state)
{
    if (!state) return;
    if (state->destroy && !state->enter) state->destroy(state);
    const AppHooks* hooks = AppHooks_Get();
    if (hooks->nodeCompactNames) hooks->nodeCompactNames();
    if (g_state.pool) List_Free(g_state.pool, state);
}

void State_RenderPrevious(GameState* state)
{
    if (state && state->previous && state->previous->render) state->previous->render(state->previous);
}

float State_GetFrameTime(void) { return g_state.current ? g_state.current->frameTime : 0.0f; }

float State_GetClock(void) { return g_state.clock; }

GameState* State_GetCurrent(void) { return g_state.current; }

void State_Reset(void)
{
    if (g_state.pool) List_Destroy(g_state.pool);
    g_state = StateModule{};
}
