// The QVX plug-in as Qt programs meet it: loaded by Qt itself from the
// build folder (QT_PLUGIN_PATH) and used through QImageReader, from a file,
// a QBuffer and a one-way device, against the plug-in's own decode. The
// same source is built for Qt 5 and for Qt 6.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QString>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "decode/qvx.h"
#include "tests/pixbuf/reference.h"
#include "tools/qvx.h"

namespace {

// The last warning Qt passed on: where the plug-in says why a read failed.
QString lastWarning;

void KeepWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtWarningMsg) lastWarning = message;
}

// A one-way device, as a pipe or a network reply: pieces of 1 to 5003
// bytes, the first of one byte.
class Trickle : public QIODevice {
 public:
  explicit Trickle(const QByteArray& data) : data_(data) { open(ReadOnly); }
  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char* out, qint64 most) override {
    qint64 n = std::min<qint64>({most, 1 + (at_ * 7919) % 5003, data_.size() - at_});
    if (n <= 0) return -1;
    std::memcpy(out, data_.constData() + at_, static_cast<size_t>(n));
    at_ += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray data_;
  qint64 at_ = 0;
};

QByteArray Bytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

// One read: the image, whether it succeeded and the plug-in's warning.
struct Outcome {
  bool ok = false;
  QImage image;
  QString warning;
  QSize announced;  // the size the header gave before the read
  int announcedFormat = -1;
};

Outcome Read(QImageReader* reader) {
  Outcome out;
  lastWarning.clear();
  QtMessageHandler previous = qInstallMessageHandler(KeepWarning);
  out.announced = reader->size();
  out.announcedFormat = reader->imageFormat();
  out.ok = reader->read(&out.image);
  qInstallMessageHandler(previous);
  out.warning = lastWarning;
  return out;
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "qt-" + std::to_string(getpid()) + "-" + name;
}

// The three ways in: a file named .qvx, a QBuffer and a one-way device
// (both left to recognise the format by content, or told it is qvx).
std::vector<Outcome> ReadEveryWay(const std::vector<uint8_t>& bytes, const QByteArray& format = QByteArray()) {
  std::vector<Outcome> outcomes;
  std::string path = TempPath("picture.qvx");
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  {
    QImageReader reader(QString::fromStdString(path), format);
    outcomes.push_back(Read(&reader));
  }
  std::remove(path.c_str());
  QByteArray data = Bytes(bytes);
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader fromBuffer(&buffer, format);
  outcomes.push_back(Read(&fromBuffer));
  Trickle trickle(data);
  QImageReader fromTrickle(&trickle, format);
  outcomes.push_back(Read(&fromTrickle));
  return outcomes;
}

RgbImage ToRgb(const QImage& image) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  RgbImage out;
  out.width = rgb.width();
  out.height = rgb.height();
  for (int y = 0; y < rgb.height(); ++y)
    out.rgb.insert(out.rgb.end(), rgb.constScanLine(y), rgb.constScanLine(y) + 3 * rgb.width());
  return out;
}

struct Group {
  const char* name;
  const char* dir;
  bool encode;
};

void PrintTo(const Group& group, std::ostream* out) { *out << group.name; }

class EveryPicture : public testing::TestWithParam<Group> {};

// Every picture, every way in: the plug-in's own decode, with the size and
// form the header announced and the density; or a refusal every way.
TEST_P(EveryPicture, ReadsAsThePluginDecodes) {
  const Group& group = GetParam();
  int decoded = 0, count = 0;
  for (const std::string& path : FilesIn(group.dir)) {
    SCOPED_TRACE(BaseName(path));
    std::vector<uint8_t> bytes = ReadFileBytes(path), qvx;
    std::string why;
    if (group.encode && EncodeQvx(bytes, &qvx, &why)) bytes = qvx;
    ++count;
    RgbImage reference;
    bool expected = ReferenceDecode(bytes, &reference);
    decoded += expected;
    QvxHeader header = {};
    QvxReadHeader(bytes.data(), bytes.size(), &header);
    // Bitmaps QVX cannot hold stay as they are: Qt's BMP reader would take
    // them by content, so they are handed to the plug-in by name.
    bool qvxSignature = bytes.size() >= 2 && bytes[0] == 0xBD && bytes[1] == 0xB2;
    for (const Outcome& outcome : ReadEveryWay(bytes, qvxSignature ? "" : "qvx")) {
      ASSERT_EQ(outcome.ok, expected) << outcome.warning.toStdString();
      if (!expected) continue;
      EXPECT_EQ(outcome.announced, outcome.image.size());
      EXPECT_EQ(outcome.announcedFormat, static_cast<int>(outcome.image.format()));
      RgbImage got = ToRgb(outcome.image);
      EXPECT_EQ(got.width, reference.width);
      EXPECT_EQ(got.height, reference.height);
      EXPECT_TRUE(got.rgb == reference.rgb) << "pixels differ";
      if (header.biXPelsPerMeter > 0) {
        EXPECT_EQ(outcome.image.dotsPerMeterX(), header.biXPelsPerMeter);
      }
    }
  }
  std::printf("%s: %d of %d pictures decoded\n", group.name, decoded, count);
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

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t length) {
  bytes.resize(length);
  return bytes;
}

