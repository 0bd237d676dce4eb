// The QVX decoding core: recognition, picture information and decoding of
// QVX pictures into device-independent bitmaps.
//
// It holds no state and knows no operating system. A front end (the
// Windows plug-in, the Linux tool, the desktop loader) hands it the bytes
// (a memory span, or a reader of byte ranges), the options, the memory for
// the delivered bitmap and a progress function; it never writes its input.
//
// A picture flows through it like this: the first bytes are brought into a
// QvxHeader (QvxReadHeader); QvxPlanDecode works out, in 64 bits and before
// anything is allocated, the delivered depth, strides, colour count and
// block sizes; QvxDecode then asks the allocator for the information block
// and the pixel block, fills the header and colour slots or masks, and
// converts the rows in stored order, un-complementing the format's first
// pixel bytes as it copies them.
#pragma once

#include <cstdint>

// The outcome of every core operation.
enum QvxStatus {
  kQvxOk = 0,
  kQvxStopped = 1,      // the progress function asked to stop
  kQvxNotQvx = 2,       // not a QVX picture, or one that cannot be decoded
  kQvxTruncated = 3,    // the data is shorter than its header promises
  kQvxNoMemory = 4,     // a block could not be had, or would exceed the limit
  kQvxLockFailed = 5,   // a block was had but could not be made writable
  kQvxReadError = 6,    // the source failed to deliver bytes it should hold
};

// What the processor offers; all false runs the plain loops everywhere.
struct QvxCpu {
  bool mmx;
  bool sse2;
  bool ssse3;
};

// Asks the processor (CPUID), once per call; front ends keep the answer.
QvxCpu QvxDetectCpu();

// 1 when the processor executes MMX instructions, else 0.
int DetectMmx();

struct QvxOptions {
  bool keep16;              // deliver 16-bit pictures as 16-bit bit-field bitmaps
  bool keep32;              // deliver 32-bit pictures as 32-bit bit-field bitmaps
  bool useMmx;              // complement with MMX where cpu.mmx allows
  QvxCpu cpu;               // instructions the conversions may use
  uint64_t maxBlockBytes;   // the largest block the front end can hand out
};

// The defaults: every option clear, the processor asked, no block limit
// beyond what a 64-bit size holds.
QvxOptions QvxDefaultOptions();

// Bits per pixel delivered for a stored depth; 0 for depths not decoded.
uint32_t QvxOutputDepth(uint32_t bits, const QvxOptions& options);

// Complements count bytes from start in place and returns count; nothing
// changes for a count of zero or less. With mmx set, eight bytes a step.
int32_t InvertBytes(uint8_t* start, int32_t count, bool mmx);

// The picture's bytes: a span in memory, or a reader of ranges.
struct QvxSource {
  const uint8_t* bytes;  // the whole picture, or null when read through read
  uint64_t length;       // bytes in the picture, from its first byte
  // Reads count bytes from offset into out; false when the read fails or
  // delivers fewer bytes (a file that shrank).
  bool (*read)(void* context, uint64_t offset, uint8_t* out, uint64_t count);
  void* context;
};

QvxSource QvxMemorySource(const uint8_t* bytes, uint64_t length);

