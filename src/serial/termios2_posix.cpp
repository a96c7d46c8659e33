// This file exists because <asm/termbits.h> (struct termios2, BOTHER) cannot be included
// together with <termios.h>: both define struct termios and the flag macros. Everything
// else of the POSIX serial backend uses <termios.h>; only the rate and the terminal's saved
// state go through here.
#include <sys/ioctl.h>

#include <asm/termbits.h>

#include <cstring>

#include "serial/termios2_posix.h"

namespace kestrel {

static_assert(sizeof(struct termios2) <= sizeof(SavedTerminal::bytes),
              "SavedTerminal holds a struct termios2");

bool saveTerminal(int fd, SavedTerminal* saved) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    std::memcpy(saved->bytes, &t, sizeof t);
    return true;
}

bool restoreTerminal(int fd, const SavedTerminal& saved) {
    struct termios2 t {};
    std::memcpy(&t, saved.bytes, sizeof t);
    return ioctl(fd, TCSETSW2, &t) == 0;
}

// TCSETS2 with BOTHER in both speed fields: the kernel programs the nearest rate the
// device can make and stores it in c_ispeed/c_ospeed, which TCGETS2 then reports.
// CIBAUD is rewritten as well: a stale input-speed code left there by an earlier setting
// would keep the input at the old rate.
bool setTermios2Rate(int fd, uint32_t rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

// TCGETS2: c_ospeed holds the rate in bits per second whether it was set as a standard
// Bnnn code or with BOTHER.
bool readTermios2Rate(int fd, uint32_t* rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    *rate = t.c_ospeed;
    return true;
}

}  // namespace kestrel
