// The WebAssembly entry layer: what the JavaScript side calls. Every call
// answers with a status; nothing here aborts or traps on a bad picture, so
// one instance serves any number of decodes.
//
// A decode (whole or streamed) lives in a WebDecode that JavaScript holds
// by its address: the push decoder, the picture once its headers are in,
// and the RGBA rows, top row first, which JavaScript copies out.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decode/qvx.h"
#include "decode/qvx_rows.h"

#define WEB_EXPORT(name) extern "C" __attribute__((export_name(name)))

namespace {

// The answers JavaScript sees: the core's statuses, and a picture over the
// caller's pixel limit.
enum WebStatus {
  kWebOk = 0,
  kWebNotQvx = kQvxNotQvx,
  kWebTruncated = kQvxTruncated,
  kWebNoMemory = kQvxNoMemory,
  kWebTooLarge = 16,
};

struct WebDecode {
  QvxPush* push;
  double maxPixels;       // pictures of more pixels are refused
  int32_t status;         // the first failure, else kWebOk
  bool known;             // the headers are in
  uint32_t width;
  uint32_t rows;
  uint32_t bits;
  bool topDown;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint8_t* pixels;        // rows * width * 4 bytes, top row first
  uint64_t pixelBytes;
  uint8_t* input;         // the caller's bytes are copied here before a call
  uint32_t inputBytes;
};

int32_t Refuse(WebDecode* decode, int32_t status) {
  if (decode->status == kWebOk) decode->status = status;
  return decode->status;
}

// The headers are in: takes the picture's description and, within the
// limits, memory for its rows.
int32_t Prepare(WebDecode* decode, const QvxPictureInfo& info, QvxRowTarget* target) {
  decode->known = true;
  decode->width = static_cast<uint32_t>(info.width);
  decode->rows = info.rows;
  decode->bits = info.bits;
  decode->topDown = info.topDown;
  decode->xPelsPerMeter = info.xPelsPerMeter;
  decode->yPelsPerMeter = info.yPelsPerMeter;
  uint64_t pixels = static_cast<uint64_t>(decode->width) * decode->rows;
  if (static_cast<double>(pixels) > decode->maxPixels) return Refuse(decode, kWebTooLarge);
  decode->pixelBytes = 4 * pixels;
  if (decode->pixelBytes > SIZE_MAX / 2) return Refuse(decode, kWebNoMemory);
  decode->pixels = static_cast<uint8_t*>(std::malloc(decode->pixelBytes));
  if (decode->pixels == nullptr) return Refuse(decode, kWebNoMemory);
  target->pixels = decode->pixels;
  target->stride = 4 * static_cast<uint64_t>(decode->width);
  return kWebOk;
}

QvxRowSpec RgbaRows() {
  QvxRowSpec wanted = {};
  wanted.layout = kQvxRgba8;
  wanted.topFirst = true;
  return wanted;
}

QvxStatus PrepareWhole(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  WebDecode* decode = static_cast<WebDecode*>(context);
  // The core passes a refusal back as it is; the decode keeps the reason.
  return Prepare(decode, info, target) == kWebOk ? kQvxOk : kQvxStopped;
}

}  // namespace

// Memory for the caller's bytes: null when it cannot be had.
WEB_EXPORT("qvx_input") uint8_t* QvxWebInput(WebDecode* decode, uint32_t bytes) {
  if (bytes <= decode->inputBytes) return decode->input;
  uint8_t* grown = static_cast<uint8_t*>(std::realloc(decode->input, bytes));
  if (grown == nullptr) return nullptr;
  decode->input = grown;
  decode->inputBytes = bytes;
  return grown;
}

// A decode; streamed when streamed is nonzero. Null without memory.
WEB_EXPORT("qvx_open") WebDecode* QvxWebOpen(double maxPixels, int32_t streamed) {
  WebDecode* decode = static_cast<WebDecode*>(std::calloc(1, sizeof(WebDecode)));
  if (decode == nullptr) return nullptr;
  decode->maxPixels = maxPixels;
  if (streamed) {
    decode->push = QvxPushCreate(RgbaRows());
    if (decode->push == nullptr) {
      std::free(decode);
      return nullptr;
    }
  }
  return decode;
}

WEB_EXPORT("qvx_close") void QvxWebClose(WebDecode* decode) {
  if (decode == nullptr) return;
  QvxPushDestroy(decode->push);
  std::free(decode->pixels);
  std::free(decode->input);
  std::free(decode);
}

