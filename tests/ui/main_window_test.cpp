// The window from its creation to its closing: defaults, the stored settings and the rate
// check, the fields' typing rules, the layout, template 129's firmware file, and closing.
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <string>

#include "ui/dialog_builder.h"
#include "window_fixture.h"

namespace kestrel::test {
namespace {

QStringList items(QComboBox* combo) {
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

const QStringList kComPorts = {"COM1", "COM2", "COM3", "COM4", "COM5",
                               "COM6", "COM7", "COM8", "COM9"};

TEST_F(WindowTest, FirstStartShowsTheDefaultsAndCreatesTheEmptyKey) {
    createShown();
    EXPECT_EQ(window->windowTitle(), "Kestrel (RS232 + USB)");
    EXPECT_EQ(port()->currentText(), "COM1");
    EXPECT_EQ(rate()->currentText(), "115200");
    EXPECT_EQ(items(port()), kComPorts);
    EXPECT_EQ(items(rate()), QStringList({"57600", "115200", "230400", "460800"}));
    EXPECT_FALSE(usb()->isChecked());
    EXPECT_FALSE(noFirmware()->isChecked());
    EXPECT_EQ(status()->text(), "");
    EXPECT_TRUE(status()->isReadOnly());
    EXPECT_EQ(progress()->minimum(), 0);
    EXPECT_EQ(progress()->maximum(), 100);
    EXPECT_EQ(progress()->value(), 0);
    EXPECT_TRUE(start()->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), start());
    EXPECT_EQ(stored(), storeWith(""));
    EXPECT_TRUE(exitCodes.empty());
}

TEST_F(WindowTest, AStoredRateOffTheListIsReplacedBy115200) {
    for (const char* storedRate : {"9600", " 115200", "115200 ", "115200\\t", "", "abc"}) {
        writeFile(storePath, storeWith(std::string("\"BaudRate\"=\"") + storedRate + "\"\r\n"));
        create();
        EXPECT_EQ(rate()->currentText(), "115200") << storedRate;
    }
    for (const char* listed : {"57600", "230400", "460800"}) {
        writeFile(storePath, storeWith(std::string("\"BaudRate\"=\"") + listed + "\"\r\n"));
        create();
        EXPECT_EQ(rate()->currentText(), listed);
    }
}

TEST_F(WindowTest, AStoredPortIsShownAsItIs) {
    writeFile(storePath, storeWith("\"COMPort\"=\"COM12\"\r\n"));
    create();
    EXPECT_EQ(port()->currentText(), "COM12");
    EXPECT_EQ(items(port()), kComPorts);  // the list is not extended

    writeFile(storePath, storeWith("\"COMPort\"=\"/dev/ttyUSB0\"\r\n"));
    create();
    EXPECT_EQ(port()->currentText(), "/dev/ttyUSB0");  // case kept

    writeFile(storePath, storeWith("\"COMPort\"=\"\"\r\n"));
    create();
    EXPECT_EQ(port()->currentText(), "");
}

TEST_F(WindowTest, AStoredValueOf260CharactersIsNotLoaded) {
    const std::string long259(259, 'p'), long260(260, 'r');
    writeFile(storePath,
              storeWith("\"COMPort\"=\"" + long260 + "\"\r\n\"BaudRate\"=\"" + long260 + "\"\r\n"));
    create();
    EXPECT_EQ(port()->currentText(), "COM1");
    EXPECT_EQ(rate()->currentText(), "115200");
    window.reset();

    writeFile(storePath, storeWith("\"COMPort\"=\"" + long259 + "\"\r\n"));
    create();
    EXPECT_EQ(port()->currentText().toStdString(), long259);
}

TEST_F(WindowTest, StoredTextsAreTheLocalesBytes) {
    // Under the C locale Qt takes 8-bit text as UTF-8 as well; either way the bytes survive.
    const std::string name =
        "/dev/serial/by-id/usb-Norvald_M\xC3\xB6"
        "dem-if00";
    writeFile(storePath, storeWith("\"COMPort\"=\"" + name + "\"\r\n"));
    create();
    EXPECT_EQ(port()->currentText().toLocal8Bit().toStdString(), name);
    window->close();
    EXPECT_NE(stored().find("\"COMPort\"=\"" + name + "\""), std::string::npos) << stored();
}

TEST_F(WindowTest, Template130StoresAnEmptyFirmwareFileWhenClosed) {
    writeFile(storePath, storeWith("\"FirmwareFile\"=\"old.usf\"\r\n\"COMPort\"=\"COM3\"\r\n"
                                   "\"BaudRate\"=\"9600\"\r\n"));
    createShown();
    EXPECT_EQ(window->control(kFirmwareNameId), nullptr);
    SessionFields fields;
    window->readFields(&fields);
    EXPECT_STREQ(fields.firmwareName, "");
    window->close();
    EXPECT_EQ(stored(), storeWith("\"FirmwareFile\"=\"\"\r\n\"COMPort\"=\"COM3\"\r\n"
                                  "\"BaudRate\"=\"115200\"\r\n"));
}

TEST_F(WindowTest, EscapeSavesTheFieldsAndEndsTheProcessWithTwo) {
    createShown();
    port()->setEditText("COM7");
    rate()->setEditText("9600");  // a rate typed during the run is saved as it is
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(exitCodes, std::vector<int>({2}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(stored(), storeWith("\"FirmwareFile\"=\"\"\r\n\"COMPort\"=\"COM7\"\r\n"
                                  "\"BaudRate\"=\"9600\"\r\n"));
    // Once closed, nothing closes it again.
    window->close();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(exitCodes.size(), 1u);
}

TEST_F(WindowTest, TheCloseBoxClosesAsEscapeDoes) {
    createShown();
    QCloseEvent event;  // what the close box, Close on the system menu and Alt+F4 send
    QApplication::sendEvent(window.get(), &event);
    EXPECT_EQ(exitCodes, std::vector<int>({2}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_NE(stored().find("\"COMPort\"=\"COM1\""), std::string::npos);
}

TEST_F(WindowTest, ClosingWithoutAStoreStillEndsTheProcess) {
    writeFile(dir / "config", "a file where the folder should be");
    createShown();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(exitCodes, std::vector<int>({2}));
    EXPECT_EQ(readFile(dir / "config"), "a file where the folder should be");
}

TEST_F(WindowTest, ThePortFieldKeepsCaseAndLengthTheRateFieldIsUpperCaseAndBounded) {
    createShown();
    port()->setFocus();
    port()->lineEdit()->selectAll();
    QTest::keyClicks(port()->lineEdit(), "com3");
    QTest::keyClick(port(), Qt::Key_Tab);  // leaving the field does not pick "COM3"
    EXPECT_EQ(port()->currentText(), "com3");
    port()->setFocus();
    port()->lineEdit()->selectAll();
    QTest::keyClicks(port()->lineEdit(), "/dev/serial/by-id/usb-Norvald_Module-if00");
    EXPECT_EQ(port()->currentText(), "/dev/serial/by-id/usb-Norvald_Module-if00");

    rate()->setFocus();
    rate()->lineEdit()->selectAll();
    QTest::keyClicks(rate()->lineEdit(), "12k");
    EXPECT_EQ(rate()->currentText(), "12K");
    // The rate field does not scroll: typing stops where the visible width ends.
    rate()->lineEdit()->selectAll();
    QTest::keyClicks(rate()->lineEdit(), QString(40, '9'));
    const QString kept = rate()->currentText();
    EXPECT_GE(kept.size(), 6);
    EXPECT_LT(kept.size(), 40);
    EXPECT_EQ(kept, QString(kept.size(), '9'));
}

TEST_F(WindowTest, ControlsSitWhereTheTemplateSaysInTheDialogFontsUnits) {
    create();
    const DialogBaseUnits units = measureDialogBaseUnits(window->font());
    EXPECT_GT(units.cx, 0);
    EXPECT_GT(units.cy, 0);
    const PixelRect client = dialogUnitsToPixels(0, 0, 284, 145, units);
    EXPECT_EQ(window->size(), QSize(client.width, client.height));
    // Fixed size: no sizing border.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    for (int id : {kStartId, kCancelId, kProgressId, kStatusId, kUsbOptionId, kNoFirmwareId}) {
        const ControlTemplate* c = findControl(dialogTemplate130(), id);
        const PixelRect r = dialogUnitsToPixels(c->x, c->y, c->cx, c->cy, units);
        EXPECT_EQ(window->control(id)->geometry(), QRect(r.x, r.y, r.width, r.height)) << id;
    }
    // Combo boxes take their closed height; the template's height includes the list.
    const PixelRect portRect = dialogUnitsToPixels(57, 19, 58, 98, units);
    EXPECT_EQ(port()->pos(), QPoint(portRect.x, portRect.y));
    EXPECT_EQ(port()->width(), portRect.width);
    EXPECT_LT(port()->height(), portRect.height);
}

TEST_F(WindowTest, TheWindowIsCentredWithAMinimiseBoxAndNoMaximiseBox) {
    create();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->pos(), QPoint(area.left() + area.width() / 2 - window->width() / 2,
                                    area.top() + area.height() / 2 - window->height() / 2));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(32, 32)));
    EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(16, 16)));
}

