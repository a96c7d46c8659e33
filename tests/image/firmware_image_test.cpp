// The image reader over program files the tests build: where the marker is found, how
// records are read and counted, a damaged end, and calls in every state.
#include "image/firmware_image.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "image/image_files.h"
#include "platform/own_file.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::cat;
using test::kLongestProgram;
using test::makeRecords;
using test::Record;

// Program bytes that can never take part in a marker.
const auto fill = [](size_t length) { return Bytes(length, 'K'); };

Bytes image(const std::vector<Record>& records, size_t program = kLongestProgram) {
    return cat({fill(program), test::imageMarker(), cat(records)});
}

class ImageReaderTest : public testing::Test {
  protected:
    void TearDown() override {
        image_->closeImage();
        EXPECT_EQ(printed_, "") << "nothing else may be printed";
    }

    // Makes `file` the program's own file.
    void use(const Bytes& file) { test::writeFile(program_, file); }

    // The next record, length byte first; empty at the end of the image.
    Record next() {
        uint8_t payload[255];
        uint8_t length = 0xEE;
        testing::internal::CaptureStdout();
        const int ok = image_->readRecord(payload, &length);
        printed_ += testing::internal::GetCapturedStdout();
        if (!ok) {
            EXPECT_EQ(length, 0xEE) << "the length must be left alone when no record was read";
            return {};
        }
        Record record{length};
        record.insert(record.end(), payload, payload + length);
        return record;
    }

    std::vector<Record> rest() {
        std::vector<Record> records;
        for (Record r = next(); !r.empty(); r = next())
            records.push_back(r);
        return records;
    }

    size_t count() {
        testing::internal::CaptureStdout();
        const int32_t n = image_->countRecords();
        printed_ += testing::internal::GetCapturedStdout();
        return static_cast<size_t>(n);
    }

    // What the reader printed since the last call.
    std::string printed() { return std::exchange(printed_, ""); }

    test::TempDir dir_;
    const std::string program_ = dir_.file("program");
    std::unique_ptr<FirmwareImage> image_ = std::make_unique<FirmwareImage>(program_.c_str());
    std::string printed_;
};

TEST_F(ImageReaderTest, FindsTheImageOnlyWhenTheMarkerEndsWithinTheFirst100000Bytes) {
    const Bytes m = test::imageMarker();
    const auto few = makeRecords(3, {16, 24, 8});  // 51 bytes
    const auto many = makeRecords(1370);           // past 100000 behind an early marker
    Bytes broken = m;
    broken.insert(broken.begin() + 128, 0x55);
    struct Case {
        const char* name;
        int found;
        Bytes file;
        std::vector<Record> records;
    };
    const Case cases[] = {
        {"marker at the very start", 1, image(many, 0), many},
        {"marker ending at 99999, data at 100000", 1, image(few), few},
        {"marker ending at 99999, no records", 1, image({}), {}},
        {"marker ending at 100000", 0, image(few, kLongestProgram + 1), {}},
        // A mismatching 0x00 restarts the search right there.
        {"restart at a second 0x00", 1, cat({fill(1000), {0, 1, 2}, image(many, 0)}), many},
        {"restart after all but the last byte", 1,
         cat({fill(1000), Bytes(m.begin(), m.end() - 1), image(many, 0)}), many},
        {"marker broken by one byte", 0, cat({fill(1000), broken, fill(100000)}), {}},
        // The first read takes 100000 bytes; a shorter file has no image.
        {"empty file", 0, {}, {}},
        {"file of 99999 bytes", 0, image(few, 99692), {}},
        {"file of 100000 bytes", 1, image(few, 99693), few},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        use(c.file);
        EXPECT_EQ(image_->openImage("firmware.bin"), c.found);
        EXPECT_EQ(count(), c.records.size());
        // The first record read proves where the data start was put; after a failed open
        // what follows the first 100000 bytes must not be handed out as records.
        EXPECT_EQ(rest(), c.records);
        image_->closeImage();
    }
    // Why there is none, as the front end tells it.
    use(fill(100000));
    EXPECT_EQ(image_->openImage(""), 0);
    EXPECT_STREQ(image_->lastError().what, "no firmware image behind the program");
}

