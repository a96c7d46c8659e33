#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "session/status_texts.h"
#include "ui/app_icon.h"
#include "ui/bounded_text.h"
#include "ui/dialog_builder.h"
#include "ui/error_colour.h"
#include "ui/serial_device_list.h"
#include "ui/session_relay.h"
#include "ui/window_placement.h"

namespace kestrel {

namespace {

// Texts cross into the update logic as the locale's 8-bit bytes, at most 259 of them.
void toText(const QString& from, char (&to)[kTextCapacity]) {
    const QByteArray bytes = from.toLocal8Bit();
    copyBounded(to, bytes.constData());
}

Qt::WindowFlags windowFlagsFor(const DialogTemplate& layout) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if (layout.windowStyle & kCaption) flags |= Qt::WindowTitleHint;
    if (layout.windowStyle & kSystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (layout.windowStyle & kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
    if (layout.windowStyle & kMaximizeBox) flags |= Qt::WindowMaximizeButtonHint;
    return flags;
}

}  // namespace

bool chooseFileWithDialog(QWidget* owner, const OpenFileRequest& request, QString* chosen) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the file need not exist
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.first());
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    *chosen = dialog.selectedFiles().first();
    return true;
}

MainWindow::MainWindow(MainWindowSetup setup)
    : setup_(std::move(setup)), model_(*this, setup_.settings.get(), setup_.usbLookups.get()) {
    const DialogTemplate& layout = *setup_.layout;
    setWindowFlags(windowFlagsFor(layout));
    setWindowTitle(QString::fromLatin1(layout.caption));
    BuiltDialog built = buildDialog(this, layout);
    controls_ = built.controls;
    start_ = qobject_cast<QPushButton*>(control(kStartId));
    port_ = qobject_cast<QComboBox*>(control(kPortId));
    progress_ = qobject_cast<QProgressBar*>(control(kProgressId));
    status_ = qobject_cast<QLineEdit*>(control(kStatusId));
    relay_ = std::make_shared<SessionRelay>(this, this);

    // Linux device names are case-sensitive and long: the port field keeps what is typed
    // and scrolls, its list is as wide as its longest entry, and its tooltip shows it whole.
    port_->setValidator(nullptr);
    port_->installEventFilter(this);
    connect(port_, &QComboBox::editTextChanged, port_, &QWidget::setToolTip);

    connect(start_, &QPushButton::clicked, this, [this] { startSession(); });
    connect(port_, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { model_.refreshUsbOption(RefreshReason::SelectionChanged, index); });
    if (auto* browse = qobject_cast<QPushButton*>(control(kBrowseId)))
        connect(browse, &QPushButton::clicked, this, [this] { browseFirmwareFile(); });

    centreOnWorkArea();
    setWindowIcon(programIcon());
    const std::vector<std::string> devices = listSerialDevices(setup_.devRoot);
    std::vector<const char*> devicePorts;
    for (const std::string& device : devices)
        devicePorts.push_back(device.c_str());
    model_.initialise(devicePorts.data(), devicePorts.size());
    fitPortListWidth();
    // The first control with a tab stop takes the focus.
    for (size_t i = 0; i < layout.controlCount; ++i) {
        QWidget* w = control(layout.controls[i].id);
        if (w && (layout.controls[i].style & kTabStop) && !(layout.controls[i].style & kHidden)) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

MainWindow::~MainWindow() {
    relay_->detach();
}

QWidget* MainWindow::control(int id) const {
    return controls_.value(id, nullptr);
}

void MainWindow::centreOnWorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const ScreenPoint at = centreInWorkArea(
        {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()}, width(),
        height());
    move(at.x, at.y);
}

void MainWindow::fitPortListWidth() {
    QAbstractItemView* list = port_->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          list->verticalScrollBar()->sizeHint().width() + 2 * list->frameWidth());
}

void MainWindow::fieldText(int id, char (&text)[kTextCapacity]) {
    if (auto* combo = qobject_cast<QComboBox*>(control(id)))
        toText(combo->currentText(), text);
    else if (auto* edit = qobject_cast<QLineEdit*>(control(id)))
        toText(edit->text(), text);
    else
        text[0] = '\0';  // a field the layout does not have reads as empty
}

void MainWindow::setFieldText(int id, const char* text) {
    if (auto* combo = qobject_cast<QComboBox*>(control(id)))
        combo->setEditText(QString::fromLocal8Bit(text));
    else if (auto* edit = qobject_cast<QLineEdit*>(control(id)))
        edit->setText(QString::fromLocal8Bit(text));
}

void MainWindow::addListEntry(int id, const char* text) {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    if (!combo) return;
    const QString shown = combo->currentText();
    const bool first = combo->count() == 0;
    combo->addItem(QString::fromLocal8Bit(text));
    if (first) {
        // The first entry of a list becomes the current one; the field keeps its own text.
        combo->setCurrentIndex(-1);
        combo->setEditText(shown);
    }
}

