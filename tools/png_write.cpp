// PNG writing over zlib. Rows are filtered one at a time as they are made
// and compressed as a stream, so only a few rows are held at once whatever
// the picture's size.
#include "tools/png_write.h"

#include <zlib.h>
#ifdef TAVKO_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef TAVKO_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <system_error>
#include <thread>

namespace {

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool Chunk(FILE* file, const char* type, const uint8_t* data, uint32_t bytes) {
  uint8_t head[8], tail[4];
  Put32(head, bytes);
  std::memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (bytes > 0) crc = crc32(crc, data, bytes);
  Put32(tail, static_cast<uint32_t>(crc));
  return std::fwrite(head, 1, 8, file) == 8 && (bytes == 0 || std::fwrite(data, 1, bytes, file) == bytes) &&
         std::fwrite(tail, 1, 4, file) == 4;
}

// The filters are written without branches so that the compiler turns
// each loop into vector instructions.
inline uint8_t Paeth(int a, int b, int c) {
  int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  int ab = pb < pa ? b : a;
  int best = pb < pa ? pb : pa;
  return static_cast<uint8_t>(pc < best ? c : ab);
}

// Sum of the filtered bytes taken as signed values: the usual measure of
// which filter leaves the least to compress.
uint32_t Cost(const uint8_t* row, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) {
    int v = row[i];
    sum += static_cast<uint32_t>(v < 128 ? v : 256 - v);
  }
  return sum;
}

