// The test doubles report misuse (a busy loop on the virtual clock, say) as GoogleTest
// failures; in a fuzz target there is no test to fail, so such a report traps instead.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class TrapOnTestFailure : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?",
                     result.line_number(), result.message());
        __builtin_trap();
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TrapOnTestFailure);
    return 0;
}