TEST_F(WindowTest, TheTabOrderIsTheTemplatesAndCancelStaysHidden) {
    createShown();
    EXPECT_FALSE(window->control(kCancelId)->isVisible());
    std::vector<QWidget*> visited;
    for (int i = 0; i < 6; ++i) {
        visited.push_back(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    const std::vector<QWidget*> expected = {start(), port(), rate(), status(), usb(), noFirmware()};
    EXPECT_EQ(visited, expected);
    EXPECT_EQ(QApplication::focusWidget(), start());  // and round again
}

class Template129Test : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        layout = &dialogTemplate129();
    }
};

TEST_F(Template129Test, TheFirmwareNameIsLoadedReadAndSaved) {
    writeFile(storePath, storeWith("\"FirmwareFile\"=\"/srv/fw/update.usf\"\r\n"));
    createShown();
    EXPECT_EQ(window->windowTitle(), "Kestrel V1.07");
    ASSERT_NE(firmwareName(), nullptr);
    EXPECT_EQ(firmwareName()->text(), "/srv/fw/update.usf");
    EXPECT_EQ(noFirmware()->text(), "No Firmware / After UUSF-Update");
    SessionFields fields;
    window->readFields(&fields);
    EXPECT_STREQ(fields.firmwareName, "/srv/fw/update.usf");
    firmwareName()->setText("/srv/fw/block.uusf");
    window->close();
    EXPECT_NE(stored().find("\"FirmwareFile\"=\"/srv/fw/block.uusf\""), std::string::npos);
}

