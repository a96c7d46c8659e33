// The program's window on Windows: a modeless dialog made from a template of the resources
// (130 in the program; 129 is served by the same code), dispatching its messages by message
// and command id. It owns the life of the process: closing it saves the settings and ends
// the message loop with exit code 2.
#pragma once

#include <windows.h>

#include "session/status_reporter.h"
#include "ui/settings_store.h"
#include "ui/usb_port_detection.h"

namespace kestrel {

// Shows the platform's open-file dialog for the firmware name, starting from `name`. True
// with `name` replaced when the operator confirmed a name that fits.
using ChooseFirmwareFile = bool (*)(HWND owner, char (&name)[kTextCapacity]);

struct MainWindowSetup {
    int templateId = 130;
    // Runs one update on the worker thread (the program passes runUpdateSession).
    void (*runSession)(SessionHost&) = nullptr;
    // Where the settings live; without one nothing is kept between runs.
    SettingsKey* settings = nullptr;
    // Where the modem's port is named; without them every refresh clears the USB option.
    UsbPortLookups* usbLookups = nullptr;
    ChooseFirmwareFile chooseFile = nullptr;
};

// Creates the window, hidden, from the template (CreateDialogParamA); it initialises itself
// (centring, icons, lists, settings, rate check, USB option). nullptr when it cannot be
// created. One window per process.
HWND createMainWindow(HINSTANCE instance, const MainWindowSetup& setup);

// Runs the message loop until the quit request and returns its exit code (2 once the window
// was closed). Each message is first offered to the window's dialog keyboard handling.
int runMessageLoop();

// The window, or nullptr when none exists (before creation, after closing).
HWND mainWindow();

}  // namespace kestrel
