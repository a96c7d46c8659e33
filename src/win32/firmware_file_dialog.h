// The open-file dialog behind the browse button of template 129.
#pragma once

#include <windows.h>

#include "session/session_settings.h"

namespace kestrel {

// GetOpenFileNameA owned by `owner`: Explorer style, resizable, read-only box hidden, the
// filters *.usf and *.uusf (the first selected), default extension "usf", `name` as the
// initial file name. True with `name` replaced by the chosen full path when the operator
// confirmed and the path is shorter than 260 characters; false when cancelled or failed.
bool chooseFirmwareFileWithDialog(HWND owner, char (&name)[kTextCapacity]);

}  // namespace kestrel
