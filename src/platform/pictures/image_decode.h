// Decoding a picture file whose header was read and accepted
// (image_header.h): GdkPixbuf's loader for its kind, scaled while it loads.
// Private to src/platform/pictures/.
#pragma once

#include <cstdint>
#include <string>

#include "platform/pictures/image_header.h"
#include "platform/platform.h"

namespace platform {

// The largest image the loader is asked for: at most maxWidth ×
// maxHeight pixels, each side scaled on its own (a picture stretched over
// the pool anyway) or both by one factor (keepAspect).
struct ImageLimit {
    int maxWidth;
    int maxHeight;
    bool keepAspect;
};

// The size a width × height picture is scaled to (each side at least 1).
void ScaledSize(const ImageLimit& limit, int64_t width, int64_t height, int64_t* w, int64_t* h);

// The limit for the picture as it is stored: `limit` (for the picture
// shown upright) with its sides swapped when header.orientation turns the
// picture a quarter.
ImageLimit StoredLimit(const ImageLimit& limit, const ImageHeader& header);

// Decodes the open file `fd`, read from its offset on, with GdkPixbuf's
// loader for `header`'s kind, which scales it while it loads so that,
// turned upright as header.orientation says, it fits `limit`; into
// `image` (RGBA, bottom row first, upright). The loader's own size must be
// the one `header` gives (the file may have changed since it was read), or
// the picture is refused before any of it is decoded. False, with the
// reason in `error`, when it cannot.
bool DecodeImage(int fd, const ImageHeader& header, const ImageLimit& limit, RgbaImage* image,
                 std::string* error);

}  // namespace platform
