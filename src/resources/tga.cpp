// TGA decoders: one set of decoding rules, read either from a FILE or from
// an input stream. Relies on support/diagnostics.h for the alerts.
#include "resources/tga.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "support/diagnostics.h"

TGAHeader tgaheader;
TGA tga;
const unsigned char uTGAcompare[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const unsigned char cTGAcompare[12] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

// Every text the decoders show, and their captions.
constexpr const char* kCaption = "ERROR";
constexpr const char* kCaptionType = "Invalid Image";
constexpr const char* kCannotOpen = "Could not open texture file";
constexpr const char* kNoFileHeader = "Could not read file header";
constexpr const char* kWrongType = "TGA file be type 2 or type 10 ";
constexpr const char* kNoInfoHeader = "Could not read info header";
constexpr const char* kBadInfo = "Invalid texture information";
constexpr const char* kNoMemory = "Could not allocate memory for image";
constexpr const char* kNoImageData = "Could not read image data";
constexpr const char* kNoRleHeader = "Could not read RLE header";
constexpr const char* kNoRunPixel = "Could not read from file";
constexpr const char* kTooManyPixels = "Too many pixels read";

int Fail(const char* text) {
    MessageBox(nullptr, text, kCaption, 0);
    return 0;
}

constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();

// Reads from a FILE; a read succeeds when all its bytes arrive.
struct FileSource {
    FILE* file;

    bool Read(void* dst, size_t n) { return n == 0 || std::fread(dst, n, 1, file) == 1; }

    // Bytes left after the current position, or kUnknown.
    uint64_t Remaining() {
        const long here = std::ftell(file);
        if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return kUnknown;
        const long end = std::ftell(file);
        if (std::fseek(file, here, SEEK_SET) != 0 || end < here) return kUnknown;
        return static_cast<uint64_t>(end - here);
    }

    // Leaves the source as a read past its end would.
    void Exhaust() { std::fseek(file, 0, SEEK_END); }
};

// Reads from an input stream; a read succeeds when the stream is then
// neither failed nor bad.
struct StreamSource {
    std::ifstream* stream;

    bool Read(void* dst, size_t n) {
        stream->read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
        return !(stream->fail() || stream->bad());
    }

    uint64_t Remaining() {
        const std::streampos here = stream->tellg();
        if (here < 0) return kUnknown;
        stream->seekg(0, std::ios::end);
        const std::streampos end = stream->tellg();
        stream->seekg(here);
        if (end < 0 || end < here || stream->fail()) {
            stream->clear();
            stream->seekg(here);
            return kUnknown;
        }
        return static_cast<uint64_t>(end - here);
    }

    void Exhaust() {
        stream->seekg(0, std::ios::end);
        stream->setstate(std::ios::eofbit | std::ios::failbit);
    }
};

// The common start of both decoders: the 6 information bytes, the size
// checks and the byte count of the decoded image. Releases pixels that the
// record held before, so that it describes the new image or none.
template <class Source>
bool ReadInfo(Texture* texture, Source& src) {
    std::free(texture->pixels);
    texture->pixels = nullptr;
    if (!src.Read(tga.header, sizeof tga.header)) return Fail(kNoInfoHeader);

    texture->width = tga.header[1] * 256u + tga.header[0];
    texture->height = tga.header[3] * 256u + tga.header[2];
    texture->bitsPerPixel = tga.header[4];
    tga.width = texture->width;
    tga.height = texture->height;
    tga.bpp = texture->bitsPerPixel;
    if (texture->width == 0 || texture->height == 0 ||
        (texture->bitsPerPixel != 24 && texture->bitsPerPixel != 32)) {
        return Fail(kBadInfo);
    }
    texture->pixelFormat = texture->bitsPerPixel == 24 ? GL_RGB : GL_RGBA;
    tga.bytesPerPixel = tga.bpp / 8;
    // At most 4 × 65535 × 65535: formed in 64 bits, refused if it does not fit
    // the 32-bit record field or the address space.
    const uint64_t size = static_cast<uint64_t>(tga.bytesPerPixel) * tga.width * tga.height;
    if (size > std::numeric_limits<uint32_t>::max() || size > std::numeric_limits<size_t>::max()) {
        tga.imageSize = 0;
        return Fail(kNoMemory);
    }
    tga.imageSize = static_cast<uint32_t>(size);
    return true;
}

template <class Source>
int DecodeUncompressed(Texture* texture, Source& src) {
    if (!ReadInfo(texture, src)) return 0;
    // Data that is not there cannot be read: no need to allocate for it.
    const uint64_t remaining = src.Remaining();
    if (remaining != kUnknown && remaining < tga.imageSize) {
        src.Exhaust();
        return Fail(kNoImageData);
    }
    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(tga.imageSize));
    if (!pixels) return Fail(kNoMemory);
    if (!src.Read(pixels, tga.imageSize)) {
        std::free(pixels);
        return Fail(kNoImageData);
    }
    const uint32_t step = tga.bytesPerPixel;
    for (uint32_t i = 0; i < tga.imageSize; i += step) {
        const unsigned char b = pixels[i];
        pixels[i] = pixels[i + 2];
        pixels[i + 2] = b;
    }
    texture->pixels = pixels;
    return 1;
}

// Where the run-length decoder puts its pixels: in RGB(A) order into `out`,
// or, without a buffer, only counted.
struct RunOutput {
    unsigned char* out;   // the next pixel's place; null: count only
    uint64_t pixelCount;  // pixels in the image
    uint32_t bpp;         // bytes per pixel, 3 or 4
    uint64_t count = 0;   // pixels stored

