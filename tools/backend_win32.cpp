// The Windows build: TAVKO.SPI loaded from beside the program and reached
// through its exports, as an image viewer reaches it. The plug-in decodes
// with the options its user stored through its configuration dialog.
#include "tools/backend.h"
#include "tools/exports.h"

namespace {

PluginExports Plugin;

struct Relay {
  DecodeProgress progress;
  void* context;
};

int WINAPI OnRow(int row, int height, LONG_PTR data) {
  Relay* relay = reinterpret_cast<Relay*>(data);
  return relay->progress != nullptr && relay->progress(row, height, relay->context);
}

DecodeResult Decode(char* source, int32_t offsetOrLength, uint32_t flags, DecodeProgress progress, void* context,
                    DecodedBitmap* out) {
  Relay relay{progress, context};
  HLOCAL info = nullptr, bits = nullptr;
  ResultCode result =
      Plugin.getPicture(source, offsetOrLength, flags, &info, &bits, progress ? OnRow : nullptr,
                                 reinterpret_cast<LONG_PTR>(&relay));
  *out = DecodedBitmap();
  if (result != kResultSuccess) return static_cast<DecodeResult>(result);
  out->blocks[0] = info;
  out->blocks[1] = bits;
  out->info = static_cast<const uint8_t*>(LocalLock(info));
  out->pixels = static_cast<const uint8_t*>(LocalLock(bits));
  out->infoBytes = LocalSize(info);
  out->pixelBytes = LocalSize(bits);
  if (out->info != nullptr && out->pixels != nullptr) return kDecodeOk;
  ReleaseDecoded(out);
  return kDecodeLockFailed;
}

}  // namespace

bool OpenDecoder(const DecoderOptions& options, std::string* why) {
  if (options.keep16 || options.keep32) {
    *why =
        "--keep16 and --keep32 are not taken on Windows: the plug-in decodes with the\n"
        "options stored through its configuration dialog; change them with 'tavko config'";
    return false;
  }
  return LoadPluginExports("", &Plugin, why);
}

bool DecoderTakesOptions() { return false; }

void DecoderStrings(std::string text[4]) {
  for (int i = 0; i < 4; ++i) {
    char buffer[256] = {0};
    Plugin.getPluginInfo(i, buffer, sizeof buffer);
    text[i] = buffer;
  }
}

bool DecoderRecognises(const uint8_t* head, size_t) {
  return Plugin.isSupported(const_cast<char*>(""), reinterpret_cast<ULONG_PTR>(head)) != 0;
}

DecodeResult DecoderInfo(const uint8_t* head, size_t bytes, DecoderPictureInfo* info) {
  PictureInfo raw{};
  ResultCode result = Plugin.getPictureInfo(reinterpret_cast<char*>(const_cast<uint8_t*>(head)),
                                            static_cast<int32_t>(bytes), 1, &raw);
  info->width = raw.width;
  info->height = raw.height;
  info->bitDepth = raw.bitDepth;
  return static_cast<DecodeResult>(result);
}

DecodeResult DecodeFile(const std::string& path, int64_t offset, DecodeProgress progress, void* context,
                        DecodedBitmap* out) {
  return Decode(const_cast<char*>(path.c_str()), static_cast<int32_t>(offset), 0, progress, context, out);
}

DecodeResult DecodeMemory(uint8_t* data, size_t bytes, DecodeProgress progress, void* context,
                          DecodedBitmap* out) {
  return Decode(reinterpret_cast<char*>(data), static_cast<int32_t>(bytes), 1, progress, context, out);
}

void ReleaseDecoded(DecodedBitmap* bitmap) {
  for (void*& block : bitmap->blocks) {
    if (block != nullptr) {
      LocalUnlock(static_cast<HLOCAL>(block));
      LocalFree(static_cast<HLOCAL>(block));
    }
    block = nullptr;
  }
  *bitmap = DecodedBitmap();
}

DecodeResult ConfigureDecoder() { return static_cast<DecodeResult>(Plugin.configurationDlg(nullptr, 1)); }
