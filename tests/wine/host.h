// The Windows test host: loads TAVKO.SPI and reaches its exports by name.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/capture.h"
#include "common/files.h"
#include "tools/exports.h"

extern PluginExports Plugin;
extern HMODULE PluginModule;

// Folders given by the test runner (Windows paths).
std::string CorpusDir();
std::string SamplesDir();
std::string TempDir();

// Stores the options as the dialog does ({keep16, keep32, useMmx}; null
// removes them) and loads the DLL afresh, so its attach routine reads them.
void ReloadPlugin(const int* options);

// Decodes through the DLL from memory or from a file, recording progress;
// copies and frees the blocks handed out on success, checking that they
// came unlocked.
Decoded HostDecodeMemory(std::vector<uint8_t>* image, int stopAtRow = -1);
Decoded HostDecodeFile(const std::string& path, int32_t offset, int stopAtRow = -1);

// Bytes to place at an offset of a file.
struct FilePiece {
  uint64_t offset;
  std::vector<uint8_t> bytes;
};

// Makes path a file of size bytes holding pieces; what they leave out is a
// hole that reads as zeros, so a file of many gigabytes costs no disk.
bool WriteSparseFile(const std::string& path, uint64_t size, const std::vector<FilePiece>& pieces);
