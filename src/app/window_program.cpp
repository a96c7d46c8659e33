#include "app/window_program.h"

#include <QApplication>
#include <QScreen>
#include <atomic>
#include <cstdio>
#include <memory>

#include "app/process_end.h"
#include "ui/main_window.h"
#include "ui/reg_file_key.h"
#include "ui/sysfs_usb_lookups.h"

namespace kestrel {

namespace {

std::atomic<bool> creatingWindow{true};
QtMessageHandler previousHandler = nullptr;

[[noreturn]] void cannotCreateWindow(const char* reason) {
    std::fprintf(stderr, "kestrel: the window cannot be created: %s\n", reason);
    endProcessNow(0);
}

// Qt ends a program it cannot connect to a display with a fatal message; until the window
// exists, that means the window cannot be created.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg && creatingWindow.load())
        cannotCreateWindow(message.toLocal8Bit().constData());
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

void runWindowProgram(int argc, char** argv, SessionOutcome (*runSession)(SessionHost&)) {
    previousHandler = qInstallMessageHandler(onQtMessage);
    // The command line is ignored, Qt's own options included.
    int qtArgc = argc > 0 ? 1 : 0;
    char* qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv);
    if (!QGuiApplication::primaryScreen()) cannotCreateWindow("no screen");

    MainWindowSetup setup;
    setup.runSession = runSession;
    setup.settings = std::make_unique<RegFileKey>(defaultSettingsPath());
    setup.usbLookups = std::make_unique<SysfsUsbPortLookups>();
    setup.endProcess = endProcessNow;
    // Never destroyed: the process ends from inside the event loop when it is closed.
    auto* window = new MainWindow(std::move(setup));
    creatingWindow.store(false);
    window->show();

    // The loop ends only when something other than closing quits it; a session may still be
    // running then, too.
    endProcessNow(app.exec());
}

}  // namespace kestrel
