#include "modem_sim/update_summary.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "image/sha256.h"

namespace kestrel::sim {

namespace {

struct Digest {
    char hex[65];
    size_t records = 0;
    size_t bytes = 0;
};

using Records = std::vector<std::vector<uint8_t>>;

// Records hashed back to back, length bytes included: the image exactly as stored.
Digest digestOf(Records::const_iterator begin, Records::const_iterator end) {
    Sha256 sha;
    Digest d;
    for (auto r = begin; r != end; ++r) {
        sha.update(r->data(), r->size());
        d.bytes += r->size();
    }
    d.records = static_cast<size_t>(end - begin);
    uint8_t raw[Sha256::kDigestLength];
    sha.finish(raw);
    sha256Hex(raw, d.hex);
    return d;
}

size_t firstDifference(Records::const_iterator begin, Records::const_iterator end,
                       const Records& b) {
    return static_cast<size_t>(std::mismatch(begin, end, b.begin(), b.end()).first - begin);
}

// The command lines in order, a run of equal ones as one with its count: "ATE1V1Q0 (x3)".
void printCommands(FILE* out, const std::vector<std::string>& all, size_t from, size_t to) {
    std::fputs("kestrel-modem-sim: commands:", out);
    for (size_t i = from; i < to;) {
        size_t run = 1;
        while (i + run < to && all[i + run] == all[i])
            ++run;
        std::fprintf(out, run > 1 ? " %s (x%zu)" : " %s", all[i].c_str(), run);
        std::fputs(i + run < to ? " |" : "", out);
        i += run;
    }
    std::fputc('\n', out);
}

// Each change once: a rate noted again where an update might have begun is no change.
void printHostRates(FILE* out, const std::vector<uint32_t>& rates, size_t from, size_t to) {
    std::fputs("kestrel-modem-sim: host rates:", out);
    for (size_t i = from; i < to; ++i)
        if (i == from || rates[i] != rates[i - 1]) std::fprintf(out, " %u", rates[i]);
    std::fputc('\n', out);
}

}  // namespace

StatsMark markOf(const ModuleModel& model, size_t hostRates) {
    const ModuleStats& s = model.stats();
    StatsMark m;
    m.commandLines = s.commandLines.size();
    m.accepted = s.accepted.size();
    m.resendsRequested = s.resendsRequested;
    m.restarts = s.restarts;
    m.hostRates = hostRates;
    m.configuredRate = model.config().rate;
    m.state = model.stateName();
    return m;
}

bool printUpdateSummary(FILE* out, const ModuleStats& s, const StatsMark& from, const StatsMark& to,
                        const std::vector<uint32_t>& hostRates, const Records* expected,
                        const char* reason) {
    std::fprintf(out, "kestrel-modem-sim: update ended (%s)\n", reason);
    printCommands(out, s.commandLines, from.commandLines, to.commandLines);
    printHostRates(out, hostRates, from.hostRates, to.hostRates);
    std::fprintf(out, "kestrel-modem-sim: blocks accepted %zu, resends %d, restarts %d\n",
                 to.accepted - from.accepted, to.resendsRequested - from.resendsRequested,
                 to.restarts - from.restarts);
    std::fprintf(out, "kestrel-modem-sim: module: configured rate %u, %s\n", to.configuredRate,
                 to.state);
    const auto begin = s.accepted.begin() + static_cast<ptrdiff_t>(from.accepted);
    const auto end = s.accepted.begin() + static_cast<ptrdiff_t>(to.accepted);
    const Digest got = digestOf(begin, end);
    std::fprintf(out, "kestrel-modem-sim: accepted sha256 %s (%zu records, %zu bytes)\n", got.hex,
                 got.records, got.bytes);
    bool equal = true;
    if (expected != nullptr) {
        const Digest want = digestOf(expected->begin(), expected->end());
        std::fprintf(out, "kestrel-modem-sim: expected sha256 %s (%zu records, %zu bytes)\n",
                     want.hex, want.records, want.bytes);
        equal = std::equal(begin, end, expected->begin(), expected->end());
        if (equal) {
            std::fprintf(out, "kestrel-modem-sim: result: the accepted records equal the image\n");
        } else {
            std::fprintf(out,
                         "kestrel-modem-sim: result: the accepted records DIFFER from the image "
                         "(first difference at record %zu)\n",
                         firstDifference(begin, end, *expected));
        }
    }
    std::fflush(out);
    return equal;
}

}  // namespace kestrel::sim
