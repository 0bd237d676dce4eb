// tavko: QVX pictures outside an image viewer. Decodes through the plug-in's
// own exports (linked in on Linux, loaded from TAVKO.SPI on Windows, as a
// viewer loads it) and encodes BMP files into QVX.
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/exports.h"
#include "tools/png.h"
#include "tools/qvx.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>

#include "settings/options.h"
#endif

namespace {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;

PluginExports Plugin;
std::atomic<bool> interrupted(false);

const char kUsage[] =
    "usage: tavko COMMAND [ARGS]\n"
    "\n"
    "Reads and writes QVX pictures through the TAVKO plug-in.\n"
    "\n"
    "commands:\n"
    "  info FILE...                      tell whether each file is QVX, and its size and depth\n"
    "  decode IN.qvx OUT.png|OUT.bmp     decode a QVX picture to PNG or BMP\n"
    "  encode IN.bmp OUT.qvx             store a BMP picture as QVX\n"
#ifdef _WIN32
    "  config                            open the plug-in's configuration dialog\n"
#endif
    "\n"
    "  tavko COMMAND --help              help on one command\n"
    "  tavko --version                   the plug-in's version\n";

const char kInfoUsage[] =
    "usage: tavko info FILE...\n"
    "\n"
    "For each file, one line: whether the plug-in recognises it as a QVX\n"
    "picture and, if so, its width, height and the depth it is delivered in.\n";

const char kDecodeUsage[] =
    "usage: tavko decode IN.qvx OUT.png|OUT.bmp [--offset N] [--keep16] [--keep32]\n"
    "\n"
    "Decodes a QVX picture; the output's ending chooses PNG or BMP. The BMP\n"
    "holds the plug-in's bitmap exactly as delivered.\n"
    "\n"
    "  --offset N   the picture starts N bytes into the input file\n"
    "  --keep16     deliver 16-bit pictures as 16-bit bit-field bitmaps\n"
    "  --keep32     deliver 32-bit pictures as 32-bit bit-field bitmaps\n"
#ifdef _WIN32
    "\n"
    "On Windows the plug-in decodes with the options stored through its\n"
    "configuration dialog (tavko config); --keep16 and --keep32 are refused.\n"
#endif
    ;

const char kEncodeUsage[] =
    "usage: tavko encode IN.bmp OUT.qvx\n"
    "\n"
    "Stores a Windows BMP picture as QVX. Pictures of 1, 2, 4, 8, 16, 24 or\n"
    "32 bits per pixel without compression or bit fields, with a header of\n"
    "12 or 16 to 64 bytes, can be stored.\n";

const char kConfigUsage[] =
    "usage: tavko config\n"
    "\n"
    "Opens the plug-in's own configuration dialog; what is chosen there is\n"
    "kept for every program that uses the plug-in.\n";

int Usage(const char* text, const char* complaint = nullptr) {
  if (complaint) std::fprintf(stderr, "tavko: %s\n\n", complaint);
  std::fputs(text, stderr);
  return kExitUsage;
}

bool WantsHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
  return false;
}

const char* ResultText(ResultCode result) {
  switch (result) {
    case kResultSuccess: return "success";
    case kResultNotProvided: return "the plug-in does not provide this";
    case kResultAborted: return "decoding was interrupted";
    case kResultNotQvx: return "not a QVX picture";
    case kResultTruncated: return "file shorter than its header promises";
    case kResultNoMemory: return "not enough memory to decode it";
    case kResultLockFailed: return "could not lock memory to decode it";
    case kResultFileError: return "cannot open or read the file";
    default: return "unknown failure";
  }
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFDIR;
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
  if (IsDirectory(path)) {
    *why = "is a directory";
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *why = std::strerror(errno);
    return false;
  }
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
  bool ok = !std::ferror(file);
  std::fclose(file);
  if (!ok) *why = "read error";
  return ok;
}

bool EndsWith(const std::string& text, const char* ending) {
  size_t n = std::strlen(ending);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != ending[i]) return false;
  return true;
}

// Output goes to a temporary file beside the target, renamed over it only
// when everything was written, so a failure never leaves a partial file or
// destroys an existing one.
struct OutputFile {
  std::string target;
  std::string temp;
  FILE* file = nullptr;
};

