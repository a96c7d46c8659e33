// Whether the chosen port is the port of the system's first modem device, which decides the
// USB option. The two lookups that name that port are supplied from outside.
#pragma once

#include <cstddef>

#include "session/session_settings.h"

namespace kestrel {

enum class RefreshReason { Initialisation, FocusLost, SelectionChanged };

// COM1..COM9 head the port list, in this order: entry i names port i + 1.
constexpr int kNumberedPorts = 9;

// The two places that name the modem's port. Each yields a text of at most 259 characters or
// nothing (false).
class UsbPortLookups {
  public:
    virtual ~UsbPortLookups() = default;
    // The port the first modem device is attached to.
    virtual bool attachedTo(char (&text)[kTextCapacity]) = 0;
    // The modems' ports as a list of texts; only the first (up to its NUL) takes part.
    virtual bool address(char (&text)[kTextCapacity]) = 0;
};

// Lookups with fixed answers, for platforms without either source and for tests. A null text
// yields nothing; `addressSize` lets the address hold several NUL-separated texts.
class FixedUsbPortLookups : public UsbPortLookups {
  public:
    FixedUsbPortLookups(const char* attachedTo, const char* address, size_t addressSize = 0);
    bool attachedTo(char (&text)[kTextCapacity]) override;
    bool address(char (&text)[kTextCapacity]) override;
    int queries() const { return queries_; }

  private:
    bool hasAttachedTo_, hasAddress_;
    char attachedTo_[kTextCapacity] = {};
    char address_[kTextCapacity] = {};
    int queries_ = 0;
};

// The port name a refresh looks at: for a selection change the list entry's name (COM1..COM9
// from the index for the first nine entries, the entry's own text for the devices behind them),
// otherwise the field's text.
void refreshPortName(RefreshReason reason, const char* fieldText, int selectedIndex,
                     const char* selectedEntryText, char (&name)[kTextCapacity]);

// True when `portName` (with a leading "\\.\" dropped) equals the AttachedTo text or, failing
// that, the first Address text exactly.
bool isModemUsbPort(const char* portName, UsbPortLookups& lookups);

}  // namespace kestrel
