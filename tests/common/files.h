// Listing the files of a folder, on either build.
#pragma once

#include <string>
#include <vector>

// The files (not folders) in dir, as dir + "/" + name, sorted.
std::vector<std::string> FilesIn(const std::string& dir);

// The part of a path after its last slash.
std::string BaseName(const std::string& path);
