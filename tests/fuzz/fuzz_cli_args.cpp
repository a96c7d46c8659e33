// kestrel-cli's command line: arguments are the input split at its NUL bytes. Whatever they
// say, the result is one of the commands, a run has a port and a rate a module takes, and
// every text stays within its 260 bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "fuzz/fuzz_check.h"

namespace {

bool isModuleRate(const char* text) {
    static const char* const kRates[] = {"300",   "1200",  "2400",   "4800",   "9600",   "19200",
                                         "38400", "57600", "115200", "230400", "460800", "921600"};
    for (const char* rate : kRates)
        if (std::strcmp(text, rate) == 0) return true;
    return false;
}

bool bounded(const char (&text)[kestrel::kTextCapacity]) {
    return strnlen(text, kestrel::kTextCapacity) < kestrel::kTextCapacity;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"kestrel-cli"};
    std::string arg;
    for (size_t i = 0; i < size && args.size() < 32; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg.push_back(static_cast<char>(data[i]));
        }
    }
    if (!arg.empty() && args.size() < 32) args.push_back(arg);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);

    kestrel::CliOptions options;
    options.ports.assign(3, std::string(300, 'x'));  // nothing may be left over from before
    std::memset(&options.fields, 0x5A, sizeof options.fields);
    char error[kestrel::kTextCapacity];
    std::memset(error, 0x5A, sizeof error);
    const kestrel::CliCommand command =
        kestrel::parseCliArgs(static_cast<int>(args.size()), argv.data(), &options, error);
    const kestrel::SessionFields& fields = options.fields;

    FUZZ_CHECK(bounded(error));
    switch (command) {
        case kestrel::CliCommand::Run:
        case kestrel::CliCommand::Check: {
            FUZZ_CHECK(error[0] == '\0');
            FUZZ_CHECK(bounded(fields.portName) && bounded(fields.firmwareName));
            FUZZ_CHECK(isModuleRate(fields.rateText));
            // Every port named, in order, cut like a field; --check makes it a check.
            std::vector<std::string> ports;
            bool check = false;
            for (size_t i = 1; i < args.size(); ++i) {
                if (args[i] == "--port" && i + 1 < args.size()) {
                    ports.push_back(args[++i].substr(0, 259));
                } else if (args[i].rfind("--port=", 0) == 0) {
                    ports.push_back(args[i].substr(7, 259));
                } else if (args[i] == "--check") {
                    check = true;
                } else if ((args[i] == "--rate" || args[i] == "--firmware-name" ||
                            args[i] == "--log") &&
                           i + 1 < args.size()) {
                    ++i;  // a value, even one that looks like an option
                }
            }
            FUZZ_CHECK(!ports.empty() && ports == options.ports);
            FUZZ_CHECK(check == (command == kestrel::CliCommand::Check));
            FUZZ_CHECK(ports[0] == fields.portName);
            FUZZ_CHECK(options.station.empty());
            break;
        }
        case kestrel::CliCommand::Station:
            FUZZ_CHECK(!options.station.empty() && options.ports.empty());
            break;
        case kestrel::CliCommand::List:
            FUZZ_CHECK(options.ports.empty() && options.station.empty());
            break;
        case kestrel::CliCommand::UsageError:
            FUZZ_CHECK(error[0] != '\0');
            break;
        case kestrel::CliCommand::Help:
        case kestrel::CliCommand::Version:
        case kestrel::CliCommand::ImageInfo:
            break;
        default:
            FUZZ_CHECK(!"a command outside the enumeration");
    }
    return 0;
}
