// Where the running program's own file lives, and plain read-only access to a file.
//
// The firmware image is appended to the program file, so the image reader is handed the
// program's own path; tests hand it files they build instead. A failed call leaves its reason
// in lastSystemErrorCode().
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Writes the path of the running program's own file (NUL-terminated) into `buf`.
// Returns false when it cannot be found or does not fit into `capacity` bytes.
bool ownProgramPath(char* buf, size_t capacity);

// A file opened for reading, one at a time. Positions are 32-bit: the image reader never
// needs more, and the Win32 calls it mirrors work the same way.
class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile() { close(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens `path` for reading (others may read it too). False when it cannot be opened.
    bool open(const char* path);
    bool isOpen() const { return handle_ != kClosed; }
    // Reads up to `count` bytes; `*got` is how many arrived (0 at the end of the file).
    // False when the read itself failed.
    bool read(void* buf, uint32_t count, uint32_t* got);
    bool seek(uint32_t position);
    // Harmless when not open.
    void close();

  private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
};

}  // namespace kestrel
