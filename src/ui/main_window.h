// The program's window: a dialog built from a template, in which the operator chooses port,
// rate and options, starts an update and watches its status line and progress bar. It owns
// the life of the process: closing it saves the settings and ends the process.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "platform/system_error.h"
#include "session/session_outcome.h"
#include "session/status_reporter.h"
#include "ui/dialog_template.h"
#include "ui/port_problem_text.h"
#include "ui/window_model.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kestrel {

class SessionRelay;

// What the open-file dialog of the browse button is asked for.
struct OpenFileRequest {
    QString initialName;    // the firmware-name field's text
    QStringList filters;    // in order; the first is selected
    QString defaultSuffix;  // added to a name typed without one
};

// Shows the open-file dialog; true with `chosen` set when the operator confirmed.
using FileChooser =
    std::function<bool(QWidget* owner, const OpenFileRequest& request, QString* chosen)>;

// The platform's open-file dialog.
bool chooseFileWithDialog(QWidget* owner, const OpenFileRequest& request, QString* chosen);

struct MainWindowSetup {
    const DialogTemplate* layout = &dialogTemplate130();
    // Runs one update on the worker thread (the program passes runUpdateSession).
    std::function<SessionOutcome(SessionHost&)> runSession;
    // Why a port did not open and what to do about it, as lines; run on the worker thread.
    // Without one nothing is explained.
    std::function<std::string(const SystemError& reason)> explainPortProblem = portProblemText;
    // Where the settings live; without one the window keeps nothing between runs.
    std::unique_ptr<SettingsKey> settings;
    // Where the modem's port is named; without them the USB option changes only when clicked.
    std::unique_ptr<UsbPortLookups> usbLookups;
    // Where the serial devices behind COM1..COM9 are listed from.
    std::string devRoot = "/dev";
    // Ends the process after the window is closed (with exit code 2); must not return in the
    // program, since a session may be blocked in a call to the window. Tests record instead.
    // Without one, the event loop is ended with the code.
    std::function<void(int exitCode)> endProcess;
    FileChooser chooseFile = chooseFileWithDialog;
};

// The Qt half of the window: widgets from the template, events, the worker and the reports.
// The rest is the WindowModel's, over the widgets as WindowFields.
class MainWindow : public QDialog, public SessionHost, private WindowFields {
  public:
    explicit MainWindow(MainWindowSetup setup);
    ~MainWindow() override;

    // SessionHost, carried out on the window's thread (the worker goes through SessionRelay).
    void readFields(SessionFields* fields) override;
    void setStatus(const char* text) override;
    void setProgressRange(int32_t maximum) override;
    void setProgressPosition(int32_t position) override;
    void enableStart() override;

    // The control with `id`, or nullptr when the layout has none.
    QWidget* control(int id) const;

    // The browse button: the open-file dialog, its result into the firmware-name field.
    void browseFirmwareFile();

  protected:
    void reject() override;  // Escape and the hidden Cancel's command
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // WindowFields, over the widgets; texts cross as the locale's 8-bit bytes.
    void fieldText(int id, char (&text)[kTextCapacity]) override;
    void setFieldText(int id, const char* text) override;
    void addListEntry(int id, const char* text) override;
    void listEntryText(int id, int index, char (&text)[kTextCapacity]) override;
    bool isChecked(int id) override;
    void setChecked(int id, bool checked) override;

    void centreOnWorkArea();
    void fitPortListWidth();
    void startSession();
    // The explanation of session `session`'s port problem, unless another session started since.
    void showPortProblem(int session, const QString& explanation);
    void closeWindow();

    MainWindowSetup setup_;
    WindowModel model_;
    QHash<int, QWidget*> controls_;
    QPushButton* start_ = nullptr;
    QComboBox* port_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLineEdit* status_ = nullptr;
    int progressMaximum_ = 100;  // the range as set; the bar itself cannot show 0..0 as empty
    bool closed_ = false;
    int sessionsStarted_ = 0;
    std::shared_ptr<SessionRelay> relay_;
};

}  // namespace kestrel
