#include "app/process_end.h"

#include <unistd.h>

#include <cstdio>

namespace kestrel {

void endProcessNow(int exitCode) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(exitCode);
}

}  // namespace kestrel
