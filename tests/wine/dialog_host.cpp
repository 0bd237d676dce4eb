// A small viewer-like host for the configuration dialog tests. It loads
// TAVKO.SPI, opens the dialog from a window of its own, and reports on
// stdout what it sees, so a script driving the dialog with keys can check it:
//   dialog_host.exe CODE [PICTURE16 PICTURE32]
// An observer thread prints the dialog's box states each time they change
// ("boxes=16:1 32:0 mmx:0 mmx-enabled:1"); after the dialog closes the host
// prints "result=N" and the depths GetPictureInfo reports for the pictures.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/exports.h"

namespace {

const char kCaption[] = "TAVKO configuration";
volatile LONG done = 0;

// Asks a control of the dialog, without waiting on a dialog that is closing.
bool Ask(HWND dialog, int id, UINT message, int* answer) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(GetDlgItem(dialog, id), message, 0, 0, SMTO_ABORTIFHUNG, 500, &result)) return false;
  *answer = static_cast<int>(result);
  return true;
}

DWORD WINAPI Observe(LPVOID) {
  std::string last;
  while (!done) {
    HWND dialog = FindWindowA(nullptr, kCaption);
    int box16, box32, mmx;
    if (dialog && IsWindowVisible(dialog) && Ask(dialog, 111, BM_GETCHECK, &box16) &&
        Ask(dialog, 112, BM_GETCHECK, &box32) && Ask(dialog, 113, BM_GETCHECK, &mmx) && !done) {
      char line[128];
      std::snprintf(line, sizeof line, "boxes=16:%d 32:%d mmx:%d mmx-enabled:%d", box16, box32, mmx,
                    IsWindowEnabled(GetDlgItem(dialog, 113)) ? 1 : 0);
      if (line != last) {
        std::printf("%s\n", line);
        std::fflush(stdout);
        last = line;
      }
    }
    Sleep(100);
  }
  return 0;
}

int Depth(const PluginExports& plugin, const char* path) {
  PictureInfo info{};
  ResultCode result = plugin.getPictureInfo(const_cast<char*>(path), 0, 0, &info);
  return result == kResultSuccess ? info.bitDepth : -result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_host CODE [PICTURE16 PICTURE32]\n");
    return 2;
  }
  PluginExports plugin;
  std::string why;
  if (!LoadPluginExports("", &plugin, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  HWND owner = CreateWindowExA(0, "STATIC", "TAVKO test viewer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  HANDLE observer = CreateThread(nullptr, 0, Observe, nullptr, 0, nullptr);
  if (argc >= 4) std::printf("before 16=%d 32=%d\n", Depth(plugin, argv[2]), Depth(plugin, argv[3]));
  std::printf("opening code=%d\n", std::atoi(argv[1]));
  std::fflush(stdout);
  ResultCode result = plugin.configurationDlg(owner, std::atoi(argv[1]));
  InterlockedExchange(&done, 1);
  WaitForSingleObject(observer, 5000);
  std::printf("result=%d window-left=%d\n", result, FindWindowA(nullptr, kCaption) ? 1 : 0);
  if (argc >= 4) std::printf("after 16=%d 32=%d\n", Depth(plugin, argv[2]), Depth(plugin, argv[3]));
  std::fflush(stdout);
  DestroyWindow(owner);
  return 0;
}
