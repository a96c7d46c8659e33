// The settings store over arbitrary files: the input is three texts and then the store's
// bytes. A store that is not kept stays as it was; one that is kept gives back exactly the
// texts saved into it (cut at 259 characters and at a NUL, as a field holds them), leaves no
// temporary file, and reads back as the text it was written as.
#include <dirent.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/fuzz_check.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"

namespace {

using kestrel::kTextCapacity;

// The real operations without the flush to the disk, which only costs time here.
class UnsyncedOps : public kestrel::FileOps {
    int sync(int) override { return 0; }
};

// A folder of this process's own, in memory where there is /dev/shm, removed at the end.
struct StoreFolder {
    StoreFolder() {
        FUZZ_CHECK(mkdtemp(path.data()) != nullptr);
        file = path + "/Kestrel.reg";
    }
    ~StoreFolder() {
        std::remove(file.c_str());
        std::remove(path.c_str());
    }
    std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kestrel-store-XXXXXX";
    std::string file;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every name in the folder but "." and "..": a temporary file left behind counts.
int entriesIn(const std::string& folder) {
    int count = 0;
    DIR* dir = opendir(folder.c_str());
    while (const dirent* entry = readdir(dir))
        count += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    closedir(dir);
    return count;
}

void copyInto(char (&dst)[kTextCapacity], const std::string& text) {
    const size_t n = std::min(text.size(), kTextCapacity - 1);
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    kestrel::SettingsTexts saved;
    for (auto* text : {&saved.firmwareFile, &saved.comPort, &saved.baudRate})
        copyInto(*text, in.ConsumeRandomLengthString(300));
    const std::string stored = in.ConsumeRemainingBytesAsString();

    static const StoreFolder folder;
    const std::string& path = folder.file;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << stored;
        FUZZ_CHECK(out.good());
    }
    static UnsyncedOps ops;
    static FILE* quiet = std::fopen("/dev/null", "w");
    kestrel::RegFileKey key(path, ops, quiet);
    kestrel::SettingsTexts loaded;
    kestrel::loadSettings(key, &loaded);
    kestrel::RegFile parsed;
    const bool isExport = stored.empty() || parsed.parse(stored.data(), stored.size());
    FUZZ_CHECK(key.problem().empty() == isExport);
    if (!isExport) {
        kestrel::saveSettings(key, saved);
        FUZZ_CHECK(readAll(path) == stored);
        return 0;
    }

    kestrel::saveSettings(key, saved);
    FUZZ_CHECK(key.problem().empty());
    FUZZ_CHECK(entriesIn(folder.path) == 1);
    const std::string written = readAll(path);
    kestrel::RegFile reread;
    FUZZ_CHECK(reread.parse(written.data(), written.size()));
    FUZZ_CHECK(reread.serialize() == written);

    kestrel::SettingsTexts back;
    kestrel::loadSettings(key, &back);
    FUZZ_CHECK(std::strcmp(back.firmwareFile, saved.firmwareFile) == 0 &&
               std::strcmp(back.comPort, saved.comPort) == 0 &&
               std::strcmp(back.baudRate, saved.baudRate) == 0);
    // Saving the same texts again changes nothing.
    kestrel::saveSettings(key, saved);
    FUZZ_CHECK(readAll(path) == written);
    return 0;
}
