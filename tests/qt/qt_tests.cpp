// The QVX plug-in as Qt programs meet it: loaded by Qt itself from the
// build folder (QT_PLUGIN_PATH) and used through QImageReader, against the
// plug-in's own decode. The same source is built for Qt 5 and for Qt 6.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QImageReader>
#include <QProcess>

#include <cstdio>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "decode/qvx.h"
#include "tests/pixbuf/reference.h"
#include "tests/qt/pieces.h"
#include "encode/encode.h"
#include "tools/dib.h"

namespace {

QString lastWarning;  // where the plug-in says why a read failed

struct Outcome {
  bool ok = false;
  QImage image;
  QString warning;
  QSize size;      // announced by the header before the read
  int format = -1;
};

Outcome Read(QImageReader* reader) {
  Outcome out;
  lastWarning.clear();
  QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtWarningMsg) lastWarning = message;
      });
  out.size = reader->size();
  out.format = reader->imageFormat();
  out.ok = reader->read(&out.image);
  qInstallMessageHandler(previous);
  out.warning = lastWarning;
  return out;
}

QByteArray Bytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "qt-" + std::to_string(getpid()) + "-" + name;
}

// A file named .qvx, a QBuffer and a one-way device; the format found by
// content unless given.
std::vector<Outcome> ReadEveryWay(const std::vector<uint8_t>& bytes, const QByteArray& format = QByteArray()) {
  std::string path = TempPath("picture.qvx");
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  QImageReader fromFile(QString::fromStdString(path), format);
  std::vector<Outcome> outcomes{Read(&fromFile)};
  std::remove(path.c_str());
  QByteArray data = Bytes(bytes);
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader fromBuffer(&buffer, format);
  outcomes.push_back(Read(&fromBuffer));
  Pieces pieces(data);
  QImageReader fromPieces(&pieces, format);
  outcomes.push_back(Read(&fromPieces));
  return outcomes;
}

std::vector<uint8_t> Rgb(const QImage& image) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  std::vector<uint8_t> out;
  for (int y = 0; y < rgb.height(); ++y)
    out.insert(out.end(), rgb.constScanLine(y), rgb.constScanLine(y) + 3 * rgb.width());
  return out;
}

struct Group {
  const char* name;
  const char* dir;
  bool encode;
};

void PrintTo(const Group& group, std::ostream* out) { *out << group.name; }

class EveryPicture : public testing::TestWithParam<Group> {};

// Every picture every way: the plug-in's own decode, in the size and form
// the header announced, with its density; or a refusal every way.
TEST_P(EveryPicture, ReadsAsThePluginDecodes) {
  int decoded = 0, count = 0;
  for (const std::string& path : FilesIn(GetParam().dir)) {
    SCOPED_TRACE(BaseName(path));
    std::vector<uint8_t> bytes = ReadFileBytes(path), qvx;
    std::string why;
    if (GetParam().encode && EncodeQvx(bytes, &qvx, &why)) bytes = qvx;
    RgbImage reference;
    bool expected = ReferenceDecode(bytes, &reference);
    decoded += expected, ++count;
    QvxHeader header = {};
    QvxReadHeader(bytes.data(), bytes.size(), &header);
    // Bitmaps QVX cannot hold stay as they are, and go to the plug-in by name.
    bool qvxSignature = bytes.size() >= 2 && bytes[0] == 0xBD && bytes[1] == 0xB2;
    for (const Outcome& outcome : ReadEveryWay(bytes, qvxSignature ? "" : "qvx")) {
      ASSERT_EQ(outcome.ok, expected) << outcome.warning.toStdString();
      if (!expected) continue;
      EXPECT_EQ(outcome.size, QSize(reference.width, reference.height));
      EXPECT_EQ(outcome.format, static_cast<int>(outcome.image.format()));
      EXPECT_TRUE(Rgb(outcome.image) == reference.rgb) << "pixels differ";
      int density = header.biXPelsPerMeter > 0 ? header.biXPelsPerMeter  // else Qt's default
                                               : QImage(1, 1, QImage::Format_Mono).dotsPerMeterX();
      EXPECT_EQ(outcome.image.dotsPerMeterX(), density);
    }
  }
  std::printf("%s: %d of %d pictures decoded\n", GetParam().name, decoded, count);
}

