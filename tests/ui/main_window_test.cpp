// The window from its creation to its closing: defaults, the stored settings, the fields'
// typing rules, the layout, template 129's firmware file, the USB option's refreshes (which
// port counts is window_model_test's), and closing.
#include <QAbstractItemView>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "ui/dialog_builder.h"
#include "window_fixture.h"

namespace kestrel::test {
namespace {

// Tabs from START round the window once, visiting the fields in the given order.
void expectTabOrder(std::vector<QWidget*> expected) {
    std::vector<QWidget*> visited;
    for (size_t i = 0; i <= expected.size(); ++i) {
        visited.push_back(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    expected.push_back(expected.front());
    EXPECT_EQ(visited, expected);
}

TEST_F(WindowTest, FirstStartShowsTheDefaultsCentredAndCreatesTheEmptyKey) {
    createShown();
    EXPECT_EQ(window->windowTitle(), "Kestrel (RS232 + USB)");
    // The model's lists and defaults (window_model_test) as the combo boxes show them.
    EXPECT_EQ(port()->currentText() + " " + rate()->currentText(), "COM1 115200");
    EXPECT_EQ(port()->count() + rate()->count(), 13);
    EXPECT_TRUE(status()->isReadOnly());
    EXPECT_EQ(progress()->maximum() * 1000 + progress()->value(), 100 * 1000);
    EXPECT_EQ(QApplication::focusWidget(), start());
    EXPECT_EQ(stored(), storeWith(""));
    // Centred on the work area, with a minimise box, no maximise box and icon 128's sizes.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window->pos(), QPoint(area.left() + area.width() / 2 - window->width() / 2,
                                    area.top() + area.height() / 2 - window->height() / 2));
    const auto boxes =
        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint;
    EXPECT_EQ(window->windowFlags() & boxes, boxes & ~Qt::WindowMaximizeButtonHint);
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)) && iconSizes.contains(QSize(16, 16)));
    // The tab order is the template's; Cancel stays hidden.
    EXPECT_FALSE(window->control(kCancelId)->isVisible());
    expectTabOrder({start(), port(), rate(), status(), usb(), noFirmware()});
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

TEST_F(WindowTest, ThePortFieldsTooltipShowsItsWholeTextAndItsListItsLongestName) {
    // A USB modem's stable name, far wider than the port field.
    const std::string byId =
        devRoot + "/serial/by-id/usb-Norvald_Kestrel_Radio_Module_3560891234567-if00-port0";
    writeFile(byId, "");
    writeFile(devRoot + "/ttyUSB0", "");
    createShown(regValue("COMPort", byId));
    EXPECT_EQ(port()->toolTip().toStdString(), byId);  // from the store
    typeInto(port(), "/dev/ttyACM12");
    EXPECT_EQ(port()->toolTip(), "/dev/ttyACM12");  // typed
    port()->setCurrentIndex(9);
    QTest::keyClick(port(), Qt::Key_Down);  // chosen from the list
    EXPECT_EQ(port()->toolTip().toStdString(), devRoot + "/ttyUSB0");

    const QString longest = QString::fromStdString(byId);
    ASSERT_EQ(port()->itemText(9), longest);
    port()->showPopup();
    QAbstractItemView* list = port()->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    // The whole entry is shown: the list is as wide as the entry asks for, with its margins.
    const QModelIndex entry = list->model()->index(9, 0);
    const int width = list->fontMetrics().horizontalAdvance(longest);
    EXPECT_GE(list->visualRect(entry).width(), list->sizeHintForIndex(entry).width());
    EXPECT_GE(list->viewport()->width(), width);
    EXPECT_LT(port()->width(), width);
    port()->hidePopup();
}

TEST_F(WindowTest, ControlsSitWhereTheTemplateSaysInTheDialogFontsUnits) {
    create();
    const DialogBaseUnits units = measureDialogBaseUnits(window->font());
    EXPECT_TRUE(units.cx > 0 && units.cy > 0);
    const auto pixels = [&](int x, int y, int cx, int cy) {
        const PixelRect r = dialogUnitsToPixels(x, y, cx, cy, units);
        return QRect(r.x, r.y, r.width, r.height);
    };
    EXPECT_EQ(window->size(), pixels(0, 0, 284, 145).size());
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // fixed size: no sizing border
    for (int id : {kStartId, kCancelId, kProgressId, kStatusId, kUsbOptionId, kNoFirmwareId}) {
        const ControlTemplate* c = findControl(dialogTemplate130(), id);
        EXPECT_EQ(window->control(id)->geometry(), pixels(c->x, c->y, c->cx, c->cy)) << id;
    }
    // Combo boxes take their closed height; the template's height includes the list.
    const QRect portRect = pixels(57, 19, 58, 98);
    EXPECT_EQ(port()->geometry().adjusted(0, 0, 0, portRect.height() - port()->height()), portRect);
    EXPECT_LT(port()->height(), portRect.height());
}