TEST_F(ImageReaderTest, ProgramFileThatCannotBeOpenedOrReadHasNoImage) {
    // A folder opens, but does not read; a name too long for the reader is none.
    for (const auto& [path, code] : {std::pair{dir_.file("missing"), ENOENT},
                                     {dir_.path, EISDIR},
                                     {"/" + std::string(300, 'x'), 0}}) {
        FirmwareImage image(path.c_str());
        EXPECT_EQ(image.openImage(""), 0) << path;
        EXPECT_TRUE(image.lastError().known()) << path;
        EXPECT_EQ(image.lastError().code, code) << path;
        image.closeImage();
    }
}

TEST_F(ImageReaderTest, CountingKeepsTheReadPositionClosingIsHarmlessAndReopeningStartsAgain) {
    // Zero-length and full 255-byte records among them, one of each at the ends; 27,000
    // bytes, so that the reader reads them ahead in two parts.
    const auto records = makeRecords(600, {0, 16, 255, 1, 0, 72, 8, 0});
    use(image(records));
    // Nothing is read while no image is open: never opened, then closed twice.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(count(), 0u) << round;
        EXPECT_EQ(next(), Record{}) << round;
        ASSERT_EQ(image_->openImage(""), 1);
        if (round == 0) {
            image_->closeImage();
            image_->closeImage();
            EXPECT_FALSE(image_->imageIsOpen());
        }
    }
    EXPECT_EQ(count(), 600u);
    for (size_t at = 0; at < records.size(); ++at) {
        if (at == 2 || at == 450) {  // 450: in the second part
            EXPECT_EQ(count(), 600u) << at;
        }
        ASSERT_EQ(next(), records[at]) << at;
    }
    EXPECT_EQ(count(), 600u) << "counting at the end";
    EXPECT_EQ(next(), Record{}) << "the end stays the end";
    EXPECT_FALSE(image_->imageIsTruncated());
    image_->closeImage();
    // Whatever the firmware name, even another program's path, the own file's image is read.
    const std::string other = dir_.file("other");
    test::writeFile(other, image(makeRecords(6, {8})));
    ASSERT_EQ(image_->openImage(other.c_str()), 1);
    EXPECT_EQ(next(), records[0]);
}

TEST_F(ImageReaderTest, CutLastRecordIsNotCountedAndWarnsOnEveryRead) {
    const auto whole = makeRecords(3, {16, 24, 8});
    for (auto [length, present] : {std::pair{72, 3}, {72, 0}, {255, 254}, {1, 0}}) {
        Record cut = test::makeRecord(static_cast<uint8_t>(length), 99);
        cut.resize(1 + present);
        use(cat({image(whole), cut}));
        char warning[80];
        std::snprintf(warning, sizeof warning,
                      "Warning: unexpected end of file detected %d / %d.\n", present, length);
        ASSERT_EQ(image_->openImage(""), 1);
        EXPECT_EQ(count(), 3u);
        EXPECT_EQ(printed(), warning) << "counting warns once";
        EXPECT_TRUE(image_->imageIsTruncated());
        EXPECT_STREQ(image_->lastError().what, "the firmware image ends inside a record");
        EXPECT_EQ(rest(), whole);
        EXPECT_EQ(printed(), warning) << "reading the cut record warns again and ends the image";
        EXPECT_EQ(next(), Record{});
        EXPECT_EQ(printed(), "") << "behind it is the plain end of the file";
        image_->closeImage();
    }
    // A whole image after a damaged one.
    use(image(whole));
    ASSERT_EQ(image_->openImage(""), 1);
    EXPECT_FALSE(image_->imageIsTruncated());
    EXPECT_EQ(count(), 3u);
    EXPECT_FALSE(image_->imageIsTruncated());
}

}  // namespace
}  // namespace kestrel
