#include "common/files.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "/*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        names.push_back(dir + "/" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
#else
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string path = dir + "/" + e->d_name;
      struct stat info;
      if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(path);
    }
    closedir(d);
  }
#endif
  std::sort(names.begin(), names.end());
  return names;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
