#include "app/test_drive.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>
#include <cstring>

#include "ui/main_window.h"

namespace kestrel {

void startTestDriveIfAsked(MainWindow& window) {
    const char* drive = std::getenv("KESTREL_TEST_DRIVE");
    if (!drive || std::strcmp(drive, "1") != 0) return;
    QTimer::singleShot(0, &window, [&window] {
        if (auto* start = qobject_cast<QPushButton*>(window.control(kStartId))) start->click();
    });
    auto* input = new QSocketNotifier(0, QSocketNotifier::Read, &window);
    QObject::connect(input, &QSocketNotifier::activated, &window, [&window, input] {
        input->setEnabled(false);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &escape);
    });
}

}  // namespace kestrel
