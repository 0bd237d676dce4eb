// Reading the input of the decoding entries.
#include "plugin/source.h"

namespace {

// Reads count bytes from offset (counted from the picture's first byte).
// A read that fails or comes back short, as from a file that shrank after
// it was sized, is a failure.
bool ReadFileRange(void* context, uint64_t offset, uint8_t* out, uint64_t count) {
  HostSource* host = static_cast<HostSource*>(context);
  uint64_t at = host->offset + offset;
  LONG high = static_cast<LONG>(at >> 32);
  DWORD low = SetFilePointer(host->file, static_cast<LONG>(at & 0xFFFFFFFFu), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && (at & 0xFFFFFFFFu) != 0xFFFFFFFFu) return false;
  while (count > 0) {
    DWORD asked = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD read = 0;
    if (!ReadFile(host->file, out, asked, &read, nullptr) || read != asked) return false;
    out += asked;
    count -= asked;
  }
  return true;
}

// Takes over an opened file (or the failure to open one).
ResultCode UseFile(HANDLE file, LONG_PTR offset, HostSource* out) {
  if (file == INVALID_HANDLE_VALUE) return kResultFileError;
  uint64_t size = 0;
  // No size to count from, or a position before the file's first byte:
  // there is nothing that could be read in full.
  if (!HostFileSize(file, &size) || offset < 0) {
    CloseHandle(file);
    return kResultFileError;
  }
  // An offset past the end leaves a negative count, which as a size is far
  // beyond what can be allocated.
  if (static_cast<uint64_t>(offset) > size) {
    CloseHandle(file);
    return kResultNoMemory;
  }
  out->file = file;
  out->offset = static_cast<uint64_t>(offset);
  out->source = QvxSource{nullptr, size - out->offset, ReadFileRange, out};
  return kResultSuccess;
}

// A memory image of length bytes.
ResultCode MemoryInput(const void* source, LONG_PTR length, HostSource* out) {
  out->file = INVALID_HANDLE_VALUE;
  out->offset = 0;
#if defined(_WIN64)
  // The 64-bit length is signed: a negative one names no bytes at all (as
  // an unsigned count it would reach past the end of the caller's memory).
  if (length < 0) return kResultNotQvx;
#endif
  // The 32-bit module takes its length unsigned: up to 4 GiB.
  out->source = QvxMemorySource(static_cast<const uint8_t*>(source), static_cast<ULONG_PTR>(length));
  return kResultSuccess;
}

}  // namespace

// The whole size, in both modules: a file of 4 GiB or more is not taken
// for the few bytes past the last 4 GiB boundary.
bool HostFileSize(HANDLE file, uint64_t* size) {
  LARGE_INTEGER whole;
  if (!GetFileSizeEx(file, &whole) || whole.QuadPart < 0) return false;
  *size = static_cast<uint64_t>(whole.QuadPart);
  return true;
}

ResultCode OpenHostSource(const char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out) {
  if ((sourceFlags & kSourceMemoryMask) != 0) return MemoryInput(source, offsetOrLength, out);
  return UseFile(CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE,
                             nullptr),
                 offsetOrLength, out);
}

#if defined(_WIN64)
ResultCode OpenHostSourceW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out) {
  if ((sourceFlags & kSourceMemoryMask) != 0) return MemoryInput(source, offsetOrLength, out);
  return UseFile(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE,
                             nullptr),
                 offsetOrLength, out);
}
#endif

void CloseHostSource(HostSource* source) {
  if (source->file == INVALID_HANDLE_VALUE) return;
  CloseHandle(source->file);
  source->file = INVALID_HANDLE_VALUE;
}
