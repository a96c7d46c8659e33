// The settings store where there is no registry: the key kept as a REGEDIT4 export file,
// $XDG_CONFIG_HOME/Norvald/Kestrel.reg, holding [HKEY_LOCAL_MACHINE\SOFTWARE\Norvald\Kestrel].
#pragma once

#include <cstdio>
#include <string>

#include "ui/atomic_file.h"
#include "ui/reg_file.h"
#include "ui/settings_store.h"

namespace kestrel {

// The key's path inside the export.
extern const char kSettingsKeyPath[];

// $XDG_CONFIG_HOME/Norvald/Kestrel.reg, XDG_CONFIG_HOME defaulting to ~/.config. Empty when
// neither it nor a home folder is known.
std::string defaultSettingsPath();

class RegFileKey : public SettingsKey {
  public:
    // Why the settings are not kept goes to `diagnostics` (one line, the first time only).
    explicit RegFileKey(std::string path, FileOps& ops = systemFileOps(),
                        FILE* diagnostics = stderr);

    // Creates the folders and the file with the empty key when missing. A symbolic link is
    // followed. Fails (as a key without read and write access does) when the folder cannot be
    // created or written, the file is not a regular file, cannot be read or written, or is
    // not a REGEDIT4 export; the file is then left alone.
    bool open() override;
    bool queryValue(const char* name, char (&text)[kTextCapacity]) override;
    // Takes effect in the file when the key is closed.
    bool setValue(const char* name, const char* text) override;
    // Writes the values set since open(), replacing the file atomically.
    void close() override;

    const std::string& path() const { return path_; }
    // "PATH: reason" of the last failure to open or store; empty when there was none.
    const std::string& problem() const { return problem_; }

  private:
    bool store();
    // Records why the settings are not kept and tells it once; returns false.
    bool fail(const std::string& concerning, int code, const char* ownWords = nullptr);

    std::string path_;
    std::string target_;  // path_ with its links followed
    FileOps& ops_;
    FILE* diagnostics_;
    RegFile file_;
    std::string problem_;
    bool open_ = false;
    bool changed_ = false;
    bool told_ = false;
};

}  // namespace kestrel
