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

}  // namespace

ResultCode OpenHostSource(char* source, int32_t offsetOrLength, uint32_t sourceFlags, HostSource* out) {
  out->file = INVALID_HANDLE_VALUE;
  out->offset = 0;
  if ((sourceFlags & kSourceMemoryMask) != 0) {
    out->source = QvxMemorySource(reinterpret_cast<const uint8_t*>(source), static_cast<uint32_t>(offsetOrLength));
    return kResultSuccess;
  }
  HANDLE file = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kResultFileError;
  DWORD size = GetFileSize(file, nullptr);
  // No size to count from, or a position before the file's first byte:
  // there is nothing that could be read in full.
  if (size == INVALID_FILE_SIZE || offsetOrLength < 0) {
    CloseHandle(file);
    return kResultFileError;
  }
  // An offset past the end leaves a negative count, which as a size is far
  // beyond what can be allocated.
  if (static_cast<uint32_t>(offsetOrLength) > size) {
    CloseHandle(file);
    return kResultNoMemory;
  }
  out->file = file;
  out->offset = static_cast<uint32_t>(offsetOrLength);
  out->source = QvxSource{nullptr, size - out->offset, ReadFileRange, out};
  return kResultSuccess;
}

void CloseHostSource(HostSource* source) {
  if (source->file == INVALID_HANDLE_VALUE) return;
  CloseHandle(source->file);
  source->file = INVALID_HANDLE_VALUE;
}
