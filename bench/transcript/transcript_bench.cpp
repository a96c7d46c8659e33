// What the transcript costs a transfer per block: a record of 73 and of 256 bytes written and
// its one-byte answer read through the tap, against the same calls on the bare device, with
// the ring alone and with every line also streamed to a file; and what writing out a full
// ring takes. The device answers at once, so only the transcript's own work is measured.
//
//   kestrel-bench-transcript [FOLDER]   (FOLDER for the streamed and saved files; /tmp)
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "serial/transcript.h"
#include "serial/transcript_tap.h"

namespace {

using namespace kestrel;

// A device that takes every byte and answers every read with 0x01 at once.
struct InstantOs final : SerialOs {
    bool open(const char*, SystemError*) override { return true; }
    bool applySettings(const LineSettings&) override { return true; }
    bool readRate(uint32_t* rate) override { return *rate = 115200, true; }
    bool applyTimeouts() override { return true; }
    bool setDtr(bool) override { return true; }
    bool readCts(bool* on) override { return *on = true, true; }
    bool purge() override { return true; }
    bool dropInput() override { return true; }
    bool bytesWaiting(uint32_t* count) override { return *count = 0, true; }
    bool takeLineErrors(bool* any) override { return *any = false, true; }
    bool readByte(uint8_t* byte, bool* got) override { return *byte = 1, *got = true, true; }
    uint32_t write(const uint8_t*, uint32_t count) override { return count; }
    void close() override {}
};

constexpr int kBlocks = 200000;

// Nanoseconds per block for `blocks` blocks of `size` bytes through `os`.
double perBlock(SerialOs& os, Transcript* t, uint32_t size) {
    uint8_t block[256];
    for (uint32_t i = 0; i < size; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    block[0] = static_cast<uint8_t>(size - 1);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBlocks; ++i) {
        if (t != nullptr) t->noteProgress();
        os.write(block, size);
        uint8_t answer = 0;
        bool got = false;
        os.readByte(&answer, &got);
    }
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    return took.count() / kBlocks;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    InstantOs bare;
    for (const uint32_t size : {73u, 256u}) {
        const double plain = perBlock(bare, nullptr, size);
        Transcript ring(systemClock());
        TranscriptTap ringTap(bare, ring);
        const double ringOnly = perBlock(ringTap, &ring, size);
        Transcript streamed(systemClock());
        TranscriptTap streamTap(bare, streamed);
        SystemError why;
        const std::string path = folder + "/kestrel-bench-transcript.log";
        if (!streamed.streamTo(path.c_str(), &why)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        const double withStream = perBlock(streamTap, &streamed, size);
        std::printf(
            "%3u-byte block: bare %.0f ns, ring %.0f ns (+%.0f), ring and file %.0f ns "
            "(+%.0f) per block\n",
            size, plain, ringOnly, ringOnly - plain, withStream, withStream - plain);
        std::remove(path.c_str());

        // The ring is full now: writing it out is what a failed session adds at its end.
        const std::string saved = folder + "/kestrel-bench-ring.log";
        std::FILE* f = std::fopen(saved.c_str(), "wb");
        if (f == nullptr) return 1;
        const auto start = std::chrono::steady_clock::now();
        ring.writeRing(f);
        std::fclose(f);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        std::FILE* in = std::fopen(saved.c_str(), "rb");
        std::fseek(in, 0, SEEK_END);
        const long bytes = std::ftell(in);
        std::fclose(in);
        std::remove(saved.c_str());
        std::printf(
            "%3u-byte block: a full %zu KiB ring (%u events dropped) written out in "
            "%.1f ms, %ld bytes of text\n",
            size, Transcript::kDefaultRingBytes / 1024, ring.droppedEvents(), took.count(), bytes);
    }
    return 0;
}
