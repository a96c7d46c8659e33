#include "ui/window_model.h"

#include <cstring>

#include "ui/dialog_template.h"

namespace kestrel {

namespace {

const char* const kListedRates[] = {"57600", "115200", "230400", "460800"};
constexpr char kDefaultRate[] = "115200";

// Only the rates of the list survive a start (whole text, case-sensitive).
bool isListedBaudRate(const char* rate) {
    for (const char* listed : kListedRates)
        if (std::strcmp(rate, listed) == 0) return true;
    return false;
}

}  // namespace

WindowModel::WindowModel(WindowFields& fields, SettingsKey* settings, UsbPortLookups* usbLookups)
    : fields_(fields), settings_(settings), usbLookups_(usbLookups) {}

void WindowModel::initialise(const char* const* morePorts, size_t morePortCount) {
    char name[] = "COM1";
    for (int i = 0; i < kNumberedPorts; ++i) {
        name[3] = static_cast<char>('1' + i);
        fields_.addListEntry(kPortId, name);
    }
    for (size_t i = 0; i < morePortCount; ++i)
        fields_.addListEntry(kPortId, morePorts[i]);
    fields_.setFieldText(kPortId, "COM1");
    for (const char* rate : kListedRates)
        fields_.addListEntry(kRateId, rate);

    loadSettings();
    char rate[kTextCapacity];
    fields_.fieldText(kRateId, rate);
    if (!isListedBaudRate(rate)) fields_.setFieldText(kRateId, kDefaultRate);
    refreshUsbOption(RefreshReason::Initialisation);
}

void WindowModel::settingsTexts(SettingsTexts* texts) {
    fields_.fieldText(kFirmwareNameId, texts->firmwareFile);
    fields_.fieldText(kPortId, texts->comPort);
    fields_.fieldText(kRateId, texts->baudRate);
}

void WindowModel::loadSettings() {
    if (settings_ == nullptr) return;
    SettingsTexts texts;
    settingsTexts(&texts);
    kestrel::loadSettings(*settings_, &texts);
    fields_.setFieldText(kFirmwareNameId, texts.firmwareFile);
    fields_.setFieldText(kPortId, texts.comPort);
    fields_.setFieldText(kRateId, texts.baudRate);
}

void WindowModel::saveSettings() {
    if (settings_ == nullptr) return;
    SettingsTexts texts;
    settingsTexts(&texts);
    kestrel::saveSettings(*settings_, texts);
}

void WindowModel::refreshUsbOption(RefreshReason reason, int selectedIndex) {
    if (usbLookups_ == nullptr) return;
    char field[kTextCapacity], entry[kTextCapacity] = {}, name[kTextCapacity];
    fields_.fieldText(kPortId, field);
    if (reason == RefreshReason::SelectionChanged && selectedIndex >= kNumberedPorts)
        fields_.listEntryText(kPortId, selectedIndex, entry);
    refreshPortName(reason, field, selectedIndex, entry, name);
    fields_.setChecked(kUsbOptionId, isModemUsbPort(name, *usbLookups_));
}

void WindowModel::readFields(SessionFields* fields) {
    fields_.fieldText(kPortId, fields->portName);
    fields_.fieldText(kRateId, fields->rateText);
    fields->usb = fields_.isChecked(kUsbOptionId);
    fields->noFirmware = fields_.isChecked(kNoFirmwareId);
    fields_.fieldText(kFirmwareNameId, fields->firmwareName);
}

}  // namespace kestrel
