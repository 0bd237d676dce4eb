// tavko: QVX pictures outside an image viewer. Decodes through the plug-in
// (linked in on Linux, loaded from TAVKO.SPI on Windows, as a viewer loads
// it), encodes BMP and PNG pictures into QVX, and tells what a file holds.
// Each command lives in its own file (cmd_*.cpp); this one picks it.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/command.h"
#include "tools/output.h"
#include "tools/paths.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
// A standard stream closed by the caller is held open on /dev/null the
// wrong way round, so that its writes fail (and are reported) instead of
// landing in the first file tavko opens.
void HoldClosedStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}
#endif

int Dispatch(int argc, char** argv) {
  if (argc < 2) return UsageError("", "no command given");
  std::string command = argv[1];
  if (command == "--help" || command == "-h") return ShowHelp(kUsage);
  if (command == "--version" || command == "-V") return RunVersion();
  if (command == "help") return RunHelp(argc - 1, argv + 1);
  // Memory running out anywhere ends in a message, never a crash; the
  // unfinished output is dropped on the way.
  try {
    if (command == "info") return RunInfo(argc - 1, argv + 1);
    if (command == "decode") return RunDecode(argc - 1, argv + 1);
    if (command == "encode") return RunEncode(argc - 1, argv + 1);
    if (command == "config") return RunConfig(argc - 1, argv + 1);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tavko: not enough memory for this picture\n");
    return kExitFailed;
  }
  return UsageError("", "unknown command " + command);
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
#else
  HoldClosedStreams();
#endif
  RemoveTemporariesOnSignals();
  int status = Dispatch(argc, argv);
  // Whatever went to standard output must have arrived there.
  if (!FinishStandardOutput() && status == kExitOk) status = kExitFailed;
  return status;
}
