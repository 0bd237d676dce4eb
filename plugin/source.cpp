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

// The file size: the low 32 bits in a 32-bit module (larger files are
// beyond what it can decode anyway), the whole size in a 64-bit one.
bool SizeOf(HANDLE file, uint64_t* size) {
#if defined(_WIN64)
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return true;
#else
  DWORD low = GetFileSize(file, nullptr);
  *size = low;
  return low != INVALID_FILE_SIZE;
#endif
}

// Takes over an opened file (or the failure to open one).
ResultCode UseFile(HANDLE file, LONG_PTR offset, HostSource* out) {
  if (file == INVALID_HANDLE_VALUE) return kResultFileError;
  uint64_t size = 0;
  // No size to count from, or a position before the file's first byte:
  // there is nothing that could be read in full.
  if (!SizeOf(file, &size) || offset < 0) {
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

bool MemoryInput(const void* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out) {
  out->file = INVALID_HANDLE_VALUE;
  out->offset = 0;
  if ((sourceFlags & kSourceMemoryMask) == 0) return false;
  // The length is unsigned: up to 4 GiB in a 32-bit module.
  out->source = QvxMemorySource(static_cast<const uint8_t*>(source), static_cast<ULONG_PTR>(offsetOrLength));
  return true;
}

}  // namespace

ResultCode OpenHostSource(const char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out) {
  if (MemoryInput(source, offsetOrLength, sourceFlags, out)) return kResultSuccess;
  return UseFile(CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE,
                             nullptr),
                 offsetOrLength, out);
}

#if defined(_WIN64)
ResultCode OpenHostSourceW(const wchar_t* source, LONG_PTR offsetOrLength, uint32_t sourceFlags, HostSource* out) {
  if (MemoryInput(source, offsetOrLength, sourceFlags, out)) return kResultSuccess;
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
