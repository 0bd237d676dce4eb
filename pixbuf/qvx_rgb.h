// The gdk-pixbuf loader's way into the QVX decoder: what a file's first
// bytes say, the sizes the loader takes, and a whole picture decoded into
// 8-bit RGB rows, top row first, as the plug-in decodes it with its options
// clear. The loader itself feeds the core's push decoder (decode/qvx_rows.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/qvx_rows.h"

enum class QvxRgbResult {
  kOk,
  kNotQvx,     // not a QVX picture, or one that cannot be decoded
  kTruncated,  // the data ends before the picture does
  kTooLarge,   // the header names a picture larger than can be held
  kNoMemory,   // an allocation failed, or the sink refused the picture
};

// What the bytes that have arrived so far say.
enum class QvxHeadKind {
  kNeedMore,  // they may still begin a QVX picture; more bytes are needed
  kNotQvx,
  kQvx,       // the headers and colour table are in and pass recognition
  kTooLarge,
};

// Filled in for kQvx.
struct QvxHead {
  int32_t width = 0;
  int32_t height = 0;         // rows, positive whichever way they are stored
  uint64_t pictureBytes = 0;  // bytes up to the end of the last stored row;
                              // bytes past this are never read
};

// The sizes the loader takes: an RGB picture of at most 2 GiB with an int
// row stride, and stored rows that end within the first 2 GiB of the file.
bool QvxRgbFits(const QvxPictureInfo& info);

// Reads the first n bytes of a file. Decides as soon as it can: the first
// byte already rules a file out.
QvxHeadKind QvxReadHead(const uint8_t* head, size_t n, QvxHead* out);

// Receives the decoded picture. prepare is called once, with the size,
// before any row is written; it returns where the top row goes and sets
// *stride to the bytes from one row to the next (at least 3 * width), or
// returns null to stop the decode (reported as kNoMemory).
struct QvxRgbSink {
  uint8_t* (*prepare)(void* context, int32_t width, int32_t height, size_t* stride);
  void* context;
};

// Decodes the picture in bytes[0..n) into the sink's rows. On any result
// but kOk, *error (when not null) gets a one-line reason. bytes are only
// read.
QvxRgbResult DecodeQvxToRgb(const uint8_t* bytes, size_t n, const QvxRgbSink& sink, std::string* error);