// Decodes the size bytes at the decode's input as one whole picture.
WEB_EXPORT("qvx_decode") int32_t QvxWebDecode(WebDecode* decode, uint32_t size) {
  QvxSource source = QvxMemorySource(decode->input, size);
  QvxStatus status = QvxDecodeRows(source, RgbaRows(), PrepareWhole, decode);
  return status == kQvxOk ? decode->status : Refuse(decode, status == kQvxStopped ? kWebNotQvx : status);
}

// Feeds the size bytes at the decode's input to a streamed decode. Once
// the headers are in, the rows get their memory and the rest of the piece
// goes on. kWebOk while the decode may go on.
WEB_EXPORT("qvx_feed") int32_t QvxWebFeed(WebDecode* decode, uint32_t size) {
  const uint8_t* bytes = decode->input;
  uint64_t left = size;
  while (decode->status == kWebOk && left > 0) {
    uint64_t used = 0;
    QvxPushEvent event = QvxPushFeed(decode->push, bytes, left, &used);
    bytes += used, left -= used;
    if (event == kQvxPushFailed) return Refuse(decode, QvxPushStatus(decode->push));
    if (event == kQvxPushFinished) break;
    if (event != kQvxPushHeader) continue;
    QvxRowTarget target = {};
    if (Prepare(decode, *QvxPushInfo(decode->push), &target) != kWebOk) break;
    QvxStatus status = QvxPushSetTarget(decode->push, target);
    if (status != kQvxOk) return Refuse(decode, status);
  }
  return decode->status;
}

// The input has ended: kWebOk when every row is in.
WEB_EXPORT("qvx_finish") int32_t QvxWebFinish(WebDecode* decode) {
  if (decode->status != kWebOk) return decode->status;
  QvxStatus status = QvxPushEnd(decode->push);
  return status == kQvxOk ? kWebOk : Refuse(decode, status);
}

// Stored rows completed so far.
WEB_EXPORT("qvx_rows_done") uint32_t QvxWebRowsDone(const WebDecode* decode) {
  return decode->push != nullptr ? QvxPushRowsDone(decode->push) : decode->rows;
}

WEB_EXPORT("qvx_known") int32_t QvxWebKnown(const WebDecode* decode) { return decode->known; }
WEB_EXPORT("qvx_width") uint32_t QvxWebWidth(const WebDecode* decode) { return decode->width; }
WEB_EXPORT("qvx_height") uint32_t QvxWebHeight(const WebDecode* decode) { return decode->rows; }
WEB_EXPORT("qvx_bits") uint32_t QvxWebBits(const WebDecode* decode) { return decode->bits; }
WEB_EXPORT("qvx_top_down") int32_t QvxWebTopDown(const WebDecode* decode) { return decode->topDown; }
WEB_EXPORT("qvx_x_ppm") int32_t QvxWebXPpm(const WebDecode* decode) { return decode->xPelsPerMeter; }
WEB_EXPORT("qvx_y_ppm") int32_t QvxWebYPpm(const WebDecode* decode) { return decode->yPelsPerMeter; }
WEB_EXPORT("qvx_pixels") uint8_t* QvxWebPixels(const WebDecode* decode) { return decode->pixels; }

// The picture from its headers alone (the size bytes at the decode's
// input), as a decode would see it, without its rows.
WEB_EXPORT("qvx_info") int32_t QvxWebInfo(WebDecode* decode, uint32_t size) {
  QvxHeader header;
  QvxOptions options = {};
  options.maxBlockBytes = UINT64_MAX;
  QvxPlan plan;
  if (QvxReadHeader(decode->input, size, &header) != kQvxOk || !QvxIsSupported(header, false, 0) ||
      QvxPlanDecode(header, options, UINT64_MAX, &plan) != kQvxOk || plan.rows > INT32_MAX)
    return Refuse(decode, kWebNotQvx);
  decode->known = true;
  decode->width = static_cast<uint32_t>(plan.width);
  decode->rows = static_cast<uint32_t>(plan.rows);
  decode->bits = plan.bits;
  decode->topDown = plan.height < 0;
  decode->xPelsPerMeter = header.biXPelsPerMeter;
  decode->yPelsPerMeter = header.biYPelsPerMeter;
  return kWebOk;
}
