// Several threads decoding different pictures at once must each get
// exactly what a single thread gets: the entries keep no state between
// calls. Built with ThreadSanitizer too.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "common/capture.h"
#include "common/files.h"
#include "common/pictures.h"
#include "settings/options.h"
#include "plugin/spi.h"
#include "standin/standin.h"

namespace {

uint64_t Fnv(const uint8_t* bytes, size_t n, uint64_t h = 1469598103934665603ull) {
  for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  return h;
}

// Result and a hash of both blocks.
uint64_t DecodeHash(std::vector<uint8_t>* image) {
  HLOCAL info = nullptr, bits = nullptr;
  ResultCode result = GetPicture(reinterpret_cast<char*>(image->data()), static_cast<int32_t>(image->size()), 1,
                                 &info, &bits, nullptr, 0);
  uint64_t h = Fnv(reinterpret_cast<const uint8_t*>(&result), sizeof result);
  if (result == kResultSuccess) {
    h = Fnv(static_cast<uint8_t*>(LocalLock(info)), LocalSize(info), h);
    h = Fnv(static_cast<uint8_t*>(LocalLock(bits)), LocalSize(bits), h);
    LocalUnlock(info);
    LocalUnlock(bits);
    LocalFree(info);
    LocalFree(bits);
  }
  return h;
}

TEST(Threads, EightThreadsDecodeAsOneDoes) {
  PluginSettings.keep16 = 1;
  PluginSettings.useMmx = 1;
  DetectProcessor();
  UpdateOutputDepths();
  std::vector<std::vector<uint8_t>> pictures;
  for (const std::string& path : FilesIn(std::string(TAVKO_SOURCE_DIR) + "/samples"))
    pictures.push_back(ReadFileBytes(path));
  ASSERT_GE(pictures.size(), 8u);
  std::vector<uint64_t> expected;
  for (auto& picture : pictures) expected.push_back(DecodeHash(&picture));

  const int kThreads = 8, kCalls = 1000;
  std::atomic<int> mismatches(0), calls(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::vector<uint8_t>> mine = pictures;
      for (int i = 0; i < kCalls; ++i) {
        size_t which = (t + i) % mine.size();
        if (DecodeHash(&mine[which]) != expected[which]) ++mismatches;
        if (mine[which] != pictures[which]) ++mismatches;
        ++calls;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::printf("threads: %d calls on %d threads, %d mismatches\n", calls.load(), kThreads, mismatches.load());
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(calls.load(), kThreads * kCalls);
  EXPECT_EQ(standin::LiveBlocks(), 0);
  PluginSettings.keep16 = PluginSettings.useMmx = 0;
  UpdateOutputDepths();
}

// The caller's memory is only read: a read-only mapping decodes as a
// private copy does, and threads decoding one shared image agree.
TEST(Threads, ReadOnlyAndSharedImagesDecodeAlike) {
  DetectProcessor();
  for (uint16_t bits : {2, 8, 16, 24, 32}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    // Pixels from offset 54 (70 for 2 bits), so that the complemented first
    // pixel bytes are converted or copied.
    std::vector<uint8_t> image = MakeQvx(ShapeOf(bits, 37, 9, bits == 2 ? 4 : 0));
    std::vector<uint8_t> copy = image;
    Decoded alone = CaptureDecode(GetPicture, reinterpret_cast<char*>(copy.data()), static_cast<int32_t>(copy.size()), 1, -1);
    ASSERT_EQ(alone.result, kResultSuccess);

    void* pages = mmap(nullptr, image.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    std::memcpy(pages, image.data(), image.size());
    ASSERT_EQ(mprotect(pages, image.size(), PROT_READ), 0);
    Decoded readOnly = CaptureDecode(GetPicture, static_cast<char*>(pages), static_cast<int32_t>(image.size()), 1, -1);
    EXPECT_EQ(readOnly.info, alone.info);
    EXPECT_EQ(readOnly.pixels, alone.pixels);

    std::atomic<int> mismatches(0);
    uint64_t expected = DecodeHash(&image);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
          HLOCAL info = nullptr, bits = nullptr;
          if (GetPicture(static_cast<char*>(pages), static_cast<int32_t>(image.size()), 1, &info, &bits, nullptr, 0) !=
              kResultSuccess) {
            ++mismatches;
            continue;
          }
          uint64_t h = Fnv(reinterpret_cast<const uint8_t*>(&alone.result), sizeof alone.result);
          h = Fnv(static_cast<uint8_t*>(LocalLock(info)), LocalSize(info), h);
          h = Fnv(static_cast<uint8_t*>(LocalLock(bits)), LocalSize(bits), h);
          LocalUnlock(info), LocalUnlock(bits), LocalFree(info), LocalFree(bits);
          if (h != expected) ++mismatches;
        }
      });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    munmap(pages, image.size());
  }
}

}  // namespace
