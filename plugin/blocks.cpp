// The local-memory allocator of the decoding entries.
#include "plugin/blocks.h"

namespace {

HLOCAL* HostVariable(LocalBlocks* blocks, QvxBlock which) {
  if (which == kQvxInfoBlock) return blocks->infoHandleOut;
  if (which == kQvxPixelBlock) return blocks->bitsHandleOut;
  return nullptr;
}

void ClearHostVariables(LocalBlocks* blocks) {
  if (blocks->infoHandleOut) *blocks->infoHandleOut = nullptr;
  if (blocks->bitsHandleOut) *blocks->bitsHandleOut = nullptr;
}

uint8_t* Acquire(void* context, QvxBlock which, uint64_t bytes, QvxStatus* failure) {
  LocalBlocks* blocks = static_cast<LocalBlocks*>(context);
  HLOCAL block = bytes <= static_cast<SIZE_T>(-1)
                     ? LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, static_cast<SIZE_T>(bytes))
                     : nullptr;
  if (HLOCAL* variable = HostVariable(blocks, which)) *variable = block;
  if (block == nullptr) {
    ClearHostVariables(blocks);
    *failure = kQvxNoMemory;
    return nullptr;
  }
  uint8_t* bytesAt = static_cast<uint8_t*>(LocalLock(block));
  if (bytesAt == nullptr) {
    LocalFree(block);
    ClearHostVariables(blocks);
    *failure = kQvxLockFailed;
    return nullptr;
  }
  blocks->held[which] = block;
  return bytesAt;
}

// Delivered blocks are handed over unlocked; everything else is freed.
void Release(void* context, QvxBlock which, bool keep) {
  LocalBlocks* blocks = static_cast<LocalBlocks*>(context);
  HLOCAL block = blocks->held[which];
  blocks->held[which] = nullptr;
  LocalUnlock(block);
  if (keep) return;
  LocalFree(block);
  if (which != kQvxScratchBlock) ClearHostVariables(blocks);
}

}  // namespace

QvxAllocator LocalBlockAllocator(LocalBlocks* blocks) {
  blocks->held[0] = blocks->held[1] = blocks->held[2] = nullptr;
  return QvxAllocator{Acquire, Release, blocks};
}
