// Decoding options and the output depth rule.
#include "decode/options.h"

PluginSettingsState PluginSettings = {0, 0, 0, 0};

// Entries 16 and 32 start as they are with every option clear, so the table
// is right even before any settings have been read.
int32_t OutputDepthTable[kDepthTableSize] = {
    0, 1, 4, 0, 4, 0, 0, 0, 8,            // 0..8
    0, 0, 0, 0, 0, 0, 0, 24,              // 9..16
    0, 0, 0, 0, 0, 0, 0, 24,              // 17..24
    0, 0, 0, 0, 0, 0, 0, 24,              // 25..32
};

void UpdateOutputDepths() {
  OutputDepthTable[16] = PluginSettings.keep16 ? 16 : 24;
  OutputDepthTable[32] = PluginSettings.keep32 ? 32 : 24;
}

int32_t OutputDepthFor(uint32_t bits) {
  return bits < static_cast<uint32_t>(kDepthTableSize) ? OutputDepthTable[bits] : 0;
}
