// The USB option as the window refreshes it: at creation, when the port field loses the focus
// and when a list entry is chosen, and over the operator's own tick. The comparisons
// themselves are usb_port_detection_test's.
#include "window_fixture.h"

namespace kestrel::test {
namespace {

class WindowUsbTest : public WindowTest {
  protected:
    void lookupsSay(const char* attachedTo, const char* address = nullptr) {
        lookups = std::make_unique<FixedUsbPortLookups>(attachedTo, address);
    }
    void leavePortField() {
        port()->setFocus();
        QTest::keyClick(port(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), port());
    }
};

TEST_F(WindowUsbTest, TheStoredPortDecidesTheOptionAtStart) {
    for (const auto& [storedPort, usbPort] :
         {std::pair{"COM5", true}, {"\\\\\\\\.\\\\COM5", true}, {"COM05", false}}) {
        lookupsSay("COM5");
        createWithStore(regValue("COMPort", storedPort));
        EXPECT_EQ(usb()->isChecked(), usbPort) << storedPort;
    }
}

TEST_F(WindowUsbTest, ChoosingAnEntryTakesCom1ToCom9FromTheIndexAndADeviceByItsText) {
    writeFile(devRoot + "/ttyACM0", "");
    writeFile(devRoot + "/ttyUSB0", "");
    const std::string modem = devRoot + "/serial/by-id/usb-Norvald-if00";
    fs::create_directories(devRoot + "/serial/by-id");
    fs::create_symlink("../../ttyACM0", modem);
    lookupsSay("COM4", modem.c_str());
    createShown();
    ASSERT_EQ(port()->count(), 12);
    EXPECT_EQ(port()->itemText(9).toStdString(), modem);
    EXPECT_EQ(port()->itemText(10).toStdString(), devRoot + "/ttyACM0");
    EXPECT_EQ(port()->itemText(11).toStdString(), devRoot + "/ttyUSB0");
    // The fourth entry is COM4 by its index, whatever the field shows at that moment.
    port()->setEditText("COM4");
    emit port()->activated(3);
    EXPECT_TRUE(usb()->isChecked());
    emit port()->activated(2);
    EXPECT_FALSE(usb()->isChecked());
    emit port()->activated(9);  // the stable name: found by the address lookup
    EXPECT_TRUE(usb()->isChecked());
    emit port()->activated(11);
    EXPECT_FALSE(usb()->isChecked());
    // Keys that move through the closed list choose entries as well.
    port()->setFocus();
    port()->setCurrentIndex(2);
    QTest::keyClick(port(), Qt::Key_Down);
    EXPECT_EQ(port()->currentText(), "COM4");
    EXPECT_TRUE(usb()->isChecked());
}

TEST_F(WindowUsbTest, LeavingThePortFieldRefreshesAndOverridesTheOperatorsTick) {
    lookupsSay("COM5");
    createShown();
    EXPECT_FALSE(usb()->isChecked());
    typeInto(port(), "COM5");
    EXPECT_FALSE(usb()->isChecked());  // typing alone changes nothing
    leavePortField();
    EXPECT_TRUE(usb()->isChecked());
    typeInto(port(), "COM6");
    leavePortField();
    EXPECT_FALSE(usb()->isChecked());
    // The operator's tick lasts until the next refresh; other fields do not refresh.
    QTest::mouseClick(usb(), Qt::LeftButton);
    EXPECT_TRUE(usb()->isChecked());
    rate()->setFocus();
    QTest::keyClick(rate(), Qt::Key_Tab);
    EXPECT_TRUE(usb()->isChecked());
    leavePortField();
    EXPECT_FALSE(usb()->isChecked());
    QTest::mouseClick(usb(), Qt::LeftButton);
    emit port()->activated(0);
    EXPECT_FALSE(usb()->isChecked());

    // Without lookups only the operator changes the option.
    lookups.reset();
    createShown();
    QTest::mouseClick(usb(), Qt::LeftButton);
    leavePortField();
    emit port()->activated(4);
    EXPECT_TRUE(usb()->isChecked());
}

}  // namespace
}  // namespace kestrel::test
