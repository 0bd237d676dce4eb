// What every fuzz target checks after each call; a broken rule aborts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugin/spi.h"

// Aborts with a message when ok is false.
void Require(bool ok, const char* what);

// Sets the three options and brings the depth table into step.
void SetFuzzOptions(int keep16, int keep32, int useMmx);

// Decodes through GetPicture (from memory, or from the file when path is
// not null) and checks: the result is a known code; the memory image is
// unchanged; nothing is left held except the two blocks handed out with 0,
// which are unlocked and exactly as large as their header implies; and
// progress saw rows 0, 1, 2, ... of |height| in order.
void CheckedDecode(std::vector<uint8_t>* image, const char* path, int32_t offset);