INSTANTIATE_TEST_SUITE_P(Pictures, EveryPicture,
                         testing::Values(Group{"samples", TAVKO_SOURCE_DIR "/samples", false},
                                         Group{"corpus_good", TAVKO_CORPUS_DIR "/g", true},
                                         Group{"corpus_bad", TAVKO_CORPUS_DIR "/b", true},
                                         Group{"fuzz_seeds", TAVKO_SOURCE_DIR "/fuzz/seeds", false}),
                         [](const testing::TestParamInfo<Group>& info) { return std::string(info.param.name); });

std::vector<uint8_t> Sample(const char* name) {
  return ReadFileBytes(std::string(TAVKO_SOURCE_DIR "/samples/") + name);
}

// Broken and foreign files handed to the plug-in by name: a refusal with its
// reason every way, never a picture.
TEST(QtErrors, ClearReasonForEveryBadFile) {
  std::vector<uint8_t> card = Sample("card24.qvx");
  PictureShape compressed = ShapeOf(8, 4, 4, 256);
  compressed.compression = 1;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* warning;  // a part of it; null: reads
  } cases[] = {
      {"empty", {}, "empty"},
      {"cut inside the signature", Cut(card, 1), "truncated"},
      {"cut inside the header", Cut(card, 30), "truncated"},
      {"cut inside the colour table", Cut(Sample("card8.qvx"), 300), "truncated"},
      {"last byte missing", Cut(card, card.size() - 1), "truncated"},
      {"plain BMP", MakeBmp(ShapeOf(24, 4, 4)), "not a QVX"},
      {"depth 7", MakeQvx(ShapeOf(7, 4, 4)), "not a QVX"},
      {"compressed", MakeQvx(compressed), "not a QVX"},
      {"row wider than a QImage row", Huge(0x7FFFFFF0, 1, 1), "too large"},
      {"48 MB promised, 16 bytes stored", Huge(4000, 4000, 24), "truncated"},
      {"bytes after the last row", Appended(card, 100000), nullptr},
      {"rows ending inside the 54 header bytes", RowsAmongHeaders(), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Outcome& outcome : ReadEveryWay(c.bytes, "qvx")) {
      ASSERT_EQ(outcome.ok, c.warning == nullptr) << outcome.warning.toStdString();
      if (outcome.ok) continue;
      EXPECT_TRUE(outcome.image.isNull());
      EXPECT_TRUE(outcome.warning.contains(c.warning)) << outcome.warning.toStdString();
    }
  }
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  int limit = QImageReader::allocationLimit();
  QImageReader::setAllocationLimit(2);
  Outcome over = ReadEveryWay(MakeQvx(ShapeOf(24, 1024, 1024)))[1];
  QImageReader::setAllocationLimit(limit);
  EXPECT_TRUE(over.warning.contains("allocation limit of 2 MiB")) << over.warning.toStdString();
  // Weighed as Qt weighs it, at 32 bits a pixel: 137 MB, though the 24-bit
  // rows hold 108 MB.
  QImageReader::setAllocationLimit(128);
  over = ReadEveryWay(Huge(6000, 6000, 24))[2];
  QImageReader::setAllocationLimit(limit);
  EXPECT_TRUE(over.warning.contains("138 MiB over the allocation limit of 128 MiB")) << over.warning.toStdString();
#endif
  // A device that fails part-way is a read error, not a short file.
  for (bool sequential : {false, true}) {
    Failing failing(Bytes(card), 20000, sequential);
    QImageReader reader(&failing, "qvx");
    Outcome failed = Read(&reader);
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.warning.contains("read error after 20000 of 57654 bytes: Input/output error"))
        << failed.warning.toStdString();
  }
}

