#include "game/viewports.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "app/sound.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/billboard.h"
#include "engine/font.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/scene.h"
#include "engine/sprite.h"
#include "engine/view.h"
#include "game/game_context.h"
#include "gfx/core/im3d.h"
#include "gfx/core/renderstate.h"

namespace {

constexpr float kViewFov = 0.55f;
constexpr int kLineCapacity = 256;  // lines per batch
constexpr int32_t kZTestState = 6;  // the engine's render state of the depth test
constexpr int32_t kLineList = 1;

// Rectangles by viewport count: 1 whole, 2 stacked, 3 the quarters but the
// last, 4 the quarters.
constexpr float kRects[4][4][4] = {
    {{0, 0, 1, 1}},
    {{0, 0, 1, 0.5f}, {0, 0.5f, 1, 0.5f}},
    {{0, 0, 0.5f, 0.5f}, {0.5f, 0, 0.5f, 0.5f}, {0, 0.5f, 0.5f, 0.5f}},
    {{0, 0, 0.5f, 0.5f}, {0.5f, 0, 0.5f, 0.5f}, {0, 0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.5f}},
};

struct LineBatch {
    Im3DVertex vertices[kLineCapacity * 2];
    uint32_t count;  // vertices
};

struct Viewports {
    LineBatch lines[2];  // depth-tested, not depth-tested
};

Viewports g_viewports;

LevelSession& Session() { return *Level_GetSession(); }

LevelViewport* ViewportOf(int player)
{
    int v;
    return Player_GetViewportIndex(player, &v) ? &Session().viewports[v] : nullptr;
}

// A text stays whole inside its viewport: one wider or taller than the
// viewport is made smaller until it fits, then it is moved in from any edge
// it crosses (a score near the right edge, a floating text flying past it).
// width is its measured width at t's size.
void KeepInside(Font* font, const float* rect, ScreenText* t, float width)
{
    const float left = rect[0] * 640.0f, top = rect[1] * 480.0f;
    const float right = left + rect[2] * 640.0f, bottom = top + rect[3] * 480.0f;
    const float height = Font_GetHeight(font);
    const float box[4] = {t->x, t->y - height, t->x + width, t->y};
    memcpy(t->box, box, sizeof box);
    if (!(right > left && bottom > top)) return;  // a viewport not placed yet
    const float fit = std::min(width > right - left ? (right - left) / width : 1.0f,
                               height > bottom - top ? (bottom - top) / height : 1.0f);
    if (fit < 1.0f) {
        t->size *= fit;
        width *= fit;
        Font_SetSize(font, t->size);
    }
    const float descent = Font_GetDescent(font), ascent = Font_GetHeight(font) - descent;
    t->x = std::clamp(t->x, left, std::max(left, right - width));
    // The base line's own row of pixels is drawn: it stays above the edge.
    t->y = std::clamp(t->y, top + ascent, std::max(top + ascent, bottom - std::max(descent, 1.0f)));
    const float placed[4] = {t->x, t->y - ascent, t->x + width, t->y + descent};
    memcpy(t->box, placed, sizeof placed);
}

// The level player whose viewport is v, or -1.
int PlayerOf(int v)
{
    for (int p = 0; p < GAME_LEVEL_PLAYERS; p++) {
        int index;
        if (Player_GetViewportIndex(p, &index) && index == v) return p;
    }
    return -1;
}

View* MakeView(const float* rect, float nearClip, float farClip, uint32_t fogType, uint32_t fogColour,
               float fogDistance, float fogDensity)
{
    View* view = View_CreateFractional(rect[0], rect[1], rect[2], rect[3], nearClip, farClip);
    if (!view) return nullptr;
    Game_ApplyAspectRatio(view);
    View_SetFov(view, kViewFov);
    View_UpdateFov(view);
    View_SetFog(view, fogType, fogColour, fogDistance, fogDensity);
    return view;
}

void SetFov(View* view, float fov)
{
    View_SetFov(view, fov);
    View_UpdateFov(view);
}

void DrawBatch(LineBatch& batch)
{
    if (batch.count == 0) return;
    if (Im3D_Transform(batch.vertices, batch.count, nullptr, 0)) {
        Im3D_RenderPrimitive(kLineList);
        Im3D_End();
    }
    batch.count = 0;
}

}  // namespace

int Level_GetViewportRect(int count, int v, float* rect)
{
    if (count < 1 || count > LEVEL_VIEWPORTS || v < 0 || v >= count) return 0;
    memcpy(rect, kRects[count - 1][v], sizeof kRects[0][0]);
    return 1;
}

