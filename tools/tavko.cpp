// tavko: QVX pictures outside an image viewer. Decodes through the plug-in
// (linked in on Linux, loaded from TAVKO.SPI on Windows, as a viewer loads
// it), encodes BMP and PNG pictures into QVX, and tells what a file holds.
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/backend.h"
#include "tools/output.h"
#include "tools/paths.h"
#include "tools/png_read.h"
#include "tools/png_write.h"
#include "encode/encode.h"
#include "tools/dib.h"
#include "tools/render.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
const char kVersion[] = TAVKO_VERSION;

const char kUsage[] =
    "usage: tavko COMMAND [ARGS]\n"
    "\n"
    "Reads and writes QVX pictures through the TAVKO plug-in.\n"
    "\n"
    "commands:\n"
    "  info FILE...                      what each file holds: size, depths, header, palette\n"
    "  decode IN.qvx OUT.png|OUT.bmp     decode a QVX picture to PNG or BMP\n"
    "  decode FILE... -d DIR             decode many pictures into DIR\n"
    "  encode IN.bmp|IN.png OUT.qvx      store a BMP or PNG picture as QVX\n"
#ifdef _WIN32
    "  config                            open the plug-in's configuration dialog\n"
#endif
    "  help COMMAND                      help on one command\n"
    "\n"
    "  tavko COMMAND --help              help on one command\n"
    "  tavko --version                   the plug-in's version\n"
    "\n"
    "A file name of - means standard input or standard output.\n";

const char kInfoUsage[] =
    "usage: tavko info [--json] [--offset N] FILE...\n"
    "\n"
    "Reads the header of each file and tells whether the plug-in takes it as a\n"
    "QVX picture: width, height, stored and delivered depth, header form,\n"
    "palette size, densities, and whether the file is shorter than its header\n"
    "promises. Exit status 1 when any file is not a QVX picture.\n"
    "\n"
    "  --json       one JSON object per file, one per line\n"
    "  --offset N   the picture starts N bytes into each file\n";

const char kDecodeUsage[] =
    "usage: tavko decode IN.qvx OUT.png|OUT.bmp [OPTIONS]\n"
    "       tavko decode FILE... -d DIR [OPTIONS]\n"
    "\n"
    "Decodes QVX pictures; the output's ending or --format chooses PNG or BMP.\n"
    "The BMP holds the plug-in's bitmap exactly as delivered; the PNG has the\n"
    "same pixels (palette and grey pictures stay palette and grey PNGs).\n"
    "With -d, each FILE.qvx becomes DIR/FILE.png; a failed file is reported\n"
    "and the others go on. - reads standard input or writes standard output.\n"
    "\n"
    "  -d DIR          write every output into DIR\n"
    "  -j N            decode N files at once (default: the number of processors)\n"
    "  --format F      png or bmp, where no ending says it (default png with -d)\n"
    "  --level N       PNG compression, 1 (fastest) to 9 (smallest); default 2\n"
    "  --offset N      the picture starts N bytes into the input file\n"
    "  --keep16        deliver 16-bit pictures as 16-bit bit-field bitmaps\n"
    "  --keep32        deliver 32-bit pictures as 32-bit bit-field bitmaps\n"
    "  -q, --quiet     no progress and no summary\n"
    "  -v              name every file written\n"
#ifdef _WIN32
    "\n"
    "On Windows the plug-in decodes with the options stored through its\n"
    "configuration dialog (tavko config); --keep16 and --keep32 are refused.\n"
#endif
    ;

const char kEncodeUsage[] =
    "usage: tavko encode IN.bmp|IN.png OUT.qvx\n"
    "\n"
    "Stores a BMP or PNG picture as QVX, so that the plug-in shows the same\n"
    "pixels. BMPs of any header size, bit-field and run-length BMPs are\n"
    "brought into a form the plug-in reads; PNGs are stored as 24-bit\n"
    "pictures (alpha is dropped). - reads standard input or writes standard\n"
    "output.\n";

const char kConfigUsage[] =
    "usage: tavko config\n"
    "\n"
    "Opens the plug-in's own configuration dialog; what is chosen there is\n"
    "kept for every program that uses the plug-in.\n";

int Usage(const char* text, const std::string& complaint) {
  std::fprintf(stderr, "tavko: %s\n\n", complaint.c_str());
  std::fputs(text, stderr);
  return kExitUsage;
}

