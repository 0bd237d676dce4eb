// The Windows build loads TAVKO.SPI and looks its exports up by name, as an
// image viewer does.
#include "tools/exports.h"

namespace {

template <typename Function>
bool Find(HMODULE module, const char* name, Function* function, std::string* why) {
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*function == nullptr) *why = std::string("the plug-in has no export ") + name;
  return *function != nullptr;
}

std::string BesideProgram() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, n < MAX_PATH ? n : 0);
  size_t slash = text.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : text.substr(0, slash + 1)) + kPluginFileName;
}

}  // namespace

bool LoadPluginExports(const std::string& pluginPath, PluginExports* exports, std::string* why) {
  std::string path = pluginPath.empty() ? BesideProgram() : pluginPath;
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *why = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  exports->getPictureInfoW = nullptr;
  exports->getPictureW = nullptr;
#if defined(_WIN64)
  if (!Find(module, "GetPictureInfoW", &exports->getPictureInfoW, why) ||
      !Find(module, "GetPictureW", &exports->getPictureW, why))
    return false;
#endif
  return Find(module, "GetPluginInfo", &exports->getPluginInfo, why) &&
         Find(module, "IsSupported", &exports->isSupported, why) &&
         Find(module, "GetPictureInfo", &exports->getPictureInfo, why) &&
         Find(module, "GetPicture", &exports->getPicture, why) &&
         Find(module, "GetPreview", &exports->getPreview, why) &&
         Find(module, "ConfigurationDlg", &exports->configurationDlg, why);
}
