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
#include <cstring>
#include <system_error>
#include <thread>

#include "ui/app_icon.h"
#include "ui/bounded_text.h"
#include "ui/dialog_builder.h"
#include "ui/serial_device_list.h"
#include "ui/session_relay.h"
#include "ui/window_placement.h"

namespace kestrel {

namespace {

constexpr int kNumberedPorts = 9;
const char* const kListedRates[] = {"57600", "115200", "230400", "460800"};
constexpr char kDefaultRate[] = "115200";

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

MainWindow::MainWindow(MainWindowSetup setup) : setup_(std::move(setup)) {
    const DialogTemplate& layout = *setup_.layout;
    setWindowFlags(windowFlagsFor(layout));
    setWindowTitle(QString::fromLatin1(layout.caption));
    BuiltDialog built = buildDialog(this, layout);
    controls_ = built.controls;
    start_ = qobject_cast<QPushButton*>(control(kStartId));
    port_ = qobject_cast<QComboBox*>(control(kPortId));
    rate_ = qobject_cast<QComboBox*>(control(kRateId));
    progress_ = qobject_cast<QProgressBar*>(control(kProgressId));
    status_ = qobject_cast<QLineEdit*>(control(kStatusId));
    usbOption_ = qobject_cast<QCheckBox*>(control(kUsbOptionId));
    noFirmware_ = qobject_cast<QCheckBox*>(control(kNoFirmwareId));
    relay_ = std::make_shared<SessionRelay>(this, this);

    // Linux device names are case-sensitive and long: the port field keeps what is typed and
    // scrolls, and its list is as wide as its longest entry.
    port_->setValidator(nullptr);
    port_->installEventFilter(this);

    connect(start_, &QPushButton::clicked, this, [this] { startSession(); });
    connect(port_, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { refreshUsbOption(RefreshReason::SelectionChanged, index); });
    if (auto* browse = qobject_cast<QPushButton*>(control(kBrowseId)))
        connect(browse, &QPushButton::clicked, this, [this] { browseFirmwareFile(); });

    centreOnWorkArea();
    setWindowIcon(programIcon());
    fillLists();
    loadStoredSettings();
    checkListedRate();
    refreshUsbOption(RefreshReason::Initialisation);
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

void MainWindow::fillLists() {
    for (int i = 1; i <= kNumberedPorts; ++i)
        port_->addItem(QStringLiteral("COM%1").arg(i));
    for (const std::string& device : listSerialDevices(setup_.devRoot))
        port_->addItem(QString::fromLocal8Bit(device.c_str()));
    QAbstractItemView* list = port_->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          list->verticalScrollBar()->sizeHint().width() + 2 * list->frameWidth());
    port_->setCurrentIndex(-1);
    port_->setEditText(QStringLiteral("COM1"));

    for (const char* listed : kListedRates)
        rate_->addItem(QString::fromLatin1(listed));
    rate_->setCurrentIndex(-1);  // the field starts empty; the rate check fills it
    rate_->setEditText(QString());
}

QString MainWindow::fieldText(int id) const {
    if (auto* combo = qobject_cast<QComboBox*>(control(id))) return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(control(id))) return edit->text();
    return QString();  // a field the layout does not have reads as empty
}

void MainWindow::setFieldText(int id, const QString& text) {
    if (auto* combo = qobject_cast<QComboBox*>(control(id)))
        combo->setEditText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(control(id)))
        edit->setText(text);
}

void MainWindow::loadStoredSettings() {
    if (!setup_.settings) return;
    SettingsTexts texts;
    toText(fieldText(kFirmwareNameId), texts.firmwareFile);
    toText(fieldText(kPortId), texts.comPort);
    toText(fieldText(kRateId), texts.baudRate);
    loadSettings(*setup_.settings, &texts);
    setFieldText(kFirmwareNameId, QString::fromLocal8Bit(texts.firmwareFile));
    setFieldText(kPortId, QString::fromLocal8Bit(texts.comPort));
    setFieldText(kRateId, QString::fromLocal8Bit(texts.baudRate));
}

void MainWindow::saveStoredSettings() {
    if (!setup_.settings) return;
    SettingsTexts texts;
    toText(fieldText(kFirmwareNameId), texts.firmwareFile);
    toText(fieldText(kPortId), texts.comPort);
    toText(fieldText(kRateId), texts.baudRate);
    saveSettings(*setup_.settings, texts);
}

void MainWindow::checkListedRate() {
    char text[kTextCapacity];
    toText(fieldText(kRateId), text);
    for (const char* listed : kListedRates)
        if (std::strcmp(text, listed) == 0) return;
    setFieldText(kRateId, QString::fromLatin1(kDefaultRate));
}

void MainWindow::refreshUsbOption(RefreshReason reason, int selectedIndex) {
    if (!setup_.usbLookups) return;
    char field[kTextCapacity], entry[kTextCapacity], name[kTextCapacity];
    toText(port_->currentText(), field);
    toText(selectedIndex >= 0 ? port_->itemText(selectedIndex) : QString(), entry);
    refreshPortName(reason, field, selectedIndex, entry, name);
    usbOption_->setChecked(isModemUsbPort(name, *setup_.usbLookups));
}

void MainWindow::browseFirmwareFile() {
    OpenFileRequest request;
    char current[kTextCapacity];
    toText(fieldText(kFirmwareNameId), current);
    request.initialName = QString::fromLocal8Bit(current);
    request.filters = {QStringLiteral("Firmware Files (*.usf)"),
                       QStringLiteral("Block Update Files (*.uusf)")};
    request.defaultSuffix = QStringLiteral("usf");
    QString chosen;
    if (!setup_.chooseFile || !setup_.chooseFile(this, request, &chosen)) return;
    // The name must fit the 260-byte buffers it later passes through.
    if (chosen.toLocal8Bit().size() < static_cast<qsizetype>(kTextCapacity))
        setFieldText(kFirmwareNameId, chosen);
}

void MainWindow::startSession() {
    start_->setEnabled(false);
    std::shared_ptr<SessionRelay> relay = relay_;
    std::function<void(SessionHost&)> run = setup_.runSession;
    if (!run) return;
    try {
        // The window keeps no handle and never waits; the session ends with the process at
        // the latest.
        std::thread([relay, run] { run(*relay); }).detach();
    } catch (const std::system_error&) {
        start_->setEnabled(true);  // no thread to be had: let the operator try again
    }
}

void MainWindow::readFields(SessionFields* fields) {
    toText(fieldText(kPortId), fields->portName);
    toText(fieldText(kRateId), fields->rateText);
    fields->usb = usbOption_->isChecked();
    fields->noFirmware = noFirmware_->isChecked();
    toText(fieldText(kFirmwareNameId), fields->firmwareName);
}

void MainWindow::setStatus(const char* text) {
    status_->setText(QString::fromLocal8Bit(text));
    status_->setCursorPosition(0);  // show the beginning of a long text
}

void MainWindow::setProgressRange(int32_t maximum) {
    // The bar's range is 16 bits wide.
    progressMaximum_ = static_cast<uint16_t>(static_cast<uint32_t>(maximum));
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
        refreshUsbOption(RefreshReason::FocusLost);
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
    saveStoredSettings();
    relay_->detach();  // from here on the session's calls do nothing
    hide();
    if (setup_.endProcess)
        setup_.endProcess(2);
    else
        QCoreApplication::exit(2);
}

}  // namespace kestrel
