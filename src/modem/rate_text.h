// Rates written as text: in the operator's rate field and in the module's "+IPR: " replies.
#pragma once

#include <cstdint>

namespace kestrel {

// Decimal conversion of a rate text: leading white space and a sign accepted, stops at the
// first non-digit, 0 without digits. Values past 32 bits are clamped, not undefined.
int32_t convertRateText(const char* text);

}  // namespace kestrel
