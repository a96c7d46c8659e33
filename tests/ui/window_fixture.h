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

#include "temp_dir.h"
#include "ui/main_window.h"
#include "ui/reg_file_key.h"

namespace kestrel::test {

class WindowTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string storePath = dir / "config/Norvald/Kestrel.reg";
    std::string devRoot = dir / "dev";
    std::function<SessionOutcome(SessionHost&)> session = [](SessionHost&) {
        return SessionOutcome();
    };
    std::function<std::string(const SystemError&)> explain = portProblemText;
    const DialogTemplate* layout = &dialogTemplate130();
    std::unique_ptr<UsbPortLookups> lookups =
        std::make_unique<FixedUsbPortLookups>(nullptr, nullptr);
    FileChooser chooser;
    std::vector<int> exitCodes;
    std::unique_ptr<MainWindow> window;

    void TearDown() override {
        window.reset();
        // Let queued calls and deferred deletions of the window's widgets run.
        QCoreApplication::processEvents();
    }

    // Shown and active, so that focus moves as the operator would see it, over a store holding
    // `values` (none: no store file).
    MainWindow& createShown(const std::string& values = "") {
        if (!values.empty()) writeFile(storePath, storeWith(values));
        fs::create_directories(devRoot);
        MainWindowSetup setup;
        setup.layout = layout;
        setup.runSession = session;
        setup.explainPortProblem = explain;
        setup.settings = std::make_unique<RegFileKey>(storePath);
        setup.usbLookups = std::move(lookups);
        setup.devRoot = devRoot;
        setup.endProcess = [this](int code) { exitCodes.push_back(code); };
        if (chooser) setup.chooseFile = chooser;
        window = std::make_unique<MainWindow>(std::move(setup));
        window->show();
        QApplication::setActiveWindow(window.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return *window;
    }
    // Replaces the field's text by typing, as the operator does.
    static void typeInto(QComboBox* field, const QString& text) {
        field->setFocus();
        field->lineEdit()->selectAll();
        QTest::keyClicks(field->lineEdit(), text);
    }

    template <typename W>
    W* get(int id) const {
        return qobject_cast<W*>(window->control(id));
    }
    QPushButton* start() const { return get<QPushButton>(kStartId); }
    QComboBox* port() const { return get<QComboBox>(kPortId); }
    QComboBox* rate() const { return get<QComboBox>(kRateId); }
    QProgressBar* progress() const { return get<QProgressBar>(kProgressId); }
    QLineEdit* status() const { return get<QLineEdit>(kStatusId); }
    QCheckBox* usb() const { return get<QCheckBox>(kUsbOptionId); }
    std::string stored() const { return readFile(storePath); }
};

}  // namespace kestrel::test
