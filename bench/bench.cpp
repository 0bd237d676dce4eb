// Decoding speed of 4096 x 4096 pictures at every depth and option, against
// baselines measured in the same run: a memcpy of the delivered pixel bytes
// into freshly allocated memory (what any decoder must at least do), one
// read of the file, and stb_image decoding the same picture stored as BMP.
// The Linux build runs under Google Benchmark; the Windows build, which
// loads the real TAVKO.SPI, times the same operations with a small runner
// of its own. Both end with the same table of ratios.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#include <stb_image.h>

#include "common/pictures.h"
#include "tools/exports.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decode/qvx_rows.h"
#include "native/qvx_native.h"
#include "settings/options.h"
#endif

namespace {

const int kSide = 4096;

struct Case {
  const char* name;
  uint16_t bits;
  int keep;  // keep16 / keep32 set
};
const Case kCases[] = {{"1", 1, 0},   {"2", 2, 0},   {"4", 4, 0},   {"8", 8, 0},   {"16", 16, 0},
                       {"16k", 16, 1}, {"24", 24, 0}, {"32", 32, 0}, {"32k", 32, 1}};

PluginExports Plugin;

// The pictures of the case being measured; one case is held at a time.
struct Prepared {
  const Case* which = nullptr;
  std::vector<uint8_t> qvx;
  std::vector<uint8_t> bmp;
  std::vector<uint8_t> source;  // memcpy source, as large as the delivered pixels
  std::string path;
  size_t pixelBytes = 0;
};
Prepared current;

std::string TempPath(const char* name) {
#ifdef _WIN32
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + name;
#else
  return "/tmp/tavko-bench-" + std::to_string(getpid()) + "-" + name;
#endif
}

void Release(HLOCAL info, HLOCAL bits) {
  if (info) LocalFree(info);
  if (bits) LocalFree(bits);
}

void Prepare(const Case& c) {
  if (current.which == &c) return;
  if (!current.path.empty()) std::remove(current.path.c_str());
  current = Prepared();
  current.which = &c;
  PictureShape shape = ShapeOf(c.bits, kSide, kSide, c.bits <= 8 ? 1u << c.bits : 0);
  current.bmp = MakeBmp(shape);
  current.qvx = MakeQvx(shape);
  current.path = TempPath((std::string(c.name) + ".qvx").c_str());
  WriteFileBytes(current.path, current.qvx);
  HLOCAL info = nullptr, bits = nullptr;
  if (Plugin.getPicture(reinterpret_cast<char*>(current.qvx.data()), static_cast<int32_t>(current.qvx.size()), 1,
                        &info, &bits, nullptr, 0) == 0)
    current.pixelBytes = LocalSize(bits);
  Release(info, bits);
  current.source.assign(current.pixelBytes, 0x5A);
}

#ifdef _WIN32
// The Windows build times the real TAVKO.SPI as a host calls it, with the
// options its registry holds, and baselines in the same local blocks.
void SetOptions(const Case&) {}

void DecodeMemory() {
  HLOCAL info = nullptr, bits = nullptr;
  Plugin.getPicture(reinterpret_cast<char*>(current.qvx.data()), static_cast<LONG_PTR>(current.qvx.size()), 1, &info,
                    &bits, nullptr, 0);
  Release(info, bits);
}

void DecodeFile() {
  HLOCAL info = nullptr, bits = nullptr;
  Plugin.getPicture(const_cast<char*>(current.path.c_str()), 0, 0, &info, &bits, nullptr, 0);
  Release(info, bits);
}

void MemcpyBaseline() {
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, current.pixelBytes);
  void* to = LocalLock(block);
  std::memcpy(to, current.source.data(), current.pixelBytes);
  LocalUnlock(block);
  LocalFree(block);
}

void ReadBaseline() {
  HANDLE file = CreateFileA(current.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
  DWORD size = GetFileSize(file, nullptr), read = 0;
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size);
  void* to = LocalLock(block);
  ReadFile(file, to, size, &read, nullptr);
  CloseHandle(file);
  LocalUnlock(block);
  LocalFree(block);
}
#else
// The Linux build times the core as the tavko tool and the desktop loader
// use it (plain zero-filled memory, pread), and baselines in the same
// kind of memory.
QvxOptions benchOptions;

void SetOptions(const Case& c) {
  PluginSettings.keep16 = PluginSettings.keep32 = c.keep;
  UpdateOutputDepths();
  benchOptions = QvxDefaultOptions();
  benchOptions.keep16 = benchOptions.keep32 = c.keep != 0;
}

void DecodeMemory() {
  NativeBitmap bitmap;
  DecodeQvxMemory(current.qvx.data(), current.qvx.size(), benchOptions, nullptr, nullptr, &bitmap);
  FreeNativeBitmap(&bitmap);
}

