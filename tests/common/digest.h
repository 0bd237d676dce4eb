// A digest of what the plug-in answers for every test picture, written the
// same way by the Linux build and by the Windows build under Wine, so the
// two can be compared line for line.
#pragma once

#include <string>

#include "tools/exports.h"

// Pictures: the BMP Suite corpus (encoded where it can be), the samples (from
// their files and from memory) and the fuzzers' seed pictures.
bool WriteDigests(const PluginExports& plugin, const std::string& corpusDir, const std::string& samplesDir,
                  const std::string& seedsDir, const char* outPath);
