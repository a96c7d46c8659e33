// The settings store and the modem-port lookups against the registry, as wine keeps it. The
// tests own the keys they touch (CTest runs them one at a time: RESOURCE_LOCK) and remove
// them again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ui/settings_store.h"
#include "ui/usb_port_detection.h"
#include "win32/registry_settings_key.h"
#include "win32/registry_usb_lookups.h"

namespace kestrel {
namespace {

void deleteTree(const char* path) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
}

// Writes a value of any type straight through the API, as another program might have.
void putValue(const char* keyPath, const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

struct RawValue {
    DWORD type = 0;
    std::string data;
};

RawValue rawValue(const char* keyPath, const char* name) {
    RawValue v;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
    char data[1024];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(data), &size) ==
        ERROR_SUCCESS)
        v.data.assign(data, size);
    RegCloseKey(key);
    return v;
}

class SettingsInRegistry : public testing::Test {
  protected:
    void SetUp() override { deleteTree(kSettingsSubkey); }
    void TearDown() override { deleteTree(kSettingsSubkey); }

    // What the window shows before loading: its defaults.
    static SettingsTexts defaults() {
        SettingsTexts t;
        copyText(t.firmwareFile, "");
        copyText(t.comPort, "COM1");
        copyText(t.baudRate, "");
        return t;
    }
};

