// respak: makes, lists and unpacks Mereglass resource archives. Relies on
// RESFILE for reading and on the TGA file decoder to check image lumps
// before they go into an archive.
//
//   respak create ARCHIVE TYPE:PARAM:FILE...
//   respak list ARCHIVE
//   respak extract ARCHIVE LUMP OUTPUT
//
// The archive is written as: the 24-byte header, the directory (28 bytes per
// lump), then the lumps' data in the order given. Header bytes 4-11 and
// entry bytes 16-27 are written as zeros.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "resources/resfile.h"
#include "resources/tga.h"
#include "support/diagnostics.h"

namespace {

constexpr const char* kUsage =
    "usage: respak create ARCHIVE TYPE:PARAM:FILE...\n"
    "       respak list ARCHIVE\n"
    "       respak extract ARCHIVE LUMP OUTPUT\n"
    "\n"
    "create   writes ARCHIVE with one lump per FILE, in the order given. TYPE and\n"
    "         PARAM are unsigned 32-bit numbers; a lump of type 1 is a TGA image\n"
    "         (uncompressed or run-length, 24 or 32 bits) and its PARAM is the\n"
    "         texture's alpha mode: 1 colour key from the first pixel, 2 alpha\n"
    "         from brightness, any other value opaque. Image lumps are checked by\n"
    "         decoding them.\n"
    "list     prints the directory of ARCHIVE.\n"
    "extract  writes the data of lump number LUMP to OUTPUT.\n";

struct Lump {
    uint32_t type = 0;
    uint32_t param = 0;
    std::string path;
    std::vector<unsigned char> data;
};

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseU32(const std::string& text, uint32_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > std::numeric_limits<uint32_t>::max()) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

void PutLE32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) return false;
    if (static_cast<unsigned long long>(size) > std::numeric_limits<uint32_t>::max()) {
        errno = EFBIG;
        return false;
    }
    data->resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(data->data()), size);
    return static_cast<bool>(in);
}

// Decodes an image file with the program's own decoder; its alerts go to
// standard error, prefixed with the file's name.
bool CheckImage(const std::string& path) {
    AlertSink previous = SetAlertSink([&path](const char*, const char* text) {
        std::fprintf(stderr, "respak: %s: %s\n", path.c_str(), text);
    });
    Texture image;
    const int ok = LoadTGA(&image, path.c_str());
    SetAlertSink(previous);
    return ok == 1;
}

// One TYPE:PARAM:FILE argument, its file read (and checked when it is an
// image). 0 when it is read, else the exit status, with a message.
int ReadLump(const std::string& argument, Lump* lump) {
    const size_t a = argument.find(':');
    const size_t b = a == std::string::npos ? a : argument.find(':', a + 1);
    if (b == std::string::npos || !ParseU32(argument.substr(0, a), &lump->type) ||
        !ParseU32(argument.substr(a + 1, b - a - 1), &lump->param) || b + 1 >= argument.size()) {
        std::fprintf(stderr, "respak: '%s' is not TYPE:PARAM:FILE\n", argument.c_str());
        return Usage();
    }
    lump->path = argument.substr(b + 1);
    if (!ReadWholeFile(lump->path, &lump->data)) {
        std::fprintf(stderr, "respak: cannot read %s: %s\n", lump->path.c_str(),
                     errno == EFBIG ? "larger than 4 GiB" : std::strerror(errno));
        return 1;
    }
    if (lump->type == 1 && !CheckImage(lump->path)) return 1;
    return 0;
}

// The archive's bytes: header, directory, the lumps' data. `total` is their
// count, checked to fit in 32 bits.
std::vector<unsigned char> ArchiveBytes(const std::vector<Lump>& lumps, uint64_t total) {
    std::vector<unsigned char> out;
    out.reserve(static_cast<size_t>(total));
    out.insert(out.end(), {'M', 'R', 'K', 'F', 0, 0, 0, 0, 0, 0, 0, 0});
    PutLE32(out, static_cast<uint32_t>(lumps.size()));
    PutLE32(out, ~static_cast<uint32_t>(total));
    PutLE32(out, kResHeaderBytes);
    uint32_t offset = kResHeaderBytes + static_cast<uint32_t>(lumps.size()) * kResEntryBytes;
    for (const Lump& lump : lumps) {
        PutLE32(out, static_cast<uint32_t>(lump.data.size()));
        PutLE32(out, offset);
        PutLE32(out, lump.type);
        PutLE32(out, lump.param);
        out.insert(out.end(), 12, 0);
        offset += static_cast<uint32_t>(lump.data.size());
    }
    for (const Lump& lump : lumps) out.insert(out.end(), lump.data.begin(), lump.data.end());
    return out;
}

