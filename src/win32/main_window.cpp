#include "win32/main_window.h"

#include <commctrl.h>

#include "ui/bounded_text.h"
#include "ui/dialog_template.h"
#include "ui/window_placement.h"

namespace kestrel {

namespace {

constexpr int kIconId = 128;

// What the worker asks of the window, sent by the WindowRelay.
enum WorkerMessage : UINT {
    kReadFields = WM_APP + 1,  // lParam: SessionFields*
    kSetStatus,                // lParam: const char*
    kSetProgressRange,         // wParam: the maximum
    kSetProgressPosition,      // wParam: the position
    kEnableStart,
};

}  // namespace

void WindowRelay::readFields(SessionFields* fields) {
    SendMessageA(dialog_, kReadFields, 0, reinterpret_cast<LPARAM>(fields));
}
void WindowRelay::setStatus(const char* text) {
    SendMessageA(dialog_, kSetStatus, 0, reinterpret_cast<LPARAM>(text));
}
void WindowRelay::setProgressRange(int32_t maximum) {
    SendMessageA(dialog_, kSetProgressRange, static_cast<WPARAM>(maximum), 0);
}
void WindowRelay::setProgressPosition(int32_t position) {
    SendMessageA(dialog_, kSetProgressPosition, static_cast<WPARAM>(position), 0);
}
void WindowRelay::enableStart() {
    SendMessageA(dialog_, kEnableStart, 0, 0);
}

MainWindow::MainWindow(const MainWindowSetup& setup)
    : setup_(setup), model_(*this, setup_.settings, setup_.usbLookups) {}

bool MainWindow::create(HINSTANCE instance) {
    instance_ = instance;
    // The dialog finds this object again through its user data (set at WM_INITDIALOG).
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(setup_.templateId), nullptr, dialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

int MainWindow::runMessageLoop() {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        if (got == -1) continue;  // an error: wait again
        if (dialog_ != nullptr && IsDialogMessageA(dialog_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// A control's text: at most 259 characters; empty when the layout has no such control.
void MainWindow::fieldText(int id, char (&text)[kTextCapacity]) {
    text[0] = '\0';
    HWND c = control(id);
    if (c != nullptr) GetWindowTextA(c, text, kTextCapacity);
}

void MainWindow::setFieldText(int id, const char* text) {
    HWND c = control(id);
    if (c != nullptr) SetWindowTextA(c, text);
}

void MainWindow::addListEntry(int id, const char* text) {
    SendMessageA(control(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void MainWindow::listEntryText(int id, int index, char (&text)[kTextCapacity]) {
    text[0] = '\0';
    // CB_GETLBTEXT knows no buffer size: only an entry that fits is copied.
    const LRESULT length = SendMessageA(control(id), CB_GETLBTEXTLEN, index, 0);
    if (length >= 0 && length < static_cast<LRESULT>(kTextCapacity))
        SendMessageA(control(id), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
}

bool MainWindow::isChecked(int id) {
    return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void MainWindow::setChecked(int id, bool checked) {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void MainWindow::centreOnWorkArea() {
    RECT work;
    RECT frame;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(dialog_, &frame))
        return;
    const ScreenPoint at = centreInWorkArea({work.left, work.top, work.right, work.bottom},
                                            frame.right - frame.left, frame.bottom - frame.top);
    SetWindowPos(dialog_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::setIcon(WPARAM which, int widthMetric, int heightMetric) {
    HANDLE icon = LoadImageA(instance_, MAKEINTRESOURCEA(kIconId), IMAGE_ICON,
                             GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), 0);
    SendMessageA(dialog_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
}

void MainWindow::initialise(HWND dialog) {
    dialog_ = dialog;  // from now on the message loop offers it every message
    relay_.attach(dialog);
    centreOnWorkArea();
    setIcon(ICON_BIG, SM_CXICON, SM_CYICON);
    setIcon(ICON_SMALL, SM_CXSMICON, SM_CYSMICON);
    progress_ = control(kProgressId);
    model_.initialise();
}

DWORD WINAPI MainWindow::sessionThread(void* window) {
    MainWindow& self = *static_cast<MainWindow*>(window);
    self.setup_.runSession(self.relay_);
    return 0;
}

void MainWindow::startSession() {
    HWND start = control(kStartId);
    // Enter reaches us only while START is enabled; a stray command while a session runs
    // must not start a second one.
    if (!IsWindowEnabled(start) || setup_.runSession == nullptr) return;
    // A disabled button keeps no focus, and without a focus the dialog would no longer see
    // Escape: hand the focus on to the next control first.
    if (GetFocus() == start) SendMessageA(dialog_, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(start, FALSE);
    HANDLE thread = CreateThread(nullptr, 0, sessionThread, this, 0, nullptr);
    if (thread == nullptr) {
        // No session runs, so nothing would ever enable START again.
        EnableWindow(start, TRUE);
        return;
    }
    CloseHandle(thread);  // never waited for: closing the window ends the process with it
}

void MainWindow::closeWindow() {
    model_.saveSettings();
    HWND dialog = dialog_;
    dialog_ = nullptr;
    DestroyWindow(dialog);
    PostQuitMessage(2);
}

void MainWindow::browseFirmwareFile() {
    if (control(kFirmwareNameId) == nullptr || setup_.chooseFile == nullptr) return;
    char name[kTextCapacity];
    fieldText(kFirmwareNameId, name);
    if (setup_.chooseFile(dialog_, name)) setFieldText(kFirmwareNameId, name);
}

// WM_COMMAND by control id; true when handled.
bool MainWindow::onCommand(int id, int code) {
    switch (id) {
        case kStartId:
            startSession();
            return true;
        case kCancelId:  // the close box, Alt+F4, Close on the system menu and Escape
            closeWindow();
            return true;
        case kPortId:
            if (code == CBN_KILLFOCUS) {
                model_.refreshUsbOption(RefreshReason::FocusLost);
                return true;
            }
            if (code == CBN_SELCHANGE) {
                const int index =
                    static_cast<int>(SendMessageA(control(kPortId), CB_GETCURSEL, 0, 0));
                model_.refreshUsbOption(RefreshReason::SelectionChanged, index);
                return true;
            }
            return false;
        case kBrowseId:
            if (code != BN_CLICKED) return false;
            browseFirmwareFile();
            return true;
        default:
            return false;
    }
}

INT_PTR MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            return onCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case kReadFields:
            model_.readFields(reinterpret_cast<SessionFields*>(lParam));
            return TRUE;
        case kSetStatus:
            setFieldText(kStatusId, reinterpret_cast<const char*>(lParam));
            return TRUE;
        case kSetProgressRange: {
            // The whole block count (32 bits): the bar fills exactly at the last block.
            const int maximum = static_cast<int>(wParam);
            SendMessageA(progress_, PBM_SETRANGE32, 0, maximum < 0 ? 0 : maximum);
            return TRUE;
        }
        case kSetProgressPosition:  // the bar keeps it within its range
            SendMessageA(progress_, PBM_SETPOS, wParam, 0);
            return TRUE;
        case kEnableStart:
            EnableWindow(control(kStartId), TRUE);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK MainWindow::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        reinterpret_cast<MainWindow*>(lParam)->initialise(dialog);
        return TRUE;  // the platform focuses the first tab stop: START
    }
    auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(dialog, DWLP_USER));
    // Messages before WM_INITDIALOG, and after closing, get the default handling.
    if (window == nullptr || window->dialog_ != dialog) return FALSE;
    return window->handle(message, wParam, lParam);
}

}  // namespace kestrel
