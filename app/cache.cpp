#include "app/cache.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/hash.h"
#include "app/file.h"
#include "app/wad.h"
#include "platform/win32/sysfile.h"

namespace {

struct CacheSystem {
  int hashBits;
};

CacheSystem g_cache = {6};

}  // namespace

void Cache_Init(int hashBits) {
  if (hashBits < 1) hashBits = 1;
  if (hashBits > 16) hashBits = 16;
  g_cache.hashBits = hashBits;
  SysFile_CreateFolder("Data\\Cache");
  // The folders are named exactly as Cache_MakeName spells them (at least two
  // hexadecimal digits), whatever the bit count: one digit per four bits
  // would make "0".."f" for four bits while the names ask for "00".."0f".
  static const char* const platforms[] = {"pc", "ps2", "xbox", "ngc"};
  for (int i = 0; i < (1 << hashBits); i++) {
    char folder[64];
    snprintf(folder, sizeof folder, "Data\\Cache\\%.2x", i);
    SysFile_CreateFolder(folder);
    for (const char* platform : platforms) {
      char sub[96];
      snprintf(sub, sizeof sub, "%s\\%s", folder, platform);
      SysFile_CreateFolder(sub);
    }
  }
}

char* Cache_MakeName(char* out, uint32_t hash, int dataPrefix, const char* extension) {
  uint32_t folder = hash >> (32 - g_cache.hashBits);
  const char* prefix = dataPrefix ? "Data\\" : "";
  if (extension)
    snprintf(out, CACHE_NAME_MAX, "%sCache\\%.2x\\%.8x.%s", prefix, folder, hash, extension);
  else
    snprintf(out, CACHE_NAME_MAX, "%sCache\\%.2x\\%.8x", prefix, folder, hash);
  return out;
}

char* Cache_NameFromSource(char* out, const char* source, int dataPrefix,
                           const char* extensionFormat, ...) {
  uint32_t hash = Name_Hash(source ? source : "", 0, 1);
  if (!extensionFormat) return Cache_MakeName(out, hash, dataPrefix, nullptr);
  char extension[CACHE_NAME_MAX];
  va_list args;
  va_start(args, extensionFormat);
  vsnprintf(extension, sizeof extension, extensionFormat, args);
  va_end(args);
  return Cache_MakeName(out, hash, dataPrefix, extension);
}

int Cache_IsStale(const char* source, const char* cache) {
  if (Wad_IsMounted()) {
    void* f = File_Open(cache, "rb");
    if (!f) f = File_Open(cache, "r");
    if (!f) return 1;
    File_Close(f);
    return 0;
  }
  // File_ResolvePath answers in one static buffer: keep a copy of the first.
  char cachePath[1024];
  snprintf(cachePath, sizeof cachePath, "%s", File_ResolvePath(cache));
  uint64_t cacheTime, sourceTime;
  if (!SysFile_GetWriteTime(cachePath, &cacheTime)) return 1;
  if (!SysFile_GetWriteTime(File_ResolvePath(source), &sourceTime)) return 0;
  return cacheTime < sourceTime;
}
