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

void replayTypicalUpdate(kestrel::SessionHost& host) {
    using std::this_thread::sleep_for;
    using namespace std::chrono_literals;
    kestrel::SessionFields fields;
    host.readFields(&fields);
    const int total = 35987;
    host.setStatus("");
    host.setProgressRange(total);
    host.setProgressPosition(0);
    sleep_for(300ms);
    host.setStatus("INFO: original baudrate = 57600");
    sleep_for(300ms);
    host.setStatus("Waiting for start signal.");
    sleep_for(300ms);
    host.setStatus("Firmware download in progress.");
    for (int block = 0; block < total; block += 499) {
        host.setProgressPosition(block > total / 30 ? block : total / 30);
        sleep_for(10ms);
    }
    host.setStatus("Download succeeded, finishing update process.");
    sleep_for(300ms);
    host.setStatus("Download succeeded.");
    host.setProgressPosition(total);
    host.enableStart();
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
