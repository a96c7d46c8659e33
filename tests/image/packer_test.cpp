// kestrel-pack, run as the build runs it: what it writes for a good input, and that it
// refuses, with a message and without writing anything, whatever the reader would misread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "image/firmware_image.h"
#include "image/program_file.h"
#include "image/test_files.h"
#include "image/tool_run.h"
#include "platform/own_file.h"

namespace kestrel {
namespace {

using test::kLongestProgram;
using test::ProgramFile;

// Program bytes with every value but no marker: a counter modulo 251 never runs 0..255.
std::vector<uint8_t> programBytes(size_t length) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < length; ++i)
        bytes.push_back(static_cast<uint8_t>((i * 7) % 251));
    return bytes;
}

// An image of whole records: the shipped head lengths, then 72-byte records.
ProgramFile imageOf(size_t records) {
    ProgramFile image;
    const std::vector<uint8_t> head = {16, 24, 8, 16, 48, 24, 24, 24, 24};
    for (size_t i = 0; i < records; ++i)
        image.record(i < head.size() ? head[i] : 72);
    return image;
}

class PackerTest : public testing::Test {
  protected:
    void SetUp() override {
        program_ = dir_.file("program");
        image_ = dir_.file("image");
        output_ = dir_.file("packed");
    }
    void TearDown() override {
        closeImage();
        overrideOwnProgramPath(nullptr);
    }

    test::ToolRun pack(const std::vector<uint8_t>& program, const std::vector<uint8_t>& image) {
        test::writeBinaryFile(program_, program);
        test::writeBinaryFile(image_, image);
        return test::runTool(KESTREL_PACK_EXE, {program_, image_, output_});
    }

    // Refused: exit 1, a message containing `reason`, no output and no temporary file.
    void expectRefused(const test::ToolRun& run, const std::string& reason) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(test::fileExists(output_));
        EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"image", "program"}));
    }

    test::TempDir dir_;
    std::string program_, image_, output_;
};

TEST_F(PackerTest, WritesProgramMarkerAndImageByteForByte) {
    const std::vector<uint8_t> program = programBytes(60000);
    const ProgramFile image = imageOf(600);
    test::writeBinaryFile(program_, program);
    ASSERT_EQ(::chmod(program_.c_str(), 0750), 0);
    test::writeBinaryFile(image_, image.data());

    const test::ToolRun run = test::runTool(KESTREL_PACK_EXE, {program_, image_, output_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");

    std::vector<uint8_t> expected = program;
    const std::vector<uint8_t> marker = test::imageMarker();
    expected.insert(expected.end(), marker.begin(), marker.end());
    expected.insert(expected.end(), image.data().begin(), image.data().end());
    EXPECT_EQ(test::readBinaryFile(output_), expected);

    struct stat st;
    ASSERT_EQ(::stat(output_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u) << "the packed program keeps the program's mode";
    EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"image", "packed", "program"}));

    // And the reader finds exactly that image in it.
    overrideOwnProgramPath(output_.c_str());
    ASSERT_EQ(openImage(""), 1);
    EXPECT_EQ(countRecords(), 600);
    uint8_t payload[255];
    uint8_t length = 0;
    for (const auto& expectedPayload : image.payloads()) {
        ASSERT_EQ(readRecord(payload, &length), 1);
        ASSERT_EQ(std::vector<uint8_t>(payload, payload + length), expectedPayload);
    }
    EXPECT_EQ(readRecord(payload, &length), 0);
}

TEST_F(PackerTest, ReplacesAnExistingOutput) {
    test::writeBinaryFile(output_, {1, 2, 3});
    const test::ToolRun run = pack(programBytes(kLongestProgram), imageOf(3).data());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(test::readBinaryFile(output_).size(), kLongestProgram + 256 + imageOf(3).size());
}

TEST_F(PackerTest, TakesAProgramOfUpTo99744Bytes) {
    EXPECT_EQ(pack(programBytes(kLongestProgram), imageOf(3).data()).exitCode, 0);
    ASSERT_TRUE(test::fileExists(output_));
    ::unlink(output_.c_str());
    expectRefused(pack(programBytes(kLongestProgram + 1), imageOf(3).data()),
                  "is 99745 bytes, 1 too many");
}

struct MarkerInProgram {
    const char* name;
    size_t before;  // program bytes in front of the marker
    size_t after;   // and behind it
    std::vector<uint8_t> lead;
};

void PrintTo(const MarkerInProgram& c, std::ostream* os) {
    *os << c.name;
}

class PackerMarkerTest : public PackerTest, public testing::WithParamInterface<MarkerInProgram> {};