TEST_F(SettingsInRegistry, AFirstLoadCreatesTheEmptyKeyWithClassRegSzAndKeepsTheDefaults) {
    RegistrySettingsKey key;
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.comPort, "COM1");
    EXPECT_STREQ(texts.baudRate, "");
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_READ, &k), ERROR_SUCCESS);
    char keyClass[64] = {};
    DWORD classLength = sizeof keyClass;
    DWORD values = 99;
    ASSERT_EQ(RegQueryInfoKeyA(k, keyClass, &classLength, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_STREQ(keyClass, "REG_SZ");
    EXPECT_EQ(values, 0u);
}

TEST_F(SettingsInRegistry, SavingWritesThreeStringsWithTheirTerminatingNul) {
    RegistrySettingsKey key;
    SettingsTexts texts;
    copyText(texts.firmwareFile, "");
    copyText(texts.comPort, "COM12");
    copyText(texts.baudRate, "9600");
    saveSettings(key, texts);
    const RawValue firmware = rawValue(kSettingsSubkey, "FirmwareFile");
    const RawValue port = rawValue(kSettingsSubkey, "COMPort");
    const RawValue rate = rawValue(kSettingsSubkey, "BaudRate");
    EXPECT_EQ(firmware.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(firmware.data, std::string(1, '\0'));  // the empty text: one NUL byte
    EXPECT_EQ(port.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(port.data, std::string("COM12", 6));
    EXPECT_EQ(rate.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(rate.data, std::string("9600", 5));

    SettingsTexts loaded = defaults();
    loadSettings(key, &loaded);
    EXPECT_STREQ(loaded.comPort, "COM12");
    EXPECT_STREQ(loaded.baudRate, "9600");
    EXPECT_STREQ(loaded.firmwareFile, "");
}

TEST_F(SettingsInRegistry, ValuesOfUpTo259CharactersLoadLongerOnesDoNot) {
    const std::string fits(259, 'F');
    const std::string tooLong(260, 'T');
    putValue(kSettingsSubkey, "FirmwareFile", REG_SZ, fits + '\0');
    putValue(kSettingsSubkey, "COMPort", REG_SZ, tooLong + '\0');
    RegistrySettingsKey key;
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_EQ(texts.firmwareFile, fits);
    EXPECT_STREQ(texts.comPort, "COM1");  // kept its default
}

TEST_F(SettingsInRegistry, TheTypeIsNotExaminedOnlyTheTextUpToTheFirstNul) {
    putValue(kSettingsSubkey, "FirmwareFile", REG_MULTI_SZ, std::string("a.usf\0b.usf\0\0", 13));
    putValue(kSettingsSubkey, "COMPort", REG_BINARY, "COM7");  // no NUL at all
    putValue(kSettingsSubkey, "BaudRate", REG_DWORD, std::string("57\0\0", 4));
    RegistrySettingsKey key;
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.firmwareFile, "a.usf");
    EXPECT_STREQ(texts.comPort, "COM7");
    EXPECT_STREQ(texts.baudRate, "57");
}

TEST_F(SettingsInRegistry, DataOf260BytesWithoutANulIsCutAt259Characters) {
    putValue(kSettingsSubkey, "COMPort", REG_BINARY, std::string(260, 'B'));
    RegistrySettingsKey key;
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_EQ(std::string(texts.comPort), std::string(259, 'B'));
}

TEST_F(SettingsInRegistry, AnEmptyStoredPortGivesAnEmptyField) {
    putValue(kSettingsSubkey, "COMPort", REG_SZ, std::string(1, '\0'));
    RegistrySettingsKey key;
    SettingsTexts texts = defaults();
    loadSettings(key, &texts);
    EXPECT_STREQ(texts.comPort, "");
}

TEST_F(SettingsInRegistry, AKeyThatIsNotOpenNeitherReadsNorWrites) {
    RegistrySettingsKey key;
    char text[kTextCapacity] = "unchanged";
    EXPECT_FALSE(key.queryValue("COMPort", text));
    EXPECT_STREQ(text, "unchanged");
    EXPECT_FALSE(key.setValue("COMPort", "COM3"));
    key.close();  // harmless
}

class ModemPortInRegistry : public testing::Test {
  protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    static void clean() {
        deleteTree(kModemClassInstanceKey);
        deleteTree(kUnimodemKey);
    }
};

TEST_F(ModemPortInRegistry, WithNeitherKeyBothLookupsYieldNothing) {
    RegistryUsbPortLookups lookups;
    char text[kTextCapacity] = "unchanged";
    EXPECT_FALSE(lookups.attachedTo(text));
    EXPECT_FALSE(lookups.address(text));
    EXPECT_FALSE(isModemUsbPort("COM1", lookups));
}

TEST_F(ModemPortInRegistry, AttachedToOfTheFirstModemNamesItsPort) {
    putValue(kModemClassInstanceKey, "AttachedTo", REG_SZ, std::string("COM5", 5));
    RegistryUsbPortLookups lookups;
    char text[kTextCapacity];
    ASSERT_TRUE(lookups.attachedTo(text));
    EXPECT_STREQ(text, "COM5");
    EXPECT_TRUE(isModemUsbPort("COM5", lookups));
    EXPECT_TRUE(isModemUsbPort("\\\\.\\COM5", lookups));
    EXPECT_FALSE(isModemUsbPort("COM05", lookups));
    EXPECT_FALSE(isModemUsbPort("com5", lookups));
}

TEST_F(ModemPortInRegistry, OnlyTheFirstAddressTakesPart) {
    putValue(kUnimodemKey, "Address", REG_MULTI_SZ, std::string("COM7\0COM8\0\0", 11));
    RegistryUsbPortLookups lookups;
    char text[kTextCapacity];
    ASSERT_TRUE(lookups.address(text));
    EXPECT_STREQ(text, "COM7");
    EXPECT_TRUE(isModemUsbPort("COM7", lookups));
    EXPECT_FALSE(isModemUsbPort("COM8", lookups));
}

TEST_F(ModemPortInRegistry, AValueLongerThanTheBufferYieldsNothing) {
    putValue(kModemClassInstanceKey, "AttachedTo", REG_SZ, std::string(300, 'C') + '\0');
    putValue(kUnimodemKey, "Address", REG_MULTI_SZ, std::string(260, 'A') + std::string(2, '\0'));
    RegistryUsbPortLookups lookups;
    char text[kTextCapacity];
    EXPECT_FALSE(lookups.attachedTo(text));
    EXPECT_FALSE(lookups.address(text));
}

TEST_F(ModemPortInRegistry, AKeyWithoutTheValueYieldsNothing) {
    putValue(kModemClassInstanceKey, "FriendlyName", REG_SZ, std::string("Modem", 6));
    RegistryUsbPortLookups lookups;
    char text[kTextCapacity];
    EXPECT_FALSE(lookups.attachedTo(text));
}

}  // namespace
}  // namespace kestrel
