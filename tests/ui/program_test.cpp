// The real window program without a display: it ends with 0 at once and says why, and
// creates no settings store. (Closing the window during a session is pinned by the window's
// own tests; the real program closed after an update by the end-to-end test e2e.window.)
#include <gtest/gtest.h>

#include <cstdio>

#include "temp_dir.h"

namespace kestrel::test {
namespace {

TEST(WindowProgram, WithoutADisplayItEndsWithZeroAndSaysWhy) {
    TempDir dir;
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME='" + dir / "config" +
        "' timeout -s KILL 10 '" KESTREL_PROGRAM_UNDER_TEST "' </dev/null >'" + dir / "output" +
        "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);  // exited with 0
    const std::string output = readFile(dir / "output");
    EXPECT_NE(output.find("kestrel: the window cannot be created: "), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(dir / "config"));  // no window, no store
}

}  // namespace
}  // namespace kestrel::test