int Level_SetupViewports(uint32_t fogType, uint32_t fogColour, float fogDistance, float fogDensity)
{
    LevelSession& s = Session();
    for (uint32_t v = 0; v < s.numViewports && v < LEVEL_VIEWPORTS; v++) {
        LevelViewport& vp = s.viewports[v];
        vp.backDomeView = MakeView(vp.rect, s.backDome.nearClip, s.backDome.farClip, fogType, fogColour, fogDistance,
                                   fogDensity);
        vp.worldView = MakeView(vp.rect, s.worldNearClip, s.worldFarClip, fogType, fogColour, fogDistance, fogDensity);
        vp.hudView = MakeView(vp.rect, s.worldNearClip, s.worldFarClip, fogType, fogColour, fogDistance, fogDensity);
        vp.cameraFrame = Node_Create(ObjectWorld_GetRootNode());
        vp.hudFrame = Node_Create(nullptr);
        if (!vp.backDomeView || !vp.worldView || !vp.hudView || !vp.cameraFrame || !vp.hudFrame) {
            Level_FreeViewports();
            return 0;
        }
        // Lines are drawn in the world: only the world view flushes them.
        View_SetRenderCallback(vp.worldView, Viewport_RenderCallback, nullptr);
        Sound_SetListener(vp.cameraFrame, (int)v);
    }
    return 1;
}

void Level_FreeViewports(void)
{
    LevelSession& s = Session();
    for (int v = 0; v < LEVEL_VIEWPORTS; v++) {
        LevelViewport& vp = s.viewports[v];
        View_DestroyRef(&vp.backDomeView);
        View_DestroyRef(&vp.worldView);
        View_DestroyRef(&vp.hudView);
        if (vp.cameraFrame) Sound_SetListener(nullptr, v);
        Node_DestroyRef(&vp.cameraFrame);
        Node_DestroyRef(&vp.hudFrame);
        for (ScreenText& t : vp.texts) {
            Mem_Free(t.text);
            t = ScreenText{};
        }
        vp.hasTexts = 0;
    }
}

void Level_FreeBackDome(void)
{
    BackDome& d = Session().backDome;
    Scene_Release(d.scene);
    d.scene = nullptr;
    Node_DestroyRef(&d.sceneNode);
    Node_DestroyRef(&d.camRelNode);
    Node_DestroyRef(&d.rootNode);
    d.pathHash = 0;
}

void Level_LoadBackDome(const char* path, int fog)
{
    BackDome& d = Session().backDome;
    const uint32_t hash = path && path[0] ? Name_Hash(path, 0, 1) : 0;
    if (hash == 0 || hash != d.pathHash) {
        Level_FreeBackDome();
        if (hash != 0) {
            d.rootNode = Node_Create(nullptr);
            d.camRelNode = d.rootNode ? Node_Create(d.rootNode) : nullptr;
            d.sceneNode = d.camRelNode ? Node_Create(d.camRelNode) : nullptr;
            const int meshFog = Mesh_GetFog();
            Mesh_SetFog(fog);
            d.scene = d.sceneNode ? Scene_Load(path, d.sceneNode, 0, nullptr) : nullptr;
            Mesh_SetFog(meshFog);
            if (d.scene)
                d.pathHash = hash;
            else
                Level_FreeBackDome();
        }
    }
    if (d.sceneNode) {
        Node_SetPosition(d.sceneNode, &d.posOffset);
        Node_Scale(d.sceneNode, &d.scaleOffset, 0);
    }
}

void Level_UpdateViewports(void)
{
    LevelSession& s = Session();
    if (s.numViewports == 3 && s.fillerSprite) {
        const float quarter[4] = {320.0f, 240.0f, 320.0f, 240.0f};
        Sprite_Draw(s.fillerSprite, 0, nullptr, quarter);
    }
    for (int v = 0; v < (int)s.numViewports && v < LEVEL_VIEWPORTS; v++) {
        LevelViewport& vp = s.viewports[v];
        if (!vp.worldView || !vp.cameraFrame) continue;
        const int p = PlayerOf(v);
        const LevelPlayer* player = p >= 0 ? &s.players[p] : nullptr;
        if (s.viewportCallback) s.viewportCallback(v);

        View_Clear(vp.backDomeView, 1, 1);
        BackDome& d = s.backDome;
        if (d.scene) {
            Vec3 at, up, position;
            Node_GetWorldOrientation(vp.cameraFrame, &at, &up);
            Node_SetOrientation(d.camRelNode, &at, &up);
            if (d.camRel) {
                Node_GetWorldPosition(vp.cameraFrame, &position);
                Node_SetPosition(d.rootNode, &position);
            }
            SetFov(vp.backDomeView, player ? player->backDomeFov : kViewFov);
            View_Render(vp.backDomeView, d.rootNode, vp.cameraFrame);
        }

        if (s.worldZBufferClear) View_Clear(vp.worldView, 0, 1);
        SetFov(vp.worldView, player ? player->worldFov : kViewFov);
        Billboard_SetActive(1);
        // The level's tree, seen from the viewport's camera frame (which a
        // chase camera moves); a player's render hook runs after it, so an
        // entity with a hook still sees the world.
        if (Node* root = ObjectWorld_GetRootNode()) View_Render(vp.worldView, root, vp.cameraFrame);
        if (player && player->renderHook) player->renderHook(s.playerEntities[p]);
        Billboard_SetActive(0);

        View_Clear(vp.hudView, 0, 1);
        SetFov(vp.hudView, player ? player->hudFov : kViewFov);
        View_Render(vp.hudView, vp.hudFrame, vp.hudFrame);
        Level_DrawScreenTexts(v);
    }
}

