// What the commands share.
#include "tools/command.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "tools/output.h"
#include "tools/paths.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

std::mutex printLock;

namespace {

int stdoutError = 0;      // errno of the first failed write to standard output
bool stdoutSaid = false;  // a failure there has been reported

}  // namespace

int UsageError(const std::string& command, const std::string& complaint) {
  std::lock_guard<std::mutex> hold(printLock);
  std::string help = command.empty() ? "tavko --help" : "tavko " + command + " --help";
  std::fprintf(stderr, "tavko: %s\ntry '%s'\n", complaint.c_str(), help.c_str());
  return kExitUsage;
}

int ShowHelp(const char* text) {
  Print("%s", text);
  return kExitOk;
}

bool ParseCommand(CLI::App* app, int argc, char** argv, const char* help, int* status) {
  // Help is the command's own text, not the parser's. A word starting with
  // a slash is a file name (a path under Wine, say), never an option.
  app->set_help_flag();
  app->allow_windows_style_options(false);
  bool wantsHelp = false;
  app->add_flag("-h,--help", wantsHelp);
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // A request for help wins over anything wrong beside it.
    for (int i = 1; i < argc; ++i) {
      if (!std::strcmp(argv[i], "--")) break;
      if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
        *status = ShowHelp(help);
        return false;
      }
    }
    std::string text = error.what();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    *status = UsageError(argv[0], text);
    return false;
  }
  if (wantsHelp) {
    *status = ShowHelp(help);
    return false;
  }
  return true;
}

void Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  errno = 0;
  int written = std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  if (written < 0 && stdoutError == 0) stdoutError = errno ? errno : EIO;
}

bool FinishStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 && stdoutError == 0) stdoutError = errno ? errno : EIO;
  if (!std::ferror(stdout) && stdoutError == 0) return true;
  if (stdoutSaid) return false;
  Complain("standard output", std::string("write error: ") + std::strerror(stdoutError ? stdoutError : EIO));
  return false;
}

void ComplainAboutOutput(const std::string& path, const std::string& why) {
  if (path == "-") stdoutSaid = true;
  Complain(OutputName(path), why);
}

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

std::string InputName(const std::string& path) { return path == "-" ? "standard input" : path; }
std::string OutputName(const std::string& path) { return path == "-" ? "standard output" : path; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& path) {
  size_t dot = path.find_last_of('.'), slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return Lower(path.substr(dot + 1));
}

std::string StemOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

