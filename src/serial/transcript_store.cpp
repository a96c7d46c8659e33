#include "serial/transcript_store.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/state_dir.h"

namespace kestrel {

namespace {

constexpr char kPrefix[] = "kestrel-";
constexpr char kSuffix[] = ".log";
constexpr size_t kMaxPortPart = 64;

}  // namespace

std::string portPart(const char* port) {
    const char* last = port;
    for (const char* p = port; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') last = p + 1;
    std::string part;
    for (const char* p = last; *p != '\0' && part.size() < kMaxPortPart; ++p) {
        const char c = *p;
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        part.push_back(safe ? c : '_');
    }
    // Neither empty nor a name that looks like a folder's.
    if (part.empty() || part.find_first_not_of('.') == std::string::npos) part = "port";
    return part;
}

namespace {

// Removes the oldest transcripts beyond `keep`, `kept` being one of them already.
void prune(const char* folder, const std::string& kept, int keep) {
    std::vector<FolderFile> files;
    SystemError ignored;
    if (!listFiles(folder, kPrefix, kSuffix, &files, &ignored)) return;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const FolderFile& f) { return f.name == kept; }),
                files.end());
    std::sort(files.begin(), files.end(), [](const FolderFile& x, const FolderFile& y) {
        return x.modified != y.modified ? x.modified > y.modified : x.name > y.name;
    });
    const size_t others = keep > 1 ? static_cast<size_t>(keep - 1) : 0;
    for (size_t i = others; i < files.size(); ++i) {
        const std::string path = std::string(folder) + pathSeparator() + files[i].name;
        removeFile(path.c_str(), &ignored);
    }
}

}  // namespace

bool saveRing(const Transcript& transcript, const char* port, const char* folder, char* pathOut,
              size_t capacity, SystemError* why, int keep) {
    char stateFolder[kReasonPathCapacity];
    if (folder == nullptr) {
        if (!stateDirectory(stateFolder, sizeof stateFolder, why)) return false;
        folder = stateFolder;
    }
    char stamp[32];
    localTimeStamp(stamp, sizeof stamp);
    const std::string base = std::string(kPrefix) + portPart(port == nullptr ? "" : port) + "-" +
                             stamp + "-" + std::to_string(currentProcessId());
    // The same port may fail twice within a second: a later file takes a number.
    for (int n = 1; n <= 9; ++n) {
        std::string name = base;
        if (n > 1) name += "-" + std::to_string(n);
        name += kSuffix;
        const std::string path = std::string(folder) + pathSeparator() + name;
        if (path.size() >= capacity) {
            why->set(0, path.c_str(), "the path is too long");
            return false;
        }
        std::FILE* f = openOutputFile(path.c_str(), true, why);
        if (f == nullptr) {
            if (fileAlreadyExisted(*why)) continue;
            return false;
        }
        const bool written = transcript.writeRing(f);
        const bool closed = std::fclose(f) == 0;
        if (!written || !closed) {
            why->set(lastSystemErrorCode(), path.c_str());
            SystemError ignored;
            removeFile(path.c_str(), &ignored);
            return false;
        }
        std::snprintf(pathOut, capacity, "%s", path.c_str());
        prune(folder, name, keep);
        return true;
    }
    return false;
}

}  // namespace kestrel
