#include "chaos.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace kestrel::sim {

uint64_t ChaosRandom::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t ChaosRandom::between(uint32_t lo, uint32_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi) - lo + 1;
    return lo + static_cast<uint32_t>(next() % span);
}

namespace {

// The rates a module runs at; the operator picks among them too.
constexpr uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800};
constexpr uint32_t kSearchedRates[] = {19200, 38400, 57600, 115200, 230400, 460800};
// Answers the loader has no meaning for.
constexpr uint8_t kFatalBytes[] = {0x00, 0x03, 0x05, 0x15, 0x18, 0x7F, 0x80, 0xFF};
constexpr uint32_t kNeverMs = 1000000000;  // a USB port that does not come back

std::vector<uint8_t> garbage(ChaosRandom& r, uint32_t most) {
    std::vector<uint8_t> bytes(r.between(1, most));
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(r.next());
    return bytes;
}

std::vector<std::vector<uint8_t>> makeImage(ChaosRandom& r) {
    // Mostly short images: small ones reach the hand-back often, long ones meet more faults.
    const int count =
        r.chance(50) ? static_cast<int>(r.between(1, 10)) : static_cast<int>(r.between(11, 100));
    std::vector<std::vector<uint8_t>> records;
    for (int i = 0; i < count; ++i) {
        const uint32_t length = r.chance(90) ? r.between(1, 80) : r.between(0, 255);
        std::vector<uint8_t> record(length + 1);
        record[0] = static_cast<uint8_t>(length);
        for (uint32_t k = 1; k <= length; ++k)
            record[k] = static_cast<uint8_t>(r.next());
        records.push_back(std::move(record));
    }
    return records;
}

// The module's manners and timing, mostly well behaved.
void makeModule(ChaosRandom& r, ModuleConfig& m) {
    m.firmwarePresent = r.chance(75);
    m.usb = r.chance(30);
    // 9600 is a rate the detection does not look for: found only when asked for.
    m.rate = r.chance(5) ? 0 : r.chance(5) ? 9600 : r.pick(kSearchedRates);
    m.anyRate = r.chance(5);
    m.echo = r.chance(85);
    m.verbose = r.chance(95);
    m.quiet = r.chance(3);
    const uint32_t boot = r.between(0, 99);
    // Booting past the settling after a rate switch's DTR pulse, the module misses probes;
    // past 15 s, the wait for CTS.
    m.bootMs = boot < 80   ? r.between(20, 400)
               : boot < 92 ? r.between(400, 14000)
                           : r.between(14000, 20000);
    m.replyDelayMs = r.chance(95) ? r.between(1, 100) : r.between(150, 300);
    m.lateAnswerMs = r.chance(5) ? r.between(4000, 6000) : 0;
    m.silent = r.chance(3);
    m.neverEchoes = r.chance(5);
    m.echoTwice = r.chance(3);
    m.zeroBeforeOk = r.chance(2);
    m.okWithoutLf = r.chance(2);
    m.blankLinesBeforeInfo = static_cast<int>(r.between(0, 2));
    if (r.chance(5)) {
        static const char* const kOddInfo[] = {"+IPR: abc", "+IPR:115200", "+IPR: 0",
                                               "+IPR: 57600x", "IPR: 57600"};
        m.iprInfo = r.pick(kOddInfo);
    }
    if (r.chance(5)) m.unsolicitedAfterOk = "\r\n+CREG: 1\r\n";
    if (r.chance(5)) m.firstAnsweredLine = static_cast<int>(r.between(2, 8));
    if (r.chance(4)) m.refusedCommands.push_back("AT^SFDL");
    if (r.chance(3)) m.refusedCommands.push_back("AT^SMSO");
    if (r.chance(3)) m.loaderRate = 19200;  // a blind download command it does not hear

    const uint32_t start = r.between(0, 99);
    m.startDelayMs = start < 85   ? r.between(10, 500)
                     : start < 95 ? r.between(500, 19000)
                                  : r.between(19000, 21000);
    if (r.chance(20)) m.startPreamble = garbage(r, 25);
    m.sendStartByte = r.chance(97);
    m.answerDelayMs = r.chance(97) ? r.between(0, 50) : r.between(4900, 5100);
    m.busyGapMs = r.chance(95) ? r.between(1, 4000) : r.between(4900, 5100);
    m.usbDropMs = r.between(0, 500);
    const uint32_t gone = r.between(0, 99);
    m.usbGoneMs = gone < 70 ? r.between(200, 4000) : gone < 90 ? r.between(4000, 12000) : kNeverMs;
}

