#include "engine/view.h"

#include <cmath>

#include "engine/node.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"

namespace {

struct ViewModule {
    World* world;
};

ViewModule g_view;

constexpr float VIRTUAL_WIDTH = 640.0f;
constexpr float VIRTUAL_HEIGHT = 480.0f;
constexpr float MIN_DEPTH = 1e-6f;

}  // namespace

World* View_GetWorld(void) { return g_view.world; }

void View_SetWorld(World* world) { g_view.world = world; }

void View_ProjectPoint(const View* view, Node* cameraNode, Node* node, Vec3* out, const Vec3* offset)
{
    Vec3 local = offset ? *offset : Vec3{0, 0, 0};
    if (local.z == 0.0f) local.z = 0.1f;
    Mat4 world;
    Node_GetWorldMatrix(node, &world);
    Vec3 point;
    Mat4_TransformPoint(&point, &local, &world);

    Mat4 eye;
    if (cameraNode) {
        Node_GetWorldMatrix(cameraNode, &eye);
    } else {
        const Matrix* m = Frame_GetWorldMatrix(view->frame);
        const Vec3* rows[4] = {&m->right, &m->up, &m->at, &m->pos};
        Mat4_Identity(&eye);
        for (int r = 0; r < 4; r++) eye.m[r][0] = rows[r]->x, eye.m[r][1] = rows[r]->y, eye.m[r][2] = rows[r]->z;
    }
    Mat4 inverse;
    Mat4_InvertAffine(&inverse, &eye);
    Vec3 v;
    Mat4_TransformPoint(&v, &point, &inverse);

    const Camera* camera = view->camera;
    const float depth = std::fabs(v.z) < MIN_DEPTH ? (v.z < 0 ? -MIN_DEPTH : MIN_DEPTH) : v.z;
    // The camera's own screen mapping: x grows along -right / window.x (so a
    // normal view with a negative window x puts +right on the right), y
    // grows downwards; the view offset shifts the centre.
    const float a = -0.5f * camera->recipViewWindow.x, b = -0.5f * camera->recipViewWindow.y;
    out->x = VIRTUAL_WIDTH * (0.5f + a * (v.x / depth - camera->viewOffset.x));
    out->y = VIRTUAL_HEIGHT * (0.5f + b * (v.y / depth + camera->viewOffset.y));
    out->z = v.z;
}
