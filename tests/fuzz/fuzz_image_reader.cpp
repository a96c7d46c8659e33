// The image reader over arbitrary program files: the marker (whole, cut short, or missing)
// at any place around the 100,000-byte limit, the bytes before it and the records behind it
// from the input. The reader must agree with the layout worked out the long way: the first
// whole marker ending within the first 100,000 bytes, then records up to the end of the file.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "image/firmware_image.h"
#include "image/image_summary.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Layout {
    bool found = false;
    std::vector<Bytes> payloads;
    bool truncated = false;
};

Layout expectedLayout(const Bytes& file) {
    Layout layout;
    if (file.size() < kestrel::kImageSearchLength) return layout;
    Bytes marker(256);
    std::iota(marker.begin(), marker.end(), 0);
    const auto end = file.begin() + kestrel::kImageSearchLength;
    const auto at = std::search(file.begin(), end, marker.begin(), marker.end());
    if (at == end) return layout;
    layout.found = true;
    size_t pos = static_cast<size_t>(at - file.begin()) + 256;
    while (pos < file.size()) {
        const size_t n = file[pos];
        if (pos + 1 + n > file.size()) {
            layout.truncated = true;
            break;
        }
        layout.payloads.emplace_back(file.begin() + static_cast<long>(pos) + 1,
                                     file.begin() + static_cast<long>(pos + 1 + n));
        pos += 1 + n;
    }
    return layout;
}

// The program file lives in memory, reached by a path as the reader wants it.
const std::string& programPath(int* fd) {
    static int memfd = ::memfd_create("kestrel-fuzz-program", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(memfd);
    *fd = memfd;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t markerAt = in.ConsumeIntegralInRange<size_t>(0, 100100);
    const size_t markerLength = in.ConsumeBool() ? 256 : in.ConsumeIntegralInRange<size_t>(0, 256);
    const uint8_t filler = in.ConsumeIntegral<uint8_t>();
    const std::string before = in.ConsumeRandomLengthString(600);
    // A few hundred bytes of records reach every case; more would only slow each run down.
    const Bytes records = in.ConsumeBytes<uint8_t>(700);

    Bytes file(markerAt, filler);
    std::copy(before.begin(), before.begin() + static_cast<long>(std::min(before.size(), markerAt)),
              file.end() - static_cast<long>(std::min(before.size(), markerAt)));
    for (size_t i = 0; i < markerLength; ++i)
        file.push_back(static_cast<uint8_t>(i));
    file.insert(file.end(), records.begin(), records.end());

    int fd = -1;
    const std::string& path = programPath(&fd);
    FUZZ_CHECK(fd >= 0 && ::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(::pwrite(fd, file.data(), file.size(), 0) == static_cast<ssize_t>(file.size()));

    const Layout expected = expectedLayout(file);
    kestrel::FirmwareImage image(path.c_str());
    FUZZ_CHECK(image.openImage("any.usf") == (expected.found ? 1 : 0));
    if (!expected.found) {
        FUZZ_CHECK(image.countRecords() == 0);
        image.closeImage();
        return 0;
    }
    const int32_t count = static_cast<int32_t>(expected.payloads.size());
    FUZZ_CHECK(image.countRecords() == count);
    FUZZ_CHECK(image.imageIsTruncated() == expected.truncated);
    uint8_t payload[kestrel::kMaxRecordPayload];
    uint8_t length = 0;
    for (int32_t i = 0; i < count; ++i) {
        // Counting in the middle neither changes the count nor moves the reading on.
        if (i == count / 2) FUZZ_CHECK(image.countRecords() == count);
        const Bytes& want = expected.payloads[static_cast<size_t>(i)];
        FUZZ_CHECK(image.readRecord(payload, &length) == 1 && length == want.size() &&
                   std::equal(want.begin(), want.end(), payload));
    }
    FUZZ_CHECK(image.readRecord(payload, &length) == 0);
    image.closeImage();
    FUZZ_CHECK(image.readRecord(payload, &length) == 0 && image.countRecords() == 0);

    kestrel::ImageSummary summary;
    const bool summarized = kestrel::summarizeImage(image, &summary);
    FUZZ_CHECK(summarized == !expected.truncated);
    if (summarized) {
        uint32_t bytes = 0;
        for (const Bytes& p : expected.payloads)
            bytes += 1 + static_cast<uint32_t>(p.size());
        FUZZ_CHECK(summary.records == count && summary.bytes == bytes);
    }
    return 0;
}
