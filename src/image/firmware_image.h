// The firmware image appended to a program file: a 256-byte marker (the values 0x00..0xFF
// ascending) within the first 100000 bytes, followed by records of one length byte and that
// many payload bytes, up to the end of the file. The payloads are carried, never interpreted.
// One object per session, used by that session's thread only.
#pragma once

#include <cstdint>

#include "platform/own_file.h"
#include "platform/system_error.h"

namespace kestrel {

// The marker must end within this many bytes from the start of the program file.
constexpr uint32_t kImageSearchLength = 100000;
constexpr uint32_t kImageMarkerLength = 256;
// The longest payload a record can carry.
constexpr uint32_t kMaxRecordPayload = 255;

class FirmwareImage {
  public:
    // The image behind the program file at `programPath` (normally the program's own file,
    // see ownProgramPath()); nullptr or a path too long to keep opens nothing.
    explicit FirmwareImage(const char* programPath);
    ~FirmwareImage() { closeImage(); }
    FirmwareImage(const FirmwareImage&) = delete;
    FirmwareImage& operator=(const FirmwareImage&) = delete;

    // Opens the program file and positions it at the first record. `firmwareName` has no
    // effect on which image is read. 1 when the image was found, else 0 with lastError() set
    // (closeImage() still releases the file). Call only while no image is open.
    int openImage(const char* firmwareName);

    // Number of whole records from the first one on; puts the read position back. 0 when no
    // image is open. A cut-off last record is not counted (and its warning is printed).
    int32_t countRecords();

    // Reads the next record: the payload into `payload` (room for 255 bytes), its length into
    // `*length`. 0 at the end of the image, on a read error, or for a record cut short by the
    // end of the file (which prints a warning on standard output).
    int readRecord(uint8_t* payload, uint8_t* length);

    // Whether countRecords() met a record cut short by the end of the file (a damaged image).
    bool imageIsTruncated() const { return truncated_; }

    // Closes the file; harmless when none is open.
    void closeImage();

    // Where the warning about a record cut short goes instead of standard output (a front
    // end that prints for several modules, or for a program). Null: standard output.
    using WarningSink = void (*)(void* context, const char* text);
    void setWarningSink(WarningSink sink, void* context) {
        warningSink_ = sink;
        warningContext_ = context;
    }

    bool imageIsOpen() const { return found_ && file_.isOpen(); }
    // Why the last openImage() or countRecords() failed.
    const SystemError& lastError() const { return error_; }

  private:
    enum class RecordResult { Whole, End, Cut, Error };
    RecordResult readOneRecord(uint8_t* payload, uint8_t* length);
    // Like ReadOnlyFile::read(), through the read-ahead block.
    bool readAhead(uint8_t* out, uint32_t count, uint32_t* got);
    // Moves the reading position and forgets what was read ahead.
    bool moveTo(uint32_t position);
    int failOpen(int code, const char* what);

    char path_[kReasonPathCapacity] = {};
    WarningSink warningSink_ = nullptr;
    void* warningContext_ = nullptr;
    ReadOnlyFile file_;
    // Set only once the marker was found: after a failed openImage the file may still be
    // open (closeImage releases it), but its bytes are no image and must not be read.
    bool found_ = false;
    uint32_t dataStart_ = 0;
    bool truncated_ = false;  // set by countRecords when the last record is cut short
    SystemError error_;
    // Records are read through this block rather than with two system calls each: during the
    // transfer a call costs about as much as checking the port for stray answers.
    static constexpr uint32_t kReadAheadSize = 16384;
    uint8_t ahead_[kReadAheadSize];
    uint32_t aheadStart_ = 0;  // the file offset of ahead_[0]
    uint32_t aheadUsed_ = 0;   // bytes of ahead_ handed out
    uint32_t aheadEnd_ = 0;    // bytes of ahead_ filled
};

}  // namespace kestrel
