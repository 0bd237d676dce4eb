// Output files: exclusive temporary files, renamed into place.
#include "tools/output.h"

#include "tools/paths.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

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
// Installed with SA_RESETHAND and SA_NODEFER: once the temporary files are
// gone, the signal raised again takes its default action at once.
void OnSignal(int signal) {
  int saved = errno;
  RemoveAllTemporaries();
  if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
    static const char kText[] = "\ntavko: interrupted\n";
    ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
  }
  raise(signal);
  errno = saved;
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
// no link); a dangling link's target is where the output goes. False for a
// loop of links (or one too long to follow).
bool FollowLinks(std::string* path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[4096];
    ssize_t n = readlink(path->c_str(), target, sizeof target - 1);
    if (n < 0) return true;
    target[n] = '\0';
    *path = target[0] == '/' ? std::string(target) : DirectoryOf(*path) + target;
  }
  errno = ELOOP;
  return false;
}

// The signals whose default action ends the program.
const int kEndingSignals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE,
    SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
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
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  std::vector<int> signals(std::begin(kEndingSignals), std::end(kEndingSignals));
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
  for (int signal : signals) {
    // A signal ignored by whoever started tavko (nohup) stays ignored.
    struct sigaction old;
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
#endif
}

bool SameFile(const std::string& input, const std::string& output) {
#ifdef _WIN32
  auto identify = [](const std::string& path, DWORD standard, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE handle = path == "-" ? GetStdHandle(standard)
                                : CreateFileW(WideName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    bool ok = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, info) &&
              !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (path != "-") CloseHandle(handle);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION in, out;
  return identify(input, STD_INPUT_HANDLE, &in) && identify(output, STD_OUTPUT_HANDLE, &out) &&
         in.dwVolumeSerialNumber == out.dwVolumeSerialNumber && in.nFileIndexHigh == out.nFileIndexHigh &&
         in.nFileIndexLow == out.nFileIndexLow;
#else
  struct stat in, out;
  bool known = (input == "-" ? fstat(STDIN_FILENO, &in) : stat(input.c_str(), &in)) == 0 &&
               (output == "-" ? fstat(STDOUT_FILENO, &out) : stat(output.c_str(), &out)) == 0;
  return known && S_ISREG(out.st_mode) && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
#endif
}

OutputFile::~OutputFile() {
  if (file != nullptr) DiscardOutput(this);
}

namespace {

#ifdef _WIN32
// A C runtime descriptor owning handle, or -1 (and the handle closed).
int DescriptorOf(HANDLE handle) {
  int fd = handle == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
  if (handle != INVALID_HANDLE_VALUE && fd < 0) CloseHandle(handle);
  return fd;
}
#endif

// A stream writing to fd (-1 when the open failed); null, with fd closed and
// the reason in why, when there is none.
FILE* StreamOf(int fd, std::string* why) {
  FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    *why = "cannot write: " + SystemError();
    if (fd >= 0) {
#ifdef _WIN32
      _close(fd);
#else
      close(fd);
#endif
    }
  }
  return file;
}

// Opens an existing output that is not a regular file, to write into it.
bool OpenDirect(OutputFile* out, std::string* why) {
#ifdef _WIN32
  HANDLE handle = CreateFileW(WideName(out->target).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  int fd = DescriptorOf(handle);
#else
  int fd = open(out->target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
#endif
  out->file = StreamOf(fd, why);
  if (out->file == nullptr) return false;
  out->direct = true;
  return true;
}

// A regular file that the user may not write is not replaced.
bool ReadOnly(const std::string& path) {
#ifdef _WIN32
  DWORD attributes = GetFileAttributesW(WideName(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
#endif
}

}  // namespace

bool OpenOutput(const std::string& path, OutputFile* out, std::string* why, bool noClobber) {
  out->target.clear();
  out->temp.clear();
  out->file = nullptr;
  out->slot = -1;
  out->direct = false;
  out->noClobber = noClobber;
  out->existed = false;
  if (path == "-") {
    out->target = path;
    out->file = stdout;
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return true;
  }
  out->target = path;
#ifndef _WIN32
  if (!FollowLinks(&out->target)) {
    *why = "cannot write: " + SystemError();
    return false;
  }
#endif
  PathKind kind = KindOf(out->target);
  if (kind == kPathDirectory) {
    *why = "is a directory";
    return false;
  }
  if (kind != kPathMissing && noClobber) {
    out->existed = true;
    *why = "exists; not replaced (--no-clobber)";
    return false;
  }
  if (kind == kPathOther) return OpenDirect(out, why);
  if (kind == kPathFile && ReadOnly(out->target)) {
#ifdef _WIN32
    *why = "cannot replace it: the file is read-only";
#else
    *why = "cannot replace it: " + std::string(std::strerror(EACCES)) + " (the file is read-only)";
#endif
    return false;
  }
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
    int fd = DescriptorOf(handle);
#else
    int fd = open(out->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    bool exists = fd < 0 && errno == EEXIST;
    // A file being replaced keeps its permissions, and its owner and group
    // as far as the user may give them.
    struct stat old;
    if (fd >= 0 && stat(out->target.c_str(), &old) == 0) {
      if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      }
      fchmod(fd, old.st_mode & 07777);
    }
#endif
    out->file = StreamOf(fd, why);
    if (out->file == nullptr) {
      if (fd >= 0) RemoveFile(out->temp);
      FreeSlot(out->slot);
      out->slot = -1;
      if (!exists) return false;
    }
  }
  return out->file != nullptr;
}

namespace {

// Puts the finished temporary file in place, over the old file or, with
// noClobber, only where no file is (decided atomically).
bool PutInPlace(OutputFile* out) {
#ifdef _WIN32
  DWORD flags = out->noClobber ? 0 : MOVEFILE_REPLACE_EXISTING;
  bool ok = MoveFileExW(WideName(out->temp).c_str(), WideName(out->target).c_str(), flags) != 0;
  if (!ok && (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS)) out->existed = true;
  return ok;
#else
  if (!out->noClobber) return std::rename(out->temp.c_str(), out->target.c_str()) == 0;
  if (renameat2(AT_FDCWD, out->temp.c_str(), AT_FDCWD, out->target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {  // a file system without it: a hard link does the same
    if (link(out->temp.c_str(), out->target.c_str()) == 0) {
      unlink(out->temp.c_str());
      return true;
    }
  }
  if (errno == EEXIST) out->existed = true;
  return false;
#endif
}

}  // namespace

bool CommitOutput(OutputFile* out, std::string* why) {
  errno = 0;
  bool ok = std::fflush(out->file) == 0 && !std::ferror(out->file);
  if (out->target == "-") {
    out->file = nullptr;
    if (!ok) *why = "write error: " + std::string(std::strerror(errno ? errno : EIO));
    return ok;
  }
  int flushError = errno;
  ok = std::fclose(out->file) == 0 && ok;
  out->file = nullptr;
  if (!ok) {
    *why = "write error: " + std::string(std::strerror(flushError ? flushError : errno ? errno : EIO));
  } else if (!out->direct) {
    ok = PutInPlace(out);
    if (!ok) *why = out->existed ? "exists; not replaced (--no-clobber)" : "cannot write: " + SystemError();
  }
  if (!ok && !out->direct) RemoveFile(out->temp);
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
  if (!out->temp.empty() && !out->direct) RemoveFile(out->temp);
  FreeSlot(out->slot);
  out->slot = -1;
}
