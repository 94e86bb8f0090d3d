// Test helpers for images and archives.
#include "resource_files.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/diagnostics.h"

namespace {
AlertSink g_previous;
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mereglass-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes TgaHeader(int type, int width, int height, int bits, int descriptor) {
    Bytes h(18, 0);
    h[2] = static_cast<unsigned char>(type);
    h[12] = static_cast<unsigned char>(width & 0xff);
    h[13] = static_cast<unsigned char>(width >> 8);
    h[14] = static_cast<unsigned char>(height & 0xff);
    h[15] = static_cast<unsigned char>(height >> 8);
    h[16] = static_cast<unsigned char>(bits);
    h[17] = static_cast<unsigned char>(descriptor);
    return h;
}

Bytes UncompressedTga(int width, int height, int bits, const Bytes& pixels, int descriptor) {
    Bytes out = TgaHeader(2, width, height, bits, descriptor);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

Bytes CompressedTga(int width, int height, int bits, const Bytes& packets, int descriptor) {
    Bytes out = TgaHeader(10, width, height, bits, descriptor);
    out.insert(out.end(), packets.begin(), packets.end());
    return out;
}

void AppendRle(Bytes& out, const Bytes& pixels, int bpp) {
    const size_t count = pixels.size() / bpp;
    auto same = [&](size_t a, size_t b) {
        return std::equal(pixels.begin() + a * bpp, pixels.begin() + (a + 1) * bpp,
                          pixels.begin() + b * bpp);
    };
    size_t i = 0;
    while (i < count) {
        size_t run = 1;
        while (i + run < count && run < 128 && same(i, i + run)) ++run;
        if (run > 1) {
            out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
            out.insert(out.end(), pixels.begin() + i * bpp, pixels.begin() + (i + 1) * bpp);
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < count && raw < 128 && !(i + raw + 1 < count && same(i + raw, i + raw + 1)))
            ++raw;
        out.push_back(static_cast<unsigned char>(raw - 1));
        out.insert(out.end(), pixels.begin() + i * bpp, pixels.begin() + (i + raw) * bpp);
        i += raw;
    }
}

void PutLE32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetLE32(const Bytes& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void FixCheck(Bytes& archive) { PutLE32(archive, 16, ~static_cast<uint32_t>(archive.size())); }

Bytes MakeArchive(const std::vector<TestLump>& lumps, bool directoryFirst) {
    Bytes out = {'M', 'R', 'K', 'F', 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
    out.resize(24, 0);
    const size_t dirBytes = 28 * lumps.size();
    if (directoryFirst) out.resize(24 + dirBytes, 0);
    std::vector<uint32_t> offsets(lumps.size());
    for (size_t n = lumps.size(); n-- > 0;) {
        offsets[n] = static_cast<uint32_t>(out.size());
        out.insert(out.end(), lumps[n].data.begin(), lumps[n].data.end());
    }
    const uint32_t dir = directoryFirst ? 24 : static_cast<uint32_t>(out.size());
    if (!directoryFirst) out.resize(out.size() + dirBytes);
    for (size_t n = 0; n < lumps.size(); ++n) {
        const size_t at = dir + 28 * n;
        std::fill(out.begin() + at, out.begin() + at + 28, static_cast<unsigned char>(0xE0 + n));
        PutLE32(out, at, static_cast<uint32_t>(lumps[n].data.size()));
        PutLE32(out, at + 4, offsets[n]);
        PutLE32(out, at + 8, lumps[n].type);
        PutLE32(out, at + 12, lumps[n].param);
    }
    PutLE32(out, 12, static_cast<uint32_t>(lumps.size()));
    PutLE32(out, 20, dir);
    FixCheck(out);
    return out;
}

uint32_t DirectoryOffset(const Bytes& archive) { return GetLE32(archive, 20); }

uint32_t LumpOffset(const Bytes& archive, int lump) {
    return GetLE32(archive, DirectoryOffset(archive) + 28 * lump + 4);
}

AlertRecorder::AlertRecorder() {
    g_previous = SetAlertSink(
        [this](const char* caption, const char* text) { alerts_.emplace_back(caption, text); });
}

AlertRecorder::~AlertRecorder() { SetAlertSink(g_previous); }
