// Holds a dialog template of the resource script against the window's table of the same id.
#pragma once

#include <string>
#include <vector>

#include "resources/rc_script.h"
#include "ui/dialog_template.h"

namespace kestrel::test {

// Every way in which `rc` differs from `table`, one readable line each; empty when they
// describe the same window: caption, size, font, window style, and each control in tab
// order with its id, kind, text, position, size and styles. A style name the comparison does
// not know counts as a difference, so the mapping below cannot silently fall behind.
std::vector<std::string> templateDifferences(const RcDialog& rc, const DialogTemplate& table);

}  // namespace kestrel::test
