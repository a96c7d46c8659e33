// A registry export in the REGEDIT4 text format, held so that it can be changed and written
// back without disturbing what we do not understand: keys and values other than ours, comments
// and value forms we never write stay as their original lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrel {

class RegFile {
  public:
    // A new export holding nothing but the header.
    RegFile() = default;

    // Reads an export. False when the text is not a REGEDIT4 export (its first line is not
    // "REGEDIT4"); the object is then left empty. Lines may end in CR LF or LF.
    bool parse(const char* text, size_t size);

    // The export as text, lines ending in CR LF as regedit writes them.
    std::string serialize() const;

    // Key paths compare ignoring the case of ASCII letters, as the registry does.
    bool hasKey(const char* keyPath) const;
    // Adds an empty key at the end (nothing happens when it exists).
    void addKey(const char* keyPath);

    // The data of a value as the registry would hand it out: for a string its bytes and a
    // terminating NUL, for dword: four bytes, for hex: the bytes listed. False when the key or
    // the value is missing, or the value's line cannot be read.
    bool valueData(const char* keyPath, const char* name, std::string* data) const;

    // Sets a string value, adding the key and the value when missing. Texts with control
    // characters are written as hex(1) bytes, since a quoted string cannot hold them.
    void setStringValue(const char* keyPath, const char* name, const char* text);

  private:
    struct Entry {
        std::string name;  // value name; empty with !isValue (blank line, comment)
        bool isValue = false;
        std::vector<std::string> lines;  // the original lines, continuation lines included
    };
    struct Section {
        std::string header;  // "[...]" as written
        std::string keyPath;
        std::vector<Entry> entries;
    };

    Section* findSection(const char* keyPath);
    const Section* findSection(const char* keyPath) const;

    std::vector<std::string> preamble_ = {"REGEDIT4", ""};  // header line and what follows it
    std::vector<Section> sections_;
};

}  // namespace kestrel
