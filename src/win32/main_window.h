// The program's window on Windows: a modeless dialog made from a template of the resources
// (130 in the program; 129 is served by the same code), dispatching its messages by message
// and command id. It owns the life of the process: closing it saves the settings and ends
// the message loop with exit code 2. The lists, the settings, the USB option and the
// session's snapshot are the WindowModel's; this is the dialog's side of them.
#pragma once

#include <windows.h>

#include "session/status_reporter.h"
#include "ui/window_model.h"

namespace kestrel {

// Shows the platform's open-file dialog for the firmware name, starting from `name`. True
// with `name` replaced when the operator confirmed a name that fits.
using ChooseFirmwareFile = bool (*)(HWND owner, char (&name)[kTextCapacity]);

struct MainWindowSetup {
    int templateId = 130;
    // Runs one update on the worker thread (the program passes runUpdateSession).
    void (*runSession)(SessionHost&) = nullptr;
    // Where the settings live; without one nothing is kept between runs.
    SettingsKey* settings = nullptr;
    // Where the modem's port is named; without them the USB option changes only when clicked.
    UsbPortLookups* usbLookups = nullptr;
    ChooseFirmwareFile chooseFile = nullptr;
};

// What the worker holds instead of the window: every call becomes a message sent to the
// dialog, so the worker waits until the window's thread has carried it out, in the order
// made. Once the window is destroyed the calls have no effect (SendMessage to a dead window
// returns at once).
class WindowRelay final : public SessionHost {
  public:
    void attach(HWND dialog) { dialog_ = dialog; }
    void readFields(SessionFields* fields) override;
    void setStatus(const char* text) override;
    void setProgressRange(int32_t maximum) override;
    void setProgressPosition(int32_t position) override;
    void enableStart() override;

  private:
    HWND dialog_ = nullptr;
};

class MainWindow final : private WindowFields {
  public:
    explicit MainWindow(const MainWindowSetup& setup);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the dialog, hidden, from the template (CreateDialogParamA); it initialises
    // itself (centring, icons, lists, settings, rate check, USB option). False when it cannot
    // be created. Once per object; the object must outlive a session it started.
    bool create(HINSTANCE instance);

    // The dialog, or nullptr before creation and after closing.
    HWND dialog() const { return dialog_; }

    // Runs the message loop until the quit request and returns its exit code (2 once the
    // window was closed). Each message is first offered to the dialog's keyboard handling.
    int runMessageLoop();

  private:
    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI sessionThread(void* window);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

    // WindowFields, over the dialog's controls.
    void fieldText(int id, char (&text)[kTextCapacity]) override;
    void setFieldText(int id, const char* text) override;
    void addListEntry(int id, const char* text) override;
    void listEntryText(int id, int index, char (&text)[kTextCapacity]) override;
    bool isChecked(int id) override;
    void setChecked(int id, bool checked) override;

    HWND control(int id) const { return GetDlgItem(dialog_, id); }
    void initialise(HWND dialog);
    void centreOnWorkArea();
    void setIcon(WPARAM which, int widthMetric, int heightMetric);
    bool onCommand(int id, int code);
    void startSession();
    void closeWindow();
    void browseFirmwareFile();

    MainWindowSetup setup_;
    WindowModel model_;
    WindowRelay relay_;
    HINSTANCE instance_ = nullptr;
    HWND dialog_ = nullptr;    // offered every message first; nullptr once destroyed
    HWND progress_ = nullptr;  // looked up once, for the reports
};

}  // namespace kestrel
