// A whole update against a module whose every answer is fuzzed: its firmware's manners and
// replies, its start signal, and the loader's answer to each send of each record (busy runs
// capped, so every run ends), with the link's faults. Whatever the module does, the session
// keeps the chaos runs' invariants (chaos_world.h): START given back, port, image and claim
// released, its waits' time bound, and "Download succeeded." only when the module took every
// record once, in order, unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chaos/chaos_world.h"

namespace {

using kestrel::sim::BlockAnswer;

constexpr int kMaxRecords = 20;
constexpr int kMaxBusyRun = 3;  // 0x04 answers before the real one

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
    const int kind = b & 0x0F;
    if (kind == 10 || kind == 11) a.value = 0x02;  // send again
    if (kind == 12) a.kind = BlockAnswer::Kind::Silence;
    if (kind == 13) a.kind = BlockAnswer::Kind::Vanish;
    if (kind >= 14) a.value = in.ConsumeIntegral<uint8_t>();  // anything, 0x01 and 0x04 included
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint32_t kModuleRates[] = {0, 9600, 19200, 38400, 57600, 115200, 230400, 460800};
    static const char* const kHostRates[] = {"57600", "115200", "230400", "460800", "9600"};
    FuzzedDataProvider in(data, size);
    const uint32_t flags = in.ConsumeIntegral<uint32_t>();
    auto flag = [&](int bit) { return ((flags >> bit) & 1u) != 0; };

    kestrel::sim::ChaosPlan plan;
    kestrel::sim::ModuleConfig& config = plan.module;
    using M = kestrel::sim::ModuleConfig;
    // Bits 0 to 11 flip the module's manners from their defaults.
    bool M::*const kManners[] = {&M::firmwarePresent, &M::anyRate,       &M::echo,
                                 &M::verbose,         &M::quiet,         &M::silent,
                                 &M::neverEchoes,     &M::echoTwice,     &M::zeroBeforeOk,
                                 &M::okWithoutLf,     &M::sendStartByte, &M::usb};
    for (int bit = 0; bit < 12; ++bit)
        config.*kManners[bit] = config.*kManners[bit] != flag(bit);
    config.rate = in.PickValueInArray(kModuleRates);
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

    // A start byte (0x01) that the module sends before its loader's own cannot be told from it
    // (docs/reliability.md): the firmware's texts and the noise before the start carry any
    // other byte.
    auto noStartByte = [&in](size_t most) {
        std::string text = in.ConsumeRandomLengthString(most);
        std::replace(text.begin(), text.end(), '\x01', '?');
        return text;
    };
    config.iprInfo = noStartByte(40);
    config.unsolicitedAfterOk = noStartByte(20);
    const std::string preamble = noStartByte(30);
    config.startPreamble.assign(preamble.begin(), preamble.end());
    if (flag(13)) config.replyFor["AT^SFDL"] = noStartByte(40);
    if (flag(14)) config.replyFor["AT+IPR?"] = noStartByte(40);

    const int recordCount = in.ConsumeIntegralInRange(1, kMaxRecords);
    for (int i = 0; i < recordCount; ++i)
        config.expectedRecords.push_back(kestrel::test::makeRecord(
            in.ConsumeIntegralInRange<uint8_t>(0, 80), static_cast<uint32_t>(i + 1)));
    AnswerScript script;
    while (in.remaining_bytes() > 0 && script.answers.size() < 64)
        script.answers.push_back(consumeAnswer(in));
    config.answers = script;

    kestrel::sim::ChaosLink& link = plan.link;
    link.modemStatusFails = flag(15);
    link.lineErrorQueryFails = flag(16);
    link.substitutedRate = flag(17) ? 115200 : 0;
    link.substituteWith = 57600;
    link.refusedRate = flag(18) ? 230400 : 0;
    plan.op = {kestrel::sim::kChaosPortName, kHostRates[(flags >> 21) % 5], flag(19), flag(20),
               flag(24) ? "update.uusf" : ""};

    kestrel::test::ChaosWorld cw(plan);
    cw.run();
    const std::vector<std::string> broken = kestrel::test::brokenInvariants(cw);
    if (!broken.empty()) {
        // KESTREL_FUZZ_TRACE=1 adds every line event to the report of a finding.
        const bool traceWanted = std::getenv("KESTREL_FUZZ_TRACE") != nullptr;
        std::fprintf(stderr, "%sbroken: %s\n",
                     kestrel::test::sessionReport(cw, traceWanted).c_str(), broken.front().c_str());
        __builtin_trap();
    }
    return 0;
}
