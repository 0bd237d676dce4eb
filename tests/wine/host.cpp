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

struct ProgressLog {
  std::vector<int>* rows;
  std::vector<int>* heights;
  int stopAtRow;
};

int WINAPI RecordProgress(int row, int height, LONG_PTR userData) {
  ProgressLog* log = reinterpret_cast<ProgressLog*>(userData);
  log->rows->push_back(row);
  log->heights->push_back(height);
  return row == log->stopAtRow ? 1 : 0;
}

void Collect(HostDecoded* out) {
  if (out->result != kResultSuccess) return;
  EXPECT_EQ(LocalFlags(out->infoHandle) & LMEM_LOCKCOUNT, 0u) << "information block locked";
  EXPECT_EQ(LocalFlags(out->bitsHandle) & LMEM_LOCKCOUNT, 0u) << "pixel block locked";
  const uint8_t* info = static_cast<const uint8_t*>(LocalLock(out->infoHandle));
  out->info.assign(info, info + LocalSize(out->infoHandle));
  LocalUnlock(out->infoHandle);
  const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(out->bitsHandle));
  out->pixels.assign(pixels, pixels + LocalSize(out->bitsHandle));
  LocalUnlock(out->bitsHandle);
  EXPECT_EQ(LocalFree(out->infoHandle), nullptr);
  EXPECT_EQ(LocalFree(out->bitsHandle), nullptr);
}

}  // namespace

std::string SharedDir() { return Env("TAVKO_SHARED_DIR", "Z:/work/shared"); }
std::string SamplesDir() { return Env("TAVKO_SAMPLES_DIR", "samples"); }
std::string TempDir() {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  return path;
}

HostDecoded HostDecodeMemory(std::vector<uint8_t>* image, int stopAtRow) {
  HostDecoded out;
  ProgressLog log{&out.progressRows, &out.progressHeights, stopAtRow};
  out.result = Plugin.getPicture(reinterpret_cast<char*>(image->data()),
                                 static_cast<int32_t>(image->size()), 1, &out.infoHandle,
                                 &out.bitsHandle, RecordProgress, reinterpret_cast<LONG_PTR>(&log));
  Collect(&out);
  return out;
}

HostDecoded HostDecodeFile(const std::string& path, int32_t offset, int stopAtRow) {
  HostDecoded out;
  ProgressLog log{&out.progressRows, &out.progressHeights, stopAtRow};
  out.result = Plugin.getPicture(const_cast<char*>(path.c_str()), offset, 0, &out.infoHandle,
                                 &out.bitsHandle, RecordProgress, reinterpret_cast<LONG_PTR>(&log));
  Collect(&out);
  return out;
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
