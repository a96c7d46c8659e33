#include "support/test_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

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

// Only <cstdio>, so the same tests run on Linux and, cross-built, under wine (GoogleTest's
// folder for temporary files is $TEMP there). The name carries 64 random bits, and a file
// that exists already is never written over.
std::string writeTempFile(const std::vector<uint8_t>& bytes) {
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "kestrel-test-%016llx",
                      static_cast<unsigned long long>(random()));
        const std::string path = testing::TempDir() + name;
        if (FILE* existing = std::fopen(path.c_str(), "rb")) {
            std::fclose(existing);
            continue;
        }
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) continue;
        // An empty vector's data() may be null, which fwrite must not be given.
        const bool written =
            bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (std::fclose(f) != 0 || !written) std::abort();
        return path;
    }
    std::abort();
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
