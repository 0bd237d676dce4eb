// Decoding a QVX picture into a device-independent bitmap: the information
// block (header, then colour slots or masks) and the pixel block (rows in
// stored order).
//
// The input is only read. The pixel bytes stored complemented (those
// before offset 100) are un-complemented in the decoder's own memory: in
// the delivered rows for copied depths, in a small patch buffer for
// converted rows from memory, and in the read buffer for rows read from a
// reader.
#include <cstring>

#include "decode/bytes.h"
#include "decode/header.h"
#include "decode/qvx.h"
#include "decode/rows.h"

namespace {

const uint64_t kScratchBytes = 256 * 1024;    // read buffer for converted rows
const uint64_t kCopyChunkBytes = 1024 * 1024; // rows read at once between progress reports
const uint64_t kPatchBytes = 128;             // holds every complemented pixel byte (at most 86)
const uint64_t kPageBytes = 4096;

// The blocks one decode holds.
struct Blocks {
  const QvxAllocator* allocator;
  uint8_t* info;
  uint8_t* pixels;
  uint8_t* scratch;
};

uint8_t* Acquire(Blocks* blocks, QvxBlock which, uint64_t bytes, QvxStatus* failure) {
  *failure = kQvxNoMemory;
  return blocks->allocator->acquire(blocks->allocator->context, which, bytes, failure);
}

void ReleaseScratch(Blocks* blocks) {
  if (blocks->scratch == nullptr) return;
  blocks->allocator->release(blocks->allocator->context, kQvxScratchBlock, false);
  blocks->scratch = nullptr;
}

// Ends the decode's hold on every block; the delivered two are kept only
// on success.
QvxStatus Finish(Blocks* blocks, QvxStatus status) {
  ReleaseScratch(blocks);
  bool keep = status == kQvxOk;
  if (blocks->pixels) blocks->allocator->release(blocks->allocator->context, kQvxPixelBlock, keep);
  if (blocks->info) blocks->allocator->release(blocks->allocator->context, kQvxInfoBlock, keep);
  return status;
}

// Everything the row loops need about one decode.
struct RowJob {
  const QvxPlan* plan;
  const QvxCpu* cpu;
  bool mmx;                  // complement with MMX
  uint64_t complemented;     // pixel-data bytes stored complemented, from its start
  uint64_t units;            // per row: pixels converted, bytes expanded or bytes copied
  uint64_t unitSource;       // stored bytes per unit
  uint64_t unitOutput;       // delivered bytes per unit
  QvxProgress progress;
  void* progressContext;
  bool bit15;                // a 16-bit pixel with its top bit set was seen
};

RowJob MakeJob(const QvxPlan& plan, const QvxOptions& options, uint64_t length) {
  RowJob job = {};
  job.plan = &plan;
  job.cpu = &options.cpu;
  job.mmx = options.useMmx && options.cpu.mmx;
  uint64_t end = length < kComplementedPixelsEnd ? length : kComplementedPixelsEnd;
  job.complemented = plan.pixelOffset < end ? end - plan.pixelOffset : 0;
  switch (plan.method) {
    case kQvxRowExpand2To4:
      // Half the delivered row in stored bytes, never more than the row holds.
      job.units = plan.outputStride / 2 < plan.sourceStride ? plan.outputStride / 2 : plan.sourceStride;
      job.unitSource = 1, job.unitOutput = 2;
      break;
    case kQvxRow555To24:
      job.units = static_cast<uint64_t>(plan.width), job.unitSource = 2, job.unitOutput = 3;
      break;
    case kQvxRow32To24:
      job.units = static_cast<uint64_t>(plan.width), job.unitSource = 4, job.unitOutput = 3;
      break;
    default:
      job.units = plan.sourceStride, job.unitSource = 1, job.unitOutput = 1;
      break;
  }
  return job;
}

bool IsCopy(const QvxPlan& plan) { return plan.method == kQvxRowCopy || plan.method == kQvxRowCopyScan16; }

void ConvertUnits(const RowJob& job, const uint8_t* src, uint8_t* dst, uint64_t units) {
  switch (job.plan->method) {
    case kQvxRowExpand2To4: Expand2To4(src, dst, units, *job.cpu); break;
    case kQvxRow555To24: Convert555To24(src, dst, units, *job.cpu); break;
    case kQvxRow32To24: Convert32To24(src, dst, units, *job.cpu); break;
    default: CopyRow(src, dst, units); break;
  }
}

// Un-complements the stored-complemented bytes among count bytes that hold
// the pixel data from offset at.
void Uncomplement(const RowJob& job, uint8_t* bytes, uint64_t at, uint64_t count) {
  if (at >= job.complemented) return;
  uint64_t n = job.complemented - at < count ? job.complemented - at : count;
  InvertBytes(bytes, static_cast<int32_t>(n), job.mmx);
}

bool Stop(const RowJob& job, uint64_t row) {
  return job.progress != nullptr &&
         job.progress(job.progressContext, static_cast<int32_t>(row), static_cast<int32_t>(job.plan->rows)) != 0;
}

// A row from memory that begins inside the complemented bytes.
void PatchedRowFromMemory(RowJob* job, uint64_t row, const uint8_t* src, uint8_t* dst) {
  const QvxPlan& plan = *job->plan;
  uint64_t at = row * plan.sourceStride;
  if (IsCopy(plan)) {
    CopyRow(src, dst, plan.sourceStride);
    Uncomplement(*job, dst, at, plan.sourceStride);
    if (plan.method == kQvxRowCopyScan16) job->bit15 |= ScanRow16(dst, static_cast<uint64_t>(plan.width), *job->cpu);
    return;
  }
  // Convert the row as stored, then convert its first units again from a
  // patched copy that holds every complemented byte.
  ConvertUnits(*job, src, dst, job->units);
  uint8_t patch[kPatchBytes];
  uint64_t n = plan.sourceStride < kPatchBytes ? plan.sourceStride : kPatchBytes;
  std::memcpy(patch, src, static_cast<size_t>(n));
  Uncomplement(*job, patch, at, n);
  uint64_t redo = n / job->unitSource < job->units ? n / job->unitSource : job->units;
  ConvertUnits(*job, patch, dst, redo);
}

QvxStatus RowsFromMemory(RowJob* job, const uint8_t* data, uint8_t* pixels) {
  const QvxPlan& plan = *job->plan;
  uint64_t patched = (job->complemented + plan.sourceStride - 1) / plan.sourceStride;
  for (uint64_t row = 0; row < plan.rows; ++row) {
    if (Stop(*job, row)) return kQvxStopped;
    const uint8_t* src = data + row * plan.sourceStride;
    uint8_t* dst = pixels + row * plan.outputStride;
    if (row < patched) {
      PatchedRowFromMemory(job, row, src, dst);
      continue;
    }
    uint64_t left = plan.rows - row;
    // Copied rows lie back to back in both blocks with the same stride; with
    // no one to report to between rows they move in one piece (16-bit rows
    // only without padding, whose scan then never meets a padding byte).
    if (job->progress == nullptr && plan.method == kQvxRowCopy) {
      CopyRow(src, dst, plan.sourceStride * left);
      return kQvxOk;
    }
    if (job->progress == nullptr && plan.method == kQvxRowCopyScan16 &&
        plan.sourceStride == 2 * static_cast<uint64_t>(plan.width)) {
      uint64_t bytes = plan.sourceStride * left;
      job->bit15 |= CopyRowScan16(src, dst, bytes, bytes / 2, *job->cpu);
      return kQvxOk;
    }
    if (plan.method == kQvxRowCopyScan16)
      job->bit15 |= CopyRowScan16(src, dst, plan.sourceStride, static_cast<uint64_t>(plan.width), *job->cpu);
    else
      ConvertUnits(*job, src, dst, job->units);
  }
  return kQvxOk;
}

// Copied rows from a reader land straight in the pixel block.
QvxStatus CopiedRowsFromReader(RowJob* job, const QvxSource& source, uint8_t* pixels) {
  const QvxPlan& plan = *job->plan;
  // One read when nothing happens between rows; else chunks of about 1 MiB,
  // scanned for bit 15 while they are still in the cache.
  bool whole = job->progress == nullptr && plan.method == kQvxRowCopy;
  uint64_t chunkRows = whole ? plan.rows : kCopyChunkBytes / plan.sourceStride;
  if (chunkRows == 0) chunkRows = 1;
  for (uint64_t row = 0; row < plan.rows; row += chunkRows) {
    uint64_t n = plan.rows - row < chunkRows ? plan.rows - row : chunkRows;
    uint64_t at = row * plan.sourceStride;
    uint8_t* dst = pixels + at;
    if (!ReadSourceRange(source, plan.pixelOffset + at, dst, n * plan.sourceStride)) return kQvxReadError;
    Uncomplement(*job, dst, at, n * plan.sourceStride);
    for (uint64_t i = 0; i < n; ++i) {
      if (Stop(*job, row + i)) return kQvxStopped;
      if (plan.method == kQvxRowCopyScan16)
        job->bit15 |= ScanRow16(dst + i * plan.sourceStride, static_cast<uint64_t>(plan.width), *job->cpu);
    }
  }
  return kQvxOk;
}

// Converted rows from a reader pass through a bounded read buffer: whole
// rows at a time, or pieces of a row larger than the buffer.
QvxStatus ConvertedRowsFromReader(RowJob* job, const QvxSource& source, uint8_t* scratch, uint64_t scratchBytes,
                                  uint8_t* pixels) {
  const QvxPlan& plan = *job->plan;
  if (plan.sourceStride <= scratchBytes) {
    uint64_t chunkRows = scratchBytes / plan.sourceStride;
    for (uint64_t row = 0; row < plan.rows; row += chunkRows) {
      uint64_t n = plan.rows - row < chunkRows ? plan.rows - row : chunkRows;
      uint64_t at = row * plan.sourceStride;
      if (!ReadSourceRange(source, plan.pixelOffset + at, scratch, n * plan.sourceStride)) return kQvxReadError;
      Uncomplement(*job, scratch, at, n * plan.sourceStride);
      for (uint64_t i = 0; i < n; ++i) {
        if (Stop(*job, row + i)) return kQvxStopped;
        ConvertUnits(*job, scratch + i * plan.sourceStride, pixels + (row + i) * plan.outputStride, job->units);
      }
    }
    return kQvxOk;
  }
  uint64_t pieceUnits = scratchBytes / job->unitSource;
  for (uint64_t row = 0; row < plan.rows; ++row) {
    if (Stop(*job, row)) return kQvxStopped;
    for (uint64_t unit = 0; unit < job->units; unit += pieceUnits) {
      uint64_t k = job->units - unit < pieceUnits ? job->units - unit : pieceUnits;
      uint64_t at = row * plan.sourceStride + unit * job->unitSource;
      if (!ReadSourceRange(source, plan.pixelOffset + at, scratch, k * job->unitSource)) return kQvxReadError;
      Uncomplement(*job, scratch, at, k * job->unitSource);
      ConvertUnits(*job, scratch, pixels + row * plan.outputStride + unit * job->unitOutput, k);
    }
  }
  return kQvxOk;
}

// Writes a zero (what is there already) into each page of a fresh block, so
// that the system supplies its pages in one pass. Widened rows written into
// those pages then run about a quarter faster than when the page faults
// fall between their stores (measured on 4096 x 4096 pictures; narrowed
// 32-bit rows, which read more than they write, do not gain).
void TouchPages(uint8_t* block, uint64_t bytes) {
  volatile uint8_t* at = block;
  for (uint64_t i = 0; i < bytes; i += kPageBytes) at[i] = 0;
}

// A paletted bitmap may name how many of its slots are used; a count that
// the delivered table cannot hold, or any count where no table is
// delivered, would send a host reading past the information block, so it
// then says 0 (the whole table, or none).
uint32_t DeliveredColoursUsed(const QvxHeader& header, const QvxPlan& plan) {
  if (plan.bitFields || plan.outputDepth > 8) return 0;
  return header.biClrUsed <= plan.slotCount ? header.biClrUsed : 0;
}

void WriteInfoHeader(const QvxHeader& header, const QvxPlan& plan, uint8_t* info) {
  // The slots always follow 40 header bytes, so biSize says 40 whatever
  // size the stored header had; a device-independent bitmap has exactly one
  // plane (GDI refuses others); the rows are delivered uncompressed.
  WriteU32(info + 0, kInfoHeaderBytes);
  WriteU32(info + 4, static_cast<uint32_t>(plan.width));
  WriteU32(info + 8, static_cast<uint32_t>(plan.height));
  WriteU16(info + 12, 1);
  WriteU16(info + 14, plan.outputDepth);
  WriteU32(info + 16, plan.bitFields ? kBiBitFields : kBiRgb);
  // biSizeImage has 32 bits; a block of 4 GiB or more says 0, which an
  // uncompressed bitmap allows, rather than a wrapped size a host would trust.
  WriteU32(info + 20, plan.pixelBytes <= UINT32_MAX ? static_cast<uint32_t>(plan.pixelBytes) : 0);
  WriteU32(info + 24, static_cast<uint32_t>(header.biXPelsPerMeter));
  WriteU32(info + 28, static_cast<uint32_t>(header.biYPelsPerMeter));
  WriteU32(info + 32, DeliveredColoursUsed(header, plan));
  WriteU32(info + 36, header.biClrImportant);
}

void WriteMasks(uint8_t* info, uint32_t red, uint32_t green, uint32_t blue) {
  WriteU32(info + 40, red);
  WriteU32(info + 44, green);
  WriteU32(info + 48, blue);
}

// The stored colour entries go straight into the slots and are complemented
// there: each filled slot ends with its true blue, green, red and 0xFF.
bool FillColourSlots(const QvxSource& source, const QvxPlan& plan, bool mmx, uint8_t* slots) {
  if (plan.colourCount == 0) return true;
  uint64_t bytes = 4 * plan.colourCount;
  if (!ReadSourceRange(source, plan.paletteOffset, slots, bytes)) return false;
  for (uint64_t i = 3; i < bytes; i += 4) slots[i] = 0;  // the fourth stored byte is not used
  InvertBytes(slots, static_cast<int32_t>(bytes), mmx);
  return true;
}

}  // namespace

