// The simulator's SHA-256 against the FIPS 180-4 example messages.
#include "image/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kestrel {
namespace {

std::string hashPieces(const std::string& text, size_t piece) {
    Sha256 sha;
    for (size_t at = 0; at < text.size(); at += piece)
        sha.update(reinterpret_cast<const uint8_t*>(text.data()) + at,
                   std::min(piece, text.size() - at));
    uint8_t digest[Sha256::kDigestLength];
    sha.finish(digest);
    char hex[65];
    sha256Hex(digest, hex);
    return hex;
}

TEST(Sha256, KnownMessages) {
    EXPECT_EQ(hashPieces("", 1),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hashPieces("abc", 1),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding no longer fits the block and needs a second one.
    EXPECT_EQ(hashPieces("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Pieces that straddle the 64-byte blocks.
    EXPECT_EQ(hashPieces(std::string(1000000, 'a'), 4095),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace kestrel
