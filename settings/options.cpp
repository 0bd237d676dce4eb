// The option state and the output depth rule.
#include "settings/options.h"

PluginSettingsState PluginSettings = {0, 0, 0, 0};
QvxCpu PluginCpu = {false, false, false};

// Entries 16 and 32 start as they are with every option clear, so the table
// is right even before any settings have been read.
int32_t OutputDepthTable[kDepthTableSize] = {
    0, 1, 4, 0, 4, 0, 0, 0, 8,            // 0..8
    0, 0, 0, 0, 0, 0, 0, 24,              // 9..16
    0, 0, 0, 0, 0, 0, 0, 24,              // 17..24
    0, 0, 0, 0, 0, 0, 0, 24,              // 25..32
};

namespace {

// A 32-bit process cannot be given a block of 2 GiB or more; a 64-bit one
// is limited only by what LocalAlloc finds.
#if defined(_WIN64)
const uint64_t kMaxBlockBytes = UINT64_MAX;
#else
const uint64_t kMaxBlockBytes = 0x7FFFFFFFu;
#endif

}  // namespace

void UpdateOutputDepths() {
  OutputDepthTable[16] = PluginSettings.keep16 ? 16 : 24;
  OutputDepthTable[32] = PluginSettings.keep32 ? 32 : 24;
}

int32_t OutputDepthFor(uint32_t bits) {
  return bits < static_cast<uint32_t>(kDepthTableSize) ? OutputDepthTable[bits] : 0;
}

void DetectProcessor() {
  PluginCpu = QvxDetectCpu();
  if (PluginCpu.mmx) PluginSettings.cpuHasMmx = 1;
}

QvxOptions PluginOptions() {
  QvxOptions options = {};
  // The table decides the delivered depths; the flags follow it.
  options.keep16 = OutputDepthTable[16] == 16;
  options.keep32 = OutputDepthTable[32] == 32;
  options.useMmx = PluginSettings.useMmx != 0 && PluginSettings.cpuHasMmx != 0;
  options.cpu = PluginCpu;
  options.maxBlockBytes = kMaxBlockBytes;
  return options;
}
