// The slave's rates and state through the master with termios2 (declared in posix_tree.h). A file
// of its own because <asm/termbits.h> cannot share a translation unit with <termios.h>.
#include <stdint.h>
#include <sys/ioctl.h>

#include <asm/termbits.h>

#include <string>

namespace kestrel::test {

bool slaveRates(int masterFd, uint32_t* inputRate, uint32_t* outputRate) {
    struct termios2 t {};
    if (ioctl(masterFd, TCGETS2, &t) != 0) return false;
    *inputRate = t.c_ispeed;
    *outputRate = t.c_ospeed;
    return true;
}

std::string slaveState(int masterFd) {
    struct termios2 t {};
    if (ioctl(masterFd, TCGETS2, &t) != 0) return std::string();
    return std::string(reinterpret_cast<const char*>(&t), sizeof t);
}

bool leaveStaleInputRate(int masterFd) {
    struct termios2 t {};
    if (ioctl(masterFd, TCGETS2, &t) != 0) return false;
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CIBAUD)) | (B38400 << IBSHIFT);
    t.c_ispeed = 38400;
    if (ioctl(masterFd, TCSETS2, &t) != 0 || ioctl(masterFd, TCGETS2, &t) != 0) return false;
    return t.c_ispeed == 38400;
}

}  // namespace kestrel::test
