// The simulator's reading of the image it expects: plain records, or a packed program's. Its
// options are exercised by the end-to-end cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modem_sim/expected_image.h"
#include "support/test_image.h"

namespace kestrel::sim {
namespace {

// The records loaded from a file holding `bytes`, or an empty list with `error` set.
std::vector<std::vector<uint8_t>> load(const std::vector<uint8_t>& bytes, std::string* error) {
    const std::string path = test::writeTempFile(bytes);
    std::vector<std::vector<uint8_t>> records;
    if (!loadExpectedRecords(path.c_str(), &records, error)) records.clear();
    std::remove(path.c_str());
    return records;
}

TEST(ExpectedImage, PlainRecordsOrWhatFollowsThePackedProgramsFirstMarkerButNoCutRecord) {
    const std::vector<uint8_t> records = {2, 0xAA, 0xBB, 0, 1, 0x00};
    const std::vector<std::vector<uint8_t>> expected = {{2, 0xAA, 0xBB}, {0}, {1, 0x00}};
    std::vector<uint8_t> packed = {0x7F, 'E', 'L', 'F', 0x00, 0x01, 0x02};  // a false start
    for (int i = 0; i < 256; ++i)
        packed.push_back(static_cast<uint8_t>(i));
    packed.insert(packed.end(), records.begin(), records.end());
    std::string error;
    EXPECT_EQ(load(records, &error), expected) << error;
    EXPECT_EQ(load(packed, &error), expected) << error;
    EXPECT_TRUE(load({3, 1, 2}, &error).empty());
    EXPECT_NE(error.find("record 0"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrel::sim