// Faults at chosen sends, at a density of its own for each plan.
std::vector<ChaosAnswer> makeAnswers(ChaosRandom& r, int records) {
    static const uint32_t kDensity[] = {0, 0, 2, 5, 10, 30};
    const uint32_t density = r.pick(kDensity);
    std::vector<ChaosAnswer> answers;
    for (int block = 0; block < records; ++block) {
        if (!r.chance(density)) continue;
        ChaosAnswer a;
        a.block = block;
        const uint32_t kind = r.between(0, 99);
        if (kind < 35) {
            // Send again, this many times (more than ten is one too many).
            const int naks = r.chance(90) ? static_cast<int>(r.between(1, 4))
                                          : static_cast<int>(r.between(9, 12));
            for (int attempt = 0; attempt < naks; ++attempt) {
                a.attempt = attempt;
                a.answer = BlockAnswer{};
                a.answer.value = 0x02;
                if (r.chance(10)) a.answer.busyBefore = static_cast<int>(r.between(1, 3));
                answers.push_back(a);
            }
            continue;
        }
        a.attempt = 0;
        if (kind < 60) {
            a.answer.busyBefore = static_cast<int>(r.between(1, 4));
        } else if (kind < 72) {
            a.answer.repeats = static_cast<int>(r.between(1, 2));
            if (r.chance(30)) a.answer.value = 0x02;
        } else if (kind < 80) {
            a.answer.delayMs = r.between(4800, 6000);
        } else if (kind < 87) {
            a.answer.kind = BlockAnswer::Kind::Silence;
        } else if (kind < 95) {
            a.answer.value = r.pick(kFatalBytes);
        } else {
            a.answer.kind = BlockAnswer::Kind::Vanish;
        }
        answers.push_back(a);
    }
    return answers;
}

ChaosOperator makeOperator(ChaosRandom& r, const ModuleConfig& m) {
    ChaosOperator op;
    op.portName = r.chance(99) ? kChaosPortName : "COM2";
    op.usb = r.chance(92) ? m.usb : !m.usb;
    op.noFirmware = m.firmwarePresent ? r.chance(5) : r.chance(80);
    const uint32_t rate = r.chance(95) ? (r.chance(40) && m.rate != 0 ? m.rate : r.pick(kRates))
                                       : r.between(0, 1) * 12345;
    op.rateText = std::to_string(rate);
    const uint32_t name = r.between(0, 99);
    op.firmwareName = name < 12   ? "update.uusf"
                      : name < 15 ? "BLOCK.UUSF"
                      : name < 17 ? ".uusf"
                                  : "";
    return op;
}

ChaosLink makeLink(ChaosRandom& r, const ModuleConfig& m, const ChaosOperator& op) {
    ChaosLink link;
    if (r.chance(10)) link.lineErrorReads = static_cast<int>(r.between(1, 5));
    if (r.chance(5)) {
        link.substitutedRate =
            static_cast<uint32_t>(std::strtoul(op.rateText.c_str(), nullptr, 10));
        link.substituteWith = r.pick(kRates);
    }
    if (r.chance(5)) link.refusedRate = r.chance(50) ? 230400 : r.pick(kRates);
    link.modemStatusFails = r.chance(2);
    link.lineErrorQueryFails = r.chance(2);
    link.portClaimedElsewhere = r.chance(1);
    if (m.usb && r.chance(25)) {
        link.usbReturnsAs = "/dev/ttyACM1";
        link.usbReturnsElsewhere = r.chance(20);
    }
    link.unplugWhenImageTaken = r.chance(4);
    if (r.chance(10)) link.clockStartMs = 0xFFFFFFFFu - r.between(0, 200000);
    return link;
}

