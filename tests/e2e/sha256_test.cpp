// The simulator's SHA-256 against the FIPS 180-4 example messages.
#include "image/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kestrel {
namespace {

std::string hexOf(Sha256& sha) {
    uint8_t digest[Sha256::kDigestLength];
    sha.finish(digest);
    char hex[65];
    sha256Hex(digest, hex);
    return hex;
}

std::string hashPieces(const std::string& text, size_t piece) {
    Sha256 sha;
    for (size_t at = 0; at < text.size(); at += piece)
        sha.update(reinterpret_cast<const uint8_t*>(text.data()) + at,
                   std::min(piece, text.size() - at));
    return hexOf(sha);
}

const char* const kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(Sha256, KnownMessages) {
    EXPECT_EQ(hashPieces("", 1), kEmpty);
    EXPECT_EQ(hashPieces("abc", 1),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding no longer fits the block and needs a second one.
    EXPECT_EQ(hashPieces("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hashPieces(std::string(1000000, 'a'), 4096),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, SplitDoesNotMatterAndResetStartsOver) {
    const std::string text(200, 'x');
    EXPECT_EQ(hashPieces(text, 1), hashPieces(text, 200));
    EXPECT_EQ(hashPieces(text, 63), hashPieces(text, 64));
    Sha256 sha;
    sha.update(reinterpret_cast<const uint8_t*>("junk"), 4);
    sha.reset();
    EXPECT_EQ(hexOf(sha), kEmpty);
}

}  // namespace
}  // namespace kestrel
