// The recognition and decoding exports: the host's arguments in, the
// decoding core's answers out as the host's result codes.
#include <cstring>

#include "decode/qvx.h"
#include "plugin/blocks.h"
#include "plugin/entries.h"
#include "settings/options.h"

namespace {

const uint32_t kRecognitionReadBytes = 1024;

ResultCode ToResult(QvxStatus status) {
  switch (status) {
    case kQvxOk: return kResultSuccess;
    case kQvxStopped: return kResultAborted;
    case kQvxNotQvx: return kResultNotQvx;
    case kQvxTruncated: return kResultTruncated;
    case kQvxNoMemory: return kResultNoMemory;
    case kQvxLockFailed: return kResultLockFailed;
    case kQvxReadError: return kResultFileError;
  }
  return kResultFileError;
}

int RecogniseFromHandle(HANDLE file) {
  uint64_t size = 0;
  if (!HostFileSize(file, &size) || size < 18) return 0;
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, kRecognitionReadBytes);
  if (block == nullptr) return 0;
  uint8_t* bytes = static_cast<uint8_t*>(LocalLock(block));
  if (bytes == nullptr) {
    LocalFree(block);
    return 0;
  }
  // Read from wherever the caller left the handle; bytes the file does not
  // supply stay zero in the zero-filled block.
  DWORD read = 0;
  QvxHeader header;
  int answer = ReadFile(file, bytes, kRecognitionReadBytes, &read, nullptr) &&
               QvxReadHeader(bytes, kRecognitionReadBytes, &header) == kQvxOk &&
               QvxIsSupported(header, true, size);
  LocalUnlock(block);
  LocalFree(block);
  return answer;
}

// The host's progress function, called with its own user value.
struct HostProgress {
  ProgressCallback callback;
  LONG_PTR userData;
};

int CallHostProgress(void* context, int32_t row, int32_t rows) {
  HostProgress* host = static_cast<HostProgress*>(context);
  return host->callback(row, rows, host->userData);
}

}  // namespace

extern "C" int WINAPI IsSupported(char*, ULONG_PTR handleOrBytes) {
  // Values below 0x10000 are file handles; anything else points to the
  // bytes, of which the caller supplies at least the whole header.
  if ((handleOrBytes & ~static_cast<ULONG_PTR>(0xFFFF)) == 0)
    return RecogniseFromHandle(reinterpret_cast<HANDLE>(handleOrBytes));
  QvxHeader header;
  return QvxReadHeader(reinterpret_cast<const uint8_t*>(handleOrBytes), kQvxHeaderBytes, &header) == kQvxOk &&
         QvxIsSupported(header, false, 0);
}

ResultCode PictureInfoOf(HostSource* input, PictureInfo* pictureInfo) {
  QvxHeader header;
  ResultCode result = ToResult(QvxReadSourceHeader(input->source, &header));
  CloseHostSource(input);
  if (result == kResultSuccess && pictureInfo != nullptr) {
    pictureInfo->left = 0;
    pictureInfo->top = 0;
    pictureInfo->width = header.biWidth;
    pictureInfo->height = header.biHeight;
    pictureInfo->horizontalDensity = 1;
    pictureInfo->verticalDensity = 1;
    pictureInfo->bitDepth = static_cast<int16_t>(OutputDepthFor(header.biBitCount));
#if defined(_WIN64)
    pictureInfo->padding = 0;
#endif
    pictureInfo->textInfoHandle = 0;
  }
  return result;
}

ResultCode PictureOf(HostSource* input, HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut, ProgressCallback progress,
                     LONG_PTR userData) {
  LocalBlocks blocks = {infoHandleOut, bitsHandleOut, {}};
  QvxAllocator allocator = LocalBlockAllocator(&blocks);
  HostProgress host = {progress, userData};
  QvxStatus status = QvxDecode(input->source, PluginOptions(), allocator, progress ? CallHostProgress : nullptr, &host);
  CloseHostSource(input);
  return ToResult(status);
}

extern "C" ResultCode WINAPI GetPictureInfo(char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                                            PictureInfo* pictureInfo) {
  HostSource input;
  ResultCode result = OpenHostSource(source, offsetOrLength, sourceFlags, &input);
  return result == kResultSuccess ? PictureInfoOf(&input, pictureInfo) : result;
}

extern "C" ResultCode WINAPI GetPicture(char* source, LONG_PTR offsetOrLength, uint32_t sourceFlags,
                                        HLOCAL* infoHandleOut, HLOCAL* bitsHandleOut, ProgressCallback progress,
                                        LONG_PTR userData) {
  HostSource input;
  ResultCode result = OpenHostSource(source, offsetOrLength, sourceFlags, &input);
  return result == kResultSuccess ? PictureOf(&input, infoHandleOut, bitsHandleOut, progress, userData) : result;
}
