// The plug-in's module-wide option state: the user's options, the
// processor's abilities, and the delivered depth for each source depth.
// The decoding core gets all of it as one options value.
#pragma once

#include <cstdint>

#include "decode/qvx.h"

// Flags count as set when nonzero.
struct PluginSettingsState {
  int32_t keep16;     // deliver 16-bit pictures as 16-bit bit-field bitmaps
  int32_t keep32;     // deliver 32-bit pictures as 32-bit bit-field bitmaps
  int32_t useMmx;     // let InvertBytes use MMX
  int32_t cpuHasMmx;  // the processor runs MMX; found at attach, never stored
};
extern PluginSettingsState PluginSettings;

// What the processor offers, found at attach.
extern QvxCpu PluginCpu;

// Bits per pixel delivered for each source depth 0..32; 0 = unsupported.
const int kDepthTableSize = 33;
extern int32_t OutputDepthTable[kDepthTableSize];

// Brings entries 16 and 32 into step with keep16 and keep32.
void UpdateOutputDepths();

// The table entry for a source depth; 0 for depths past the table's end.
int32_t OutputDepthFor(uint32_t bits);

// Asks the processor once: fills PluginCpu and sets cpuHasMmx with MMX.
void DetectProcessor();

// The options value the decoding core works with, from the state above.
QvxOptions PluginOptions();
