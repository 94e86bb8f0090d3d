// RESFILE: opening and checking the archive, seeking to and reading lumps.
#include "resources/resfile.h"

#include <unistd.h>

#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "support/regular_file.h"

namespace {

uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool StreamFailed(const std::ifstream& s) { return s.fail() || s.bad(); }

// Opens `stream` on `path` if it is a regular file: a pipe would block the
// open, a device would read without end. The stream opens the very file that
// was checked, through its descriptor, so nothing can be swapped in between.
bool OpenRegularStream(std::ifstream& stream, const char* path) {
    std::string reason;
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, std::numeric_limits<uint64_t>::max(), &size, &reason);
    if (fd < 0) return false;
    stream.open("/proc/self/fd/" + std::to_string(fd), std::ios::in | std::ios::binary);
    if (StreamFailed(stream)) {
        // Without /proc the path itself, checked a moment ago.
        stream.clear();
        stream.open(path, std::ios::in | std::ios::binary);
    }
    close(fd);
    return !StreamFailed(stream);
}

// The stream's length, the stream back at its start. Offsets and the check
// field are 32-bit: a longer file cannot be an archive, and its length would
// only be compared modulo 2^32. False for that, or a failed seek.
bool StreamLength(std::ifstream& stream, uint32_t* length) {
    stream.seekg(0, std::ios::end);
    const std::streamoff end = stream.tellg();
    stream.seekg(0, std::ios::beg);
    if (StreamFailed(stream) || end < 0 ||
        static_cast<unsigned long long>(end) > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    *length = static_cast<uint32_t>(end);
    return true;
}

RESHEADER DecodeHeader(const unsigned char* raw) {
    RESHEADER header{};
    std::memcpy(header.magic, raw, 4);
    std::memcpy(header.reserved, raw + 4, 8);
    header.count = ReadLE32(raw + 12);
    header.check = ReadLE32(raw + 16);
    header.dirOffset = ReadLE32(raw + 20);
    return header;
}

// The magic and the check field agree with the file, and the directory lies
// inside it. Checking before allocating keeps a damaged count from asking
// for gigabytes; 64-bit sums cannot overflow.
bool HeaderFits(const RESHEADER& header, uint32_t fileLength) {
    if (std::memcmp(header.magic, "MRKF", 4) != 0 ||
        header.check != static_cast<uint32_t>(~fileLength)) {
        return false;
    }
    const uint64_t dirBytes = static_cast<uint64_t>(header.count) * kResEntryBytes;
    // The array's size must also survive the trip through size_t (it can
    // fail to on a host with a 32-bit size_t).
    const uint64_t arrayBytes = static_cast<uint64_t>(header.count) * sizeof(RESENTRY);
    return static_cast<uint64_t>(header.dirOffset) + dirBytes <= fileLength &&
           static_cast<uint64_t>(static_cast<size_t>(arrayBytes)) == arrayBytes;
}

// Reads the header's count of entries from its directory into `directory`.
bool ReadDirectory(std::ifstream& stream, const RESHEADER& header, RESENTRY* directory) {
    stream.seekg(header.dirOffset, std::ios::beg);
    if (StreamFailed(stream)) return false;
    for (uint32_t i = 0; i < header.count; ++i) {
        unsigned char e[kResEntryBytes];
        stream.read(reinterpret_cast<char*>(e), sizeof e);
        if (StreamFailed(stream)) return false;
        RESENTRY& entry = directory[i];
        entry.size = ReadLE32(e);
        entry.offset = ReadLE32(e + 4);
        entry.type = ReadLE32(e + 8);
        entry.param = ReadLE32(e + 12);
        std::memcpy(entry.reserved, e + 16, sizeof entry.reserved);
    }
    return true;
}

}  // namespace

RESFILE::RESFILE() : fileLength(0), header{}, directory(nullptr) {}

RESFILE::~RESFILE() { Close(); }

void RESFILE::CloseFile() {
    if (!stream.is_open()) return;
    stream.close();  // sets the fail state itself if closing fails
}

void RESFILE::Close() {
    delete[] directory;
    directory = nullptr;
    CloseFile();
}

int RESFILE::Open(const char* path) {
    Close();
    fileLength = 0;
    header = RESHEADER{};
    stream.clear();
    if (!path || !OpenRegularStream(stream, path)) return 0;
    if (!StreamLength(stream, &fileLength)) {
        CloseFile();
        return 0;
    }

    unsigned char raw[kResHeaderBytes];
    stream.read(reinterpret_cast<char*>(raw), sizeof raw);
    if (StreamFailed(stream)) return 0;  // the file stays open until Close
    header = DecodeHeader(raw);
    if (!HeaderFits(header, fileLength)) {
        CloseFile();
        return 0;
    }
    directory = new (std::nothrow) RESENTRY[header.count];
    if (!directory || !ReadDirectory(stream, header, directory)) {
        CloseFile();  // a directory read in part stays until Close
        return 0;
    }
    return 1;
}

bool RESFILE::Ready(int lump) const {
    return stream.is_open() && directory && lump >= 0 && static_cast<uint32_t>(lump) < header.count;
}

int RESFILE::SeekLump(int lump) {
    if (!Ready(lump)) return 0;
    // A failed read of an earlier lump must not poison this seek.
    stream.clear();
    stream.seekg(directory[lump].offset, std::ios::beg);
    return StreamFailed(stream) ? 0 : 1;
}

int RESFILE::LoadData(int lump, void** data) {
    if (!Ready(lump) || !data) return 0;
    const RESENTRY& entry = directory[lump];
    stream.clear();
    stream.seekg(entry.offset, std::ios::beg);
    if (StreamFailed(stream)) return 0;
    // Data that runs past the end of the file cannot be read whole; refuse it
    // before allocating.
    if (static_cast<uint64_t>(entry.offset) + entry.size > fileLength) return 0;
    unsigned char* buffer = new (std::nothrow) unsigned char[entry.size];
    if (!buffer) return 0;
    stream.read(reinterpret_cast<char*>(buffer), entry.size);
    if (StreamFailed(stream)) {
        delete[] buffer;
        return 0;
    }
    *data = buffer;
    return 1;
}