void DecodeFile() {
  int fd = open(current.path.c_str(), O_RDONLY);
  struct stat info;
  fstat(fd, &info);
  NativeBitmap bitmap;
  DecodeQvxFile(fd, 0, static_cast<uint64_t>(info.st_size), benchOptions, nullptr, nullptr, &bitmap);
  close(fd);
  FreeNativeBitmap(&bitmap);
}

void MemcpyBaseline() {
  uint8_t* to = AllocatePictureBlock(current.pixelBytes);
  std::memcpy(to, current.source.data(), current.pixelBytes);
  benchmark::DoNotOptimize(to);
  FreePictureBlock(to, current.pixelBytes);
}

void ReadBaseline() {
  int fd = open(current.path.c_str(), O_RDONLY);
  struct stat info;
  fstat(fd, &info);
  size_t size = static_cast<size_t>(info.st_size), done = 0;
  uint8_t* to = AllocatePictureBlock(size);
  while (done < size) {
    ssize_t got = read(fd, to + done, size - done);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  close(fd);
  FreePictureBlock(to, size);
}

// The core's rows in a caller's layout, from memory, into fresh memory of
// the destination's size, against a memcpy of as many bytes.
std::vector<uint8_t> rowsSource(static_cast<size_t>(4) * kSide * kSide, 0x5A);

QvxStatus FreshRows(void* context, const QvxPictureInfo& info, QvxRowTarget* target) {
  uint8_t** rows = static_cast<uint8_t**>(context);
  *rows = static_cast<uint8_t*>(std::calloc(info.rowBytes * info.rows, 1));
  *target = {*rows, info.rowBytes, nullptr, nullptr};
  return *rows != nullptr ? kQvxOk : kQvxNoMemory;
}

template <QvxPixelLayout L>
void DecodeRows() {
  QvxRowSpec wanted = QvxDefaultRowSpec();
  wanted.layout = L == kQvxIndex8 ? kQvxRgb8 : L;
  wanted.indices = L == kQvxIndex8;
  uint8_t* rows = nullptr;
  QvxDecodeRows(QvxMemorySource(current.qvx.data(), current.qvx.size()), wanted, FreshRows, &rows);
  benchmark::DoNotOptimize(rows);
  std::free(rows);
}

template <int N>
void MemcpyRows() {
  size_t bytes = static_cast<size_t>(N) * kSide * kSide;
  void* to = std::calloc(bytes, 1);
  std::memcpy(to, rowsSource.data(), bytes);
  benchmark::DoNotOptimize(to);
  std::free(to);
}
#endif

void StbReader() {
  int w, h, n;
  stbi_uc* pixels = stbi_load_from_memory(current.bmp.data(), static_cast<int>(current.bmp.size()), &w, &h, &n, 0);
  stbi_image_free(pixels);
}

struct Operation {
  const char* name;
  void (*run)();
};
const Operation kOperations[] = {{"memory", DecodeMemory},
                                 {"file", DecodeFile},
                                 {"memcpy", MemcpyBaseline},
                                 {"read", ReadBaseline},
                                 {"stb", StbReader}};
#ifndef _WIN32
const Operation kRowOperations[] = {{"rgb", DecodeRows<kQvxRgb8>},     {"memcpy3", MemcpyRows<3>},
                                    {"bgra", DecodeRows<kQvxBgra8>},   {"memcpy4", MemcpyRows<4>},
                                    {"index", DecodeRows<kQvxIndex8>}, {"memcpy1", MemcpyRows<1>}};
#endif

// Seconds per call of each repetition, by "case/operation".
std::map<std::string, std::vector<double>> timings;

std::vector<uint8_t> invertBuffer;
int32_t invertBytes = 0;
int (*invertOnce)(uint8_t*, int32_t) = nullptr;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Ratios per repetition i of a / b (and of a / (b + c)), summarised as
// median [min, max].
std::string Ratio(const std::string& a, const std::string& b, const std::string& c = "") {
  const auto& x = timings[a];
  const auto& y = timings[b];
  if (x.empty() || y.empty()) return "n/a";
  std::vector<double> ratios;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    double base = y[i] + (c.empty() || timings[c].size() <= i ? 0 : timings[c][i]);
    ratios.push_back(x[i] / base);
  }
  std::sort(ratios.begin(), ratios.end());
  char text[64];
  std::snprintf(text, sizeof text, "%.2f [%.2f-%.2f]", Median(ratios), ratios.front(), ratios.back());
  return text;
}

