// The row conversions, wide paths included, against plain reference loops
// for every width up to a few groups of pixels and every alignment.
#include <gtest/gtest.h>

#include <vector>

#include "decode/rows.h"

namespace {

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

// The plain loops, and the wide instructions this processor has.
const QvxCpu kPaths[] = {{false, false, false}, QvxDetectCpu()};

TEST(Rows, ConversionsMatchTheReferenceLoops) {
  for (const QvxCpu& cpu : kPaths)
  for (uint64_t width = 0; width <= 70; ++width) {
    for (size_t shift : {0, 1, 3}) {
      std::vector<uint8_t> in = Noise(4 * width + 64, static_cast<uint32_t>(width * 7 + shift));
      const uint8_t* src = in.data() + shift;
      std::vector<uint8_t> out(4 * width + 64, 0xEE), want(out.size(), 0xEE);

      Convert32To24(src, out.data() + shift, width, cpu);
      for (uint64_t x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) want[shift + 3 * x + c] = src[4 * x + c];
      ASSERT_EQ(out, want) << "32 to 24, width " << width << " shift " << shift;

      std::fill(out.begin(), out.end(), 0xEE);
      std::fill(want.begin(), want.end(), 0xEE);
      Convert555To24(src, out.data() + shift, width, cpu);
      for (uint64_t x = 0; x < width; ++x) {
        uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
        for (int c = 0; c < 3; ++c) {
          uint32_t f = (v >> (5 * c)) & 31;
          want[shift + 3 * x + c] = static_cast<uint8_t>((f << 3) | (f >> 2));
        }
      }
      ASSERT_EQ(out, want) << "555 to 24, width " << width << " shift " << shift;

      std::fill(out.begin(), out.end(), 0xEE);
      std::fill(want.begin(), want.end(), 0xEE);
      Expand2To4(src, out.data() + shift, width, cpu);  // width source bytes here
      for (uint64_t i = 0; i < width; ++i) {
        uint8_t b = src[i];
        want[shift + 2 * i] = static_cast<uint8_t>(((b & 0xC0) >> 2) | ((b & 0x30) >> 4));
        want[shift + 2 * i + 1] = static_cast<uint8_t>(((b & 0x0C) << 2) | (b & 0x03));
      }
      ASSERT_EQ(out, want) << "2 to 4, " << width << " bytes, shift " << shift;
    }
  }
}

TEST(Rows, BitFifteenScanSeesEveryPixelAndNoPadding) {
  for (const QvxCpu& cpu : kPaths)
  for (uint64_t width = 1; width <= 40; ++width) {
    uint64_t count = (2 * width + 3) / 4 * 4;
    for (uint64_t marked = 0; marked <= count / 2; ++marked) {
      std::vector<uint8_t> row(count, 0x7F), out(count, 0);
      bool inPixels = marked < width;
      if (marked < count / 2) row[2 * marked + 1] = 0x80;  // may fall in the padding
      bool found = CopyRowScan16(row.data(), out.data(), count, width, cpu);
      ASSERT_EQ(found, inPixels && marked < count / 2) << "width " << width << " pixel " << marked;
      ASSERT_EQ(ScanRow16(row.data(), width, cpu), found) << "width " << width << " pixel " << marked;
      ASSERT_EQ(out, row);
    }
  }
}

}  // namespace
