// The settings store where there is no registry: the key kept as a REGEDIT4 export file,
// $XDG_CONFIG_HOME/Norvald/Kestrel.reg, holding [HKEY_LOCAL_MACHINE\SOFTWARE\Norvald\Kestrel].
#pragma once

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
    explicit RegFileKey(std::string path, FileOps& ops = systemFileOps());

    // Creates the folders and the file with the empty key when missing. Fails (as a key
    // without read and write access does) when the folder cannot be created or written, the
    // file cannot be read, or it is not a REGEDIT4 export (such a file is left alone).
    bool open() override;
    bool queryValue(const char* name, char (&text)[kTextCapacity]) override;
    // Takes effect in the file when the key is closed.
    bool setValue(const char* name, const char* text) override;
    // Writes the values set since open(), replacing the file atomically.
    void close() override;

    const std::string& path() const { return path_; }

  private:
    bool store();

    std::string path_;
    FileOps& ops_;
    RegFile file_;
    bool open_ = false;
    bool changed_ = false;
};

}  // namespace kestrel