void PrintTable(const char* build) {
  std::printf("\nRatios, %s build, %dx%d pictures: median [min-max] of the repetitions\n", build, kSide, kSide);
  std::printf("%-5s %12s %20s %20s %20s %20s %10s\n", "depth", "memory MB/s", "memory / memcpy", "file / read",
              "file / (mem+read)", "stb / memory", "memcpy ms");
  for (const Case& c : kCases) {
    std::string k = c.name;
    if (timings[k + "/memory"].empty()) continue;
    double seconds = Median(timings[k + "/memory"]);
    int delivered = c.bits == 2 ? 4 : (c.bits == 16 || c.bits == 32) && !c.keep ? 24 : c.bits;
    double bytes = static_cast<double>(kSide) * kSide * delivered / 8;
    std::printf("%-5s %12.0f %20s %20s %20s %20s %10.2f\n", c.name, bytes / seconds / 1e6,
                Ratio(k + "/memory", k + "/memcpy").c_str(), Ratio(k + "/file", k + "/read").c_str(),
                Ratio(k + "/file", k + "/memory", k + "/read").c_str(), Ratio(k + "/stb", k + "/memory").c_str(),
                Median(timings[k + "/memcpy"]) * 1e3);
  }
  if (!timings["24/rgb"].empty()) {
    std::printf("\nRows in the caller's layout from memory, against a memcpy of the destination bytes\n");
    std::printf("%-5s %20s %20s %20s\n", "depth", "RGB / memcpy", "BGRA / memcpy", "indices / memcpy");
    for (const Case& c : kCases) {
      std::string k = c.name;
      if (timings[k + "/rgb"].empty()) continue;
      std::printf("%-5s %20s %20s %20s\n", c.name, Ratio(k + "/rgb", k + "/memcpy3").c_str(),
                  Ratio(k + "/bgra", k + "/memcpy4").c_str(),
                  c.bits <= 8 ? Ratio(k + "/index", k + "/memcpy1").c_str() : "");
    }
  }
  for (const char* size : {"1KiB", "1MiB"}) {
    std::string byte = std::string("invert/") + size + "/bytes", mmx = std::string("invert/") + size + "/mmx";
    if (timings[byte].empty()) continue;
    std::printf("InvertBytes %s: byte path %.1f MB/s, MMX path %.1f MB/s, MMX / byte time %s\n", size,
                (size[1] == 'K' ? 1024.0 : 1048576.0) / Median(timings[byte]) / 1e6,
                (size[1] == 'K' ? 1024.0 : 1048576.0) / Median(timings[mmx]) / 1e6, Ratio(mmx, byte).c_str());
  }
}

// True when the plug-in delivers this case's depth under the options in force.
bool Deliverable(const Case& c) {
  Prepare(c);
  PictureInfo info{};
  Plugin.getPictureInfo(reinterpret_cast<char*>(current.qvx.data()), static_cast<int32_t>(current.qvx.size()), 1,
                        &info);
  int expected = c.bits == 2 ? 4 : c.bits == 16 ? (c.keep ? 16 : 24) : c.bits == 32 ? (c.keep ? 32 : 24) : c.bits;
  return info.bitDepth == expected;
}

}  // namespace

#ifdef _WIN32
// The Windows runner: five repetitions of at least 0.2 s each after a
// warm-up call, taken in turn over a case's operations, so that a slow
// spell of the machine does not fall on one side of a ratio. The options
// come from the registry; cases whose depth the stored options do not
// deliver are left out of this run.
namespace {

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / frequency.QuadPart;
}

void Repetition(const std::string& name, const std::function<void()>& run) {
  int calls = 0;
  double start = Now(), elapsed;
  do {
    run();
    ++calls;
    elapsed = Now() - start;
  } while (elapsed < 0.2);
  timings[name].push_back(elapsed / calls);
}

void MeasureCase(const Case& c) {
  std::vector<const Operation*> ops;
  for (const Operation& op : kOperations)
    if (op.run != StbReader || c.bits != 2) ops.push_back(&op), op.run();
  for (int rep = 0; rep < 5; ++rep)
    for (const Operation* op : ops) Repetition(std::string(c.name) + "/" + op->name, op->run);
  for (const Operation* op : ops) {
    std::string name = std::string(c.name) + "/" + op->name;
    std::printf("%-18s %10.3f ms\n", name.c_str(), Median(timings[name]) * 1e3);
  }
  std::fflush(stdout);
}

}  // namespace

