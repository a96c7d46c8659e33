// Where the program keeps files for later, such as the transcripts of failed sessions, and the
// few file operations that keeping a bounded set of them needs.
//
// The folder is $XDG_STATE_HOME/kestrel (an absolute $XDG_STATE_HOME only), else
// $HOME/.local/state/kestrel on POSIX, and %LOCALAPPDATA%\kestrel on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/system_error.h"

namespace kestrel {

// Writes the folder's path (no trailing separator) into `out`, creating nothing. False with
// the reason when no variable names a home for it or it does not fit.
bool stateDirectoryPath(char* out, size_t capacity, SystemError* why);

// Creates the folder `path` with its missing parents (mkdir -p, private to the user on POSIX;
// on Windows only the last part, under a folder the system keeps). False with the reason.
bool makeStateFolder(const char* path, SystemError* why);

// stateDirectoryPath(), then makeStateFolder() on it.
bool stateDirectory(char* out, size_t capacity, SystemError* why);

// The separator the platform writes between folder and file names.
char pathSeparator();

// Opens `path` for writing bytes, replacing a file that is there, or, `mustBeNew`, failing
// when one is (then fileAlreadyExisted() tells so). Null with the reason and the path.
std::FILE* openOutputFile(const char* path, bool mustBeNew, SystemError* why);
bool fileAlreadyExisted(const SystemError& error);

struct FolderFile {
    std::string name;      // without the folder
    int64_t modified = 0;  // last write, in the platform's finest unit: only for ordering
};

// The plain files of `folder` whose names begin with `prefix` and end with `suffix`.
bool listFiles(const char* folder, const char* prefix, const char* suffix,
               std::vector<FolderFile>* files, SystemError* why);

bool removeFile(const char* path, SystemError* why);

// "YYYYmmdd-HHMMSS" of the local time now, for the names of saved files.
void localTimeStamp(char* out, size_t capacity);

unsigned long currentProcessId();

}  // namespace kestrel