int Help(const char* text) {
  std::fputs(text, stdout);
  return kExitOk;
}

bool WantsHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
  return false;
}

const char* ResultText(DecodeResult result) {
  switch (result) {
    case kDecodeOk: return "success";
    case kDecodeNotProvided: return "the plug-in does not provide this";
    case kDecodeStopped: return "decoding was interrupted";
    case kDecodeNotQvx: return "not a QVX picture";
    case kDecodeTruncated: return "file shorter than its header promises";
    case kDecodeNoMemory: return "not enough memory to decode it";
    case kDecodeLockFailed: return "could not lock memory to decode it";
    case kDecodeFileError: return "cannot open or read the file";
    default: return "unknown failure";
  }
}

uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

std::mutex printLock;

void Complain(const std::string& name, const std::string& why) {
  std::lock_guard<std::mutex> hold(printLock);
  std::fprintf(stderr, "tavko: %s: %s\n", name.c_str(), why.c_str());
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

bool ParseNumber(const char* text, long long low, long long high, long long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && *value >= low && *value <= high;
}

// Reads a whole file, or standard input for "-".
bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
  if (path != "-" && IsDirectory(path)) {
    *why = "is a directory";
    return false;
  }
  FILE* file = path == "-" ? stdin : OpenForReading(path);
  if (!file) {
    *why = std::strerror(errno);
    return false;
  }
#ifdef _WIN32
  if (file == stdin) _setmode(_fileno(stdin), _O_BINARY);
#endif
  bool ok = true;
  try {
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      if (bytes->size() + got > 0x7FFF0000) {
        *why = "larger than 2 GiB, more than a picture of this kind holds";
        ok = false;
        break;
      }
      bytes->insert(bytes->end(), buffer, buffer + got);
    }
  } catch (const std::bad_alloc&) {
    *why = "not enough memory to read it";
    ok = false;
  }
  if (ok && std::ferror(file)) {
    *why = "read error";
    ok = false;
  }
  if (file != stdin) std::fclose(file);
  return ok;
}

// The size of a regular file, or -1 (standard input, pipes, devices).
long long FileSize(const std::string& path) {
  uint64_t size = 0;
  if (path == "-" || KindOf(path, &size) != kPathFile) return -1;
  return static_cast<long long>(size);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& path) {
  size_t dot = path.find_last_of('.'), slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot + 1));
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

