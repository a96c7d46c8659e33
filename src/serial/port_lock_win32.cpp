// The session's claim on a port on Windows: a named mutex per COM port. The port itself is
// exclusive while open; the mutex also covers the moments the session has it closed, and a
// second session in the same process finds it as surely as another process does. Windows
// drops it when the process ends.
#include <windows.h>

#include <cstring>

#include "serial/com_port_name.h"
#include "serial/port_lock.h"

namespace kestrel {

namespace {

class Win32PortLock final : public PortLock {
  public:
    ~Win32PortLock() override { release(); }

    bool acquire(const char* portName, SystemError* why) override {
        release();
        if (portName == nullptr) return true;
        // One name per port whatever the spelling: COM10, \\.\COM10 and com10 alike.
        const char* name = portName;
        if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
        size_t n = 0;
        for (; name[n] != '\0' && n + 1 < sizeof identity_; ++n) {
            char c = name[n];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            identity_[n] = c == '\\' ? '_' : c;
        }
        identity_[n] = '\0';
        char mutexName[sizeof identity_ + 32] = "Local\\kestrel-port-";
        std::strncat(mutexName, identity_, sizeof mutexName - std::strlen(mutexName) - 1);
        HANDLE h = CreateMutexA(nullptr, FALSE, mutexName);
        if (h == nullptr) {
            why->set(static_cast<int>(GetLastError()), portName);
            return false;
        }
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(h);
            why->set(0, portName, "in use by another update session");
            return false;
        }
        handle_ = h;
        return true;
    }

    void release() override {
        if (handle_ != nullptr) CloseHandle(handle_);
        handle_ = nullptr;
    }

    const char* identity() const override { return identity_; }

  private:
    HANDLE handle_ = nullptr;
    char identity_[kPortIdentityCapacity] = {};
};

}  // namespace

std::unique_ptr<PortLock> createPlatformPortLock() {
    return std::unique_ptr<PortLock>(new Win32PortLock);
}

}  // namespace kestrel
