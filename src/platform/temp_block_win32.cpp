#include <windows.h>

#include "platform/temp_block.h"

namespace kestrel {

// A fixed global block: its handle is its address, so nothing needs locking.
TempBlock::TempBlock(uint32_t size) : data_(static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, size))) {}

TempBlock::~TempBlock() {
    if (data_) GlobalFree(data_);
}

}  // namespace kestrel
