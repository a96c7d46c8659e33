// kestrel-demo-image: the layout of the image as shipped, the same bytes on every run, and
// the packed demo image read back through the reader. Also guards every program of ours
// against holding the image marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/test_files.h"
#include "image/tool_run.h"
#include "platform/own_file.h"

namespace kestrel {
namespace {

std::vector<uint8_t> lengthsOf(const std::vector<uint8_t>& image, bool* endsExactly) {
    std::vector<uint8_t> lengths;
    size_t at = 0;
    while (at < image.size()) {
        lengths.push_back(image[at]);
        at += 1 + image[at];
    }
    *endsExactly = at == image.size();
    return lengths;
}

std::vector<uint8_t> shippedLengths(size_t count) {
    std::vector<uint8_t> lengths = {16, 24, 8, 16, 48, 24, 24, 24, 24};
    lengths.resize(count - 3, 72);
    lengths.insert(lengths.end(), {8, 16, 8});
    return lengths;
}

// The demo image's bytes are part of every packed program: a change here changes them all.
constexpr uint64_t kDemoImageFingerprint = 0x7883fb5f598239f2ull;

// FNV-1a: a fingerprint of the demo image's bytes.
uint64_t fingerprint(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes)
        hash = (hash ^ b) * 0x100000001B3ull;
    return hash;
}

class DemoImageTest : public testing::Test {
  protected:
    void TearDown() override {
        closeImage();
        overrideOwnProgramPath(nullptr);
    }

    std::vector<uint8_t> generate(const std::string& name,
                                  const std::vector<std::string>& options) {
        std::vector<std::string> args = {dir_.file(name)};
        args.insert(args.end(), options.begin(), options.end());
        const test::ToolRun run = test::runTool(KESTREL_DEMO_IMAGE_EXE, args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return test::readBinaryFile(dir_.file(name));
    }

    test::TempDir dir_;
};

TEST_F(DemoImageTest, HasTheLayoutOfTheImageAsShipped) {
    const std::vector<uint8_t> image = generate("demo", {});
    bool endsExactly = false;
    EXPECT_EQ(lengthsOf(image, &endsExactly), shippedLengths(35987));
    EXPECT_TRUE(endsExactly);
    EXPECT_EQ(image.size(), 35987u + 208 + 35975u * 72 + 32);
}

TEST_F(DemoImageTest, IsTheSameOnEveryRun) {
    const std::vector<uint8_t> first = generate("first", {});
    const std::vector<uint8_t> second = generate("second", {});
    EXPECT_EQ(first, second);
    EXPECT_EQ(fingerprint(first), kDemoImageFingerprint);
}

TEST_F(DemoImageTest, RecordsOptionKeepsHeadAndTail) {
    for (size_t count : {12u, 13u, 100u, 70000u}) {
        SCOPED_TRACE(count);
        const std::vector<uint8_t> image = generate("small", {"--records", std::to_string(count)});
        bool endsExactly = false;
        EXPECT_EQ(lengthsOf(image, &endsExactly), shippedLengths(count));
        EXPECT_TRUE(endsExactly);
    }
}

TEST_F(DemoImageTest, RefusesABadRecordCount) {
    for (const char* bad : {"11", "0", "-5", "12x", "", "abc", "1000001", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        const test::ToolRun run =
            test::runTool(KESTREL_DEMO_IMAGE_EXE, {dir_.file("bad"), "--records", bad});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("usage: kestrel-demo-image"), std::string::npos);
    }
    EXPECT_EQ(test::runTool(KESTREL_DEMO_IMAGE_EXE, {}).exitCode, 2);
    EXPECT_EQ(test::runTool(KESTREL_DEMO_IMAGE_EXE, {dir_.file("bad"), "--records"}).exitCode, 2);
    EXPECT_EQ(dir_.entries(), std::vector<std::string>{});
}

TEST_F(DemoImageTest, PackedBehindAProgramReadsAsTheShippedImage) {
    std::vector<uint8_t> program(20000, 0x90);
    test::writeBinaryFile(dir_.file("program"), program);
    generate("demo", {});
    const test::ToolRun run = test::runTool(
        KESTREL_PACK_EXE, {dir_.file("program"), dir_.file("demo"), dir_.file("packed")});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::string packed = dir_.file("packed");
    overrideOwnProgramPath(packed.c_str());
    ASSERT_EQ(openImage(""), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(countRecords(), 35987);
    uint8_t payload[255];
    uint8_t length = 0;
    std::vector<uint8_t> lengths;
    while (readRecord(payload, &length))
        lengths.push_back(length);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(imageIsTruncated());
    ASSERT_EQ(lengths.size(), 35987u);
    EXPECT_EQ(lengths[4], 48);
    EXPECT_EQ(lengths, shippedLengths(35987));
}

// The reader takes the first 0x00..0xFF run in a program file for the marker, so none of our
// programs may hold one (an optimiser can turn a filling loop into such a table).
TEST(OurPrograms, HoldNoImageMarker) {
    const std::vector<uint8_t> marker = test::imageMarker();
    for (const char* path :
         {KESTREL_PACK_EXE, KESTREL_DEMO_IMAGE_EXE, KESTREL_IMAGE_PROBE_EXE, "/proc/self/exe"}) {
        SCOPED_TRACE(path);
        const std::vector<uint8_t> bytes = test::readBinaryFile(path);
        ASSERT_GT(bytes.size(), 1000u);
        EXPECT_EQ(std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()),
                  bytes.end());
    }
}

}  // namespace
}  // namespace kestrel
