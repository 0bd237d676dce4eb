// Output files that are never half written and never harm another file.
// A regular file (or a name not yet taken) is written to a fresh temporary
// file beside it, created exclusively (so a file or link planted at that
// name is never followed), and renamed over the output only when complete;
// the file it replaces keeps its permissions, owner and group, and a
// read-only file is not replaced. Anything else (a pipe, a device such as
// /dev/null) is written into directly, as any program writes into it. An
// output that is a symbolic link is written through to the file the link
// names. Temporary files are removed on every way out, signals and Ctrl-C
// included.
#pragma once

#include <cstdio>
#include <string>

struct OutputFile {
  std::string target;  // the file that receives the output ("-": standard output)
  std::string temp;
  FILE* file = nullptr;
  int slot = -1;  // place in the list of temporary files to remove on a signal
  bool direct = false;     // written into directly: not a regular file
  bool noClobber = false;  // never replace an existing file
  bool existed = false;    // refused because it exists and noClobber is set
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // drops an output left unfinished on any way out
};

// Removes the temporary files of unfinished outputs on every signal whose
// default action ends the program (Ctrl-C and closing the console on
// Windows), then ends it by that signal. Call once at start.
void RemoveTemporariesOnSignals();

// Opens an output; "-" is standard output. Returns false with a reason
// (and out->existed set when noClobber refused an existing file).
bool OpenOutput(const std::string& path, OutputFile* out, std::string* why, bool noClobber = false);
// Puts a complete output in place. Returns false with a reason.
bool CommitOutput(OutputFile* out, std::string* why);
// Drops an unfinished output, leaving any earlier file at its place alone.
void DiscardOutput(OutputFile* out);

// The text of the system's last error (errno, or GetLastError on Windows).
std::string SystemError();

bool IsDirectory(const std::string& path);

// True when output names the same file as input ("-": standard input for
// input, standard output for output): same device and inode, or on Windows
// the same volume and file index. Only regular files are compared.
bool SameFile(const std::string& input, const std::string& output);
