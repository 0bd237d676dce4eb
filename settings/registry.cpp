// The options in the registry: HKEY_CURRENT_USER\Software\Qe.\tavko with the
// REG_DWORD values "16", "32" and "MMX".
#include <cstring>

#include "settings/settings.h"

const char kSettingsKey[] = "Software\\Qe.\\tavko";

namespace {

struct StoredFlag {
  const char* name;
  int32_t* flag;
};

bool OpenSettingsKey(HKEY* key, DWORD* disposition) {
  char noClass[] = "";
  return RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, noClass, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, key, disposition) == ERROR_SUCCESS;
}

// The values in the order they are read and written.
void StoredFlags(StoredFlag flags[3]) {
  flags[0] = {"16", &PluginSettings.keep16};
  flags[1] = {"32", &PluginSettings.keep32};
  flags[2] = {"MMX", &PluginSettings.useMmx};
}

}  // namespace

void LoadSettings() {
  HKEY key;
  DWORD disposition = 0;
  if (OpenSettingsKey(&key, &disposition)) {
    // A key that was only now created holds nothing to read.
    if (disposition == REG_OPENED_EXISTING_KEY) {
      StoredFlag flags[3];
      StoredFlags(flags);
      for (const StoredFlag& stored : flags) {
        // Whatever the value's type, up to four bytes land in the flag; a
        // missing or unreadable value leaves the flag as it was.
        BYTE data[4];
        DWORD size = sizeof data;
        if (RegQueryValueExA(key, stored.name, nullptr, nullptr, data, &size) == ERROR_SUCCESS &&
            size <= sizeof data)
          std::memcpy(stored.flag, data, size);
      }
    }
    RegCloseKey(key);
  }
  UpdateOutputDepths();
}

void SaveSettings() {
  HKEY key;
  DWORD disposition = 0;
  if (OpenSettingsKey(&key, &disposition)) {
    StoredFlag flags[3];
    StoredFlags(flags);
    for (const StoredFlag& stored : flags) {
      DWORD value = static_cast<DWORD>(*stored.flag);
      RegSetValueExA(key, stored.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
    }
    RegCloseKey(key);
  }
  UpdateOutputDepths();
}
