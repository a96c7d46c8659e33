// The window program's dialog under wine (needs an X display: the tests run under Xvfb in
// CI): built from the resources, driven through messages as the operator's input would be,
// with the settings store, the modem-port lookups, the session and the file dialog replaced.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "session/status_reporter.h"
#include "ui/dialog_template.h"
#include "ui/window_placement.h"
#include "win32/main_window.h"

namespace kestrel {
namespace {

class FakeSettingsKey final : public SettingsKey {
  public:
    bool open() override {
        ++opens;
        return canOpen;
    }
    bool queryValue(const char* name, char (&text)[kTextCapacity]) override {
        queried.push_back(name);
        const auto it = values.find(name);
        if (it == values.end()) return false;
        copyText(text, it->second.c_str());
        return true;
    }
    bool setValue(const char* name, const char* text) override {
        written.push_back(name);
        values[name] = text;
        return true;
    }
    void close() override {}

    bool canOpen = true;
    int opens = 0;
    std::map<std::string, std::string> values;
    std::vector<std::string> queried;
    std::vector<std::string> written;
};

// What the fake session saw and did, shared with the test's thread.
struct SessionProbe {
    std::atomic<int> runs{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> startWasDisabled{false};
    std::atomic<DWORD> thread{0};
    SessionFields fields;
    HANDLE release = nullptr;  // when set, the session waits for it before its last reports
    HANDLE started = nullptr;
};
SessionProbe* g_probe = nullptr;

void fakeSession(SessionHost& host) {
    SessionProbe& p = *g_probe;
    ++p.runs;
    p.thread = GetCurrentThreadId();
    host.readFields(&p.fields);
    p.startWasDisabled = !IsWindowEnabled(GetDlgItem(mainWindow(), kStartId));
    if (p.started) SetEvent(p.started);
    if (p.release) WaitForSingleObject(p.release, 10000);
    host.setStatus("ERROR: timout waiting for start character.");
    host.setProgressRange(70000);    // the bar's range is 16 bits: 70000 - 65536
    host.setProgressPosition(5000);  // beyond the range: the bar keeps it at its end
    host.enableStart();
    p.finished = true;
}

std::string g_chooserSaw;
const char* g_chooserAnswer = nullptr;

bool fakeChooser(HWND, char (&name)[kTextCapacity]) {
    g_chooserSaw = name;
    if (g_chooserAnswer == nullptr) return false;
    copyText(name, g_chooserAnswer);
    return true;
}

std::string textOf(HWND w) {
    char text[kTextCapacity] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

std::string className(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        g_probe = &probe_;
        g_chooserSaw.clear();
        g_chooserAnswer = nullptr;
        setup_.runSession = fakeSession;
        setup_.settings = &settings_;
        setup_.chooseFile = fakeChooser;
    }
    void TearDown() override {
        if (mainWindow() != nullptr) SendMessageA(mainWindow(), WM_COMMAND, IDCANCEL, 0);
        quitCode();
        if (probe_.release) SetEvent(probe_.release);
        waitFor([&] { return probe_.runs == 0 || probe_.finished; });
        for (HANDLE h : {probe_.release, probe_.started})
            if (h) CloseHandle(h);
    }

    HWND create(int templateId = 130) {
        setup_.templateId = templateId;
        HWND w = createMainWindow(GetModuleHandleA(nullptr), setup_);
        EXPECT_NE(w, nullptr) << "no window: is there a display (DISPLAY, Xvfb)?";
        return w;
    }
    HWND item(int id) const { return GetDlgItem(mainWindow(), id); }
    std::string field(int id) const { return textOf(item(id)); }
    bool checked(int id) const { return IsDlgButtonChecked(mainWindow(), id) == BST_CHECKED; }
    void command(int id, int code) {
        SendMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(id, code),
                     reinterpret_cast<LPARAM>(item(id)));
    }

