// One JSON object on one line, built field by field: kestrel-cli's machine-readable output.
// Strings are escaped whatever they hold (a module's answer, an OS message, a port name):
// control characters as \uXXXX, and bytes that are not valid UTF-8 as the code point of the
// byte (U+0080..U+00FF), so every line is valid JSON in valid UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

class JsonLine {
  public:
    JsonLine& add(const char* key, const char* value);
    JsonLine& add(const char* key, const std::string& value) { return add(key, value.c_str()); }
    JsonLine& add(const char* key, int64_t value);
    JsonLine& add(const char* key, int value) { return add(key, static_cast<int64_t>(value)); }
    JsonLine& add(const char* key, uint32_t value) { return add(key, static_cast<int64_t>(value)); }
    JsonLine& add(const char* key, double value);
    JsonLine& add(const char* key, bool value);
    JsonLine& addNull(const char* key);
    // `json` must already be valid JSON (a nested object or array built elsewhere).
    JsonLine& addRaw(const char* key, const std::string& json);

    // The object with its closing brace and a line end.
    std::string finish() const { return text_ + "}\n"; }
    // The object with its closing brace, no line end (to nest it).
    std::string object() const { return text_ + "}"; }

  private:
    void key(const char* name);
    std::string text_ = "{";
};

// `text` as a JSON string, quotes included.
std::string jsonString(const char* text);

}  // namespace kestrel
