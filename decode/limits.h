// Bounds shared by the loading and decoding code.
#pragma once

#include <cstdint>

// The largest block a 32-bit process can be asked for; every size is worked
// out in 64 bits and compared with this before anything is allocated.
const uint64_t kMaxBlockBytes = 0x7FFFFFFFu;
