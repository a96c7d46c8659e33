// Placeholder until the POSIX backend lands: every device fails to open.
#include "serial/serial_os.h"

namespace kestrel {
namespace {
class NoSerialOs final : public SerialOs {
  public:
    bool open(const char*) override { return false; }
    bool deviceNamespaceForm(const char*, char*, size_t) override { return false; }
    bool applySettings(const LineSettings&) override { return false; }
    bool readRate(uint32_t*) override { return false; }
    bool applyTimeouts() override { return false; }
    bool setDtr(bool) override { return false; }
    bool readCts(bool*) override { return false; }
    bool purge() override { return false; }
    bool takeLineErrors(bool*) override { return false; }
    bool readByte(uint8_t*, bool* got) override {
        *got = false;
        return false;
    }
    uint32_t write(const uint8_t*, uint32_t) override { return 0; }
    void close() override {}
};
}  // namespace
SerialOs& platformSerialOs() {
    static NoSerialOs instance;
    return instance;
}
}  // namespace kestrel
