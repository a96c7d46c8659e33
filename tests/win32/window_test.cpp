// The window program's dialog under wine (needs an X display: the tests run under Xvfb in
// CI): built from the resources, driven through messages as the operator's input would be,
// with the settings store, the modem-port lookups, the session and the file dialog replaced.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "session/status_reporter.h"
#include "ui/bounded_text.h"
#include "ui/dialog_template.h"
#include "ui/window_placement.h"
#include "win32/main_window.h"

namespace kestrel {
namespace {

using Texts = std::vector<std::string>;

class FakeSettingsKey final : public SettingsKey {
  public:
    bool open() override { return true; }
    bool queryValue(const char* name, char (&text)[kTextCapacity]) override {
        const bool found = values.count(name) != 0;
        if (found) copyBounded(text, values[name].c_str());
        return found;
    }
    bool setValue(const char* name, const char* text) override {
        written.push_back(name);
        values[name] = text;
        return true;
    }
    void close() override {}

    std::map<std::string, std::string> values;
    Texts written;
};

// What the fake session saw and did, shared with the test's thread. When `hold` is set, the
// session waits for `release` after its reports, before it enables START again.
struct SessionProbe {
    std::atomic<int> runs{0};
    std::atomic<bool> started{false}, finished{false}, startWasDisabled{false};
    std::atomic<DWORD> thread{0};
    SessionFields fields;
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool hold = false;
    HWND dialog = nullptr;
    // The bar as the window showed it after each report: "position/maximum".
    std::vector<std::string> bar;
};
SessionProbe* g_probe = nullptr;

void fakeSession(SessionHost& host) {
    SessionProbe& p = *g_probe;
    ++p.runs;
    p.thread = GetCurrentThreadId();
    host.readFields(&p.fields);
    p.startWasDisabled = !IsWindowEnabled(GetDlgItem(p.dialog, kStartId));
    host.setStatus("ERROR: timout waiting for start character.");
    // Block counts past 16 bits: full only at the last block; a position beyond the range
    // stays at its end.
    for (int32_t blocks : {65536, 70000}) {
        host.setProgressRange(blocks);
        for (int32_t position : {blocks - 1, blocks, blocks + 5000}) {
            host.setProgressPosition(position);
            HWND bar = GetDlgItem(p.dialog, kProgressId);
            p.bar.push_back(std::to_string(SendMessageA(bar, PBM_GETPOS, 0, 0)) + "/" +
                            std::to_string(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));
        }
    }
    p.started = true;
    if (p.hold) WaitForSingleObject(p.release, 10000);
    host.enableStart();
    p.finished = true;
}

std::string g_chooserSaw;
const char* g_chooserAnswer = nullptr;

bool fakeChooser(HWND, char (&name)[kTextCapacity]) {
    g_chooserSaw = name;
    if (g_chooserAnswer != nullptr) copyBounded(name, g_chooserAnswer);
    return g_chooserAnswer != nullptr;
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        g_probe = &probe_;
        g_chooserAnswer = nullptr;
        setup_.runSession = fakeSession;
        setup_.settings = &settings_;
        setup_.chooseFile = fakeChooser;
    }
    void TearDown() override {
        close();
        quitCode();
        SetEvent(probe_.release);
        waitFor([&] { return probe_.runs == 0 || probe_.finished; });
        CloseHandle(probe_.release);
    }

    // A window of its own each time: an earlier one may still serve its session's reports.
    HWND create(int templateId = 130) {
        setup_.templateId = templateId;
        windows_.push_back(std::make_unique<MainWindow>(setup_));
        EXPECT_TRUE(windows_.back()->create(GetModuleHandleA(nullptr)))
            << "no window: is there a display (DISPLAY, Xvfb)?";
        probe_.dialog = mainWindow();
        return mainWindow();
    }
    // The current window's dialog; nullptr before creation and after closing.
    HWND mainWindow() const { return windows_.empty() ? nullptr : windows_.back()->dialog(); }
    void close() {
        if (mainWindow() != nullptr) SendMessageA(mainWindow(), WM_COMMAND, IDCANCEL, 0);
    }
    HWND item(int id) const { return GetDlgItem(mainWindow(), id); }
    std::string field(int id) const {
        char text[kTextCapacity] = {};
        GetWindowTextA(item(id), text, sizeof text);
        return text;
    }
    bool checked(int id) const { return IsDlgButtonChecked(mainWindow(), id) == BST_CHECKED; }
    void command(int id, int code) {
        SendMessageA(mainWindow(), WM_COMMAND, MAKEWPARAM(id, code),
                     reinterpret_cast<LPARAM>(item(id)));
    }
    // A key pressed and released on `w`, through the message queue.
    static void press(HWND w, UINT key) {
        const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)) << 16;
        PostMessageA(w, WM_KEYDOWN, key, scan | 1);
        PostMessageA(w, WM_KEYUP, key, scan | 0xC0000001);
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
            } else if (msg.message == WM_QUIT) {
                quit_ = static_cast<int>(msg.wParam);
            } else if (mainWindow() == nullptr || !IsDialogMessageA(mainWindow(), &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        return true;
    }
    // The exit code of the quit request posted so far, or -1.
    int quitCode() {
        MSG msg;
        waitFor([&] { return !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); });
        return quit_;
    }

    MainWindowSetup setup_;
    std::vector<std::unique_ptr<MainWindow>> windows_;
    FakeSettingsKey settings_;
    SessionProbe probe_;
    int quit_ = -1;
};