QvxStatus QvxDecode(const QvxSource& source, const QvxOptions& options, const QvxAllocator& allocator,
                    QvxProgress progress, void* progressContext) {
  QvxHeader header;
  QvxStatus status = QvxReadSourceHeader(source, &header);
  if (status != kQvxOk) return status;
  QvxPlan plan;
  status = QvxPlanDecode(header, options, source.length, &plan);
  if (status != kQvxOk) return status;

  Blocks blocks = {&allocator, nullptr, nullptr, nullptr};
  blocks.info = Acquire(&blocks, kQvxInfoBlock, plan.infoBytes, &status);
  if (blocks.info == nullptr) return status;
  WriteInfoHeader(header, plan, blocks.info);
  blocks.pixels = Acquire(&blocks, kQvxPixelBlock, plan.pixelBytes, &status);
  if (blocks.pixels == nullptr) return Finish(&blocks, status);

  RowJob job = MakeJob(plan, options, source.length);
  job.progress = progress;
  job.progressContext = progressContext;
  if (!FillColourSlots(source, plan, job.mmx, blocks.info + kInfoHeaderBytes)) return Finish(&blocks, kQvxReadError);
  if (plan.bitFields) {
    if (plan.bits == 32)
      WriteMasks(blocks.info, 0xFF0000, 0xFF00, 0xFF);
    else
      WriteMasks(blocks.info, 0x7C00, 0x03E0, 0x001F);
  }

  if (plan.method == kQvxRow555To24 || plan.method == kQvxRowExpand2To4) TouchPages(blocks.pixels, plan.pixelBytes);
  if (source.bytes != nullptr) {
    status = RowsFromMemory(&job, source.bytes + plan.pixelOffset, blocks.pixels);
  } else if (IsCopy(plan)) {
    status = CopiedRowsFromReader(&job, source, blocks.pixels);
  } else {
    uint64_t needed = plan.sourceStride * plan.rows;
    uint64_t scratchBytes = needed < kScratchBytes ? needed : kScratchBytes;
    blocks.scratch = scratchBytes > 0 ? Acquire(&blocks, kQvxScratchBlock, scratchBytes, &status) : nullptr;
    if (scratchBytes > 0 && blocks.scratch == nullptr) return Finish(&blocks, status);
    status = ConvertedRowsFromReader(&job, source, blocks.scratch, scratchBytes, blocks.pixels);
  }
  // Any pixel with bit 15 set means the 16-bit data is 5-6-5, not 5-5-5.
  if (status == kQvxOk && job.bit15) WriteMasks(blocks.info, 0xF800, 0x07E0, 0x001F);
  return Finish(&blocks, status);
}

QvxStatus QvxReadColours(const QvxSource& source, const QvxPlan& plan, const QvxOptions& options, uint8_t* out) {
  bool mmx = options.useMmx && options.cpu.mmx;
  return FillColourSlots(source, plan, mmx, out) ? kQvxOk : kQvxReadError;
}
