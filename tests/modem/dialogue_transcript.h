// The driver's timeline read back as a dialogue with the module: the steps a module can
// notice (opens, rate switches, restarts, writes), so tests can compare whole roads at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/fake_serial_os.h"
#include "support/test_image.h"

namespace kestrel::test {

using Texts = std::vector<std::string>;

inline Texts operator+(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Bytes as readable text: \r, \n, \0 and everything outside printable ASCII escaped.
inline std::string escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char text[8] = {static_cast<char>(c), '\0'};
        if (c == '\r' || c == '\n' || c == '\0') {
            std::snprintf(text, sizeof text, "\\%c", c == '\r' ? 'r' : c == '\n' ? 'n' : '0');
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(text, sizeof text, "\\x%02x", c);
        }
        out += text;
    }
    return out;
}

// A module configured by `change`, e.g. with({}, [](auto& c) { c.silent = true; }).
template <typename Change>
sim::ModuleConfig with(sim::ModuleConfig c, Change change) {
    change(c);
    return c;
}

// A default module but for one `field`, e.g. having(&M::silent, true).
template <typename T, typename V>
sim::ModuleConfig having(T sim::ModuleConfig::*field, V value) {
    return with({}, [&](auto& c) { c.*field = value; });
}

// Working firmware fixed at `rate`.
inline sim::ModuleConfig firmwareModule(uint32_t rate) {
    return with({}, [rate](auto& c) { c.rate = rate; });
}

// The transcript line of the AT probe.
inline constexpr char kProbe[] = "> ATE1V1Q0\\r";

// "a|b|c" as {"a", "b", "c"}: whole dialogues and lists of statuses written compactly.
inline std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out{""};
    for (char c : text)
        if (c == '|')
            out.emplace_back();
        else
            out.back().push_back(c);
    return out;
}

// Whether the rising DTR edge at `index` ends a module restart: not the rising half of a
// rate switch's 400 ms pulse, and not the level that applying USB line settings brings.
inline bool isRestart(const std::vector<Event>& ev, size_t index) {
    using K = Event::Kind;
    if (index > 0 && ev[index - 1].kind == K::Settings && ev[index - 1].on &&
        ev[index - 1].atMs == ev[index].atMs)
        return false;
    for (size_t i = index; i-- > 0;) {
        if (ev[i].kind == K::Open) return true;
        if (ev[i].kind == K::Dtr && !ev[i].on) return ev[index].atMs - ev[i].atMs != 400;
    }
    return true;
}

// One line per step: "open COM1", "open failed COM1", "close", "rate 115200" (line settings
// applied, at open or by a switch), "restart", "> bytes" for a write, or "record i" for a
// write that is records[i] whole. `timed`: each line begins with its virtual ms ("6500 ...").
inline std::vector<std::string> transcript(const FakeSerialOs& os,
                                           const std::vector<Record>& records = {},
                                           bool timed = false) {
    using K = Event::Kind;
    std::vector<std::string> out;
    const auto& ev = os.events;
    for (size_t i = 0; i < ev.size(); ++i) {
        const Event& e = ev[i];
        const size_t before = out.size();
        if (e.kind == K::Open) out.push_back("open " + e.text);
        if (e.kind == K::OpenFailed) out.push_back("open failed " + e.text);
        if (e.kind == K::Close) out.push_back("close");
        if (e.kind == K::Settings) out.push_back("rate " + std::to_string(e.rate));
        if (e.kind == K::Dtr && e.on && isRestart(ev, i)) out.push_back("restart");
        if (e.kind == K::Write) {
            out.push_back("> " + escaped(e.text));
            for (size_t r = 0; r < records.size(); ++r)
                if (e.text == std::string(records[r].begin(), records[r].end()))
                    out.back() = "record " + std::to_string(r);
        }
        if (timed && out.size() > before) out.back() = std::to_string(e.atMs) + " " + out.back();
    }
    return out;
}

// The transcript from the `n`-th "open" line on (0 the first), timed or not.
inline std::vector<std::string> transcriptFromOpen(const std::vector<std::string>& all, int n) {
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string step = all[i].substr(all[i].find_first_not_of("0123456789 "));
        if (step.rfind("open ", 0) == 0 && step.rfind("open failed", 0) != 0 && n-- == 0)
            return std::vector<std::string>(all.begin() + static_cast<long>(i), all.end());
    }
    return {};
}

// The writes equal to `bytes`, with the virtual time and rate of each.
inline std::vector<Event> writesOf(const FakeSerialOs& os, const std::string& bytes) {
    std::vector<Event> out;
    for (const Event& e : os.eventsOf(Event::Kind::Write))
        if (e.text == bytes) out.push_back(e);
    return out;
}

}  // namespace kestrel::test
