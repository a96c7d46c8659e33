// The serial port on Windows: a COM device driven through the Win32 communications calls.
// Each function below states what it achieves and which call achieves it.
//
// Under wine (where the tests run) a pty stands behind the COM name: EscapeCommFunction and
// GetCommModemStatus then fail with ERROR_NOT_SUPPORTED, and a rate the pty cannot take is
// read back as 38400. Both surface as ordinary failures of setDtr(), readCts() and the
// driver's read-back check; nothing here special-cases them.
#include <windows.h>

#include <cstring>

#include "serial/com_port_name.h"
#include "serial/serial_os.h"

namespace kestrel {

namespace {

// Everything ClearCommError counts as a receive error: framing, overrun, input-buffer
// overflow, parity and break. Transmit-side flags are not ours to care about.
constexpr DWORD kReceiveErrors = CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_RXPARITY | CE_BREAK;

// The read waits at most this long in total for its one byte.
constexpr DWORD kReadTotalTimeoutMs = 5;

class Win32SerialOs final : public SerialOs {
  public:
    ~Win32SerialOs() override { close(); }

    // open(): CreateFileA for reading and writing, shared for reading and writing, an
    // existing device only, no flags: transfers block (no overlapped I/O). First under the
    // name as Windows wants it, then once more in the device namespace (com_port_name.h).
    bool open(const char* name, SystemError* why) override {
        close();
        char first[kComPathCapacity];
        char second[kComPathCapacity];
        if (!comPortPaths(name, first, second)) {
            why->set(0, name, "port name too long");
            return false;
        }
        if (createFile(first) || createFile(second)) return true;
        why->set(lastSystemErrorCode(), first);
        return false;
    }

    // applySettings(): SetCommState with a DCB for 8N1, binary, no flow control of any kind,
    // RTS on, DTR as the record says; every other DCB field stays zero.
    bool applySettings(const LineSettings& s) override {
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = s.rate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = 1;
        dcb.fDtrControl = s.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        // None of these take effect, since the features that use them are off.
        dcb.XonChar = 0x6E;
        dcb.XoffChar = 0x66;
        dcb.ErrorChar = 0x72;
        dcb.EofChar = 0x00;
        dcb.EvtChar = 0x76;
        return SetCommState(handle_, &dcb) != 0;
    }

    // readRate(): GetCommState; its BaudRate is the rate the device runs at.
    bool readRate(uint32_t* rate) override {
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return false;
        *rate = dcb.BaudRate;
        return true;
    }

    // applyTimeouts(): SetCommTimeouts. A read returns as soon as a byte is there, or after
    // 5 ms in total without one; writes have no timeout at all.
    bool applyTimeouts() override {
        COMMTIMEOUTS t;
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = 0;
        return SetCommTimeouts(handle_, &t) != 0;
    }

    // setDtr(): EscapeCommFunction with SETDTR or CLRDTR switches the line at once.
    bool setDtr(bool on) override { return EscapeCommFunction(handle_, on ? SETDTR : CLRDTR) != 0; }

    // readCts(): GetCommModemStatus, bit MS_CTS_ON.
    bool readCts(bool* on) override {
        DWORD status = 0;
        if (!GetCommModemStatus(handle_, &status)) return false;
        *on = (status & MS_CTS_ON) != 0;
        return true;
    }

    // purge(): PurgeComm ends pending transfers and clears both buffers. ClearCommError then
    // drops the error flags of the bytes thrown away, so the framing errors of a rate search
    // cannot spoil the first clean byte read after it (its result does not matter here).
    bool purge() override {
        if (!PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
            return false;
        DWORD errors = 0;
        ClearCommError(handle_, &errors, nullptr);
        return true;
    }

    // dropInput(): PurgeComm of the receive side, then ClearCommError as for purge().
    bool dropInput() override {
        if (!PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR)) return false;
        DWORD errors = 0;
        ClearCommError(handle_, &errors, nullptr);
        return true;
    }

    // bytesWaiting(): the receive queue's count from ClearCommError. It resets the error
    // flags too, so it is asked only where no checked read follows.
    bool bytesWaiting(uint32_t* count) override {
        DWORD errors = 0;
        COMSTAT stat;
        if (!ClearCommError(handle_, &errors, &stat)) return false;
        *count = stat.cbInQue;
        return true;
    }

    // takeLineErrors(): ClearCommError reports and resets the device's error flags.
    bool takeLineErrors(bool* any) override {
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, nullptr)) return false;
        *any = (errors & kReceiveErrors) != 0;
        return true;
    }

    // readByte(): ReadFile of one byte; the 5 ms total timeout bounds the wait. A port whose
    // device is gone answers at once, every time, with a failure or with no byte (under wine,
    // on a hung-up pty, only after polling through the whole 5 ms): a read without a byte
    // asks the device whether it still answers (GetCommState, which changes nothing), and
    // while it does not, no ReadFile is tried. Each read without a byte takes its 5 ms, or a
    // caller's timed read would spin a core until its limit.
    bool readByte(uint8_t* byte, bool* got) override {
        *got = false;
        const LONGLONG start = nowMs();
        bool ok = false;
        if (!deviceGone_ || deviceAnswers()) {
            DWORD n = 0;
            ok = ReadFile(handle_, byte, 1, &n, nullptr) != 0;
            *got = ok && n == 1;
            deviceGone_ = !*got && !deviceAnswers();
        }
        if (!*got) {
            const LONGLONG spentMs = nowMs() - start;
            if (spentMs >= 0 && spentMs < static_cast<LONGLONG>(kReadTotalTimeoutMs))
                Sleep(kReadTotalTimeoutMs - static_cast<DWORD>(spentMs));
        }
        return ok;
    }

    // write(): one WriteFile; without a write timeout it returns when the device has taken
    // every byte (or failed), and the count says how far it got.
    uint32_t write(const uint8_t* bytes, uint32_t count) override {
        DWORD n = 0;
        WriteFile(handle_, bytes, count, &n, nullptr);
        return n;
    }

    // close(): CloseHandle. Harmless when nothing is open.
    void close() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        deviceGone_ = false;
    }

  private:
    bool createFile(const char* path) {
        handle_ =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        return handle_ != INVALID_HANDLE_VALUE;
    }

    bool deviceAnswers() {
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        return GetCommState(handle_, &dcb) != 0;
    }

    static LONGLONG nowMs() {
        LARGE_INTEGER now, ticksPerSecond;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&ticksPerSecond);
        return now.QuadPart * 1000 / (ticksPerSecond.QuadPart > 0 ? ticksPerSecond.QuadPart : 1);
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool deviceGone_ = false;  // the last read found the device no longer answering
};

}  // namespace

std::unique_ptr<SerialOs> createPlatformSerialOs() {
    return std::unique_ptr<SerialOs>(new Win32SerialOs);
}

}  // namespace kestrel
