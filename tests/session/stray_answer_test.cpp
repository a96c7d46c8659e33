// Answers that do not match the blocks one to one: a bridge or loader that doubles a byte
// must never put the transfer out of step with the module, nor pass for success.
#include <gtest/gtest.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

// The loader doubles its first answer to `doubledBlock` and asks for `nakBlock` again once.
struct Doubling : UpdateRun {
    explicit Doubling(int doubledBlock, int nakBlock = -1)
        : UpdateRun(makeRecords(5), loaderModule([=](int block, int attempt) {
                        sim::BlockAnswer a;
                        if (block == doubledBlock && attempt == 0) a.repeats = 1;
                        if (block == nakBlock && attempt == 0) a.value = 0x02;
                        return a;
                    }),
                    true) {
        run();
    }
};

TEST(StrayAnswer, ADoubledAnswerIsDroppedBeforeTheNextBlockAndTheTransferStaysInStep) {
    for (int nakBlock : {-1, 3}) {
        const Doubling r(1, nakBlock);
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.") << nakBlock;
        EXPECT_TRUE(r.w.module.imageComplete());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(r.sendsOf(i), i == nakBlock ? 2 : 1) << i;
    }
    // Behind the last answer there is no next block to drop it before: the transfer fails.
    const Doubling r(4);
    EXPECT_EQ(r.w.host.texts(),
              split("|Waiting for start signal.|Firmware download in progress.|ERROR: unexpected "
                    "or fatal response (0x01) to block 4."));
    EXPECT_EQ(r.outcome.result, SessionResult::TransferFailed);
    EXPECT_EQ(r.outcome.blockFailure, BlockFailure::StrayAnswer);
    EXPECT_EQ(r.outcome.blockIndex, 4);
    EXPECT_EQ(r.outcome.answerByte, 0x01);
    EXPECT_EQ(r.w.host.positions.back(), 5);
    r.expectReleased();
}

}  // namespace
}  // namespace kestrel::test
