#include "modem_sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrel::sim {

namespace {

// A whole unsigned number in [min, max]; base 0 also takes 0x.. for bytes.
bool parseNumber(const char* text, unsigned long min, unsigned long max, unsigned long* value,
                 int base = 10) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, base);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

bool parseInt(const char* text, int min, int* value) {
    unsigned long v = 0;
    if (!parseNumber(text, static_cast<unsigned long>(min), 1000000000ul, &v)) return false;
    *value = static_cast<int>(v);
    return true;
}

bool parseMs(const char* text, uint32_t* value) {
    unsigned long v = 0;
    if (!parseNumber(text, 0, 3600000ul, &v)) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// "K" or "K:N": a block index and an optional second number parsed by `second`.
template <typename Second>
bool parseBlockWith(const char* text, int* block, Second second) {
    std::string s(text);
    const size_t colon = s.find(':');
    if (!parseInt(s.substr(0, colon).c_str(), 0, block)) return false;
    return colon == std::string::npos || second(s.c_str() + colon + 1);
}

}  // namespace

void printSimUsage(FILE* out) {
    std::fputs(
        "usage: kestrel-modem-sim --link PATH | --device-tree DIR [options]\n"
        "Plays a radio module behind a pseudo-terminal whose slave is linked at PATH.\n"
        "\n"
        "Serving:\n"
        "  --link PATH            symlink to the pty (its folder is created)\n"
        "  --device-tree DIR      instead of --link: a simulated sysfs in DIR/sys and the\n"
        "                         port at DIR/dev/ttyACM0, on a USB device (absolute DIR;\n"
        "                         simulators may share one DIR, each on a bus of its own)\n"
        "  --tty-name NAME        with --device-tree: the port is DIR/dev/NAME\n"
        "  --usb-serial TEXT      with --device-tree: the USB device's serial number\n"
        "  --once                 end after one update (see docs/simulator.md)\n"
        "  --side-channel PATH    socket for the modem-line shim (DTR in, CTS out)\n"
        "  --image FILE           expected image: a packed program or a plain records file\n"
        "  --pace                 every byte takes its wire time (10 bits) at its rate\n"
        "Module:\n"
        "  --rate N               configured rate (default 115200)\n"
        "  --any-rate             the firmware answers at whatever rate the host uses\n"
        "  --no-echo              echo off after a restart\n"
        "  --no-firmware          no firmware: boots into the loader (at 57600)\n"
        "  --usb                  USB virtual port: vanishes after the download command\n"
        "  --usb-gone-ms N        ... and comes back after N ms (default 3000)\n"
        "  --usb-return-as NAME   ... under another name, in the same folder\n"
        "  --usb-return-elsewhere ... on another USB device (with --device-tree; as\n"
        "                         --usb-return-as NAME, default ttyACM1)\n"
        "  --restart-after-update-ms N\n"
        "                         after each update the port leaves and returns N ms\n"
        "                         later, the module running its firmware (not with --once)\n"
        "Loader answers (blocks count from 0):\n"
        "  --nak-every N[:C]      answer every N-th block 0x02, C times (default 1)\n"
        "  --busy-at K[:C]        answer block K 0x04, C times (default 1), then 0x01\n"
        "  --busy-gap-ms N        time between 0x04 answers (default 4000)\n"
        "  --fatal-at K[:BYTE]    answer block K with BYTE (default 0x15)\n"
        "  --silent-at K          never answer block K\n"
        "  --vanish-at K          disappear, port and all, on block K\n"
        "  --double-ack-at K      answer block K 0x01 twice, back to back\n"
        "  --start-delay-ms N     loader entered (or USB port reopened) to start byte\n"
        "                         (default 200)\n"
        "  --answer-delay-ms N    record received to answer (default 0)\n"
        "\n"
        "Prints one line when ready; at the end a summary. Exit 0, or 1 when an image was\n"
        "given and the accepted records differ from it, 2 on usage or setup errors.\n",
        out);
}

