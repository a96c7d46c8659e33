// The image tools, run as the build runs them. kestrel-pack: what it writes for a good input,
// and that it refuses, with a message and without writing anything, whatever the reader would
// misread. kestrel-demo-image: the layout of the image as shipped and the same bytes on every
// run. And no program of ours may hold the image marker.
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/image_files.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::cat;
using test::kLongestProgram;
using test::makeRecords;

// Program bytes with every value but no marker: a counter modulo 251 never runs 0..255.
Bytes programBytes(size_t length) {
    Bytes bytes;
    for (size_t i = 0; i < length; ++i)
        bytes.push_back(static_cast<uint8_t>((i * 7) % 251));
    return bytes;
}

TEST(Packer, WritesProgramMarkerAndImageOrRefusesWhatTheReaderWouldMisread) {
    const test::TempDir dir_;
    const std::string program_ = dir_.file("program"), image_ = dir_.file("image"),
                      output_ = dir_.file("packed");
    test::writeFile(program_, {});
    ASSERT_EQ(::chmod(program_.c_str(), 0750), 0);
    const Bytes m = test::imageMarker();
    const Bytes big = cat(makeRecords(2000));
    const std::string inProgram =
        "contains the 256-byte image marker (0x00..0xFF ascending) at offset ";
    struct Case {
        Bytes program, image;
        int exitCode;
        std::string says;
    } cases[] = {
        {programBytes(kLongestProgram), cat(makeRecords(3)), 0, "3 records"},
        // 0x00..0xFE, then a byte that breaks the run: no marker.
        {cat({programBytes(1000), Bytes(m.begin(), m.end() - 1), {0xFE}}), big, 0, "2000 records"},
        {programBytes(kLongestProgram + 1), big, 1, "is 99745 bytes, 1 too many"},
        {cat({programBytes(kLongestProgram - 256), m}), big, 1, inProgram + "99488;"},
        {cat({programBytes(1000), {0x00, 0x01, 0x02}, m}), big, 1, inProgram + "1003;"},
        // Under 100000 bytes in all: the reader's first read would come up short.
        {programBytes(1000), cat(makeRecords(20)), 1, "at least 100000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        test::writeFile(output_, {1, 2, 3});  // written over only by a success
        test::writeFile(image_, c.image);
        test::writeFile(program_, c.program);
        const test::ToolRun run = test::runTool(KESTREL_PACK_EXE, {program_, image_, output_});
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE((c.exitCode ? run.err : run.out).find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(c.exitCode ? run.out : run.err, "");
        EXPECT_TRUE(test::readFile(output_) ==
                    (c.exitCode ? Bytes{1, 2, 3} : cat({c.program, m, c.image})));
        struct stat st;
        ASSERT_EQ(::stat(output_.c_str(), &st), 0);
        // The packed program keeps the program's mode.
        EXPECT_EQ(c.exitCode ? 0750u : st.st_mode & 07777, 0750u);
        EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"image", "packed", "program"}));
    }
}

// --- kestrel-demo-image ---------------------------------
// FNV-1a over the demo image: its bytes are part of every packed program, so a change in the
// generator changes them all. The bytes pin the layout (a head of short records, 72-byte ones,
// a short tail) whole, and --records keeps the head and the tail.
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
    EXPECT_EQ(fingerprint(generate({})), 0x7883fb5f598239f2ull);
    EXPECT_EQ(fingerprint(generate({"--records", "12"})), 0x6e9e1e80707f06aeull);
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