    // Handles messages as the program's loop does until `done` holds (or `limitMs` passed).
    template <typename Done>
    bool waitFor(Done done, DWORD limitMs = 5000) {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > limitMs) return false;
            MSG msg;
            if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                continue;
            }
            if (msg.message == WM_QUIT) {
                quit_ = static_cast<int>(msg.wParam);
                continue;
            }
            if (mainWindow() != nullptr && IsDialogMessageA(mainWindow(), &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return true;
    }
    // The exit code of the quit request posted so far, or -1.
    int quitCode() {
        waitFor([&] {
            MSG msg;
            return !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        });
        return quit_;
    }

    MainWindowSetup setup_;
    FakeSettingsKey settings_;
    SessionProbe probe_;
    int quit_ = -1;
};

// The dialog as created from the resources, child by child in tab (creation) order, against
// the window's table.
void expectLayoutOf(HWND dialog, const DialogTemplate& t) {
    EXPECT_EQ(textOf(dialog), t.caption);
    RECT client;
    GetClientRect(dialog, &client);
    RECT size = {0, 0, t.cx, t.cy};
    MapDialogRect(dialog, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);

    size_t i = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT), ++i) {
        ASSERT_LT(i, t.controlCount);
        const ControlTemplate& want = t.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
        EXPECT_EQ(static_cast<int16_t>(GetDlgCtrlID(c)), want.id);
        const char* cls = "Button";
        switch (want.kind) {
            case ControlKind::Label:
                cls = "Static";
                break;
            case ControlKind::ComboBox:
                cls = "ComboBox";
                break;
            case ControlKind::Edit:
                cls = "Edit";
                break;
            case ControlKind::ProgressBar:
                cls = PROGRESS_CLASSA;
                break;
            default:
                break;
        }
        EXPECT_EQ(className(c), cls);
        if (want.kind != ControlKind::ComboBox && want.kind != ControlKind::Edit) {
            EXPECT_EQ(textOf(c), want.text);
        }
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
        // Position and size are converted each on its own, as the dialog manager does.
        RECT d = {want.x, want.y, want.cx, want.cy};
        MapDialogRect(dialog, &d);
        EXPECT_EQ(r.left, d.left);
        EXPECT_EQ(r.top, d.top);
        EXPECT_EQ(r.right - r.left, d.right);
        // A drop-down combo box is as high as its edit field; the template's height is the list.
        if (want.kind != ControlKind::ComboBox) {
            EXPECT_EQ(r.bottom - r.top, d.bottom);
        }
        const LONG s = GetWindowLongA(c, GWL_STYLE);
        EXPECT_EQ((s & WS_VISIBLE) == 0, (want.style & kHidden) != 0);
        EXPECT_EQ((s & WS_TABSTOP) != 0, (want.style & kTabStop) != 0);
        EXPECT_EQ((s & WS_GROUP) != 0, (want.style & kGroupStart) != 0);
    }
    EXPECT_EQ(i, t.controlCount);
}

TEST_F(WindowTest, Template130IsCreatedAsTheTableDescribesIt) {
    HWND w = create(130);
    ASSERT_NE(w, nullptr);
    expectLayoutOf(w, dialogTemplate130());
    EXPECT_EQ(item(kFirmwareNameId), nullptr);
    EXPECT_EQ(item(kBrowseId), nullptr);
}

TEST_F(WindowTest, Template129IsCreatedAsTheTableDescribesIt) {
    HWND w = create(129);
    ASSERT_NE(w, nullptr);
    expectLayoutOf(w, dialogTemplate129());
}

TEST_F(WindowTest, ATemplateThatDoesNotExistGivesNoWindow) {
    setup_.templateId = 131;
    EXPECT_EQ(createMainWindow(GetModuleHandleA(nullptr), setup_), nullptr);
    EXPECT_EQ(mainWindow(), nullptr);
}