bool OpenOutput(const std::string& target, OutputFile* out, std::string* why) {
  if (IsDirectory(target)) {
    *why = "is a directory";
    return false;
  }
  out->target = target;
#ifdef _WIN32
  out->temp = target + ".tmp" + std::to_string(_getpid());
#else
  out->temp = target + ".tmp" + std::to_string(getpid());
#endif
  out->file = std::fopen(out->temp.c_str(), "wb");
  if (!out->file) {
    *why = std::string("cannot write: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void DiscardOutput(OutputFile* out) {
  if (out->file) std::fclose(out->file);
  out->file = nullptr;
  std::remove(out->temp.c_str());
}

bool CommitOutput(OutputFile* out, std::string* why) {
  bool ok = std::fflush(out->file) == 0 && !std::ferror(out->file);
  ok = std::fclose(out->file) == 0 && ok;
  out->file = nullptr;
  if (ok && !interrupted) {
#ifdef _WIN32
    ok = MoveFileExA(out->temp.c_str(), out->target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    ok = std::rename(out->temp.c_str(), out->target.c_str()) == 0;
#endif
    if (!ok) *why = std::string("cannot write: ") + std::strerror(errno);
  } else if (!ok) {
    *why = "write error";
  } else {
    *why = ResultText(kResultAborted);
    ok = false;
  }
  if (!ok) std::remove(out->temp.c_str());
  return ok;
}

// The progress bar, drawn on a terminal only.
struct Progress {
  bool draw;
  int lastPercent;
  const char* name;
  int raiseAtRow;  // for tests: interrupt ourselves at this row
};

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

int WINAPI OnProgress(int row, int height, LONG_PTR userData) {
  Progress* progress = reinterpret_cast<Progress*>(userData);
  if (row == progress->raiseAtRow) std::raise(SIGINT);
  if (interrupted) return 1;
  if (progress->draw && height > 0) {
    int percent = static_cast<int>(100LL * row / height);
    if (percent != progress->lastPercent) {
      progress->lastPercent = percent;
      int filled = percent * 30 / 100;
      std::fprintf(stderr, "\r%s [%.*s%.*s] %3d%%", progress->name, filled, "##############################",
                   30 - filled, "..............................", percent);
      std::fflush(stderr);
    }
  }
  return 0;
}

void OnInterrupt(int) { interrupted = true; }

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
  return TRUE;
}
#endif

void CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#endif
}

int Info(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Usage(kInfoUsage), kExitOk;
  if (argc == 0) return Usage(kInfoUsage, "info needs at least one file");
  int status = kExitOk;
  for (int i = 0; i < argc; ++i) {
    std::string path = argv[i];
    std::vector<uint8_t> head;
    std::string why;
    if (!ReadWhole(path, &head, &why)) {
      std::fprintf(stderr, "tavko: %s: %s\n", path.c_str(), why.c_str());
      status = kExitFailed;
      continue;
    }
    // Recognition looks at the first bytes; give it room for a whole header.
    head.resize(head.size() + 64, 0);
    int supported = Plugin.isSupported(argv[i], reinterpret_cast<ULONG_PTR>(head.data()));
    PictureInfo info{};
    ResultCode result = Plugin.getPictureInfo(argv[i], 0, 0, &info);
    if (supported && result == kResultSuccess) {
      std::printf("%s: QVX picture, %d x %d%s, delivered as %d bit%s per pixel\n", path.c_str(), info.width,
                  info.height < 0 ? -info.height : info.height, info.height < 0 ? " (top-down)" : "",
                  info.bitDepth, info.bitDepth == 1 ? "" : "s");
    } else if (result == kResultFileError) {
      std::fprintf(stderr, "tavko: %s: %s\n", path.c_str(), ResultText(result));
      status = kExitFailed;
    } else {
      std::printf("%s: not a QVX picture\n", path.c_str());
    }
  }
  return status;
}

int Decode(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Usage(kDecodeUsage), kExitOk;
  std::vector<std::string> files;
  long long offset = 0;
  int keep16 = 0, keep32 = 0;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--offset") {
      char* end = nullptr;
      if (i + 1 >= argc) return Usage(kDecodeUsage, "--offset needs a number");
      offset = std::strtoll(argv[++i], &end, 10);
      if (*end != '\0' || end == argv[i] || offset < 0 || offset > 0x7FFFFFFF)
        return Usage(kDecodeUsage, "--offset needs a number from 0 to 2147483647");
    } else if (arg == "--keep16") {
      keep16 = 1;
    } else if (arg == "--keep32") {
      keep32 = 1;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(kDecodeUsage, ("unknown option " + arg).c_str());
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return Usage(kDecodeUsage, "decode needs an input and an output file");
  const std::string& in = files[0];
  const std::string& outPath = files[1];
  bool png = EndsWith(outPath, ".png");
  if (!png && !EndsWith(outPath, ".bmp")) return Usage(kDecodeUsage, "the output must end in .png or .bmp");
#ifdef _WIN32
  if (keep16 || keep32) {
    std::fprintf(stderr,
                 "tavko: --keep16 and --keep32 are not taken on Windows: the plug-in decodes with the\n"
                 "options stored through its configuration dialog; change them with 'tavko config'\n");
    return kExitUsage;
  }
#else
  PluginSettings.keep16 = keep16;
  PluginSettings.keep32 = keep32;
  DetectProcessor();
  UpdateOutputDepths();
#endif
  if (IsDirectory(in)) {
    std::fprintf(stderr, "tavko: %s: is a directory\n", in.c_str());
    return kExitFailed;
  }
  OutputFile out;
  std::string why;
  if (!OpenOutput(outPath, &out, &why)) {
    std::fprintf(stderr, "tavko: %s: %s\n", outPath.c_str(), why.c_str());
    return kExitFailed;
  }

  CatchInterrupts();
  const char* raiseAt = std::getenv("TAVKO_TEST_INTERRUPT_AT_ROW");
  Progress progress{StderrIsTerminal(), -1, in.c_str(), raiseAt ? std::atoi(raiseAt) : -1};
  HLOCAL infoHandle = nullptr, bitsHandle = nullptr;
  ResultCode result = Plugin.getPicture(const_cast<char*>(in.c_str()), static_cast<int32_t>(offset), 0, &infoHandle,
                                        &bitsHandle, OnProgress, reinterpret_cast<LONG_PTR>(&progress));
  if (progress.draw && progress.lastPercent >= 0) std::fprintf(stderr, "\r%*s\r", 80, "");
  if (result != kResultSuccess) {
    DiscardOutput(&out);
    std::fprintf(stderr, "tavko: %s: %s\n", in.c_str(), ResultText(result));
    return kExitFailed;
  }

  const uint8_t* info = static_cast<const uint8_t*>(LocalLock(infoHandle));
  const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(bitsHandle));
  size_t infoBytes = LocalSize(infoHandle), pixelBytes = LocalSize(bitsHandle);
  bool ok = info != nullptr && pixels != nullptr;
  if (!ok) why = "could not lock the decoded picture";
  if (ok && png) {
    RgbImage image;
    ok = RenderDib(info, infoBytes, pixels, pixelBytes, &image, &why) && WritePng(out.file, image, &why);
  } else if (ok) {
    std::vector<uint8_t> bmp = DibToBmpFile(info, infoBytes, pixels, pixelBytes);
    ok = std::fwrite(bmp.data(), 1, bmp.size(), out.file) == bmp.size();
    if (!ok) why = "write error";
  }
  if (info) LocalUnlock(infoHandle);
  if (pixels) LocalUnlock(bitsHandle);
  LocalFree(infoHandle);
  LocalFree(bitsHandle);
  if (!ok) {
    DiscardOutput(&out);
    std::fprintf(stderr, "tavko: %s: %s\n", outPath.c_str(), why.c_str());
    return kExitFailed;
  }
  if (!CommitOutput(&out, &why)) {
    std::fprintf(stderr, "tavko: %s: %s\n", outPath.c_str(), why.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int Encode(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Usage(kEncodeUsage), kExitOk;
  for (int i = 0; i < argc; ++i)
    if (argv[i][0] == '-' && argv[i][1] != '\0')
      return Usage(kEncodeUsage, (std::string("unknown option ") + argv[i]).c_str());
  if (argc != 2) return Usage(kEncodeUsage, "encode needs an input and an output file");
  std::vector<uint8_t> bmp, qvx;
  std::string why;
  if (!ReadWhole(argv[0], &bmp, &why)) {
    std::fprintf(stderr, "tavko: %s: %s\n", argv[0], why.c_str());
    return kExitFailed;
  }
  if (!EncodeQvx(bmp, &qvx, &why)) {
    std::fprintf(stderr, "tavko: %s: cannot be stored as QVX: %s\n", argv[0], why.c_str());
    return kExitFailed;
  }
  OutputFile out;
  if (!OpenOutput(argv[1], &out, &why)) {
    std::fprintf(stderr, "tavko: %s: %s\n", argv[1], why.c_str());
    return kExitFailed;
  }
  if (std::fwrite(qvx.data(), 1, qvx.size(), out.file) != qvx.size()) {
    DiscardOutput(&out);
    std::fprintf(stderr, "tavko: %s: write error\n", argv[1]);
    return kExitFailed;
  }
  if (!CommitOutput(&out, &why)) {
    std::fprintf(stderr, "tavko: %s: %s\n", argv[1], why.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int Config(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return Usage(kConfigUsage), kExitOk;
  if (argc != 0) return Usage(kConfigUsage, "config takes no arguments");
  if (Plugin.configurationDlg == nullptr) {
    std::fprintf(stderr, "tavko: the configuration dialog is part of the Windows plug-in only\n");
    return kExitFailed;
  }
  ResultCode result = Plugin.configurationDlg(nullptr, 1);
  if (result != kResultSuccess) {
    std::fprintf(stderr, "tavko: configuration: %s\n", ResultText(result));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(kUsage, "no command given");
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  std::string why;
  if (!LoadPluginExports("", &Plugin, &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return kExitFailed;
  }
  if (command == "--version") {
    char text[4][128];
    for (int i = 0; i < 4; ++i) Plugin.getPluginInfo(i, text[i], sizeof text[i]);
    std::printf("tavko 0.04\nplug-in: %s\ninterface: %s\nfiles: %s %s\n", text[1], text[0], text[2], text[3]);
    return kExitOk;
  }
  if (command == "info") return Info(argc - 2, argv + 2);
  if (command == "decode") return Decode(argc - 2, argv + 2);
  if (command == "encode") return Encode(argc - 2, argv + 2);
  if (command == "config") return Config(argc - 2, argv + 2);
  return Usage(kUsage, ("unknown command " + command).c_str());
}
