#include "session/session_settings.h"

#include <cstring>

namespace kestrel {

int32_t convertRateText(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit) value = limit;  // stays clamped for every further digit
    }
    return static_cast<int32_t>(negative ? -value : value);
}

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

void normalizePortName(const char* portName, char (&devicePath)[kDevicePathCapacity]) {
    const size_t n = strnlen(portName, kTextCapacity - 1);
    if (n > 4 && std::strncmp(portName, "COM", 3) == 0) {
        std::memcpy(devicePath, "\\\\.\\", 4);
        std::memcpy(devicePath + 4, portName, n);
        devicePath[4 + n] = '\0';
        return;
    }
    std::memcpy(devicePath, portName, n);
    devicePath[n] = '\0';
}

}  // namespace kestrel
