// Byte strings, temporary folders and tool runs for the image tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_image.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

// The longest program that leaves its marker ending within the first 100,000 bytes.
constexpr size_t kLongestProgram = 100000 - 256;

// The parts back to back: byte strings, or records as an image holds them.
inline Bytes cat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Made at run time from an opaque length: a table the compiler folded would itself be a
// marker inside the test program.
inline Bytes imageMarker() {
    static volatile unsigned length = 256;
    Bytes marker(length);
    for (size_t i = 0; i < marker.size(); ++i)
        marker[i] = static_cast<uint8_t>(i);
    return marker;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary);
    if (!bytes.empty()) f.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ASSERT_TRUE(f.flush()) << path;
}

// A fresh folder, removed with its contents at the end.
struct TempDir {
    std::string path = makeFolder();
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string makeFolder() {
        std::string pattern = testing::TempDir() + "kestrel-image-XXXXXX";
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
        return pattern;
    }
};

struct ToolRun {
    int exitCode;  // -1 when it did not exit normally
    std::string out, err;
};

// Our paths and arguments hold no single quotes, so quoting each for the shell suffices.
inline ToolRun runTool(const std::string& program, const std::vector<std::string>& args) {
    TempDir capture;
    std::string command = "'" + program + "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " >" + capture.file("out") + " 2>" + capture.file("err");
    const int status = std::system(command.c_str());
    const Bytes out = readFile(capture.file("out")), err = readFile(capture.file("err"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

}  // namespace kestrel::test