// The dialog from the program's resources (what it holds is the resource tests'; its caption
// the window program's), hidden, centred in the work area, with both icons. (A window that
// cannot be made is the window program's no_window case.)
TEST_F(WindowTest, AFirstStartShowsTemplate130HiddenCentredWithBothIcons) {
    HWND w = create();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(SendMessageA(w, WM_GETICON, ICON_BIG, 0) &&
                SendMessageA(w, WM_GETICON, ICON_SMALL, 0));

    RECT work, frame;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    GetWindowRect(w, &frame);
    const ScreenPoint at = centreInWorkArea({work.left, work.top, work.right, work.bottom},
                                            frame.right - frame.left, frame.bottom - frame.top);
    EXPECT_EQ(std::make_pair(frame.left, frame.top), std::make_pair(LONG{at.x}, LONG{at.y}));
    EXPECT_FALSE(IsWindowVisible(w));  // shown by the start-up code
}

// The USB option follows the port when the focus leaves it, not while it is typed, and on a
// selection by the list index (which port counts is window_model_test's). Enter on START runs
// the session on a worker that reads the fields and reports through the window; while it
// runs, neither Enter nor a stray command starts another, and Escape closes the window at
// once, saving the fields (which and how: window_model_test).
TEST_F(WindowTest, StartRunsOneSessionOnAWorkerThatReportsThroughTheWindowEscapeClosesIt) {
    FixedUsbPortLookups lookups("COM5", nullptr);
    setup_.usbLookups = &lookups;
    probe_.hold = true;
    HWND w = create();
    ASSERT_NE(w, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    SetForegroundWindow(w);
    HWND start = item(kStartId);
    ASSERT_EQ(GetFocus(), start);  // the first tab stop
    SetFocus(item(kPortId));
    SetWindowTextA(item(kPortId), "COM5");
    command(kPortId, CBN_EDITCHANGE);
    std::string usb = std::to_string(checked(kUsbOptionId));
    SetFocus(start);
    usb += std::to_string(checked(kUsbOptionId));
    SendMessageA(item(kPortId), CB_SETCURSEL, 3, 0);  // COM4, whatever the field says
    SetWindowTextA(item(kPortId), "COM5");
    command(kPortId, CBN_SELCHANGE);
    EXPECT_EQ(usb + std::to_string(checked(kUsbOptionId)), "010");

    SetWindowTextA(item(kRateId), "57600");
    CheckDlgButton(w, kNoFirmwareId, BST_CHECKED);
    press(start, VK_RETURN);  // START by the keyboard
    ASSERT_TRUE(waitFor([&] { return probe_.started.load(); }));
    // START is disabled, and the focus moved on within the window.
    EXPECT_FALSE(IsWindowEnabled(start));
    HWND focus = GetFocus();
    ASSERT_TRUE(IsChild(w, focus));
    press(focus, VK_RETURN);
    command(kStartId, BN_CLICKED);       // a stray command as well
    waitFor([] { return false; }, 500);  // time enough to start a second session
    const SessionFields& f = probe_.fields;
    EXPECT_EQ(
        std::make_tuple(probe_.runs.load(), probe_.thread != GetCurrentThreadId(),
                        probe_.startWasDisabled.load(),
                        std::string(f.portName) + " " + f.rateText + " [" + f.firmwareName + "]",
                        f.usb, f.noFirmware),
        std::make_tuple(1, true, true, std::string("COM5 57600 []"), false, true));
    EXPECT_EQ(field(kStatusId), "ERROR: timout waiting for start character.");
    EXPECT_EQ(probe_.bar, (Texts{"65535/65536", "65536/65536", "65536/65536", "69999/70000",
                                 "70000/70000", "70000/70000"}));

    press(focus, VK_ESCAPE);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(w); }));
    EXPECT_EQ(mainWindow(), nullptr);
    EXPECT_EQ(settings_.written, (Texts{"FirmwareFile", "COMPort", "BaudRate"}));
    SetEvent(probe_.release);  // its last report to the closed window returns at once
    ASSERT_TRUE(waitFor([&] { return probe_.finished.load(); }));
    EXPECT_EQ(quitCode(), 2);
}

// The name after each step: stored, seen by the cancelled chooser, kept on a notification that
// is no click, chosen, read by the session (which enables START again at its end), saved.
TEST_F(WindowTest, Template129ServesTheFirmwareNameAndItsBrowseButton) {
    settings_.values = {{"FirmwareFile", "C:\\fw\\old.usf"}};
    ASSERT_NE(create(129), nullptr);
    std::string names = field(kFirmwareNameId);
    command(kBrowseId, BN_CLICKED);  // cancelled
    names += " " + g_chooserSaw + " " + field(kFirmwareNameId);
    g_chooserAnswer = "C:\\fw\\update.uusf";
    command(kBrowseId, BN_SETFOCUS);
    names += " " + field(kFirmwareNameId);
    command(kBrowseId, BN_CLICKED);
    names += " " + field(kFirmwareNameId);
    command(kStartId, BN_CLICKED);
    ASSERT_TRUE(waitFor([&] { return probe_.finished && IsWindowEnabled(item(kStartId)); }));
    close();
    EXPECT_EQ(names + " " + probe_.fields.firmwareName + " " + settings_.values["FirmwareFile"],
              "C:\\fw\\old.usf C:\\fw\\old.usf C:\\fw\\old.usf C:\\fw\\old.usf C:\\fw\\update.uusf "
              "C:\\fw\\update.uusf C:\\fw\\update.uusf");
}

}  // namespace
}  // namespace kestrel