    // `p` as read: BGR(A).
    void Store(const unsigned char* p) {
        if (out) {
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
            if (bpp == 4) out[3] = p[3];
            out += bpp;
        }
        ++count;
    }
};

// Reads packets until the image is complete. Null then, else the text of
// the failure.
template <class Source>
const char* ReadPackets(Source& src, RunOutput& o) {
    unsigned char pixel[4];  // the pixel being copied, as read
    unsigned char packet[128 * 4];
    while (true) {
        unsigned char head;
        if (!src.Read(&head, 1)) return kNoRleHeader;
        if (head >= 128) {
            const unsigned run = head - 127u;
            if (!src.Read(pixel, o.bpp)) return kNoRunPixel;
            for (unsigned i = 0; i < run; ++i) {
                if (o.count >= o.pixelCount) return kTooManyPixels;
                o.Store(pixel);
            }
        } else {
            const unsigned raw = head + 1u;
            // Read the pixels that fit in one go; a pixel beyond the image is
            // still read before it is refused, as a pixel-by-pixel reader would.
            const uint64_t room = o.pixelCount - o.count;
            const unsigned fits = raw <= room ? raw : static_cast<unsigned>(room);
            if (!src.Read(packet, static_cast<size_t>(fits) * o.bpp)) return kNoImageData;
            for (unsigned i = 0; i < fits; ++i) o.Store(packet + i * o.bpp);
            if (fits < raw) {
                if (!src.Read(pixel, o.bpp)) return kNoImageData;
                return kTooManyPixels;
            }
        }
        if (o.count >= o.pixelCount) return nullptr;
    }
}

template <class Source>
int DecodeCompressed(Texture* texture, Source& src) {
    if (!ReadInfo(texture, src)) return 0;
    const uint32_t bpp = tga.bytesPerPixel;
    const uint64_t pixelCount = static_cast<uint64_t>(tga.width) * tga.height;

    // Every packet yields at most 128 pixels from at least 1 + bpp bytes. With
    // fewer bytes left the image cannot be complete: decode without storing,
    // so that the failing read still gets its own message.
    const uint64_t needed = (pixelCount + 127) / 128 * (1 + bpp);
    const uint64_t remaining = src.Remaining();
    unsigned char* pixels = nullptr;
    if (remaining == kUnknown || remaining >= needed) {
        pixels = static_cast<unsigned char*>(std::malloc(tga.imageSize));
        if (!pixels) return Fail(kNoMemory);
    }
    RunOutput output{pixels, pixelCount, bpp};
    const char* failure = ReadPackets(src, output);
    // Without a buffer the image cannot have been complete: the byte count
    // was checked, so this cannot happen.
    if (failure == nullptr && !pixels) failure = kNoMemory;
    if (failure != nullptr) {
        std::free(pixels);
        return Fail(failure);
    }
    texture->pixels = pixels;
    return 1;
}

}  // namespace

int LoadTGA(Texture* texture, const char* filename) {
    FILE* file = filename ? std::fopen(filename, "rb") : nullptr;
    if (!file) return Fail(kCannotOpen);
    if (!texture || std::fread(tgaheader.Header, sizeof tgaheader.Header, 1, file) != 1) {
        std::fclose(file);
        return texture ? Fail(kNoFileHeader) : 0;
    }
    if (std::memcmp(tgaheader.Header, uTGAcompare, sizeof uTGAcompare) == 0) {
        return LoadUncompressedTGA(texture, filename, file);
    }
    if (std::memcmp(tgaheader.Header, cTGAcompare, sizeof cTGAcompare) == 0) {
        return LoadCompressedTGA(texture, filename, file);
    }
    std::fclose(file);
    MessageBox(nullptr, kWrongType, kCaptionType, 0);
    return 0;
}

int LoadUncompressedTGA(Texture* texture, const char* /*filename*/, FILE* file) {
    if (!file) return Fail(kCannotOpen);
    int result = 0;
    if (texture) {
        FileSource src{file};
        result = DecodeUncompressed(texture, src);
    }
    std::fclose(file);
    return result;
}

int LoadCompressedTGA(Texture* texture, const char* /*filename*/, FILE* file) {
    if (!file) return Fail(kCannotOpen);
    int result = 0;
    if (texture) {
        FileSource src{file};
        result = DecodeCompressed(texture, src);
    }
    std::fclose(file);
    return result;
}

int LoadTGA2(Texture* texture, std::ifstream* stream) {
    if (!stream || !stream->is_open()) return Fail(kCannotOpen);
    if (!texture) return 0;
    StreamSource src{stream};
    if (!src.Read(tgaheader.Header, sizeof tgaheader.Header)) return Fail(kNoFileHeader);
    if (std::memcmp(tgaheader.Header, uTGAcompare, sizeof uTGAcompare) == 0) {
        return LoadUncompressedTGA2(texture, stream);
    }
    if (std::memcmp(tgaheader.Header, cTGAcompare, sizeof cTGAcompare) == 0) {
        return LoadCompressedTGA2(texture, stream);
    }
    MessageBox(nullptr, kWrongType, kCaptionType, 0);
    return 0;
}

int LoadUncompressedTGA2(Texture* texture, std::ifstream* stream) {
    if (!stream || !stream->is_open()) return Fail(kCannotOpen);
    if (!texture) return 0;
    StreamSource src{stream};
    return DecodeUncompressed(texture, src);
}

int LoadCompressedTGA2(Texture* texture, std::ifstream* stream) {
    if (!stream || !stream->is_open()) return Fail(kCannotOpen);
    if (!texture) return 0;
    StreamSource src{stream};
    return DecodeCompressed(texture, src);
}
