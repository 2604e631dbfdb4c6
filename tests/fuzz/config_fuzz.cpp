// Fuzzes the compiled configuration reader: any bytes as a .cfb file.
#include "app/config.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  ConfigSys_Init();
  ConfigNode* cfg = Config_Load("fuzz.cfb");
  for (ConfigNode* n = cfg; n; n = n->next) {
    // Look every name up again, and walk its children and siblings.
    float v[3];
    uint8_t rgba[4];
    Config_GetVector3(cfg, n->name, v);
    Config_GetColourBytes(n, n->name, rgba);
    Config_SetSection(cfg, n->name);
    Config_GetValue(cfg, n->value);
    Config_SetSection(cfg, nullptr);
    for (ConfigNode* c = Config_FirstChild(cfg, n->name); c; c = Config_NextSibling(c)) {
    }
  }
  Config_Close(cfg);
  ConfigSys_Shutdown();
  return 0;
}
