// kestrel-cli's whole work behind its main(): on Linux it lives in the program's private
// library, so that the program file, which carries the firmware image behind it, stays small.
#pragma once

namespace kestrel {

// Runs kestrel-cli with its command line; returns the process's exit code.
int runCliProgram(int argc, char** argv);

}  // namespace kestrel
