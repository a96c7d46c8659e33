// kestrel-bench-measure: runs a program and says what it cost, line by line.
//
//   kestrel-bench-measure PROGRAM [ARGS...]
//
// Every line the program writes to its standard output is printed as
//   "line <seconds since start> <CPU seconds so far> <the line>"
// (CPU time from /proc/PID/schedstat, read the moment the line arrives), and at the end
//   "run: wall <s>, user <s>, sys <s>, maxrss <KiB>, exit <code>"
// from wait4(). This program is small on purpose: the child's ru_maxrss also counts the
// memory of the process it was forked from (Linux carries the old image's peak over exec),
// so a child forked from an interpreter would report the interpreter's size.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

double nowSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU time the process has had so far, or -1 when it cannot be read.
double cpuSeconds(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
    FILE* f = std::fopen(path, "r");
    if (f == nullptr) return -1;
    unsigned long long ns = 0;
    const int got = std::fscanf(f, "%llu", &ns);
    std::fclose(f);
    return got == 1 ? static_cast<double>(ns) * 1e-9 : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrel-bench-measure PROGRAM [ARGS...]\n");
        return 2;
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return 2;
    const double start = nowSeconds();
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        execvp(argv[1], argv + 1);
        std::fprintf(stderr, "kestrel-bench-measure: cannot run %s: %s\n", argv[1],
                     std::strerror(errno));
        _exit(127);
    }
    close(out[1]);

    char line[512];
    size_t used = 0;
    for (;;) {
        char c = 0;
        const ssize_t n = read(out[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (c != '\n' && used + 1 < sizeof line) {
            line[used++] = c;
            continue;
        }
        if (c != '\n') continue;  // an overlong line is cut
        line[used] = '\0';
        std::printf("line %.6f %.6f %s\n", nowSeconds() - start, cpuSeconds(child), line);
        std::fflush(stdout);
        used = 0;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const double wall = nowSeconds() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("run: wall %.6f, user %.6f, sys %.6f, maxrss %ld, exit %d\n", wall,
                static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec * 1e-6,
                static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec * 1e-6,
                usage.ru_maxrss, code);
    return 0;
}
