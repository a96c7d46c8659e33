#include "platform/clock.h"

namespace kestrel {

namespace {
Clock* g_clock = nullptr;
}

Clock& clock() {
    return g_clock ? *g_clock : systemClock();
}

void setClock(Clock* replacement) {
    g_clock = replacement;
}

}  // namespace kestrel
