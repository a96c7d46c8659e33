// The rate journal as small text files, one per port, under the user's state directory.
// Each is written whole to a temporary file, synced and renamed over the old one, so a crash
// leaves the old entry or the new one, never half of either.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/state_dir.h"
#include "session/file_rate_journal.h"

namespace kestrel {

namespace {

constexpr char kHeader[] = "kestrel-rate-journal 1";

class FileRateJournal final : public RateJournal {
  public:
    explicit FileRateJournal(std::string folder) : folder_(std::move(folder)) {}

    Load load(const char* portIdentity, RateJournalEntry* entry) override {
        FILE* f = std::fopen(fileOf(portIdentity).c_str(), "re");
        if (f == nullptr) return Load::None;
        char text[512] = {};
        const size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        text[n] = '\0';
        char port[kIdentityLength + 1] = {};
        long original = 0, moved = 0;
        long long savedAt = 0;
        char header[32] = {};
        // The port is stored too: a file of another port's name must not count.
        const int fields =
            std::sscanf(text, "%31[^\n]\nport %272[^\n]\noriginal %ld\nmoved %ld\ntime %lld\n",
                        header, port, &original, &moved, &savedAt);
        if (fields != 5 || std::strcmp(header, kHeader) != 0 ||
            std::strcmp(port, portIdentity) != 0 || original < -1 || original > INT32_MAX ||
            moved <= 0 || moved > INT32_MAX)
            return Load::Damaged;
        entry->originalRate = static_cast<int32_t>(original);
        entry->movedRate = static_cast<int32_t>(moved);
        entry->savedAt = savedAt;
        return Load::Found;
    }

    bool save(const char* portIdentity, const RateJournalEntry& entry) override {
        SystemError ignored;  // the journal is best effort: a session goes on without it
        if (!makeStateFolder(folder_.c_str(), &ignored)) return false;
        const std::string file = fileOf(portIdentity);
        const std::string temporary = file + ".tmp";
        char text[512];
        const int n = std::snprintf(
            text, sizeof text, "%s\nport %s\noriginal %ld\nmoved %ld\ntime %lld\n", kHeader,
            portIdentity, static_cast<long>(entry.originalRate), static_cast<long>(entry.movedRate),
            static_cast<long long>(entry.savedAt));
        if (n < 0 || static_cast<size_t>(n) >= sizeof text) return false;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        const bool written = ::write(fd, text, static_cast<size_t>(n)) == n && fsync(fd) == 0;
        ::close(fd);
        if (!written || std::rename(temporary.c_str(), file.c_str()) != 0) {
            std::remove(temporary.c_str());
            return false;
        }
        return true;
    }

    void remove(const char* portIdentity) override { std::remove(fileOf(portIdentity).c_str()); }

    int64_t nowSeconds() override { return static_cast<int64_t>(::time(nullptr)); }

  private:
    static constexpr size_t kIdentityLength = 272;

    // One file per port: the identity with every character that is not safe in a file
    // name replaced ("/dev/ttyS0" becomes "_dev_ttyS0").
    std::string fileOf(const char* portIdentity) const {
        std::string name;
        for (const char* p = portIdentity; *p != '\0'; ++p) {
            const char c = *p;
            const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
            name.push_back(safe ? c : '_');
        }
        return folder_ + "/" + name;
    }

    std::string folder_;
};

}  // namespace

std::unique_ptr<RateJournal> createFileRateJournal(const std::string& folder) {
    return std::make_unique<FileRateJournal>(folder);
}

std::unique_ptr<RateJournal> createPlatformRateJournal() {
    char state[kReasonPathCapacity];
    SystemError ignored;
    if (!stateDirectoryPath(state, sizeof state, &ignored)) return nullptr;
    return createFileRateJournal(std::string(state) + "/rate-journal");
}

}  // namespace kestrel
