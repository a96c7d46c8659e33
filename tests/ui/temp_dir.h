// Scratch folders and files, and the settings store's texts, for the interface's tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::test {

namespace fs = std::filesystem;

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object goes.
struct TempDir {
    std::string path = (fs::temp_directory_path() / "kestrel-ui-XXXXXX").string();
    std::error_code ignored;

    TempDir() {
        if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() { fs::remove_all(path, ignored); }
    TempDir(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Writes `content` to `path`, creating the folders on the way.
inline void writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    if (!(std::ofstream(path, std::ios::binary) << content)) throw std::runtime_error(path);
}

// The whole file, or "<missing>" when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

// The names in a folder, sorted and joined by spaces.
inline std::string listFolder(const std::string& path) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(path, ignored))
        names.insert(" " + entry.path().filename().string());
    return std::accumulate(names.begin(), names.end(), std::string()).substr(names.empty() ? 0 : 1);
}

// "a|b|c" as {"a", "b", "c"}: expected lines in one literal.
inline std::vector<std::string> split(const std::string& text, char at = '|') {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, at);)
        out.push_back(part);
    return out;
}

// The settings store's texts: the key's line, `"name"="text"` as the store writes a string
// value, and a store holding `values` in the key.
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n";
inline std::string regValue(const std::string& name, const std::string& text) {
    return "\"" + name + "\"=\"" + text + "\"\r\n";
}
inline std::string storeWith(const std::string& values) {
    return "REGEDIT4\r\n\r\n" + kKeyLine + values + "\r\n";
}

// Sets an environment variable (null: unsets it) for the life of the object, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }
    ScopedEnv(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace kestrel::test
