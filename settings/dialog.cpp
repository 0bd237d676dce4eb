// The configuration dialog (Windows build only).
#include "settings/dialog_ids.h"
#include "settings/settings.h"

namespace {

const int kBoxIds[kSettingsBoxCount] = {IDC_SETTINGS_KEEP16, IDC_SETTINGS_KEEP32,
                                        IDC_SETTINGS_MMX};
const INT_PTR kClosedByDone = 1;

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    int checked[kSettingsBoxCount];
    int mmxEnabled = 0;
    InitialBoxStates(PluginSettings, checked, &mmxEnabled);
    for (int i = 0; i < kSettingsBoxCount; ++i)
      if (checked[i]) SendDlgItemMessageA(dialog, kBoxIds[i], BM_SETCHECK, 1, 0);
    if (!mmxEnabled) EnableWindow(GetDlgItem(dialog, IDC_SETTINGS_MMX), FALSE);
    return 1;
  }
  // "Done" is the only way out: Escape (IDCANCEL) and Enter (IDOK) are ignored.
  if (message == WM_COMMAND && LOWORD(wParam) == IDC_SETTINGS_DONE) {
    int states[kSettingsBoxCount];
    for (int i = 0; i < kSettingsBoxCount; ++i)
      states[i] = static_cast<int>(SendDlgItemMessageA(dialog, kBoxIds[i], BM_GETCHECK, 0, 0));
    ApplyBoxStates(states, &PluginSettings);
    EndDialog(dialog, kClosedByDone);
    return 1;
  }
  return 0;
}

}  // namespace

bool RunSettingsDialog(HWND parentWindow) {
  return DialogBoxParamA(ModuleInstance, "TAVKOCFG", parentWindow, SettingsDialogProc, 0) == kClosedByDone;
}
