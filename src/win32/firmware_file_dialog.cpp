#include "win32/firmware_file_dialog.h"

#include <commdlg.h>

#include <cstring>

namespace kestrel {

namespace {
// Pairs of description and pattern, each NUL-terminated, the list ended by one more NUL.
constexpr char kFilters[] = "Firmware Files (*.usf)\0*.usf\0Block Update Files (*.uusf)\0*.uusf\0";
constexpr DWORD kFileTitleCapacity = 256;
}  // namespace

bool chooseFirmwareFileWithDialog(HWND owner, char (&name)[kTextCapacity]) {
    char file[kTextCapacity];
    copyText(file, name);
    char title[kFileTitleCapacity] = {};
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilters;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = sizeof title;
    ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY;
    ofn.lpstrDefExt = "usf";
    // A path that does not fit the buffer makes the dialog fail (FNERR_BUFFERTOOSMALL).
    if (!GetOpenFileNameA(&ofn)) return false;
    if (strnlen(file, sizeof file) >= sizeof file) return false;
    copyText(name, file);
    return true;
}

}  // namespace kestrel
