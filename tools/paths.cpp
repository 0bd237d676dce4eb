// Opening and looking at files by UTF-8 names.
#include "tools/paths.h"

#include <sys/stat.h>

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
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
