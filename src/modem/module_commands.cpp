#include "modem/module_commands.h"

#include <cstdio>
#include <cstring>

#include "modem/at_command.h"
#include "modem/rate_text.h"

namespace kestrel {

namespace {

const char kDownloadCommand[] = "AT^SFDL\r";

int send(SerialPort& port, const char* command) {
    char reply[kReplyCapacity];
    return sendAtCommand(port, command, reply, sizeof reply);
}

}  // namespace

bool queryModuleRate(SerialPort& port, int32_t* rate) {
    char reply[kReplyCapacity];
    sendAtCommand(port, "AT+IPR?\r", reply, sizeof reply);
    // Blank lines and spaces before the information line are noise; a short reply is kept.
    const char* p = reply;
    size_t n = std::strlen(p);
    while (n > 8 && (*p == ' ' || *p == '\r' || *p == '\n')) {
        ++p;
        --n;
    }
    if (std::strncmp(p, "+IPR: ", 6) != 0) return false;
    *rate = convertRateText(p + 6);
    return true;
}

int moveModuleRate(SerialPort& port, int32_t rate) {
    char command[32];
    std::snprintf(command, sizeof command, "AT+IPR=%d\r", static_cast<int>(rate));
    return send(port, command);
}

int requestDownloadMode(SerialPort& port) {
    return send(port, kDownloadCommand);
}

void sendBlindDownloadCommand(SerialPort& port) {
    port.writeBytes(reinterpret_cast<const uint8_t*>(kDownloadCommand),
                    sizeof kDownloadCommand - 1);
}

int switchModuleOff(SerialPort& port) {
    return send(port, "AT^SMSO\r");
}

}  // namespace kestrel
