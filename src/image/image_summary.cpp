#include "image/image_summary.h"

#include "image/sha256.h"

namespace kestrel {

bool summarizeImage(FirmwareImage& image, ImageSummary* summary) {
    *summary = ImageSummary();
    if (!image.openImage("")) {
        image.closeImage();
        return false;
    }
    const int32_t counted = image.countRecords();
    Sha256 sha;
    uint8_t record[1 + kMaxRecordPayload];
    uint8_t length = 0;
    while (image.readRecord(record + 1, &length)) {
        record[0] = length;
        sha.update(record, 1u + length);
        ++summary->records;
        summary->bytes += 1u + length;
    }
    const bool whole = !image.imageIsTruncated() && summary->records == counted;
    image.closeImage();
    uint8_t digest[Sha256::kDigestLength];
    sha.finish(digest);
    sha256Hex(digest, summary->sha256);
    return whole;
}

}  // namespace kestrel
