// SHA-256 (FIPS 180-4), enough to tell whether two byte streams are the same: the simulator
// reports the hash of what its loader accepted next to that of the image it expected.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

class Sha256 {
  public:
    static constexpr size_t kDigestLength = 32;

    Sha256();
    void update(const uint8_t* data, size_t size);
    // Finishes the hash; the object must be reset() before it is fed again.
    void finish(uint8_t (&digest)[kDigestLength]);
    void reset();

  private:
    void compress(const uint8_t* block);

    uint32_t state_[8];
    uint8_t block_[64];
    size_t blockUsed_ = 0;
    uint64_t totalBytes_ = 0;
};

// The digest as 64 lower-case hexadecimal digits and a NUL.
void sha256Hex(const uint8_t (&digest)[Sha256::kDigestLength], char (&hex)[65]);

}  // namespace kestrel