TEST_F(Template129Test, BrowseAsksForFirmwareFilesAndTakesNamesThatFit) {
    std::vector<OpenFileRequest> requests;
    QString answer;
    bool confirm = true;
    chooser = [&](QWidget* owner, const OpenFileRequest& request, QString* chosen) {
        EXPECT_EQ(owner, window.get());
        requests.push_back(request);
        *chosen = answer;
        return confirm;
    };
    writeFile(storePath, storeWith("\"FirmwareFile\"=\"start.usf\"\r\n"));
    createShown();
    auto* browse = qobject_cast<QPushButton*>(window->control(kBrowseId));
    ASSERT_NE(browse, nullptr);

    answer = "/a/" + QString(255, 'n');  // 258 characters
    QTest::mouseClick(browse, Qt::LeftButton);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].initialName, "start.usf");
    EXPECT_EQ(requests[0].filters,
              QStringList({"Firmware Files (*.usf)", "Block Update Files (*.uusf)"}));
    EXPECT_EQ(requests[0].defaultSuffix, "usf");
    EXPECT_EQ(firmwareName()->text(), answer);

    answer = "/a/" + QString(256, 'n');  // 259: still fits
    window->browseFirmwareFile();
    EXPECT_EQ(firmwareName()->text(), answer);
    EXPECT_EQ(requests.back().initialName.size(), 258);

    const QString fitting = answer;
    answer = "/a/" + QString(257, 'n');  // 260: too long, the field keeps its name
    window->browseFirmwareFile();
    EXPECT_EQ(firmwareName()->text(), fitting);

    answer = "/elsewhere.usf";
    confirm = false;  // cancelled
    window->browseFirmwareFile();
    EXPECT_EQ(firmwareName()->text(), fitting);
}

TEST_F(Template129Test, TheFirmwareFileGroupFollowsCancelInTheTabOrder) {
    createShown();
    QTest::keyClick(start(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), firmwareName());
    QTest::keyClick(firmwareName(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window->control(kBrowseId));
    QTest::keyClick(window->control(kBrowseId), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), port());
}

}  // namespace
}  // namespace kestrel::test
