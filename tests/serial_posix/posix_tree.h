// Linux test scaffolding: a folder of the test's own, a pseudo-terminal, the files and links
// of a device tree (sysfs and /dev) made inside the folder, and the fixture that drives the
// real driver (serial_port.h) on the platform's own serial layer against a fresh pty: the driver
// opens the slave as its serial port, the test plays the far end through the master. The port
// is closed and the clock restored after.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "serial/serial_port.h"
#include "support/switchable_clock.h"

namespace kestrel::test {

// O_CLOEXEC: a master inherited by a forked child would hide the hang-up.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            ptsname_r(master, name, sizeof name);
        slave = name;
        struct stat st {};
        ::stat(name, &st);
        device = st.st_rdev;
    }
    ~Pty() { close(master); }
    int master = -1;
    std::string slave;
    dev_t device = 0;
};

// A new folder under /tmp, removed with all it holds. Paths given to it are below `root`.
struct TempTree {
    TempTree() {
        char folder[] = "/tmp/kestrel-test-XXXXXX";
        root = mkdtemp(folder);
    }
    ~TempTree() { std::filesystem::remove_all(root); }

    // root + `path`, its folder made.
    std::string at(const std::string& path) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        return root + path;
    }
    void write(const std::string& path, const std::string& text) {
        std::ofstream(at(path)) << text;
    }
    void link(const std::string& target, const std::string& path) {
        std::filesystem::create_symlink(target, at(path));
    }
    // `pty` as the tty of interface `interface` of USB device 1-2 (bus 1, device 7) in sys/,
    // with `serial` as the device's serial number when not empty. Returns the device's folder.
    std::string usbTty(const Pty& pty, int interface, const std::string& serial = "") {
        const std::string usb = "/sys/devices/pci0/usb1/1-2";
        const std::string port = usb + "/1-2:1." + std::to_string(interface);
        write(usb + "/busnum", "1\n");
        write(usb + "/devnum", "7\n");
        if (!serial.empty()) write(usb + "/serial", serial + "\n");
        write(port + "/bInterfaceNumber", "0" + std::to_string(interface) + "\n");
        const std::string tty = port + "/tty/tty" + std::to_string(minor(pty.device));
        std::filesystem::create_directories(root + tty);
        link(root + tty, "/sys/dev/char/" + std::to_string(major(pty.device)) + ":" +
                             std::to_string(minor(pty.device)));
        return root + usb;
    }

    std::string root;
};

// The input and output rate the slave runs at, as the master sees it (TCGETS2).
bool slaveRates(int masterFd, uint32_t* inputRate, uint32_t* outputRate);
// The slave's whole state (flags, control characters, both rates) as bytes; empty on failure.
std::string slaveState(int masterFd);
// Gives the slave a separate input rate of 38400, as another program may leave it.
bool leaveStaleInputRate(int masterFd);

class PtyPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(!pty_.slave.empty() && fcntl(master_, F_SETFL, O_NONBLOCK) == 0);
    }
    void TearDown() override {
        port_.closePort();
        closeMaster();
    }
    static double msOf(clockid_t id) {
        timespec ts{};
        clock_gettime(id, &ts);
        return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
    }
    static double wallMs() { return msOf(CLOCK_MONOTONIC); }
    // Open descriptors of this process, not counting the one that lists them.
    static int openDescriptorCount() {
        namespace fs = std::filesystem;
        return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {})) - 1;
    }
    // From now on the port waits on `clock`.
    void useClock(Clock& clock) { time_.to = &clock; }

    const char* slave() const { return pty_.slave.c_str(); }
    // Hangs the line up: the slave's reads see POLLHUP and its writes fail.
    void closeMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }
    // The far end's bytes: far fewer than the 18 KB the pty buffers, so they go at once.
    bool send(const uint8_t* bytes, size_t count) {
        return write(master_, bytes, count) == static_cast<ssize_t>(count);
    }
    // Reads from the master until `want` bytes arrived or `timeoutMs` passed.
    size_t receive(uint8_t* out, size_t want, int timeoutMs = 1000) {
        const double end = wallMs() + timeoutMs;
        size_t done = 0;
        for (pollfd p{master_, POLLIN, 0}; done < want;) {
            if (poll(&p, 1, std::max(0, static_cast<int>(end - wallMs()))) <= 0) break;
            const ssize_t n = read(master_, out + done, want - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

    Pty pty_;
    int& master_ = pty_.master;
    std::unique_ptr<SerialOs> os_ = createPlatformSerialOs();
    SwitchableClock time_;
    SerialPort port_{*os_, time_};
};

}  // namespace kestrel::test
