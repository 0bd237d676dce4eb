// The work of the picture entries once their input is open, shared by the
// ANSI entries and the wide ones of the 64-bit module. Each closes input.
#pragma once

#include "plugin/source.h"

ResultCode PictureInfoOf(HostSource* input, PictureInfo* pictureInfo);
ResultCode PictureOf(HostSource* input, HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut, ProgressCallback progress,
                     LONG_PTR userData);
