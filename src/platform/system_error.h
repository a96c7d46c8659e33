// Why an operation on the system failed, kept from the call that failed up to the front end
// that shows it: the system's own code (errno on POSIX, GetLastError on Win32), the path it
// concerned, and our own words where the system gave no code.
#pragma once

#include <cstddef>

namespace kestrel {

// Room for a path of 259 characters plus the four-character device-namespace prefix.
constexpr size_t kReasonPathCapacity = 264;

struct SystemError {
    int code = 0;                // errno or GetLastError(); 0 when the system gave none
    const char* what = nullptr;  // a constant text of ours, used when `code` is 0
    char path[kReasonPathCapacity] = {};

    bool known() const { return code != 0 || what != nullptr; }
    // Records a failure; `path` is cut to fit. `what` must be a constant text.
    void set(int systemCode, const char* concerning, const char* ownWords = nullptr);
    void clear() { *this = SystemError(); }
};

// The calling thread's last system error code (errno, GetLastError()).
int lastSystemErrorCode();

// The system's message for `code` ("Permission denied"), NUL-terminated, cut to `capacity`.
void systemErrorText(int code, char* out, size_t capacity);

// "PATH: MESSAGE", or just the message without a path; empty when nothing is known.
void describeSystemError(const SystemError& error, char* out, size_t capacity);

}  // namespace kestrel
