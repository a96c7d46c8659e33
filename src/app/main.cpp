// The window program. Everything but the update itself lives in the shared window library:
// this file proper carries the firmware image behind it and must stay small.
#include "app/window_program.h"
#include "session/update_session.h"

int main(int argc, char** argv) {
    kestrel::runWindowProgram(
        argc, argv, [](kestrel::SessionHost& host) { return kestrel::runUpdateSession(host); });
}