// Filters one row of n bytes (bpp bytes per pixel) against the row above
// (all zeros for the first), choosing among Sub, Up and Paeth by cost.
// out holds the filter type byte then n bytes; scratch holds 2n bytes.
// On Linux on x86-64 a second copy for processors with AVX2 is chosen at
// load time, doubling the width of those loops.
#if defined(__linux__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default")))
#endif
void FilterRow(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* out, uint8_t* scratch) {
  uint8_t* sub = scratch;
  uint8_t* up = scratch + n;
  uint8_t* paeth = out + 1;
  size_t lead = bpp < n ? bpp : n;
  for (size_t i = 0; i < lead; ++i) {
    sub[i] = row[i];
    up[i] = paeth[i] = static_cast<uint8_t>(row[i] - above[i]);
  }
  for (size_t i = lead; i < n; ++i) sub[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
  for (size_t i = lead; i < n; ++i) up[i] = static_cast<uint8_t>(row[i] - above[i]);
  for (size_t i = lead; i < n; ++i) paeth[i] = static_cast<uint8_t>(row[i] - Paeth(row[i - bpp], above[i], above[i - bpp]));
  // A sum that wraps on rows past 16 MiB only makes the choice worse.
  uint64_t costPaeth = Cost(paeth, n), costSub = Cost(sub, n), costUp = Cost(up, n);
  out[0] = 4;
  if (costSub < costPaeth && costSub <= costUp) {
    out[0] = 1;
    std::memcpy(out + 1, sub, n);
  } else if (costUp < costPaeth) {
    out[0] = 2;
    std::memcpy(out + 1, up, n);
  }
}

// One run of rows compressed on its own as raw deflate data, ending on a
// byte boundary so that runs can be laid one after the other.
struct Segment {
  uint32_t first = 0, end = 0;
  bool last = false;
  std::vector<uint8_t> packed;
  uLong adler = 1;
  uint64_t rawBytes = 0;
  bool ok = false;
};

struct Job {
  const PngLayout* layout;
  PngRowSource source;
  void* context;
  int level;
  size_t n;
};

void Compress(const Job& job, Segment* segment) {
  segment->ok = false;
  size_t n = job.n;
  z_stream z{};
  if (deflateInit2(&z, job.level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return;
  try {
    std::vector<uint8_t> rows(2 * n, 0), work(3 * n + 1, 0);
    bool filter = job.layout->colour != kPngPalette && job.layout->bits == 8;
    size_t bpp = job.layout->colour == kPngRgb ? 3 : 1;
    uint8_t* current = rows.data();
    uint8_t* above = rows.data() + n;
    if (filter && segment->first > 0) job.source(segment->first - 1, above, job.context);
    // The output buffer is kept from run to run (see CompressIsal).
    thread_local std::vector<uint8_t> packed;
    size_t bound = deflateBound(&z, static_cast<uLong>((n + 1) * (segment->end - segment->first))) + 64;
    if (packed.size() < bound) packed.resize(bound);
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    int result = Z_OK;
    for (uint32_t y = segment->first; y < segment->end && result == Z_OK; ++y) {
      job.source(y, current, job.context);
      if (filter) {
        FilterRow(current, above, n, bpp, work.data(), work.data() + n + 1);
      } else {
        work[0] = 0;
        std::memcpy(work.data() + 1, current, n);
      }
      segment->adler = adler32(segment->adler, work.data(), static_cast<uInt>(n + 1));
      segment->rawBytes += n + 1;
      z.next_in = work.data();
      z.avail_in = static_cast<uInt>(n + 1);
      bool lastRow = y + 1 == segment->end;
      result = deflate(&z, lastRow ? (segment->last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH);
      if (result == Z_STREAM_END) result = Z_OK;
      if (z.avail_in != 0) result = Z_BUF_ERROR;
      std::swap(current, above);
    }
    segment->packed.assign(packed.data(), packed.data() + (packed.size() - z.avail_out));
    segment->ok = result == Z_OK;
    if (packed.size() > (64u << 20)) std::vector<uint8_t>().swap(packed);
  } catch (const std::bad_alloc&) {
  }
  deflateEnd(&z);
}

#if defined(TAVKO_LIBDEFLATE) || defined(TAVKO_ISAL)
// Filters rows first to end into out, (n + 1) bytes a row.
void FilterRange(const Job& job, uint32_t first, uint32_t end, uint8_t* out) {
  size_t n = job.n;
  std::vector<uint8_t> rows(2 * n, 0), scratch(2 * n);
  bool filter = job.layout->colour != kPngPalette && job.layout->bits == 8;
  size_t bpp = job.layout->colour == kPngRgb ? 3 : 1;
  uint8_t* current = rows.data();
  uint8_t* above = rows.data() + n;
  if (filter && first > 0) job.source(first - 1, above, job.context);
  for (uint32_t y = first; y < end; ++y, out += n + 1) {
    job.source(y, current, job.context);
    if (filter) {
      FilterRow(current, above, n, bpp, out, scratch.data());
    } else {
      out[0] = 0;
      std::memcpy(out + 1, current, n);
    }
    std::swap(current, above);
  }
}
#endif

#ifdef TAVKO_ISAL
// The fastest levels: a run of rows filtered, then compressed with ISA-L's
// igzip, ending on a byte boundary (or ending the stream, for the last run).
void CompressIsal(const Job& job, Segment* segment) {
  static const uint32_t kLevelBytes[4] = {0, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
  const int level = job.level <= 1 ? 1 : 3;
  segment->ok = false;
  try {
    // Kept from run to run, so a batch does not fault in fresh pages (and
    // zero them) for every picture.
    thread_local std::vector<uint8_t> raw, work, packed;
    segment->rawBytes = (job.n + 1) * static_cast<uint64_t>(segment->end - segment->first);
    size_t bytes = static_cast<size_t>(segment->rawBytes);
    if (raw.size() < bytes) raw.resize(bytes);
    if (work.size() < kLevelBytes[level]) work.resize(kLevelBytes[level]);
    FilterRange(job, segment->first, segment->end, raw.data());
    segment->adler = isal_adler32(1, raw.data(), bytes);
    if (packed.size() < bytes + bytes / 8 + 4096) packed.resize(bytes + bytes / 8 + 4096);
    isal_zstream z;
    isal_deflate_init(&z);
    z.level = level;
    z.level_buf = work.data();
    z.level_buf_size = kLevelBytes[level];
    z.end_of_stream = segment->last ? 1 : 0;
    z.flush = segment->last ? NO_FLUSH : SYNC_FLUSH;
    z.next_in = raw.data();
    z.avail_in = static_cast<uint32_t>(bytes);
    z.next_out = packed.data();
    z.avail_out = static_cast<uint32_t>(packed.size());
    int result = isal_deflate(&z);
    segment->packed.assign(packed.data(), packed.data() + z.total_out);
    segment->ok = result == COMP_OK && z.avail_in == 0 && (!segment->last || z.internal_state.state == ZSTATE_END);
    if (raw.size() > (64u << 20)) {  // a run of one very long row
      std::vector<uint8_t>().swap(raw);
      std::vector<uint8_t>().swap(packed);
    }
  } catch (const std::bad_alloc&) {
  }
}
#endif

// Why writing failed, with the system's reason (a full disk, a closed pipe).
std::string WriteError() { return std::string("write error: ") + std::strerror(errno ? errno : EIO); }

bool WriteIdat(FILE* file, const std::vector<uint8_t>& data) {
  const size_t kMost = 1 << 20;
  for (size_t at = 0; at < data.size(); at += kMost) {
    size_t bytes = data.size() - at < kMost ? data.size() - at : kMost;
    if (!Chunk(file, "IDAT", data.data() + at, static_cast<uint32_t>(bytes))) return false;
  }
  return true;
}

#ifdef TAVKO_LIBDEFLATE
// Pictures up to this many filtered bytes are compressed whole by
// libdeflate, about twice as fast as zlib; larger ones stream through zlib.
const uint64_t kWholeLimit = 1ull << 30;

// Filters the whole picture (on up to threads threads) and compresses it
// in one call. done stays false when memory is short, for the caller to
// stream the picture instead.
bool WholeWithLibdeflate(FILE* file, const Job& job, int threads, bool* done) {
  static const int kLevels[10] = {1, 1, 1, 2, 3, 4, 6, 8, 10, 12};
  // Each thread keeps its buffers and compressor from picture to picture,
  // so a batch does not fault in fresh pages for every picture.
  struct Kept {
    std::vector<uint8_t> raw, packed;
    libdeflate_compressor* compressor = nullptr;
    int level = 0;
    ~Kept() { libdeflate_free_compressor(compressor); }
  };
  thread_local Kept kept;
  const size_t kKeepAtMost = 64u << 20;
  if (kept.compressor == nullptr || kept.level != job.level) {
    libdeflate_free_compressor(kept.compressor);
    kept.compressor = libdeflate_alloc_compressor(kLevels[job.level]);
    kept.level = job.level;
    if (kept.compressor == nullptr) return true;
  }
  size_t rawBytes = static_cast<size_t>((job.n + 1) * static_cast<uint64_t>(job.layout->height));
  std::vector<uint8_t>& raw = kept.raw;
  std::vector<uint8_t>& packed = kept.packed;
  try {
    if (raw.size() < rawBytes) raw.resize(rawBytes);
    size_t bound = libdeflate_zlib_compress_bound(kept.compressor, rawBytes);
    if (packed.size() < bound) packed.resize(bound);
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(raw);
    std::vector<uint8_t>().swap(packed);
    return true;
  }
  uint32_t height = job.layout->height, share = (height + threads - 1) / threads;
  std::vector<std::thread> workers;
  for (uint32_t first = share; first < height; first += share) {
    uint32_t end = height - first > share ? first + share : height;
    uint8_t* out = raw.data() + (job.n + 1) * static_cast<size_t>(first);
    try {
      workers.emplace_back(FilterRange, std::cref(job), first, end, out);
    } catch (const std::system_error&) {
      FilterRange(job, first, end, out);
    }
  }
  FilterRange(job, 0, share < height ? share : height, raw.data());
  for (std::thread& worker : workers) worker.join();
  size_t bytes = libdeflate_zlib_compress(kept.compressor, raw.data(), rawBytes, packed.data(), packed.size());
  bool ok = true;
  if (bytes > 0) {
    *done = true;
    const size_t kMost = 1 << 20;
    for (size_t at = 0; ok && at < bytes; at += kMost)
      ok = Chunk(file, "IDAT", packed.data() + at, static_cast<uint32_t>(bytes - at < kMost ? bytes - at : kMost));
  }
  if (raw.size() > kKeepAtMost) {
    std::vector<uint8_t>().swap(raw);
    std::vector<uint8_t>().swap(packed);
  }
  return ok;
}
#endif

}  // namespace

uint64_t PngRowBytes(const PngLayout& layout) {
  uint64_t samples = layout.colour == kPngRgb ? 3 : 1;
  return (static_cast<uint64_t>(layout.width) * samples * layout.bits + 7) / 8;
}

bool WritePng(FILE* file, const PngLayout& layout, PngRowSource source, void* context, int level, int threads,
              std::string* why) {
  uint64_t rowBytes = PngRowBytes(layout);
  // A row, its filtered form and the row above must fit in memory, and zlib
  // takes at most 4 GiB at a time.
  if (rowBytes == 0 || rowBytes > 0x3FFFFFFF || rowBytes > SIZE_MAX / 5 || layout.height == 0 ||
      layout.width > 0x7FFFFFFF || layout.height > 0x7FFFFFFF) {
    *why = "picture too large to write as PNG";
    return false;
  }
  size_t n = static_cast<size_t>(rowBytes);
  errno = 0;
  if (level < 1) level = 1;
  if (level > 9) level = 9;
  if (threads < 1) threads = 1;

  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t header[13];
  Put32(header, layout.width);
  Put32(header + 4, layout.height);
  header[8] = layout.bits;
  header[9] = layout.colour;
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
  bool ok = std::fwrite(kSignature, 1, 8, file) == 8 && Chunk(file, "IHDR", header, 13);
  if (ok && layout.xDensity > 0 && layout.yDensity > 0) {
    uint8_t density[9];
    Put32(density, layout.xDensity);
    Put32(density + 4, layout.yDensity);
    density[8] = 1;  // the unit is the metre
    ok = Chunk(file, "pHYs", density, 9);
  }
  if (ok && layout.colour == kPngPalette)
    ok = Chunk(file, "PLTE", layout.palette.data(), static_cast<uint32_t>(layout.palette.size()));

#ifdef TAVKO_LIBDEFLATE
  if (ok && level >= 3 && (n + 1) * static_cast<uint64_t>(layout.height) <= kWholeLimit) {
    bool done = false;
    ok = WholeWithLibdeflate(file, Job{&layout, source, context, level, n}, threads, &done);
    if (done || !ok) {
      ok = ok && Chunk(file, "IEND", nullptr, 0);
      if (!ok) *why = WriteError();
      return ok;
    }
  }
#endif
  // The rows go in runs of about 4 MiB, compressed side by side by the
  // threads and written in order: one zlib stream whose checksum joins
  // the runs' checksums. The runs do not depend on the thread count, so
  // the file is the same however many threads write it.
  uint32_t runRows = static_cast<uint32_t>((4u << 20) / (n + 1));
  if (runRows == 0) runRows = 1;
  Job job{&layout, source, context, level, n};
  void (*compress)(const Job&, Segment*) = Compress;
#ifdef TAVKO_ISAL
  if (level <= 2) compress = CompressIsal;
#endif
  // zlib header: 32 KiB window, deflate; the level hint; a valid check.
  std::vector<uint8_t> start = {0x78, static_cast<uint8_t>(level == 1 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA)};
  ok = ok && WriteIdat(file, start);
  uLong adler = 1;
  std::vector<Segment> segments(static_cast<size_t>(threads));
  for (uint32_t y = 0; ok && y < layout.height;) {
    size_t used = 0;
    for (; used < segments.size() && y < layout.height; ++used) {
      Segment& segment = segments[used];
      segment = Segment();
      segment.first = y;
      segment.end = layout.height - y > runRows ? y + runRows : layout.height;
      segment.last = segment.end == layout.height;
      y = segment.end;
    }
    std::vector<std::thread> workers;
    for (size_t i = 1; i < used; ++i) {
      try {
        workers.emplace_back(compress, std::cref(job), &segments[i]);
      } catch (const std::system_error&) {
        compress(job, &segments[i]);
      }
    }
    compress(job, &segments[0]);
    for (std::thread& worker : workers) worker.join();
    for (size_t i = 0; i < used && ok; ++i) {
      if (!segments[i].ok) {
        *why = "not enough memory to write the PNG";
        return false;
      }
      adler = adler32_combine(adler, segments[i].adler, static_cast<z_off_t>(segments[i].rawBytes));
      ok = WriteIdat(file, segments[i].packed);
    }
  }
  uint8_t check[4];
  Put32(check, static_cast<uint32_t>(adler));
  ok = ok && WriteIdat(file, std::vector<uint8_t>(check, check + 4)) && Chunk(file, "IEND", nullptr, 0);
  if (!ok) *why = WriteError();
  return ok;
}
