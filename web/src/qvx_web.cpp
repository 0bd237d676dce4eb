// The WebAssembly entry layer: what the JavaScript side calls. Every call
// answers with a status; nothing here aborts or traps on a bad picture, so
// one instance serves any number of decodes.
//
// A decode lives in a WebDecode that JavaScript holds by its address: the
// push decoder, the picture once its headers are in, a buffer for the
// caller's bytes and a ring of a few RGBA rows. The rows never fill a
// picture-sized block here: JavaScript copies each row out of the ring into
// the picture it hands its caller, before the ring comes round to it again.
// So a decode costs the instance a few hundred KiB whatever the picture's
// size, and every byte is touched once in the instance's memory.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decode/qvx.h"
#include "decode/qvx_rows.h"

#define WEB_EXPORT(name) extern "C" __attribute__((export_name(name)))

namespace {

const uint64_t kRingBytes = 256 * 1024;  // about this much of RGBA rows, at least two rows

// What JavaScript reads of the picture.
struct WebPicture {
  bool known;  // the headers are in
  uint32_t width;
  uint32_t rows;
  uint32_t bits;
  bool topDown;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint64_t pictureBytes;  // bytes up to the end of the last row
};

struct WebDecode {
  QvxPush* push;
  WebPicture picture;
  int32_t status;    // the first failure, else kQvxOk
  uint64_t used;     // bytes the last feed took
  uint8_t* input;    // the caller's bytes are copied here before a call
  uint32_t inputBytes;
  uint8_t* ring;     // ringRows rows of 4 * width bytes; target row y in slot y % ringRows
  uint32_t ringRows;
  uint64_t rowBytes;
};

int32_t Refuse(WebDecode* decode, int32_t status) {
  if (decode->status == kQvxOk) decode->status = status;
  return decode->status;
}

uint8_t* RingRow(void* context, uint32_t y) {
  WebDecode* decode = static_cast<WebDecode*>(context);
  return decode->ring + (y % decode->ringRows) * decode->rowBytes;
}

void Describe(WebDecode* decode, const QvxPictureInfo& info) {
  decode->picture = {true, static_cast<uint32_t>(info.width), info.rows, info.bits, info.topDown,
                     info.xPelsPerMeter, info.yPelsPerMeter, info.pictureBytes};
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

// A decode into RGBA rows, top row first. Null without memory.
WEB_EXPORT("qvx_open") WebDecode* QvxWebOpen() {
  WebDecode* decode = static_cast<WebDecode*>(std::calloc(1, sizeof(WebDecode)));
  if (decode == nullptr) return nullptr;
  QvxRowSpec wanted = {};
  wanted.layout = kQvxRgba8;
  wanted.topFirst = true;
  decode->push = QvxPushCreate(wanted);
  if (decode->push == nullptr) {
    std::free(decode);
    return nullptr;
  }
  return decode;
}

WEB_EXPORT("qvx_close") void QvxWebClose(WebDecode* decode) {
  if (decode == nullptr) return;
  QvxPushDestroy(decode->push);
  std::free(decode->ring);
  std::free(decode->input);
  std::free(decode);
}

// Feeds the size bytes at the decode's input. The feed stops once the
// headers are in (qvx_used tells how far it got), so that the caller can
// look at the picture before qvx_begin; from then on it takes at most
// qvx_piece_bytes a call. kQvxOk while the decode may go on.
WEB_EXPORT("qvx_feed") int32_t QvxWebFeed(WebDecode* decode, uint32_t size) {
  decode->used = 0;
  if (decode->status != kQvxOk) return decode->status;
  QvxPushEvent event = QvxPushFeed(decode->push, decode->input, size, &decode->used);
  if (event == kQvxPushHeader) Describe(decode, *QvxPushInfo(decode->push));
  return event == kQvxPushFailed ? Refuse(decode, QvxPushStatus(decode->push)) : kQvxOk;
}

WEB_EXPORT("qvx_used") uint32_t QvxWebUsed(const WebDecode* decode) { return static_cast<uint32_t>(decode->used); }

// The headers are in and the caller takes the picture: the ring is made
// and the rows may come.
WEB_EXPORT("qvx_begin") int32_t QvxWebBegin(WebDecode* decode) {
  if (decode->status != kQvxOk) return decode->status;
  const QvxPictureInfo* info = QvxPushInfo(decode->push);
  if (info == nullptr) return Refuse(decode, kQvxNotQvx);
  decode->rowBytes = info->rowBytes;
  uint64_t rows = 1 + kRingBytes / decode->rowBytes;
  decode->ringRows = static_cast<uint32_t>(rows < info->rows ? rows : info->rows);
  if (decode->ringRows < 2) decode->ringRows = 2;
  uint64_t bytes = decode->ringRows * decode->rowBytes;
  decode->ring = bytes <= SIZE_MAX / 2 ? static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes))) : nullptr;
  if (decode->ring == nullptr) return Refuse(decode, kQvxNoMemory);
  QvxRowTarget target = {};
  target.row = RingRow;
  target.context = decode;
  QvxStatus status = QvxPushSetTarget(decode->push, target);
  return status == kQvxOk ? kQvxOk : Refuse(decode, status);
}

