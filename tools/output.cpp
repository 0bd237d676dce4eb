// Output files: exclusive temporary files, renamed into place.
#include "tools/output.h"

#include "tools/paths.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The temporary files being written, for the signal handler: fixed slots,
// each path complete before its flag is set (wide names on Windows).
const int kSlots = 256;
#ifdef _WIN32
typedef wchar_t PathChar;
#else
typedef char PathChar;
#endif
PathChar slotPaths[kSlots][4096];
std::atomic<bool> slotUsed[kSlots];
std::mutex slotLock;
std::atomic<unsigned> counter(0);

int TakeSlot(const std::string& utf8) {
  std::lock_guard<std::mutex> hold(slotLock);
#ifdef _WIN32
  std::wstring path = WideName(utf8);
#else
  const std::string& path = utf8;
#endif
  if (path.size() >= sizeof slotPaths[0] / sizeof slotPaths[0][0]) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i]) continue;
    std::memcpy(slotPaths[i], path.c_str(), (path.size() + 1) * sizeof path[0]);
    slotUsed[i] = true;
    return i;
  }
  return -1;
}

void FreeSlot(int slot) {
  if (slot >= 0) slotUsed[slot] = false;
}

void RemoveAllTemporaries() {
  for (int i = 0; i < kSlots; ++i) {
    if (!slotUsed[i]) continue;
#ifdef _WIN32
    DeleteFileW(slotPaths[i]);
#else
    unlink(slotPaths[i]);
#endif
  }
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD) {
  RemoveAllTemporaries();
  static const char kText[] = "\ntavko: interrupted\n";
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
  ExitProcess(130);
  return TRUE;
}
#else
void OnSignal(int signal) {
  RemoveAllTemporaries();
  static const char kText[] = "\ntavko: interrupted\n";
  ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
  (void)ignored;
  _exit(128 + signal);
}
#endif

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of(
#ifdef _WIN32
      "\\/:"
#else
      "/"
#endif
  );
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

#ifndef _WIN32
// The file a chain of symbolic links ends at (the path itself when it is
// no link); a dangling link's target is where the output goes.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) break;
    target[n] = '\0';
    path = target[0] == '/' ? std::string(target) : DirectoryOf(path) + target;
  }
  return path;
}
#endif

}  // namespace

std::string SystemError() {
#ifdef _WIN32
  DWORD code = GetLastError();
  char text[256] = {0};
  if (code == 0 || FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr) == 0)
    return std::strerror(errno);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
#else
  return std::strerror(errno);
#endif
}

bool IsDirectory(const std::string& path) { return KindOf(path) == kPathDirectory; }

void RemoveTemporariesOnSignals() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

OutputFile::~OutputFile() {
  if (file != nullptr) DiscardOutput(this);
}

bool OpenOutput(const std::string& path, OutputFile* out, std::string* why) {
  out->target.clear();
  out->temp.clear();
  out->file = nullptr;
  out->slot = -1;
  if (path == "-") {
    out->target = path;
    out->file = stdout;
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return true;
  }
  if (IsDirectory(path)) {
    *why = "is a directory";
    return false;
  }
#ifdef _WIN32
  out->target = path;
#else
  out->target = FollowLinks(path);
#endif
  // A short name, so that outputs whose own names are near the system's
  // limit still get one.
  std::string folder = DirectoryOf(out->target);
  for (int attempt = 0; attempt < 100 && out->file == nullptr; ++attempt) {
    char name[32];
    unsigned serial = counter++;
#ifdef _WIN32
    std::snprintf(name, sizeof name, ".tv%lx%x", GetCurrentProcessId(), serial);
#else
    std::snprintf(name, sizeof name, ".tv%lx%x", static_cast<unsigned long>(getpid()), serial);
#endif
    out->temp = folder + name;
    out->slot = TakeSlot(out->temp);
#ifdef _WIN32
    HANDLE handle = CreateFileW(WideName(out->temp).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    bool exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    int fd = handle == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
    if (handle != INVALID_HANDLE_VALUE && fd < 0) CloseHandle(handle);
#else
    int fd = open(out->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    bool exists = fd < 0 && errno == EEXIST;
    // A file being replaced keeps its permissions.
    struct stat old;
    if (fd >= 0 && stat(out->target.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
#endif
    if (fd >= 0) out->file = fdopen(fd, "wb");
    if (out->file == nullptr) {
      *why = "cannot write: " + SystemError();
      if (fd >= 0) {
#ifdef _WIN32
        _close(fd);
#else
        close(fd);
#endif
        RemoveFile(out->temp);
      }
      FreeSlot(out->slot);
      out->slot = -1;
      if (!exists) return false;
    }
  }
  return out->file != nullptr;
}

bool CommitOutput(OutputFile* out, std::string* why) {
  bool ok = std::fflush(out->file) == 0 && !std::ferror(out->file);
  if (out->target == "-") {
    out->file = nullptr;
    if (!ok) *why = "write error on standard output";
    return ok;
  }
  ok = std::fclose(out->file) == 0 && ok;
  out->file = nullptr;
  if (!ok) {
    *why = "write error: " + SystemError();
  } else {
#ifdef _WIN32
    ok = MoveFileExW(WideName(out->temp).c_str(), WideName(out->target).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    ok = std::rename(out->temp.c_str(), out->target.c_str()) == 0;
#endif
    if (!ok) *why = "cannot write: " + SystemError();
  }
  if (!ok) RemoveFile(out->temp);
  FreeSlot(out->slot);
  out->slot = -1;
  return ok;
}

void DiscardOutput(OutputFile* out) {
  if (out->target == "-") {
    out->file = nullptr;
    return;
  }
  if (out->file) std::fclose(out->file);
  out->file = nullptr;
  if (!out->temp.empty()) RemoveFile(out->temp);
  FreeSlot(out->slot);
  out->slot = -1;
}
