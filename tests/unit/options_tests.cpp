// The output depth table and byte complementing.
#include "unit/helpers.h"

namespace {

class Options : public PluginTest {};

TEST_F(Options, DepthTableFollowsTheOptions) {
  struct Case {
    int keep16, keep32, at16, at32;
  } cases[] = {{0, 0, 24, 24}, {1, 0, 16, 24}, {0, 1, 24, 32}, {5, 7, 16, 32}};
  for (const Case& c : cases) {
    SetOptions(c.keep16, c.keep32, 0);
    EXPECT_EQ(OutputDepthTable[16], c.at16);
    EXPECT_EQ(OutputDepthTable[32], c.at32);
    for (uint32_t bits = 0; bits < 40; ++bits) {
      int32_t expected = bits == 1 ? 1 : bits == 2 || bits == 4 ? 4 : bits == 8 ? 8
                         : bits == 16 ? c.at16 : bits == 24 ? 24 : bits == 32 ? c.at32 : 0;
      EXPECT_EQ(OutputDepthFor(bits), expected) << bits;
    }
  }
  EXPECT_EQ(OutputDepthFor(0xFFFF), 0);
}

TEST_F(Options, BothInversionPathsAgree) {
  std::vector<uint8_t> original(4096 + 13);
  for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<uint8_t>(i * 7 + 3);
  for (int32_t count : {-5, 0, 1, 7, 8, 9, 13, 16, 100, 4096 + 13}) {
    for (int offset : {0, 1, 3}) {
      for (int mmx : {0, 1}) {
        std::vector<uint8_t> bytes = original;
        int32_t n = count > 0 ? count - offset : count;
        EXPECT_EQ(InvertBytes(bytes.data() + offset, n, mmx), n);
        for (size_t i = 0; i < bytes.size(); ++i) {
          bool inside = n > 0 && i >= static_cast<size_t>(offset) &&
                        i < static_cast<size_t>(offset + n);
          ASSERT_EQ(bytes[i], inside ? static_cast<uint8_t>(~original[i]) : original[i])
              << "count " << n << " mmx " << mmx << " at " << i;
        }
        InvertBytes(bytes.data() + offset, n, mmx);
        EXPECT_EQ(bytes, original) << "inverting twice restores";
      }
    }
  }
}

TEST_F(Options, MmxIsFoundOnThisProcessor) {
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_EQ(DetectMmx(), 1);
#else
  EXPECT_EQ(DetectMmx(), 0);
#endif
}

TEST_F(Options, MmxWantedWithoutTheProcessorTakesTheBytePath) {
  PluginSettings.useMmx = 1;
  PluginSettings.cpuHasMmx = 0;
  EXPECT_FALSE(PluginOptions().useMmx);
  PluginSettings.cpuHasMmx = 1;
  EXPECT_TRUE(PluginOptions().useMmx);
}

}  // namespace
