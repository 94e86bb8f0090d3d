// Reading a picture file's kind and declared size, byte by byte in file
// order. Relies on POSIX pread.
//
// Provides: ReadImageHeader.
#include "platform/pictures/image_header.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

namespace {

constexpr char kNotAPicture[] = "it is not a PNG or JPEG picture";
constexpr char kDamagedPng[] = "it is a damaged PNG picture";
constexpr char kDamagedJpeg[] = "it is a damaged JPEG picture";

// Segments (and fill bytes) a JPEG may have before its first scan; real
// files have a few dozen.
constexpr int kMaxJpegSteps = 65536;

// Reads exactly `n` bytes at `offset`; false at the end of the file or on
// an error.
bool ReadAt(int fd, uint64_t offset, uint8_t* bytes, size_t n) {
    while (n > 0) {
        const ssize_t got = pread(fd, bytes, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    return true;
}

uint32_t BigEndian16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t BigEndian32(const uint8_t* p) { return BigEndian16(p) << 16 | BigEndian16(p + 2); }

// The orientation (1 to 8) in an APP1 segment's `n` bytes when they are
// Exif: a TIFF header, in either byte order, whose first IFD holds the
// tag 0x0112 as one SHORT. 0 when they hold none.
int ExifOrientation(const uint8_t* p, size_t n) {
    if (n < 14 || std::memcmp(p, "Exif\0\0", 6) != 0) return 0;
    const uint8_t* tiff = p + 6;
    const size_t size = n - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 0;
    const auto u16 = [&](size_t at) {
        return little ? uint32_t{tiff[at]} | uint32_t{tiff[at + 1]} << 8 : BigEndian16(tiff + at);
    };
    const auto u32 = [&](size_t at) {
        return little ? u16(at) | u16(at + 2) << 16 : BigEndian32(tiff + at);
    };
    if (u16(2) != 42) return 0;
    const uint64_t ifd = u32(4);
    if (ifd + 2 > size) return 0;
    const uint32_t entries = u16(ifd);
    for (uint32_t i = 0; i < entries && ifd + 2 + 12 * (i + 1) <= size; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (u16(entry) != 0x0112) continue;
        const uint32_t value = u16(entry + 8);
        return u16(entry + 2) == 3 && u32(entry + 4) == 1 && value >= 1 && value <= 8
                   ? static_cast<int>(value)
                   : 0;
    }
    return 0;
}

// The IHDR chunk must come first, 13 bytes long; PNG sides are 1 to 2^31 - 1.
bool ReadPngHeader(int fd, ImageHeader* header, std::string* error) {
    uint8_t ihdr[16];
    if (!ReadAt(fd, 8, ihdr, sizeof ihdr) || BigEndian32(ihdr) != 13 ||
        std::memcmp(ihdr + 4, "IHDR", 4) != 0) {
        *error = kDamagedPng;
        return false;
    }
    header->kind = ImageKind::Png;
    header->width = BigEndian32(ihdr + 8);
    header->height = BigEndian32(ihdr + 12);
    if (header->width == 0 || header->height == 0 || header->width > 0x7fffffffu ||
        header->height > 0x7fffffffu) {
        *error = kDamagedPng;
        return false;
    }
    return true;
}

// The frame markers SOF0 to SOF15; 0xc4, 0xc8 and 0xcc are other segments.
bool IsFrameMarker(uint8_t m) {
    return m >= 0xc0 && m <= 0xcf && m != 0xc4 && m != 0xc8 && m != 0xcc;
}

// Walks the segments after the start marker to the first scan: the frame
// gives the size and the component count, the scan how many components
// it holds, the first Exif segment the orientation. Anything out of order (bytes between segments,
// a scan before the frame, the end) counts as damage.
bool ReadJpegHeader(int fd, ImageHeader* header, std::string* error) {
    header->kind = ImageKind::Jpeg;
    uint64_t at = 2;
    uint32_t components = 0;
    int orientation = 0;
    for (int step = 0; step < kMaxJpegSteps; ++step) {
        uint8_t marker[4];
        if (!ReadAt(fd, at, marker, 2) || marker[0] != 0xff) break;
        if (marker[1] == 0xff) {  // a fill byte
            ++at;
            continue;
        }
        const uint8_t m = marker[1];
        if (m == 0x01 || (m >= 0xd0 && m <= 0xd7)) {  // markers without a length
            at += 2;
            continue;
        }
        if (m == 0xd8 || m == 0xd9 || !ReadAt(fd, at + 2, marker + 2, 2)) break;
        const uint32_t length = BigEndian16(marker + 2);
        if (length < 2) break;
        if (IsFrameMarker(m)) {
            // Precision, height, width, component count.
            uint8_t frame[6];
            if (components != 0 || length < 8 || !ReadAt(fd, at + 4, frame, sizeof frame)) break;
            header->height = BigEndian16(frame + 1);
            header->width = BigEndian16(frame + 3);
            components = frame[5];
            // Only baseline and extended Huffman frames decode row by row.
            header->wholeImage = m != 0xc0 && m != 0xc1;
            if (header->width == 0 || header->height == 0 || components == 0) break;
        } else if (m == 0xda) {
            uint8_t inScan = 0;
            if (components == 0 || !ReadAt(fd, at + 4, &inScan, 1)) break;
            if (inScan < components) header->wholeImage = true;
            header->components = components;
            header->orientation = orientation != 0 ? orientation : 1;
            return true;
        } else if (m == 0xe1 && orientation == 0 && length > 2) {
            std::vector<uint8_t> app(length - 2);
            if (!ReadAt(fd, at + 4, app.data(), app.size())) break;
            orientation = ExifOrientation(app.data(), app.size());
        }
        at += 2 + length;
    }
    *error = kDamagedJpeg;
    return false;
}

}  // namespace

bool ReadImageHeader(int fd, ImageHeader* header, std::string* error) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t start[8] = {};
    const bool whole = ReadAt(fd, 0, start, sizeof start);
    if (whole && std::memcmp(start, kPng, sizeof kPng) == 0) {
        return ReadPngHeader(fd, header, error);
    }
    // A JPEG starts with its start marker and the next marker's first byte.
    if (whole && start[0] == 0xff && start[1] == 0xd8 && start[2] == 0xff) {
        return ReadJpegHeader(fd, header, error);
    }
    *header = ImageHeader{};
    *error = kNotAPicture;
    return false;
}

}  // namespace platform