// Every stored header size means to the plug-in what it means to the
// plug-in's own decode.
TEST(QtErrors, HeaderSizesAsTheCoreReadsThem) {
  for (uint32_t size = 0; size <= 124; ++size) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes = WithHeaderSize(size);
    RgbImage reference;
    bool expected = ReferenceDecode(bytes, &reference);
    for (const Outcome& outcome : ReadEveryWay(bytes)) {
      ASSERT_EQ(outcome.ok, expected) << outcome.warning.toStdString();
      if (expected) {
        EXPECT_TRUE(Rgb(outcome.image) == reference.rgb);
      }
    }
  }
}

// Pictures in a row in one device are read in turn, each announced by its
// own header, as Qt's BMP reader reads them; canRead() ends the loop.
TEST(QtFormat, PicturesInARowReadInTurn) {
  std::vector<uint8_t> second = MakeQvx(ShapeOf(24, 7, 5));
  QByteArray data = Bytes(Sample("card8.qvx")) + Bytes(second);
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  Pieces pieces(data);
  RgbImage reference;
  ASSERT_TRUE(ReferenceDecode(second, &reference));
  for (QIODevice* device : {static_cast<QIODevice*>(&buffer), static_cast<QIODevice*>(&pieces)}) {
    QImageReader reader(device);
    std::vector<QSize> sizes;
    QImage image;
    for (int round = 0; round < 4 && reader.canRead(); ++round) {
      QSize announced = reader.size();
      ASSERT_TRUE(reader.read(&image)) << round;
      EXPECT_EQ(image.size(), announced);
      sizes.push_back(image.size());
    }
    EXPECT_EQ(sizes, (std::vector<QSize>{QSize(160, 120), QSize(7, 5)}));
    EXPECT_TRUE(Rgb(image) == reference.rgb);
  }
}

// Qt knows the format by name, MIME type and content, takes no bytes to
// recognise it and reads no further than the last row; a plain BMP still
// goes to Qt's BMP reader; a real pipe brings its bytes late.
TEST(QtFormat, RegisteredRecognisedAndReadFromAPipe) {
  EXPECT_TRUE(QImageReader::supportedImageFormats().contains("qvx"));
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-qvx"));
  std::vector<uint8_t> card = Sample("card8.qvx");
  QByteArray bmp = Bytes(MakeBmp(ShapeOf(24, 4, 4))), cut = Bytes(Cut(card, card.size() - 1));
  QByteArray data = Bytes(card) + QByteArray(1000, 'x');
  QBuffer bmpBuffer(&bmp), cutBuffer(&cut), buffer(&data);
  for (QBuffer* b : {&bmpBuffer, &cutBuffer, &buffer}) b->open(QIODevice::ReadOnly);
  EXPECT_EQ(QImageReader(&bmpBuffer).format(), QByteArray("bmp"));
  EXPECT_EQ(QImageReader(&cutBuffer).size(), QSize(160, 120));  // from the header, rows missing
  QImageReader reader(&buffer);
  EXPECT_EQ(reader.format(), QByteArray("qvx"));
  EXPECT_EQ(reader.imageCount(), 1);
  EXPECT_EQ(buffer.pos(), 0);
  EXPECT_FALSE(reader.read().isNull());
  EXPECT_EQ(buffer.pos(), static_cast<qint64>(card.size()));

  std::vector<uint8_t> bytes = MakeQvx(ShapeOf(24, 1000, 1000));
  std::string path = TempPath("pipe.qvx");
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  QProcess cat;
  cat.start("cat", {QString::fromStdString(path)});
  ASSERT_TRUE(cat.waitForStarted());
  QImageReader fromPipe(&cat, "qvx");
  Outcome outcome = Read(&fromPipe);
  cat.waitForFinished();
  std::remove(path.c_str());
  RgbImage reference;
  ASSERT_TRUE(ReferenceDecode(bytes, &reference));
  EXPECT_TRUE(outcome.ok && Rgb(outcome.image) == reference.rgb) << outcome.warning.toStdString();
}

}  // namespace
