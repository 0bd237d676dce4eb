// Module-wide decoding state: the user's options, the processor's MMX
// support, and the delivered depth for each source depth.
#pragma once

#include <cstdint>

// Flags count as set when nonzero.
struct PluginSettingsState {
  int32_t keep16;     // deliver 16-bit pictures as 16-bit bit-field bitmaps
  int32_t keep32;     // deliver 32-bit pictures as 32-bit bit-field bitmaps
  int32_t useMmx;     // let InvertBytes use MMX
  int32_t cpuHasMmx;  // the processor runs MMX; found at attach, never stored
};
extern PluginSettingsState PluginSettings;

// Bits per pixel delivered for each source depth 0..32; 0 = unsupported.
const int kDepthTableSize = 33;
extern int32_t OutputDepthTable[kDepthTableSize];

// Brings entries 16 and 32 into step with keep16 and keep32.
void UpdateOutputDepths();

// The table entry for a source depth; 0 for depths past the table's end.
int32_t OutputDepthFor(uint32_t bits);

// 1 when the processor executes MMX instructions, else 0.
int DetectMmx();

// Complements count bytes from start in place and returns count. Nothing
// changes for a count of zero or less.
int32_t InvertBytes(uint8_t* start, int32_t count);
