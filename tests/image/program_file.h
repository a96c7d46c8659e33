// Builds program files with an appended image byte by byte: filler standing for the program,
// the marker, whole records and records cut short by the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel::test {

class ProgramFile {
  public:
    // Program bytes that can never take part in a marker (no 0x00 among them).
    ProgramFile& filler(size_t count);
    ProgramFile& marker();
    ProgramFile& bytes(const std::vector<uint8_t>& values);
    // A whole record with a payload of `length` bytes, remembered in payloads().
    ProgramFile& record(uint8_t length);
    ProgramFile& records(const std::vector<uint8_t>& lengths);
    // Whole records of up to 72 bytes until the file is exactly `size` bytes long.
    ProgramFile& recordsUpTo(size_t size);
    // A record announcing `length` payload bytes of which only `present` follow.
    ProgramFile& cutRecord(uint8_t length, uint8_t present);

    const std::vector<uint8_t>& data() const { return data_; }
    size_t size() const { return data_.size(); }
    // Payloads of the whole records, in file order.
    const std::vector<std::vector<uint8_t>>& payloads() const { return payloads_; }

  private:
    std::vector<uint8_t> nextPayload(size_t length);

    std::vector<uint8_t> data_;
    std::vector<std::vector<uint8_t>> payloads_;
};

// The longest program that leaves the marker's 0xFF within the first 100000 bytes.
constexpr size_t kLongestProgram = 100000 - 256;

}  // namespace kestrel::test