// A header that promises far more than it carries.
std::vector<uint8_t> Huge(int32_t width, int32_t height, uint16_t bits) {
  PictureShape shape = ShapeOf(bits, width, height);
  shape.pixelBytes = 16;
  return MakeQvx(shape);
}

struct Refusal {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* warning;  // a part of the plug-in's warning; null: reads
};

// Broken and foreign files handed to the plug-in by name: a refusal with
// its reason every way in, never a picture.
TEST(QtErrors, ClearReasonForEveryBadFile) {
  std::vector<uint8_t> card = Sample("card24.qvx");
  PictureShape compressed = ShapeOf(8, 4, 4, 256);
  compressed.compression = 1;
  std::vector<uint8_t> appended = card;
  appended.insert(appended.end(), 100000, 0x5A);
  const Refusal cases[] = {
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
      {"bytes after the last row", appended, nullptr},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Outcome& outcome : ReadEveryWay(c.bytes, "qvx")) {
      ASSERT_EQ(outcome.ok, c.warning == nullptr) << outcome.warning.toStdString();
      if (outcome.ok) continue;
      EXPECT_TRUE(outcome.image.isNull());
      EXPECT_TRUE(outcome.warning.contains(QString::fromUtf8(c.warning))) << outcome.warning.toStdString();
    }
  }
}

// Qt knows the format by name, MIME type and content; a plain BMP still
// goes to Qt's own reader; a picture is read no further than its last row;
// the size comes from the header even when rows are missing.
TEST(QtFormat, RegisteredAndRecognisedByContent) {
  EXPECT_TRUE(QImageReader::supportedImageFormats().contains("qvx"));
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-qvx"));

  QByteArray bmp = Bytes(MakeBmp(ShapeOf(24, 4, 4)));
  QBuffer bmpBuffer(&bmp);
  bmpBuffer.open(QIODevice::ReadOnly);
  QImageReader bmpReader(&bmpBuffer);
  EXPECT_EQ(bmpReader.format(), QByteArray("bmp"));
  EXPECT_FALSE(bmpReader.read().isNull());

  std::vector<uint8_t> card = Sample("card8.qvx");
  QByteArray data = Bytes(card) + QByteArray(1000, 'x');
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  EXPECT_EQ(reader.format(), QByteArray("qvx"));
  EXPECT_EQ(reader.imageCount(), 1);
  EXPECT_EQ(buffer.pos(), 0) << "recognition took bytes";
  EXPECT_FALSE(reader.read().isNull());
  EXPECT_EQ(buffer.pos(), static_cast<qint64>(card.size()));

  QByteArray cut = Bytes(Cut(card, card.size() - 1));
  QBuffer cutBuffer(&cut);
  cutBuffer.open(QIODevice::ReadOnly);
  QImageReader cutReader(&cutBuffer);
  RgbImage reference;
  ASSERT_TRUE(ReferenceDecode(card, &reference));
  EXPECT_EQ(cutReader.size(), QSize(reference.width, reference.height));
  EXPECT_EQ(cutReader.imageFormat(), QImage::Format_Indexed8);
}

// Through a real pipe, whose bytes come in pieces as the writer gets to them.
TEST(QtFormat, ReadsFromAPipe) {
  std::vector<uint8_t> bytes = MakeQvx(ShapeOf(24, 1000, 1000));
  std::string path = TempPath("pipe.qvx");
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  QProcess cat;
  cat.start("cat", {QString::fromStdString(path)});
  ASSERT_TRUE(cat.waitForStarted());
  QImageReader reader(&cat, "qvx");
  Outcome outcome = Read(&reader);
  cat.waitForFinished();
  std::remove(path.c_str());
  RgbImage reference;
  ASSERT_TRUE(ReferenceDecode(bytes, &reference));
  ASSERT_TRUE(outcome.ok) << outcome.warning.toStdString();
  EXPECT_TRUE(ToRgb(outcome.image).rgb == reference.rgb);
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// QImageReader's allocation limit holds for QVX pictures too.
TEST(QtFormat, AllocationLimitRespected) {
  QByteArray data = Bytes(MakeQvx(ShapeOf(24, 1024, 1024)));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  int limit = QImageReader::allocationLimit();
  QImageReader::setAllocationLimit(2);
  QImageReader reader(&buffer);
  Outcome outcome = Read(&reader);
  QImageReader::setAllocationLimit(limit);
  EXPECT_FALSE(outcome.ok);
  EXPECT_TRUE(outcome.warning.contains("allocation limit of 2 MiB")) << outcome.warning.toStdString();
}
#endif

}  // namespace
