// Fuzzes the scene cache reader: any bytes as an "lsf" file; a scene it
// accepts must hold together as the loader will walk it.
#include "engine/scenecache.h"
#include "engine/scenedata.h"
#include "fuzz_files.h"
#include "scene_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    Scene scene{};
    if (SceneCache_Read(&scene, "Cache\\00\\fuzz.lsf")) {
        fuzz::CheckScene(&scene);
        SceneData_Free(&scene);
    } else {
        fuzz::Require(scene.items == nullptr && scene.itemNames == nullptr && scene.bones == nullptr);
    }
    return 0;
}
