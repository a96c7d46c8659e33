#include "session/session_settings.h"

#include <cstring>

namespace kestrel {

void copyText(char (&dst)[kTextCapacity], const char* src) {
    size_t n = src ? strnlen(src, kTextCapacity - 1) : 0;
    std::memcpy(dst, src ? src : "", n);
    dst[n] = '\0';
}

SessionSettings takeSnapshot(const SessionFields& fields) {
    SessionSettings s;
    copyText(s.portName, fields.portName);
    s.rate = convertRateText(fields.rateText);
    s.usb = fields.usb;
    s.noFirmware = fields.noFirmware;
    copyText(s.firmwareName, fields.firmwareName);
    return s;
}

}  // namespace kestrel
