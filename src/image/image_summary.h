// What an image carries, told without sending it: for --version, --image-info and the
// records a production line keeps of each unit.
#pragma once

#include <cstdint>

#include "image/firmware_image.h"

namespace kestrel {

struct ImageSummary {
    int32_t records = 0;
    uint32_t bytes = 0;    // as sent: every length byte and payload
    char sha256[65] = {};  // of those bytes, 64 lower-case hex digits
};

// Opens `image`, reads every record once and closes it again. False (with the image's
// lastError()) when there is no image or it ends inside a record.
bool summarizeImage(FirmwareImage& image, ImageSummary* summary);

}  // namespace kestrel
