// Decoding into the caller's rows: a pixel layout the caller names, written
// straight from the stored bytes in one pass, and a push decoder that takes
// the bytes in pieces of any size as they arrive.
//
// Beside the device-independent bitmap of qvx.h (the plug-in's path, which
// stays as it is), a front end may ask for rows of 8-bit RGB, BGRA or RGBA
// (alpha always 255), or, for paletted pictures, one index byte per pixel
// with the colour table beside it. The colour table is applied, the
// complemented bytes undone, and 2-, 16- (5-5-5) and 32-bit pictures are
// converted as the plug-in converts them with its options clear. Rows go
// top row first, or in the order the file stores them.
//
// The rows go where the front end says: a buffer with a stride, or a sink
// that answers, row by row, where row y goes. The core holds no copy of the
// picture: a push decoder keeps the header, the colour table and at most
// the few bytes of one pixel that straddles two pieces.
//
// A push decode runs like this:
//   QvxPush* push = QvxPushCreate(wanted);
//   for each piece: QvxPushFeed(push, bytes, size, &used) answers
//     kQvxPushNeedMore   every byte taken, nothing new to report;
//     kQvxPushHeader     the headers and colour table are in: QvxPushInfo()
//                        has the size and layout, no pixel memory asked for
//                        yet. The front end gives QvxPushSetTarget() and
//                        feeds the rest of the piece (bytes + used);
//     kQvxPushRows       rows completed since the last answer (or by
//                        QvxPushSetTarget): QvxPushRowsDone() counts them,
//                        in the order the file stores them;
//     kQvxPushFinished   the last row is done; bytes after it are not taken;
//     kQvxPushFailed     QvxPushStatus() says why; nothing more is written.
//   QvxPushEnd(push) then says kQvxOk, or kQvxTruncated when the bytes ended
//   before the last row; QvxPushDestroy(push) frees it.
// The pull paths (QvxDecodeRows: a memory span or a range reader) run the
// same decoder over the source.
#pragma once

#include <cstdint>

#include "decode/qvx.h"

enum QvxPixelLayout {
  kQvxRgb8,         // red, green, blue
  kQvxBgra8,        // blue, green, red, 255
  kQvxRgba8,        // red, green, blue, 255
  kQvxIndex8,       // one colour-table index per pixel (paletted pictures only)
  kQvxBgr8,         // blue, green, red
  kQvxIndexPacked,  // colour-table indices packed as the delivered bitmap packs
                    // them: 1, 4 (2-bit pictures too) or 8 bits, the leftmost
                    // pixel in the highest bits (paletted pictures only)
};

// What the caller wants. layout is kQvxRgb8, kQvxBgra8, kQvxRgba8 or
// kQvxBgr8; with indices set, pictures of 1, 2, 4 and 8 bits come as
// kQvxIndex8 instead, or as kQvxIndexPacked when packed is set too. With
// topFirst set, row 0 is the picture's top row whichever way the file
// stores its rows; otherwise row 0 is the first row stored (the bottom one
// of a bottom-up picture).
struct QvxRowSpec {
  QvxPixelLayout layout;
  bool indices;
  bool topFirst;
  QvxCpu cpu;  // the wide instructions the rows may use
  bool packed;
};

// RGB rows, top row first, with the processor asked.
QvxRowSpec QvxDefaultRowSpec();

// A picture as its headers describe it, once they and its colour table are in.
struct QvxPictureInfo {
  int32_t width;
  int32_t height;               // as stored: negative for top-down rows
  uint32_t rows;                // |height|
  uint32_t bits;                // stored bits per pixel
  bool topDown;                 // the file stores the top row first
  QvxPixelLayout layout;        // what each delivered row holds
  uint32_t pixelBits;           // bits per delivered pixel: 1, 4, 8, 24 or 32
  uint64_t rowBytes;            // bytes per delivered row: width * pixelBits / 8, rounded up
  uint32_t colourCount;         // colour-table entries the file stores (paletted pictures)
  uint8_t colours[256][4];      // red, green, blue, 255; black past colourCount
  int32_t xPelsPerMeter;        // the stored density; 0 when none is stored
  int32_t yPelsPerMeter;
  uint64_t pixelOffset;         // where the stored rows begin
  uint64_t sourceStride;        // stored bytes per row
  uint64_t pictureBytes;        // bytes up to the end of the last stored row
};

