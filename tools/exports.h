// The plug-in's six exports as a host reaches them: linked in directly in
// the Linux build, or loaded from TAVKO.SPI with LoadLibraryA in the
// Windows build.
#pragma once

#include <string>

#include "plugin/spi.h"

// The plug-in's file: TAVKO.SPH for 64-bit programs, TAVKO.SPI otherwise.
#if defined(_WIN64)
const char kPluginFileName[] = "TAVKO.SPH";
#else
const char kPluginFileName[] = "TAVKO.SPI";
#endif

struct PluginExports {
  int(WINAPI* getPluginInfo)(int, char*, int);
  int(WINAPI* isSupported)(char*, ULONG_PTR);
  ResultCode(WINAPI* getPictureInfo)(char*, LONG_PTR, uint32_t, PictureInfo*);
  ResultCode(WINAPI* getPicture)(char*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback,
                                 LONG_PTR);
  ResultCode(WINAPI* getPreview)(char*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback,
                                 LONG_PTR);
  ResultCode(WINAPI* configurationDlg)(HWND, int32_t);  // null where there is no dialog
  // The 64-bit module's wide entries for file names; null elsewhere.
  ResultCode(WINAPI* getPictureInfoW)(const wchar_t*, LONG_PTR, uint32_t, PictureInfo*);
  ResultCode(WINAPI* getPictureW)(const wchar_t*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback, LONG_PTR);
};

// Reaches the exports. pluginPath names the DLL (Windows build; empty means
// TAVKO.SPI beside the program) and is not used in the Linux build. Returns
// false with a reason when the plug-in cannot be loaded.
bool LoadPluginExports(const std::string& pluginPath, PluginExports* exports, std::string* why);
