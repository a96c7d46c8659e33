#include "cli/cli_args.h"

#include <cstring>

namespace kestrel {

namespace {

enum class Option {
    Port,
    Rate,
    FirmwareName,
    Usb,
    NoFirmware,
    Json,
    Station,
    IncludePresent,
    QuietTime,
    Log,
    List,
    Help,
    Version,
    ImageInfo,
    Check
};

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
    {"--json", Option::Json, false},
    {"--station", Option::Station, true},
    {"--include-present", Option::IncludePresent, false},
    {"--quiet-time", Option::QuietTime, true},
    {"--log", Option::Log, true},
    {"--list", Option::List, false},
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

// Whole seconds 0..3600 written as plain digits.
bool parseSeconds(const char* text, uint32_t* ms) {
    const size_t n = std::strlen(text);
    if (n == 0 || n > 4) return false;
    uint32_t seconds = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        seconds = seconds * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    if (seconds > 3600) return false;
    *ms = seconds * 1000;
    return true;
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
    // Cut like every text: an argument may be as long as the command line allows.
    copyText(error, (std::string(what) + " '" + arg + "'").c_str());
    return CliCommand::UsageError;
}

CliCommand usageError(char (&error)[kTextCapacity], const char* what) {
    std::snprintf(error, sizeof error, "%s", what);
    return CliCommand::UsageError;
}

// What the options ask for once every one is read, or a usage error.
CliCommand commandOf(const CliOptions& o, bool list, bool check, char (&error)[kTextCapacity]) {
    const bool station = !o.station.empty();
    if (list) {
        if (!o.ports.empty() || station || check) return usageError(error, "--list stands alone");
        return CliCommand::List;
    }
    if (station && !o.ports.empty())
        return usageError(error, "--station and --port exclude each other");
    if (station && check) return usageError(error, "--check needs --port, not --station");
    if (!station && o.includePresent)
        return usageError(error, "--include-present and --quiet-time belong to --station");
    if (station) return CliCommand::Station;
    if (o.ports.empty()) return usageError(error, "--port NAME is required");
    if (check && (o.json || !o.logPath.empty()))
        return usageError(error, "--check takes neither --json nor --log");
    return check ? CliCommand::Check : CliCommand::Run;
}

}  // namespace

CliCommand parseCliArgs(int argc, const char* const* argv, CliOptions* options,
                        char (&error)[kTextCapacity]) {
    *options = CliOptions{};
    CliOptions& o = *options;
    copyText(o.fields.rateText, "115200");
    error[0] = '\0';
    bool check = false;
    bool list = false;
    bool quietTimeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        const OptionName* opt = findOption(arg, &value);
        if (opt == nullptr) return usageError(error, "unknown argument", arg);
        if (!opt->takesValue && value != nullptr)
            return usageError(error, "option takes no value:", arg);
        if (opt->takesValue && value == nullptr) {
            if (i + 1 >= argc) return usageError(error, "missing value for", arg);
            value = argv[++i];
        }
        switch (opt->option) {
            case Option::Port: {
                char name[kTextCapacity];
                copyText(name, value);
                if (name[0] == '\0') return usageError(error, "empty port name");
                for (const std::string& p : o.ports)
                    if (p == name) return usageError(error, "port named twice:", name);
                o.ports.push_back(name);
                if (o.ports.size() == 1) copyText(o.fields.portName, name);
                break;
            }
            case Option::Rate:
                if (!isModuleRate(value))
                    return usageError(error, "not a rate a module takes (see --help):", value);
                copyText(o.fields.rateText, value);
                break;
            case Option::FirmwareName:
                copyText(o.fields.firmwareName, value);
                break;
            case Option::Usb:
                o.fields.usb = true;
                break;
            case Option::NoFirmware:
                o.fields.noFirmware = true;
                break;
            case Option::Json:
                o.json = true;
                break;
            case Option::Station:
                if (value[0] == '\0') return usageError(error, "empty --station pattern");
                o.station = value;
                break;
            case Option::IncludePresent:
                o.includePresent = true;
                break;
            case Option::QuietTime:
                if (!parseSeconds(value, &o.quietTimeMs))
                    return usageError(error, "not a whole number of seconds 0..3600:", value);
                quietTimeGiven = true;
                break;
            case Option::Log:
                if (value[0] == '\0') return usageError(error, "empty --log path");
                o.logPath = value;
                break;
            case Option::List:
                list = true;
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
    if (quietTimeGiven && o.station.empty())
        return usageError(error, "--include-present and --quiet-time belong to --station");
    return commandOf(o, list, check, error);
}

void printCliUsage(FILE* out) {
    std::fputs(
        "usage: kestrel-cli --port NAME [--port NAME ...] [--rate RATE] [--usb]\n"
        "                   [--no-firmware] [--firmware-name NAME] [--json] [--log PATH]\n"
        "       kestrel-cli --station PATTERN [--include-present] [--quiet-time S] [options]\n"
        "       kestrel-cli --check --port NAME [--usb]\n"
        "       kestrel-cli --list [--json]\n"
        "       kestrel-cli --help | --version | --image-info\n"
        "\n"
        "Writes the firmware image appended to this program into the module at port NAME,\n"
        "as the Kestrel window does when START is pressed.\n"
        "\n"
        "  --port NAME           the serial port (a device path such as /dev/ttyUSB0, or COMn);\n"
        "                        several --port options update their modules at the same time\n"
        "  --rate RATE           the line rate (default 115200), one of 300, 1200, 2400, 4800,\n"
        "                        9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600\n"
        "  --usb                 the port is the module's USB virtual port\n"
        "  --no-firmware         the module holds no or invalid firmware: restart it blind\n"
        "  --firmware-name NAME  a name ending in .uusf asks for a block update\n"
        "  --json                one JSON object per line on standard output, nothing else\n"
        "                        (the events are described in docs/json-events.md)\n"
        "  --log PATH            write a transcript of the line to PATH (with several ports\n"
        "                        one file each: PATH with the port's name before its extension);\n"
        "                        without it a failed update's transcript is kept under\n"
        "                        $XDG_STATE_HOME/kestrel/ and its place told on standard error\n"
        "  --station PATTERN     wait for serial ports matching PATTERN (a glob such as\n"
        "                        '/dev/serial/by-id/usb-*-if00') and update each module that\n"
        "                        appears, until interrupted (docs/station.md)\n"
        "  --include-present     a station also updates the modules present when it starts\n"
        "  --quiet-time S        a finished unit without a serial number is known by its port\n"
        "                        until that port has been gone S seconds (default 10)\n"
        "  --check               only see whether an update could start on the port: open and\n"
        "                        close it, send and read nothing\n"
        "  --list                the machine's serial ports, with their stable names and USB ids\n"
        "  --image-info          tell the firmware image this program carries, touching no port\n"
        "  --version             the program's version and its image\n"
        "\n"
        "Every status text goes to standard output on a line of its own (with several ports\n"
        "behind its port's name); progress goes to standard error when that is a terminal.\n"
        "Ctrl-C ends an update the way a failure does (the module is handed back); a second\n"
        "Ctrl-C ends at once.\n"
        "\n"
        "Exit codes:\n"
        "  0    the update succeeded\n"
        "  1    several ports or a station: at least one update did not succeed\n"
        "  2    usage error\n"
        "  3    the port could not be opened (missing, no permission, busy): module untouched\n"
        "  4    the firmware image in this program is missing or damaged: module untouched\n"
        "  5    the module was not brought into download mode, or sent no start signal:\n"
        "       its firmware was not written\n"
        "  6    the transfer failed part-way: update the module again with --no-firmware\n"
        "  7    every block was accepted but the hand-back failed (rate not restored, module\n"
        "       not switched off)\n"
        "  130  interrupted by SIGINT (Ctrl-C); 143 by SIGTERM\n"
        "--check exits 0 when the port can be opened, 3 when it cannot; --list exits 0.\n",
        out);
}

}  // namespace kestrel
