#include "cli/json_line.h"

#include <cmath>
#include <cstdio>

namespace kestrel {

namespace {

// Length of the valid UTF-8 sequence at `s`, or 0 when it is not one (overlong forms,
// surrogates and code points above U+10FFFF count as invalid).
size_t utf8SequenceAt(const unsigned char* s) {
    const unsigned char c = s[0];
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    for (size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating NUL
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    return (overlong || surrogate || cp > 0x10FFFF) ? 0 : n;
}

void appendEscaped(std::string& out, uint32_t codePoint) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(codePoint));
    out += buf;
}

}  // namespace

std::string jsonString(const char* text) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
    while (*s != 0) {
        const unsigned char c = *s;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            appendEscaped(out, c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t n = utf8SequenceAt(s)) {
            out.append(reinterpret_cast<const char*>(s), n);
            s += n;
            continue;
        } else {
            appendEscaped(out, c);  // a stray byte: its Latin-1 reading
        }
        ++s;
    }
    return out + "\"";
}

void JsonLine::key(const char* name) {
    if (text_.size() > 1) text_ += ',';
    text_ += jsonString(name);
    text_ += ':';
}

JsonLine& JsonLine::add(const char* name, const char* value) {
    key(name);
    text_ += jsonString(value);
    return *this;
}

JsonLine& JsonLine::add(const char* name, int64_t value) {
    key(name);
    text_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::add(const char* name, double value) {
    key(name);
    // JSON has no NaN or infinity.
    if (!std::isfinite(value)) {
        text_ += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    text_ += buf;
    return *this;
}

JsonLine& JsonLine::add(const char* name, bool value) {
    key(name);
    text_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::addNull(const char* name) {
    key(name);
    text_ += "null";
    return *this;
}

JsonLine& JsonLine::addRaw(const char* name, const std::string& json) {
    key(name);
    text_ += json;
    return *this;
}

}  // namespace kestrel
