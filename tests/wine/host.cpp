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

std::string PluginPath() { return Env("TAVKO_SPI", ""); }

void ReloadPlugin(const int* options) {
  const char* key = "Software\\Qe.\\tavko";
  if (options == nullptr) {
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
  } else {
    HKEY opened;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr),
              ERROR_SUCCESS);
    const char* names[3] = {"16", "32", "MMX"};
    for (int i = 0; i < 3; ++i) {
      DWORD value = static_cast<DWORD>(options[i]);
      RegSetValueExA(opened, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    RegCloseKey(opened);
  }
  FreeLibrary(PluginModule);
  std::string why;
  ASSERT_TRUE(LoadPluginExports(PluginPath(), &Plugin, &why)) << why;
  PluginModule = GetModuleHandleA(kPluginFileName);
}

std::string CorpusDir() { return Env("TAVKO_CORPUS_DIR", "corpus"); }
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

bool WriteSparseFile(const std::string& path, uint64_t size, const std::vector<FilePiece>& pieces) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // NTFS keeps holes only in files marked sparse; Wine's files have them anyway.
  DWORD ignored = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  bool ok = true;
  for (const FilePiece& piece : pieces) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(piece.offset);
    DWORD written = 0;
    ok = ok && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         WriteFile(file, piece.bytes.data(), static_cast<DWORD>(piece.bytes.size()), &written, nullptr) &&
         written == piece.bytes.size();
  }
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  ok = ok && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  return CloseHandle(file) && ok;
}

int main(int argc, char** argv) {
  std::string why;
  if (!LoadPluginExports(PluginPath(), &Plugin, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  PluginModule = GetModuleHandleA(kPluginFileName);
  // --digest FILE: write the digest of every decode instead of testing.
  if (argc == 3 && std::strcmp(argv[1], "--digest") == 0)
    return WriteDigests(Plugin, CorpusDir(), SamplesDir(), Env("TAVKO_SEEDS_DIR", "seeds"), argv[2]) ? 0 : 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
