// The Windows services the plug-in's front end calls. The Windows build
// takes them from <windows.h>; the Linux test build takes them from the
// tests' stand-in, which counts what is held and can make calls fail.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "standin/standin.h"
#endif
