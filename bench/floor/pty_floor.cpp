// kestrel-bench-floor: the least a stop-and-wait transfer of the image can cost on this
// machine. A writer sends each record (length byte and payload) in one write and waits for a
// one-byte answer; the peer reads until the record is whole and answers at once. Both block
// in read(): no polling, no timers, nothing but the exchange itself.
//
//   kestrel-bench-floor IMAGE
//       writer and peer as two processes over a new pty
//   kestrel-bench-floor IMAGE --port PATH [--rate N]
//       the writer alone against a module at PATH (a simulator): the download command at N
//       (default 57600, a loader without firmware), every byte up to the start byte 0x01
//       skipped, then the records
//   kestrel-bench-floor --serve LINK
//       the peer alone, as the least module the tool's fallback road needs: a pty linked at
//       LINK that answers the download command "AT^SFDL\r" with the start byte and then every
//       record at once; serves until killed
//
// IMAGE is a records file or a packed program (the records behind the first image marker).
// The writer prints "floor: records N, bytes B, transfer S s, round U us" (time from the
// first record's write to the last answer), the peer "peer: records N, round median U us"
// when the writer hangs up after its records. Exit 0, 1 when a transfer fails or the
// pty cannot be set up, 2 on wrong usage.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kNext = 0x01;

struct Image {
    std::vector<uint8_t> bytes;  // the records back to back
    std::vector<size_t> starts;  // where each record's length byte lies
};

double nowSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool loadImage(const char* path, Image* image) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t> all;
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        all.insert(all.end(), chunk, chunk + n);
    std::fclose(f);
    // A packed program: the records start behind the 256-byte ascending marker.
    size_t begin = 0;
    for (size_t at = 0, s = 0; at < all.size() && at < 100000; ++at) {
        if (all[at] == s) {
            if (s == 0xFF) {
                begin = at + 1;
                break;
            }
            ++s;
        } else {
            s = all[at] == 0 ? 1 : 0;
        }
    }
    image->bytes.assign(all.begin() + static_cast<long>(begin), all.end());
    for (size_t at = 0; at < image->bytes.size(); at += 1u + image->bytes[at]) {
        if (at + 1u + image->bytes[at] > image->bytes.size()) break;  // cut short: not a record
        image->starts.push_back(at);
    }
    return !image->starts.empty();
}

bool makeRaw(int fd, speed_t speed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (speed != B0) cfsetspeed(&t, speed);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool writeAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool readOne(int fd, uint8_t* byte) {
    for (;;) {
        const ssize_t n = read(fd, byte, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

// Sends every record and waits for its answer; the seconds from the first write to the last
// answer, or a negative number when the exchange broke down.
double sendRecords(int fd, const Image& image) {
    const double start = nowSeconds();
    for (size_t at : image.starts) {
        const uint8_t* record = image.bytes.data() + at;
        uint8_t answer = 0;
        if (!writeAll(fd, record, 1u + record[0]) || !readOne(fd, &answer) || answer != kNext)
            return -1;
    }
    return nowSeconds() - start;
}

// The peer's side of the exchange: collects each record whole and answers 0x01 at once. It
// also notes when each record became whole: from one to the next is one round as the peer
// sees it (answer out, the writer's turn, the next record in), and its median shrugs off the
// bursts of other load that a total time takes in full.
class RecordAnswerer {
  public:
    RecordAnswerer() { wholeAt_.reserve(40000); }

    // Takes what one read delivered; false when the answer cannot be written.
    bool take(int fd, const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (have_ == 0) need_ = 1u + bytes[i];
            if (++have_ == need_) {
                have_ = 0;
                wholeAt_.push_back(nowSeconds());
                if (!writeAll(fd, &kNext, 1)) return false;
            }
        }
        return true;
    }

    size_t answered() const { return wholeAt_.size(); }

    // "peer: records N, round median U us" for the records answered so far; starts over.
    void report() {
        std::vector<double> rounds;
        for (size_t i = 1; i < wholeAt_.size(); ++i)
            rounds.push_back((wholeAt_[i] - wholeAt_[i - 1]) * 1e6);
        double median = 0;
        if (!rounds.empty()) {
            std::nth_element(rounds.begin(), rounds.begin() + rounds.size() / 2, rounds.end());
            median = rounds[rounds.size() / 2];
        }
        std::printf("peer: records %zu, round median %.2f us\n", wholeAt_.size(), median);
        std::fflush(stdout);
        wholeAt_.clear();
    }

  private:
    size_t have_ = 0;  // bytes of the current record so far
    size_t need_ = 1;  // its length byte, then the whole record
    std::vector<double> wholeAt_;
};

void report(const Image& image, double seconds) {
    const size_t records = image.starts.size();
    std::printf("floor: records %zu, bytes %zu, transfer %.6f s, round %.2f us\n", records,
                image.bytes.size(), seconds, seconds * 1e6 / static_cast<double>(records));
}

int openMaster() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !makeRaw(master, B0))
        return -1;
    return master;
}

int overNewPty(const Image& image) {
    const int master = openMaster();
    const char* slaveName = master >= 0 ? ptsname(master) : nullptr;
    const int slave = slaveName ? open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0 || !makeRaw(slave, B0)) return 1;
    const pid_t peer = fork();
    if (peer < 0) return 1;
    if (peer == 0) {
        close(slave);
        RecordAnswerer answerer;
        uint8_t buf[4096];
        for (;;) {  // until the writer hangs up
            const ssize_t n = read(master, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || !answerer.take(master, buf, static_cast<size_t>(n))) {
                answerer.report();
                _exit(0);
            }
        }
    }
    close(master);
    const double seconds = sendRecords(slave, image);
    close(slave);
    int status = 0;
    waitpid(peer, &status, 0);
    if (seconds < 0) {
        std::fprintf(stderr, "kestrel-bench-floor: the exchange broke down\n");
        return 1;
    }
    report(image, seconds);
    return 0;
}

