// kestrel-cli: the update session for scripts and production lines. The firmware image is
// appended to this program's own file, as to the window's.
#include "cli/cli_program.h"

int main(int argc, char** argv) {
    return kestrel::runCliProgram(argc, argv);
}
