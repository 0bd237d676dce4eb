// Persistence of the user's options, the library's attach routine and the
// rules of the configuration dialog.
#pragma once

#include "settings/options.h"
// Windows services: the real ones, or the tests' stand-in on Linux.
#ifdef _WIN32
#include <windows.h>
#else
#include "standin/standin.h"
#endif

// Where the options live under HKEY_CURRENT_USER.
extern const char kSettingsKey[];

// The loaded module, needed to find the dialog template.
extern HINSTANCE ModuleInstance;

// Reads the stored options into PluginSettings (a key that did not exist
// yet is created and read nothing), then updates OutputDepthTable.
void LoadSettings();

// Writes the three options, then updates OutputDepthTable.
void SaveSettings();

// The work of the library entry: records the instance and, at process
// attach, loads the options and probes the processor. Always returns 1.
BOOL AttachModule(HINSTANCE instance, DWORD reason);

// Shows the modal configuration dialog owned by parentWindow; true when it
// was closed by "Done" (its only way out), false when it failed to appear.
bool RunSettingsDialog(HWND parentWindow);

// Dialog rules. Boxes, in order: keep16, keep32, useMmx.
const int kSettingsBoxCount = 3;

// Which boxes start checked (a flag of exactly 1) and whether the MMX box
// can be used (only on a processor with MMX).
void InitialBoxStates(const PluginSettingsState& settings, int checked[kSettingsBoxCount],
                      int* mmxEnabled);

// Stores the check states read at "Done": 1 sets a flag, 0 clears it, any
// other state (indeterminate) leaves it as it was.
void ApplyBoxStates(const int states[kSettingsBoxCount], PluginSettingsState* settings);
