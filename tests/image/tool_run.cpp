#include "image/tool_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "image/test_files.h"

extern char** environ;

namespace kestrel::test {

namespace {
std::string fileText(const std::string& path) {
    const std::vector<uint8_t> bytes = readBinaryFile(path);
    return std::string(bytes.begin(), bytes.end());
}
}  // namespace

ToolRun runTool(const std::string& program, const std::vector<std::string>& args) {
    ToolRun run;
    // Output goes to a folder of its own, so the tool's working files are all that its
    // output folder holds.
    TempDir capture;
    const std::string outPath = capture.file("stdout");
    const std::string errPath = capture.file("stderr");

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return run;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            ADD_FAILURE() << "waitpid failed for " << program;
            return run;
        }
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.out = fileText(outPath);
    run.err = fileText(errPath);
    return run;
}

}  // namespace kestrel::test
