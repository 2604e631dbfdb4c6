// Fuzzes the ".lws" text parser: any bytes as a scene text, parsed and then
// checked as the loader will walk it, then played at a few times.
#include "engine/scenedata.h"
#include "engine/scenetext.h"
#include "fuzz_files.h"
#include "scene_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    void* file = File_Open("fuzz.lws", "r");
    if (!file) return 0;
    Scene scene{};
    int version = 0;
    if (SceneText_ReadVersion(file, &version) && SceneText_Parse(&scene, file, version)) {
        fuzz::CheckScene(&scene);
        SceneData_Free(&scene);
    } else {
        fuzz::Require(scene.items == nullptr && scene.itemNames == nullptr && scene.bones == nullptr);
    }
    File_Close(file);
    return 0;
}
