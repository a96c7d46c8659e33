// The serial port on Linux: a terminal device driven through termios, termios2 and the tty
// ioctls. Each function below states what it achieves and which call achieves it.
//
// The device is opened non-blocking; every wait is a poll(), so the 5 ms read limit holds
// on any tty, and a dead device (a USB adapter pulled out, a pty whose master closed)
// still costs its 5 ms per read instead of spinning a core.
//
// Modem-control ioctls (TIOCMBIS/TIOCMBIC/TIOCMGET/TIOCGICOUNT) fail with ENOTTY on a
// pseudo-terminal. Switching DTR, reading CTS and querying line errors report that as a
// failure, but applying the settings does not depend on them, so a pty still serves as a
// port (the module simulator runs behind one).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock.h"
#include "serial/device_name_posix.h"
#include "serial/serial_os.h"
#include "serial/termios2_posix.h"

namespace kestrel {

namespace {

constexpr int kReadTimeoutMs = 5;
// A mapped device path: /dev/ plus the longest name a field holds.
constexpr size_t kPathCapacity = 272;

class PosixSerialOs final : public SerialOs {
  public:
    ~PosixSerialOs() override { close(); }

    // open(): the name is mapped to a path (device_name_posix.h) and stat()ed first, links
    // followed (udev's /dev/serial/by-id names are links): only a character device that is
    // not the operator's own terminal or the console is opened at all, so a regular file, a
    // fifo or the controlling terminal never see an open() of ours. Then exactly one
    // `open(O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC)`: without becoming our controlling
    // terminal (no SIGHUP to the tool) and without leaking into child processes. fstat()
    // must find the device stat() approved (the path may have been swapped in between), and
    // isatty() turns away character devices that are no terminal (/dev/null), all before
    // any setting changes or any byte is written. flock(LOCK_EX|LOCK_NB) and TIOCEXCL take
    // the port exclusively, so two programs can never write into one module: the flock
    // holds against everyone (root included), and TIOCEXCL also against programs that do
    // not flock (a second open gets EBUSY, except for root). The terminal's state is saved
    // (TCGETS2) for close() to put back. Then best effort: TIOCSSERIAL with
    // ASYNC_LOW_LATENCY (a USB adapter otherwise holds each one-byte answer up to 16 ms),
    // and a TIOCGICOUNT baseline for the line-error query. Any failure closes the device
    // again.
    bool open(const char* name, SystemError* why) override {
        close();
        char path[kPathCapacity];
        if (const char* refusal = posixDeviceName(name, path, sizeof path)) {
            why->set(0, name, refusal);
            return false;
        }
        struct stat named {};
        if (::stat(path, &named) != 0) {
            why->set(errno, path);
            return false;
        }
        const char* refusal =
            S_ISCHR(named.st_mode) ? refusedTerminal(named.st_rdev) : "not a character device";
        if (refusal != nullptr) {
            why->set(0, path, refusal);
            return false;
        }
        fd_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return failOpen(why, path);
        struct stat opened {};
        if (fstat(fd_, &opened) != 0) return failOpen(why, path);
        if (!S_ISCHR(opened.st_mode) || opened.st_rdev != named.st_rdev) {
            why->set(0, path, "the device changed while it was opened");
            return failOpen(nullptr, path);
        }
        if (!isatty(fd_)) {
            why->set(0, path, "not a terminal device");
            return failOpen(nullptr, path);
        }
        // Held by another: "busy" says so better than flock's "temporarily unavailable".
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) errno = EBUSY;
            return failOpen(why, path);
        }
        locked_ = true;
        int wasExclusive = 0;
        if (ioctl(fd_, TIOCGEXCL, &wasExclusive) != 0) wasExclusive = 0;
        if (ioctl(fd_, TIOCEXCL) != 0) return failOpen(why, path);
        exclusive_ = wasExclusive == 0;
        if (!saveTerminal(fd_, &saved_)) return failOpen(why, path);
        haveSaved_ = true;
        requestLowLatency();
        haveCounts_ = ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
        return true;
    }

    // applySettings(): tcsetattr() with 8N1 and everything raw (no
    // input or output processing, no echo, no signals, no XON/XOFF, no RTS/CTS flow,
    // CLOCAL|CREAD, HUPCL so DTR drops even if the tool dies), verified by tcgetattr();
    // then the rate through termios2 (any whole rate). A rate of 0 is refused (B0 means
    // "hang up", never a rate), and so is one above INT32_MAX (a negative int passed on).
    // Finally RTS and DTR per the recorded modes with TIOCMBIS/TIOCMBIC, best effort: a
    // pty has no modem lines. Linux raises DTR on every open and offers no way to open
    // without it, so an RS-232 port shows DTR on from open() until this call clears it:
    // microseconds on a built-in UART, a few milliseconds on a USB adapter, where every
    // setting above is a control transfer.
    bool applySettings(const LineSettings& s) override {
        if (fd_ < 0 || s.rate == 0 || s.rate > INT32_MAX) return false;
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return false;
        makeRaw(&t);
        if (tcsetattr(fd_, TCSANOW, &t) != 0 || !framingTookEffect(t)) return false;
        if (!setTermios2Rate(fd_, s.rate)) return false;
        requestedRate_ = s.rate;
        switchLine(TIOCM_RTS, true);
        switchLine(TIOCM_DTR, s.dtrOn);
        return true;
    }

