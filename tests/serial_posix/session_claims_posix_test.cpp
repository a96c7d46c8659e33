// What a Linux session claims and keeps beyond its open port: the lock on the physical
// device, held across the session's close-and-reopen gaps, and the rate journal's files. A
// second session refused by the claim is run for real by e2e.second_tool_in_gap.
#include <tuple>

#include "serial/device_tree_posix.h"
#include "serial/port_locator.h"
#include "serial/port_lock.h"
#include "serial_posix/posix_tree.h"
#include "session/file_rate_journal.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

struct Claims : testing::Test, TempTree {
    Claims() { fs::create_directories(root + "/lock"); }
    // The first folder cannot take a lock file (as /run/lock for most users): the next one does.
    std::unique_ptr<PortLock> lock() {
        return createPosixPortLock(tree, {root + "/no-such-folder", root + "/lock"});
    }
    // Puts `pty` under USB device 1-2, interface `interface`, in a device tree of our own.
    void onUsb(const Pty& pty, int interface, const std::string& byIdName = "") {
        tree = {root + "/sys", root + "/dev"};
        usbTty(pty, interface);
        if (!byIdName.empty()) link(pty.slave, "/dev/serial/by-id/" + byIdName);
    }
    DeviceTree tree;
};

TEST_F(Claims, OneDeviceIsOneClaimWhateverItsNameUntilItIsGivenUp) {
    Pty pty, usb, usbAgain;  // a port; a USB port, and the same port back under another name
    onUsb(usb, 2, "usb-Maker_Module_0042-if02");
    onUsb(usbAgain, 2);
    const std::string alias = root + "/modem";
    fs::create_symlink(pty.slave, alias);
    const auto first = lock(), second = lock(), third = lock();
    SystemError why;
    ASSERT_TRUE(first->acquire(pty.slave.c_str(), &why));
    EXPECT_STREQ(first->identity(), pty.slave.c_str());
    EXPECT_FALSE(second->acquire(alias.c_str(), &why));
    char text[600];
    describeSystemError(why, text, sizeof text);
    EXPECT_EQ(std::string(text), alias + " (held by process " + std::to_string(getpid()) +
                                     "): in use by another update session");
    first->release();
    EXPECT_TRUE(second->acquire(alias.c_str(), &why));
    // A USB port is claimed by its physical device, and named by its by-id link.
    ASSERT_TRUE(third->acquire(usb.slave.c_str(), &why));
    EXPECT_EQ(std::string(third->identity()),
              root + "/dev/serial/by-id/usb-Maker_Module_0042-if02");
    EXPECT_FALSE(lock()->acquire(usbAgain.slave.c_str(), &why));
    // Another device is another claim; a link planted where its lock file goes is not followed.
    Pty another;
    const std::string key = root + "/lock/kestrel-dev-" + std::to_string(major(another.device)) +
                            "-" + std::to_string(minor(another.device)) + ".lock";
    write("/victim", "kept\n");
    fs::create_symlink(root + "/victim", key);
    EXPECT_TRUE(first->acquire(another.slave.c_str(), &why));
    EXPECT_EQ(std::ifstream(root + "/victim").rdbuf()->sgetc(), 'k');
    fs::remove(key);
    EXPECT_TRUE(first->acquire(another.slave.c_str(), &why));
    EXPECT_FALSE(lock()->acquire(another.slave.c_str(), &why));
}

TEST_F(Claims, AReturnedUsbPortIsFoundAtTheSamePlaceAndInterfaceOnly) {
    Pty module, back, elsewhere;
    onUsb(module, 2);
    const auto ttyLink = [&](const Pty& pty, const std::string& name, const std::string& at) {
        const std::string dir = root + "/sys/devices/pci0/usb1/" + at + "/tty/" + name;
        fs::create_directories(dir);
        link(dir, "/sys/class/tty/" + name);
        link(pty.slave, "/dev/" + name);
    };
    ttyLink(module, "ttyACM0", "1-2/1-2:1.2");
    auto locator = createPosixPortLocator(tree);
    ASSERT_TRUE(locator->remember((root + "/dev/ttyACM0").c_str()));
    char path[300];
    EXPECT_FALSE(locator->findReturned(path, sizeof path)) << "still under its own name";

    fs::remove(root + "/sys/class/tty/ttyACM0");
    ttyLink(elsewhere, "ttyACM1", "1-3/1-3:1.2");    // another USB device
    ttyLink(elsewhere, "ttyACM4", "1-20/1-20:1.2");  // one whose name begins alike
    write("/sys/devices/pci0/usb1/1-20/bInterfaceNumber", "02\n");
    ttyLink(elsewhere, "ttyACM2", "1-2/1-2:1.0");  // the module's device, another interface
    EXPECT_FALSE(locator->findReturned(path, sizeof path));
    ttyLink(back, "ttyACM3", "1-2/1-2:1.2");
    ASSERT_TRUE(locator->findReturned(path, sizeof path));
    EXPECT_EQ(std::string(path), root + "/dev/ttyACM3");
    EXPECT_FALSE(locator->findReturned(path, 10)) << "a path that does not fit";

    Pty serialOnly;  // not on USB at all
    EXPECT_FALSE(locator->remember(serialOnly.slave.c_str()));
}

TEST(RateJournalFiles, OneEntryPerPortAndWhatCannotBeReadIsDamaged) {
    TempTree t;
    const std::string dir = t.root;
    auto journal = createFileRateJournal(dir + "/state/kestrel");
    RateJournalEntry got;
    EXPECT_EQ(journal->load("/dev/ttyS0", &got), RateJournal::Load::None);
    ASSERT_TRUE(journal->save("/dev/ttyS0", {57600, 115200, 1700000000}));
    ASSERT_TRUE(journal->save("/dev/serial/by-id/usb-X-if00", {9600, 921600, 5}));
    journal->remove("/dev/serial/by-id/usb-X-if00");
    EXPECT_EQ(journal->load("/dev/serial/by-id/usb-X-if00", &got), RateJournal::Load::None);
    ASSERT_EQ(journal->load("/dev/ttyS0", &got), RateJournal::Load::Found);
    EXPECT_EQ(std::make_tuple(got.originalRate, got.movedRate, got.savedAt),
              std::make_tuple(57600, 115200, 1700000000));

    const std::string file = dir + "/state/kestrel/_dev_ttyS1";
    for (const char* text :
         {"", "kestrel-rate-journal 1\nport /dev/ttyS1\noriginal 57600\n",
          "kestrel-rate-journal 1\nport /dev/ttyS9\noriginal 1\nmoved 2\ntime 3\n",
          "kestrel-rate-journal 1\nport /dev/ttyS1\noriginal 1\nmoved 0\ntime 3\n",
          "other 1\nport /dev/ttyS1\noriginal 1\nmoved 2\ntime 3\n"}) {
        std::ofstream(file) << text;
        EXPECT_EQ(journal->load("/dev/ttyS1", &got), RateJournal::Load::Damaged) << text;
    }
}

}  // namespace
}  // namespace kestrel::test
