// The kind and the declared size of a picture file, read from its first
// bytes before any decoder sees them: a PNG by its signature and IHDR
// chunk, a JPEG by its start marker and the segments up to its first scan
// (its EXIF orientation among them).
// Private to src/platform/pictures/.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class ImageKind { Png, Jpeg };

struct ImageHeader {
    ImageKind kind = ImageKind::Png;
    uint32_t width = 0;  // pixels, as the file declares them; never 0
    uint32_t height = 0;
    // A JPEG whose decoder keeps the coefficients of the whole image at
    // full size whatever the output's scale: progressive, lossless,
    // arithmetic-coded, or with its components in separate scans.
    bool wholeImage = false;
    // A JPEG's component count (3 for colour, 4 for CMYK); 0 for a PNG.
    uint32_t components = 0;
    // How the stored picture is turned to be shown upright: the EXIF
    // orientation of a JPEG's first Exif segment, 1 to 8 (1: as stored;
    // 5 to 8 swap the sides). 1 for a PNG and wherever none is given.
    int orientation = 1;
};

// Reads the header of the regular file open as `fd` with pread (its offset
// is left as it is), with a JPEG's EXIF orientation. False, with the reason in `error`, when the
// file is neither a PNG nor a JPEG, or its header is damaged or cut short.
bool ReadImageHeader(int fd, ImageHeader* header, std::string* error);

}  // namespace platform