    // readRate(): TCGETS2 gives the rate the kernel actually programmed. Within 1% of
    // the last request it counts as the request (reported exactly); else the device's.
    bool readRate(uint32_t* rate) override {
        uint32_t actual = 0;
        if (fd_ < 0 || !readTermios2Rate(fd_, &actual)) return false;
        *rate = reportedRate(requestedRate_, actual);
        return true;
    }

    // applyTimeouts(): VMIN = VTIME = 0 on the non-blocking descriptor, so read() never
    // waits in the kernel; readByte() does its 5 ms wait in poll(). Writes wait in poll()
    // for as long as the device needs: they have no timeout.
    bool applyTimeouts() override {
        if (fd_ < 0) return false;
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return false;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
        const int flags = fcntl(fd_, F_GETFL);
        return flags >= 0 && (flags & O_NONBLOCK) != 0;
    }

    // setDtr(): TIOCMBIS/TIOCMBIC on TIOCM_DTR switch the line at once, nothing else.
    bool setDtr(bool on) override { return fd_ >= 0 && switchLine(TIOCM_DTR, on); }

    // readCts(): TIOCMGET, bit TIOCM_CTS. Fails on a device without modem lines.
    bool readCts(bool* on) override {
        int bits = 0;
        if (fd_ < 0 || ioctl(fd_, TIOCMGET, &bits) != 0) return false;
        *on = (bits & TIOCM_CTS) != 0;
        return true;
    }

    // purge(): tcflush(TCIOFLUSH) throws away unread input and unsent output. The line
    // errors of the bytes thrown away go with them (a new TIOCGICOUNT reference): otherwise
    // the framing errors of a rate search would spoil the first clean byte read after it,
    // such as a start signal that follows the download command's OK at once.
    bool purge() override {
        if (fd_ < 0 || tcflush(fd_, TCIOFLUSH) != 0) return false;
        haveCounts_ = ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
        return true;
    }

    // dropInput(): tcflush(TCIFLUSH), and a new line-error reference as for purge().
    bool dropInput() override {
        if (fd_ < 0 || tcflush(fd_, TCIFLUSH) != 0) return false;
        haveCounts_ = ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
        return true;
    }

