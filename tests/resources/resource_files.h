// Test helpers: TGA images and resource archives built byte by byte in
// memory, a temporary folder, and a recorder of the alerts that the
// decoders show.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    // Writes bytes to name in the folder and returns the file's path.
    std::string Write(const std::string& name, const Bytes& bytes) const;

private:
    std::filesystem::path dir_;
};

Bytes ReadAll(const std::string& path);

// The 18-byte TGA header: image type (2 or 10), size, bits, descriptor.
Bytes TgaHeader(int type, int width, int height, int bits, int descriptor = 0);
// An uncompressed image: header, then pixel bytes as given (B, G, R (, A)).
Bytes UncompressedTga(int width, int height, int bits, const Bytes& pixels, int descriptor = 0);
// A run-length image: header, then the packet bytes as given.
Bytes CompressedTga(int width, int height, int bits, const Bytes& packets, int descriptor = 0);
// Appends a run-length encoding of pixels (bpp bytes each, file order).
void AppendRle(Bytes& out, const Bytes& pixels, int bpp);

struct TestLump {
    uint32_t type;
    uint32_t param;
    Bytes data;
};

// A valid archive: header, the lumps' data in reverse order and the
// directory at the end (or, with directoryFirst, right after the header, so
// that lump 0 ends the file). Nothing depends on a particular order. The
// free header and entry bytes hold non-zero filler.
Bytes MakeArchive(const std::vector<TestLump>& lumps, bool directoryFirst = false);
// Offsets within an archive made by MakeArchive.
uint32_t LumpOffset(const Bytes& archive, int lump);
uint32_t DirectoryOffset(const Bytes& archive);
void PutLE32(Bytes& bytes, size_t at, uint32_t value);
uint32_t GetLE32(const Bytes& bytes, size_t at);
// Sets the check field to ~length, after an edit.
void FixCheck(Bytes& archive);

// Records every alert shown while it lives; the previous sink is restored
// on destruction.
class AlertRecorder {
public:
    AlertRecorder();
    ~AlertRecorder();
    AlertRecorder(const AlertRecorder&) = delete;
    AlertRecorder& operator=(const AlertRecorder&) = delete;

    // (caption, text) pairs, in order.
    const std::vector<std::pair<std::string, std::string>>& alerts() const { return alerts_; }
    void Clear() { alerts_.clear(); }

private:
    std::vector<std::pair<std::string, std::string>> alerts_;
};
