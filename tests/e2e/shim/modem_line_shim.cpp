// Test-only LD_PRELOAD shim: gives the simulator's pseudo-terminal modem-control lines.
//
// A pty answers TIOCMGET/TIOCMBIS/TIOCMBIC/TIOCMSET/TIOCGICOUNT with ENOTTY. Loaded into the
// tool under test, this library catches exactly those ioctls when they fail that way on a pty
// slave, and asks kestrel-modem-sim over the socket named by KESTREL_SIM_SIDE_CHANNEL: DTR
// and RTS go to the simulated module, CTS and the framing-error count come back. Every other
// ioctl, and these on any other device, pass through untouched. When the simulator cannot be
// reached, or the pty is not its current one, the ioctl fails with ENOTTY as before.
#include <dlfcn.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "modem_sim/side_channel_protocol.h"

namespace {

namespace sim = kestrel::sim;
using IoctlFn = int (*)(int, unsigned long, ...);

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
int g_socket = -1;
int g_lines = 0;  // TIOCM_DTR / TIOCM_RTS as last set by the tool

// Called with g_lock held.
bool connectSideChannel() {
    if (g_socket >= 0) return true;
    const char* path = getenv(sim::kSideChannelEnv);
    sockaddr_un addr{};
    if (path == nullptr || strlen(path) >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path);
    const int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    timeval limit{2, 0};  // a simulator that stops answering must not hang the tool
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close(s);
        return false;
    }
    g_socket = s;
    return true;
}

// One request, one reply; true when the simulator served it. Called with g_lock held.
bool ask(uint8_t command, uint8_t arg, uint64_t device, sim::SideReply* reply) {
    if (!connectSideChannel()) return false;
    const sim::SideRequest request{command, arg, {}, device};
    if (send(g_socket, &request, sizeof request, MSG_NOSIGNAL) != sizeof request ||
        recv(g_socket, reply, sizeof *reply, 0) != sizeof *reply) {
        close(g_socket);
        g_socket = -1;
        return false;
    }
    return reply->status == sim::kServed;
}

// Sends the lines in `changed` at their levels in `lines`.
bool setLines(int lines, int changed, uint64_t device) {
    sim::SideReply reply;
    for (const auto& line : {std::make_pair(TIOCM_DTR, sim::kSetDtr), {TIOCM_RTS, sim::kSetRts}})
        if ((changed & line.first) &&
            !ask(line.second, (lines & line.first) ? 1 : 0, device, &reply))
            return false;
    g_lines = (g_lines & ~changed) | (lines & changed);
    return true;
}

bool serve(unsigned long request, void* arg, uint64_t device) {
    sim::SideReply reply;
    const auto bits = [arg] { return *static_cast<const int*>(arg) & (TIOCM_DTR | TIOCM_RTS); };
    switch (request) {
        case TIOCMGET:
            if (!ask(sim::kQueryLines, 0, device, &reply)) return false;
            *static_cast<int*>(arg) = g_lines | (reply.cts ? TIOCM_CTS : 0);
            return true;
        case TIOCMBIS:
            return setLines(bits(), bits(), device);
        case TIOCMBIC:
            return setLines(0, bits(), device);
        case TIOCMSET:
            return setLines(bits(), TIOCM_DTR | TIOCM_RTS, device);
        case TIOCGICOUNT: {
            if (!ask(sim::kQueryErrors, 0, device, &reply)) return false;
            serial_icounter_struct counts{};
            counts.frame = static_cast<int>(reply.frameErrors);
            memcpy(arg, &counts, sizeof counts);
            return true;
        }
    }
    return false;
}

// Connecting at load time tells the simulator that DTR comes from us, before the tool opens
// the port.
__attribute__((constructor)) void announce() {
    pthread_mutex_lock(&g_lock);
    connectSideChannel();
    pthread_mutex_unlock(&g_lock);
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static const IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    const int result = real(fd, request, arg);
    // Unix98 pty slaves are character devices with majors 136 to 143.
    struct stat st {};
    if (result == 0 || errno != ENOTTY || arg == nullptr || fstat(fd, &st) != 0 ||
        !S_ISCHR(st.st_mode) || major(st.st_rdev) < 136 || major(st.st_rdev) > 143)
        return result;

    const int savedErrno = errno;  // serve() refuses every request but the modem lines'
    pthread_mutex_lock(&g_lock);
    const bool served = serve(request, arg, st.st_rdev);
    pthread_mutex_unlock(&g_lock);
    if (served) return 0;
    errno = savedErrno;
    return -1;
}
