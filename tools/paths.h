// File names in tavko are UTF-8 on every build. On Windows they are opened
// through the wide-character functions, so a name outside the system code
// page (Japanese, accents, emoji) works as any other.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Opens a file for reading in binary mode; null with errno set on failure.
FILE* OpenForReading(const std::string& path);

enum PathKind { kPathMissing, kPathFile, kPathDirectory, kPathOther };

// What is at path; *size gets a regular file's size.
PathKind KindOf(const std::string& path, uint64_t* size = nullptr);

// Makes a folder and any missing folders above it, as mkdir -p does.
// Returns false with errno set.
bool MakeFolders(const std::string& path);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);

#ifdef _WIN32
std::wstring WideName(const std::string& utf8);
std::string Utf8Name(const wchar_t* wide);

// The program's arguments, read from the wide command line, as UTF-8.
std::vector<std::string> Utf8Arguments();
#endif
