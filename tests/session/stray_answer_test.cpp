// Answers that do not match the blocks one to one: a bridge or loader that doubles a byte
// must never put the transfer out of step with the module, nor pass for success.
#include <gtest/gtest.h>

#include "session/session_test_util.h"

namespace kestrel::test {
namespace {

sim::ModuleConfig doubling(int doubledBlock, int nakBlock = -1) {
    return loaderModule([=](int block, int attempt) {
        sim::BlockAnswer a;
        if (block == doubledBlock && attempt == 0) a.repeats = 1;
        if (block == nakBlock && attempt == 0) a.value = 0x02;
        return a;
    });
}

TEST(StrayAnswer, ADoubledAnswerIsDroppedBeforeTheNextBlockAndTheTransferStaysInStep) {
    for (int nakBlock : {-1, 3}) {
        UpdateRun r(makeRecords(5), doubling(1, nakBlock), true);
        r.run();
        EXPECT_EQ(r.outcome.result, SessionResult::Succeeded) << nakBlock;
        EXPECT_EQ(r.w.host.lastStatus(), "Download succeeded.");
        EXPECT_TRUE(r.w.module.imageComplete());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(r.sendsOf(i), i == nakBlock ? 2 : 1) << i;
    }
}

TEST(StrayAnswer, AByteWaitingAfterTheLastAnswerFailsTheTransfer) {
    UpdateRun r(makeRecords(5), doubling(4), true);
    r.run();
    EXPECT_EQ(
        r.w.host.texts(),
        (std::vector<std::string>{"", "Waiting for start signal.", "Firmware download in progress.",
                                  "ERROR: unexpected or fatal response (0x01) to block 4."}));
    EXPECT_EQ(r.outcome.result, SessionResult::TransferFailed);
    EXPECT_EQ(r.outcome.blockFailure, BlockFailure::StrayAnswer);
    EXPECT_EQ(r.outcome.blockIndex, 4);
    EXPECT_EQ(r.outcome.answerByte, 0x01);
    EXPECT_EQ(r.w.host.positions.back(), 5);
    r.expectReleased();
}

}  // namespace
}  // namespace kestrel::test
