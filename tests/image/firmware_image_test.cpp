// The image reader over program files the tests build: where the marker is found, how
// records are read and counted, a damaged end, and calls in every state.
#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "image/program_file.h"
#include "image/test_files.h"
#include "platform/own_file.h"

namespace kestrel {
namespace {

using test::kLongestProgram;
using test::ProgramFile;

std::string cutWarning(int present, int length) {
    char text[100];
    std::snprintf(text, sizeof text, "Warning: unexpected end of file detected %d / %d.\n", present,
                  length);
    return text;
}

class ImageReaderTest : public testing::Test {
  protected:
    void SetUp() override { closeImage(); }
    void TearDown() override {
        closeImage();
        overrideOwnProgramPath(nullptr);
    }

    // Makes `file` the program's own file.
    void useProgramFile(const ProgramFile& file) {
        path_ = dir_.file("program");
        test::writeBinaryFile(path_, file.data());
        overrideOwnProgramPath(path_.c_str());
    }

    // Reads the next record and checks it is `payload`, with nothing printed.
    void expectNextRecord(const std::vector<uint8_t>& payload) {
        uint8_t buffer[255];
        uint8_t length = 0xEE;
        testing::internal::CaptureStdout();
        const int ok = readRecord(buffer, &length);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_EQ(ok, 1);
        ASSERT_EQ(length, payload.size());
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), payload);
    }

    // Reads the next record expecting the end of the image; returns what was printed.
    std::string expectEnd() {
        uint8_t buffer[255];
        uint8_t length = 0xEE;
        testing::internal::CaptureStdout();
        EXPECT_EQ(readRecord(buffer, &length), 0);
        EXPECT_EQ(length, 0xEE) << "the length must be left alone when no record was read";
        return testing::internal::GetCapturedStdout();
    }

    int32_t countCapturing(std::string* printed) {
        testing::internal::CaptureStdout();
        const int32_t count = countRecords();
        *printed = testing::internal::GetCapturedStdout();
        return count;
    }

    test::TempDir dir_;
    std::string path_;
};

// --- Where the image is found ---------------------------------------------------------

struct MarkerPlace {
    const char* name;
    ProgramFile file;
    bool found;
};

void PrintTo(const MarkerPlace& c, std::ostream* os) {
    *os << c.name;
}

class MarkerPlaceTest : public ImageReaderTest, public testing::WithParamInterface<MarkerPlace> {};

TEST_P(MarkerPlaceTest, FindsTheImageOnlyWhenTheMarkerEndsWithinTheFirst100000Bytes) {
    const MarkerPlace& c = GetParam();
    useProgramFile(c.file);
    ASSERT_EQ(openImage("firmware.bin"), c.found ? 1 : 0);
    if (!c.found) {
        EXPECT_EQ(countRecords(), 0);
        return;
    }
    // The first record read proves where the data start was put.
    std::string printed;
    EXPECT_EQ(countCapturing(&printed), static_cast<int32_t>(c.file.payloads().size()));
    EXPECT_EQ(printed, "");
    for (const auto& payload : c.file.payloads())
        expectNextRecord(payload);
    EXPECT_EQ(expectEnd(), "");
}

std::vector<uint8_t> ascending(unsigned from, unsigned to) {
    std::vector<uint8_t> values;
    for (unsigned v = from; v <= to; ++v)
        values.push_back(static_cast<uint8_t>(v));
    return values;
}

ProgramFile program(size_t fillerLength) {
    return std::move(ProgramFile().filler(fillerLength));
}

INSTANTIATE_TEST_SUITE_P(
    ImageReader, MarkerPlaceTest,
    testing::Values(
        MarkerPlace{"MarkerAtTheVeryStart", program(0).marker().recordsUpTo(100500), true},
        MarkerPlace{"MarkerEndingAt99999_DataStartAt100000",
                    program(kLongestProgram).marker().records({16, 24, 8}), true},
        MarkerPlace{"MarkerEndingAt99999_NoRecords", program(kLongestProgram).marker(), true},
        MarkerPlace{"MarkerEndingAt100000", program(kLongestProgram + 1).marker().records({16}),
                    false},
        MarkerPlace{"MarkerFarBehind", program(150000).marker().records({16}), false},
        MarkerPlace{"NoMarkerAtAll", program(150000), false},
        // 00 01 02 then the marker: the mismatching 0x00 restarts the search there.
        MarkerPlace{"RestartAtASecondZero",
                    program(1000).bytes({0x00, 0x01, 0x02}).marker().recordsUpTo(100300), true},
        MarkerPlace{"RestartAfterAllButTheLastByte",
                    program(1000).bytes(ascending(0x00, 0xFE)).marker().recordsUpTo(100300), true},
        MarkerPlace{"TwoZerosBeforeTheMarker",
                    program(1000).bytes({0x00}).marker().recordsUpTo(100300), true},
        MarkerPlace{"MarkerBrokenByOneByte",
                    program(1000)
                        .bytes(ascending(0x00, 0x7F))
                        .bytes({0x55})
                        .bytes(ascending(0x80, 0xFF))
                        .filler(100000),
                    false}),
    [](const testing::TestParamInfo<MarkerPlace>& info) { return info.param.name; });

