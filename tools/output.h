// Output files that are never half written and never harm another file.
// Each output is written to a fresh temporary file beside it, created
// exclusively (so a file or link planted at that name is never followed),
// and renamed over the output only when complete. An output that is a
// symbolic link is written through to the file the link names. Temporary
// files are removed on every way out, signals and Ctrl-C included.
#pragma once

#include <cstdio>
#include <string>

struct OutputFile {
  std::string target;  // the file that receives the output ("-": standard output)
  std::string temp;
  FILE* file = nullptr;
  int slot = -1;  // place in the list of temporary files to remove on a signal
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // drops an output left unfinished on any way out
};

// Removes the temporary files of unfinished outputs on SIGINT, SIGTERM and
// SIGHUP (Ctrl-C and closing the console on Windows) and ends the program
// with a message. Call once at start.
void RemoveTemporariesOnSignals();

// Opens an output; "-" is standard output. Returns false with a reason.
bool OpenOutput(const std::string& path, OutputFile* out, std::string* why);
// Puts a complete output in place. Returns false with a reason.
bool CommitOutput(OutputFile* out, std::string* why);
// Drops an unfinished output, leaving any earlier file at its place alone.
void DiscardOutput(OutputFile* out);

// The text of the system's last error (errno, or GetLastError on Windows).
std::string SystemError();

bool IsDirectory(const std::string& path);
