// Module start-up and the configuration dialog's rules.
#include "settings/settings.h"

HINSTANCE ModuleInstance = nullptr;

namespace {
const DWORD kProcessAttach = 1;
}

BOOL AttachModule(HINSTANCE instance, DWORD reason) {
  ModuleInstance = instance;
  if (reason == kProcessAttach) {
    LoadSettings();
    DetectProcessor();
  }
  return 1;
}

void InitialBoxStates(const PluginSettingsState& settings, int checked[kSettingsBoxCount],
                      int* mmxEnabled) {
  checked[0] = settings.keep16 == 1;
  checked[1] = settings.keep32 == 1;
  checked[2] = settings.useMmx == 1;
  *mmxEnabled = settings.cpuHasMmx != 0;
}

void ApplyBoxStates(const int states[kSettingsBoxCount], PluginSettingsState* settings) {
  int32_t* flags[kSettingsBoxCount] = {&settings->keep16, &settings->keep32, &settings->useMmx};
  for (int i = 0; i < kSettingsBoxCount; ++i)
    if (states[i] == 0 || states[i] == 1) *flags[i] = states[i];
}