void MainWindow::listEntryText(int id, int index, char (&text)[kTextCapacity]) {
    auto* combo = qobject_cast<QComboBox*>(control(id));
    toText(combo ? combo->itemText(index) : QString(), text);
}

bool MainWindow::isChecked(int id) {
    auto* box = qobject_cast<QCheckBox*>(control(id));
    return box && box->isChecked();
}

void MainWindow::setChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(control(id))) box->setChecked(checked);
}

void MainWindow::browseFirmwareFile() {
    OpenFileRequest request;
    char current[kTextCapacity];
    fieldText(kFirmwareNameId, current);
    request.initialName = QString::fromLocal8Bit(current);
    request.filters = {QStringLiteral("Firmware Files (*.usf)"),
                       QStringLiteral("Block Update Files (*.uusf)")};
    request.defaultSuffix = QStringLiteral("usf");
    QString chosen;
    if (!setup_.chooseFile || !setup_.chooseFile(this, request, &chosen)) return;
    // The name must fit the 260-byte buffers it later passes through.
    const QByteArray bytes = chosen.toLocal8Bit();
    if (bytes.size() < static_cast<qsizetype>(kTextCapacity))
        setFieldText(kFirmwareNameId, bytes.constData());
}

void MainWindow::startSession() {
    start_->setEnabled(false);
    status_->setToolTip(QString());  // the last session's explanation no longer applies
    const int session = ++sessionsStarted_;
    std::shared_ptr<SessionRelay> relay = relay_;
    std::function<SessionOutcome(SessionHost&)> run = setup_.runSession;
    std::function<std::string(const SystemError&)> explain = setup_.explainPortProblem;
    if (!run) return;
    auto work = [relay, run, explain, session] {
        const SessionOutcome outcome = run(*relay);
        if (!explain || (outcome.result != SessionResult::PortNotOpened &&
                         outcome.result != SessionResult::UsbPortNotReopened))
            return;
        // Looked up here, off the window's thread: it reads the host's devices and processes.
        const std::string explanation = explain(outcome.reason);
        if (explanation.empty()) return;
        std::fputs("kestrel: ", stderr);
        std::fputs(explanation.c_str(), stderr);
        if (explanation.back() != '\n') std::fputc('\n', stderr);
        const QString text = QString::fromLocal8Bit(explanation.c_str()).trimmed();
        relay->carryOut([session, text](SessionHost& window) {
            static_cast<MainWindow&>(window).showPortProblem(session, text);
        });
    };
    try {
        // The window keeps no handle and never waits; the session ends with the process at
        // the latest.
        std::thread(work).detach();
    } catch (const std::system_error&) {
        start_->setEnabled(true);  // no thread to be had: let the operator try again
    }
}

void MainWindow::showPortProblem(int session, const QString& explanation) {
    // START comes back before the explanation does: a newer session may have begun already.
    if (session == sessionsStarted_) status_->setToolTip(explanation);
}

void MainWindow::readFields(SessionFields* fields) {
    model_.readFields(fields);
}

void MainWindow::setStatus(const char* text) {
    const QString shown = QString::fromLocal8Bit(text);
    status_->setText(shown);
    status_->setCursorPosition(0);  // show the beginning of a long text
    // An error stands apart from the other reports by its colour; its words stay the session's.
    QPalette colours = status_->palette();
    colours.setColor(QPalette::Text, shown.startsWith(QLatin1String(status::kErrorPrefix))
                                         ? errorTextColour(colours.color(QPalette::Base))
                                         : palette().color(QPalette::Text));
    status_->setPalette(colours);
}

void MainWindow::setProgressRange(int32_t maximum) {
    // The whole block count: the bar fills exactly at the last block.
    progressMaximum_ = maximum < 0 ? 0 : maximum;
    // QProgressBar shows 0..0 as "busy"; 0..1 at 0 shows the same empty bar.
    progress_->setRange(0, progressMaximum_ == 0 ? 1 : progressMaximum_);
}

void MainWindow::setProgressPosition(int32_t position) {
    // The bar keeps the position within its range (QProgressBar would ignore it instead).
    progress_->setValue(qBound(0, static_cast<int>(position), progressMaximum_));
}

void MainWindow::enableStart() {
    start_->setEnabled(true);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == port_ && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
        model_.refreshUsbOption(RefreshReason::FocusLost);
    return QDialog::eventFilter(watched, event);
}

void MainWindow::reject() {
    closeWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();  // closing is ours to do, whatever asked for it
    closeWindow();
}

void MainWindow::closeWindow() {
    if (closed_) return;
    closed_ = true;
    model_.saveSettings();
    relay_->detach();  // from here on the session's calls do nothing
    hide();
    if (setup_.endProcess)
        setup_.endProcess(2);
    else
        QCoreApplication::exit(2);
}

}  // namespace kestrel
