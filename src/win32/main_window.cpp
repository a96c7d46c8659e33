#include "win32/main_window.h"

#include <commctrl.h>

#include <cstring>

#include "ui/dialog_template.h"
#include "ui/window_placement.h"

namespace kestrel {

namespace {

constexpr int kIconId = 128;

// What the worker asks of the window; sent, so the worker waits until the window's thread
// has carried each one out, in the order made.
enum WorkerMessage : UINT {
    kReadFields = WM_APP + 1,  // lParam: SessionFields*
    kSetStatus,                // lParam: const char*
    kSetProgressRange,         // wParam: the maximum
    kSetProgressPosition,      // wParam: the position
    kEnableStart,
};

const char* const kRates[] = {"57600", "115200", "230400", "460800"};
constexpr char kDefaultRate[] = "115200";

// The worker's view of the window: every call becomes a message sent to the dialog. Once the
// window is destroyed the calls have no effect (SendMessage to a dead window returns at once).
class WindowRelay final : public SessionHost {
  public:
    void attach(HWND dialog) { dialog_ = dialog; }
    void readFields(SessionFields* fields) override {
        SendMessageA(dialog_, kReadFields, 0, reinterpret_cast<LPARAM>(fields));
    }
    void setStatus(const char* text) override {
        SendMessageA(dialog_, kSetStatus, 0, reinterpret_cast<LPARAM>(text));
    }
    void setProgressRange(int32_t maximum) override {
        SendMessageA(dialog_, kSetProgressRange, static_cast<WPARAM>(maximum), 0);
    }
    void setProgressPosition(int32_t position) override {
        SendMessageA(dialog_, kSetProgressPosition, static_cast<WPARAM>(position), 0);
    }
    void enableStart() override { SendMessageA(dialog_, kEnableStart, 0, 0); }

