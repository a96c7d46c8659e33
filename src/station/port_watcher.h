// Serial ports matching a glob over device paths, as they come and go. A station waits here
// for modules to be plugged into its fixture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/system_error.h"

namespace kestrel {

struct PortEvent {
    enum Kind { kAppeared, kGone };
    Kind kind;
    std::string port;  // the matching path, as the pattern spells its folder
};

class PortWatcher {
  public:
    virtual ~PortWatcher() = default;

    // The matching ports there were when the watcher was made, in name order.
    virtual const std::vector<std::string>& present() const = 0;

    // Waits up to `timeoutMs` for ports to appear or go and appends what changed to `events`,
    // in the order it happened. Returns early, with or without events, on wake() or a signal.
    // False only when watching failed for good (`why` says how).
    virtual bool wait(uint32_t timeoutMs, std::vector<PortEvent>* events, SystemError* why) = 0;

    // Makes a wait in progress (or the next one) return at once. Any thread may call it, and
    // on Linux a signal handler too.
    virtual void wake() = 0;
};

// A watcher for `pattern`: an absolute path whose last part may hold the wildcards * ? [...]
// (e.g. "/dev/serial/by-id/usb-*-if00"); on Windows a COM port name pattern ("COM*"). Null,
// with `why` set, when the pattern is refused or cannot be watched.
std::unique_ptr<PortWatcher> createPortWatcher(const std::string& pattern, SystemError* why);

}  // namespace kestrel
