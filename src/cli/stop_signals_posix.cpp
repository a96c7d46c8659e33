#include <signal.h>

#include "cli/stop_signals.h"

namespace kestrel {

namespace {

// A signal handler reaches its process's state only through namespace scope: these are set
// once, before the handlers are installed, and only read afterwards.
StopRequest* g_stop = nullptr;
void (*g_wake)(void*) = nullptr;
void* g_wakeContext = nullptr;

void onStopSignal(int number) {
    g_stop->escalate(number == SIGTERM ? StopSignal::Terminate : StopSignal::Interrupt);
    if (g_wake != nullptr) g_wake(g_wakeContext);
}

}  // namespace

void installStopSignals(StopRequest& stop, void (*wake)(void*), void* context) {
    g_stop = &stop;
    g_wake = wake;
    g_wakeContext = context;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART a wait in poll() ends with EINTR, so a station sees the stop at once.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace kestrel