ParseOutcome parseSimOptions(int argc, char** argv, SimOptions* o, std::string* error) {
    o->module.answerDelayMs = 0;  // an instant module unless asked otherwise
    // A loader that greets within the tool's 50 ms reply settle time would have its start
    // byte read together with any line error left from probing at wrong rates, and dropped.
    o->module.startDelayMs = 200;
    bool ttyNameGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto takeValue = [&]() -> const char* {
            if (value == nullptr) return nullptr;
            ++i;
            return value;
        };
        bool ok = true;
        if (opt == "--help" || opt == "-h") {
            return ParseOutcome::Help;
        } else if (opt == "--once") {
            o->once = true;
        } else if (opt == "--pace") {
            o->pace = true;
        } else if (opt == "--any-rate") {
            o->module.anyRate = true;
        } else if (opt == "--no-echo") {
            o->module.echo = false;
        } else if (opt == "--no-firmware") {
            o->module.firmwarePresent = false;
        } else if (opt == "--usb") {
            o->module.usb = true;
        } else if (opt == "--usb-return-elsewhere") {
            o->returnElsewhere = true;
        } else if (opt == "--link" || opt == "--image" || opt == "--side-channel") {
            const char* v = takeValue();
            ok = v != nullptr && *v != '\0';
            if (ok)
                (opt == "--link" ? o->link : opt == "--image" ? o->imagePath : o->sideChannel) = v;
        } else if (opt == "--device-tree") {
            // The tool takes only absolute roots for its device tree.
            const char* v = takeValue();
            ok = v != nullptr && v[0] == '/' && v[1] != '\0';
            if (ok) o->deviceTree = v;
        } else if (opt == "--usb-return-as" || opt == "--tty-name") {
            // A name in the port's folder, nothing more.
            const char* v = takeValue();
            ok = v != nullptr && *v != '\0' && std::strchr(v, '/') == nullptr &&
                 std::strcmp(v, ".") != 0 && std::strcmp(v, "..") != 0;
            if (ok) (opt == "--tty-name" ? o->ttyName : o->returnAs) = v;
            ttyNameGiven = ttyNameGiven || opt == "--tty-name";
        } else if (opt == "--usb-serial") {
            // One line of text in a sysfs file.
            const char* v = takeValue();
            ok = v != nullptr && *v != '\0' && std::strpbrk(v, "\r\n") == nullptr;
            if (ok) o->usbSerial = v;
        } else if (opt == "--restart-after-update-ms") {
            ok = parseMs(takeValue(), &o->restartAfterUpdateMs) && o->restartAfterUpdateMs > 0;
        } else if (opt == "--rate") {
            unsigned long v = 0;
            ok = parseNumber(takeValue(), 1, 0x7FFFFFFFul, &v);
            o->module.rate = static_cast<uint32_t>(v);
        } else if (opt == "--usb-gone-ms") {
            ok = parseMs(takeValue(), &o->module.usbGoneMs);
        } else if (opt == "--busy-gap-ms") {
            ok = parseMs(takeValue(), &o->module.busyGapMs);
        } else if (opt == "--start-delay-ms") {
            ok = parseMs(takeValue(), &o->module.startDelayMs);
        } else if (opt == "--answer-delay-ms") {
            ok = parseMs(takeValue(), &o->module.answerDelayMs);
        } else if (opt == "--nak-every") {
            const char* v = takeValue();
            ok = v != nullptr &&
                 parseBlockWith(
                     v, &o->faults.nakEvery,
                     [&](const char* c) { return parseInt(c, 1, &o->faults.nakCount); }) &&
                 o->faults.nakEvery >= 1;
        } else if (opt == "--busy-at") {
            const char* v = takeValue();
            ok = v != nullptr && parseBlockWith(v, &o->faults.busyAt, [&](const char* c) {
                     return parseInt(c, 1, &o->faults.busyCount);
                 });
        } else if (opt == "--fatal-at") {
            const char* v = takeValue();
            ok = v != nullptr && parseBlockWith(v, &o->faults.fatalAt, [&](const char* c) {
                     unsigned long b = 0;
                     if (!parseNumber(c, 0, 0xFF, &b, 0) || b == 0x01 || b == 0x02 || b == 0x04)
                         return false;
                     o->faults.fatalByte = static_cast<uint8_t>(b);
                     return true;
                 });
        } else if (opt == "--silent-at") {
            ok = parseInt(takeValue(), 0, &o->faults.silentAt);
        } else if (opt == "--vanish-at") {
            ok = parseInt(takeValue(), 0, &o->faults.vanishAt);
        } else if (opt == "--double-ack-at") {
            ok = parseInt(takeValue(), 0, &o->faults.doubleAckAt);
        } else {
            *error = "unknown option '" + opt + "'";
            return ParseOutcome::Error;
        }
        if (!ok) {
            *error = "missing or bad value for " + opt;
            return ParseOutcome::Error;
        }
    }
    if (o->link.empty() == o->deviceTree.empty()) {
        *error = "--link PATH or --device-tree DIR is required (one of them)";
        return ParseOutcome::Error;
    }
    if ((!o->returnAs.empty() || o->returnElsewhere) && !o->module.usb) {
        *error = "--usb-return-as and --usb-return-elsewhere need --usb";
        return ParseOutcome::Error;
    }
    if (o->returnElsewhere && o->deviceTree.empty()) {
        *error = "--usb-return-elsewhere needs --device-tree";
        return ParseOutcome::Error;
    }
    if ((ttyNameGiven || !o->usbSerial.empty()) && o->deviceTree.empty()) {
        *error = "--tty-name and --usb-serial need --device-tree";
        return ParseOutcome::Error;
    }
    if (o->restartAfterUpdateMs > 0 && o->once) {
        *error = "--restart-after-update-ms and --once exclude each other";
        return ParseOutcome::Error;
    }
    if (!o->deviceTree.empty()) o->link = o->deviceTree + "/dev/" + o->ttyName;
    // Under its own name on another device the tool would find it as before: another name.
    if (o->returnElsewhere && o->returnAs.empty()) o->returnAs = "ttyACM1";
    o->module.answers = makeAnswerScript(o->faults);
    return ParseOutcome::Run;
}

AnswerScript makeAnswerScript(const BlockFaults& f) {
    return [f](int block, int attempt) {
        BlockAnswer a;
        if (block == f.vanishAt) {
            a.kind = BlockAnswer::Kind::Vanish;
        } else if (block == f.silentAt) {
            a.kind = BlockAnswer::Kind::Silence;
        } else if (block == f.fatalAt) {
            a.value = f.fatalByte;
        } else if (f.nakEvery > 0 && (block + 1) % f.nakEvery == 0 && attempt < f.nakCount) {
            a.value = 0x02;
        }
        if (block == f.doubleAckAt && a.kind == BlockAnswer::Kind::Byte && a.value == 0x01)
            a.repeats = 1;
        // A busy block stays busy only on its first send; a resend of it is taken at once.
        if (block == f.busyAt && attempt == 0 && a.kind == BlockAnswer::Kind::Byte)
            a.busyBefore = f.busyCount;
        return a;
    };
}

}  // namespace kestrel::sim
