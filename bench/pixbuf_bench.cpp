// Loading a 4096 x 4096 24-bit picture through gdk-pixbuf: as QVX through
// the QVX loader module, and as BMP through gdk-pixbuf's own BMP loader.
// Runs alternate between the two so that a slow spell of the machine falls
// on both; prints each one's median and range and the ratio of the medians.
//   build/native/tavko_pixbuf_bench [RUNS] [--check]
// It loads through the build's loader cache and MIME database.
// With --check the exit status is 1 when QVX takes more than 1.5 times as long.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/pictures.h"
#include "encode/encode.h"

namespace {

const double kAllowedRatio = 1.5;

// Seconds for one whole-file load; exits when the load fails.
double TimeLoad(const std::string& path) {
  auto start = std::chrono::steady_clock::now();
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (pixbuf == nullptr) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error ? error->message : "failed");
    std::exit(2);
  }
  g_object_unref(pixbuf);
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
  setenv("GDK_PIXBUF_MODULE_FILE", TAVKO_PIXBUF_CACHE, 1);
  setenv("XDG_DATA_HOME", TAVKO_PIXBUF_SHARE, 1);
  PictureShape shape = ShapeOf(24, 4096, 4096);
  std::vector<uint8_t> bmp = MakeBmp(shape), qvx;
  std::string why;
  if (!EncodeQvx(bmp, &qvx, &why)) {
    std::fprintf(stderr, "cannot encode the picture: %s\n", why.c_str());
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp ? tmp : "/tmp";
  std::string bmpPath = dir + "/tavko-pixbuf-bench.bmp", qvxPath = dir + "/tavko-pixbuf-bench.qvx";
  if (!WriteFileBytes(bmpPath, bmp) || !WriteFileBytes(qvxPath, qvx)) {
    std::fprintf(stderr, "cannot write the pictures to %s\n", dir.c_str());
    return 2;
  }
  // One load each first, so that both files are in the page cache.
  TimeLoad(qvxPath);
  TimeLoad(bmpPath);
  std::vector<double> qvxTimes, bmpTimes;
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) {
      qvxTimes.push_back(TimeLoad(qvxPath));
      bmpTimes.push_back(TimeLoad(bmpPath));
    } else {
      bmpTimes.push_back(TimeLoad(bmpPath));
      qvxTimes.push_back(TimeLoad(qvxPath));
    }
  }
  std::remove(bmpPath.c_str());
  std::remove(qvxPath.c_str());
  std::printf("4096 x 4096, 24 bits, gdk_pixbuf_new_from_file, %d runs each\n", runs);
  Print("QVX (QVX loader)", qvxTimes);
  Print("BMP (gdk-pixbuf BMP loader)", bmpTimes);
  double ratio = Median(qvxTimes) / Median(bmpTimes);
  std::printf("ratio QVX / BMP: %.2f (allowed %.2f)\n", ratio, kAllowedRatio);
  return check && ratio > kAllowedRatio ? 1 : 0;
}
