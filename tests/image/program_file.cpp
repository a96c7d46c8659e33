#include "image/program_file.h"

#include "image/test_files.h"

namespace kestrel::test {

ProgramFile& ProgramFile::filler(size_t count) {
    for (size_t i = 0; i < count; ++i)
        data_.push_back(static_cast<uint8_t>(0x41 + i % 26));
    return *this;
}

ProgramFile& ProgramFile::marker() {
    return bytes(imageMarker());
}

ProgramFile& ProgramFile::bytes(const std::vector<uint8_t>& values) {
    data_.insert(data_.end(), values.begin(), values.end());
    return *this;
}

// Every record gets different payload bytes (all values occur), so a record read from the
// wrong place never matches by accident.
std::vector<uint8_t> ProgramFile::nextPayload(size_t length) {
    std::vector<uint8_t> payload;
    const size_t salt = payloads_.size() * 37 + 1;
    for (size_t k = 0; k < length; ++k)
        payload.push_back(static_cast<uint8_t>(salt + k * 11));
    return payload;
}

ProgramFile& ProgramFile::record(uint8_t length) {
    std::vector<uint8_t> payload = nextPayload(length);
    data_.push_back(length);
    bytes(payload);
    payloads_.push_back(payload);
    return *this;
}

ProgramFile& ProgramFile::records(const std::vector<uint8_t>& lengths) {
    for (uint8_t length : lengths)
        record(length);
    return *this;
}

ProgramFile& ProgramFile::recordsUpTo(size_t size) {
    while (data_.size() + 1 + 72 + 1 <= size)
        record(72);
    if (data_.size() < size) record(static_cast<uint8_t>(size - data_.size() - 1));
    return *this;
}

ProgramFile& ProgramFile::cutRecord(uint8_t length, uint8_t present) {
    const std::vector<uint8_t> payload = nextPayload(length);
    data_.push_back(length);
    data_.insert(data_.end(), payload.begin(), payload.begin() + present);
    return *this;
}

}  // namespace kestrel::test
