// Loading the input of GetPictureInfo and GetPicture.
#include "plugin/source.h"

#include "decode/limits.h"

ResultCode LoadSourceImage(const char* fileName, int32_t offset, uint32_t extraBytes,
                           SourceImage* image) {
  HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_ARCHIVE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kResultFileError;

  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE || offset < 0) {
    // No size to count from, or a position before the file's first byte:
    // there is nothing that could be read in full.
    CloseHandle(file);
    return kResultFileError;
  }
  // An offset past the end leaves a negative count, which as a size is far
  // beyond what can be allocated.
  int64_t count = static_cast<int64_t>(size) - offset;
  uint64_t blockBytes = static_cast<uint64_t>(count) + extraBytes;
  if (count < 0 || blockBytes > kMaxBlockBytes) {
    CloseHandle(file);
    return kResultNoMemory;
  }

  // A movable block of no bytes would come back discarded and fail to
  // lock; an empty file is simply no picture, so it gets one spare byte.
  if (blockBytes == 0) blockBytes = 1;
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, static_cast<SIZE_T>(blockBytes));
  if (block == nullptr) {
    CloseHandle(file);
    return kResultNoMemory;
  }
  uint8_t* bytes = static_cast<uint8_t*>(LocalLock(block));
  if (bytes == nullptr) {
    LocalFree(block);
    CloseHandle(file);
    return kResultLockFailed;
  }

  DWORD read = 0;
  bool ok = SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            ReadFile(file, bytes, static_cast<DWORD>(count), &read, nullptr) &&
            read == static_cast<DWORD>(count);
  CloseHandle(file);
  if (!ok) {
    LocalUnlock(block);
    LocalFree(block);
    return kResultFileError;
  }
  image->bytes = bytes;
  image->length = static_cast<uint32_t>(count);
  image->block = block;
  return kResultSuccess;
}

ResultCode OpenSourceImage(char* source, int32_t offsetOrLength, uint32_t sourceFlags,
                           uint32_t extraBytes, SourceImage* image) {
  if ((sourceFlags & kSourceMemoryMask) == 0)
    return LoadSourceImage(source, offsetOrLength, extraBytes, image);
  image->bytes = reinterpret_cast<uint8_t*>(source);
  // A null image holds nothing, whatever length comes with it.
  image->length = source ? static_cast<uint32_t>(offsetOrLength) : 0;
  image->block = nullptr;
  return kResultSuccess;
}

void ReleaseSourceImage(SourceImage* image) {
  if (image->block == nullptr) return;
  LocalUnlock(image->block);
  LocalFree(image->block);
  image->block = nullptr;
  image->bytes = nullptr;
}