TEST_F(WindowTest, Template129sFirmwareNameIsLoadedBrowsedForReadAndSaved) {
    layout = &dialogTemplate129();
    std::vector<OpenFileRequest> requests;
    QString answer;
    bool confirm = true;
    chooser = [&](QWidget* owner, const OpenFileRequest& request, QString* chosen) {
        EXPECT_EQ(owner, window.get());
        requests.push_back(request);
        *chosen = answer;
        return confirm;
    };
    createShown(regValue("FirmwareFile", "start.usf"));
    EXPECT_EQ(window->windowTitle(), "Kestrel V1.07");
    ASSERT_NE(firmwareName(), nullptr);
    EXPECT_EQ(firmwareName()->text(), "start.usf");
    EXPECT_EQ(noFirmware()->text(), "No Firmware / After UUSF-Update");
    expectTabOrder({start(), firmwareName(), window->control(kBrowseId), port(), rate(), status(),
                    usb(), noFirmware()});
    answer = "/a/" + QString(255, 'n');  // 258 characters
    QTest::mouseClick(get<QPushButton>(kBrowseId), Qt::LeftButton);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].initialName + " " + requests[0].filters.join("|") + " " +
                  requests[0].defaultSuffix,
              "start.usf Firmware Files (*.usf)|Block Update Files (*.uusf) usf");
    EXPECT_EQ(firmwareName()->text(), answer);

    const QString fits = "/a/" + QString(256, 'n');  // 259 characters
    // 259 fits; 260 is too long, and a cancelled dialog changes nothing: the field keeps it.
    for (const auto& [offered, confirmed] : {std::pair{fits, true},
                                             {"/a/" + QString(257, 'n'), true},
                                             {QString("/elsewhere.usf"), false}}) {
        answer = offered;
        confirm = confirmed;
        window->browseFirmwareFile();
        EXPECT_EQ(firmwareName()->text(), fits);
    }
    EXPECT_EQ(requests[2].initialName.size(), 259);
    SessionFields fields;
    window->readFields(&fields);
    EXPECT_EQ(fields.firmwareName, fits.toStdString());
    window->close();
    EXPECT_NE(stored().find(regValue("FirmwareFile", fits.toStdString())), std::string::npos);
}

// The USB option as the window refreshes it: when the port field loses the focus and when a
// list entry is chosen (by click or key), over the operator's own tick.
using WindowUsbTest = WindowTest;

TEST_F(WindowUsbTest, ChoosingAnEntryRefreshesTheOptionFromTheEntryNotTheField) {
    const std::string modem = devRoot + "/serial/by-id/usb-Norvald-if00";
    writeFile(modem, "");
    lookups = std::make_unique<FixedUsbPortLookups>("COM4", modem.c_str());
    createShown();
    ASSERT_EQ(port()->itemText(9).toStdString(), modem);
    port()->setEditText("COM4");
    emit port()->activated(2);
    EXPECT_FALSE(usb()->isChecked());
    emit port()->activated(9);  // the stable name, by its text
    EXPECT_TRUE(usb()->isChecked());
    // Keys that move through the closed list choose entries as well.
    port()->setFocus();
    port()->setCurrentIndex(1);
    QTest::keyClick(port(), Qt::Key_Down);
    EXPECT_FALSE(usb()->isChecked());
    QTest::keyClick(port(), Qt::Key_Down);
    EXPECT_EQ(port()->currentText(), "COM4");
    EXPECT_TRUE(usb()->isChecked());
}

TEST_F(WindowUsbTest, LeavingThePortFieldRefreshesAndOverridesTheOperatorsTick) {
    lookups = std::make_unique<FixedUsbPortLookups>("COM5", nullptr);
    createShown();
    const auto leavePortField = [&] {
        port()->setFocus();
        QTest::keyClick(port(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), port());
        return usb()->isChecked();
    };
    typeInto(port(), "COM5");
    EXPECT_FALSE(usb()->isChecked());  // typing alone changes nothing
    EXPECT_TRUE(leavePortField());
    typeInto(port(), "COM6");
    EXPECT_FALSE(leavePortField());
    // The operator's tick lasts until the next refresh; other fields do not refresh.
    QTest::mouseClick(usb(), Qt::LeftButton);
    rate()->setFocus();
    QTest::keyClick(rate(), Qt::Key_Tab);
    EXPECT_TRUE(usb()->isChecked());
    EXPECT_FALSE(leavePortField());
}

}  // namespace
}  // namespace kestrel::test
