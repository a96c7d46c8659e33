#include "modem_sim/expected_image.h"

#include <cerrno>
#include <cstring>

#include "packer/file_io.h"
#include "packer/image_marker.h"
#include "packer/record_walk.h"

namespace kestrel::sim {

bool loadExpectedRecords(const char* path, std::vector<std::vector<uint8_t>>* records,
                         std::string* error) {
    std::vector<uint8_t> file;
    if (!tools::readWholeFile(path, &file)) {
        *error = std::string("cannot read '") + path + "': " + std::strerror(errno);
        return false;
    }
    const size_t searched =
        file.size() < tools::kMarkerSearchLength ? file.size() : tools::kMarkerSearchLength;
    const size_t marker = tools::findImageMarker(file.data(), searched);
    const size_t start = marker == searched ? 0 : marker + tools::kMarkerLength;
    const uint8_t* image = file.data() + start;
    const size_t size = file.size() - start;

    const tools::RecordWalk walk = tools::walkRecords(image, size);
    if (!walk.endsExactly) {
        *error = std::string("'") + path + "' is neither a packed program nor an image: record " +
                 std::to_string(walk.records) + " runs past the end";
        return false;
    }
    records->clear();
    records->reserve(walk.records);
    for (size_t at = 0; at < size;) {
        const size_t length = size_t{image[at]} + 1;
        records->emplace_back(image + at, image + at + length);
        at += length;
    }
    return true;
}

}  // namespace kestrel::sim
