// GoogleTest's main with a QApplication around the tests, on the offscreen platform (no
// display needed) with a private runtime folder of its own, which Qt otherwise complains about.
#include <gtest/gtest.h>

#include <QApplication>

#include "temp_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const kestrel::test::TempDir runtime;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
