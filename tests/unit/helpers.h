// Shared pieces of the native unit tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/capture.h"
#include "common/pictures.h"
#include "settings/options.h"
#include "plugin/spi.h"

// Every test starts with the options clear, no planned failures, and
// nothing held; it ends checking that nothing is still held.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void SetOptions(int keep16, int keep32, int useMmx);
  // Wide row conversions where the processor has them, or plain loops only.
  void SetWideRows(bool wide);
  // A file in a per-test temporary folder.
  std::string TempFile(const std::string& name, const std::vector<uint8_t>& bytes);
  std::string dir_;
};

// Decodes from memory (or from a file when path is not empty), recording the
// progress calls; stopAtRow >= 0 answers nonzero at that row. The blocks
// handed out with result 0 are copied and freed.
Decoded DecodeMemory(std::vector<uint8_t>* image, int stopAtRow = -1);
Decoded DecodeFile(const std::string& path, int32_t offset, int stopAtRow = -1);

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at);
uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at);