TEST_F(WindowTest, AFirstStartShowsTheDefaultsCentredWithItsIcons) {
    HWND w = create();
    ASSERT_NE(w, nullptr);
    HWND port = item(kPortId);
    ASSERT_EQ(SendMessageA(port, CB_GETCOUNT, 0, 0), 9);
    for (int i = 0; i < 9; ++i) {
        char entry[16] = {};
        SendMessageA(port, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(std::string(entry), "COM" + std::to_string(i + 1));
    }
    HWND rate = item(kRateId);
    const char* rates[] = {"57600", "115200", "230400", "460800"};
    ASSERT_EQ(SendMessageA(rate, CB_GETCOUNT, 0, 0), 4);
    for (int i = 0; i < 4; ++i) {
        char entry[16] = {};
        SendMessageA(rate, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        EXPECT_STREQ(entry, rates[i]);
    }
    EXPECT_EQ(field(kPortId), "COM1");
    EXPECT_EQ(field(kRateId), "115200");
    EXPECT_FALSE(checked(kUsbOptionId));  // no lookups: cleared
    EXPECT_FALSE(checked(kNoFirmwareId));
    EXPECT_EQ(field(kStatusId), "");
    PBRANGE range;
    SendMessageA(item(kProgressId), PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(SendMessageA(item(kProgressId), PBM_GETPOS, 0, 0), 0);
    EXPECT_NE(SendMessageA(w, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(w, WM_GETICON, ICON_SMALL, 0), 0);

    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    RECT frame;
    GetWindowRect(w, &frame);
    const ScreenPoint at = centreInWorkArea({work.left, work.top, work.right, work.bottom},
                                            frame.right - frame.left, frame.bottom - frame.top);
    EXPECT_EQ(frame.left, at.x);
    EXPECT_EQ(frame.top, at.y);
    EXPECT_FALSE(IsWindowVisible(w));  // shown by the start-up code
    EXPECT_EQ(settings_.queried, (std::vector<std::string>{"FirmwareFile", "COMPort", "BaudRate"}));

    ShowWindow(w, SW_SHOWNORMAL);
    SetForegroundWindow(w);
    waitFor([] { return true; });
    EXPECT_EQ(GetFocus(), item(kStartId));  // the first tab stop
}

TEST_F(WindowTest, StoredSettingsAreShownAndOnlyListedRatesSurvive) {
    settings_.values = {{"COMPort", "COM12"}, {"BaudRate", "9600"}, {"FirmwareFile", "a.usf"}};
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(field(kPortId), "COM12");
    EXPECT_EQ(field(kRateId), "115200");
    SendMessageA(mainWindow(), WM_COMMAND, IDCANCEL, 0);

    settings_.values["BaudRate"] = " 115200";
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(field(kRateId), "115200");
    SendMessageA(mainWindow(), WM_COMMAND, IDCANCEL, 0);

    settings_.values["BaudRate"] = "230400";
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(field(kRateId), "230400");
}

TEST_F(WindowTest, ClosingSavesTheFieldsDestroysTheWindowAndQuitsWithCode2) {
    settings_.values = {{"FirmwareFile", "kept.usf"}};
    HWND w = create();
    ASSERT_NE(w, nullptr);
    SetWindowTextA(item(kPortId), "COM7");
    SetWindowTextA(item(kRateId), "9600");  // typed during the run: saved as it is
    SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(mainWindow(), nullptr);
    EXPECT_EQ(quitCode(), 2);
    EXPECT_EQ(settings_.written, (std::vector<std::string>{"FirmwareFile", "COMPort", "BaudRate"}));
    EXPECT_EQ(settings_.values["COMPort"], "COM7");
    EXPECT_EQ(settings_.values["BaudRate"], "9600");
    EXPECT_EQ(settings_.values["FirmwareFile"], "");  // template 130 has no such field
}

TEST_F(WindowTest, AStoreThatCannotBeOpenedLeavesTheDefaultsAndTakesNothing) {
    settings_.canOpen = false;
    settings_.values = {{"COMPort", "COM3"}};
    ASSERT_NE(create(), nullptr);
    EXPECT_EQ(field(kPortId), "COM1");
    EXPECT_EQ(field(kRateId), "115200");
    SendMessageA(mainWindow(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(settings_.opens, 2);
    EXPECT_TRUE(settings_.written.empty());
    EXPECT_EQ(quitCode(), 2);
}

TEST_F(WindowTest, EscapeReachesTheDialogThroughTheMessageLoop) {
    HWND w = create();
    ASSERT_NE(w, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    HWND start = item(kStartId);
    PostMessageA(start, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(start, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    EXPECT_EQ(runMessageLoop(), 2);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(settings_.written.size(), 3u);
}

TEST_F(WindowTest, TheUsbOptionFollowsThePortOnEveryRefresh) {
    FixedUsbPortLookups lookups("COM5", nullptr);
    setup_.usbLookups = &lookups;
    settings_.values = {{"COMPort", "COM5"}};
    ASSERT_NE(create(), nullptr);
    EXPECT_TRUE(checked(kUsbOptionId));  // at initialisation, from the stored port

    SetWindowTextA(item(kPortId), "COM4");
    command(kPortId, CBN_KILLFOCUS);
    EXPECT_FALSE(checked(kUsbOptionId));
    SetWindowTextA(item(kPortId), "\\\\.\\COM5");
    command(kPortId, CBN_KILLFOCUS);
    EXPECT_TRUE(checked(kUsbOptionId));

    // A selection change takes the name from the list index, not from the field.
    SendMessageA(item(kPortId), CB_SETCURSEL, 3, 0);  // COM4
    SetWindowTextA(item(kPortId), "COM5");
    command(kPortId, CBN_SELCHANGE);
    EXPECT_FALSE(checked(kUsbOptionId));
    SendMessageA(item(kPortId), CB_SETCURSEL, 4, 0);  // COM5
    command(kPortId, CBN_SELCHANGE);
    EXPECT_TRUE(checked(kUsbOptionId));

    // Ticked by hand for another port: the next refresh clears it again.
    SetWindowTextA(item(kPortId), "COM2");
    CheckDlgButton(mainWindow(), kUsbOptionId, BST_CHECKED);
    command(kPortId, CBN_EDITCHANGE);  // ignored
    EXPECT_TRUE(checked(kUsbOptionId));
    command(kPortId, CBN_KILLFOCUS);
    EXPECT_FALSE(checked(kUsbOptionId));
}

TEST_F(WindowTest, MovingTheFocusOffThePortFieldRefreshesTheUsbOption) {
    FixedUsbPortLookups lookups(nullptr, "COM3");
    setup_.usbLookups = &lookups;
    HWND w = create();
    ASSERT_NE(w, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    SetForegroundWindow(w);
    waitFor([] { return true; });
    SetFocus(item(kPortId));
    SetWindowTextA(item(kPortId), "COM3");
    EXPECT_FALSE(checked(kUsbOptionId));
    SetFocus(item(kStartId));
    EXPECT_TRUE(checked(kUsbOptionId));
}

TEST_F(WindowTest, StartRunsTheSessionOnAWorkerThatReportsThroughTheWindow) {
    HWND w = create();
    ASSERT_NE(w, nullptr);
    SetWindowTextA(item(kPortId), "COM3");
    SetWindowTextA(item(kRateId), "57600");
    CheckDlgButton(w, kNoFirmwareId, BST_CHECKED);
    PostMessageA(w, WM_COMMAND, MAKEWPARAM(kStartId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(item(kStartId)));
    ASSERT_TRUE(waitFor([&] { return probe_.finished.load() && IsWindowEnabled(item(kStartId)); }));
    EXPECT_EQ(probe_.runs, 1);
    EXPECT_NE(probe_.thread, GetCurrentThreadId());
    EXPECT_TRUE(probe_.startWasDisabled);
    EXPECT_STREQ(probe_.fields.portName, "COM3");
    EXPECT_STREQ(probe_.fields.rateText, "57600");
    EXPECT_FALSE(probe_.fields.usb);
    EXPECT_TRUE(probe_.fields.noFirmware);
    EXPECT_STREQ(probe_.fields.firmwareName, "");
    EXPECT_EQ(field(kStatusId), "ERROR: timout waiting for start character.");
    PBRANGE range;
    SendMessageA(item(kProgressId), PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iHigh, 70000 - 65536);
    EXPECT_EQ(SendMessageA(item(kProgressId), PBM_GETPOS, 0, 0), 70000 - 65536);  // kept in range
}

TEST_F(WindowTest, EnterWhileASessionRunsStartsNoSecondOne) {
    probe_.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    probe_.started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND w = create();
    ASSERT_NE(w, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    command(kStartId, BN_CLICKED);
    ASSERT_TRUE(waitFor([&] { return WaitForSingleObject(probe_.started, 0) == WAIT_OBJECT_0; }));
    EXPECT_FALSE(IsWindowEnabled(item(kStartId)));
    HWND port = item(kPortId);
    PostMessageA(port, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageA(port, WM_KEYUP, VK_RETURN, 0xC01C0001);
    command(kStartId, BN_CLICKED);       // a stray command as well
    waitFor([] { return false; }, 500);  // time enough to start a second session
    EXPECT_EQ(probe_.runs, 1);
    SetEvent(probe_.release);
    ASSERT_TRUE(waitFor([&] { return probe_.finished.load(); }));
    EXPECT_TRUE(IsWindowEnabled(item(kStartId)));
}

TEST_F(WindowTest, EscapeWhileASessionRunsClosesTheWindow) {
    probe_.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    probe_.started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND w = create();
    ASSERT_NE(w, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    SetForegroundWindow(w);
    waitFor([] { return true; });
    HWND start = item(kStartId);
    SetFocus(start);
    ASSERT_EQ(GetFocus(), start);
    PostMessageA(start, WM_KEYDOWN, VK_RETURN, 0x001C0001);  // START by the keyboard
    PostMessageA(start, WM_KEYUP, VK_RETURN, 0xC01C0001);
    ASSERT_TRUE(waitFor([&] { return WaitForSingleObject(probe_.started, 0) == WAIT_OBJECT_0; }));
    // START is disabled, and the focus moved on within the window.
    EXPECT_FALSE(IsWindowEnabled(start));
    HWND focus = GetFocus();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(IsChild(w, focus));
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(w); }));
    EXPECT_EQ(settings_.written.size(), 3u);
    SetEvent(probe_.release);
    ASSERT_TRUE(waitFor([&] { return probe_.finished.load(); }));
    EXPECT_EQ(quitCode(), 2);
}

TEST_F(WindowTest, ReportsOfASessionAfterTheWindowIsClosedHaveNoEffect) {
    probe_.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    probe_.started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND w = create();
    ASSERT_NE(w, nullptr);
    command(kStartId, BN_CLICKED);
    ASSERT_TRUE(waitFor([&] { return WaitForSingleObject(probe_.started, 0) == WAIT_OBJECT_0; }));
    SendMessageA(w, WM_COMMAND, IDCANCEL, 0);  // no check for a running session
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(settings_.written.size(), 3u);
    SetEvent(probe_.release);
    ASSERT_TRUE(waitFor([&] { return probe_.finished.load(); }));  // its calls returned at once
    EXPECT_EQ(quitCode(), 2);
}

TEST_F(WindowTest, Template129ServesTheFirmwareNameAndItsBrowseButton) {
    settings_.values = {{"FirmwareFile", "C:\\fw\\old.usf"}};
    ASSERT_NE(create(129), nullptr);
    EXPECT_EQ(field(kFirmwareNameId), "C:\\fw\\old.usf");

    g_chooserAnswer = nullptr;  // cancelled
    command(kBrowseId, BN_CLICKED);
    EXPECT_EQ(g_chooserSaw, "C:\\fw\\old.usf");
    EXPECT_EQ(field(kFirmwareNameId), "C:\\fw\\old.usf");

    g_chooserAnswer = "C:\\fw\\update.uusf";
    command(kBrowseId, BN_SETFOCUS);  // not a click
    EXPECT_EQ(field(kFirmwareNameId), "C:\\fw\\old.usf");
    command(kBrowseId, BN_CLICKED);
    EXPECT_EQ(field(kFirmwareNameId), "C:\\fw\\update.uusf");

    command(kStartId, BN_CLICKED);
    ASSERT_TRUE(waitFor([&] { return probe_.finished.load(); }));
    EXPECT_STREQ(probe_.fields.firmwareName, "C:\\fw\\update.uusf");

    SendMessageA(mainWindow(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(settings_.values["FirmwareFile"], "C:\\fw\\update.uusf");
}

}  // namespace
}  // namespace kestrel
