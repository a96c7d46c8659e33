// Temporary folders and whole-file helpers for the image tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

// A fresh, empty folder under the test temp dir; removed with its files on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

void writeBinaryFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBinaryFile(const std::string& path);
bool fileExists(const std::string& path);

// The image marker, made at run time (a constant table would itself be a marker in the
// test program).
std::vector<uint8_t> imageMarker();

}  // namespace kestrel::test
