// The main window without its toolkit: the port and rate lists, the rate check, the exchange
// with the settings store, the USB option's refresh and the snapshot a session takes. The Qt
// window and the Win32 dialog each supply their controls through WindowFields and keep only
// their toolkit's code. No exceptions: the Windows program compiles this lean.
#pragma once

#include <cstddef>

#include "session/status_reporter.h"
#include "ui/settings_store.h"
#include "ui/usb_port_detection.h"

namespace kestrel {

// The window's controls by their template ids, as 8-bit texts of at most 259 characters. A
// control the layout does not have reads as empty (or unchecked) and ignores writes.
class WindowFields {
  public:
    virtual void fieldText(int id, char (&text)[kTextCapacity]) = 0;
    virtual void setFieldText(int id, const char* text) = 0;
    // Appends an entry to the list of combo box `id`; the field's text stays as it is.
    virtual void addListEntry(int id, const char* text) = 0;
    // The text of entry `index` of that list; empty when there is none.
    virtual void listEntryText(int id, int index, char (&text)[kTextCapacity]) = 0;
    virtual bool isChecked(int id) = 0;
    virtual void setChecked(int id, bool checked) = 0;

  protected:
    ~WindowFields() = default;
};

class WindowModel {
  public:
    // Without `settings` nothing is kept between runs; without `usbLookups` the USB option
    // changes only when the operator clicks it. Both stay owned by the caller.
    WindowModel(WindowFields& fields, SettingsKey* settings, UsbPortLookups* usbLookups);

    // The window's creation after its controls exist: the port list (COM1..COM9, then
    // `morePorts`) with "COM1" in the field, the rate list, the stored settings, the rate
    // check, and the USB option for the port the field then shows.
    void initialise(const char* const* morePorts = nullptr, size_t morePortCount = 0);

    // Sets the USB option from the port the field names or, for a selection change, the list
    // entry `selectedIndex` names.
    void refreshUsbOption(RefreshReason reason, int selectedIndex = -1);

    // Writes the three fields' texts to the store (at closing).
    void saveSettings();

    // The fields as a session takes them at its start.
    void readFields(SessionFields* fields);

  private:
    void settingsTexts(SettingsTexts* texts);  // the three fields the store keeps
    void loadSettings();

    WindowFields& fields_;
    SettingsKey* settings_;
    UsbPortLookups* usbLookups_;
};

}  // namespace kestrel
