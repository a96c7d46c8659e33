#include "image/test_files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestrel::test {

TempDir::TempDir() {
    std::string pattern = testing::TempDir() + "kestrel-image-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    if (!made) ADD_FAILURE() << "mkdtemp failed for " << pattern;
    path_ = pattern;
}

TempDir::~TempDir() {
    for (const std::string& name : entries())
        ::unlink(file(name).c_str());
    ::rmdir(path_.c_str());
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path_.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void writeBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    // An empty vector's data() may be null, which fwrite must not get.
    const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    EXPECT_EQ(std::fclose(f), 0);
    ASSERT_EQ(written, bytes.size()) << path;
}

std::vector<uint8_t> readBinaryFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> imageMarker() {
    // Opaque start and count: a loop the compiler fully knows may become constant bytes.
    static volatile uint8_t first = 0;
    static volatile unsigned length = 256;
    std::vector<uint8_t> marker;
    uint8_t value = first;
    for (unsigned i = 0, n = length; i < n; ++i)
        marker.push_back(value++);
    return marker;
}

}  // namespace kestrel::test
