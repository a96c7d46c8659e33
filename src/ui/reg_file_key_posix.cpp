#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/bounded_text.h"
#include "ui/reg_file_key.h"

namespace kestrel {

const char kSettingsKeyPath[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel";

namespace {

// A store larger than this is not ours; reading it whole would only waste memory.
constexpr size_t kMaxStoreSize = 1 << 20;

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates `dir` and its missing parents (mode 0700, as the XDG rules ask for). False with
// errno set.
bool makeDirectories(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) return false;
    const std::string parent = parentOf(dir);
    if (parent != dir && !makeDirectories(parent)) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

constexpr char kNotRegular[] = "not a regular file";

enum class ReadResult { Read, Missing, Failed };

// Reads the store whole. Failed with errno set, or with `*why` when the system has no words
// for it.
ReadResult readWholeFile(const std::string& path, std::string* content, const char** why) {
    // Only a regular file is opened: opening a FIFO waits for a writer, a device may act.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    if (!S_ISREG(st.st_mode)) {
        *why = kNotRegular;
        return ReadResult::Failed;
    }
    // Non-blocking all the same, in case something else took its place meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    ReadResult result = ReadResult::Read;
    if (::fstat(fd, &st) != 0) {
        result = ReadResult::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        *why = kNotRegular;
        result = ReadResult::Failed;
    }
    content->clear();
    char buf[4096];
    while (result == ReadResult::Read) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = ReadResult::Failed;
        } else if (content->size() + static_cast<size_t>(n) > kMaxStoreSize) {
            *why = "larger than 1 MiB, not a settings store";
            result = ReadResult::Failed;
        } else if (n == 0) {
            break;
        } else {
            content->append(buf, static_cast<size_t>(n));
        }
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
}

}  // namespace

std::string defaultSettingsPath() {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {  // relative values are to be ignored
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] == '\0') {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || home[0] == '\0') return std::string();
        base = std::string(home) + "/.config";
    }
    return base + "/Norvald/Kestrel.reg";
}

RegFileKey::RegFileKey(std::string path, FileOps& ops, FILE* diagnostics)
    : path_(std::move(path)), ops_(ops), diagnostics_(diagnostics) {}

bool RegFileKey::fail(const std::string& concerning, int code, const char* ownWords) {
    char message[200];
    const char* text = ownWords;
    if (text == nullptr) text = strerror_r(code, message, sizeof message);
    problem_ = concerning.empty() ? std::string(text) : concerning + ": " + text;
    // One line for the whole store, not one per value or per attempt.
    if (!told_ && diagnostics_ != nullptr) {
        std::fprintf(diagnostics_, "kestrel: settings are not kept: %s\n", problem_.c_str());
        std::fflush(diagnostics_);
        told_ = true;
    }
    return false;
}

bool RegFileKey::open() {
    open_ = false;
    changed_ = false;
    if (path_.empty()) return fail("", 0, "neither XDG_CONFIG_HOME nor a home folder is set");
    if (!replacementTarget(path_, &target_)) return fail(path_, errno);
    const std::string dir = parentOf(target_);
    // Like the key, the store is opened for reading and writing: a folder we cannot write to
    // is a key we cannot open.
    if (!makeDirectories(dir) || ::access(dir.c_str(), W_OK) != 0) return fail(dir, errno);

    std::string content;
    const char* why = nullptr;
    const ReadResult read = readWholeFile(target_, &content, &why);
    if (read == ReadResult::Failed) return fail(target_, errno, why);
    if (read == ReadResult::Read && ::access(target_.c_str(), W_OK) != 0)
        return fail(target_, errno);
    file_ = RegFile();
    if (!content.empty() && !file_.parse(content.data(), content.size()))
        return fail(target_, 0, "not a REGEDIT4 export, left as it is");
    if (read == ReadResult::Missing || content.empty() || !file_.hasKey(kSettingsKeyPath)) {
        file_.addKey(kSettingsKeyPath);
        if (!store()) return false;
    }
    open_ = true;
    return true;
}

bool RegFileKey::queryValue(const char* name, char (&text)[kTextCapacity]) {
    std::string data;
    if (!open_ || !file_.valueData(kSettingsKeyPath, name, &data)) return false;
    if (data.size() > kTextCapacity) return false;
    // Data without a NUL (possible for hex values) still leaves room for one.
    const size_t n =
        strnlen(data.data(), data.size() < kTextCapacity ? data.size() : kTextCapacity - 1);
    std::memcpy(text, data.data(), n);
    text[n] = '\0';
    return true;
}

bool RegFileKey::setValue(const char* name, const char* text) {
    if (!open_) return false;
    char bounded[kTextCapacity];
    copyBounded(bounded, text);
    file_.setStringValue(kSettingsKeyPath, name, bounded);
    changed_ = true;
    return true;
}

void RegFileKey::close() {
    if (open_ && changed_) store();
    open_ = false;
    changed_ = false;
}

bool RegFileKey::store() {
    if (replaceFileAtomically(target_, file_.serialize(), ops_)) return true;
    return fail(target_, errno);
}

}  // namespace kestrel
