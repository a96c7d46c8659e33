// Runs one of our command-line tools and collects its exit code and output.
#pragma once

#include <string>
#include <vector>

namespace kestrel::test {

struct ToolRun {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

ToolRun runTool(const std::string& program, const std::vector<std::string>& args);

}  // namespace kestrel::test
