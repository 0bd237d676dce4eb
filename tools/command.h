// What the commands of tavko share: exit statuses, parsing and usage
// errors, messages, checked standard output, and reading a picture's first
// bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "tools/backend.h"

namespace CLI {
class App;
class Option;
}

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;

// The most pixels a picture may have unless --max-pixels says otherwise:
// 2^28, a 16384 x 16384 picture (768 MiB at 24 bits). 0 lifts the limit.
const uint64_t kDefaultMaxPixels = 1ull << 28;

// The help texts (help.cpp).
extern const char kUsage[];
extern const char kInfoUsage[];
extern const char kDecodeUsage[];
extern const char kEncodeUsage[];
extern const char kConfigUsage[];

// The commands. argv[0] is the command's name, the rest its arguments.
int RunInfo(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunEncode(int argc, char** argv);
int RunConfig(int argc, char** argv);
int RunHelp(int argc, char** argv);
int RunVersion();

// Parses a command's arguments. Returns false with *status set when the run
// ends here: help was asked for (shown on standard output) or the
// arguments are wrong (one line, and where to read more).
bool ParseCommand(CLI::App* app, int argc, char** argv, const char* help, int* status);
// Checks an option's value, with a complaint in this program's words: a
// whole number from low to high, or one of words (case ignored; the value
// becomes lower case).
void CheckNumber(CLI::Option* option, uint64_t low, uint64_t high);
void CheckWord(CLI::Option* option, const std::vector<std::string>& words);
// A usage error of command ("" for tavko itself): one line and a pointer to
// the help. Returns kExitUsage.
int UsageError(const std::string& command, const std::string& complaint);
// Shows a help text on standard output.
int ShowHelp(const char* text);

// Standard output, checked: Print notes the first failed write, and
// FinishStandardOutput flushes it and says (on standard error) when anything
// written there was lost.
void Print(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
bool FinishStandardOutput();
// Says why an output failed; for standard output, FinishStandardOutput then
// leaves it at that.
void ComplainAboutOutput(const std::string& path, const std::string& why);

// One message on standard error: "tavko: NAME: WHY".
void Complain(const std::string& name, const std::string& why);
// Held while writing to standard error from the batch's workers.
extern std::mutex printLock;
bool StderrIsTerminal();
bool StdoutIsTerminal();
// Refuses, as gzip does, a picture written to a terminal unless forced:
// says so and returns false.
bool MayWriteTo(const std::string& output, bool force);

const char* ResultText(DecodeResult result);
// "standard input" or "standard output" for "-", else the path.
std::string InputName(const std::string& path);
std::string OutputName(const std::string& path);

std::string Lower(std::string text);
// A path's ending in lower case, without the dot ("" when it has none).
std::string Extension(const std::string& path);
// A path's file name without its folder and ending.
std::string StemOf(const std::string& path);

// The files a command-line word names. Windows expands wildcards here
// (cmd.exe does not); a pattern that matches nothing is said so and gives
// none, and *failed is set.
std::vector<std::string> Expand(const std::string& pattern, bool* failed);

// An input opened for reading its first bytes: a file, or standard input
// for "-". A regular file can be read further by the decoder itself;
// anything else (pipes, devices) is read here as far as its header asks.
struct Input {
  std::string path;
  FILE* file = nullptr;
  bool regular = false;
  uint64_t size = 0;  // a regular file's size
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input();
};
// Opens path and skips offset bytes. Returns false with a reason.
bool OpenInput(const std::string& path, int64_t offset, Input* input, std::string* why);
// Reads up to count bytes, as many as arrive before the end. Returns false
// on a read error.
bool ReadUpTo(Input* input, uint8_t* out, size_t count, size_t* got);

// What the first bytes of a picture say: the plug-in's own answers, and the
// header fields and sizes as the decoding core reads them.
struct HeaderFacts {
  bool qvx = false;
  std::string problem;  // why it cannot be decoded, "" when it can
  int64_t width = 0;
  uint64_t rows = 0;
  bool topDown = false;
  uint32_t bits = 0;
  int deliveredBits = 0;
  uint32_t headerBytes = 0;
  bool core = false;
  uint64_t colours = 0;
  uint32_t xDensity = 0, yDensity = 0;
  uint64_t needed = 0;  // bytes the header promises, from its first byte
};
// head holds got bytes of the picture, zeros after them up to 1024 bytes.
void LookAtHeader(const uint8_t* head, size_t got, HeaderFacts* facts);
// Reads the first bytes of input (up to 1024) and what they say; the
// signature is looked at as soon as two bytes are in. Returns false with a
// reason when the input cannot be read.
bool ReadHeader(Input* input, std::vector<uint8_t>* head, size_t* got, HeaderFacts* facts, std::string* why);
// The reason a picture of these facts is over the pixel limit, or "".
std::string OverPixelLimit(uint64_t width, uint64_t rows, uint64_t maxPixels);