TEST_P(PackerMarkerTest, RefusesAProgramHoldingTheMarker) {
    const MarkerInProgram& c = GetParam();
    std::vector<uint8_t> program = programBytes(c.before);
    program.insert(program.end(), c.lead.begin(), c.lead.end());
    const std::vector<uint8_t> marker = test::imageMarker();
    program.insert(program.end(), marker.begin(), marker.end());
    const std::vector<uint8_t> tail = programBytes(c.after);
    program.insert(program.end(), tail.begin(), tail.end());
    const std::string at = "at offset " + std::to_string(c.before + c.lead.size());
    const test::ToolRun run = pack(program, imageOf(2000).data());
    expectRefused(run, "contains the 256-byte image marker");
    EXPECT_NE(run.err.find(at), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Packer, PackerMarkerTest,
    testing::Values(MarkerInProgram{"AtTheStart", 0, 5000, {}},
                    MarkerInProgram{"InTheMiddle", 30000, 30000, {}},
                    MarkerInProgram{"AtTheVeryEnd", kLongestProgram - 256, 0, {}},
                    MarkerInProgram{"BehindAFalseStart", 1000, 1000, {0x00, 0x01, 0x02}}),
    [](const testing::TestParamInfo<MarkerInProgram>& info) { return info.param.name; });

TEST_F(PackerTest, TakesAProgramWithAnAlmostMarker) {
    // 0x00..0xFE, then a byte that breaks the run: no marker.
    std::vector<uint8_t> program = programBytes(1000);
    const std::vector<uint8_t> marker = test::imageMarker();
    program.insert(program.end(), marker.begin(), marker.end() - 1);
    program.push_back(0xFE);
    EXPECT_EQ(pack(program, imageOf(2000).data()).exitCode, 0);
}

struct BadImage {
    const char* name;
    ProgramFile image;
    std::string reason;
};

void PrintTo(const BadImage& c, std::ostream* os) {
    *os << c.name;
}

class PackerImageTest : public PackerTest, public testing::WithParamInterface<BadImage> {};

TEST_P(PackerImageTest, RefusesAnImageThatDoesNotEndWithAWholeRecord) {
    expectRefused(pack(programBytes(kLongestProgram), GetParam().image.data()), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Packer, PackerImageTest,
    testing::Values(
        BadImage{"LastRecordCut", std::move(imageOf(5).cutRecord(72, 71)),
                 "record 5 at offset 117 announces 72 payload bytes but only 71 remain"},
        BadImage{"LengthByteAlone", std::move(imageOf(5).cutRecord(8, 0)),
                 "record 5 at offset 117 announces 8 payload bytes but only 0 remain"},
        BadImage{"FirstRecordCut", std::move(ProgramFile().cutRecord(255, 200)),
                 "record 0 at offset 0 announces 255"},
        BadImage{"Empty", ProgramFile(), "is empty"}),
    [](const testing::TestParamInfo<BadImage>& info) { return info.param.name; });

TEST_F(PackerTest, TakesAnImageEndingWithAZeroLengthRecord) {
    ProgramFile image = imageOf(5);
    image.record(0);
    const test::ToolRun run = pack(programBytes(kLongestProgram), image.data());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("6 records"), std::string::npos) << run.out;
}

TEST_F(PackerTest, RefusesAPackedFileTheReaderCouldNotSearch) {
    // Under 100000 bytes in all: the reader's first read would come up short.
    expectRefused(pack(programBytes(1000), imageOf(20).data()), "at least 100000");
}

TEST_F(PackerTest, LeavesAnExistingOutputAloneWhenRefusing) {
    test::writeBinaryFile(output_, {1, 2, 3});
    const test::ToolRun run = pack(programBytes(kLongestProgram + 1), imageOf(3).data());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(test::readBinaryFile(output_), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(PackerTest, RefusesInputsItCannotReadAndAnOutputItCannotWrite) {
    test::writeBinaryFile(image_, imageOf(3).data());
    test::ToolRun run = test::runTool(KESTREL_PACK_EXE, {dir_.file("missing"), image_, output_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot read program"), std::string::npos) << run.err;

    test::writeBinaryFile(program_, programBytes(kLongestProgram));
    run = test::runTool(KESTREL_PACK_EXE, {program_, dir_.file("missing"), output_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot read image"), std::string::npos) << run.err;

    run = test::runTool(KESTREL_PACK_EXE, {program_, image_, dir_.file("no/such/folder")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"image", "program"}));
}

TEST_F(PackerTest, WrongUsageExitsWith2) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {program_}, {program_, image_}, {program_, image_, output_, "extra"}}) {
        const test::ToolRun run = test::runTool(KESTREL_PACK_EXE, args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("usage: kestrel-pack <program> <image> <output>"),
                  std::string::npos);
    }
    EXPECT_EQ(dir_.entries(), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrel
