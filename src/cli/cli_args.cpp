#include "cli/cli_args.h"

#include <cstring>

namespace kestrel {

namespace {

enum class Option { Port, Rate, FirmwareName, Usb, NoFirmware, Help, Version, ImageInfo, Check };

struct OptionName {
    const char* name;
    Option option;
    bool takesValue;
};

constexpr OptionName kOptions[] = {
    {"--port", Option::Port, true},
    {"--rate", Option::Rate, true},
    {"--firmware-name", Option::FirmwareName, true},
    {"--usb", Option::Usb, false},
    {"--no-firmware", Option::NoFirmware, false},
    {"--help", Option::Help, false},
    {"-h", Option::Help, false},
    {"--version", Option::Version, false},
    {"--image-info", Option::ImageInfo, false},
    {"--check", Option::Check, false},
};

// The rates a module takes: anything else would reach it as a rate it refuses or, worse,
// as another rate than the one typed ("1e6" converts to 1).
constexpr const char* kRates[] = {"300",   "1200",  "2400",   "4800",   "9600",   "19200",
                                  "38400", "57600", "115200", "230400", "460800", "921600"};

bool isModuleRate(const char* text) {
    for (const char* rate : kRates)
        if (std::strcmp(text, rate) == 0) return true;
    return false;
}

// Finds `arg` ("--name" or "--name=value"); `inlineValue` points behind the '=' if any.
const OptionName* findOption(const char* arg, const char** inlineValue) {
    *inlineValue = nullptr;
    const char* eq = std::strchr(arg, '=');
    const size_t nameLength = eq != nullptr ? static_cast<size_t>(eq - arg) : std::strlen(arg);
    for (const OptionName& o : kOptions) {
        if (std::strlen(o.name) == nameLength && std::strncmp(o.name, arg, nameLength) == 0) {
            if (eq != nullptr) *inlineValue = eq + 1;
            return &o;
        }
    }
    return nullptr;
}

CliCommand usageError(char (&error)[kTextCapacity], const char* what, const char* arg) {
    std::snprintf(error, sizeof error, "%s '%s'", what, arg);
    return CliCommand::UsageError;
}

}  // namespace

CliCommand parseCliArgs(int argc, const char* const* argv, SessionFields* fields,
                        char (&error)[kTextCapacity]) {
    *fields = SessionFields{};
    copyText(fields->rateText, "115200");
    error[0] = '\0';
    bool havePort = false;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        const OptionName* o = findOption(arg, &value);
        if (o == nullptr) return usageError(error, "unknown argument", arg);
        if (!o->takesValue && value != nullptr)
            return usageError(error, "option takes no value:", arg);
        if (o->takesValue && value == nullptr) {
            if (i + 1 >= argc) return usageError(error, "missing value for", arg);
            value = argv[++i];
        }
        switch (o->option) {
            case Option::Port:
                copyText(fields->portName, value);
                havePort = true;
                break;
            case Option::Rate:
                if (!isModuleRate(value))
                    return usageError(error, "not a rate a module takes (see --help):", value);
                copyText(fields->rateText, value);
                break;
            case Option::FirmwareName:
                copyText(fields->firmwareName, value);
                break;
            case Option::Usb:
                fields->usb = true;
                break;
            case Option::NoFirmware:
                fields->noFirmware = true;
                break;
            case Option::Help:
                return CliCommand::Help;
            case Option::Version:
                return CliCommand::Version;
            case Option::ImageInfo:
                return CliCommand::ImageInfo;
            case Option::Check:
                check = true;
                break;
        }
    }
    if (!havePort) {
        std::snprintf(error, sizeof error, "--port NAME is required");
        return CliCommand::UsageError;
    }
    return check ? CliCommand::Check : CliCommand::Run;
}

void printCliUsage(FILE* out) {
    std::fputs(
        "usage: kestrel-cli --port NAME [--rate RATE] [--usb] [--no-firmware]\n"
        "                   [--firmware-name NAME]\n"
        "       kestrel-cli --check --port NAME [--usb]\n"
        "       kestrel-cli --help | --version | --image-info\n"
        "\n"
        "Writes the firmware image appended to this program into the module at port NAME,\n"
        "as the Kestrel window does when START is pressed.\n"
        "\n"
        "  --port NAME           the serial port (a device path such as /dev/ttyUSB0, or COMn)\n"
        "  --rate RATE           the line rate (default 115200), one of 300, 1200, 2400, 4800,\n"
        "                        9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600\n"
        "  --usb                 the port is the module's USB virtual port\n"
        "  --no-firmware         the module holds no or invalid firmware: restart it blind\n"
        "  --firmware-name NAME  a name ending in .uusf asks for a block update\n"
        "  --check               only see whether an update could start on the port: open and\n"
        "                        close it, send and read nothing\n"
        "  --image-info          tell the firmware image this program carries, touching no port\n"
        "  --version             the program's version and its image\n"
        "\n"
        "Every status text goes to standard output on a line of its own; a progress bar goes\n"
        "to standard error when that is a terminal. Exit 0 when the update ended with\n"
        "\"Download succeeded.\", 1 when it did not, 2 on a usage error; --check exits 0 when\n"
        "the port can be opened, 3 when it cannot.\n",
        out);
}

}  // namespace kestrel
