// The window from its creation to its closing: defaults, the stored settings, the fields'
// typing rules, template 129's firmware file, the USB option's refreshes (which port counts
// is window_model_test's), and closing.
#include <QCloseEvent>

#include "window_fixture.h"

namespace kestrel::test {
namespace {

TEST_F(WindowTest, FirstStartShowsTheDefaultsAndCreatesTheEmptyKey) {
    createShown();
    EXPECT_EQ(window->windowTitle(), "Kestrel (RS232 + USB)");
    // The model's lists and defaults (window_model_test) as the combo boxes show them.
    EXPECT_EQ(port()->currentText() + " " + rate()->currentText() + " " +
                  QString::number(port()->count() + rate()->count()),
              "COM1 115200 13");
    // A read-only status line, an empty bar, Cancel hidden.
    EXPECT_EQ(std::vector<int>({status()->isReadOnly(), progress()->maximum(), progress()->value(),
                                window->control(kCancelId)->isVisible()}),
              std::vector<int>({1, 100, 0, 0}));
    EXPECT_EQ(QApplication::focusWidget(), start());
    EXPECT_EQ(stored(), storeWith(""));
}

TEST_F(WindowTest, EscapeAndTheCloseBoxSaveTheFieldsAsTheirBytesAndEndTheProcessWithTwo) {
    // Under the C locale Qt takes 8-bit text as UTF-8 as well; either way the bytes survive.
    const std::string utf8Port =
        "/dev/serial/by-id/usb-Norvald_M\xC3\xB6"
        "dem-if00";
    for (bool escape : {true, false}) {
        exitCodes.clear();
        createShown(regValue("FirmwareFile", "old.usf") + regValue("COMPort", utf8Port));
        EXPECT_EQ(port()->currentText().toLocal8Bit().toStdString(), utf8Port);
        rate()->setEditText("9600");
        QCloseEvent event;  // what the close box, Close on the system menu and Alt+F4 send
        escape ? QTest::keyClick(window.get(), Qt::Key_Escape)
               : void(QApplication::sendEvent(window.get(), &event));
        EXPECT_EQ(exitCodes, std::vector<int>({2}));
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(stored(), storeWith(regValue("FirmwareFile", "") + regValue("COMPort", utf8Port) +
                                      regValue("BaudRate", "9600")));
        // Once closed, nothing closes it again.
        window->close();
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_EQ(exitCodes.size(), 1u);
    }
    // Without a store the process ends all the same.
    fs::remove_all(dir / "config");
    writeFile(dir / "config", "a file where the folder should be");
    exitCodes.clear();
    createShown();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(exitCodes, std::vector<int>({2}));
    EXPECT_EQ(readFile(dir / "config"), "a file where the folder should be");
}

TEST_F(WindowTest, ThePortFieldKeepsCaseAndLengthTheRateFieldIsUpperCaseAndBounded) {
    createShown();
    typeInto(port(), "com3");
    QTest::keyClick(port(), Qt::Key_Tab);  // leaving the field does not pick "COM3"
    EXPECT_EQ(port()->currentText(), "com3");
    typeInto(port(), "/dev/serial/by-id/usb-Norvald_Module-if00");
    EXPECT_EQ(port()->currentText(), "/dev/serial/by-id/usb-Norvald_Module-if00");
    typeInto(rate(), "12k");
    EXPECT_EQ(rate()->currentText(), "12K");
    // The rate field does not scroll: typing stops where the visible width ends.
    typeInto(rate(), QString(40, '9'));
    const QString kept = rate()->currentText();
    EXPECT_TRUE(kept.size() >= 6 && kept.size() < 40) << kept.size();
    EXPECT_EQ(kept, QString(kept.size(), '9'));
}

TEST_F(WindowTest, Template129sBrowseButtonTakesAChosenFileOfUpTo259Characters) {
    layout = &dialogTemplate129();
    QString answer;
    std::vector<OpenFileRequest> requests;
    chooser = [&](QWidget*, const OpenFileRequest& request, QString* chosen) {
        requests.push_back(request);
        *chosen = answer;
        return !answer.isEmpty();  // empty: cancelled
    };
    createShown(regValue("FirmwareFile", "start.usf"));
    ASSERT_NE(get<QLineEdit>(kFirmwareNameId), nullptr);
    const QString fits = "/a/" + QString(256, 'n');
    // 260 characters are too long, and a cancelled dialog changes nothing.
    for (const QString& offered : {fits, "/a/" + QString(257, 'n'), QString()}) {
        answer = offered;
        QTest::mouseClick(get<QPushButton>(kBrowseId), Qt::LeftButton);
        EXPECT_EQ(get<QLineEdit>(kFirmwareNameId)->text(), fits);
    }
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].initialName + " " + requests[0].filters.join("|") + " " +
                  requests[0].defaultSuffix,
              "start.usf Firmware Files (*.usf)|Block Update Files (*.uusf) usf");
    SessionFields fields;
    window->readFields(&fields);
    EXPECT_EQ(fields.firmwareName, fits.toStdString());
    window->close();
    EXPECT_NE(stored().find(regValue("FirmwareFile", fits.toStdString())), std::string::npos);
}

// The USB option as the window refreshes it: at the start, when a list entry is chosen and
// when the port field loses the focus, over the operator's own tick.
using WindowUsbTest = WindowTest;

TEST_F(WindowUsbTest, TheStartAChosenEntryOrLeavingThePortFieldRefreshTheOption) {
    const std::string modem = devRoot + "/serial/by-id/usb-Norvald-if00";
    writeFile(modem, "");
    lookups = std::make_unique<FixedUsbPortLookups>("COM4", modem.c_str());
    createShown(regValue("COMPort", "COM4"));
    EXPECT_TRUE(usb()->isChecked());  // decided by the stored port at the start
    ASSERT_EQ(port()->itemText(9).toStdString(), modem);
    // The chosen entry counts, not the field's text: COM1..COM9 by the index, the stable name
    // by its text.
    std::vector<bool> ticks;
    for (int index : {2, 9, 2, 3}) {
        emit port()->activated(index);
        ticks.push_back(usb()->isChecked());
    }
    const auto leavePortField = [&] {
        port()->setFocus();
        QTest::keyClick(port(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), port());
        return usb()->isChecked();
    };
    // Typing alone changes nothing; leaving the field refreshes the option.
    for (const char* typed : {"COM6", "COM4", "COM6"}) {
        typeInto(port(), typed);
        ticks.push_back(usb()->isChecked());
        ticks.push_back(leavePortField());
    }
    // The operator's tick lasts until the next refresh; other fields do not refresh.
    QTest::mouseClick(usb(), Qt::LeftButton);
    rate()->setFocus();
    QTest::keyClick(rate(), Qt::Key_Tab);
    ticks.push_back(usb()->isChecked());
    ticks.push_back(leavePortField());
    EXPECT_EQ(ticks, std::vector<bool>({false, true, false, true, true, false, false, true, true,
                                        false, true, false}));
}

}  // namespace
}  // namespace kestrel::test
