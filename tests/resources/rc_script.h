// Just enough of a reader for resource scripts to compare our kestrel.rc with the window's
// tables: ICON lines and DIALOGEX templates whose controls are written as CONTROL statements.
// Style expressions are kept as the names written, so nothing depends on windows.h.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace kestrel::test {

struct RcControl {
    std::string text;
    int id = 0;
    std::string className;
    std::set<std::string> styles;     // names or'ed in
    std::set<std::string> notStyles;  // names taken away with NOT
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct RcDialog {
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::set<std::string> styles;
    std::string caption;
    int fontPointSize = 0;
    std::string fontName;
    std::vector<RcControl> controls;  // in the order written, which is the tab order
};

struct RcIcon {
    int id = 0;
    std::string file;
};

struct RcScript {
    std::vector<RcDialog> dialogs;
    std::vector<RcIcon> icons;
};

// Reads the script's text. False with `error` set (naming the line) on anything this reader
// does not know, so a new kind of statement cannot slip past the comparison.
bool parseRcScript(const std::string& text, RcScript* script, std::string* error);

// Reads a whole file; false when it cannot be read.
bool readTextFile(const char* path, std::string* text);

}  // namespace kestrel::test
