// kestrel-modem-sim: a simulated radio module behind a pseudo-terminal, for demos and the
// end-to-end tests. See docs/simulator.md.
#include <cstdio>
#include <string>
#include <vector>

#include "modem_sim/expected_image.h"
#include "modem_sim/sim_options.h"
#include "modem_sim/simulator.h"

int main(int argc, char** argv) {
    using namespace kestrel::sim;
    SimOptions options;
    std::string error;
    switch (parseSimOptions(argc, argv, &options, &error)) {
        case ParseOutcome::Help:
            printSimUsage(stdout);
            return 0;
        case ParseOutcome::Error:
            std::fprintf(stderr, "kestrel-modem-sim: %s\n", error.c_str());
            printSimUsage(stderr);
            return 2;
        case ParseOutcome::Run:
            break;
    }
    std::vector<std::vector<uint8_t>> expected;
    if (!options.imagePath.empty() &&
        !loadExpectedRecords(options.imagePath.c_str(), &expected, &error)) {
        std::fprintf(stderr, "kestrel-modem-sim: %s\n", error.c_str());
        return 2;
    }
    const bool haveImage = !options.imagePath.empty();
    Simulator simulator(std::move(options), haveImage ? &expected : nullptr);
    return simulator.run();
}