  private:
    HWND dialog_ = nullptr;
};

struct WindowState {
    MainWindowSetup setup;
    HINSTANCE instance = nullptr;
    HWND dialog = nullptr;    // offered every message first; nullptr once destroyed
    HWND progress = nullptr;  // looked up once, for the reporter
    WindowRelay relay;
};

WindowState g_window;

HWND control(int id) {
    return GetDlgItem(g_window.dialog, id);
}

// The text of control `id`: at most 259 characters; empty when the layout has no such control.
void fieldText(int id, char (&text)[kTextCapacity]) {
    text[0] = '\0';
    HWND c = control(id);
    if (c != nullptr) GetWindowTextA(c, text, kTextCapacity);
}

// Writing to a control the layout does not have has no effect.
void setFieldText(int id, const char* text) {
    HWND c = control(id);
    if (c != nullptr) SetWindowTextA(c, text);
}

void centreOnWorkArea() {
    RECT work;
    RECT frame;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) ||
        !GetWindowRect(g_window.dialog, &frame))
        return;
    const ScreenPoint at = centreInWorkArea({work.left, work.top, work.right, work.bottom},
                                            frame.right - frame.left, frame.bottom - frame.top);
    SetWindowPos(g_window.dialog, nullptr, at.x, at.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setIcon(WPARAM which, int widthMetric, int heightMetric) {
    HANDLE icon = LoadImageA(g_window.instance, MAKEINTRESOURCEA(kIconId), IMAGE_ICON,
                             GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), 0);
    SendMessageA(g_window.dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
}

void fillLists() {
    HWND port = control(kPortId);
    char name[] = "COM1";
    for (char digit = '1'; digit <= '9'; ++digit) {
        name[3] = digit;
        SendMessageA(port, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    SetWindowTextA(port, "COM1");
    HWND rate = control(kRateId);
    for (const char* r : kRates)
        SendMessageA(rate, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(r));
}

void readSettingsTexts(SettingsTexts* texts) {
    fieldText(kFirmwareNameId, texts->firmwareFile);
    fieldText(kPortId, texts->comPort);
    fieldText(kRateId, texts->baudRate);
}

void loadStoredSettings() {
    if (g_window.setup.settings == nullptr) return;
    SettingsTexts texts;
    readSettingsTexts(&texts);
    loadSettings(*g_window.setup.settings, &texts);
    setFieldText(kFirmwareNameId, texts.firmwareFile);
    setFieldText(kPortId, texts.comPort);
    setFieldText(kRateId, texts.baudRate);
}

void saveStoredSettings() {
    if (g_window.setup.settings == nullptr) return;
    SettingsTexts texts;
    readSettingsTexts(&texts);
    saveSettings(*g_window.setup.settings, texts);
}

// Only the rates of the list survive a start; anything else becomes 115200.
void checkListedRate() {
    char rate[kTextCapacity];
    fieldText(kRateId, rate);
    for (const char* r : kRates)
        if (std::strcmp(rate, r) == 0) return;
    setFieldText(kRateId, kDefaultRate);
}

void refreshUsbOption(RefreshReason reason) {
    char field[kTextCapacity];
    fieldText(kPortId, field);
    const int index = static_cast<int>(SendMessageA(control(kPortId), CB_GETCURSEL, 0, 0));
    char name[kTextCapacity];
    refreshPortName(reason, field, index, "", name);
    const bool usb =
        g_window.setup.usbLookups != nullptr && isModemUsbPort(name, *g_window.setup.usbLookups);
    CheckDlgButton(g_window.dialog, kUsbOptionId, usb ? BST_CHECKED : BST_UNCHECKED);
}

void initialise(HWND dialog) {
    g_window.dialog = dialog;  // from now on the message loop offers it every message
    g_window.relay.attach(dialog);
    centreOnWorkArea();
    setIcon(ICON_BIG, SM_CXICON, SM_CYICON);
    setIcon(ICON_SMALL, SM_CXSMICON, SM_CYSMICON);
    g_window.progress = control(kProgressId);
    fillLists();
    loadStoredSettings();
    checkListedRate();
    refreshUsbOption(RefreshReason::Initialisation);
}

DWORD WINAPI sessionThread(void*) {
    g_window.setup.runSession(g_window.relay);
    return 0;
}

void startSession() {
    HWND start = control(kStartId);
    // Enter reaches us only while START is enabled; a stray command while a session runs
    // must not start a second one.
    if (!IsWindowEnabled(start) || g_window.setup.runSession == nullptr) return;
    // A disabled button keeps no focus, and without a focus the dialog would no longer see
    // Escape: hand the focus on to the next control first.
    if (GetFocus() == start) SendMessageA(g_window.dialog, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(start, FALSE);
    HANDLE thread = CreateThread(nullptr, 0, sessionThread, nullptr, 0, nullptr);
    if (thread == nullptr) {
        // No session runs, so nothing would ever enable START again.
        EnableWindow(start, TRUE);
        return;
    }
    CloseHandle(thread);  // never waited for: closing the window ends the process with it
}

void closeWindow() {
    saveStoredSettings();
    HWND dialog = g_window.dialog;
    g_window.dialog = nullptr;
    DestroyWindow(dialog);
    PostQuitMessage(2);
}

void browseFirmwareFile() {
    if (control(kFirmwareNameId) == nullptr || g_window.setup.chooseFile == nullptr) return;
    char name[kTextCapacity];
    fieldText(kFirmwareNameId, name);
    if (g_window.setup.chooseFile(g_window.dialog, name)) setFieldText(kFirmwareNameId, name);
}

void readFields(SessionFields* fields) {
    fieldText(kPortId, fields->portName);
    fieldText(kRateId, fields->rateText);
    fields->usb = IsDlgButtonChecked(g_window.dialog, kUsbOptionId) == BST_CHECKED;
    fields->noFirmware = IsDlgButtonChecked(g_window.dialog, kNoFirmwareId) == BST_CHECKED;
    fieldText(kFirmwareNameId, fields->firmwareName);
}

// WM_COMMAND by control id; true when handled.
bool onCommand(int id, int code) {
    switch (id) {
        case kStartId:
            startSession();
            return true;
        case kCancelId:  // the close box, Alt+F4, Close on the system menu and Escape
            closeWindow();
            return true;
        case kPortId:
            if (code == CBN_KILLFOCUS) {
                refreshUsbOption(RefreshReason::FocusLost);
                return true;
            }
            if (code == CBN_SELCHANGE) {
                refreshUsbOption(RefreshReason::SelectionChanged);
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

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            initialise(dialog);
            return TRUE;  // the platform focuses the first tab stop: START
        case WM_COMMAND:
            return onCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case kReadFields:
            readFields(reinterpret_cast<SessionFields*>(lParam));
            return TRUE;
        case kSetStatus:
            setFieldText(kStatusId, reinterpret_cast<const char*>(lParam));
            return TRUE;
        case kSetProgressRange:  // the bar's range is 16 bits wide
            SendMessageA(g_window.progress, PBM_SETRANGE, 0,
                         MAKELPARAM(0, static_cast<WORD>(wParam & 0xFFFF)));
            return TRUE;
        case kSetProgressPosition:
            SendMessageA(g_window.progress, PBM_SETPOS, wParam, 0);
            return TRUE;
        case kEnableStart:
            EnableWindow(control(kStartId), TRUE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

HWND createMainWindow(HINSTANCE instance, const MainWindowSetup& setup) {
    g_window.setup = setup;
    g_window.instance = instance;
    HWND dialog =
        CreateDialogParamA(instance, MAKEINTRESOURCEA(setup.templateId), nullptr, dialogProc, 0);
    if (dialog == nullptr) g_window.dialog = nullptr;
    return dialog;
}

int runMessageLoop() {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        if (got == -1) continue;  // an error: wait again
        if (g_window.dialog != nullptr && IsDialogMessageA(g_window.dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

HWND mainWindow() {
    return g_window.dialog;
}

}  // namespace kestrel
