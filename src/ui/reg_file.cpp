#include "ui/reg_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kestrel {

namespace {

constexpr char kHeader[] = "REGEDIT4";
constexpr size_t kHexBytesPerLine = 25;

bool equalsIgnoringCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool startsWith(const std::string& s, size_t at, const char* prefix) {
    return s.compare(at, std::strlen(prefix), prefix) == 0;
}

void skipBlanks(const std::string& s, size_t* at) {
    while (*at < s.size() && (s[*at] == ' ' || s[*at] == '\t'))
        ++*at;
}

// Reads a quoted text starting at s[*at] == '"', undoing the \\ and \" escapes. A backslash
// before any other character stands for itself.
bool readQuoted(const std::string& s, size_t* at, std::string* out) {
    if (*at >= s.size() || s[*at] != '"') return false;
    out->clear();
    for (size_t i = *at + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            *at = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out->push_back(s[++i]);
            continue;
        }
        out->push_back(c);
    }
    return false;  // no closing quote
}

// The value name at the start of an entry line ("name" or @ for the default value), and where
// its data begins (behind the '=').
bool readValueName(const std::string& line, std::string* name, size_t* dataAt) {
    size_t at = 0;
    skipBlanks(line, &at);
    if (at < line.size() && line[at] == '@') {
        name->clear();
        ++at;
    } else if (!readQuoted(line, &at, name)) {
        return false;
    }
    skipBlanks(line, &at);
    if (at >= line.size() || line[at] != '=') return false;
    *dataAt = at + 1;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool readHexBytes(const std::string& s, size_t at, std::string* data) {
    data->clear();
    skipBlanks(s, &at);
    if (at == s.size()) return true;  // no bytes
    for (;;) {
        skipBlanks(s, &at);
        const int hi = at < s.size() ? hexDigit(s[at]) : -1;
        const int lo = at + 1 < s.size() ? hexDigit(s[at + 1]) : -1;
        if (hi < 0 || lo < 0) return false;
        data->push_back(static_cast<char>(hi * 16 + lo));
        at += 2;
        skipBlanks(s, &at);
        if (at == s.size()) return true;
        if (s[at] != ',') return false;
        ++at;
    }
}

bool readDword(const std::string& s, size_t at, std::string* data) {
    uint32_t value = 0;
    size_t digits = 0;
    for (; at < s.size() && hexDigit(s[at]) >= 0; ++at, ++digits)
        value = value * 16 + static_cast<uint32_t>(hexDigit(s[at]));
    skipBlanks(s, &at);
    if (digits == 0 || digits > 8 || at != s.size()) return false;
    data->clear();
    for (int i = 0; i < 4; ++i)
        data->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return true;
}

// Decodes the data part of a value (everything behind the '=', continuation lines joined).
bool decodeData(const std::string& s, size_t at, std::string* data) {
    skipBlanks(s, &at);
    if (at < s.size() && s[at] == '"') {
        if (!readQuoted(s, &at, data)) return false;
        skipBlanks(s, &at);
        if (at != s.size()) return false;
        data->push_back('\0');
        return true;
    }
    if (startsWith(s, at, "dword:")) return readDword(s, at + 6, data);
    if (startsWith(s, at, "hex:")) return readHexBytes(s, at + 4, data);
    if (startsWith(s, at, "hex(")) {
        const size_t close = s.find("):", at);
        if (close == std::string::npos) return false;
        return readHexBytes(s, close + 2, data);
    }
    return false;  // "-" (a deleted value) or something we cannot read
}

std::string rightTrimmed(const std::string& s) {
    size_t end = s.size();
    while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\t'))
        --end;
    return s.substr(0, end);
}

// An entry's lines as one data text: trailing backslashes and leading blanks of continuation
// lines removed.
std::string joinContinued(const std::vector<std::string>& lines) {
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string part = rightTrimmed(lines[i]);
        if (i + 1 < lines.size() && !part.empty() && part.back() == '\\') part.pop_back();
        if (i > 0) {
            size_t at = 0;
            skipBlanks(part, &at);
            part.erase(0, at);
        }
        joined += part;
    }
    return joined;
}

bool continues(const std::string& line) {
    const std::string trimmed = rightTrimmed(line);
    return !trimmed.empty() && trimmed.back() == '\\';
}

std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        if (*p == '\\' || *p == '"') out.push_back('\\');
        out.push_back(*p);
    }
    out.push_back('"');
    return out;
}

bool hasControlCharacters(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p < 0x20 || *p == 0x7F) return true;
    return false;
}

std::vector<std::string> formatStringValue(const char* name, const char* text) {
    const std::string prefix = quoted(name) + "=";
    if (!hasControlCharacters(text)) return {prefix + quoted(text)};
    // hex(1) is the string type written byte by byte, its terminating NUL included.
    std::vector<std::string> lines;
    std::string line = prefix + "hex(1):";
    const size_t count = std::strlen(text) + 1;
    for (size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(text[i]));
        line += byte;
        if (i + 1 == count) break;
        line += ',';
        if ((i + 1) % kHexBytesPerLine == 0) {
            lines.push_back(line + "\\");
            line = "  ";
        }
    }
    lines.push_back(line);
    return lines;
}

}  // namespace

