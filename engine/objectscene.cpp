#include "engine/objectscene.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "engine/node.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/scene.h"

namespace {

constexpr int kPathMax = 1024;

struct ObjectSceneModule {
    Node* current;  // the item being turned into an object, during a walk
    ObjectSceneCreateHook createHook;
    ObjectSceneLoadHook afterLoadHook;
};
ObjectSceneModule g_scene;

// The walk's nodes, gathered first: objects made during the walk hang
// elsewhere, but a hook may reach into the scene's tree.
struct NodeList {
    Node** nodes;
    int count;
    int capacity;
};

int Gather(Node* node, void* arg)
{
    NodeList* list = static_cast<NodeList*>(arg);
    if (list->count == list->capacity) {
        int capacity = list->capacity ? list->capacity * 2 : 64;
        Node** grown = static_cast<Node**>(Mem_Realloc(list->nodes, 8, sizeof(Node*) * size_t(capacity)));
        if (Mem_GetSize(grown) < sizeof(Node*) * size_t(capacity)) return 0;
        list->nodes = grown;
        list->capacity = capacity;
    }
    list->nodes[list->count++] = node;
    return 0;
}

void ItemStep(Node* item, const char* folder, List* pool)
{
    g_scene.current = item;
    Node_UpdateWorld(item);
    if ((item->flags >> 24) > 1) return;
    const char* name = Node_GetNameText(item);
    if (!name || !name[0]) return;
    char base[kPathMax];
    ObjectScene_BaseName(name, base, sizeof base);
    if (g_scene.createHook && g_scene.createHook(item, base)) return;
    char path[kPathMax * 2 + 8];
    snprintf(path, sizeof path, "%s\\%s.cfg", folder, base);
    Object* o = ObjectTemplate_Load(path, nullptr, pool, 0);
    Node_SetObject(item, o);
}

}  // namespace

void ObjectScene_BaseName(const char* name, char* out, int size)
{
    if (!out || size < 1) return;
    out[0] = 0;
    if (!name) return;
    int length = int(strlen(name));
    int cut = -1;
    for (int i = length - 3; i > 0; --i) {
        if (name[i] == '_') {
            cut = i;
            break;
        }
    }
    if (cut < 0) cut = length;  // no usable underscore: the name is its own base name
    if (cut > size - 1) cut = size - 1;
    memcpy(out, name, size_t(cut));
    out[cut] = 0;
}

int ObjectScene_Load(const char* scenePath, const char* folderText, List* pool)
{
    if (!scenePath) return 0;
    // The caller's folder stays as it is; a trailing back-slash is dropped
    // from a copy.
    char folder[kPathMax];
    snprintf(folder, sizeof folder, "%s", folderText ? folderText : "");
    size_t n = strlen(folder);
    if (n && folder[n - 1] == '\\') folder[n - 1] = 0;

    Node* root = Node_Create(nullptr);
    if (!root) return 0;
    Scene* scene = Scene_Load(scenePath, root, SCENE_NODES_ONLY, nullptr);
    if (scene) {
        if (g_scene.afterLoadHook) g_scene.afterLoadHook(root, nullptr);
        NodeList list{};
        Node_ForAll(root, Gather, &list);
        for (int i = 0; i < list.count; ++i) ItemStep(list.nodes[i], folder, pool);
        Mem_Free(list.nodes);
        g_scene.current = nullptr;
        Scene_Release(scene);
    }
    Node_Destroy(root);
    return 0;
}

void ObjectScene_SetCreateHook(ObjectSceneCreateHook hook) { g_scene.createHook = hook; }

void ObjectScene_SetAfterLoadHook(ObjectSceneLoadHook hook) { g_scene.afterLoadHook = hook; }

Node* ObjectScene_GetCurrentItemNode(void) { return g_scene.current; }

void Object_PlaceAtItemNode(Object* object)
{
    if (!object) return;
    Node* item = g_scene.current;
    if (item && object->node) {
        Vec3 p, at, up;
        Node_GetWorldPosition(item, &p);
        Node_GetWorldOrientation(item, &at, &up);
        Node_SetWorldOrientation(object->node, &at, &up);
        Node_SetWorldPosition(object->node, &p);
    }
    Object_Sync(object, OBJECT_SYNC_ALL);
}
