// TGA decoding: uncompressed (type 2) and run-length (type 10) true-colour
// images at 24 or 32 bits per pixel, into a Texture record with the pixels in
// R, G, B (, A) order and the rows in file order. One family reads a named
// file, the other an open stream at its current position (the archive's
// stream after RESFILE::SeekLump). Every failure is reported through
// MessageBox (support/diagnostics.h) and by the result 0; success is 1.
//
// Accepted layout: 12 bytes matching uTGAcompare or cTGAcompare (no image
// ID, no colour map, origin 0), width and height little-endian 16-bit, bits
// per pixel, an image descriptor that is read and ignored, then B, G, R (, A)
// pixels, for type 10 in run-length packets.
//
// The decoders share the global scratch records below and are therefore not
// re-entrant.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>

#include "resources/texture.h"

struct TGAHeader {
    unsigned char Header[12];  // the first 12 bytes of the image
};

struct TGA {
    unsigned char header[6];  // width lo/hi, height lo/hi, bits per pixel, descriptor
    uint32_t bytesPerPixel;
    uint32_t imageSize;  // bytes of decoded pixels
    uint32_t height;
    uint32_t width;
    uint32_t bpp;  // bits per pixel
};

extern TGAHeader tgaheader;
extern TGA tga;
extern const unsigned char uTGAcompare[12];  // uncompressed true colour
extern const unsigned char cTGAcompare[12];  // run-length true colour

// File decoders. LoadTGA opens filename ("rb") and hands over to the
// decoder that the header asks for. The two decoders read the rest of an
// already opened file (filename is not used) and close it on every path.
int LoadTGA(Texture* texture, const char* filename);
int LoadUncompressedTGA(Texture* texture, const char* filename, FILE* file);
int LoadCompressedTGA(Texture* texture, const char* filename, FILE* file);

// Stream decoders: read from the stream's current position and leave it just
// after the last byte consumed; they never close it. After a failed read the
// stream keeps the fail state that the read left.
int LoadTGA2(Texture* texture, std::ifstream* stream);
int LoadUncompressedTGA2(Texture* texture, std::ifstream* stream);
int LoadCompressedTGA2(Texture* texture, std::ifstream* stream);
