// Calling GetPicture as a host does and keeping what it hands over.
#pragma once

#include <vector>

#include "plugin/spi.h"

struct Decoded {
  ResultCode result = -99;
  std::vector<uint8_t> info;
  std::vector<uint8_t> pixels;
  std::vector<int> progressRows;
  std::vector<int> progressHeights;
  HLOCAL infoHandle = nullptr;
  HLOCAL bitsHandle = nullptr;
};

typedef ResultCode(WINAPI* GetPictureFunction)(char*, LONG_PTR, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback,
                                               LONG_PTR);

// Calls getPicture, recording every progress call and answering nonzero at
// stopAtRow (-1: never). On success the two blocks are checked to come
// unlocked, copied out and freed; the handles stay in the result.
Decoded CaptureDecode(GetPictureFunction getPicture, char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                      int stopAtRow);
