// The REGEDIT4 export that holds the settings where there is no registry: what it reads,
// what it writes, and that everything not ours survives a rewrite.
#include "ui/reg_file.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel";
const std::string kOurs = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n";

RegFile parsed(const std::string& text) {
    RegFile file;
    EXPECT_TRUE(file.parse(text.data(), text.size())) << text;
    return file;
}

std::string data(const RegFile& file, const char* name, const char* key = kKey) {
    std::string d;
    return file.valueData(key, name, &d) ? d : "<none>";
}

TEST(RegFileFormat, OnlyRegedit4ExportsAreAccepted) {
    RegFile file;
    for (const std::string text :
         {"", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n",
          "REGEDIT\r\n", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald\\Kestrel]\r\n"})
        EXPECT_FALSE(file.parse(text.data(), text.size())) << text;
    for (const std::string text :
         {"REGEDIT4", "REGEDIT4\n", "REGEDIT4  \r\n", "\xEF\xBB\xBFREGEDIT4\r\n"})
        EXPECT_TRUE(file.parse(text.data(), text.size())) << text;
}

TEST(RegFileFormat, ValuesAreReadAsTheirBytesNamesAndKeysIgnoringCase) {
    // Value name, what follows its "=" in the file, the bytes read ("<none>": no value; of a
    // name given twice the last entry counts).
    const std::string kValues[][3] = {
        {"FirmwareFile", "\"C:\\\\fw\\\\\\\"new\\\".usf\"",
         std::string("C:\\fw\\\"new\".usf\0", 16)},
        {"COMPort", "\"\"", std::string("\0", 1)},
        // A backslash before anything but \ or " stands for itself.
        {"BaudRate", "\"a\\b\"", std::string("a\\b\0", 4)},
        {"Dword", "dword:00000105", std::string("\x05\x01\x00\x00", 4)},
        {"Binary", "hex:41,42,00,43", std::string("AB\0C", 4)},
        {"Expand", "hex(2):25,00", std::string("%\0", 2)},
        {"Long", "hex:30,31,\\\r\n  32,33,\\\r\n  34", "01234"},
        {"Empty", "hex:", ""},
        {"", "\"default\"", std::string("default\0", 8)},  // written as @
        {"Deleted", "-", "<none>"},
        {"Open", "\"no closing quote", "<none>"},
        {"Trailing", "\"x\" y", "<none>"},
        {"BadHex", "hex:4g", "<none>"},
        {"twice", "\"1\"", std::string("2\0", 2)},
        {"TWICE", "\"2\"", std::string("2\0", 2)}};
    std::string text = "REGEDIT4\n\n[hkey_local_machine\\software\\norvald\\kestrel]\n";
    for (const auto& [name, value, read] : kValues)
        text += (name.empty() ? "@" : "\"" + name + "\"") + "=" + value + "\r\n";
    const RegFile file = parsed(text);
    for (const auto& [name, value, read] : kValues)
        EXPECT_EQ(data(file, name.c_str()), read) << name;
    EXPECT_EQ(data(file, "Missing"), "<none>");
    EXPECT_EQ(data(file, "COMPort", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvald"), "<none>");
}

TEST(RegFileFormat, WrittenTextsReadBackUnchanged) {
    RegFile file;
    for (const char* text : {"", "COM12", "/dev/serial/by-id/usb-Vendor_Modem-if00",
                             "C:\\Firmware\\update.uusf", "quote\"and\\backslash\\", "caf\xE9 \xFF",
                             "line\nbreak", "tab\there\rcr", "\\\\.\\COM5"}) {
        file.setStringValue(kKey, "Value", text);
        EXPECT_EQ(data(parsed(file.serialize()), "Value"), std::string(text) + '\0') << text;
    }
    // Control characters are written as string bytes; 30 of them need a continued hex(1) line.
    file.setStringValue(kKey, "V", "0123456789\n0123456789012345678");
    const std::string text = file.serialize();
    for (const char* part : {"\"V\"=hex(1):30,31,32", ",\\\r\n  ", ",00\r\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
}

TEST(RegFileRewrite, EverythingNotOursKeepsItsLines) {
    const std::string others =
        "REGEDIT4\r\n; exported by hand\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"Size\"=dword:00000010\r\n\"Blob\"=hex:01,02,\\\r\n  03\r\n\r\n" +
        kOurs + "\"Window\"=\"left\"\r\n";
    const std::string tail = "; our comment\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n\r\n";
    RegFile file = parsed(others + "\"COMPort\"=\"COM2\"\r\n" + tail);
    EXPECT_EQ(file.serialize(), others + "\"COMPort\"=\"COM2\"\r\n" + tail);
    file.setStringValue(kKey, "FirmwareFile", "");
    file.setStringValue(kKey, "COMPort", "COM7");
    file.setStringValue(kKey, "BaudRate", "115200");
    EXPECT_EQ(file.serialize(), others + "\"COMPort\"=\"COM7\"\r\n\"FirmwareFile\"=\"\"\r\n" +
                                    "\"BaudRate\"=\"115200\"\r\n" + tail);

    // A key of ours that is missing is added behind the others.
    file = parsed("REGEDIT4\n\n[HKEY_CURRENT_USER\\Other]\n\"A\"=\"1\"");
    file.setStringValue(kKey, "COMPort", "COM1");
    EXPECT_EQ(file.serialize(),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Other]\r\n\"A\"=\"1\"\r\n\r\n" + kOurs +
                  "\"COMPort\"=\"COM1\"\r\n\r\n");
}

}  // namespace
}  // namespace kestrel
