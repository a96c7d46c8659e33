// Program files with an appended image, built on disk for the image reader and the session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

using Record = std::vector<uint8_t>;  // length byte first, as on the wire

// A record of `length` payload bytes whose content depends on `seed`.
Record makeRecord(uint8_t length, uint32_t seed);
// `count` records of the given length pattern (cycled), each different.
std::vector<Record> makeRecords(size_t count, const std::vector<uint8_t>& lengths = {72});

// A file: `programSize` filler bytes (free of the marker), the marker, the records back to
// back, then `trailing` extra bytes (to cut a record short, pass a partial record here).
// The file is removed when the object goes.
class TestImageFile {
  public:
    TestImageFile(const std::vector<Record>& records, uint32_t programSize = 99744,
                  const std::vector<uint8_t>& trailing = {});
    ~TestImageFile();
    TestImageFile(const TestImageFile&) = delete;
    TestImageFile& operator=(const TestImageFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Writes raw bytes to a fresh temporary file and returns its path (caller removes it).
std::string writeTempFile(const std::vector<uint8_t>& bytes);

}  // namespace kestrel::test
