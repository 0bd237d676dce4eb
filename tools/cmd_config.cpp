// tavko config: the plug-in's own configuration dialog (Windows build).
#include <CLI/CLI.hpp>

#include "tools/command.h"

#ifdef _WIN32
#include <windows.h>
#endif

int RunConfig(int argc, char** argv) {
  CLI::App app;
  int status;
  if (!ParseCommand(&app, argc, argv, kConfigUsage, &status)) return status;
  std::string why;
  if (!OpenDecoder(DecoderOptions(), &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return kExitFailed;
  }
#ifdef _WIN32
  // Without a display no window opens and the dialog would return at once.
  HWND probe = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) {
    std::fprintf(stderr, "tavko: cannot open the configuration dialog: no display to show it on\n");
    return kExitFailed;
  }
  DestroyWindow(probe);
#endif
  DecodeResult result = ConfigureDecoder();
  if (result == kDecodeNotProvided) {
    std::fprintf(stderr,
                 "tavko: the configuration dialog is part of the Windows plug-in only; here decode takes "
                 "--keep16 and --keep32\n");
    return kExitFailed;
  }
  if (result != kDecodeOk) {
    std::fprintf(stderr, "tavko: configuration: %s\n", ResultText(result));
    return kExitFailed;
  }
  return kExitOk;
}
