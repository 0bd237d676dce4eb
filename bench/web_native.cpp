// The native side of the web benchmark (bench/web.sh): a QVX file decoded
// by the core's row decoder into RGBA rows, top row first, in fresh memory
// each time, as the WebAssembly decoder hands its pixels to JavaScript.
// Prints the fastest and the median of the runs in milliseconds.
//
//   web_bench_native FILE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "decode/qvx_rows.h"

namespace {

QvxStatus PrepareRgba(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  uint8_t** pixels = static_cast<uint8_t**>(context);
  *pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(info.rowBytes * info.rows)));
  if (*pixels == nullptr) return kQvxNoMemory;
  target->pixels = *pixels;
  target->stride = info.rowBytes;
  return kQvxOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: web_bench_native FILE [RUNS]\n");
    return 2;
  }
  int runs = argc > 2 ? std::atoi(argv[2]) : 10;
  FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<uint8_t> bytes;
  uint8_t piece[1 << 16];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;) bytes.insert(bytes.end(), piece, piece + n);
  std::fclose(file);

  QvxRowSpec wanted = QvxDefaultRowSpec();
  wanted.layout = kQvxRgba8;
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    uint8_t* pixels = nullptr;
    auto start = std::chrono::steady_clock::now();
    QvxStatus status = QvxDecodeRows(QvxMemorySource(bytes.data(), bytes.size()), wanted, PrepareRgba, &pixels);
    auto stop = std::chrono::steady_clock::now();
    std::free(pixels);
    if (status != kQvxOk) {
      std::fprintf(stderr, "%s: status %d\n", argv[1], static_cast<int>(status));
      return 1;
    }
    times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("{\"min\": %.3f, \"median\": %.3f}\n", times.front(), times[times.size() / 2]);
  return 0;
}
