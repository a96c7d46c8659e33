// kestrel-demo-image: the layout of the image as shipped and the same bytes on every run.
// Also guards every program of ours against holding the image marker.
#include <algorithm>
#include <string>
#include <vector>

#include "image/image_files.h"

namespace kestrel {
namespace {

using test::Bytes;

// The record lengths of an image that must end with a whole record.
Bytes lengthsOf(const Bytes& image) {
    Bytes lengths;
    size_t at = 0;
    for (; at < image.size(); at += 1 + image[at])
        lengths.push_back(image[at]);
    EXPECT_EQ(at, image.size()) << "the last record is cut";
    return lengths;
}

Bytes shippedLengths(size_t count) {
    Bytes lengths = {16, 24, 8, 16, 48, 24, 24, 24, 24};
    lengths.resize(count - 3, 72);
    lengths.insert(lengths.end(), {8, 16, 8});
    return lengths;
}

// FNV-1a over the demo image: its bytes are part of every packed program, so a change
// in the generator changes them all.
uint64_t fingerprint(const Bytes& bytes) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes)
        hash = (hash ^ b) * 0x100000001B3ull;
    return hash;
}

// kestrel-demo-image's output with `options`.
Bytes generate(std::vector<std::string> options) {
    const test::TempDir dir;
    options.insert(options.begin(), dir.file("demo"));
    EXPECT_EQ(test::runTool(KESTREL_DEMO_IMAGE_EXE, options).exitCode, 0);
    return test::readFile(dir.file("demo"));
}

TEST(DemoImage, HasTheLayoutOfTheImageAsShippedAndTheSameBytesOnEveryRun) {
    const Bytes image = generate({});
    EXPECT_EQ(lengthsOf(image), shippedLengths(35987));
    EXPECT_EQ(fingerprint(image), 0x7883fb5f598239f2ull);
    // --records keeps the head and the tail.
    EXPECT_EQ(lengthsOf(generate({"--records", "12"})), shippedLengths(12));
}

// The reader takes the first 0x00..0xFF run in a program file for the marker, so none of our
// programs may hold one (an optimiser can turn a filling loop into such a table).
TEST(OurPrograms, HoldNoImageMarker) {
    const Bytes marker = test::imageMarker();
    for (const char* path :
         {KESTREL_PACK_EXE, KESTREL_DEMO_IMAGE_EXE, KESTREL_IMAGE_PROBE_EXE, "/proc/self/exe"}) {
        const Bytes bytes = test::readFile(path);
        ASSERT_GT(bytes.size(), 1000u) << path;
        EXPECT_TRUE(std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) ==
                    bytes.end())
            << path;
    }
}

}  // namespace
}  // namespace kestrel
