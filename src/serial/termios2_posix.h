// Any whole line rate on Linux, and a terminal's whole state saved and put back, through the
// kernel's termios2 interface.
//
// The functions live in termios2_posix.cpp, the one file that includes <asm/termbits.h>:
// that header redefines struct termios and clashes with <termios.h>, so this header
// speaks only in plain integers and bytes.
#pragma once

#include <cstdint>

namespace kestrel {

// A terminal's whole state as the kernel keeps it (flags, control characters, line
// discipline and both rates, any whole rate included), held as bytes.
struct SavedTerminal {
    alignas(8) unsigned char bytes[64];
};

// Reads the state (TCGETS2). False when the ioctl fails.
bool saveTerminal(int fd, SavedTerminal* saved);

// Puts the state back once the bytes written so far have left (TCSETSW2): the last command
// must go out at the rate it was written for. Without flow control (the port runs without)
// that wait ends when the buffer is empty; a pty's ends at once. False when the ioctl fails.
bool restoreTerminal(int fd, const SavedTerminal& saved);

// Sets input and output rate to `rate` bits per second (TCSETS2 with BOTHER). False when
// the ioctl fails.
bool setTermios2Rate(int fd, uint32_t rate);

// The output rate the device runs at (TCGETS2). False when the ioctl fails.
bool readTermios2Rate(int fd, uint32_t* rate);

// How a read-back rate is reported: UART clocks round, and both ends of a line tolerate a
// few percent, so a device within 1% of the request counts as running at the request.
// Anything further off is another rate, reported as the device runs it.
inline uint32_t reportedRate(uint32_t requested, uint32_t actual) {
    const uint64_t diff = actual > requested ? actual - requested : requested - actual;
    return diff * 100u <= requested ? requested : actual;
}

}  // namespace kestrel
