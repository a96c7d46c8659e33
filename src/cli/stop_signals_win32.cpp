#include <windows.h>

#include "cli/stop_signals.h"

namespace kestrel {

namespace {

// The console's control handler reaches the process's state only through namespace scope:
// these are set once, before the handler is installed, and only read afterwards.
StopRequest* g_stop = nullptr;
void (*g_wake)(void*) = nullptr;
void* g_wakeContext = nullptr;

BOOL WINAPI onConsoleControl(DWORD event) {
    // Ctrl-C is SIGINT's; Ctrl-Break, closing the console and logging off are SIGTERM's.
    g_stop->escalate(event == CTRL_C_EVENT ? StopSignal::Interrupt : StopSignal::Terminate);
    if (g_wake != nullptr) g_wake(g_wakeContext);
    return TRUE;
}

}  // namespace

void installStopSignals(StopRequest& stop, void (*wake)(void*), void* context) {
    g_stop = &stop;
    g_wake = wake;
    g_wakeContext = context;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

}  // namespace kestrel
