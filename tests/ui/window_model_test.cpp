// The window without its toolkit, pinned once for both windows: the lists, the defaults, the
// rate check, what is loaded, the USB option's refreshes and which port is the modem's USB
// port. What is saved and a session's snapshot are pinned through the Qt window.
#include "ui/window_model.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/bounded_text.h"
#include "ui/dialog_template.h"
#include "ui/usb_port_detection.h"

namespace kestrel {
namespace {

using Texts = std::vector<std::string>;
using Values = std::map<std::string, std::string>;

// Controls as maps.
struct MapFields final : WindowFields {
    std::map<int, std::string> text;
    std::map<int, Texts> lists;
    std::map<int, bool> ticks;
    void fieldText(int id, char (&t)[kTextCapacity]) override { copyBounded(t, text[id].c_str()); }
    void setFieldText(int id, const char* t) override { text[id] = t; }
    void addListEntry(int id, const char* t) override { lists[id].push_back(t); }
    void listEntryText(int id, int index, char (&t)[kTextCapacity]) override {
        copyBounded(t, lists[id].at(index).c_str());
    }
    bool isChecked(int id) override { return ticks[id]; }
    void setChecked(int id, bool on) override { ticks[id] = on; }
};

struct MapKey final : SettingsKey {
    Values values;
    bool open() override { return true; }
    bool queryValue(const char* name, char (&t)[kTextCapacity]) override {
        return values.count(name) && (copyBounded(t, values[name].c_str()), true);
    }
    bool setValue(const char* name, const char* t) override { return values[name] = t, true; }
    void close() override {}
};

class WindowModelTest : public ::testing::Test {
  protected:
    MapFields fields;
    MapKey key;
    FixedUsbPortLookups lookups{"COM5", "/dev/serial/by-id/modem"};
    const char* const devices[2] = {"/dev/serial/by-id/modem", "/dev/ttyUSB0"};
    WindowModel model{fields, &key, &lookups};

    void start(Values stored = {}) {
        key.values = std::move(stored);
        fields = MapFields();
        model.initialise(devices, 2);
    }
};

TEST_F(WindowModelTest, AFirstStartShowsTheDefaultsStoredTextsAsTheyAreAndARateOnlyFromTheList) {
    start();
    EXPECT_EQ(fields.lists[kPortId], (Texts{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                                            "COM8", "COM9", devices[0], devices[1]}));
    EXPECT_EQ(fields.lists[kRateId], (Texts{"57600", "115200", "230400", "460800"}));
    EXPECT_EQ(fields.text, (std::map<int, std::string>{
                               {kFirmwareNameId, ""}, {kPortId, "COM1"}, {kRateId, "115200"}}));
    EXPECT_FALSE(fields.ticks[kUsbOptionId]);

    // Value name, stored text, what the field shows: the whole text, no trimming; a rate off
    // the list is replaced by 115200.
    const std::string p259(259, 'p');
    // clang-format off
    const std::string kStored[][3] = {
        {"BaudRate", "9600", "115200"}, {"BaudRate", " 115200", "115200"},
        {"BaudRate", "115200 ", "115200"}, {"BaudRate", "", "115200"},
        {"BaudRate", "57600", "57600"}, {"BaudRate", "230400", "230400"},
        {"BaudRate", "460800", "460800"}, {"COMPort", "COM12", "COM12"}, {"COMPort", "", ""},
        {"COMPort", p259, p259}, {"FirmwareFile", "a.usf", "a.usf"}};
    // clang-format on
    for (const auto& [name, stored, shown] : kStored) {
        start({{name, stored}});
        const int id = name == "BaudRate" ? kRateId : name == "COMPort" ? kPortId : kFirmwareNameId;
        EXPECT_EQ(fields.text[id], shown) << name << " " << stored;
        EXPECT_EQ(fields.lists[kPortId].size(), 11u);  // a stored port is not added to the list
    }
}

TEST_F(WindowModelTest, WithoutLookupsOnlyTheOperatorChangesTheUsbOption) {
    // The refreshes with lookups (at the start, focus lost, an entry chosen): the Qt window's
    // WindowUsbTest.
    WindowModel unaided(fields, &key, nullptr);
    fields.text[kPortId] = "COM6";
    fields.ticks[kUsbOptionId] = true;
    unaided.refreshUsbOption(RefreshReason::FocusLost);
    EXPECT_TRUE(fields.ticks[kUsbOptionId]);
}

TEST(UsbPortMatch, ThePortMustEqualALookupsTextExactly) {
    // Port, AttachedTo (null: none), whether it is the USB port. No conversion of numbers, no
    // case folding, no trimming; a leading "\\.\" is dropped from the port (once, and not from
    // a name that is just the prefix), never from the lookup's text.
    // clang-format off
    const char* const kCases[][3] = {
        {"COM5", "COM5", "usb"}, {"COM05", "COM5", ""}, {"COM5", "com5", ""}, {"com5", "COM5", ""},
        {"COM5 ", "COM5", ""}, {"COM5", "COM55", ""}, {"COM55", "COM5", ""}, {"", "COM5", ""},
        {"/dev/ttyACM0", "/dev/ttyACM0", "usb"}, {"/dev/ttyacm0", "/dev/ttyACM0", ""},
        {"\\\\.\\COM5", "COM5", "usb"}, {"\\\\.\\COM12", "COM12", "usb"},
        {"\\\\.\\COM5", "\\\\.\\COM5", ""}, {"\\\\.\\", "\\\\.\\", "usb"}, {"\\\\.\\", "", ""},
        {"x\\\\.\\COM5", "COM5", ""}, {"\\\\.\\\\\\.\\COM5", "COM5", ""},
        {"COM1", nullptr, ""}, {"", nullptr, ""}};
    // clang-format on
    for (const auto& c : kCases) {
        FixedUsbPortLookups lookups(c[1], nullptr);
        EXPECT_EQ(isModemUsbPort(c[0], lookups), *c[2] != 0) << c[0] << " / " << c[1];
    }
    // Only the first of the Address texts takes part; an AttachedTo that names another port
    // does not hide it.
    const char address[] = "COM7\0COM8\0COM9";
    for (const char* attachedTo : {"", "COM3"}) {
        for (const char* port : {"COM7", "COM8", "COM9"}) {
            FixedUsbPortLookups lookups(*attachedTo ? attachedTo : nullptr, address,
                                        sizeof address);
            EXPECT_EQ(isModemUsbPort(port, lookups), port[3] == '7') << port << attachedTo;
        }
    }
    // Address is asked only when AttachedTo does not match; nothing is cached: each refresh
    // asks again.
    FixedUsbPortLookups both("COM5", "COM7");
    std::vector<int> queries;
    for (const char* port : {"COM5", "COM7", "COM6"})
        queries.push_back(isModemUsbPort(port, both) * 10 + both.queries());
    EXPECT_EQ(queries, std::vector<int>({11, 13, 5}));
}

}  // namespace
}  // namespace kestrel
