// A test hook, active only when the environment asks for it.
//
// KESTREL_TEST_DRIVE=1 lets a test drive the real program without a display or keyboard
// (QT_QPA_PLATFORM=offscreen): once the window is shown START is pressed, and when standard
// input delivers a byte or reaches its end, Escape is sent to the window, which closes it the
// way the operator's Escape does. Nothing else changes.
#pragma once

namespace kestrel {

class MainWindow;

// Installs the hook on `window` when KESTREL_TEST_DRIVE is set to 1.
void startTestDriveIfAsked(MainWindow& window);

}  // namespace kestrel