bool RegFile::parse(const char* text, size_t size) {
    preamble_.clear();
    sections_.clear();
    std::vector<std::string> lines;
    size_t start = 0;
    if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) start = 3;
    for (size_t i = start; i < size; ++i) {
        if (text[i] != '\n') continue;
        size_t end = i;
        if (end > start && text[end - 1] == '\r') --end;
        lines.emplace_back(text + start, end - start);
        start = i + 1;
    }
    if (start < size) lines.emplace_back(text + start, size - start);

    if (lines.empty() || rightTrimmed(lines[0]) != kHeader) {
        preamble_ = {kHeader, ""};
        return false;
    }
    Entry* continued = nullptr;  // a value whose data goes on in the next line
    for (const std::string& line : lines) {
        if (continued) {
            continued->lines.push_back(line);
            if (!continues(line)) continued = nullptr;
            continue;
        }
        size_t at = 0;
        skipBlanks(line, &at);
        if (at < line.size() && line[at] == '[') {
            Section section;
            section.header = line;
            const size_t close = line.rfind(']');
            section.keyPath =
                close != std::string::npos && close > at ? line.substr(at + 1, close - at - 1) : "";
            sections_.push_back(section);
            continue;
        }
        if (sections_.empty()) {
            preamble_.push_back(line);
            continue;
        }
        Entry entry;
        size_t dataAt = 0;
        entry.isValue = readValueName(line, &entry.name, &dataAt);
        entry.lines.push_back(line);
        sections_.back().entries.push_back(entry);
        if (entry.isValue && continues(line)) continued = &sections_.back().entries.back();
    }
    return true;
}

std::string RegFile::serialize() const {
    std::string out;
    // A value whose last line still asks for a continuation (its file ended there) would
    // swallow the line written behind it: a blank line ends it first.
    bool continuing = false;
    auto put = [&](const std::string& line) {
        if (continuing && !line.empty()) out += "\r\n";
        continuing = false;
        out += line + "\r\n";
    };
    for (const std::string& line : preamble_)
        put(line);
    for (const Section& section : sections_) {
        put(section.header);
        for (const Entry& entry : section.entries) {
            for (const std::string& line : entry.lines)
                put(line);
            continuing = entry.isValue && continues(entry.lines.back());
        }
    }
    return out;
}

RegFile::Section* RegFile::findSection(const char* keyPath) {
    Section* found = nullptr;  // a key listed twice: the last one counts, as on import
    for (Section& section : sections_)
        if (equalsIgnoringCase(section.keyPath, keyPath)) found = &section;
    return found;
}

const RegFile::Section* RegFile::findSection(const char* keyPath) const {
    return const_cast<RegFile*>(this)->findSection(keyPath);
}

bool RegFile::hasKey(const char* keyPath) const {
    return findSection(keyPath) != nullptr;
}

void RegFile::addKey(const char* keyPath) {
    if (hasKey(keyPath)) return;
    // Keys are separated by a blank line.
    const bool needsGap = sections_.empty()
                              ? (!preamble_.empty() && !preamble_.back().empty())
                              : (sections_.back().entries.empty() ||
                                 !sections_.back().entries.back().lines.back().empty());
    if (needsGap) {
        Entry gap;
        gap.lines.push_back("");
        if (sections_.empty())
            preamble_.push_back("");
        else
            sections_.back().entries.push_back(gap);
    }
    Section section;
    section.header = std::string("[") + keyPath + "]";
    section.keyPath = keyPath;
    Entry gap;
    gap.lines.push_back("");
    section.entries.push_back(gap);
    sections_.push_back(section);
}

bool RegFile::valueData(const char* keyPath, const char* name, std::string* data) const {
    const Section* section = findSection(keyPath);
    if (!section) return false;
    const Entry* found = nullptr;
    for (const Entry& entry : section->entries)
        if (entry.isValue && equalsIgnoringCase(entry.name, name)) found = &entry;
    if (!found) return false;
    const std::string joined = joinContinued(found->lines);
    std::string ignored;
    size_t dataAt = 0;
    if (!readValueName(joined, &ignored, &dataAt)) return false;
    return decodeData(joined, dataAt, data);
}

void RegFile::setStringValue(const char* keyPath, const char* name, const char* text) {
    addKey(keyPath);
    Section* section = findSection(keyPath);
    Entry* found = nullptr;
    size_t afterLastValue = 0;
    for (size_t i = 0; i < section->entries.size(); ++i) {
        Entry& entry = section->entries[i];
        if (!entry.isValue) continue;
        afterLastValue = i + 1;
        if (equalsIgnoringCase(entry.name, name)) found = &entry;
    }
    if (found) {
        found->lines = formatStringValue(name, text);
        return;
    }
    Entry entry;
    entry.name = name;
    entry.isValue = true;
    entry.lines = formatStringValue(name, text);
    section->entries.insert(section->entries.begin() + static_cast<std::ptrdiff_t>(afterLastValue),
                            entry);
}

}  // namespace kestrel
