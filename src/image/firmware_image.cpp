#include "image/firmware_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/own_file.h"
#include "platform/temp_block.h"

namespace kestrel {

namespace {

// Offset behind the first complete marker in `block`, or 0 when there is none. One pass:
// `expected` is the marker byte due next; a mismatching 0x00 may begin a new marker.
uint32_t findDataStart(const uint8_t* block, uint32_t size) {
    unsigned expected = 0;
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t b = block[i];
        if (b == expected) {
            if (expected == 0xFF) return i + 1;
            ++expected;
        } else {
            expected = (b == 0x00) ? 1 : 0;
        }
    }
    return 0;
}

}  // namespace

FirmwareImage::FirmwareImage(const char* programPath) {
    const size_t n = programPath ? std::strlen(programPath) : 0;
    if (n < sizeof path_) std::memcpy(path_, programPath ? programPath : "", n + 1);
}

bool FirmwareImage::readAhead(uint8_t* out, uint32_t count, uint32_t* got) {
    *got = 0;
    while (*got < count) {
        if (aheadUsed_ == aheadEnd_) {
            uint32_t filled = 0;
            if (!file_.read(ahead_, kReadAheadSize, &filled)) return false;
            if (filled == 0) break;
            aheadStart_ += aheadEnd_;
            aheadUsed_ = 0;
            aheadEnd_ = filled;
        }
        const uint32_t take = std::min(count - *got, aheadEnd_ - aheadUsed_);
        std::memcpy(out + *got, ahead_ + aheadUsed_, take);
        aheadUsed_ += take;
        *got += take;
    }
    return true;
}

bool FirmwareImage::moveTo(uint32_t position) {
    aheadStart_ = position;
    aheadUsed_ = aheadEnd_ = 0;
    return file_.seek(position);
}

FirmwareImage::RecordResult FirmwareImage::readOneRecord(uint8_t* payload, uint8_t* length) {
    uint8_t n = 0;
    uint32_t got = 0;
    if (!readAhead(&n, 1, &got)) return RecordResult::Error;
    if (got == 0) return RecordResult::End;
    if (!readAhead(payload, n, &got)) return RecordResult::Error;
    if (got != n) {
        // Only the numbers are formatted: the format text is our own constant.
        char warning[64];
        std::snprintf(warning, sizeof warning, "Warning: unexpected end of file detected %d / %d.",
                      static_cast<int>(got), static_cast<int>(n));
        if (warningSink_ != nullptr) {
            warningSink_(warningContext_, warning);
        } else {
            std::printf("%s\n", warning);
            std::fflush(stdout);
        }
        return RecordResult::Cut;
    }
    *length = n;
    return RecordResult::Whole;
}

int FirmwareImage::failOpen(int code, const char* what) {
    error_.set(code, path_, code == 0 ? what : nullptr);
    return 0;
}

int FirmwareImage::openImage(const char* /*firmwareName: the image is always the program's*/) {
    truncated_ = false;
    found_ = false;
    error_.clear();
    if (path_[0] == '\0') return failOpen(0, "the program's own file cannot be found");
    if (!file_.open(path_)) return failOpen(lastSystemErrorCode(), nullptr);

    // Released on every way out; nothing of it is kept.
    TempBlock block(kImageSearchLength);
    if (!block.data()) return failOpen(0, "no memory for the image search");
    uint32_t got = 0;
    if (!file_.read(block.data(), kImageSearchLength, &got))
        return failOpen(lastSystemErrorCode(), nullptr);
    if (got != kImageSearchLength) return failOpen(0, "too short to carry a firmware image");
    const uint32_t start = findDataStart(block.data(), kImageSearchLength);
    if (start == 0) return failOpen(0, "no firmware image behind the program");
    if (!moveTo(start)) return failOpen(lastSystemErrorCode(), nullptr);
    dataStart_ = start;
    found_ = true;
    return 1;
}

int FirmwareImage::readRecord(uint8_t* payload, uint8_t* length) {
    if (!imageIsOpen()) return 0;
    return readOneRecord(payload, length) == RecordResult::Whole ? 1 : 0;
}

int32_t FirmwareImage::countRecords() {
    if (!imageIsOpen()) return 0;
    const uint32_t saved = aheadStart_ + aheadUsed_;
    if (!moveTo(dataStart_)) return 0;
    uint8_t payload[kMaxRecordPayload];
    uint8_t length = 0;
    int32_t count = 0;
    RecordResult r;
    while ((r = readOneRecord(payload, &length)) == RecordResult::Whole)
        ++count;
    truncated_ = (r == RecordResult::Cut || r == RecordResult::Error);
    if (truncated_) error_.set(0, path_, "the firmware image ends inside a record");
    moveTo(saved);
    return count;
}

void FirmwareImage::closeImage() {
    found_ = false;
    file_.close();
}

}  // namespace kestrel
