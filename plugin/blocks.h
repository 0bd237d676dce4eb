// Memory for the decoding core from movable, zero-filled local blocks
// (LocalAlloc with 0x42), whose handles pass to the host.
#pragma once

#include "decode/qvx.h"
#include "plugin/spi.h"

struct LocalBlocks {
  HLOCAL* infoHandleOut;  // the host's handle variables; may be null
  HLOCAL* bitsHandleOut;
  HLOCAL held[3];         // by QvxBlock
};

// An allocator over blocks. Each delivered block's handle is stored in the
// host's variable as soon as it exists; after any failure both variables
// hold null, so a host that frees what it holds cannot free a block twice.
QvxAllocator LocalBlockAllocator(LocalBlocks* blocks);