speed_t speedOf(const char* rate) {
    static const struct {
        const char* text;
        speed_t speed;
    } kRates[] = {{"57600", B57600},
                  {"115200", B115200},
                  {"230400", B230400},
                  {"460800", B460800},
                  {"921600", B921600}};
    for (const auto& r : kRates)
        if (std::strcmp(rate, r.text) == 0) return r.speed;
    return B0;
}

int againstModule(const Image& image, const char* port, speed_t speed) {
    const int fd = open(port, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !makeRaw(fd, speed)) {
        std::fprintf(stderr, "kestrel-bench-floor: cannot open %s\n", port);
        return 1;
    }
    // The module boots as the port opens; give it time before the download command.
    usleep(500000);
    static const uint8_t kDownload[] = {'A', 'T', '^', 'S', 'F', 'D', 'L', '\r'};
    if (!writeAll(fd, kDownload, sizeof kDownload)) return 1;
    // A module with firmware echoes the command and says OK before its loader's start byte.
    for (uint8_t b = 0; b != 0x01;) {
        if (!readOne(fd, &b)) {
            std::fprintf(stderr, "kestrel-bench-floor: no start byte from %s\n", port);
            return 1;
        }
    }
    const double seconds = sendRecords(fd, image);
    close(fd);
    if (seconds < 0) {
        std::fprintf(stderr, "kestrel-bench-floor: the exchange broke down\n");
        return 1;
    }
    report(image, seconds);
    return 0;
}

int serveAsModule(const char* link) {
    const int master = openMaster();
    const char* slaveName = master >= 0 ? ptsname(master) : nullptr;
    const std::string temp = std::string(link) + ".new";
    if (slaveName == nullptr || symlink(slaveName, temp.c_str()) != 0 ||
        rename(temp.c_str(), link) != 0) {
        std::fprintf(stderr, "kestrel-bench-floor: cannot link a pty at %s\n", link);
        return 1;
    }
    std::printf("floor: serving at %s\n", link);
    std::fflush(stdout);
    std::string heard;  // before the download command
    bool loading = false;
    RecordAnswerer answerer;
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // No slave open (the tool's re-open on the fallback road): EIO until the next.
            // The tool closing the port after the records is the end of a transfer.
            if (answerer.answered() > 0) answerer.report();
            usleep(1000);
            continue;
        }
        size_t used = 0;
        while (!loading && used < static_cast<size_t>(n)) {
            heard.push_back(static_cast<char>(buf[used++]));
            if (heard.size() >= 8 && heard.compare(heard.size() - 8, 8, "AT^SFDL\r") == 0) {
                loading = true;
                writeAll(master, &kNext, 1);  // the start byte
            }
        }
        if (loading) answerer.take(master, buf + used, static_cast<size_t>(n) - used);
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: kestrel-bench-floor IMAGE [--port PATH [--rate N]]\n"
                 "       kestrel-bench-floor --serve LINK\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0) return serveAsModule(argv[2]);
    const bool withPort = (argc == 4 || argc == 6) && std::strcmp(argv[2], "--port") == 0;
    speed_t speed = B57600;
    if (argc == 6) speed = std::strcmp(argv[4], "--rate") == 0 ? speedOf(argv[5]) : B0;
    if ((argc != 2 && !withPort) || speed == B0) return usage();
    Image image;
    if (!loadImage(argv[1], &image)) {
        std::fprintf(stderr, "kestrel-bench-floor: no records in %s\n", argv[1]);
        return 2;
    }
    return withPort ? againstModule(image, argv[3], speed) : overNewPty(image);
}
