#include "modem_sim/update_summary.h"

#include "image/sha256.h"

namespace kestrel::sim {

namespace {

struct Digest {
    char hex[65];
    size_t records = 0;
    size_t bytes = 0;
};

// Records hashed back to back, length bytes included: the image exactly as stored.
Digest digestOf(const std::vector<std::vector<uint8_t>>& records) {
    Sha256 sha;
    Digest d;
    for (const auto& r : records) {
        sha.update(r.data(), r.size());
        d.bytes += r.size();
    }
    d.records = records.size();
    uint8_t raw[Sha256::kDigestLength];
    sha.finish(raw);
    sha256Hex(raw, d.hex);
    return d;
}

size_t firstDifference(const std::vector<std::vector<uint8_t>>& a,
                       const std::vector<std::vector<uint8_t>>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return i;
}

// The command lines in order, a run of equal ones as one with its count: "ATE1V1Q0 (x3)".
void printCommands(FILE* out, const std::vector<std::string>& lines) {
    std::fputs("kestrel-modem-sim: commands:", out);
    for (size_t i = 0; i < lines.size();) {
        size_t run = 1;
        while (i + run < lines.size() && lines[i + run] == lines[i])
            ++run;
        std::fprintf(out, run > 1 ? " %s (x%zu)" : " %s", lines[i].c_str(), run);
        std::fputs(i + run < lines.size() ? " |" : "", out);
        i += run;
    }
    std::fputc('\n', out);
}

}  // namespace

bool printUpdateSummary(FILE* out, const ModuleModel& model,
                        const std::vector<std::vector<uint8_t>>* expected,
                        const std::vector<uint32_t>& hostRates, const char* reason) {
    const ModuleStats& s = model.stats();
    std::fprintf(out, "kestrel-modem-sim: update ended (%s)\n", reason);
    printCommands(out, s.commandLines);
    std::fputs("kestrel-modem-sim: host rates:", out);
    for (uint32_t r : hostRates)
        std::fprintf(out, " %u", r);
    std::fputc('\n', out);
    std::fprintf(out, "kestrel-modem-sim: blocks accepted %d, resends %d, restarts %d\n",
                 s.recordsAccepted, s.resendsRequested, s.restarts);
    const Digest got = digestOf(s.accepted);
    std::fprintf(out, "kestrel-modem-sim: accepted sha256 %s (%zu records, %zu bytes)\n", got.hex,
                 got.records, got.bytes);
    bool equal = true;
    if (expected != nullptr) {
        const Digest want = digestOf(*expected);
        std::fprintf(out, "kestrel-modem-sim: expected sha256 %s (%zu records, %zu bytes)\n",
                     want.hex, want.records, want.bytes);
        equal = s.accepted == *expected;
        if (equal) {
            std::fprintf(out, "kestrel-modem-sim: result: the accepted records equal the image\n");
        } else {
            std::fprintf(out,
                         "kestrel-modem-sim: result: the accepted records DIFFER from the image "
                         "(first difference at record %zu)\n",
                         firstDifference(s.accepted, *expected));
        }
    }
    std::fflush(out);
    return equal;
}

}  // namespace kestrel::sim
