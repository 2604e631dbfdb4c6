#include "app/state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/hooks.h"

namespace {

std::vector<std::string> g_log;
GameState* g_child = nullptr;
uint32_t g_resumeArgument = 99;

void Log(const std::string& line) { g_log.push_back(line); }
std::string Time(const char* what, float t) { return std::string(what) + " " + std::to_string((int)(t * 1000)); }

void RootLoad(GameState*) { Log("root.load"); }
void RootEnter(GameState*) { Log("root.enter"); }
void RootRender(GameState*) { Log("root.render"); }
void RootDestroy(GameState*) { Log("root.destroy"); }
uint32_t g_resumeResult = 0;  // 0 pops the root in the same tick
uint32_t RootResume(GameState*, uint32_t argument)
{
    g_resumeArgument = argument;
    Log("root.resume");
    return g_resumeResult;
}
GameState* RootUpdate(GameState* s, float t)
{
    Log(Time("root.update", t));
    if (t > 0 && g_child) return g_child;  // the second tick pushes the child
    return s;
}

void ChildEnter(GameState*) { Log("child.enter"); }
void ChildDestroy(GameState*) { Log("child.destroy"); }
bool g_preUpdatePops = false;
GameState* ChildPreUpdate(GameState* s, float t)
{
    Log(Time("child.preUpdate", t));
    return g_preUpdatePops ? nullptr : s;
}
GameState* ChildUpdate(GameState* s, float t)
{
    Log(Time("child.update", t));
    s->previous->resumeArgument = 7;
    return nullptr;  // pop back to the root
}

class StateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        g_child = nullptr;
        g_resumeResult = 0;
        g_preUpdatePops = false;
        AppHooks hooks = {};
        hooks.viewSetMainUpdating = [](int begin) { Log(begin ? "view.begin" : "view.end"); };
        hooks.viewShowRaster = [] { Log("view.show"); };
        hooks.nodeRefreshAttachments = [](Node* root) { Log(root ? "refresh(root)" : "refresh"); };
        hooks.nodeCompactNames = [] { Log("compact"); };
        hooks.sprite3dClearQueue = [] { Log("sprites3d.clear"); };
        hooks.billboardResetCounts = [] { Log("billboards.reset"); };
        AppHooks_Install(&hooks);
        State_Reset();
        ASSERT_EQ(State_Init(), 1);
    }
    void TearDown() override
    {
        State_Reset();
        AppHooks_Install(nullptr);
    }
    std::vector<std::string> Take()
    {
        std::vector<std::string> out;
        out.swap(g_log);
        return out;
    }
};

TEST_F(StateTest, PushPopResumeAndDestroyFollowTheTickOrder)
{
    GameState* root = State_Create();
    ASSERT_TRUE(root && State_GetCurrent() == root);  // the first record created is current
    root->load = RootLoad, root->enter = RootEnter, root->resume = RootResume;
    State_SetUpdate(root, RootUpdate);
    State_SetRender(root, RootRender);
    State_SetDestroy(root, RootDestroy);
    g_child = State_Create();
    ASSERT_TRUE(g_child && State_GetCurrent() == root);  // later records wait to be pushed
    g_child->enter = ChildEnter, g_child->keepNodes = 1;
    State_SetPreUpdate(g_child, ChildPreUpdate);
    State_SetUpdate(g_child, ChildUpdate);
    State_SetDestroy(g_child, ChildDestroy);

    // First tick: load inside the view and shown, enter, then the update
    // with frame time 0 and a render inside the view.
    EXPECT_EQ(State_Update(0.1f), 1);
    EXPECT_EQ(Take(), (std::vector<std::string>{"view.begin", "root.load", "view.end", "view.show", "root.enter",
                                                "refresh", "root.update 0", "view.begin", "root.render", "view.end",
                                                "sprites3d.clear", "billboards.reset"}));
    // Second tick: the update pushes the child; nothing renders.
    EXPECT_TRUE(State_Update(0.1f) == 1 && Take() == std::vector<std::string>{"root.update 100"});
    EXPECT_TRUE(State_GetCurrent() == g_child && g_child->previous == root);
    // Third tick: the child's enter (it keeps its nodes), frame time 0, then
    // its update pops it: destroy after enter, then the names compact.
    EXPECT_EQ(State_Update(0.1f), 1);
    EXPECT_EQ(Take(), (std::vector<std::string>{"child.enter", "child.preUpdate 0", "child.update 0", "child.destroy",
                                                "compact"}));
    EXPECT_EQ(State_GetCurrent(), root);
    // Fourth tick: the root resumes with the argument, which is cleared; its
    // 0 pops the root at once, the last state: the stack is empty.
    EXPECT_EQ(State_Update(0.1f), 0);
    EXPECT_EQ(Take(), (std::vector<std::string>{"root.resume", "root.destroy", "compact"}));
    EXPECT_TRUE(g_resumeArgument == 7 && !State_GetCurrent() && State_GetFrameTime() == 0.0f);
    // The clock keeps counting on an empty stack.
    EXPECT_TRUE(State_Update(0.25f) == 0 && std::fabs(State_GetClock() - 0.65f) < 1e-5f);
    // A child whose pre-update gives none pops without its update; the root, resumed with 1, goes on at time 0.
    g_resumeResult = 1;
    g_preUpdatePops = true;
    root = State_Create();
    root->resume = RootResume;
    State_SetUpdate(root, RootUpdate);
    g_child = State_Create();
    State_SetPreUpdate(g_child, ChildPreUpdate);
    State_SetUpdate(g_child, ChildUpdate);
    State_SetDestroy(g_child, ChildDestroy);
    for (int tick = 0; tick < 4; tick++) EXPECT_EQ(State_Update(0.1f), 1) << tick;
    EXPECT_EQ(Take(), (std::vector<std::string>{"root.update 0", "root.update 100", "child.preUpdate 0",
                                                "child.destroy", "compact", "root.resume", "root.update 0"}));
}

TEST_F(StateTest, DestroyRunsOnlyAfterEnterAStateWithoutUpdatePopsAfterEnterAndAnOverlayDrawsItsParent)
{
    GameState* root = State_Create();
    root->enter = RootEnter;
    State_SetDestroy(root, RootDestroy);
    GameState* never = State_Create();
    never->enter = ChildEnter;
    State_SetDestroy(never, ChildDestroy);
    State_Destroy(never);  // never ticked: its destroy must not run
    EXPECT_EQ(Take(), (std::vector<std::string>{"compact"}));
    // No update callback: popped on its first tick.
    EXPECT_TRUE(State_Update(0.1f) == 0 &&
                Take() == (std::vector<std::string>{"root.enter", "refresh", "root.destroy", "compact"}));
    root = State_Create();
    State_SetRender(root, RootRender);
    GameState* overlay = State_Create();
    overlay->previous = root;
    State_SetRender(overlay, RootRender);  // its own render is not the one drawn
    State_RenderPrevious(overlay);
    State_RenderPrevious(root);  // no parent: nothing
    EXPECT_EQ(Take(), (std::vector<std::string>{"root.render"}));
}

}  // namespace
