// The Qt plug-in's one way into the QVX decoder: what a picture's first
// bytes say, and a whole picture read from a device into a QImage with the
// decoder's default options.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>

#include "decode/qvx.h"

// What the first bytes say.
enum class QvxHeadKind {
  kQvx,        // the header passes recognition and names a picture a QImage can hold
  kNotQvx,     // not a QVX picture, or one with a depth or compression that cannot be decoded
  kTruncated,  // the bytes end inside a header that begins as QVX
  kTooLarge,   // a QVX picture wider than a QImage row can be
};

// Filled in for kQvx (and for kTooLarge, as far as the header goes).
struct QvxHead {
  QvxHeader header = {};
  QvxPlan plan = {};
  QImage::Format format = QImage::Format_Invalid;
  QSize size;
  uint64_t pictureBytes = 0;  // bytes read: to the end of the last stored row, at least the headers
};

// Bytes that always decide: the longest header that is read.
const int kQvxHeadBytes = static_cast<int>(kQvxHeaderBytes);

// How long a pipe or a network reply may keep its next bytes waiting.
const int kQvxWaitMs = 30000;

// Judges the first bytes of a picture (at most kQvxHeadBytes are looked at).
QvxHeadKind ReadQvxHead(const QByteArray& first, QvxHead* head);

// Reads the picture that begins at the device's position, front to back
// and once, into image (a fresh QImage made here; Qt 6 applies
// QImageReader's allocation limit). The device is left after the last
// stored row. On failure image is untouched and why says what is wrong.
bool ReadQvxImage(QIODevice* device, const QvxHead& head, QImage* image, QString* why);
