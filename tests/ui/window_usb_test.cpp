// The USB option as the Qt window refreshes it: when the port field loses the focus and when
// a list entry is chosen (by click or key), over the operator's own tick. Which port counts
// is window_model_test's.
#include "window_fixture.h"

namespace kestrel::test {
namespace {

class WindowUsbTest : public WindowTest {
  protected:
    void leavePortField() {
        port()->setFocus();
        QTest::keyClick(port(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), port());
    }
};

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
    typeInto(port(), "COM5");
    EXPECT_FALSE(usb()->isChecked());  // typing alone changes nothing
    leavePortField();
    EXPECT_TRUE(usb()->isChecked());
    typeInto(port(), "COM6");
    leavePortField();
    EXPECT_FALSE(usb()->isChecked());
    // The operator's tick lasts until the next refresh; other fields do not refresh.
    QTest::mouseClick(usb(), Qt::LeftButton);
    rate()->setFocus();
    QTest::keyClick(rate(), Qt::Key_Tab);
    EXPECT_TRUE(usb()->isChecked());
    leavePortField();
    EXPECT_FALSE(usb()->isChecked());
}

}  // namespace
}  // namespace kestrel::test
