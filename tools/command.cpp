// What the commands share.
#include "tools/command.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "decode/header.h"
#include "decode/qvx.h"
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

namespace {

// CLI11's complaints in this program's words. Values are checked by
// CheckNumber and CheckWord, whose complaints are already ours.
std::string InOurWords(const CLI::ParseError& error) {
  std::string text = error.what();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  size_t colon = text.find(": ");
  std::string name = text.substr(0, text.find(':'));
  std::string rest = colon == std::string::npos ? "" : text.substr(colon + 2);
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr)
    return (rest.compare(0, 1, "-") == 0 ? "unknown option " : "unexpected argument ") + rest;
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) return name + " needs a value";
  if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
    // A flag given a value: "--quiet: too many inputs for a flag", or
    // "Could not convert: --quiet = yes".
    size_t equals = rest.find(" = ");
    return (equals == std::string::npos ? name : rest.substr(0, equals)) + " takes no value";
  }
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace

void CheckNumber(CLI::Option* option, uint64_t low, uint64_t high) {
  option->check(CLI::Validator(
      [low, high](std::string& text) -> std::string {
        std::string range = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        std::string digits = text.compare(0, 1, "+") == 0 ? text.substr(1) : text;
        bool negative = text.size() > 1 && text[0] == '-' && text.find_first_not_of("0123456789", 1) == std::string::npos;
        bool number = !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
        if (!number && !negative) return "'" + text + "' is not a number; give " + range;
        errno = 0;
        unsigned long long value = number ? std::strtoull(digits.c_str(), nullptr, 10) : 0;
        if (negative || errno == ERANGE || value < low || value > high) return text + " is out of range; give " + range;
        return "";
      },
      "", ""));
}

void CheckWord(CLI::Option* option, const std::vector<std::string>& words) {
  option->transform(CLI::Validator(
      [words](std::string& text) -> std::string {
        std::string lower = Lower(text), list;
        for (const std::string& word : words) {
          if (lower == word) {
            text = lower;
            return "";
          }
          list += (list.empty() ? "" : word == words.back() ? " or " : ", ") + word;
        }
        return "'" + text + "' is not a format it writes; give " + list;
      },
      "", ""));
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
    *status = UsageError(argv[0], InOurWords(error));
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

namespace {

bool IsTerminal(FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace

bool StderrIsTerminal() { return IsTerminal(stderr); }
bool StdoutIsTerminal() { return IsTerminal(stdout); }

bool MayWriteTo(const std::string& output, bool force) {
  if (output != "-" || force || !StdoutIsTerminal()) return true;
  Complain("standard output", "is a terminal; a picture is not written there (redirect it, or give -f to force)");
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
  // The fields as the decoder reads them: the core's header reading, so
  // that every header size means here what it means to the decoder.
  QvxHeader header;
  if (!informed || !recognised || QvxReadHeader(head, got, &header) != kQvxOk) {
    f.problem = "not a QVX picture";
    return;
  }
  f.qvx = true;
  f.core = header.storedSize == kCoreHeaderSize;
  f.headerBytes = header.storedSize;
  f.width = header.biWidth;
  int64_t height = header.biHeight;
  f.rows = height < 0 ? static_cast<uint64_t>(-height) : static_cast<uint64_t>(height);
  f.topDown = height < 0;
  f.bits = header.biBitCount;
  f.xDensity = static_cast<uint32_t>(header.biXPelsPerMeter);
  f.yDensity = static_cast<uint32_t>(header.biYPelsPerMeter);
  f.deliveredBits = picture.bitDepth;
  QvxOptions sizes = {};
  sizes.maxBlockBytes = UINT64_MAX;
  QvxPlan plan;
  if (f.width <= 0 || height == 0 || QvxPlanDecode(header, sizes, UINT64_MAX, &plan) != kQvxOk) {
    f.problem = "a QVX header, but its picture size " + std::to_string(f.width) + " x " + std::to_string(height) +
                " has no pixels; it cannot be decoded";
    return;
  }
  f.colours = plan.bits <= 8 ? plan.colourCount : 0;
  f.needed = plan.pixelOffset + plan.sourceStride * plan.rows;
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
