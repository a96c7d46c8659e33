// Replacing a file so that a crash or a full disk never leaves half of it: the new content goes
// into a temporary file beside it, is flushed to the disk, and is renamed over the old file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace kestrel {

// The file operations of a replacement, POSIX style (-1 and errno on failure). Tests
// substitute failures and crashes at each step.
class FileOps {
  public:
    virtual ~FileOps() = default;
    // Creates `path`, failing when it exists; returns a descriptor for writing.
    virtual int createNew(const char* path, mode_t mode);
    virtual ssize_t write(int fd, const void* data, size_t size);
    virtual int sync(int fd);
    virtual int close(int fd);
    virtual int rename(const char* from, const char* to);
    virtual int unlink(const char* path);
};

FileOps& systemFileOps();

// The file a replacement of `path` writes: `path` itself or, when it is a symbolic link, the
// file the links lead to (which need not exist yet), so that the link stays a link. False
// with errno set when a link cannot be read or the links go round in a loop.
bool replacementTarget(const std::string& path, std::string* target);

// Replaces the file at `path` (or the file its links lead to) with `content`. At every moment
// it holds the old file whole or the new one whole. Temporary files that crashed saves left
// beside it are removed first. False with errno set when it could not be done; the old file
// is then untouched and the temporary file removed.
bool replaceFileAtomically(const std::string& path, const std::string& content,
                           FileOps& ops = systemFileOps());

}  // namespace kestrel
