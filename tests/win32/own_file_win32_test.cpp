// The program's own file on the Win32 calls, under wine. The image reader above it (and the
// search block it reads into) is tested on Linux, and end to end under wine by the programs'
// tests, whose every wait runs on the Win32 clock.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/own_file.h"
#include "support/test_image.h"

namespace kestrel {
namespace {

TEST(OwnProgramPath, IsGetModuleFileNameAndNeverWritesPastTheCapacity) {
    char whole[260], expected[MAX_PATH];
    ASSERT_TRUE(ownProgramPath(whole, sizeof whole));
    ASSERT_GT(GetModuleFileNameA(nullptr, expected, MAX_PATH), 0u);
    EXPECT_STREQ(whole, expected);
    const size_t n = std::strlen(whole);
    char buf[260];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_FALSE(ownProgramPath(buf, n));  // no room for the NUL
    EXPECT_EQ(buf[n], 'x');
    EXPECT_TRUE(ownProgramPath(buf, n + 1));
    EXPECT_STREQ(buf, whole);
}

TEST(ReadOnlyFile, ReadsSeeksSharesForReadingOnlyAndReleasesTheFile) {
    const std::string path = test::writeTempFile({'K', 'e', 's', 't', 'r', 'e', 'l'});
    ReadOnlyFile f;
    EXPECT_FALSE(f.open((path + ".missing").c_str()));
    ASSERT_TRUE(f.open(path.c_str()));
    char buf[16] = {};
    uint32_t got = 0;
    ASSERT_TRUE(f.read(buf, 3, &got));
    EXPECT_EQ(std::string(buf, got), "Kes");
    ASSERT_TRUE(f.read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 4u);  // fewer at the end of the file
    ASSERT_TRUE(f.read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);  // the end: a successful read of nothing
    ASSERT_TRUE(f.seek(1) && f.read(buf, 2, &got));
    EXPECT_EQ(std::string(buf, got), "es");

    auto opens = [&](DWORD access, DWORD share) {
        HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return h != INVALID_HANDLE_VALUE;
    };
    EXPECT_TRUE(opens(GENERIC_READ, FILE_SHARE_READ));
    EXPECT_FALSE(opens(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    f.close();
    f.close();  // harmless twice
    EXPECT_TRUE(opens(GENERIC_WRITE, 0));
    EXPECT_FALSE(f.read(buf, 1, &got) || f.seek(0));
    DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace kestrel
