// A whole update against a module whose every answer is fuzzed: its firmware's manners and
// replies, its start signal, and the loader's answer to each send of each record (busy runs
// capped, so every run ends). Whatever the module does, the session gives START back, leaves
// port and image closed, ends within a time that follows from its waits, and says "Download
// succeeded." only when the module took every record once, in order, unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/trap_on_test_failure.h"
#include "session/status_texts.h"
#include "support/virtual_world.h"

namespace {

using kestrel::sim::BlockAnswer;
using kestrel::sim::ModuleConfig;

constexpr int kMaxRecords = 20;
constexpr int kMaxBusyRun = 3;  // 0x04 answers before the real one
// Longest a session may take apart from the transfer: rate detection (twice in the hand-back
// for each of five attempts), AT commands of 10 s each, the start signal's 22 tries of 20 s,
// the blind entry and the USB port's return. Generous: a loop that does not end runs past it.
constexpr uint32_t kSessionMsWithoutTransfer = 30 * 60 * 1000;
// One send of a record: each 0x04 and the answer itself may take the whole 5000 ms wait.
constexpr uint32_t kSendMs = (kMaxBusyRun + 2) * 5000;
constexpr uint32_t kSendsPerRecord = 11;  // the first and ten resends

// The loader's answers, taken in turn from the input; when it runs out, records are accepted.
struct AnswerScript {
    std::vector<BlockAnswer> answers;
    size_t next = 0;
    BlockAnswer operator()(int, int) {
        return next < answers.size() ? answers[next++] : BlockAnswer{};
    }
};

BlockAnswer consumeAnswer(FuzzedDataProvider& in) {
    BlockAnswer a;
    const uint8_t b = in.ConsumeIntegral<uint8_t>();
    a.busyBefore = (b >> 4) & kMaxBusyRun;
    a.repeats = (b >> 6) & 1;
    switch (b & 0x0F) {
        case 10:
        case 11:
            a.value = 0x02;  // send again
            break;
        case 12:
            a.kind = BlockAnswer::Kind::Silence;
            break;
        case 13:
            a.kind = BlockAnswer::Kind::Vanish;
            break;
        case 14:
        case 15:
            a.value = in.ConsumeIntegral<uint8_t>();  // anything, 0x01 and 0x04 included
            break;
        default:
            a.value = 0x01;
    }
    return a;
}

// The world's recording front end, noting at each claim of success whether the module held
// the whole image right then (the hand-back that follows may still talk to its loader).
class WatchingHost final : public kestrel::SessionHost {
  public:
    explicit WatchingHost(kestrel::test::VirtualWorld& world) : world_(world) {}
    void readFields(kestrel::SessionFields* fields) override { world_.host.readFields(fields); }
    void setStatus(const char* text) override {
        world_.host.setStatus(text);
        const bool done = std::strcmp(text, kestrel::status::kTransferDone) == 0 ||
                          std::strcmp(text, kestrel::status::kSucceeded) == 0;
        if (done && !world_.module.imageComplete()) claimedWithoutImage = true;
    }
    void setProgressRange(int32_t maximum) override { world_.host.setProgressRange(maximum); }
    void setProgressPosition(int32_t position) override {
        world_.host.setProgressPosition(position);
    }
    void enableStart() override { world_.host.enableStart(); }

    bool claimedWithoutImage = false;

