// How tavko reaches the decoder: recognition and picture information from
// the first bytes of a file, and decoding of a file or a memory image into a
// delivered bitmap. The Windows build loads TAVKO.SPI from beside the
// program, as a viewer does; the Linux build links the decoder in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The decoder's answers, numbered as the plug-in's results.
enum DecodeResult : int {
  kDecodeNotProvided = -1,
  kDecodeOk = 0,
  kDecodeStopped = 1,
  kDecodeNotQvx = 2,
  kDecodeTruncated = 3,
  kDecodeNoMemory = 4,
  kDecodeLockFailed = 5,
  kDecodeFileError = 6,
};

struct DecoderOptions {
  bool keep16 = false;  // deliver 16-bit pictures as 16-bit bit-field bitmaps
  bool keep32 = false;  // deliver 32-bit pictures as 32-bit bit-field bitmaps
};

// What the decoder reports of a picture before decoding it.
struct DecoderPictureInfo {
  int32_t width = 0;
  int32_t height = 0;  // negative for top-down rows
  int bitDepth = 0;    // bits per pixel delivered; 0 for a depth it does not deliver
};

// Called before each row; answering true stops the decode.
typedef bool (*DecodeProgress)(int row, int height, void* context);

// A delivered bitmap: the information block (header and colour table) and
// the pixel rows, valid until ReleaseDecoded.
struct DecodedBitmap {
  const uint8_t* info = nullptr;
  size_t infoBytes = 0;
  const uint8_t* pixels = nullptr;
  size_t pixelBytes = 0;
  void* blocks[2] = {nullptr, nullptr};  // the backend's own handles
};

// Loads the decoder with the options for every later decode. Returns false
// with a reason when it cannot be loaded or does not take the options.
bool OpenDecoder(const DecoderOptions& options, std::string* why);

// True when options other than the defaults can be chosen per run.
bool DecoderTakesOptions();

// The decoder's four information strings (interface, description, file
// filter, format name).
void DecoderStrings(std::string text[4]);

// Recognition and picture information from the first bytes of a file.
// head must hold at least 1024 bytes (zeros past what the file has).
bool DecoderRecognises(const uint8_t* head, size_t bytes);
DecodeResult DecoderInfo(const uint8_t* head, size_t bytes, DecoderPictureInfo* info);

// Decodes the picture starting offset bytes into a file, or a memory image
// (which is only read).
DecodeResult DecodeFile(const std::string& path, int64_t offset, DecodeProgress progress, void* context,
                        DecodedBitmap* out);
DecodeResult DecodeMemory(uint8_t* data, size_t bytes, DecodeProgress progress, void* context,
                          DecodedBitmap* out);
void ReleaseDecoded(DecodedBitmap* bitmap);

// Opens the decoder's own configuration dialog; kDecodeNotProvided where
// there is none.
DecodeResult ConfigureDecoder();
