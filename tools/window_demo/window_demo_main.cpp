// The window with a scripted session that replays the status texts of a typical update
// (RS-232, a module at 57600 asked for 115200) at a quick pace, for screenshots and for
// looking at the window by hand. START is pressed by itself; the window stays open after.
// Not a test and not the program: the real one runs the real session.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <memory>
#include <thread>

#include "ui/main_window.h"
#include "ui/reg_file_key.h"
#include "ui/sysfs_usb_lookups.h"

namespace {

kestrel::SessionOutcome replayTypicalUpdate(kestrel::SessionHost& host) {
    const int total = 35987;
    kestrel::SessionFields fields;
    host.readFields(&fields);
    host.setStatus("");
    host.setProgressRange(total);
    host.setProgressPosition(0);
    for (const char* text : {"INFO: original baudrate = 57600", "Waiting for start signal.",
                             "Firmware download in progress."}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        host.setStatus(text);
    }
    for (int block = total / 30; block < total; block += 499) {
        host.setProgressPosition(block);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    host.setStatus("Download succeeded, finishing update process.");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    host.setStatus("Download succeeded.");
    host.setProgressPosition(total);
    host.enableStart();
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    kestrel::MainWindowSetup setup;
    setup.runSession = replayTypicalUpdate;
    setup.settings = std::make_unique<kestrel::RegFileKey>(kestrel::defaultSettingsPath());
    setup.usbLookups = std::make_unique<kestrel::SysfsUsbPortLookups>();
    setup.endProcess = [](int code) { QCoreApplication::exit(code); };
    kestrel::MainWindow window(std::move(setup));
    window.show();
    QTimer::singleShot(300, &window, [&window] {
        qobject_cast<QPushButton*>(window.control(kestrel::kStartId))->click();
    });
    return app.exec();
}
