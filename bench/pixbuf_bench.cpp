// Loading 4096 x 4096 pictures (24 and 8 bits) through gdk-pixbuf: as QVX
// through the QVX loader module, and as BMP through gdk-pixbuf's own BMP
// loader, each as a whole file (gdk_pixbuf_new_from_file) and fed to a
// GdkPixbufLoader in 64 KiB pieces read from the file. Runs alternate
// between the two formats so that a slow spell of the machine falls on
// both; prints the median times, the median and range of the ratios of
// paired runs, and the peak resident memory of one load of each (measured
// in a child process, beyond what it held before the load).
//   build/native/tavko_pixbuf_bench [RUNS] [--check]
// It loads through the build's loader cache and MIME database. With --check
// the exit status is 1 when QVX takes more than 0.6 (whole file) or 0.7
// (pieces) of the BMP loader's time, or peaks above the BMP loader (by more
// than 0.25 MiB, the spread of the measurement) or above the pixbuf's size
// plus 2 MiB.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/wait.h>
#include <unistd.h>

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

const int kSide = 4096;
const size_t kPiece = 64 * 1024;

// One load; exits when it fails.
void Load(const std::string& path, const char* type, bool pieces) {
  GError* error = nullptr;
  GdkPixbuf* pixbuf = nullptr;
  if (!pieces) {
    pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  } else {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, &error);
    FILE* file = std::fopen(path.c_str(), "rb");
    static uint8_t piece[kPiece];
    size_t got;
    bool ok = loader != nullptr && file != nullptr;
    while (ok && (got = std::fread(piece, 1, sizeof piece, file)) > 0)
      ok = gdk_pixbuf_loader_write(loader, piece, got, &error);
    if (file != nullptr) std::fclose(file);
    if (loader != nullptr && gdk_pixbuf_loader_close(loader, ok ? &error : nullptr) && ok) {
      pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
      if (pixbuf != nullptr) g_object_ref(pixbuf);
    }
    if (loader != nullptr) g_object_unref(loader);
  }
  if (pixbuf == nullptr) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error ? error->message : "failed");
    std::exit(2);
  }
  g_object_unref(pixbuf);
}

double TimeLoad(const std::string& path, const char* type, bool pieces) {
  auto start = std::chrono::steady_clock::now();
  Load(path, type, pieces);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long StatusKib(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long value = -1;
  while (status && std::fgets(line, sizeof line, status))
    if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atol(line + std::strlen(field));
  if (status) std::fclose(status);
  return value;
}

// Peak resident memory of one load in a child process, in MiB beyond what
// the child held before it (after a first load there, so that the code it
// runs is paged in on both sides); -1 where the kernel cannot reset the mark.
double PeakMib(const std::string& path, const char* type, bool pieces) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    long peak = -1;
    Load(path, type, pieces);
    FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (reset != nullptr && std::fputs("5", reset) >= 0 && std::fclose(reset) == 0) {
      long before = StatusKib("VmRSS:");
      Load(path, type, pieces);
      peak = StatusKib("VmHWM:") - before;
    }
    ssize_t written = write(fds[1], &peak, sizeof peak);
    _exit(written == sizeof peak ? 0 : 1);
  }
  close(fds[1]);
  long peak = -1;
  if (child < 0 || read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
  close(fds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return peak < 0 ? -1 : peak / 1024.0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp ? tmp : "/tmp";
  double pixbufMib = 3.0 * kSide * kSide / 1048576;
  bool within = true;
  std::printf("%d x %d, %d runs each, QVX through the QVX loader, BMP through gdk-pixbuf's BMP loader;\n"
              "peak: resident memory of one load beyond what was held before it (the pixbuf is %.1f MiB)\n",
              kSide, kSide, runs, pixbufMib);
  std::printf("%-4s %-14s %8s %8s %22s %10s %10s\n", "bits", "way", "QVX ms", "BMP ms", "QVX / BMP [range]",
              "QVX peak", "BMP peak");
  for (uint16_t bits : {24, 8}) {
    PictureShape shape = ShapeOf(bits, kSide, kSide, bits <= 8 ? 256 : 0);
    std::vector<uint8_t> bmp = MakeBmp(shape), qvx;
    std::string why;
    if (!EncodeQvx(bmp, &qvx, &why)) {
      std::fprintf(stderr, "cannot encode the picture: %s\n", why.c_str());
      return 2;
    }
    std::string bmpPath = dir + "/tavko-pixbuf-bench.bmp", qvxPath = dir + "/tavko-pixbuf-bench.qvx";
    if (!WriteFileBytes(bmpPath, bmp) || !WriteFileBytes(qvxPath, qvx)) {
      std::fprintf(stderr, "cannot write the pictures to %s\n", dir.c_str());
      return 2;
    }
    for (bool pieces : {false, true}) {
      // One load each first, so that both files are in the page cache.
      Load(qvxPath, "qvx", pieces);
      Load(bmpPath, "bmp", pieces);
      std::vector<double> qvxTimes, bmpTimes, ratios;
      for (int i = 0; i < runs; ++i) {
        double q, b;
        if (i % 2 == 0) {
          q = TimeLoad(qvxPath, "qvx", pieces);
          b = TimeLoad(bmpPath, "bmp", pieces);
        } else {
          b = TimeLoad(bmpPath, "bmp", pieces);
          q = TimeLoad(qvxPath, "qvx", pieces);
        }
        qvxTimes.push_back(q), bmpTimes.push_back(b), ratios.push_back(q / b);
      }
      double qvxPeak = PeakMib(qvxPath, "qvx", pieces), bmpPeak = PeakMib(bmpPath, "bmp", pieces);
      double ratio = Median(ratios);
      char range[64];
      std::snprintf(range, sizeof range, "%.2f [%.2f-%.2f]", ratio, *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()));
      std::printf("%-4u %-14s %8.1f %8.1f %22s %6.2f MiB %6.2f MiB\n", bits, pieces ? "64 KiB pieces" : "whole file",
                  1000 * Median(qvxTimes), 1000 * Median(bmpTimes), range, qvxPeak, bmpPeak);
      within = within && ratio <= (pieces ? 0.7 : 0.6) && qvxPeak <= bmpPeak + 0.25 && qvxPeak <= pixbufMib + 2;
    }
    std::remove(bmpPath.c_str());
    std::remove(qvxPath.c_str());
  }
  std::printf("targets (QVX / BMP <= 0.6 whole, <= 0.7 in pieces; peak <= BMP's + 0.25 and <= pixbuf + 2 MiB): %s\n",
              within ? "met" : "NOT met");
  return check && !within ? 1 : 0;
}
