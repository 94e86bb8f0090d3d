// The kind and the declared size of a picture file, read from its first
// bytes before any decoder sees them: a PNG by its signature and IHDR
// chunk, a JPEG by its start marker and the segments up to its first scan.
// Private to src/platform/desktop/.
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
};

// Reads the header of the regular file open as `fd` with pread (its offset
// is left as it is). False, with the reason in `error`, when the file is
// neither a PNG nor a JPEG, or its header is damaged or cut short.
bool ReadImageHeader(int fd, ImageHeader* header, std::string* error);

}  // namespace platform
