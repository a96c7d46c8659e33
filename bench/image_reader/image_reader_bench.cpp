// kestrel-bench-image-reader: what the image reader's two reads per record cost, against one
// plain buffered pass over the same file.
//
//   kestrel-bench-image-reader PROGRAM [REPETITIONS]
//
// PROGRAM is a packed program (the shipped kestrel-cli). Each repetition times, one after the
// other on a warm cache, openImage + countRecords + closeImage with the reader pointed at
// PROGRAM, and a read of the whole of PROGRAM with fread through a 64 KiB buffer. Prints the
// medians (and the fastest and slowest) in microseconds and their ratio. Exit 0, 1 when the
// image cannot be read, 2 on wrong usage.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/firmware_image.h"
#include "platform/own_file.h"

namespace {

double nowMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) * 1e-3;
}

// openImage + countRecords + closeImage; the record count, or -1 when the image is not found.
int32_t countThroughReader(const char* program) {
    kestrel::FirmwareImage image(program);
    if (!image.openImage("")) {
        return -1;
    }
    const int32_t records = image.countRecords();
    image.closeImage();
    return records;
}

// The whole file through fread and a 64 KiB buffer; the bytes read (summed, so the loop is
// not optimised away), or 0 when it cannot be opened.
uint64_t readPlain(const char* path, std::vector<unsigned char>* buffer) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return 0;
    uint64_t total = 0;
    size_t n = 0;
    while ((n = std::fread(buffer->data(), 1, buffer->size(), f)) > 0)
        total += n + (*buffer)[0];
    std::fclose(f);
    return total;
}

struct Spread {
    double median, fastest, slowest;
};

Spread spreadOf(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.front(), samples.back()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kestrel-bench-image-reader PROGRAM [REPETITIONS]\n");
        return 2;
    }
    const int repetitions = argc == 3 ? std::atoi(argv[2]) : 200;
    if (repetitions < 1) return 2;
    std::vector<unsigned char> buffer(64 * 1024);

    // Warm the cache and check that there is an image at all.
    const int32_t records = countThroughReader(argv[1]);
    volatile uint64_t sink = readPlain(argv[1], &buffer);
    if (records <= 0 || sink == 0) {
        std::fprintf(stderr, "kestrel-bench-image-reader: no image in %s\n", argv[1]);
        return 1;
    }

    std::vector<double> reader, plain;
    for (int i = 0; i < repetitions; ++i) {
        double t0 = nowMicroseconds();
        if (countThroughReader(argv[1]) != records) return 1;
        reader.push_back(nowMicroseconds() - t0);
        t0 = nowMicroseconds();
        sink = sink + readPlain(argv[1], &buffer);
        plain.push_back(nowMicroseconds() - t0);
    }
    const Spread r = spreadOf(reader);
    const Spread p = spreadOf(plain);
    std::printf("image-reader: records %d, repetitions %d\n", records, repetitions);
    std::printf("image-reader: openImage+countRecords median %.0f us (%.0f..%.0f)\n", r.median,
                r.fastest, r.slowest);
    std::printf("image-reader: fread 64 KiB median %.0f us (%.0f..%.0f)\n", p.median, p.fastest,
                p.slowest);
    std::printf("image-reader: ratio %.1f\n", r.median / p.median);
    return 0;
}
