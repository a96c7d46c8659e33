// The rate text as the operator types it and as a module's "+IPR: " reply carries it:
// convertRateText against a conversion written the long way, and the session's snapshot.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "modem/rate_text.h"
#include "session/session_settings.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Digits beyond the ten that reach past 32 bits only keep the value clamped.
int64_t expectedRate(const char* text) {
    const char* p = text;
    while (isBlank(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    std::string digits;
    while (*p >= '0' && *p <= '9')
        digits.push_back(*p++);
    const size_t first = digits.find_first_not_of('0');
    digits = first == std::string::npos ? "0" : digits.substr(first);
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    const int64_t value = digits.size() > 10 ? limit : std::min<int64_t>(std::stoll(digits), limit);
    return negative ? -value : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // ends at its first NUL
    FUZZ_CHECK(kestrel::convertRateText(text.c_str()) == expectedRate(text.c_str()));

    kestrel::SessionFields fields;
    kestrel::copyText(fields.rateText, text.c_str());
    const kestrel::SessionSettings snapshot = kestrel::takeSnapshot(fields);
    FUZZ_CHECK(snapshot.rate == expectedRate(fields.rateText));
    FUZZ_CHECK(std::strlen(fields.rateText) == std::min<size_t>(std::strlen(text.c_str()), 259));
    return 0;
}
