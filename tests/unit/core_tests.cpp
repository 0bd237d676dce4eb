// The decoding core through its own interfaces: the Linux front end gives
// the same blocks (and colours read ahead) as the plug-in, and a test allocator and reader that fail
// at every step see every block released exactly once.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "common/files.h"
#include "decode/qvx_rows.h"
#include "native/qvx_native.h"
#include "encode/encode.h"
#include "tools/dib.h"
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

// Rows in the caller's layout: a buffer with a stride (its padding must
// stay as it was) or a sink; fed from memory, through a reader, or one byte
// at a time through the push decoder.
enum RowWay { kSpan, kReader, kOneByte };

struct RowsOut {
  QvxPictureInfo info = {};
  uint64_t stride = 0;
  std::vector<uint8_t> pixels;
};

QvxStatus PrepareBuffer(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  RowsOut* out = static_cast<RowsOut*>(context);
  out->info = info;
  out->stride = info.rowBytes + 5;
  out->pixels.assign(out->stride * info.rows, 0xEE);
  *target = {out->pixels.data(), out->stride, nullptr, nullptr};
  return kQvxOk;
}

uint8_t* SinkRow(void* context, uint32_t y) {
  RowsOut* out = static_cast<RowsOut*>(context);
  return out->pixels.data() + y * out->stride;
}

QvxStatus DecodeRows(const std::vector<uint8_t>& image, const QvxRowSpec& wanted, RowWay way, RowsOut* out) {
  Faults f;
  f.file = &image;
  if (way == kSpan) return QvxDecodeRows(QvxMemorySource(image.data(), image.size()), wanted, PrepareBuffer, out);
  if (way == kReader) return QvxDecodeRows({nullptr, image.size(), TestRead, &f}, wanted, PrepareBuffer, out);
  QvxPush* push = QvxPushCreate(wanted);
  uint32_t reported = 0;
  for (size_t at = 0; at < image.size(); ++at) {
    uint64_t used = 0;
    QvxPushEvent event = QvxPushFeed(push, &image[at], 1, &used);
    if (event == kQvxPushHeader) {
      QvxRowTarget buffer;
      PrepareBuffer(out, *QvxPushInfo(push), &buffer);
      EXPECT_EQ(QvxPushSetTarget(push, {nullptr, 0, SinkRow, out}), kQvxOk);
    }
    EXPECT_EQ(used, event == kQvxPushFinished || event == kQvxPushFailed ? used : 1u);
    EXPECT_GE(QvxPushRowsDone(push), reported);
    EXPECT_EQ(event == kQvxPushRows || event == kQvxPushFinished, QvxPushRowsDone(push) > reported);
    reported = QvxPushRowsDone(push);
    if (event == kQvxPushFinished || event == kQvxPushFailed) break;
  }
  QvxStatus status = QvxPushEnd(push);
  QvxPushDestroy(push);
  return status;
}

// Every depth, widths 1 to 40, both stored row orders, every layout and
// both row orders of the target, plain and wide rows, three ways in: the
// pixels the plug-in delivers, rendered independently.
TEST(CoreRows, EveryLayoutAgreesWithTheDeliveredBitmap) {
  const QvxCpu paths[] = {{false, false, false}, QvxDetectCpu()};
  const QvxPixelLayout layouts[] = {kQvxRgb8, kQvxBgra8, kQvxRgba8, kQvxBgr8, kQvxIndex8, kQvxIndexPacked};
  for (uint16_t bits : {1, 2, 4, 8, 16, 24, 32})
    for (int32_t width = 1; width <= 40; ++width)
      for (int32_t height : {3, -2}) {
        PictureShape shape = ShapeOf(bits, width, height, bits <= 8 ? 1u << bits : 0, width == 7 ? 12 : 40);
        shape.seed = static_cast<uint32_t>(width * 31 + bits);
        if (width == 9 && bits >= 16) shape.headerSize = 4, shape.offBits = 50;  // rows begin among the header bytes
        std::vector<uint8_t> image = MakeQvx(shape);
        NativeBitmap bitmap;
        ASSERT_EQ(DecodeQvxMemory(image.data(), image.size(), QvxDefaultOptions(), nullptr, nullptr, &bitmap), kQvxOk);
        RgbImage want;
        std::string why;
        ASSERT_TRUE(RenderDib(bitmap.info, bitmap.infoBytes, bitmap.pixels, bitmap.pixelBytes, &want, &why)) << why;
        FreeNativeBitmap(&bitmap);
        for (const QvxCpu& cpu : paths)
          for (QvxPixelLayout layout : layouts)
            for (bool topFirst : {true, false})
              for (RowWay way : {kSpan, kReader, kOneByte}) {
                if (way != kSpan && (layout != kQvxRgba8 || width % 8 != 1)) continue;
                SCOPED_TRACE(testing::Message() << bits << " bits, width " << width << ", height " << height
                                                << ", layout " << layout << (topFirst ? ", top first" : "")
                                                << ", way " << way << (cpu.ssse3 ? ", wide" : ""));
                bool indices = layout == kQvxIndex8 || layout == kQvxIndexPacked;
                QvxRowSpec wanted = {indices ? kQvxRgb8 : layout, indices, topFirst, cpu, layout == kQvxIndexPacked};
                RowsOut out;
                ASSERT_EQ(DecodeRows(image, wanted, way, &out), kQvxOk);
                QvxPixelLayout got = bits <= 8 || !indices ? layout : kQvxRgb8;
                ASSERT_EQ(out.info.layout, got);
                uint32_t bitsEach = out.info.pixelBits, n = bitsEach / 8;
                for (uint32_t r = 0; r < out.info.rows; ++r) {
                  uint32_t y = topFirst || height < 0 ? r : out.info.rows - 1 - r;  // the picture's row
                  const uint8_t* row = out.pixels.data() + r * out.stride;
                  for (int32_t x = 0; x < width; ++x) {
                    const uint8_t* rgb = &want.rgb[3 * (static_cast<size_t>(y) * width + x)];
                    const uint8_t* p = row + n * x;
                    uint8_t have[3] = {p[0], p[1], p[2]};
                    uint64_t bit = static_cast<uint64_t>(x) * bitsEach;
                    if (got == kQvxIndex8 || got == kQvxIndexPacked)
                      std::memcpy(have, out.info.colours[row[bit / 8] >> (8 - bitsEach - bit % 8) & ((1u << bitsEach) - 1)], 3);
                    if (got == kQvxBgra8 || got == kQvxBgr8) have[0] = p[2], have[2] = p[0];
                    ASSERT_TRUE(std::memcmp(have, rgb, 3) == 0 && (n < 4 || p[3] == 255)) << "x " << x << " row " << r;
                  }
                  for (uint64_t i = out.info.rowBytes; i < out.stride; ++i) ASSERT_EQ(row[i], 0xEE) << "past row " << r;
                }
              }
      }
}

}  // namespace
