// The Windows build: TAVKO.SPI loaded from beside the program and reached
// through its exports, as an image viewer reaches it. The plug-in decodes
// with the options its user stored through its configuration dialog.
#include "tools/backend.h"
#include "tools/exports.h"
#include "tools/paths.h"

namespace {

PluginExports Plugin;

// A UTF-8 name in the system code page; characters it cannot hold become
// '?', which no file name contains.
std::string AnsiName(const std::string& utf8) {
  std::wstring wide = WideName(utf8);
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], n, nullptr, nullptr);
  return ansi;
}

struct Relay {
  DecodeProgress progress;
  void* context;
};

int WINAPI OnRow(int row, int height, LONG_PTR data) {
  Relay* relay = reinterpret_cast<Relay*>(data);
  return relay->progress != nullptr && relay->progress(row, height, relay->context);
}

// Decodes from a memory image, or from a file named in UTF-8: through the
// wide entry where the module has one (any name opens), else through the
// ANSI entry with the name in the system code page (a name the code page
// cannot hold does not open, and the plug-in says so).
DecodeResult Decode(const std::string* path, char* memory, LONG_PTR offsetOrLength, DecodeProgress progress,
                    void* context, DecodedBitmap* out) {
  Relay relay{progress, context};
  HLOCAL info = nullptr, bits = nullptr;
  ProgressCallback callback = progress ? OnRow : nullptr;
  LONG_PTR user = reinterpret_cast<LONG_PTR>(&relay);
  ResultCode result;
  if (path == nullptr) {
    result = Plugin.getPicture(memory, offsetOrLength, 1, &info, &bits, callback, user);
  } else if (Plugin.getPictureW != nullptr) {
    result = Plugin.getPictureW(WideName(*path).c_str(), offsetOrLength, 0, &info, &bits, callback, user);
  } else {
    std::string ansi = AnsiName(*path);
    result = Plugin.getPicture(&ansi[0], offsetOrLength, 0, &info, &bits, callback, user);
  }
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
  return Decode(&path, nullptr, static_cast<LONG_PTR>(offset), progress, context, out);
}

DecodeResult DecodeMemory(uint8_t* data, size_t bytes, DecodeProgress progress, void* context,
                          DecodedBitmap* out) {
  return Decode(nullptr, reinterpret_cast<char*>(data), static_cast<LONG_PTR>(bytes), progress, context, out);
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
