// The core's push decoder with the input split where the fuzzer chooses.
// The first byte picks the rows wanted (bits 0-1 the layout, bit 2 indices,
// bit 3 top row first, bit 4 plain rows only), the second a count n of
// split points (0..15), the next 2 * n bytes the pieces' sizes
// (little-endian), the rest the file. After each file: the pieces are
// unchanged; events come in order (the header once, before any row; rows
// only counted up, each reported by the call that completed it); nothing is
// written outside the rows of the target; and the result and every pixel
// equal the whole-span decode's, which asks for the same rows.
#include <cstring>
#include <vector>

#include "decode/qvx_rows.h"
#include "fuzz/check.h"

namespace {

const uint64_t kMaxTargetBytes = 64 << 20;
const uint64_t kGuard = 7;  // bytes after each row that must stay as they were
const uint8_t kFill = 0xA5;

struct Target {
  std::vector<uint8_t> bytes;
  uint64_t stride = 0;
};

QvxStatus Prepare(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  Target* t = static_cast<Target*>(context);
  t->stride = info.rowBytes + kGuard;
  if (info.rows > kMaxTargetBytes / t->stride) return kQvxStopped;
  t->bytes.assign(t->stride * info.rows, kFill);
  *target = {t->bytes.data(), t->stride, nullptr, nullptr};
  return kQvxOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  QvxRowSpec wanted = QvxDefaultRowSpec();
  wanted.layout = static_cast<QvxPixelLayout>(data[0] & 3);
  wanted.indices = (data[0] >> 2) & 1;
  wanted.topFirst = (data[0] >> 3) & 1;
  if ((data[0] >> 4) & 1) wanted.cpu = QvxCpu{false, false, false};
  size_t splits = data[1] & 15, at = 2;
  std::vector<size_t> pieces;
  for (size_t i = 0; i < splits && at + 2 <= size; ++i, at += 2) pieces.push_back(data[at] | (data[at + 1] << 8));
  std::vector<uint8_t> file(data + at, data + size), before = file;

  Target whole;
  QvxStatus expected = QvxDecodeRows(QvxMemorySource(file.data(), file.size()), wanted, Prepare, &whole);
  Require(file == before, "the whole decode changed the bytes");

  QvxPush* push = QvxPushCreate(wanted);
  Require(push != nullptr, "no push decoder");
  Target pushed;
  bool header = false, stopped = false;
  uint32_t rows = 0;
  for (size_t i = 0, done = 0; done < file.size() && !stopped; ++i) {
    size_t piece = i < pieces.size() ? pieces[i] : file.size() - done;
    if (piece > file.size() - done) piece = file.size() - done;
    uint64_t used = 0;
    QvxPushEvent event = QvxPushFeed(push, file.data() + done, piece, &used);
    Require(used <= piece, "more bytes taken than given");
    Require(QvxPushRowsDone(push) >= rows, "rows counted down");
    Require((event == kQvxPushRows || event == kQvxPushFinished) == (QvxPushRowsDone(push) > rows) ||
                event == kQvxPushFailed,
            "rows done without their event");
    rows = QvxPushRowsDone(push);
    done += used;
    if (event == kQvxPushHeader) {
      Require(!header && rows == 0 && QvxPushInfo(push) != nullptr, "header twice, or after rows");
      header = true;
      QvxRowTarget target = {};
      // The whole decode refuses a span too short for its rows before it
      // prepares; the push decoder cannot know, so a short file is stopped here.
      const QvxPictureInfo& info = *QvxPushInfo(push);
      stopped = info.pictureBytes > file.size() || Prepare(&pushed, info, &target) != kQvxOk ||
                QvxPushSetTarget(push, target) != kQvxOk;
      continue;
    }
    Require(used == piece || event == kQvxPushFinished || event == kQvxPushFailed, "bytes left without cause");
    if (event == kQvxPushFinished || event == kQvxPushFailed) break;
  }
  QvxStatus status = stopped ? expected : QvxPushEnd(push);
  QvxPushDestroy(push);
  Require(file == before, "the pieces were changed");
  Require(status == expected, "pieces and the whole span disagree");
  if (status == kQvxOk) Require(pushed.bytes == whole.bytes, "pixels differ from the whole-span decode");
  for (size_t i = 0; i < pushed.bytes.size(); i += pushed.stride)
    for (uint64_t g = pushed.stride - kGuard; g < pushed.stride; ++g)
      Require(pushed.bytes[i + g] == kFill, "written past a row");
  return 0;
}
