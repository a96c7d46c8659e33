// A main window on the offscreen platform with its store in a scratch folder, an empty /dev,
// fixed USB lookups and a session and process end of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "temp_dir.h"
#include "ui/main_window.h"
#include "ui/reg_file_key.h"

namespace kestrel::test {

inline std::string storeWith(const std::string& values) {
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n" + values + "\r\n";
}

class WindowTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string storePath = dir / "config/Norvald/Kestrel.reg";
    std::string devRoot = dir / "dev";
    std::function<void(SessionHost&)> session = [](SessionHost&) {};
    const DialogTemplate* layout = &dialogTemplate130();
    std::unique_ptr<UsbPortLookups> lookups =
        std::make_unique<FixedUsbPortLookups>(nullptr, nullptr);
    FileChooser chooser;
    std::vector<int> exitCodes;
    std::unique_ptr<MainWindow> window;

    void SetUp() override { makeDirectories(devRoot); }

    void TearDown() override {
        window.reset();
        // Let queued calls and deferred deletions of the window's widgets run.
        QCoreApplication::processEvents();
    }

    MainWindow& create() {
        MainWindowSetup setup;
        setup.layout = layout;
        setup.runSession = session;
        setup.settings = std::make_unique<RegFileKey>(storePath);
        setup.usbLookups = std::move(lookups);
        setup.devRoot = devRoot;
        setup.endProcess = [this](int code) { exitCodes.push_back(code); };
        if (chooser) setup.chooseFile = chooser;
        window = std::make_unique<MainWindow>(std::move(setup));
        return *window;
    }

    // Shown and active, so that focus moves as the operator would see it.
    MainWindow& createShown() {
        create();
        window->show();
        QApplication::setActiveWindow(window.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return *window;
    }

    QPushButton* start() const { return qobject_cast<QPushButton*>(window->control(kStartId)); }
    QComboBox* port() const { return qobject_cast<QComboBox*>(window->control(kPortId)); }
    QComboBox* rate() const { return qobject_cast<QComboBox*>(window->control(kRateId)); }
    QProgressBar* progress() const {
        return qobject_cast<QProgressBar*>(window->control(kProgressId));
    }
    QLineEdit* status() const { return qobject_cast<QLineEdit*>(window->control(kStatusId)); }
    QCheckBox* usb() const { return qobject_cast<QCheckBox*>(window->control(kUsbOptionId)); }
    QCheckBox* noFirmware() const {
        return qobject_cast<QCheckBox*>(window->control(kNoFirmwareId));
    }
    QLineEdit* firmwareName() const {
        return qobject_cast<QLineEdit*>(window->control(kFirmwareNameId));
    }
    std::string stored() const { return readFile(storePath); }
};

}  // namespace kestrel::test
