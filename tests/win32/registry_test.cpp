// The settings key and the modem-port lookups against the registry, as wine keeps it. The
// tests own the keys they touch (CTest runs them one at a time: RESOURCE_LOCK) and remove
// them again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "win32/registry_settings_key.h"
#include "win32/registry_usb_lookups.h"

namespace kestrel {
namespace {

// Writes a value of any type straight through the API, as another program might have.
void putValue(const char* keyPath, const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class Registry : public testing::Test {
  protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    static void clean() {
        for (const char* path : {kSettingsSubkey, kModemClassInstanceKey, kUnimodemKey}) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, path);
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
        }
    }
    // What the settings key reads for COMPort: the text, or "-" for nothing.
    static std::string settingsPort() {
        RegistrySettingsKey key;
        char text[kTextCapacity] = "-";
        EXPECT_TRUE(key.open());
        key.queryValue("COMPort", text);
        return text;
    }
    // Each lookup's result and text (which starts as "-"): "1COM5 0-".
    static std::string lookups() {
        RegistryUsbPortLookups l;
        char attached[kTextCapacity] = "-", address[kTextCapacity] = "-";
        const bool found[] = {l.attachedTo(attached), l.address(address)};
        return std::to_string(found[0]) + attached + " " + std::to_string(found[1]) + address;
    }
};

TEST_F(Registry, TheSettingsKeyIsCreatedWithClassRegSzAndStoresStringsWithTheirNul) {
    RegistrySettingsKey key;
    char text[kTextCapacity] = "-";
    EXPECT_FALSE(key.queryValue("COMPort", text));  // not open: neither reads nor writes
    EXPECT_FALSE(key.setValue("COMPort", "COM3"));
    ASSERT_TRUE(key.open());
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_READ, &k), ERROR_SUCCESS);
    char keyClass[64] = {};
    DWORD classLength = sizeof keyClass, values = 99;
    RegQueryInfoKeyA(k, keyClass, &classLength, nullptr, nullptr, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::string(keyClass) + " " + std::to_string(values), "REG_SZ 0");

    for (const char* value : {"", "COM12"}) {
        ASSERT_TRUE(key.setValue("COMPort", value));
        char data[300] = {};
        DWORD type = 0, size = sizeof data;
        RegQueryValueExA(k, "COMPort", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        EXPECT_EQ(std::make_pair(type, std::string(data, size)),
                  std::make_pair(DWORD{REG_SZ}, std::string(value) + '\0'));
        EXPECT_TRUE(key.queryValue("COMPort", text));
        EXPECT_STREQ(text, value);
    }
    RegCloseKey(k);
}

TEST_F(Registry, AStoredValueAndTheModemPortLookupsReadUpToTheFirstNulOr259Characters) {
    EXPECT_EQ(settingsPort(), "-");  // no such value
    const struct {
        DWORD type;
        std::string data, read;
    } cases[] = {
        {REG_SZ, std::string(259, 'F') + '\0', std::string(259, 'F')},
        {REG_SZ, std::string(260, 'T') + '\0', "-"},  // longer than the buffer: nothing
        {REG_BINARY, std::string(260, 'B'), std::string(259, 'B')},
        {REG_SZ, std::string(1, '\0'), ""},
        {REG_MULTI_SZ, std::string("a.usf\0b.usf\0\0", 13), "a.usf"},
        {REG_BINARY, "COM7", "COM7"},  // no NUL at all
        {REG_DWORD, std::string("57\0\0", 4), "57"},
    };
    for (const auto& c : cases) {
        putValue(kSettingsSubkey, "COMPort", c.type, c.data);
        EXPECT_EQ(settingsPort(), c.read) << c.type << ": " << c.data;
    }

    // The modem-port lookups read their text the same way; here their keys and value names.
    EXPECT_EQ(lookups(), "0- 0-");  // neither key
    putValue(kModemClassInstanceKey, "FriendlyName", REG_SZ, std::string("Modem", 6));
    EXPECT_EQ(lookups(), "0- 0-");  // a key without the value
    putValue(kModemClassInstanceKey, "AttachedTo", REG_SZ, std::string("COM5", 5));
    putValue(kUnimodemKey, "Address", REG_MULTI_SZ, std::string("COM7\0COM8\0\0", 11));
    EXPECT_EQ(lookups(), "1COM5 1COM7");
}

}  // namespace
}  // namespace kestrel