const char* kindName(const BlockAnswer& a) {
    switch (a.kind) {
        case BlockAnswer::Kind::Silence:
            return "silence";
        case BlockAnswer::Kind::Vanish:
            return "vanish";
        case BlockAnswer::Kind::Byte:
            break;
    }
    return "byte";
}

}  // namespace

AnswerScript chaosAnswerScript(std::vector<ChaosAnswer> answers) {
    auto table = std::make_shared<const std::vector<ChaosAnswer>>(std::move(answers));
    return [table](int block, int attempt) {
        for (const ChaosAnswer& a : *table)
            if (a.block == block && a.attempt == attempt) return a.answer;
        return BlockAnswer{};
    };
}

ChaosPlan makeChaosPlan(uint64_t seed) {
    ChaosRandom r(seed);
    ChaosPlan plan;
    plan.seed = seed;
    plan.module.expectedRecords = makeImage(r);
    makeModule(r, plan.module);
    plan.answers = makeAnswers(r, static_cast<int>(plan.module.expectedRecords.size()));
    plan.module.answers = chaosAnswerScript(plan.answers);
    plan.op = makeOperator(r, plan.module);
    // A module that will not move to the operator's rate: the port moves alone.
    if (r.chance(4)) plan.module.refusedCommands.push_back("AT+IPR=" + plan.op.rateText);
    plan.link = makeLink(r, plan.module, plan.op);
    return plan;
}

std::string ChaosPlan::describe() const {
    const ModuleConfig& m = module;
    char text[640];
    std::snprintf(text, sizeof text,
                  "records=%zu module{%s %s rate=%u%s echo=%d v=%d q=%d boot=%u reply=%u late=%u"
                  "%s%s%s%s%s%s first=%d refused=%zu loader=%u start=%u pre=%zu startbyte=%d "
                  "answer=%u busygap=%u usbgone=%u} operator{%s %s rate=%s%s name='%s'} "
                  "link{lineerr=%d subst=%u->%u refused=%u cts=%s lerrq=%s claimed=%d "
                  "returns='%s'%s unplug=%d clock=%u}",
                  m.expectedRecords.size(), m.firmwarePresent ? "firmware" : "no-firmware",
                  m.usb ? "usb" : "rs232", m.rate, m.anyRate ? " any-rate" : "", m.echo, m.verbose,
                  m.quiet, m.bootMs, m.replyDelayMs, m.lateAnswerMs, m.silent ? " silent" : "",
                  m.neverEchoes ? " no-echo" : "", m.echoTwice ? " echo-twice" : "",
                  m.zeroBeforeOk ? " zero-ok" : "", m.okWithoutLf ? " ok-cr" : "",
                  m.unsolicitedAfterOk.empty() ? "" : " unsolicited", m.firstAnsweredLine,
                  m.refusedCommands.size(), m.loaderRate, m.startDelayMs, m.startPreamble.size(),
                  m.sendStartByte, m.answerDelayMs, m.busyGapMs, m.usbGoneMs, op.portName.c_str(),
                  op.usb ? "usb" : "rs232", op.rateText.c_str(),
                  op.noFirmware ? " no-firmware" : "", op.firmwareName.c_str(), link.lineErrorReads,
                  link.substitutedRate, link.substituteWith, link.refusedRate,
                  link.modemStatusFails ? "fails" : "ok", link.lineErrorQueryFails ? "fails" : "ok",
                  link.portClaimedElsewhere, link.usbReturnsAs.c_str(),
                  link.usbReturnsElsewhere ? " elsewhere" : "", link.unplugWhenImageTaken,
                  link.clockStartMs);
    std::string out = text;
    out += " answers{";
    for (size_t i = 0; i < answers.size() && i < 24; ++i) {
        const ChaosAnswer& a = answers[i];
        char one[96];
        std::snprintf(one, sizeof one, "%s%d.%d:%s 0x%02x busy%d rep%d +%ums", i ? " " : "",
                      a.block, a.attempt, kindName(a.answer), a.answer.value, a.answer.busyBefore,
                      a.answer.repeats, a.answer.delayMs);
        out += one;
    }
    if (answers.size() > 24) out += " ...";
    out += "}";
    return out;
}

}  // namespace kestrel::sim