// Where rows go: a buffer of rows * stride bytes (row y at pixels + y *
// stride, stride at least rowBytes), or, when pixels is null, a sink asked
// once for each row before its first byte is written. A null answer stops
// the decode (kQvxStopped). Nothing is written outside a row's rowBytes.
struct QvxRowTarget {
  uint8_t* pixels;
  uint64_t stride;
  uint8_t* (*row)(void* context, uint32_t y);
  void* context;
};

// A header as the row decoders judge it: read from the first available
// bytes, a kind they decode, planned with the plug-in's depths and its
// options clear, at most INT32_MAX rows. False where they would refuse the
// picture as not one they decode.
bool QvxPlanRows(const uint8_t* first, uint64_t available, QvxHeader* header, QvxPlan* plan);

// The push decoder.
struct QvxPush;

enum QvxPushEvent {
  kQvxPushNeedMore,
  kQvxPushHeader,
  kQvxPushRows,
  kQvxPushFinished,
  kQvxPushFailed,
};

// Null when its few hundred bytes of state cannot be had.
QvxPush* QvxPushCreate(const QvxRowSpec& wanted);
void QvxPushDestroy(QvxPush* push);

// Takes bytes from the next piece and says what happened; *used gets the
// bytes taken. A piece may be of any size, zero included. The bytes are
// only read, and not kept past the call (but for one straddling pixel).
QvxPushEvent QvxPushFeed(QvxPush* push, const uint8_t* bytes, uint64_t size, uint64_t* used);

// The picture, from kQvxPushHeader on; null before.
const QvxPictureInfo* QvxPushInfo(const QvxPush* push);

// Where the rows go; given once, after kQvxPushHeader. kQvxNotQvx (and
// the decoder failed) for a buffer whose stride is below rowBytes. Rows
// whose bytes were taken with the headers (a picture whose rows begin
// inside its 54 header bytes) are written here, and may finish it.
QvxStatus QvxPushSetTarget(QvxPush* push, const QvxRowTarget& target);

// Rows completed so far, counted in the order the file stores them.
uint32_t QvxPushRowsDone(const QvxPush* push);

// The target row that the stored row r becomes (wanted.topFirst applied).
uint32_t QvxPushTargetRow(const QvxPush* push, uint32_t r);

// Why the decode failed: kQvxNotQvx, kQvxStopped (a sink said stop, or
// pixels came before a target); kQvxOk while it has not.
QvxStatus QvxPushStatus(const QvxPush* push);

// The input has ended: kQvxOk when the last row was done, the failure's
// status, or kQvxTruncated (kQvxNotQvx when not even the first 18 bytes came).
QvxStatus QvxPushEnd(const QvxPush* push);

// Asked by QvxDecodeRows once the picture is known: fills *target, or
// answers anything but kQvxOk to stop before a row is written.
typedef QvxStatus (*QvxPrepareRows)(void* context, const QvxPictureInfo& info, QvxRowTarget* target);

// Decodes a whole source into the caller's rows, through the push decoder:
// a memory span in one piece, a range reader in pieces of at most 1 MiB.
// kQvxNotQvx, kQvxTruncated and kQvxReadError as QvxDecode says them;
// kQvxNoMemory when the decoder's own state cannot be had.
QvxStatus QvxDecodeRows(const QvxSource& source, const QvxRowSpec& wanted, QvxPrepareRows prepare, void* context);