// The headers of a picture, brought into the information-header form.
struct QvxHeader {
  uint32_t bfSize;
  uint32_t bfOffBits;
  uint32_t storedSize;   // biSize as stored (12 for the core form)
  uint32_t biSize;       // 40 for the core form, else the stored size
  int32_t biWidth;
  int32_t biHeight;      // negative for top-down rows
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

// Bytes that always hold the headers: 54 (26 for the core form, 14 + biSize
// for a short header of 16 to 39 bytes).
const uint32_t kQvxHeaderBytes = 54;

// Where the header bytes that are read end, from the first 18 bytes (the
// file header and the stored header size): 26 for the core form, 14 + biSize
// for a short header, else 54.
uint32_t QvxHeaderEnd(const uint8_t* first);

// Reads the headers from the first available bytes, complementing private
// copies only. kQvxNotQvx for fewer than 18 bytes, a wrong signature, or
// data that ends inside the header it needs.
QvxStatus QvxReadHeader(const uint8_t* first, uint64_t available, QvxHeader* header);

// The same from a source (at most kQvxHeaderBytes are read).
QvxStatus QvxReadSourceHeader(const QvxSource& source, QvxHeader* header);

// Recognition: a header size of at most 64 that leaves room before the
// pixels, a decodable depth, no compression in the information form and,
// when the whole file's size is known, a file at least as long as bfSize.
bool QvxIsSupported(const QvxHeader& header, bool haveFileSize, uint64_t fileSize);

enum QvxRowMethod {
  kQvxRowCopy,         // 1, 4, 8, 24 bits; 32 bits kept
  kQvxRowCopyScan16,   // 16 bits kept: copy, watching bit 15
  kQvxRowExpand2To4,   // 2 bits widened to 4
  kQvxRow555To24,      // 16 bits widened to 24
  kQvxRow32To24,       // 32 bits narrowed to 24
};

// How one picture is decoded, worked out before anything is allocated.
struct QvxPlan {
  uint32_t bits;            // stored bits per pixel
  uint32_t outputDepth;     // delivered bits per pixel
  int32_t width;
  int32_t height;           // as stored; negative for top-down rows
  uint64_t rows;            // |height|
  uint64_t pixelOffset;
  uint64_t paletteOffset;
  uint64_t sourceStride;    // bytes per stored row
  uint64_t outputStride;    // bytes per delivered row
  uint64_t colourCount;     // colour-table entries taken from the source
  uint64_t slotCount;       // 4-byte slots after the delivered header
  uint64_t infoBytes;       // 44 + 4 * slotCount
  uint64_t pixelBytes;      // outputStride * rows
  bool bitFields;           // delivered with three colour masks
  QvxRowMethod method;
};

// kQvxNotQvx for depths, compressions, pixel offsets inside the headers and
// sizes that cannot be decoded (all before the length test),
// kQvxTruncated when the pixel data is shorter than length allows,
// kQvxNoMemory when a block would exceed options.maxBlockBytes.
QvxStatus QvxPlanDecode(const QvxHeader& header, const QvxOptions& options, uint64_t length,
                        QvxPlan* plan);

// The blocks a decode asks for.
enum QvxBlock {
  kQvxInfoBlock,     // the delivered header and its slots or masks
  kQvxPixelBlock,    // the delivered rows
  kQvxScratchBlock,  // a bounded working buffer for rows read from a reader
};

// Memory for the decode, from the front end. acquire returns zero-filled,
// writable memory of bytes bytes, or null with *failure set (kQvxNoMemory
// or kQvxLockFailed). Every acquired block is ended by exactly one release:
// keep is true for the two delivered blocks of a successful decode, which
// then belong to the front end, and false otherwise.
struct QvxAllocator {
  uint8_t* (*acquire)(void* context, QvxBlock block, uint64_t bytes, QvxStatus* failure);
  void (*release)(void* context, QvxBlock block, bool keep);
  void* context;
};

// Called before each row with its index and the number of rows; a nonzero
// answer stops the decode.
typedef int (*QvxProgress)(void* context, int32_t row, int32_t rows);

// Decodes the picture into the information block and the pixel block.
// Refusals (kQvxNotQvx, kQvxTruncated, a header limit) come before any
// block is asked for and before any progress call. On every result other
// than kQvxOk every acquired block has been released with keep false.
QvxStatus QvxDecode(const QvxSource& source, const QvxOptions& options, const QvxAllocator& allocator,
                    QvxProgress progress, void* progressContext);

// Reads the plan's colour entries as a decode delivers them into its colour
// slots: 4 * plan.colourCount bytes of blue, green, red and 0xFF, into out.
// For front ends that show the palette before the rows are decoded.
// kQvxReadError when the source fails.
QvxStatus QvxReadColours(const QvxSource& source, const QvxPlan& plan, const QvxOptions& options, uint8_t* out);
