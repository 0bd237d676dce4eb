// tavko decode: QVX pictures to PNG or BMP, one or a batch.
#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "decode/bytes.h"
#include "tools/command.h"
#include "tools/dib.h"
#include "tools/output.h"
#include "tools/paths.h"
#include "tools/png_write.h"
#include "tools/render.h"

namespace {

// The most a picture read from a pipe may hold: what the plug-in's memory
// entry takes in the 32-bit build.
const uint64_t kMostFromPipe = sizeof(void*) == 4 ? 0x7FFF0000ull : 1ull << 40;

struct DecodeSettings {
  bool png = true;
  int level = kPngDefaultLevel;
  int threads = 1;  // compression threads per picture
  int64_t offset = 0;
  bool draw = false;  // a progress bar for a single picture on a terminal
  uint64_t maxPixels = kDefaultMaxPixels;
  bool noClobber = false;
};

struct Bar {
  const char* name;
  int lastPercent;
};

bool OnRow(int row, int height, void* context) {
  Bar* bar = static_cast<Bar*>(context);
  if (height > 0) {
    int percent = static_cast<int>(100LL * row / height);
    if (percent != bar->lastPercent) {
      bar->lastPercent = percent;
      int filled = percent * 30 / 100;
      std::fprintf(stderr, "\r%s [%.*s%.*s] %3d%%", bar->name, filled, "##############################",
                   30 - filled, "..............................", percent);
      std::fflush(stderr);
    }
  }
  return false;
}

// Reads the rest of a picture from a pipe or device: as many bytes as its
// header promises, no more (a short input is then the decoder's to report).
bool ReadPromised(Input* input, const std::vector<uint8_t>& head, size_t got, uint64_t needed,
                  std::vector<uint8_t>* memory, std::string* why) {
  if (needed > kMostFromPipe) {
    *why = "its header promises " + std::to_string(needed) + " bytes, more than a picture read from a pipe may hold";
    return false;
  }
  size_t want = static_cast<size_t>(needed);
  try {
    // Memory grows with the bytes that arrive, not with what the header
    // says: a header promising much and a pipe giving little cost little.
    memory->assign(head.begin(), head.begin() + (got < want ? got : want));
    std::vector<uint8_t> buffer(1 << 20);
    for (size_t more = 1; memory->size() < want && more > 0;) {
      size_t ask = want - memory->size() < buffer.size() ? want - memory->size() : buffer.size();
      if (!ReadUpTo(input, buffer.data(), ask, &more)) {
        *why = "read error: " + std::string(std::strerror(errno));
        return false;
      }
      memory->insert(memory->end(), buffer.begin(), buffer.begin() + more);
    }
  } catch (const std::bad_alloc&) {
    *why = "not enough memory to read it";
    return false;
  }
  return true;
}

bool WriteBmp(FILE* file, const DecodedBitmap& bitmap, std::string* why) {
  // The delivered bitmap behind a file header: its header, masks and
  // colour table, without the spare bytes the plug-in leaves after them
  // (readers take the pixels to follow the table straight away).
  uint8_t header[14] = {'B', 'M'};
  size_t infoBytes = bitmap.infoBytes;
  if (infoBytes >= 40) {
    uint32_t bits = ReadU16(bitmap.info + 14), compression = ReadU32(bitmap.info + 16);
    size_t used = 40 + (compression == 3 ? 12 : 0) + (bits <= 8 ? 4u << bits : 0);
    if (used < infoBytes) infoBytes = used;
  }
  uint64_t total = 14 + static_cast<uint64_t>(infoBytes) + bitmap.pixelBytes;
  uint32_t size32 = total > 0xFFFFFFFF ? 0 : static_cast<uint32_t>(total);
  uint32_t offBits = static_cast<uint32_t>(14 + infoBytes);
  for (int i = 0; i < 4; ++i) {
    header[2 + i] = static_cast<uint8_t>(size32 >> (8 * i));
    header[10 + i] = static_cast<uint8_t>(offBits >> (8 * i));
  }
  errno = 0;
  bool ok = std::fwrite(header, 1, 14, file) == 14 && std::fwrite(bitmap.info, 1, infoBytes, file) == infoBytes &&
            std::fwrite(bitmap.pixels, 1, bitmap.pixelBytes, file) == bitmap.pixelBytes;
  if (!ok) *why = "write error: " + std::string(std::strerror(errno ? errno : EIO));
  return ok;
}

// Decodes one picture into one output. Returns false after saying why.
bool DecodeOne(const std::string& in, const std::string& outPath, const DecodeSettings& settings) {
  std::string why;
  // Before anything is written: an output that is the input would destroy
  // the picture.
  if (SameFile(in, outPath)) {
    Complain(OutputName(outPath), "is the input file itself; not overwritten");
    return false;
  }
  // The output is opened first, so that a slow input (a pipe) already has
  // its temporary file and an interruption removes it.
  OutputFile out;
  if (!OpenOutput(outPath, &out, &why, settings.noClobber)) {
    Complain(outPath, why);
    return false;
  }
  Input input;
  std::vector<uint8_t> head, memory;
  size_t got = 0;
  HeaderFacts facts;
  if (!OpenInput(in, settings.offset, &input, &why) || !ReadHeader(&input, &head, &got, &facts, &why)) {
    Complain(InputName(in), why);
    return false;
  }
  if (!facts.problem.empty()) {
    Complain(InputName(in), facts.problem);
    return false;
  }
  std::string limit = OverPixelLimit(facts.width > 0 ? facts.width : 0, facts.rows, settings.maxPixels);
  if (!limit.empty()) {
    Complain(InputName(in), limit);
    return false;
  }
  if (!input.regular && !ReadPromised(&input, head, got, facts.needed, &memory, &why)) {
    Complain(InputName(in), why);
    return false;
  }
  Bar bar{in.c_str(), -1};
  DecodedBitmap bitmap;
  DecodeProgress progress = settings.draw ? OnRow : nullptr;
  DecodeResult result = input.regular ? DecodeFile(in, settings.offset, progress, &bar, &bitmap)
                                      : DecodeMemory(memory.data(), memory.size(), progress, &bar, &bitmap);
  std::vector<uint8_t>().swap(memory);
  if (bar.lastPercent >= 0) std::fprintf(stderr, "\r%*s\r", 79, "");
  if (result != kDecodeOk) {
    DiscardOutput(&out);
    Complain(InputName(in), ResultText(result));
    return false;
  }
  bool ok;
  if (settings.png) {
    DibView view;
    PngPlan plan;
    ok = ViewDib(bitmap.info, bitmap.infoBytes, bitmap.pixels, bitmap.pixelBytes, &view, &why);
    if (ok) {
      PlanPng(view, &plan);
      // The picture's density goes with it (pHYs, pixels per metre).
      int32_t x = static_cast<int32_t>(ReadU32(bitmap.info + 24)), y = static_cast<int32_t>(ReadU32(bitmap.info + 28));
      if (x > 0 && y > 0) {
        plan.layout.xDensity = static_cast<uint32_t>(x);
        plan.layout.yDensity = static_cast<uint32_t>(y);
      }
    }
    ok = ok && WritePng(out.file, plan.layout, PngPlanRow, &plan, settings.level, settings.threads, &why);
  } else {
    ok = WriteBmp(out.file, bitmap, &why);
  }
  ReleaseDecoded(&bitmap);
  if (!ok) {
    DiscardOutput(&out);
    ComplainAboutOutput(outPath, why);
    return false;
  }
  if (!CommitOutput(&out, &why)) {
    ComplainAboutOutput(outPath, why);
    return false;
  }
  return true;
}

}  // namespace

