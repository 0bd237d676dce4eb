#include "tests/wine/host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/digest.h"

PluginExports Plugin;
HMODULE PluginModule;

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

}  // namespace

std::string SharedDir() { return Env("TAVKO_SHARED_DIR", "Z:/work/shared"); }
std::string SamplesDir() { return Env("TAVKO_SAMPLES_DIR", "samples"); }
std::string TempDir() {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  return path;
}

Decoded HostDecodeMemory(std::vector<uint8_t>* image, int stopAtRow) {
  return CaptureDecode(Plugin.getPicture, reinterpret_cast<char*>(image->data()), static_cast<int32_t>(image->size()),
                       1, stopAtRow);
}

Decoded HostDecodeFile(const std::string& path, int32_t offset, int stopAtRow) {
  return CaptureDecode(Plugin.getPicture, const_cast<char*>(path.c_str()), offset, 0, stopAtRow);
}

int main(int argc, char** argv) {
  std::string why;
  std::string path = Env("TAVKO_SPI", "");
  if (!LoadPluginExports(path, &Plugin, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  PluginModule = GetModuleHandleA("TAVKO.SPI");
  // --digest FILE: write the digest of every decode instead of testing.
  if (argc == 3 && std::strcmp(argv[1], "--digest") == 0)
    return WriteDigests(Plugin, SharedDir(), SamplesDir(), Env("TAVKO_SEEDS_DIR", "seeds"), argv[2]) ? 0 : 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
