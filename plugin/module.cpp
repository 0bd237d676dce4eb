// The module's entry from the loader and the configuration export
// (Windows build only); the work is the settings code's.
#include "plugin/spi.h"
#include "settings/settings.h"

extern "C" ResultCode WINAPI ConfigurationDlg(HWND parentWindow, int32_t functionCode) {
  if (functionCode != 1) return kResultNotProvided;
  if (RunSettingsDialog(parentWindow)) SaveSettings();
  return kResultSuccess;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  return AttachModule(instance, reason);
}
