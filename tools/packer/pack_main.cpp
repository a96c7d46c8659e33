// kestrel-pack: appends a firmware image to a program, behind the 256-byte image marker.
//
//   kestrel-pack <program> <image> <output>
//
// The output is the program, the marker, then the image, and keeps the program's permission
// bits. It is refused (exit 1, nothing written) when the image reader could not find the
// image in it or would misread it. Exit 2: wrong usage.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "packer/file_io.h"
#include "packer/image_marker.h"
#include "packer/record_walk.h"

namespace {

using namespace kestrel::tools;

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

int refuse(const char* what, const char* path) {
    std::fprintf(stderr, "kestrel-pack: %s '%s': %s\n", what, path, std::strerror(errno));
    return kRefused;
}

// The reader looks for the marker only within the first kMarkerSearchLength bytes, and only
// its first occurrence counts: the program must be short and must not hold the marker.
bool programFits(const std::vector<uint8_t>& program, const char* path) {
    if (program.size() > kMaxProgramLength) {
        std::fprintf(stderr,
                     "kestrel-pack: program '%s' is %zu bytes, %zu too many: at most %zu bytes "
                     "fit in front of the image marker (strip it or build it for size)\n",
                     path, program.size(), program.size() - kMaxProgramLength, kMaxProgramLength);
        return false;
    }
    const size_t at = findImageMarker(program.data(), program.size());
    if (at != program.size()) {
        std::fprintf(stderr,
                     "kestrel-pack: program '%s' contains the 256-byte image marker (0x00..0xFF "
                     "ascending) at offset %zu; the reader would take it for the real one\n",
                     path, at);
        return false;
    }
    return true;
}

// The image ends where the file ends, so its last record must end exactly there.
bool imageIsWhole(const std::vector<uint8_t>& image, const char* path, size_t* records) {
    if (image.empty()) {
        std::fprintf(stderr, "kestrel-pack: image '%s' is empty\n", path);
        return false;
    }
    const RecordWalk walk = walkRecords(image.data(), image.size());
    if (!walk.endsExactly) {
        std::fprintf(stderr,
                     "kestrel-pack: image '%s' does not end with a whole record: record %zu at "
                     "offset %zu announces %zu payload bytes but only %zu remain\n",
                     path, walk.records, walk.cutOffset, walk.cutLength, walk.cutPresent);
        return false;
    }
    *records = walk.records;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: kestrel-pack <program> <image> <output>\n"
                     "Writes <program>, the 256-byte image marker and <image> to <output>.\n");
        return kUsage;
    }
    const char* programPath = argv[1];
    const char* imagePath = argv[2];
    const char* outputPath = argv[3];

    std::vector<uint8_t> program;
    if (!readWholeFile(programPath, &program)) return refuse("cannot read program", programPath);
    if (!programFits(program, programPath)) return kRefused;

    std::vector<uint8_t> image;
    if (!readWholeFile(imagePath, &image)) return refuse("cannot read image", imagePath);
    size_t records = 0;
    if (!imageIsWhole(image, imagePath, &records)) return kRefused;

    // The reader reads the first kMarkerSearchLength bytes in one go and gives up on a
    // shorter file, marker or not.
    const size_t total = program.size() + kMarkerLength + image.size();
    if (total < kMarkerSearchLength) {
        std::fprintf(stderr,
                     "kestrel-pack: the packed file would be %zu bytes; the reader needs at "
                     "least %zu to find the image\n",
                     total, kMarkerSearchLength);
        return kRefused;
    }

    struct stat programStat;
    if (::stat(programPath, &programStat) != 0) return refuse("cannot stat program", programPath);

    uint8_t marker[kMarkerLength];
    makeImageMarker(marker);
    const std::vector<ByteSpan> pieces = {
        {program.data(), program.size()}, {marker, sizeof marker}, {image.data(), image.size()}};
    if (!writeFileAtomically(outputPath, pieces, programStat.st_mode & 07777))
        return refuse("cannot write", outputPath);

    std::printf(
        "kestrel-pack: %s: program %zu bytes (%zu to spare), image %zu records, %zu bytes\n",
        outputPath, program.size(), kMaxProgramLength - program.size(), records, image.size());
    return kOk;
}
