// The firmware image appended to the program's own file: a 256-byte marker (the values
// 0x00..0xFF ascending) within the first 100000 bytes, followed by records of one length
// byte and that many payload bytes, up to the end of the file. The payloads are carried,
// never interpreted. One image per process, read by the session's worker thread only.
#pragma once

#include <cstdint>

namespace kestrel {

// The marker must end within this many bytes from the start of the program file.
constexpr uint32_t kImageSearchLength = 100000;
constexpr uint32_t kImageMarkerLength = 256;
// The longest payload a record can carry.
constexpr uint32_t kMaxRecordPayload = 255;

// Opens the program's own file and positions it at the first record. `firmwareName` has no
// effect on which image is read. 1 when the image was found, else 0 (closeImage() still
// releases the file). Call only while no image is open.
int openImage(const char* firmwareName);

// Number of whole records from the first one on; puts the read position back. 0 when no
// image is open. A cut-off last record is not counted (and its warning is printed).
int32_t countRecords();

// Reads the next record: the payload into `payload` (room for 255 bytes), its length into
// `*length`. 0 at the end of the image, on a read error, or for a record cut short by the
// end of the file (which prints a warning on standard output).
int readRecord(uint8_t* payload, uint8_t* length);

// Whether countRecords() met a record cut short by the end of the file (a damaged image).
bool imageIsTruncated();

// Closes the file; harmless when none is open.
void closeImage();

}  // namespace kestrel
