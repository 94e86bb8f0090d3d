// RESFILE: reader of the resource archive, a file of numbered lumps with a
// little-endian header and directory (magic "MRKF"). Relies on the standard
// library's file streams and on support/regular_file.h; reads byte by byte,
// so it works on hosts of either byte order.
//
// Archive layout (all fields 32-bit unsigned little-endian, offsets absolute):
//   header, 24 bytes at 0: magic "MRKF", 8 free bytes, count, check (the
//     bitwise NOT of the file's length), dirOffset
//   directory, count entries of 28 bytes at dirOffset: size, offset, type,
//     param, 12 free bytes
#pragma once

#include <cstdint>
#include <fstream>

struct RESHEADER {
    char magic[4];              // "MRKF"
    unsigned char reserved[8];  // not interpreted
    uint32_t count;             // number of lumps
    uint32_t check;             // ~(file length)
    uint32_t dirOffset;         // offset of the directory
};

struct RESENTRY {
    uint32_t size;               // bytes of lump data
    uint32_t offset;             // offset of the lump data
    uint32_t type;               // 1: a TGA image that becomes a texture
    uint32_t param;              // for type 1: the texture's alpha mode
    unsigned char reserved[12];  // not interpreted, kept as read
};

// Bytes of the header and of one directory entry in the file.
inline constexpr uint32_t kResHeaderBytes = 24;
inline constexpr uint32_t kResEntryBytes = 28;

class RESFILE {
public:
    // Length of the open file in bytes; 0 before Open.
    uint32_t fileLength;
    // The archive. The TGA stream decoders read from it after SeekLump.
    std::ifstream stream;
    RESHEADER header;
    // count entries, owned; allocated by Open, released by Close; null when
    // no directory is loaded.
    RESENTRY* directory;

    RESFILE();
    ~RESFILE();
    RESFILE(const RESFILE&) = delete;
    RESFILE& operator=(const RESFILE&) = delete;

    // Opens and checks the archive at path and loads its directory.
    // 1 on success, 0 on failure: no file (or not a regular file: a pipe, a
    // device or a folder is refused without blocking), a short header, a wrong magic, a
    // length that disagrees with the check field (a single byte added or
    // removed), a file longer than 4 GiB, or a directory that does not lie
    // inside the file. Opening an open reader closes it first.
    int Open(const char* path);
    // Releases the directory and closes the file. Safe to call repeatedly.
    void Close();
    // Positions stream at the first byte of the lump's data. 1 if the stream
    // is then good; 0 for a lump outside 0..count-1 or a closed reader (the
    // stream is not touched then).
    int SeekLump(int lump);
    // Reads a whole lump into a buffer from new[] that the caller owns and
    // releases with delete[]. 1 on success, *data set; 0 on failure (lump
    // out of range, data not inside the file, no memory, a failed read),
    // *data untouched.
    int LoadData(int lump, void** data);

private:
    bool Ready(int lump) const;
    void CloseFile();
};
