// The decoding core through its own interfaces: the Linux front end gives
// the same blocks (and colours read ahead) as the plug-in, and a test allocator and reader that fail
// at every step see every block released exactly once.
#include <fcntl.h>
#include <unistd.h>

#include "common/files.h"
#include "native/qvx_native.h"
#include "unit/helpers.h"

namespace {

class Core : public PluginTest {};

TEST_F(Core, LinuxFrontEndDeliversWhatThePluginDelivers) {
  for (const std::string& path : FilesIn(std::string(TAVKO_SOURCE_DIR) + "/samples")) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> image = ReadFileBytes(path);
    Decoded plugin = DecodeMemory(&image);
    ASSERT_EQ(plugin.result, kResultSuccess);
    QvxOptions options = QvxDefaultOptions();
    NativeBitmap memory, file;
    ASSERT_EQ(DecodeQvxMemory(image.data(), image.size(), options, nullptr, nullptr, &memory), kQvxOk);
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(DecodeQvxFile(fd, 0, image.size(), options, nullptr, nullptr, &file), kQvxOk);
    close(fd);
    for (const NativeBitmap* b : {&memory, &file}) {
      EXPECT_EQ(std::vector<uint8_t>(b->info, b->info + b->infoBytes), plugin.info);
      EXPECT_EQ(std::vector<uint8_t>(b->pixels, b->pixels + b->pixelBytes), plugin.pixels);
    }
    // The colours read ahead of a decode are the ones it delivers.
    QvxHeader header;
    QvxPlan plan;
    ASSERT_EQ(QvxReadHeader(image.data(), image.size(), &header), kQvxOk);
    ASSERT_EQ(QvxPlanDecode(header, options, image.size(), &plan), kQvxOk);
    std::vector<uint8_t> colours(4 * plan.colourCount);
    ASSERT_EQ(QvxReadColours(QvxMemorySource(image.data(), image.size()), plan, options, colours.data()), kQvxOk);
    EXPECT_EQ(colours, std::vector<uint8_t>(memory.info + 40, memory.info + 40 + colours.size()));
    FreeNativeBitmap(&memory);
    FreeNativeBitmap(&file);
  }
}

// Fails the n-th acquire (as no memory, or as an unusable block) or the
// n-th read, and keeps count of what is held.
struct Faults {
  int failAcquire = 0, failRead = 0;
  QvxStatus acquireFailure = kQvxNoMemory;
  int acquires = 0, reads = 0, held = 0, kept = 0;
  std::vector<uint8_t> blocks[3];
  const std::vector<uint8_t>* file = nullptr;
};

uint8_t* TestAcquire(void* context, QvxBlock which, uint64_t bytes, QvxStatus* failure) {
  Faults* f = static_cast<Faults*>(context);
  if (++f->acquires == f->failAcquire) {
    *failure = f->acquireFailure;
    return nullptr;
  }
  f->blocks[which].assign(bytes, 0);
  ++f->held;
  return f->blocks[which].data();
}

void TestRelease(void* context, QvxBlock, bool keep) {
  Faults* f = static_cast<Faults*>(context);
  --f->held;
  f->kept += keep;
}

bool TestRead(void* context, uint64_t offset, uint8_t* out, uint64_t count) {
  Faults* f = static_cast<Faults*>(context);
  if (++f->reads == f->failRead || offset + count > f->file->size()) return false;
  std::copy(f->file->begin() + offset, f->file->begin() + offset + count, out);
  return true;
}

TEST_F(Core, EveryAcquireAndReadFailureReleasesWhatWasHeld) {
  int points = 0;
  for (uint16_t bits : {8, 24, 32}) {  // colour table; copied rows; rows through the read buffer
    std::vector<uint8_t> image = MakeQvx(ShapeOf(bits, 9, 5, bits == 8 ? 256 : 0));
    for (int step = 1; step <= 4; ++step) {
      for (int kind = 0; kind < 3; ++kind) {
        Faults f;
        f.file = &image;
        if (kind == 0) f.failAcquire = step;
        if (kind == 1) f.failAcquire = step, f.acquireFailure = kQvxLockFailed;
        if (kind == 2) f.failRead = step;
        QvxSource source = {nullptr, image.size(), TestRead, &f};
        QvxAllocator allocator = {TestAcquire, TestRelease, &f};
        QvxStatus status = QvxDecode(source, QvxDefaultOptions(), allocator, nullptr, nullptr);
        bool failed = (kind < 2 && step <= f.acquires) || (kind == 2 && step <= f.reads);
        SCOPED_TRACE(std::to_string(bits) + " bits, step " + std::to_string(step) + ", kind " + std::to_string(kind));
        if (failed) {
          EXPECT_EQ(status, kind == 0 ? kQvxNoMemory : kind == 1 ? kQvxLockFailed : kQvxReadError);
          EXPECT_EQ(f.kept, 0);
          ++points;
        } else {
          EXPECT_EQ(status, kQvxOk);
          EXPECT_EQ(f.kept, 2);
        }
        EXPECT_EQ(f.held, 0) << "every block released exactly once";
      }
    }
  }
  EXPECT_GE(points, 20);
}

}  // namespace