int RunDecode(int argc, char** argv) {
  CLI::App app;
  std::vector<std::string> words;
  std::string folder, format, output;
  DecodeSettings settings;
  DecoderOptions options;
  int jobs = 0, level = kPngDefaultLevel;
  bool quiet = false, verbose = false, force = false;
  app.add_option("file", words);
  app.add_option("-o,--output", output);
  app.add_option("-d,--folder", folder);
  CheckNumber(app.add_option("-j,--jobs", jobs), 1, 256);
  CheckWord(app.add_option("--format", format), {"png", "bmp"});
  CheckNumber(app.add_option("--level", level), 1, 9);
  CheckNumber(app.add_option("--offset", settings.offset), 0, 0x7FFFFFFF);
  CheckNumber(app.add_option("--max-pixels", settings.maxPixels), 0, UINT64_MAX);
  app.add_flag("-n,--no-clobber", settings.noClobber);
  app.add_flag("-f,--force", force);
  app.add_flag("--keep16", options.keep16);
  app.add_flag("--keep32", options.keep32);
  app.add_flag("-q,--quiet", quiet);
  app.add_flag("-v,--verbose", verbose);
  int status;
  if (!ParseCommand(&app, argc, argv, kDecodeUsage, &status)) return status;
  settings.level = level;
  unsigned cores = std::thread::hardware_concurrency();
  int workers = jobs > 0 ? jobs : cores > 0 ? static_cast<int>(cores) : 1;

  bool unmatched = false;
  std::vector<std::string> files;
  for (const std::string& word : words)
    for (const std::string& name : Expand(word, &unmatched)) files.push_back(name);
  std::vector<std::pair<std::string, std::string>> pairs;
  if (folder.empty()) {
    // One input, one output.
    if (!output.empty()) files.push_back(output);
    if (unmatched) return kExitFailed;
    if (files.size() != 2)
      return UsageError("decode", output.empty() ? "decode needs an input and an output file (or -d DIR)"
                                                 : "-o takes one input file");
    if (files[1] != "-" && IsDirectory(files[1]))
      return UsageError("decode", "'" + files[1] + "' is a folder; to decode into it, give -d '" + files[1] + "'");
    std::string ending = Extension(files[1]);
    if (!format.empty()) {
      settings.png = format == "png";
    } else if (ending == "png" || ending == "bmp") {
      settings.png = ending == "png";
    } else {
      return UsageError("decode", files[1] == "-" ? "writing to standard output needs --format png or --format bmp"
                                                  : "the output must end in .png or .bmp (or give --format)");
    }
    if (!MayWriteTo(files[1], force)) return kExitFailed;
    pairs.push_back({files[0], files[1]});
  } else {
    if (!output.empty()) return UsageError("decode", "-o and -d do not go together");
    if (files.empty() && !unmatched) return UsageError("decode", "decode needs at least one input file");
    for (const std::string& in : files)
      if (in == "-") return UsageError("decode", "standard input cannot be one of several inputs");
    if (KindOf(folder) != kPathMissing && !IsDirectory(folder)) {
      Complain(folder, "is not a folder; -d names the folder the outputs go into");
      return kExitFailed;
    }
    if (!MakeFolders(folder)) {
      Complain(folder, "cannot make the folder: " + std::string(std::strerror(errno)));
      return kExitFailed;
    }
    settings.png = format != "bmp";
    std::string ending = settings.png ? ".png" : ".bmp";
    std::string prefix = folder;
    if (prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
    for (const std::string& in : files) pairs.push_back({in, prefix + StemOf(in) + ending});
  }
  std::string why;
  if (!OpenDecoder(options, &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return options.keep16 || options.keep32 ? kExitUsage : kExitFailed;
  }

  size_t count = pairs.size();
  if (static_cast<size_t>(workers) > count) workers = count > 0 ? static_cast<int>(count) : 1;
  // Threads not needed for whole pictures help compress each one.
  settings.threads = (jobs > 0 ? jobs : cores > 0 ? static_cast<int>(cores) : 1) / workers;
  if (settings.threads < 1) settings.threads = 1;
  bool terminal = StderrIsTerminal() && !quiet;
  // No bar where the picture itself goes to the terminal (forced).
  settings.draw = count == 1 && terminal && !(pairs[0].second == "-" && StdoutIsTerminal());
  // Two inputs of the same name would overwrite each other's output.
  std::vector<bool> clash(count, false);
  for (size_t i = 0; i < count; ++i)
    for (size_t j = 0; j < i && !clash[i]; ++j) clash[i] = pairs[i].second == pairs[j].second;

  std::atomic<size_t> next(0), done(0), failed(0);
  auto work = [&]() {
    for (size_t i; (i = next++) < count;) {
      bool ok = false;
      if (clash[i]) {
        Complain(pairs[i].first, "another input of the same name is written to " + pairs[i].second);
      } else {
        try {
          ok = DecodeOne(pairs[i].first, pairs[i].second, settings);
        } catch (const std::bad_alloc&) {
          Complain(pairs[i].first, "not enough memory to decode it");
        }
      }
      if (!ok) ++failed;
      size_t finished = ++done;
      std::lock_guard<std::mutex> hold(printLock);
      if (ok && verbose) std::fprintf(stderr, "%s -> %s\n", pairs[i].first.c_str(), pairs[i].second.c_str());
      if (count > 1 && terminal)
        std::fprintf(stderr, "\rtavko: %zu of %zu done, %zu failed ", finished, count, failed.load());
    }
  };
  std::vector<std::thread> threads;
  for (int t = 1; t < workers; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
  if (count > 1 && !quiet) {
    if (terminal) std::fputc('\n', stderr);
    std::fprintf(stderr, "tavko: %zu of %zu pictures decoded into %s%s\n", count - failed.load(), count,
                 folder.c_str(), failed ? (", " + std::to_string(failed.load()) + " failed").c_str() : "");
  }
  return failed || unmatched ? kExitFailed : kExitOk;
}
