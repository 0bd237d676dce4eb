// Opening and looking at files by UTF-8 names.
#include "tools/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace {

bool MakeFolder(const std::string& path);

}  // namespace

bool MakeFolders(const std::string& path) {
  if (KindOf(path) == kPathDirectory) return true;
  size_t slash = path.find_last_of("/\\");
  while (slash != std::string::npos && slash > 0 && (path[slash - 1] == '/' || path[slash - 1] == '\\')) --slash;
  std::string parent = slash == std::string::npos || slash == 0 ? "" : path.substr(0, slash);
  if (!parent.empty() && !(parent.size() == 2 && parent[1] == ':') && !MakeFolders(parent)) return false;
  if (MakeFolder(path)) return true;
  int error = errno;
  if (KindOf(path) == kPathDirectory) return true;  // made meanwhile by another program
  errno = error;
  return false;
}

#ifdef _WIN32
namespace {

bool MakeFolder(const std::string& path) {
  if (CreateDirectoryW(WideName(path).c_str(), nullptr)) return true;
  DWORD code = GetLastError();
  errno = code == ERROR_ACCESS_DENIED ? EACCES : code == ERROR_PATH_NOT_FOUND ? ENOENT
        : code == ERROR_ALREADY_EXISTS ? EEXIST : EIO;
  return false;
}

}  // namespace

std::wstring WideName(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

std::string Utf8Name(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string utf8(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, nullptr, nullptr);
  return utf8;
}

std::vector<std::string> Utf8Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide != nullptr && i < count; ++i) arguments.push_back(Utf8Name(wide[i]));
  if (wide != nullptr) LocalFree(wide);
  return arguments;
}

FILE* OpenForReading(const std::string& path) { return _wfopen(WideName(path).c_str(), L"rb"); }

PathKind KindOf(const std::string& path, uint64_t* size) {
  struct _stat64 info;
  if (_wstat64(WideName(path).c_str(), &info) != 0) return kPathMissing;
  if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  if ((info.st_mode & S_IFMT) == S_IFREG) return kPathFile;
  return (info.st_mode & S_IFMT) == S_IFDIR ? kPathDirectory : kPathOther;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(WideName(path).c_str()) != 0; }
#else
namespace {

bool MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

}  // namespace

FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

PathKind KindOf(const std::string& path, uint64_t* size) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return kPathMissing;
  if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  if (S_ISREG(info.st_mode)) return kPathFile;
  return S_ISDIR(info.st_mode) ? kPathDirectory : kPathOther;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }
#endif
