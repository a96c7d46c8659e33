// The Windows watcher: Windows tells no one when a COM port comes or goes without a window
// to receive the message, so the DOS device names are listed twice a second.
#include <windows.h>

#include <cstring>
#include <set>

#include "station/port_watcher.h"

namespace kestrel {

namespace {

constexpr DWORD kListEveryMs = 500;

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// * and ?, without regard to case, as Windows compares device names.
bool matches(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || upper(*pattern) == upper(*name)) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

class DosDevicePortWatcher final : public PortWatcher {
  public:
    explicit DosDevicePortWatcher(std::string pattern) : pattern_(std::move(pattern)) {}
    ~DosDevicePortWatcher() override {
        if (wake_ != nullptr) CloseHandle(wake_);
    }

    bool start(SystemError* why) {
        wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (wake_ == nullptr) {
            why->set(static_cast<int>(GetLastError()), pattern_.c_str());
            return false;
        }
        if (!list(&known_, why)) return false;
        present_.assign(known_.begin(), known_.end());
        return true;
    }

    const std::vector<std::string>& present() const override { return present_; }

    bool wait(uint32_t timeoutMs, std::vector<PortEvent>* events, SystemError* why) override {
        WaitForSingleObject(wake_, timeoutMs < kListEveryMs ? timeoutMs : kListEveryMs);
        std::set<std::string> now;
        if (!list(&now, why)) return false;
        for (const std::string& name : known_)
            if (now.count(name) == 0) events->push_back({PortEvent::kGone, name});
        for (const std::string& name : now)
            if (known_.count(name) == 0) events->push_back({PortEvent::kAppeared, name});
        known_.swap(now);
        return true;
    }

    void wake() override { SetEvent(wake_); }

  private:
    bool list(std::set<std::string>* names, SystemError* why) {
        // The list of every DOS device name; its size is not known in advance.
        std::string all(16384, '\0');
        while (QueryDosDeviceA(nullptr, &all[0], static_cast<DWORD>(all.size())) == 0) {
            const DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER || all.size() >= (1u << 22)) {
                why->set(static_cast<int>(error), pattern_.c_str());
                return false;
            }
            all.assign(all.size() * 2, '\0');
        }
        for (const char* name = all.c_str(); *name != '\0'; name += std::strlen(name) + 1)
            if (matches(pattern_.c_str(), name)) names->insert(name);
        return true;
    }

    const std::string pattern_;
    HANDLE wake_ = nullptr;
    std::set<std::string> known_;
    std::vector<std::string> present_;
};

}  // namespace

std::unique_ptr<PortWatcher> createPortWatcher(const std::string& pattern, SystemError* why) {
    // "\\.\COM*" names the same ports as "COM*".
    const std::string names = pattern.compare(0, 4, "\\\\.\\") == 0 ? pattern.substr(4) : pattern;
    if (names.empty() || names.find_first_of("\\/:") != std::string::npos) {
        why->set(0, pattern.c_str(), "the pattern must be a port name pattern such as COM*");
        return nullptr;
    }
    auto watcher = std::make_unique<DosDevicePortWatcher>(names);
    if (!watcher->start(why)) return nullptr;
    return watcher;
}

}  // namespace kestrel
