#include "support/test_image.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace kestrel::test {

Record makeRecord(uint8_t length, uint32_t seed) {
    Record r;
    r.push_back(length);
    uint32_t x = seed * 2654435761u + 12345u;
    for (int i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        r.push_back(static_cast<uint8_t>(x));
    }
    return r;
}

std::vector<Record> makeRecords(size_t count, const std::vector<uint8_t>& lengths) {
    std::vector<Record> records;
    for (size_t i = 0; i < count; ++i)
        records.push_back(makeRecord(lengths[i % lengths.size()], static_cast<uint32_t>(i + 1)));
    return records;
}

std::string writeTempFile(const std::vector<uint8_t>& bytes) {
    char path[] = "/tmp/kestrel-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return path;
}

TestImageFile::TestImageFile(const std::vector<Record>& records, uint32_t programSize,
                             const std::vector<uint8_t>& trailing) {
    std::vector<uint8_t> bytes;
    bytes.reserve(programSize + 256 + records.size() * 73 + trailing.size());
    // Filler that can never contain the ascending marker: only the values 'K' and 'P'.
    for (uint32_t i = 0; i < programSize; ++i)
        bytes.push_back(i % 3 ? 'K' : 'P');
    for (int v = 0; v < 256; ++v)
        bytes.push_back(static_cast<uint8_t>(v));
    for (const Record& r : records)
        bytes.insert(bytes.end(), r.begin(), r.end());
    bytes.insert(bytes.end(), trailing.begin(), trailing.end());
    path_ = writeTempFile(bytes);
}

TestImageFile::~TestImageFile() {
    std::remove(path_.c_str());
}

}  // namespace kestrel::test
