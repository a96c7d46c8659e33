// The simulator's end of the line: the master of a pseudo-terminal whose slave is published
// under a symlink, and whether the tool has the slave open.
//
// The master cannot tell a slave that was never opened from one that is open (both poll as
// idle), and once the slave closes it polls POLLHUP until the next open. So the slave's device
// node is watched with inotify instead: IN_OPEN and IN_CLOSE arrive exactly when the tool
// opens and closes the port, and nothing has to be polled on a timer.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace kestrel::sim {

class PtyPort {
  public:
    PtyPort();
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Opens a new pty (master with O_CLOEXEC, slave set raw), starts watching its slave and
    // points `link` at it (symlink to a hidden temporary name, then rename: the link never dangles
    // half-made). Creates the link's folder. `beforeLink`, when given, runs once the pty's
    // device number is known and before the link is made (as udev makes a node only after the
    // kernel has published its device). False with `error` set on failure.
    bool bringUp(const std::string& link, std::string* error,
                 const std::function<bool(std::string* error)>& beforeLink = nullptr);
    // Closes the master (the tool's slave descriptor hangs up and the slave node vanishes)
    // and removes the link when it still points at this pty. Harmless when down.
    // The pty's number stays taken while this object lives: a tool may still hold a port
    // claim named after the device number, and another pty with that number (another
    // simulator's) would be refused as busy.
    void takeDown();

    bool up() const { return master_ >= 0; }
    int master() const { return master_; }
    // The inotify descriptor (valid for the object's lifetime), readable on open/close.
    int watchFd() const { return inotify_; }
    const std::string& slavePath() const { return slavePath_; }
    dev_t device() const { return device_; }
    bool slaveOpen() const { return opens_ > 0; }

    // Reads the pending open/close events; calls `changed(true)` when the slave went from
    // closed to open and `changed(false)` on the way back, in order.
    void drainEvents(const std::function<void(bool opened)>& changed);

    // The rate the tool set on its side (the slave's termios, read through the master).
    bool slaveRate(uint32_t* rate) const;

  private:
    int master_ = -1;
    int inotify_ = -1;
    int watch_ = -1;
    int opens_ = 0;  // the slave's open descriptors, as counted from the events
    dev_t device_ = 0;
    std::string slavePath_;
    std::string link_;
    std::deque<int> retired_;  // a slave descriptor of each pty taken down (the last few)
};

}  // namespace kestrel::sim