int main() {
  std::string why;
  if (!LoadPluginExports("", &Plugin, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  for (const Case& c : kCases) {
    if (Deliverable(c)) MeasureCase(c);
  }
  PrintTable(sizeof(void*) == 8 ? "64-bit Windows (TAVKO.SPH under Wine)" : "Windows (TAVKO.SPI under Wine)");
  std::remove(current.path.c_str());
  return 0;
}
#else
// The Linux runner: Google Benchmark, with a reporter that keeps every
// repetition for the table.
namespace {

class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration)
        timings[run.benchmark_name().substr(0, run.benchmark_name().find("/min_time"))].push_back(
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit));
  }
};

int InvertWithBytes(uint8_t* start, int32_t count) { return InvertBytes(start, count, false); }
int InvertWithMmx(uint8_t* start, int32_t count) { return InvertBytes(start, count, true); }

// Peak memory of one file decode, beyond what the process held before, as
// the kernel's high-water mark shows it, against the two delivered blocks.
void ReportPeakMemory(const Case& c) {
  SetOptions(c);
  Prepare(c);
  auto kib = [](const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    while (status && std::fgets(line, sizeof line, status))
      if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atol(line + std::strlen(field));
    if (status) std::fclose(status);
    return value;
  };
  FILE* reset = std::fopen("/proc/self/clear_refs", "w");
  if (!reset) return;
  std::fputs("5", reset);
  std::fclose(reset);
  long before = kib("VmRSS:");
  int fd = open(current.path.c_str(), O_RDONLY);
  NativeBitmap bitmap;
  DecodeQvxFile(fd, 0, current.qvx.size(), benchOptions, nullptr, nullptr, &bitmap);
  close(fd);
  // Touch nothing else: the blocks are still held here.
  long peak = kib("VmHWM:");
  double blocks = (bitmap.infoBytes + bitmap.pixelBytes) / 1024.0;
  std::printf("Peak memory of a file decode (%s bits): %.1f MiB, both blocks %.1f MiB, beyond them %.2f MiB"
              " (file %.1f MiB)\n",
              c.name, (peak - before) / 1024.0, blocks / 1024.0, (peak - before - blocks) / 1024.0,
              current.qvx.size() / 1048576.0);
  FreeNativeBitmap(&bitmap);
}

}  // namespace

int main(int argc, char** argv) {
  std::string why;
  LoadPluginExports("", &Plugin, &why);
  DetectProcessor();
  for (const Case& c : kCases) {
    for (const Operation& op : kOperations) {
      if (op.run == StbReader && c.bits == 2) continue;  // stb_image reads no 2-bit BMP
      benchmark::RegisterBenchmark((std::string(c.name) + "/" + op.name).c_str(),
                                   [&c, op](benchmark::State& state) {
                                     SetOptions(c);
                                     Prepare(c);
                                     for (auto _ : state) op.run();
                                     state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                                                             static_cast<int64_t>(current.pixelBytes));
                                   })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(0.2)
          ->Repetitions(5);
    }
  }
  for (const Case& c : kCases) {
    if (c.keep) continue;
    for (const Operation& op : kRowOperations) {
      if ((op.run == DecodeRows<kQvxIndex8> || op.run == MemcpyRows<1>) && c.bits > 8) continue;
      benchmark::RegisterBenchmark((std::string(c.name) + "/" + op.name).c_str(),
                                   [&c, op](benchmark::State& state) {
                                     SetOptions(c);
                                     Prepare(c);
                                     for (auto _ : state) op.run();
                                   })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(0.2)
          ->Repetitions(5);
    }
  }
  for (int32_t size : {1024, 1 << 20}) {
    for (auto path : {std::make_pair("bytes", InvertWithBytes), std::make_pair("mmx", InvertWithMmx)}) {
      std::string name = std::string("invert/") + (size == 1024 ? "1KiB/" : "1MiB/") + path.first;
      auto run = path.second;
      benchmark::RegisterBenchmark(name.c_str(),
                                   [size, run](benchmark::State& state) {
                                     std::vector<uint8_t> bytes(static_cast<size_t>(size), 0x3C);
                                     for (auto _ : state) {
                                       run(bytes.data(), size);
                                       benchmark::DoNotOptimize(bytes.data());
                                     }
                                     state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
                                   })
          ->UseRealTime()
          ->MinTime(0.1)
          ->Repetitions(5);
    }
  }
  // Repetitions of all benchmarks are interleaved at random, so that a slow
  // spell of the machine does not fall on one side of a ratio; flags given
  // on the command line come after these and win.
  std::vector<char*> args = {argv[0], const_cast<char*>("--benchmark_enable_random_interleaving=true"),
                             const_cast<char*>("--benchmark_color=false")};
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PluginSettings.useMmx = 0;
  PrintTable("Linux");
  std::printf("\n");
  for (const Case& c : kCases) ReportPeakMemory(c);
  std::remove(current.path.c_str());
  return 0;
}
#endif
