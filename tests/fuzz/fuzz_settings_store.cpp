// The settings store over arbitrary files: the input is three texts and then the store's
// bytes. A store that is not kept stays as it was; one that is kept gives back exactly the
// texts saved into it (cut at 259 characters and at a NUL, as a field holds them), leaves no
// temporary file, and reads back as the text it was written as.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "ui/reg_file_key.h"
#include "ui/settings_store.h"
#include "ui/temp_dir.h"

namespace {

using kestrel::kTextCapacity;

// The real operations without the flush to the disk, which only costs time here.
class UnsyncedOps : public kestrel::FileOps {
    int sync(int) override { return 0; }
};

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

    static const kestrel::test::TempDir folder;
    const std::string path = folder / "Kestrel.reg";
    kestrel::test::writeFile(path, stored);
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
        FUZZ_CHECK(kestrel::test::readFile(path) == stored);
        return 0;
    }

    kestrel::saveSettings(key, saved);
    FUZZ_CHECK(key.problem().empty());
    FUZZ_CHECK(kestrel::test::listFolder(folder.path) == "Kestrel.reg");
    const std::string written = kestrel::test::readFile(path);
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
    FUZZ_CHECK(kestrel::test::readFile(path) == written);
    return 0;
}