  private:
    kestrel::test::VirtualWorld& world_;
};

std::vector<uint8_t> consumeBytes(FuzzedDataProvider& in, size_t most) {
    const std::string s = in.ConsumeRandomLengthString(most);
    return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrel::fuzz::trapOnTestFailure();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint32_t kModuleRates[] = {0, 9600, 19200, 38400, 57600, 115200, 230400, 460800};
    static const char* const kHostRates[] = {"57600", "115200", "230400", "460800", "9600"};
    FuzzedDataProvider in(data, size);
    const uint32_t flags = in.ConsumeIntegral<uint32_t>();
    auto flag = [&](int bit) { return ((flags >> bit) & 1u) != 0; };

    ModuleConfig config;
    config.firmwarePresent = !flag(0);
    config.rate = in.PickValueInArray(kModuleRates);
    config.anyRate = flag(1);
    config.echo = !flag(2);
    config.verbose = !flag(3);
    config.quiet = flag(4);
    config.silent = flag(5);
    config.neverEchoes = flag(6);
    config.echoTwice = flag(7);
    config.zeroBeforeOk = flag(8);
    config.okWithoutLf = flag(9);
    config.sendStartByte = !flag(10);
    config.usb = flag(11);
    config.bootMs = in.ConsumeIntegralInRange<uint32_t>(0, 20000);
    config.replyDelayMs = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    config.lateAnswerMs = flag(12) ? in.ConsumeIntegralInRange<uint32_t>(0, 6000) : 0;
    config.blankLinesBeforeInfo = in.ConsumeIntegralInRange(0, 3);
    config.pauseInInfoMs = in.ConsumeIntegralInRange<uint32_t>(0, 60);
    config.firstAnsweredLine = in.ConsumeIntegralInRange(0, 8);
    config.startDelayMs = in.ConsumeIntegralInRange<uint32_t>(0, 25000);
    config.answerDelayMs = in.ConsumeIntegralInRange<uint32_t>(0, 6000);
    config.busyGapMs = in.ConsumeIntegralInRange<uint32_t>(0, 6000);
    config.usbDropMs = in.ConsumeIntegralInRange<uint32_t>(0, 1000);
    config.usbGoneMs = in.ConsumeIntegralInRange<uint32_t>(0, 12000);
    const std::vector<uint8_t> ipr = consumeBytes(in, 40);
    config.iprInfo.assign(ipr.begin(), ipr.end());
    const std::vector<uint8_t> unsolicited = consumeBytes(in, 20);
    config.unsolicitedAfterOk.assign(unsolicited.begin(), unsolicited.end());
    config.startPreamble = consumeBytes(in, 30);
    if (flag(13)) {
        const std::vector<uint8_t> reply = consumeBytes(in, 40);
        config.replyFor["AT^SFDL"].assign(reply.begin(), reply.end());
    }
    if (flag(14)) {
        const std::vector<uint8_t> reply = consumeBytes(in, 40);
        config.replyFor["AT+IPR?"].assign(reply.begin(), reply.end());
    }

    const int recordCount = in.ConsumeIntegralInRange(1, kMaxRecords);
    std::vector<kestrel::test::Record> records;
    for (int i = 0; i < recordCount; ++i)
        records.push_back(kestrel::test::makeRecord(in.ConsumeIntegralInRange<uint8_t>(0, 80),
                                                    static_cast<uint32_t>(i + 1)));
    config.expectedRecords = records;
    AnswerScript script;
    while (in.remaining_bytes() > 0 && script.answers.size() < 64)
        script.answers.push_back(consumeAnswer(in));
    config.answers = script;

    kestrel::test::VirtualWorld world(config);
    world.os.modemStatusFails = flag(15);
    world.os.lineErrorQueryFails = flag(16);
    if (flag(17)) world.os.substitutes[115200] = 57600;
    if (flag(18)) world.os.refusedRates.insert(230400);
    world.host.fields.usb = flag(19);
    world.host.fields.noFirmware = flag(20);
    kestrel::copyText(world.host.fields.rateText, kHostRates[(flags >> 21) % 5]);
    if (flag(24)) kestrel::copyText(world.host.fields.firmwareName, "update.uusf");
    world.useImage(records);

    WatchingHost watching(world);
    const kestrel::SessionOutcome outcome =
        kestrel::runUpdateSession(watching, {world.port, *world.image});

    const auto& host = world.host;
    FUZZ_CHECK(host.startEnabled == 1);
    FUZZ_CHECK(!world.os.isOpen() && !world.port.portIsOpen());
    FUZZ_CHECK(!world.image->imageIsOpen());
    FUZZ_CHECK(world.clock.elapsed() <=
               kSessionMsWithoutTransfer + recordCount * kSendsPerRecord * kSendMs);
    FUZZ_CHECK(!watching.claimedWithoutImage);
    FUZZ_CHECK(!outcome.succeeded() || world.module.imageComplete());
    FUZZ_CHECK(outcome.succeeded() == host.showed(kestrel::status::kSucceeded));
    FUZZ_CHECK(!outcome.succeeded() || host.lastStatus() == kestrel::status::kSucceeded);
    for (const auto& status : host.statuses)
        FUZZ_CHECK(status.text.size() < kestrel::kTextCapacity &&
                   status.text.find('\n') == std::string::npos);
    for (int32_t position : host.positions)
        FUZZ_CHECK(position >= 0 && position <= host.rangeMax);
    return 0;
}
