// The Windows services the plug-in calls. The Windows build takes them from
// <windows.h>; the Linux build takes them from the stand-in beside this file.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/standin.h"
#endif