#ifdef _WIN32
// cmd.exe hands wildcards over as they are; they are expanded here.
std::vector<std::string> Expand(const std::string& pattern) {
  if (pattern.find_first_of("*?") == std::string::npos) return {pattern};
  std::vector<std::string> names;
  size_t slash = pattern.find_last_of("\\/:");
  std::string folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WideName(pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {pattern};
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(folder + Utf8Name(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names.empty() ? std::vector<std::string>{pattern} : names;
}
#else
std::vector<std::string> Expand(const std::string& pattern) { return {pattern}; }
#endif

// ---- info ----

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int Info(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Help(kInfoUsage);
  bool json = false;
  long long offset = 0;
  std::vector<std::string> files;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--offset") {
      if (i + 1 >= argc || !ParseNumber(argv[++i], 0, 0x7FFFFFFF, &offset))
        return Usage(kInfoUsage, "--offset needs a number from 0 to 2147483647");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(kInfoUsage, "unknown option " + arg);
    } else {
      for (const std::string& name : Expand(arg)) files.push_back(name);
    }
  }
  if (files.empty()) return Usage(kInfoUsage, "info needs at least one file");
  std::string why;
  if (!OpenDecoder(DecoderOptions(), &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return kExitFailed;
  }
  int status = kExitOk;
  for (const std::string& path : files) {
    // Only the first bytes are read: the headers and what recognition looks at.
    std::vector<uint8_t> head(1024, 0);
    size_t got = 0;
    if (path != "-" && IsDirectory(path)) {
      Complain(path, "is a directory");
      status = kExitFailed;
      continue;
    }
    FILE* file = path == "-" ? stdin : OpenForReading(path);
    if (file == nullptr) {
      Complain(path, std::strerror(errno));
      status = kExitFailed;
      continue;
    }
    bool ok = true;
    for (long long skip = offset; skip > 0 && ok;) {
      uint8_t buffer[4096];
      size_t want = skip > 4096 ? 4096 : static_cast<size_t>(skip);
      size_t n = std::fread(buffer, 1, want, file);
      ok = n == want;
      skip -= static_cast<long long>(n);
    }
    if (ok) got = std::fread(head.data(), 1, 1024, file);
    bool readError = std::ferror(file) != 0;
    if (file != stdin) std::fclose(file);
    if (readError) {
      Complain(path, "read error");
      status = kExitFailed;
      continue;
    }
    long long size = FileSize(path);
    long long available = size < 0 ? -1 : size - offset;

    bool recognised = got >= 18 && DecoderRecognises(head.data(), head.size());
    DecoderPictureInfo picture;
    bool informed = got >= 18 && DecoderInfo(head.data(), got, &picture) == kDecodeOk;
    // Header fields, after undoing the complement (bytes 14 to 53).
    uint8_t plain[54] = {0};
    for (size_t i = 0; i < 54; ++i) plain[i] = static_cast<uint8_t>(~head[i]);
    uint32_t offBits = Get32(plain + 10), headerSize = Get32(plain + 14);
    bool core = headerSize == 12;
    auto field = [&](uint32_t at, int n) -> uint32_t {
      if (!core && at + n > 14 + static_cast<uint64_t>(headerSize)) return 0;
      return n == 2 ? Get16(plain + at) : Get32(plain + at);
    };
    int64_t width = core ? static_cast<int16_t>(Get16(plain + 18)) : static_cast<int32_t>(field(18, 4));
    int64_t height = core ? static_cast<int16_t>(Get16(plain + 20)) : static_cast<int32_t>(field(22, 4));
    uint32_t bits = core ? Get16(plain + 24) : field(28, 2);
    uint32_t xDensity = core ? 0 : field(38, 4), yDensity = core ? 0 : field(42, 4);
    uint64_t rows = height < 0 ? static_cast<uint64_t>(-height) : static_cast<uint64_t>(height);
    std::string problem;
    if (!informed || !recognised) {
      problem = "not a QVX picture";
    } else if (width <= 0 || height == 0) {
      problem = "a QVX header, but its picture size " + std::to_string(width) + " x " + std::to_string(height) +
                " has no pixels; it cannot be decoded";
    }
    uint64_t tableStart = core ? 26 : 14 + static_cast<uint64_t>(headerSize);
    uint64_t colours = 0;
    if (bits <= 8 && problem.empty()) {
      uint64_t full = 1ull << bits;
      colours = tableStart + 4 * full <= offBits ? full : offBits > tableStart ? (offBits - tableStart) / 4 : 0;
      if (colours > full) colours = full;
    }
    uint64_t needed = offBits + (static_cast<uint64_t>(width > 0 ? width : 0) * bits + 31) / 32 * 4 * rows;
    bool shorter = available >= 0 && problem.empty() && static_cast<uint64_t>(available) < needed;
    if (!problem.empty()) status = kExitFailed;
    std::string form = core ? "core (12 bytes)" : std::to_string(headerSize) + "-byte information header";
    if (json) {
      std::printf("{\"file\":%s,\"qvx\":%s", JsonText(path).c_str(), problem.empty() ? "true" : "false");
      if (!problem.empty()) {
        std::printf(",\"problem\":%s}\n", JsonText(problem).c_str());
        continue;
      }
      std::printf(",\"width\":%lld,\"height\":%llu,\"top_down\":%s,\"stored_bits\":%u,\"delivered_bits\":%d,"
                  "\"header_bytes\":%u,\"core_header\":%s,\"palette_entries\":%llu,"
                  "\"x_pixels_per_metre\":%u,\"y_pixels_per_metre\":%u,\"bytes_needed\":%llu,",
                  static_cast<long long>(width), static_cast<unsigned long long>(rows),
                  height < 0 ? "true" : "false", bits, picture.bitDepth, headerSize, core ? "true" : "false",
                  static_cast<unsigned long long>(colours), xDensity, yDensity,
                  static_cast<unsigned long long>(needed));
      if (available >= 0)
        std::printf("\"bytes\":%lld,\"truncated\":%s}\n", available, shorter ? "true" : "false");
      else
        std::printf("\"bytes\":null,\"truncated\":null}\n");
      continue;
    }
    if (!problem.empty()) {
      std::printf("%s: %s\n", path.c_str(), problem.c_str());
      continue;
    }
    std::printf("%s: QVX picture, %lld x %llu%s, %u bit%s per pixel stored, delivered as %d bit%s per pixel\n",
                path.c_str(), static_cast<long long>(width), static_cast<unsigned long long>(rows),
                height < 0 ? " (top-down)" : "", bits, bits == 1 ? "" : "s", picture.bitDepth,
                picture.bitDepth == 1 ? "" : "s");
    std::printf("  header: %s; palette: %llu entries; density: %u x %u pixels per metre\n", form.c_str(),
                static_cast<unsigned long long>(colours), xDensity, yDensity);
    if (shorter)
      std::printf("  the file is shorter than its header promises (%lld of %llu bytes)\n", available,
                  static_cast<unsigned long long>(needed));
  }
  return status;
}

// ---- decode ----

struct DecodeSettings {
  bool png = true;
  int level = kPngDefaultLevel;
  int threads = 1;  // compression threads per picture
  long long offset = 0;
  bool draw = false;  // a progress bar for a single picture on a terminal
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

// Decodes one picture into one output. Returns false after saying why.
bool DecodeOne(const std::string& in, const std::string& outPath, const DecodeSettings& settings) {
  std::string why;
  std::vector<uint8_t> memory;
  long long size = FileSize(in);
  if (size >= 0 && settings.offset >= size && !(settings.offset == 0 && size == 0)) {
    Complain(in, "--offset " + std::to_string(settings.offset) + " is past the end of the file (" +
                     std::to_string(size) + " bytes)");
    return false;
  }
  // The output is opened first, so that a slow input (a pipe) already has
  // its temporary file and an interruption removes it.
  OutputFile out;
  if (!OpenOutput(outPath, &out, &why)) {
    Complain(outPath, why);
    return false;
  }
  if (in == "-" || size < 0) {
    bool ok = ReadWhole(in, &memory, &why);
    if (ok && settings.offset > 0) {
      ok = static_cast<size_t>(settings.offset) < memory.size();
      if (ok) memory.erase(memory.begin(), memory.begin() + settings.offset);
      else why = "--offset " + std::to_string(settings.offset) + " is past the end of the input (" +
                 std::to_string(memory.size()) + " bytes)";
    }
    if (!ok) {
      DiscardOutput(&out);
      Complain(in == "-" ? "standard input" : in, why);
      return false;
    }
  }
  Bar bar{in.c_str(), -1};
  DecodedBitmap bitmap;
  DecodeProgress progress = settings.draw ? OnRow : nullptr;
  DecodeResult result = in == "-" || size < 0
                            ? DecodeMemory(memory.data(), memory.size(), progress, &bar, &bitmap)
                            : DecodeFile(in, settings.offset, progress, &bar, &bitmap);
  if (bar.lastPercent >= 0) std::fprintf(stderr, "\r%*s\r", 79, "");
  if (result != kDecodeOk) {
    DiscardOutput(&out);
    Complain(in == "-" ? "standard input" : in, ResultText(result));
    return false;
  }
  bool ok;
  if (settings.png) {
    DibView view;
    PngPlan plan;
    ok = ViewDib(bitmap.info, bitmap.infoBytes, bitmap.pixels, bitmap.pixelBytes, &view, &why);
    if (ok) PlanPng(view, &plan);
    ok = ok && WritePng(out.file, plan.layout, PngPlanRow, &plan, settings.level, settings.threads, &why);
  } else {
    // The delivered bitmap behind a file header: its header, masks and
    // colour table, without the spare bytes the plug-in leaves after them
    // (readers take the pixels to follow the table straight away).
    uint8_t header[14] = {'B', 'M'};
    size_t infoBytes = bitmap.infoBytes;
    if (infoBytes >= 40) {
      uint32_t bits = Get16(bitmap.info + 14), compression = Get32(bitmap.info + 16);
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
    ok = std::fwrite(header, 1, 14, out.file) == 14 &&
         std::fwrite(bitmap.info, 1, infoBytes, out.file) == infoBytes &&
         std::fwrite(bitmap.pixels, 1, bitmap.pixelBytes, out.file) == bitmap.pixelBytes;
    if (!ok) why = "write error: " + SystemError();
  }
  ReleaseDecoded(&bitmap);
  if (!ok) {
    DiscardOutput(&out);
    Complain(outPath == "-" ? "standard output" : outPath, why);
    return false;
  }
  if (!CommitOutput(&out, &why)) {
    Complain(outPath == "-" ? "standard output" : outPath, why);
    return false;
  }
  return true;
}

int Decode(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Help(kDecodeUsage);
  std::vector<std::string> files;
  std::string folder, format;
  DecodeSettings settings;
  DecoderOptions options;
  long long jobs = 0, level = kPngDefaultLevel;
  bool quiet = false, verbose = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    bool more = i + 1 < argc;
    if (arg == "--offset") {
      if (!more) return Usage(kDecodeUsage, "--offset needs a number");
      if (!ParseNumber(argv[++i], 0, 0x7FFFFFFF, &settings.offset))
        return Usage(kDecodeUsage, "--offset needs a number from 0 to 2147483647");
    } else if (arg == "--keep16") {
      options.keep16 = true;
    } else if (arg == "--keep32") {
      options.keep32 = true;
    } else if (arg == "-d") {
      if (!more) return Usage(kDecodeUsage, "-d needs a folder");
      folder = argv[++i];
    } else if (arg == "-j") {
      if (!more || !ParseNumber(argv[++i], 1, 256, &jobs)) return Usage(kDecodeUsage, "-j needs a number from 1 to 256");
    } else if (arg == "--format") {
      if (!more) return Usage(kDecodeUsage, "--format needs png or bmp");
      format = Lower(argv[++i]);
      if (format != "png" && format != "bmp") return Usage(kDecodeUsage, "--format needs png or bmp");
    } else if (arg == "--level") {
      if (!more || !ParseNumber(argv[++i], 1, 9, &level)) return Usage(kDecodeUsage, "--level needs a number from 1 to 9");
    } else if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      verbose = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(kDecodeUsage, "unknown option " + arg);
    } else {
      for (const std::string& name : Expand(arg)) files.push_back(name);
    }
  }
  settings.level = static_cast<int>(level);
  unsigned cores = std::thread::hardware_concurrency();
  int workers = jobs > 0 ? static_cast<int>(jobs) : cores > 0 ? static_cast<int>(cores) : 1;

  // One input, one output.
  std::vector<std::pair<std::string, std::string>> pairs;
  if (folder.empty()) {
    if (files.size() != 2) return Usage(kDecodeUsage, "decode needs an input and an output file (or -d DIR)");
    std::string ending = Extension(files[1]);
    if (!format.empty()) {
      settings.png = format == "png";
    } else if (ending == "png" || ending == "bmp") {
      settings.png = ending == "png";
    } else {
      return Usage(kDecodeUsage, files[1] == "-" ? "writing to standard output needs --format png or --format bmp"
                                                 : "the output must end in .png or .bmp (or give --format)");
    }
    pairs.push_back({files[0], files[1]});
  } else {
    if (files.empty()) return Usage(kDecodeUsage, "decode needs at least one input file");
    if (!IsDirectory(folder)) {
      Complain(folder, "is not a folder");
      return kExitFailed;
    }
    settings.png = format != "bmp";
    std::string ending = settings.png ? ".png" : ".bmp";
    std::string prefix = folder;
    if (prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
    for (const std::string& in : files) {
      if (in == "-") return Usage(kDecodeUsage, "standard input cannot be one of several inputs");
      pairs.push_back({in, prefix + BaseName(in) + ending});
    }
  }
  std::string why;
  if (!OpenDecoder(options, &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return options.keep16 || options.keep32 ? kExitUsage : kExitFailed;
  }

  size_t count = pairs.size();
  if (static_cast<size_t>(workers) > count) workers = static_cast<int>(count);
  // Threads not needed for whole pictures help compress each one.
  settings.threads = (jobs > 0 ? static_cast<int>(jobs) : cores > 0 ? static_cast<int>(cores) : 1) / workers;
  if (settings.threads < 1) settings.threads = 1;
  bool terminal = StderrIsTerminal() && !quiet;
  settings.draw = count == 1 && terminal;
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
  return failed ? kExitFailed : kExitOk;
}

// ---- encode ----

int Encode(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Help(kEncodeUsage);
  for (int i = 0; i < argc; ++i)
    if (argv[i][0] == '-' && argv[i][1] != '\0') return Usage(kEncodeUsage, std::string("unknown option ") + argv[i]);
  if (argc != 2) return Usage(kEncodeUsage, "encode needs an input and an output file");
  std::string in = argv[0], outPath = argv[1];
  std::string name = in == "-" ? "standard input" : in;
  std::vector<uint8_t> source, bmp, qvx;
  std::string why;
  // The output is opened first, so that an interruption while a slow
  // input is read finds and removes its temporary file.
  OutputFile out;
  if (!OpenOutput(outPath, &out, &why)) {
    Complain(outPath, why);
    return kExitFailed;
  }
  bool converted = ReadWhole(in, &source, &why);
  if (!converted) {
    DiscardOutput(&out);
    Complain(name, why);
    return kExitFailed;
  }
  converted = LooksLikePng(source) ? PngToBmp(source, &bmp, &why) : PlainBmp(source, &bmp, &why);
  std::vector<uint8_t>().swap(source);
  if (!converted || !EncodeQvx(bmp, &qvx, &why)) {
    DiscardOutput(&out);
    Complain(name, "cannot be stored as QVX: " + why);
    return kExitFailed;
  }
  if (std::fwrite(qvx.data(), 1, qvx.size(), out.file) != qvx.size()) {
    why = "write error: " + SystemError();
    DiscardOutput(&out);
    Complain(outPath, why);
    return kExitFailed;
  }
  if (!CommitOutput(&out, &why)) {
    Complain(outPath == "-" ? "standard output" : outPath, why);
    return kExitFailed;
  }
  return kExitOk;
}

int Config(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Help(kConfigUsage);
  if (argc != 0) return Usage(kConfigUsage, "config takes no arguments");
  std::string why;
  if (!OpenDecoder(DecoderOptions(), &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return kExitFailed;
  }
#ifdef _WIN32
  // Without a display no window opens and the dialog would return at once.
  HWND probe = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) {
    std::fprintf(stderr, "tavko: cannot open the configuration dialog: no display to show it on\n");
    return kExitFailed;
  }
  DestroyWindow(probe);
#endif
  DecodeResult result = ConfigureDecoder();
  if (result == kDecodeNotProvided) {
    std::fprintf(stderr, "tavko: the configuration dialog is part of the Windows plug-in only\n");
    return kExitFailed;
  }
  if (result != kDecodeOk) {
    std::fprintf(stderr, "tavko: configuration: %s\n", ResultText(result));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The arguments as UTF-8, from the wide command line: file names outside
  // the system code page reach the program intact.
  std::vector<std::string> utf8 = Utf8Arguments();
  std::vector<char*> pointers;
  for (std::string& argument : utf8) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  if (!utf8.empty()) {
    argc = static_cast<int>(utf8.size());
    argv = pointers.data();
  }
#endif
  if (argc < 2) return Usage(kUsage, "no command given");
  RemoveTemporariesOnSignals();
  std::string command = argv[1];
  if (command == "--help" || command == "-h") return Help(kUsage);
  if (command == "help") {
    if (argc < 3) return Help(kUsage);
    std::string topic = argv[2];
    if (topic == "info") return Help(kInfoUsage);
    if (topic == "decode") return Help(kDecodeUsage);
    if (topic == "encode") return Help(kEncodeUsage);
    if (topic == "config") return Help(kConfigUsage);
    return Usage(kUsage, "no help on " + topic);
  }
  if (command == "--version") {
    std::string why, text[4];
    if (!OpenDecoder(DecoderOptions(), &why)) {
      std::fprintf(stderr, "tavko: %s\n", why.c_str());
      return kExitFailed;
    }
    DecoderStrings(text);
    std::printf("tavko %s\nplug-in: %s\ninterface: %s\nfiles: %s %s\n", kVersion, text[1].c_str(), text[0].c_str(),
                text[2].c_str(), text[3].c_str());
    return kExitOk;
  }
  // Memory running out anywhere ends in a message, never a crash; the
  // unfinished output is dropped on the way.
  try {
    if (command == "info") return Info(argc - 2, argv + 2);
    if (command == "decode") return Decode(argc - 2, argv + 2);
    if (command == "encode") return Encode(argc - 2, argv + 2);
    if (command == "config") return Config(argc - 2, argv + 2);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tavko: not enough memory for this picture\n");
    return kExitFailed;
  }
  return Usage(kUsage, "unknown command " + command);
}
