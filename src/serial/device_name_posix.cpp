#include "serial/device_name_posix.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr char kControllingTerminal[] = "is the controlling terminal";
constexpr char kConsole[] = "is the system console";
constexpr char kStandardStream[] = "is the terminal of a standard stream";

// The n of "COM<n>" when `name` is exactly that with n >= 1; 0 otherwise. Numbers too
// large for any real port are no COM name either.
unsigned long comPortNumber(const char* name) {
    if (strncasecmp(name, "COM", 3) != 0 || name[3] == '\0') return 0;
    unsigned long n = 0;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        n = n * 10u + static_cast<unsigned long>(*p - '0');
        if (n > 1000000u) return 0;
    }
    return n;
}

const char* fits(int written, size_t capacity) {
    return written >= 0 && static_cast<size_t>(written) < capacity ? nullptr : "port name too long";
}

// The controlling terminal's device number; false when the process has none.
//
// /proc/self/stat's tty_nr is the kernel's own record of it, read without touching any
// terminal. The alternatives miss: the standard streams may be redirected while the
// terminal stays in control (`--port /dev/pts/3 </dev/null >log 2>&1`), and fstat() of
// an opened /dev/tty names /dev/tty itself, not the terminal behind it. Without /proc the
// answer is "none"; /dev/tty and the standard streams' terminals are still refused then.
bool controllingTerminal(dev_t* device) {
    FILE* f = fopen("/proc/self/stat", "re");
    if (f == nullptr) return false;
    char line[1024];
    const size_t n = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    line[n] = '\0';
    // The command name in parentheses may hold spaces and parentheses itself.
    const char* rest = strrchr(line, ')');
    char state = 0;
    int parent = 0, group = 0, session = 0;
    unsigned int tty = 0;
    if (rest == nullptr ||
        sscanf(rest + 1, " %c %d %d %d %u", &state, &parent, &group, &session, &tty) != 5 ||
        tty == 0)
        return false;
    // The kernel's 32-bit encoding: minor bits 0-7 and 20-31, major bits 8-19.
    *device = makedev((tty >> 8) & 0xfffu, (tty & 0xffu) | ((tty >> 12) & 0xfff00u));
    return true;
}

}  // namespace

const char* posixDeviceName(const char* name, char* out, size_t capacity) {
    if (name == nullptr || name[0] == '\0') return "not a serial port name";
    if (out == nullptr || capacity == 0) return "port name too long";
    if (const unsigned long n = comPortNumber(name))
        return fits(snprintf(out, capacity, "/dev/ttyS%lu", n - 1u), capacity);
    if (strchr(name, '/') == nullptr)
        return fits(snprintf(out, capacity, "/dev/%s", name), capacity);
    if (name[0] != '/') return "not an absolute path";
    return fits(snprintf(out, capacity, "%s", name), capacity);
}

const char* refusedTerminal(dev_t device) {
    // The kernel's fixed numbers of /dev/tty and /dev/console, whatever a node is called.
    if (device == makedev(5, 0)) return kControllingTerminal;
    if (device == makedev(5, 1)) return kConsole;
    // A container's /dev/console is often the pty it was started on.
    struct stat console {};
    if (stat("/dev/console", &console) == 0 && S_ISCHR(console.st_mode) &&
        console.st_rdev == device)
        return kConsole;
    dev_t controlling = 0;
    if (controllingTerminal(&controlling) && controlling == device) return kControllingTerminal;
    // Even without control of it, the terminal our streams are on is the operator's screen.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        struct stat stream {};
        if (fstat(fd, &stream) == 0 && S_ISCHR(stream.st_mode) && stream.st_rdev == device &&
            isatty(fd))
            return kStandardStream;
    }
    return nullptr;
}

}  // namespace kestrel
