// PNG and JPEG files through GdkPixbuf's loaders for those two formats
// alone, read from a descriptor that is checked to be a regular file, their
// kind and size checked from their header (image_header.cpp) before a
// loader sees them (image_decode.cpp), and scaled down while they load.
//
// Provides: LoadImageFile, LoadImageFileWithin.
#include <unistd.h>

#include <algorithm>

#include "platform/pictures/image_decode.h"
#include "platform/pictures/image_header.h"
#include "platform/platform.h"
#include "support/regular_file.h"
#include "support/translation.h"

namespace platform {

namespace {

// Image files larger than this are not read at all.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;
// The most pixels a loader is let make before it scales them down (at 4
// bytes a pixel, 1 GB); a larger picture is refused from its header.
constexpr uint64_t kMaxDecodedPixels = 250'000'000;
// The most a loader is let hold while it decodes: its pixels and, for a
// JPEG decoded whole, the coefficients it keeps of every component.
constexpr uint64_t kMaxDecodeBytes = uint64_t{1} << 30;

// The size the loader decodes the picture of `header` at before it scales
// it to the limit: a PNG at its own size; a JPEG whose decoder works row
// by row at 1/8, 1/4 or 1/2 of it, the smallest of those not smaller than
// the scaled size (else at its own size).
void DecodedSize(const ImageHeader& header, const ImageLimit& limit, uint64_t* w, uint64_t* h) {
    *w = header.width;
    *h = header.height;
    if (header.kind != ImageKind::Jpeg || header.wholeImage) return;
    int64_t sw = 0, sh = 0;
    ScaledSize(limit, header.width, header.height, &sw, &sh);
    for (uint64_t d = 8; d > 1; d /= 2) {
        const uint64_t dw = (header.width + d - 1) / d, dh = (header.height + d - 1) / d;
        if (dw >= static_cast<uint64_t>(sw) && dh >= static_cast<uint64_t>(sh)) {
            *w = dw;
            *h = dh;
            return;
        }
    }
}

// Reads the header of the open file `fd`: true when it is a PNG or JPEG
// that decodes within the budget for `limit` (the picture upright), so
// that neither a loader for another format nor one that would make too
// many pixels or hold too many coefficients is ever reached.
bool AcceptHeader(int fd, const ImageLimit& limit, ImageHeader* header, std::string* error) {
    if (!ReadImageHeader(fd, header, error)) return false;
    uint64_t w = 0, h = 0;
    DecodedSize(*header, StoredLimit(limit, *header), &w, &h);
    if (w * h > kMaxDecodedPixels) {
        *error = Format(_("it would decode to %lld × %lld pixels, more than %lld million"),
                        static_cast<long long>(w), static_cast<long long>(h),
                        static_cast<long long>(kMaxDecodedPixels / 1'000'000));
        return false;
    }
    // A decoder that keeps the whole image keeps 2 bytes for each sample
    // of each component, whatever the scale it puts out.
    uint64_t bytes = w * h * 4;
    if (header->kind == ImageKind::Jpeg && header->wholeImage) {
        bytes += uint64_t{header->width} * header->height * header->components * 2;
    }
    if (bytes <= kMaxDecodeBytes) return true;
    *error =
        Format(_("decoding it would take %lld MB with its coefficients, more than %lld MB"),
               static_cast<long long>(bytes >> 20), static_cast<long long>(kMaxDecodeBytes >> 20));
    return false;
}

bool LoadImage(const char* path, ImageLimit limit, RgbaImage* image, std::string* error) {
    std::string reason;
    uint64_t size = 0;
    // Only a regular file is read: a pipe or a device would block or never
    // end.
    const int fd = OpenRegularFile(path, kMaxImageBytes, &size, &reason);
    if (fd < 0) {
        if (error) *error = reason;
        return false;
    }
    limit.maxWidth = std::max(1, limit.maxWidth);
    limit.maxHeight = std::max(1, limit.maxHeight);
    ImageHeader header;
    const bool ok =
        AcceptHeader(fd, limit, &header, &reason) && DecodeImage(fd, header, limit, image, &reason);
    close(fd);
    if (!ok && error) *error = reason;
    return ok;
}

}  // namespace

bool LoadImageFile(const char* path, int maxSide, RgbaImage* image, std::string* error) {
    return LoadImage(path, ImageLimit{maxSide, maxSide, false}, image, error);
}

bool LoadImageFileWithin(const char* path, int maxWidth, int maxHeight, RgbaImage* image,
                         std::string* error) {
    return LoadImage(path, ImageLimit{maxWidth, maxHeight, true}, image, error);
}

}  // namespace platform
