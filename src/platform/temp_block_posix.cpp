#include <cstdlib>

#include "platform/temp_block.h"

namespace kestrel {

TempBlock::TempBlock(uint32_t size) : data_(static_cast<uint8_t*>(std::malloc(size))) {}

TempBlock::~TempBlock() {
    std::free(data_);
}

}  // namespace kestrel
