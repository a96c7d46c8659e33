// The program's own file, the search block and the image reader on top of the Win32 file
// calls, as they run under wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/firmware_image.h"
#include "platform/own_file.h"
#include "platform/temp_block.h"
#include "support/test_image.h"

namespace kestrel {
namespace {

using test::makeRecords;
using test::Record;
using test::TestImageFile;

TEST(OwnProgramPath, IsThePathOfThisProgramFromGetModuleFileName) {
    char path[260];
    ASSERT_TRUE(ownProgramPath(path, sizeof path));
    char expected[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, expected, MAX_PATH), 0u);
    EXPECT_STREQ(path, expected);
    const std::string p = path;
    EXPECT_EQ(p.substr(p.size() - 4), ".exe");
}

TEST(OwnProgramPath, APathThatDoesNotFitIsNoPath) {
    char whole[260];
    ASSERT_TRUE(ownProgramPath(whole, sizeof whole));
    const size_t n = std::strlen(whole);
    char buf[260];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_FALSE(ownProgramPath(buf, n));  // no room for the NUL
    EXPECT_EQ(buf[n], 'x');                // nothing written past the capacity
    EXPECT_TRUE(ownProgramPath(buf, n + 1));
    EXPECT_STREQ(buf, whole);
}

class ReadOnlyFileTest : public testing::Test {
  protected:
    void SetUp() override { path_ = test::writeTempFile({'K', 'e', 's', 't', 'r', 'e', 'l'}); }
    void TearDown() override { DeleteFileA(path_.c_str()); }
    std::string path_;
};

TEST_F(ReadOnlyFileTest, ReadsSeeksAndTellsThroughTheFileHandle) {
    ReadOnlyFile f;
    ASSERT_TRUE(f.open(path_.c_str()));
    char buf[16] = {};
    uint32_t got = 0;
    ASSERT_TRUE(f.read(buf, 3, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buf, 3), "Kes");
    uint32_t at = 0;
    ASSERT_TRUE(f.tell(&at));
    EXPECT_EQ(at, 3u);
    ASSERT_TRUE(f.read(buf, sizeof buf, &got));  // fewer bytes at the end of the file
    EXPECT_EQ(got, 4u);
    ASSERT_TRUE(f.read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);  // the end: a successful read of nothing
    ASSERT_TRUE(f.seek(1));
    ASSERT_TRUE(f.read(buf, 2, &got));
    EXPECT_EQ(std::string(buf, got), "es");
    f.close();
    f.close();  // harmless twice
    EXPECT_FALSE(f.isOpen());
    EXPECT_FALSE(f.read(buf, 1, &got));
    EXPECT_FALSE(f.tell(&at));
    EXPECT_FALSE(f.seek(0));
}

TEST_F(ReadOnlyFileTest, OthersMayReadTheFileWhileItIsOpenButNotWriteIt) {
    ReadOnlyFile f;
    ASSERT_TRUE(f.open(path_.c_str()));
    HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    HANDLE writer = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    f.close();
    // Released: now it can be opened for writing.
    writer = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

TEST_F(ReadOnlyFileTest, AMissingFileDoesNotOpen) {
    ReadOnlyFile f;
    EXPECT_FALSE(f.open((path_ + ".missing").c_str()));
    EXPECT_FALSE(f.isOpen());
}

TEST(TempBlock, IsAFixedGlobalBlockOfTheSizeAsked) {
    TempBlock block(100000);
    ASSERT_NE(block.data(), nullptr);
    // A fixed block's handle is its address.
    EXPECT_EQ(GlobalHandle(block.data()), static_cast<HGLOBAL>(block.data()));
    EXPECT_GE(GlobalSize(block.data()), 100000u);
    block.data()[0] = 1;
    block.data()[99999] = 2;  // all of it is ours
}

// The image reader through the Win32 file layer (its logic is tested on Linux as well).
class ImageOnWin32 : public testing::Test {
  protected:
    void TearDown() override {
        closeImage();
        overrideOwnProgramPath(nullptr);
    }
    void use(const TestImageFile& file) { overrideOwnProgramPath(file.path().c_str()); }
};

TEST_F(ImageOnWin32, FindsTheMarkerAndReadsEveryRecord) {
    const auto records = makeRecords(40, {16, 24, 8, 72, 0, 255});
    TestImageFile file(records);
    use(file);
    ASSERT_EQ(openImage("ignored.usf"), 1);
    EXPECT_EQ(countRecords(), 40);
    uint8_t payload[255];
    uint8_t length = 0;
    for (const Record& r : records) {
        ASSERT_EQ(readRecord(payload, &length), 1);
        ASSERT_EQ(length, r[0]);
        EXPECT_EQ(std::memcmp(payload, r.data() + 1, length), 0);
    }
    EXPECT_EQ(readRecord(payload, &length), 0);
}

TEST_F(ImageOnWin32, CountingPutsTheReadPositionBack) {
    const auto records = makeRecords(10, {8, 16});
    TestImageFile file(records);
    use(file);
    ASSERT_EQ(openImage(""), 1);
    uint8_t payload[255];
    uint8_t length = 0;
    ASSERT_EQ(readRecord(payload, &length), 1);
    ASSERT_EQ(readRecord(payload, &length), 1);
    EXPECT_EQ(countRecords(), 10);
    ASSERT_EQ(readRecord(payload, &length), 1);
    EXPECT_EQ(length, records[2][0]);
    EXPECT_EQ(std::memcmp(payload, records[2].data() + 1, length), 0);
}

TEST_F(ImageOnWin32, TheMarkerMustEndWithinTheFirst100000Bytes) {
    const auto records = makeRecords(3);
    {
        TestImageFile lastByteAt99999(records, 100000 - 256);
        use(lastByteAt99999);
        EXPECT_EQ(openImage(""), 1);
        EXPECT_EQ(countRecords(), 3);
        closeImage();
    }
    {
        TestImageFile lastByteAt100000(records, 100000 - 255);
        use(lastByteAt100000);
        EXPECT_EQ(openImage(""), 0);
        EXPECT_EQ(countRecords(), 0);
        closeImage();
    }
}

TEST_F(ImageOnWin32, AFileShorterThanTheSearchIsNoImage) {
    TestImageFile shortFile(makeRecords(2), 1000);  // marker and records well inside
    use(shortFile);
    EXPECT_EQ(openImage(""), 0);
}

TEST_F(ImageOnWin32, ALastRecordCutShortIsNotCountedAndWarnsOnStandardOutput) {
    const auto records = makeRecords(5);
    TestImageFile file(records, 99744, {40, 1, 2, 3});  // says 40 bytes, has 3
    use(file);
    ASSERT_EQ(openImage(""), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(countRecords(), 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: unexpected end of file detected 3 / 40.\n");
}

TEST_F(ImageOnWin32, AProgramPathThatCannotBeOpenedIsNoImage) {
    overrideOwnProgramPath("Z:\\no\\such\\kestrel.exe");
    EXPECT_EQ(openImage(""), 0);
    closeImage();
}

}  // namespace
}  // namespace kestrel
