// What writing PNG costs in the tavko command, measured as a person meets
// it: whole runs of the command, decoding one 4096 x 4096 24-bit photo-like
// picture and a batch of 200 pictures of 640 x 480, to BMP and to PNG, in
// one run with the repetitions interleaved. Also the PNG's size against
// libpng's at level 6 with its own filter choice, and at --level 9.
// png_bench [--wine] TAVKO...   (e.g. png_bench build/native/tavko, or
// png_bench --wine wine build/win32/tavko.exe: paths then go through Z:)
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/pictures.h"
#include "encode/encode.h"

namespace {

std::string tavko;   // the command, words joined
bool wine = false;   // paths need Wine's Z: drive
std::string folder;  // scratch space

std::string Win(const std::string& path) { return wine ? "Z:" + path : path; }

// A photo-like picture: smooth shading, edges and a little sensor noise.
std::vector<uint8_t> Photo(int width, int height, uint32_t seed) {
  std::vector<uint8_t> bmp(54 + static_cast<size_t>((width * 3 + 3) / 4 * 4) * height, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(2, static_cast<uint32_t>(bmp.size()));
  put(10, 54);
  put(14, 40);
  put(18, width);
  put(22, height);
  bmp[26] = 1;
  bmp[28] = 24;
  size_t stride = (width * 3 + 3) / 4 * 4;
  uint32_t state = seed;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = &bmp[54 + stride * y];
    for (int x = 0; x < width; ++x) {
      double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
      state = state * 1664525u + 1013904223u;
      int noise = static_cast<int>(state >> 29) - 4;
      for (int c = 0; c < 3; ++c) {
        double v = 120 + 70 * std::sin(fx * 7 + c + 3 * fy + seed) + 40 * std::cos(fy * 11 - fx * 5 + c * 2) +
                   (std::sin(fx * 60) > 0.6 ? 25 : 0);
        int level = static_cast<int>(v) + noise;
        row[3 * x + c] = static_cast<uint8_t>(level < 0 ? 0 : level > 255 ? 255 : level);
      }
    }
  }
  return bmp;
}

double Run(const std::string& args) {
  std::string command = tavko + " " + args + " >/dev/null 2>&1";
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "png_bench: failed: %s\n", command.c_str());
    std::exit(1);
  }
  return seconds;
}

long long SizeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// libpng at level 6 with its default filter choice, from the same pixels.
long long LibpngSize(const std::vector<uint8_t>& bmp, int width, int height) {
  std::string path = folder + "/libpng.png";
  FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  size_t stride = (width * 3 + 3) / 4 * 4;
  for (int y = height - 1; y >= 0; --y) png_write_row(png, const_cast<uint8_t*>(&bmp[54 + stride * y]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
  return SizeOf(path);
}

struct Timing {
  const char* name;
  std::string args;
  std::vector<double> seconds;
  double Median() {
    std::vector<double> s = seconds;
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
  }
};

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "--wine") {
    wine = true;
    first = 2;
  }
  if (argc <= first) {
    std::fprintf(stderr, "usage: png_bench [--wine] TAVKO...\n");
    return 2;
  }
  for (int i = first; i < argc; ++i) tavko += (i > first ? " " : "") + std::string(argv[i]);
  char pattern[] = "/tmp/png-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  folder = pattern;
  std::string big = folder + "/photo.qvx", batch = folder + "/batch";
  mkdir(batch.c_str(), 0755);
  mkdir((folder + "/out").c_str(), 0755);
  std::vector<uint8_t> photo = Photo(4096, 4096, 1), qvx;
  std::string why;
  if (!EncodeQvx(photo, &qvx, &why) || !WriteFileBytes(big, qvx)) return 1;
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> small = Photo(640, 480, 100 + i);
    char name[64];
    std::snprintf(name, sizeof name, "/p%03d.qvx", i);
    if (!EncodeQvx(small, &qvx, &why) || !WriteFileBytes(batch + name, qvx)) return 1;
  }
  std::string out = folder + "/out";
  Timing timings[] = {
      {"photo to BMP", "decode " + Win(big) + " " + Win(out + "/photo.bmp"), {}},
      {"photo to PNG", "decode " + Win(big) + " " + Win(out + "/photo.png"), {}},
      {"photo to PNG --level 9", "decode --level 9 " + Win(big) + " " + Win(out + "/photo9.png"), {}},
      {"batch to BMP", "decode -q " + Win(batch) + "/*.qvx -d " + Win(out) + " --format bmp", {}},
      {"batch to PNG", "decode -q " + Win(batch) + "/*.qvx -d " + Win(out) + " --format png", {}},
  };
  const int kRepetitions = 5;
  std::vector<int> order;
  for (int r = 0; r < kRepetitions; ++r)
    for (int t = 0; t < 5; ++t) order.push_back(t);
  std::mt19937 shuffle(7);
  std::shuffle(order.begin(), order.end(), shuffle);
  for (int t : order) timings[t].seconds.push_back(Run(timings[t].args));

  long long ours = SizeOf(out + "/photo.png"), smallest = SizeOf(out + "/photo9.png");
  long long reference = LibpngSize(photo, 4096, 4096);
  std::printf("%-24s %10s %10s %10s\n", "run", "median s", "min s", "max s");
  for (Timing& t : timings)
    std::printf("%-24s %10.3f %10.3f %10.3f\n", t.name, t.Median(), *std::min_element(t.seconds.begin(), t.seconds.end()),
                *std::max_element(t.seconds.begin(), t.seconds.end()));
  std::printf("\nRatios (median times of one run)\n");
  std::printf("photo PNG / BMP             %6.2f   (target at most 3)\n", timings[1].Median() / timings[0].Median());
  std::printf("photo PNG --level 9 / BMP   %6.2f\n", timings[2].Median() / timings[0].Median());
  std::printf("batch PNG / BMP             %6.2f   (target at most 3)\n", timings[4].Median() / timings[3].Median());
  std::printf("PNG size / libpng level 6   %6.3f   (%lld / %lld bytes; target at most 1.15)\n",
              static_cast<double>(ours) / reference, ours, reference);
  std::printf("--level 9 size / libpng 6   %6.3f   (%lld bytes)\n", static_cast<double>(smallest) / reference, smallest);
  std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}