struct ShortFile {
    const char* name;
    ProgramFile file;
    bool found;
};

void PrintTo(const ShortFile& c, std::ostream* os) {
    *os << c.name;
}

class ShortFileTest : public ImageReaderTest, public testing::WithParamInterface<ShortFile> {};

TEST_P(ShortFileTest, NeedsAFileOfAtLeast100000Bytes) {
    useProgramFile(GetParam().file);
    EXPECT_EQ(openImage(""), GetParam().found ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    ImageReader, ShortFileTest,
    testing::Values(ShortFile{"Empty", ProgramFile(), false},
                    ShortFile{"MarkerAndRecordsIn600Bytes",
                              program(100).marker().records({16, 24, 8, 16, 48}), false},
                    ShortFile{"OneByteShort", program(1000).marker().recordsUpTo(99999), false},
                    ShortFile{"Exactly100000", program(1000).marker().recordsUpTo(100000), true}),
    [](const testing::TestParamInfo<ShortFile>& info) { return info.param.name; });

TEST_F(ImageReaderTest, ProgramFileThatCannotBeOpenedOrReadHasNoImage) {
    const std::string missing = dir_.file("missing");
    overrideOwnProgramPath(missing.c_str());
    EXPECT_EQ(openImage(""), 0);
    closeImage();

    overrideOwnProgramPath(dir_.path().c_str());  // a folder opens, but does not read
    EXPECT_EQ(openImage(""), 0);
    closeImage();

    const std::string tooLong = "/" + std::string(300, 'x');
    overrideOwnProgramPath(tooLong.c_str());
    EXPECT_EQ(openImage(""), 0);
}

TEST_F(ImageReaderTest, FirmwareNameHasNoEffectOnWhichImageIsRead) {
    ProgramFile other = program(kLongestProgram).marker().records({8, 8, 8, 8, 8, 8});
    const std::string otherPath = dir_.file("other");
    test::writeBinaryFile(otherPath, other.data());

    ProgramFile own = program(kLongestProgram).marker().records({16, 24});
    useProgramFile(own);
    for (const char* name : {"", "update.UUSF", "firmware.bin", otherPath.c_str()}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(openImage(name), 1);
        EXPECT_EQ(countRecords(), 2);
        expectNextRecord(own.payloads()[0]);
        closeImage();
    }
}

// --- Reading and counting ---------------------------------------------------------------

TEST_F(ImageReaderTest, RecordsEndingAtTheEndOfTheFileAreAllReadAndCounted) {
    // Zero-length and full 255-byte records among them, one of each at the ends.
    ProgramFile file = program(kLongestProgram).marker().records({0, 16, 255, 1, 0, 72, 8, 0});
    useProgramFile(file);
    ASSERT_EQ(openImage(""), 1);
    std::string printed;
    EXPECT_EQ(countCapturing(&printed), 8);
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(imageIsTruncated());
    for (const auto& payload : file.payloads())
        expectNextRecord(payload);
    EXPECT_EQ(expectEnd(), "");
    EXPECT_EQ(expectEnd(), "") << "the end stays the end";
}

TEST_F(ImageReaderTest, ImageOfZeroLengthRecordsOnly) {
    useProgramFile(program(kLongestProgram).marker().records({0, 0, 0}));
    ASSERT_EQ(openImage(""), 1);
    EXPECT_EQ(countRecords(), 3);
    for (int i = 0; i < 3; ++i)
        expectNextRecord({});
    EXPECT_EQ(expectEnd(), "");
}

TEST_F(ImageReaderTest, CountingKeepsTheReadPosition) {
    ProgramFile file = program(kLongestProgram).marker().records({16, 24, 8, 16, 48, 24});
    useProgramFile(file);
    ASSERT_EQ(openImage(""), 1);
    EXPECT_EQ(countRecords(), 6);
    expectNextRecord(file.payloads()[0]);
    expectNextRecord(file.payloads()[1]);
    EXPECT_EQ(countRecords(), 6);
    expectNextRecord(file.payloads()[2]);
    EXPECT_EQ(countRecords(), 6);
    for (size_t i = 3; i < 6; ++i)
        expectNextRecord(file.payloads()[i]);
    EXPECT_EQ(countRecords(), 6) << "counting at the end";
    EXPECT_EQ(expectEnd(), "");
}

TEST_F(ImageReaderTest, ReopeningStartsAgainAtTheFirstRecord) {
    ProgramFile file = program(kLongestProgram).marker().records({16, 24, 8});
    useProgramFile(file);
    ASSERT_EQ(openImage(""), 1);
    expectNextRecord(file.payloads()[0]);
    expectNextRecord(file.payloads()[1]);
    closeImage();
    ASSERT_EQ(openImage(""), 1);
    expectNextRecord(file.payloads()[0]);
}

// --- A last record cut short --------------------------------------------------------------

struct CutEnd {
    const char* name;
    uint8_t length;
    uint8_t present;
};

void PrintTo(const CutEnd& c, std::ostream* os) {
    *os << c.name;
}

class CutEndTest : public ImageReaderTest, public testing::WithParamInterface<CutEnd> {};

TEST_P(CutEndTest, IsNotCountedAndWarnsOnEveryRead) {
    const CutEnd& c = GetParam();
    ProgramFile file = program(kLongestProgram).marker().records({16, 24, 8});
    file.cutRecord(c.length, c.present);
    useProgramFile(file);
    ASSERT_EQ(openImage(""), 1);
    const std::string warning = cutWarning(c.present, c.length);

    std::string printed;
    EXPECT_EQ(countCapturing(&printed), 3);
    EXPECT_EQ(printed, warning) << "counting warns once";
    EXPECT_TRUE(imageIsTruncated());

    for (const auto& payload : file.payloads())
        expectNextRecord(payload);
    EXPECT_EQ(expectEnd(), warning) << "reading the cut record warns again and ends the image";
    EXPECT_EQ(expectEnd(), "") << "behind it is the plain end of the file";
}

INSTANTIATE_TEST_SUITE_P(ImageReader, CutEndTest,
                         testing::Values(CutEnd{"ThreeOf72", 72, 3}, CutEnd{"NoneOf72", 72, 0},
                                         CutEnd{"254Of255", 255, 254}, CutEnd{"NoneOf1", 1, 0}),
                         [](const testing::TestParamInfo<CutEnd>& info) {
                             return info.param.name;
                         });

TEST_F(ImageReaderTest, WholeImageIsNotTruncatedAfterADamagedOne) {
    useProgramFile(program(kLongestProgram).marker().records({16}).cutRecord(24, 1));
    ASSERT_EQ(openImage(""), 1);
    std::string printed;
    countCapturing(&printed);
    ASSERT_TRUE(imageIsTruncated());
    closeImage();

    useProgramFile(program(kLongestProgram).marker().records({16}));
    ASSERT_EQ(openImage(""), 1);
    EXPECT_FALSE(imageIsTruncated());
    EXPECT_EQ(countRecords(), 1);
    EXPECT_FALSE(imageIsTruncated());
}

// --- Calls without an open image ------------------------------------------------------------

TEST_F(ImageReaderTest, NothingIsReadWhileNoImageIsOpen) {
    ProgramFile file = program(kLongestProgram).marker().records({16, 24});
    useProgramFile(file);
    EXPECT_EQ(countRecords(), 0) << "never opened";
    EXPECT_EQ(expectEnd(), "");

    ASSERT_EQ(openImage(""), 1);
    closeImage();
    EXPECT_EQ(countRecords(), 0) << "after closeImage";
    EXPECT_EQ(expectEnd(), "");
}

TEST_F(ImageReaderTest, NothingIsReadAfterAFailedOpen) {
    // The file stays open until closeImage, but what follows the first 100000 bytes of a
    // program without a marker is no image and must not be handed out as records.
    useProgramFile(program(150000).bytes({16}).filler(16));
    ASSERT_EQ(openImage(""), 0);
    EXPECT_EQ(countRecords(), 0);
    EXPECT_EQ(expectEnd(), "");
}

TEST_F(ImageReaderTest, CloseImageIsHarmlessInAnyState) {
    closeImage();
    closeImage();
    ProgramFile file = program(kLongestProgram).marker().records({16});
    useProgramFile(file);
    ASSERT_EQ(openImage(""), 1);
    closeImage();
    closeImage();
    ASSERT_EQ(openImage(""), 1) << "a double close leaves the reader usable";
    expectNextRecord(file.payloads()[0]);
}

}  // namespace
}  // namespace kestrel