// The most bytes one feed may take once the rows come: they complete at
// most ringRows - 1 rows, so no row is overwritten before it is copied out.
WEB_EXPORT("qvx_piece_bytes") uint32_t QvxWebPieceBytes(const WebDecode* decode) {
  uint64_t bytes = (decode->ringRows - 1) * QvxPushInfo(decode->push)->sourceStride;
  return static_cast<uint32_t>(bytes < UINT32_MAX ? bytes : UINT32_MAX);
}

// The input has ended: kQvxOk when every row is in.
WEB_EXPORT("qvx_finish") int32_t QvxWebFinish(WebDecode* decode) {
  if (decode->status != kQvxOk) return decode->status;
  QvxStatus status = QvxPushEnd(decode->push);
  return status == kQvxOk ? kQvxOk : Refuse(decode, status);
}

// Stored rows completed so far.
WEB_EXPORT("qvx_rows_done") uint32_t QvxWebRowsDone(const WebDecode* decode) { return QvxPushRowsDone(decode->push); }
WEB_EXPORT("qvx_ring") uint8_t* QvxWebRing(const WebDecode* decode) { return decode->ring; }
WEB_EXPORT("qvx_ring_rows") uint32_t QvxWebRingRows(const WebDecode* decode) { return decode->ringRows; }

// The picture, once the headers are in (qvx_known).
WEB_EXPORT("qvx_known") int32_t QvxWebKnown(const WebDecode* decode) { return decode->picture.known; }
WEB_EXPORT("qvx_width") uint32_t QvxWebWidth(const WebDecode* decode) { return decode->picture.width; }
WEB_EXPORT("qvx_height") uint32_t QvxWebHeight(const WebDecode* decode) { return decode->picture.rows; }
WEB_EXPORT("qvx_bits") uint32_t QvxWebBits(const WebDecode* decode) { return decode->picture.bits; }
WEB_EXPORT("qvx_top_down") int32_t QvxWebTopDown(const WebDecode* decode) { return decode->picture.topDown; }
WEB_EXPORT("qvx_x_ppm") int32_t QvxWebXPpm(const WebDecode* decode) { return decode->picture.xPelsPerMeter; }
WEB_EXPORT("qvx_y_ppm") int32_t QvxWebYPpm(const WebDecode* decode) { return decode->picture.yPelsPerMeter; }
// As a double: the bytes may pass 4 GiB.
WEB_EXPORT("qvx_picture_bytes") double QvxWebPictureBytes(const WebDecode* decode) {
  return static_cast<double>(decode->picture.pictureBytes);
}

// The picture from its headers alone (the size bytes at the decode's
// input), as a decode would see it; the colour table is not needed.
WEB_EXPORT("qvx_info") int32_t QvxWebInfo(WebDecode* decode, uint32_t size) {
  QvxHeader header;
  QvxPlan plan;
  if (!QvxPlanRows(decode->input, size, &header, &plan)) return Refuse(decode, kQvxNotQvx);
  decode->picture = {true, static_cast<uint32_t>(plan.width), static_cast<uint32_t>(plan.rows), plan.bits,
                     plan.height < 0, header.biXPelsPerMeter, header.biYPelsPerMeter,
                     plan.pixelOffset + plan.sourceStride * plan.rows};
  return kQvxOk;
}