// ---- accessors ----

View* Viewport_GetWorldView(int player)
{
    LevelViewport* vp = ViewportOf(player);
    return vp ? vp->worldView : nullptr;
}

View* Viewport_GetBackDomeView(int player)
{
    LevelViewport* vp = ViewportOf(player);
    return vp ? vp->backDomeView : nullptr;
}

View* Viewport_GetHudView(int player)
{
    LevelViewport* vp = ViewportOf(player);
    return vp ? vp->hudView : nullptr;
}

Node* Viewport_GetCameraFrame(int player)
{
    LevelViewport* vp = ViewportOf(player);
    return vp ? vp->cameraFrame : nullptr;
}

Node* Viewport_GetFirstCameraFrame(void)
{
    for (int p = 0; p < GAME_LEVEL_PLAYERS; ++p) {
        int viewport = -1;
        if (Player_GetViewportIndex(p, &viewport) && viewport == 0) return Viewport_GetCameraFrame(p);
    }
    return nullptr;
}

Node* Viewport_GetHudFrame(int player)
{
    LevelViewport* vp = ViewportOf(player);
    return vp ? vp->hudFrame : nullptr;
}

void Viewport_LookFrom(int player, Node* camera)
{
    Node* frame = Viewport_GetCameraFrame(player);
    if (!frame || !camera) return;
    Vec3 position, at, up;
    Node_GetWorldPosition(camera, &position);
    Node_GetWorldOrientation(camera, &at, &up);
    Node_SetWorldPosition(frame, &position);
    Node_SetWorldOrientation(frame, &at, &up);
}

void Viewport_SetWorldView(int player, View* view)
{
    if (LevelViewport* vp = ViewportOf(player)) vp->worldView = view;
}

void Viewport_SetBackDomeView(int player, View* view)
{
    if (LevelViewport* vp = ViewportOf(player)) vp->backDomeView = view;
}

void Viewport_SetHudView(int player, View* view)
{
    if (LevelViewport* vp = ViewportOf(player)) vp->hudView = view;
}

void Viewport_SetCameraFrame(int player, Node* node)
{
    if (LevelViewport* vp = ViewportOf(player)) vp->cameraFrame = node;
}

void Viewport_SetHudFrame(int player, Node* node)
{
    if (LevelViewport* vp = ViewportOf(player)) vp->hudFrame = node;
}

int Viewport_GetRect(int viewport, float* rect)
{
    if (viewport < 0 || viewport >= LEVEL_VIEWPORTS) return 0;
    memcpy(rect, Session().viewports[viewport].rect, sizeof Session().viewports[0].rect);
    return 1;
}

void Viewport_SetRect(int viewport, const float* rect)
{
    if (viewport >= 0 && viewport < LEVEL_VIEWPORTS)
        memcpy(Session().viewports[viewport].rect, rect, sizeof Session().viewports[0].rect);
}

// ---- screen texts ----

int Level_AddScreenText(Font* font, int viewport, int slot, const char* text, const Vec2* position, float size,
                        const uint32_t* colour, int centred)
{
    if (!font || !text || !position || viewport < 0 || viewport >= LEVEL_VIEWPORTS || slot < 0 ||
        slot >= LEVEL_SCREEN_TEXTS)
        return 0;
    LevelViewport& vp = Session().viewports[viewport];
    ScreenText& t = vp.texts[slot];
    if (!t.text) t.text = (char*)Mem_Alloc(LEVEL_SCREEN_TEXT_MAX, 8);
    if (!t.text) return 0;
    size_t n = strnlen(text, LEVEL_SCREEN_TEXT_MAX - 1);
    memcpy(t.text, text, n);
    t.text[n] = 0;
    t.size = size;
    t.colour = colour ? *colour : 0xFFFFFFFFu;
    t.x = (vp.rect[0] + vp.rect[2] * position->x) * 640.0f;
    t.y = (vp.rect[1] + vp.rect[3] * position->y) * 480.0f;
    Font_SetSize(font, size);
    const float width = Font_MeasureF(font, "%s", t.text);
    if (centred) t.x -= width * 0.5f;
    KeepInside(font, vp.rect, &t, width);
    t.font = font;
    vp.hasTexts = 1;
    return 1;
}

