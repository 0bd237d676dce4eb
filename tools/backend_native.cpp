// The Linux build: the decoding core linked in, delivering into plain
// memory and reading files with pread, with the options given on the
// command line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "native/qvx_native.h"
#include "plugin/info_strings.h"
#include "tools/backend.h"

namespace {

QvxOptions Options;

struct Relay {
  DecodeProgress progress;
  void* context;
};

int OnRow(void* data, int32_t row, int32_t rows) {
  Relay* relay = static_cast<Relay*>(data);
  return relay->progress(row, rows, relay->context) ? 1 : 0;
}

DecodeResult Finish(QvxStatus status, NativeBitmap* bitmap, DecodedBitmap* out) {
  *out = DecodedBitmap();
  if (status != kQvxOk) return static_cast<DecodeResult>(status);
  out->info = bitmap->info;
  out->infoBytes = bitmap->infoBytes;
  out->pixels = bitmap->pixels;
  out->pixelBytes = bitmap->pixelBytes;
  out->blocks[0] = bitmap->info;
  out->blocks[1] = bitmap->pixels;
  return kDecodeOk;
}

}  // namespace

bool OpenDecoder(const DecoderOptions& options, std::string*) {
  Options = QvxDefaultOptions();
  Options.keep16 = options.keep16;
  Options.keep32 = options.keep32;
  return true;
}

bool DecoderTakesOptions() { return true; }
DecodeResult ConfigureDecoder() { return kDecodeNotProvided; }
void DecoderStrings(std::string text[4]) {
  for (int i = 0; i < 4; ++i) text[i] = kInfoStrings[i];
}

bool DecoderRecognises(const uint8_t* head, size_t bytes) {
  QvxHeader header;
  return QvxReadHeader(head, bytes, &header) == kQvxOk && QvxIsSupported(header, false, 0);
}

DecodeResult DecoderInfo(const uint8_t* head, size_t bytes, DecoderPictureInfo* info) {
  QvxHeader header;
  QvxStatus status = QvxReadHeader(head, bytes, &header);
  *info = DecoderPictureInfo();
  if (status == kQvxOk)
    *info = DecoderPictureInfo{header.biWidth, header.biHeight, static_cast<int>(QvxOutputDepth(header.biBitCount, Options))};
  return static_cast<DecodeResult>(status);
}

DecodeResult DecodeFile(const std::string& path, int64_t offset, DecodeProgress progress, void* context,
                        DecodedBitmap* out) {
  *out = DecodedBitmap();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || offset < 0) {
    if (fd >= 0) close(fd);
    return kDecodeFileError;
  }
  // As the plug-in answers: an offset past the end leaves nothing to hold.
  if (static_cast<uint64_t>(offset) > static_cast<uint64_t>(info.st_size)) {
    close(fd);
    return kDecodeNoMemory;
  }
  Relay relay{progress, context};
  NativeBitmap bitmap;
  QvxStatus status = DecodeQvxFile(fd, static_cast<uint64_t>(offset), static_cast<uint64_t>(info.st_size), Options,
                                   progress ? OnRow : nullptr, &relay, &bitmap);
  close(fd);
  return Finish(status, &bitmap, out);
}

DecodeResult DecodeMemory(uint8_t* data, size_t bytes, DecodeProgress progress, void* context,
                          DecodedBitmap* out) {
  Relay relay{progress, context};
  NativeBitmap bitmap;
  QvxStatus status = DecodeQvxMemory(data, bytes, Options, progress ? OnRow : nullptr, &relay, &bitmap);
  return Finish(status, &bitmap, out);
}

void ReleaseDecoded(DecodedBitmap* bitmap) {
  NativeBitmap blocks = {static_cast<uint8_t*>(bitmap->blocks[0]), bitmap->infoBytes,
                         static_cast<uint8_t*>(bitmap->blocks[1]), bitmap->pixelBytes};
  FreeNativeBitmap(&blocks);
  *bitmap = DecodedBitmap();
}
