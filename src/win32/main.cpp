// The window program on Windows: component library and common controls, the window from
// template 130, the message loop, and the end of the process with the loop's exit code.
// windows.h first: the other Windows headers build on it.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>

#include "session/update_session.h"
#include "win32/firmware_file_dialog.h"
#include "win32/main_window.h"
#include "win32/registry_settings_key.h"
#include "win32/registry_usb_lookups.h"

namespace {

// Ends the process at once. A session may still run and may be blocked in a call to the
// window: the process ends it, before any of our destructors could run under its feet.
[[noreturn]] void endProcess(int exitCode) {
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    // Never destroyed: the process ends inside endProcess().
    kestrel::RegistrySettingsKey settings;
    kestrel::RegistryUsbPortLookups usbLookups;
    kestrel::MainWindowSetup setup;
    setup.templateId = 130;
    // The window shows the session's outcome through its reports; the result is not needed.
    setup.runSession = [](kestrel::SessionHost& host) { kestrel::runUpdateSession(host); };
    setup.settings = &settings;
    setup.usbLookups = &usbLookups;
    setup.chooseFile = kestrel::chooseFirmwareFileWithDialog;

    kestrel::MainWindow window(setup);
    if (!window.create(instance)) endProcess(0);
    ShowWindow(window.dialog(), showCommand);
    const int exitCode = window.runMessageLoop();
    CoUninitialize();
    endProcess(exitCode);
}