// Written beside the target and renamed, so a failed run leaves no
// half-written archive behind. 0, else 1 with a message.
int WriteReplacing(const std::string& archive, const std::vector<unsigned char>& out) {
    const std::string temp = archive + ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(out.data()),
                   static_cast<std::streamsize>(out.size()));
        file.close();
        if (!file) {
            std::fprintf(stderr, "respak: cannot write %s\n", temp.c_str());
            std::remove(temp.c_str());
            return 1;
        }
    }
    if (std::rename(temp.c_str(), archive.c_str()) != 0) {
        std::fprintf(stderr, "respak: cannot write %s: %s\n", archive.c_str(),
                     std::strerror(errno));
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}

int Create(const std::string& archive, int argc, char** argv) {
    std::vector<Lump> lumps;
    for (int i = 0; i < argc; ++i) {
        Lump lump;
        if (const int status = ReadLump(argv[i], &lump)) return status;
        lumps.push_back(std::move(lump));
    }

    // Every offset, and the length in the check field, is 32-bit.
    uint64_t total = kResHeaderBytes + static_cast<uint64_t>(lumps.size()) * kResEntryBytes;
    for (const Lump& lump : lumps) total += lump.data.size();
    if (lumps.size() > std::numeric_limits<uint32_t>::max() ||
        total > std::numeric_limits<uint32_t>::max()) {
        std::fprintf(stderr, "respak: the archive would be larger than 4 GiB\n");
        return 1;
    }
    return WriteReplacing(archive, ArchiveBytes(lumps, total));
}

int OpenArchive(RESFILE& res, const std::string& archive) {
    if (res.Open(archive.c_str())) return 1;
    std::fprintf(stderr, "respak: %s is not a readable resource archive\n", archive.c_str());
    return 0;
}

// A short description of a lump that starts like a TGA image.
std::string Describe(RESFILE& res, int lump) {
    const RESENTRY& e = res.directory[lump];
    unsigned char h[18];
    if (e.size < sizeof h || !res.SeekLump(lump)) return "";
    res.stream.read(reinterpret_cast<char*>(h), sizeof h);
    if (!res.stream || (h[2] != 2 && h[2] != 10)) return "";
    char text[64];
    std::snprintf(text, sizeof text, "TGA %ux%u %u-bit %s", h[12] | h[13] << 8, h[14] | h[15] << 8,
                  h[16], h[2] == 10 ? "run-length" : "uncompressed");
    return text;
}

int List(const std::string& archive) {
    RESFILE res;
    if (!OpenArchive(res, archive)) return 1;
    std::printf("%s: %u lumps, %u bytes\n", archive.c_str(), res.header.count, res.fileLength);
    std::printf("%4s %10s %10s %10s %10s  %s\n", "lump", "type", "param", "size", "offset",
                "content");
    for (uint32_t i = 0; i < res.header.count; ++i) {
        const RESENTRY& e = res.directory[i];
        const std::string what = Describe(res, static_cast<int>(i));
        std::printf("%4u %10u %10u %10u %10u  %s\n", i, e.type, e.param, e.size, e.offset,
                    what.c_str());
    }
    return 0;
}

int Extract(const std::string& archive, const std::string& lumpText, const std::string& output) {
    uint32_t lump = 0;
    if (!ParseU32(lumpText, &lump) ||
        lump > static_cast<uint32_t>(std::numeric_limits<int>::max())) {
        std::fprintf(stderr, "respak: '%s' is not a lump number\n", lumpText.c_str());
        return Usage();
    }
    RESFILE res;
    if (!OpenArchive(res, archive)) return 1;
    if (lump >= res.header.count) {
        std::fprintf(stderr, "respak: %s has no lump %u (it has %u)\n", archive.c_str(), lump,
                     res.header.count);
        return 1;
    }
    void* data = nullptr;
    if (!res.LoadData(static_cast<int>(lump), &data)) {
        std::fprintf(stderr, "respak: lump %u of %s cannot be read\n", lump, archive.c_str());
        return 1;
    }
    const uint32_t size = res.directory[lump].size;
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), size);
    file.close();
    delete[] static_cast<unsigned char*>(data);
    if (!file) {
        std::fprintf(stderr, "respak: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "create" && argc >= 3) return Create(argv[2], argc - 3, argv + 3);
    if (command == "list" && argc == 3) return List(argv[2]);
    if (command == "extract" && argc == 5) return Extract(argv[2], argv[3], argv[4]);
    return Usage();
}