#ifdef _WIN32
std::vector<std::string> Expand(const std::string& pattern, bool* failed) {
  if (pattern.find_first_of("*?") == std::string::npos) return {pattern};
  std::vector<std::string> names;
  size_t slash = pattern.find_last_of("\\/:");
  std::string folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WideName(pattern).c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(folder + Utf8Name(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  if (names.empty()) {
    Complain(pattern, "no file matches");
    *failed = true;
  }
  return names;
}
#else
std::vector<std::string> Expand(const std::string& pattern, bool*) { return {pattern}; }
#endif

uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

Input::~Input() {
  if (file != nullptr && file != stdin) std::fclose(file);
}

bool OpenInput(const std::string& path, int64_t offset, Input* input, std::string* why) {
  input->path = path;
  uint64_t size = 0;
  PathKind kind = path == "-" ? kPathOther : KindOf(path, &size);
  if (kind == kPathDirectory) {
    *why = "is a directory";
    return false;
  }
  input->file = path == "-" ? stdin : OpenForReading(path);
  if (input->file == nullptr) {
    *why = std::strerror(errno);
    return false;
  }
#ifdef _WIN32
  if (input->file == stdin) _setmode(_fileno(stdin), _O_BINARY);
#endif
  input->regular = kind == kPathFile;
  input->size = size;
  if (input->regular) {
    if (offset > 0 && static_cast<uint64_t>(offset) >= size) {
      *why = "--offset " + std::to_string(offset) + " is past the end of the file (" + std::to_string(size) + " bytes)";
      return false;
    }
#ifdef _WIN32
    bool moved = _fseeki64(input->file, offset, SEEK_SET) == 0;
#else
    bool moved = fseeko(input->file, offset, SEEK_SET) == 0;
#endif
    if (!moved) *why = std::strerror(errno);
    return moved;
  }
  // Pipes and devices: the bytes before the picture are read and dropped.
  for (int64_t skip = offset; skip > 0;) {
    uint8_t buffer[65536];
    size_t want = skip > static_cast<int64_t>(sizeof buffer) ? sizeof buffer : static_cast<size_t>(skip);
    size_t got = 0;
    if (!ReadUpTo(input, buffer, want, &got)) {
      *why = "read error: " + std::string(std::strerror(errno));
      return false;
    }
    if (got < want) {
      *why = "--offset " + std::to_string(offset) + " is past the end of the input (" +
             std::to_string(offset - skip + static_cast<int64_t>(got)) + " bytes)";
      return false;
    }
    skip -= static_cast<int64_t>(got);
  }
  return true;
}

bool ReadUpTo(Input* input, uint8_t* out, size_t count, size_t* got) {
  *got = 0;
  while (*got < count) {
    size_t n = std::fread(out + *got, 1, count - *got, input->file);
    *got += n;
    if (n == 0) break;
  }
  return !std::ferror(input->file);
}

void LookAtHeader(const uint8_t* head, size_t got, HeaderFacts* facts) {
  HeaderFacts& f = *facts;
  f = HeaderFacts();
  bool recognised = got >= 18 && DecoderRecognises(head, 1024);
  DecoderPictureInfo picture;
  bool informed = got >= 18 && DecoderInfo(head, got, &picture) == kDecodeOk;
  // Header fields, after undoing the complement (bytes 0 to 53).
  uint8_t plain[54] = {0};
  for (size_t i = 0; i < 54; ++i) plain[i] = static_cast<uint8_t>(~head[i]);
  uint32_t offBits = Get32(plain + 10), headerSize = Get32(plain + 14);
  f.core = headerSize == 12;
  bool core = f.core;
  auto field = [&](uint32_t at, int n) -> uint32_t {
    if (!core && at + n > 14 + static_cast<uint64_t>(headerSize)) return 0;
    return n == 2 ? Get16(plain + at) : Get32(plain + at);
  };
  f.width = core ? static_cast<int16_t>(Get16(plain + 18)) : static_cast<int32_t>(field(18, 4));
  int64_t height = core ? static_cast<int16_t>(Get16(plain + 20)) : static_cast<int32_t>(field(22, 4));
  f.bits = core ? Get16(plain + 24) : field(28, 2);
  f.xDensity = core ? 0 : field(38, 4);
  f.yDensity = core ? 0 : field(42, 4);
  f.rows = height < 0 ? static_cast<uint64_t>(-height) : static_cast<uint64_t>(height);
  f.topDown = height < 0;
  f.headerBytes = headerSize;
  f.deliveredBits = picture.bitDepth;
  if (!informed || !recognised) {
    f.problem = "not a QVX picture";
    return;
  }
  f.qvx = true;
  if (f.width <= 0 || height == 0) {
    f.problem = "a QVX header, but its picture size " + std::to_string(f.width) + " x " + std::to_string(height) +
                " has no pixels; it cannot be decoded";
    return;
  }
  uint64_t tableStart = core ? 26 : 14 + static_cast<uint64_t>(headerSize);
  if (f.bits <= 8) {
    uint64_t full = 1ull << f.bits;
    f.colours = tableStart + 4 * full <= offBits ? full : offBits > tableStart ? (offBits - tableStart) / 4 : 0;
    if (f.colours > full) f.colours = full;
  }
  f.needed = offBits + (static_cast<uint64_t>(f.width) * f.bits + 31) / 32 * 4 * f.rows;
}

bool ReadHeader(Input* input, std::vector<uint8_t>* head, size_t* got, HeaderFacts* facts, std::string* why) {
  head->assign(1024, 0);
  // The signature first: anything else is refused before more is read.
  bool ok = ReadUpTo(input, head->data(), 2, got);
  if (ok && *got == 2 && (*head)[0] == 0xBD && (*head)[1] == 0xB2) {
    size_t more = 0;
    ok = ReadUpTo(input, head->data() + 2, 1022, &more);
    *got += more;
  }
  if (!ok) {
    *why = "read error: " + std::string(std::strerror(errno));
    return false;
  }
  LookAtHeader(head->data(), *got, facts);
  return true;
}

std::string OverPixelLimit(uint64_t width, uint64_t rows, uint64_t maxPixels) {
  if (maxPixels == 0 || width * rows <= maxPixels) return "";
  return "a picture of " + std::to_string(width) + " x " + std::to_string(rows) + " pixels, more than the limit of " +
         std::to_string(maxPixels) + " (raise it with --max-pixels)";
}
