// A temporary block of memory, held only for the length of one operation (the image search
// reads the head of the program file into one). Each platform gets it from its own allocator.
#pragma once

#include <cstdint>

namespace kestrel {

class TempBlock {
  public:
    // Obtains `size` bytes; data() is nullptr when none are available.
    explicit TempBlock(uint32_t size);
    ~TempBlock();
    TempBlock(const TempBlock&) = delete;
    TempBlock& operator=(const TempBlock&) = delete;

    uint8_t* data() const { return data_; }

  private:
    uint8_t* data_ = nullptr;
};

}  // namespace kestrel
