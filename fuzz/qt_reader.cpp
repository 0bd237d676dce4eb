// The Qt plug-in through QImageReader, linked in as a static plug-in: each
// input read by name ("qvx") from a QBuffer and from a one-way device that
// hands out odd-sized pieces. After each input: recognition took no bytes;
// both reads agree (both fail, or both give the same picture, of the size
// and form the header announced, with a success only where canRead said
// yes); a failure says why and leaves the caller's image as it was; the
// input is unchanged. LeakSanitizer finds anything left held.
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QtPlugin>

#include <cstring>

#include "fuzz/check.h"
#include "tests/qt/pieces.h"

Q_IMPORT_PLUGIN(QvxPlugin)

namespace {

bool warned = false;

void NoteWarning(QtMsgType type, const QMessageLogContext&, const QString&) { warned |= type == QtWarningMsg; }

struct Result {
  bool ok;
  QImage image;
};

Result Read(QIODevice* device) {
  QImageReader reader(device, "qvx");
  reader.setAutoDetectImageFormat(false);  // the QVX plug-in only, whatever the bytes look like
  qint64 before = device->pos();
  bool recognised = reader.canRead();
  Require(device->isSequential() || device->pos() == before, "recognition took bytes");
  QSize size = reader.size();
  int format = reader.imageFormat();
  const QImage sentinel(3, 2, QImage::Format_RGB32);
  Result result = {false, sentinel};
  warned = false;
  result.ok = reader.read(&result.image);
  if (result.ok) {
    Require(recognised, "a picture read where canRead said no");
    Require(!result.image.isNull() && result.image.size() == size && result.image.format() == format,
            "the picture is not what the header announced");
  } else {
    Require(warned, "a failed read gave no reason");
    Require(result.image.constBits() == sentinel.constBits(), "a failed read changed the caller's image");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler(NoteWarning);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
  QByteArray copy = bytes;
  QBuffer buffer(&copy);
  buffer.open(QIODevice::ReadOnly);
  Result fromBuffer = Read(&buffer);
  Pieces pieces(bytes);
  Result fromPieces = Read(&pieces);
  Require(fromBuffer.ok == fromPieces.ok, "a buffer and a one-way device disagree");
  Require(!fromBuffer.ok || fromBuffer.image == fromPieces.image, "a buffer and a one-way device give other pixels");
  Require(copy == bytes && std::memcmp(copy.constData(), data, size) == 0, "the input changed");
  return 0;
}