    // bytesWaiting(): FIONREAD counts what the kernel holds for us.
    bool bytesWaiting(uint32_t* count) override {
        int n = 0;
        if (fd_ < 0 || ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return false;
        *count = static_cast<uint32_t>(n);
        return true;
    }

    // takeLineErrors(): TIOCGICOUNT counts framing, overrun, parity, break and buffer
    // overrun errors since the driver loaded; any counter that moved since the last query
    // (or since open) is an error, and the new values become the reference.
    bool takeLineErrors(bool* any) override {
        serial_icounter_struct now{};
        if (fd_ < 0 || ioctl(fd_, TIOCGICOUNT, &now) != 0) return false;
        *any = haveCounts_ && (now.frame != counts_.frame || now.overrun != counts_.overrun ||
                               now.parity != counts_.parity || now.brk != counts_.brk ||
                               now.buf_overrun != counts_.buf_overrun);
        counts_ = now;
        haveCounts_ = true;
        return true;
    }

    // readByte(): poll() for POLLIN up to 5 ms, then read() of one byte. A hung-up or
    // vanished device (POLLHUP/POLLERR, or a 0-byte read after POLLIN) delivers no byte:
    // it answers poll() at once every time, so the rest of the 5 ms is slept through the
    // clock; so is every other early return without a byte.
    bool readByte(uint8_t* byte, bool* got) override {
        *got = false;
        if (fd_ < 0) return false;
        const uint32_t start = systemClock().nowMs();
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, kReadTimeoutMs);
        if (ready == 0) return true;  // the whole 5 ms passed in poll()
        bool alive = ready > 0 || errno == EINTR;
        if (ready > 0) {
            if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                alive = false;
            } else if ((p.revents & POLLIN) != 0) {
                uint8_t b = 0;
                const ssize_t n = ::read(fd_, &b, 1);
                if (n == 1) {
                    *byte = b;
                    *got = true;
                    return true;
                }
                alive = n < 0 && (errno == EAGAIN || errno == EINTR);
            }
        }
        sleepRestOfReadTimeout(start);
        return alive;
    }

    // write(): write() until every byte is taken; on EAGAIN (the kernel's buffer is full)
    // poll() for POLLOUT without a limit. Any other error, or a hang-up, ends the write and
    // the count says how far it got.
    uint32_t write(const uint8_t* bytes, uint32_t count) override {
        if (fd_ < 0) return 0;
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EAGAIN) {
                if (!waitWritable()) break;
            } else {
                break;
            }
        }
        return done;
    }

    // close(): puts back the terminal's state as open() found it (flags, control
    // characters, rate) and the low-latency flag if we set it, then gives up the claims
    // open() made (only those it made: the exclusive flag belongs to the tty, not to our
    // descriptor, and may have been another program's), then close(). A port is left as it
    // was found. Harmless when nothing is open and after an open() that failed midway.
    void close() override {
        if (fd_ >= 0) {
            if (haveSaved_) restoreTerminal(fd_, saved_);  // fails only on a dead device
            if (lowLatencySet_) dropLowLatency();
            if (exclusive_) ioctl(fd_, TIOCNXCL);
            if (locked_) flock(fd_, LOCK_UN);
            ::close(fd_);
        }
        fd_ = -1;
        locked_ = false;
        exclusive_ = false;
        haveSaved_ = false;
        lowLatencySet_ = false;
        haveCounts_ = false;
        requestedRate_ = 0;
    }

  private:
    // Records errno (when `why` is given) before close() can change it.
    bool failOpen(SystemError* why, const char* path) {
        if (why != nullptr) why->set(errno, path);
        close();
        return false;
    }

    void requestLowLatency() {
        serial_struct ss{};
        if (ioctl(fd_, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY) != 0) return;
        ss.flags |= ASYNC_LOW_LATENCY;
        // A driver that refuses just stays slower.
        lowLatencySet_ = ioctl(fd_, TIOCSSERIAL, &ss) == 0;
    }

    void dropLowLatency() {
        serial_struct ss{};
        if (ioctl(fd_, TIOCGSERIAL, &ss) != 0) return;
        ss.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(fd_, TIOCSSERIAL, &ss);
    }

    static constexpr tcflag_t kInputProcessing = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK |
                                                 ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON |
                                                 IXANY | IXOFF | IMAXBEL;
    static constexpr tcflag_t kLocalProcessing =
        ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | IEXTEN | TOSTOP;
    // Framing bits the pty leaves alone; the parity bits are not among them (a pty forces
    // CS8 and clears PARENB), and the record asks for no parity anyway.
    static constexpr tcflag_t kCheckedControl = CSIZE | CSTOPB | CRTSCTS | CLOCAL | CREAD;

    // Raw 8N1 transfer: no byte is translated, dropped or taken as a control character.
    static void makeRaw(termios* t) {
        t->c_iflag &= ~kInputProcessing;
        t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t->c_lflag &= ~kLocalProcessing;
        t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
        t->c_cflag |= CS8 | CLOCAL | CREAD | HUPCL;
        t->c_cc[VMIN] = 0;
        t->c_cc[VTIME] = 0;
    }

    // tcsetattr() succeeds when any part of the change took effect: read it back.
    bool framingTookEffect(const termios& wanted) const {
        termios now{};
        if (tcgetattr(fd_, &now) != 0) return false;
        const tcflag_t iflags = kInputProcessing;
        return (now.c_iflag & iflags) == (wanted.c_iflag & iflags) &&
               (now.c_oflag & OPOST) == (wanted.c_oflag & OPOST) &&
               (now.c_lflag & kLocalProcessing) == (wanted.c_lflag & kLocalProcessing) &&
               (now.c_cflag & kCheckedControl) == (wanted.c_cflag & kCheckedControl);
    }

    bool switchLine(int line, bool on) const {
        return ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
    }

    bool waitWritable() const {
        for (;;) {
            pollfd p{fd_, POLLOUT, 0};
            const int ready = poll(&p, 1, -1);
            if (ready < 0 && errno == EINTR) continue;
            return ready > 0 && (p.revents & POLLOUT) != 0;
        }
    }

    static void sleepRestOfReadTimeout(uint32_t start) {
        Clock& clock = systemClock();
        const uint32_t spent = clock.elapsedSince(start);
        if (spent < static_cast<uint32_t>(kReadTimeoutMs))
            clock.sleepMs(static_cast<uint32_t>(kReadTimeoutMs) - spent);
    }

    int fd_ = -1;
    bool locked_ = false;     // we hold the flock
    bool exclusive_ = false;  // we set TIOCEXCL
    bool haveSaved_ = false;
    SavedTerminal saved_{};  // the state open() found
    bool lowLatencySet_ = false;
    bool haveCounts_ = false;
    serial_icounter_struct counts_{};
    uint32_t requestedRate_ = 0;
};

}  // namespace

std::unique_ptr<SerialOs> createPlatformSerialOs() {
    return std::make_unique<PosixSerialOs>();
}

}  // namespace kestrel
