// Reading a 4096 x 4096 24-bit picture through QImageReader: as QVX through
// the build's QVX plug-in, and as BMP through Qt's own BMP reader. Runs
// alternate between the two so that a slow spell of the machine falls on
// both; prints each one's median and range and the ratio of the medians.
//   build/native/tavko_qt6_bench [RUNS] [--check]   (and tavko_qt5_bench)
// With --check the exit status is 1 when QVX takes more than 0.6 times as long.
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/pictures.h"
#include "encode/encode.h"
#include "tools/dib.h"

namespace {

const double kAllowedRatio = 0.6;

// Seconds for one read of a file; exits when the read fails.
double TimeRead(const std::string& path) {
  auto start = std::chrono::steady_clock::now();
  QImageReader reader(QString::fromStdString(path));
  QImage image = reader.read();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (image.isNull()) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), qPrintable(reader.errorString()));
    std::exit(2);
  }
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Print(const char* name, const std::vector<double>& times) {
  std::printf("%-28s median %7.1f ms   range %7.1f .. %7.1f ms\n", name, 1000 * Median(times),
              1000 * *std::min_element(times.begin(), times.end()),
              1000 * *std::max_element(times.begin(), times.end()));
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check") == 0) check = true;
    else runs = std::max(1, std::atoi(argv[i]));
  }
  setenv("QT_PLUGIN_PATH", TAVKO_QT_PLUGINS, 1);
  PictureShape shape = ShapeOf(24, 4096, 4096);
  std::vector<uint8_t> bmp = MakeBmp(shape), qvx;
  std::string why;
  if (!EncodeQvx(bmp, &qvx, &why)) {
    std::fprintf(stderr, "cannot encode the picture: %s\n", why.c_str());
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp ? tmp : "/tmp";
  std::string stem = dir + "/tavko-qt" + std::to_string(QT_VERSION_MAJOR) + "-bench";
  std::string bmpPath = stem + ".bmp", qvxPath = stem + ".qvx";
  if (!WriteFileBytes(bmpPath, bmp) || !WriteFileBytes(qvxPath, qvx)) {
    std::fprintf(stderr, "cannot write the pictures to %s\n", dir.c_str());
    return 2;
  }
  // One read each first, so that both files are in the page cache.
  TimeRead(qvxPath);
  TimeRead(bmpPath);
  std::vector<double> qvxTimes, bmpTimes;
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) {
      qvxTimes.push_back(TimeRead(qvxPath));
      bmpTimes.push_back(TimeRead(bmpPath));
    } else {
      bmpTimes.push_back(TimeRead(bmpPath));
      qvxTimes.push_back(TimeRead(qvxPath));
    }
  }
  std::remove(bmpPath.c_str());
  std::remove(qvxPath.c_str());
  std::printf("4096 x 4096, 24 bits, QImageReader::read with Qt %s, %d runs each\n", qVersion(), runs);
  Print("QVX (QVX plug-in)", qvxTimes);
  Print("BMP (Qt's BMP reader)", bmpTimes);
  double ratio = Median(qvxTimes) / Median(bmpTimes);
  std::printf("ratio QVX / BMP: %.2f (allowed %.2f)\n", ratio, kAllowedRatio);
  return check && ratio > kAllowedRatio ? 1 : 0;
}
