// Linux test scaffolding: a folder of the test's own, a pseudo-terminal, and the files and
// links of a device tree (sysfs and /dev) made inside the folder.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kestrel::test {

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

    void write(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        std::ofstream(root + path) << text;
    }
    void link(const std::string& target, const std::string& path) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        std::filesystem::create_symlink(target, root + path);
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

}  // namespace kestrel::test
