#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Creates `dir` and its missing parents (mode 0700, as the XDG rules ask for).
bool makeDirectories(const std::string& dir) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (errno != ENOENT) return false;
    const std::string parent = parentOf(dir);
    if (parent != dir && !makeDirectories(parent)) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

enum class ReadResult { Read, Missing, Failed };

ReadResult readWholeFile(const std::string& path, std::string* content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    content->clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || content->size() + static_cast<size_t>(n) > kMaxStoreSize) {
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        content->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Read;
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

RegFileKey::RegFileKey(std::string path, FileOps& ops) : path_(std::move(path)), ops_(ops) {}

bool RegFileKey::open() {
    open_ = false;
    changed_ = false;
    if (path_.empty()) return false;
    const std::string dir = parentOf(path_);
    // Like the key, the store is opened for reading and writing: a folder we cannot write to
    // is a key we cannot open.
    if (!makeDirectories(dir) || ::access(dir.c_str(), W_OK) != 0) return false;

    std::string content;
    const ReadResult read = readWholeFile(path_, &content);
    if (read == ReadResult::Failed) return false;
    if (read == ReadResult::Read && ::access(path_.c_str(), W_OK) != 0) return false;
    file_ = RegFile();
    if (!content.empty() && !file_.parse(content.data(), content.size())) return false;
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
    return replaceFileAtomically(path_, file_.serialize(), ops_);
}

}  // namespace kestrel