int Level_GetScreenTextBox(int viewport, int slot, float* box)
{
    if (viewport < 0 || viewport >= LEVEL_VIEWPORTS || slot < 0 || slot >= LEVEL_SCREEN_TEXTS) return 0;
    const ScreenText& t = Session().viewports[viewport].texts[slot];
    if (!t.font || !t.text || !t.text[0]) return 0;
    memcpy(box, t.box, sizeof t.box);
    return 1;
}

int Level_ScreenTextClearance(int viewport, int slot, const int* others, int count, float* y)
{
    float box[4], other[4];
    if (!Level_GetScreenTextBox(viewport, slot, box)) return 0;
    LevelViewport& vp = Session().viewports[viewport];
    const float top = vp.rect[1] * 480.0f, bottom = top + vp.rect[3] * 480.0f, gap = 2.0f;
    if (!(bottom > top)) return 0;
    // Clear at shift dy: inside the viewport and off every other box.
    auto clear = [&](float dy) {
        if (box[1] + dy < top || box[3] + dy > bottom) return false;
        float b[4];
        for (int i = 0; i < count; i++)
            if (others[i] != slot && Level_GetScreenTextBox(viewport, others[i], b) && box[0] < b[2] && b[0] < box[2] &&
                box[1] + dy < b[3] + gap && b[1] < box[3] + dy + gap)
                return false;
        return true;
    };
    if (clear(0.0f)) return 0;
    // The smallest clear shift puts the box just below or just above one of the others.
    float best = 0.0f;
    bool found = false;
    for (int i = 0; i < count; i++) {
        if (others[i] == slot || !Level_GetScreenTextBox(viewport, others[i], other)) continue;
        for (const float dy : {other[3] + gap - box[1], other[1] - gap - box[3]})
            if ((!found || std::fabs(dy) < std::fabs(best)) && clear(dy)) {
                best = dy;
                found = true;
            }
    }
    if (!found) return 0;
    // The text moves there whole, base line and box (it stays inside, so it is not moved in again).
    ScreenText& t = vp.texts[slot];
    t.y += best;
    t.box[1] += best;
    t.box[3] += best;
    *y = (t.y / 480.0f - vp.rect[1]) / vp.rect[3];
    return 1;
}

void Level_DrawScreenTexts(int viewport)
{
    if (viewport < 0 || viewport >= LEVEL_VIEWPORTS) return;
    LevelSession& s = Session();
    if (s.blankSprite) {
        const float corner[4] = {0.0f, 0.0f, 10.0f, 10.0f};
        Sprite_Draw(s.blankSprite, 0, nullptr, corner);
    }
    LevelViewport& vp = s.viewports[viewport];
    if (!vp.hasTexts) return;
    for (ScreenText& t : vp.texts) {
        if (!t.font || !t.text) continue;
        const uint8_t rgba[4] = {(uint8_t)(t.colour >> 16), (uint8_t)(t.colour >> 8), (uint8_t)t.colour,
                                 (uint8_t)(t.colour >> 24)};
        Font_SetColour(t.font, rgba);
        Font_SetSize(t.font, t.size);
        Font_Printf(t.font, t.x, t.y, "%s", t.text);
        t.font = nullptr;  // gone unless added again
    }
    vp.hasTexts = 0;
}

// ---- line batches ----

void Viewport_RenderCallback(View*, Node*, void*) { EntityEffects_FlushLines(); }

int EntityEffects_AddLine(const Vec3* from, const Vec3* to, uint32_t colour, int depthTested)
{
    LineBatch& batch = g_viewports.lines[depthTested ? 0 : 1];
    if (batch.count + 2 > kLineCapacity * 2) return 0;
    for (const Vec3* p : {from, to}) {
        Im3DVertex& v = batch.vertices[batch.count++];
        v = Im3DVertex{};
        v.x = p->x;
        v.y = p->y;
        v.z = p->z;
        v.colour = colour;
    }
    return 1;
}

void EntityEffects_FlushLines(void)
{
    DrawBatch(g_viewports.lines[0]);
    if (g_viewports.lines[1].count == 0) return;
    RenderState_Set(kZTestState, (void*)(uintptr_t)0);
    DrawBatch(g_viewports.lines[1]);
    RenderState_Set(kZTestState, (void*)(uintptr_t)1);
}
