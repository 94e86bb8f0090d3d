// FrameWriter: reads the current OpenGL colour buffer and writes it as an RGB
// PNG file (libpng). Its pixel and row buffers are allocated once, for one
// frame size, so writing a frame allocates nothing of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FrameWriter {
public:
    // Buffers for width × height frames (each 1 ... 16384).
    FrameWriter(int width, int height);

    // Reads the colour buffer of the current context (glReadPixels, RGB)
    // into the frame buffer.
    void ReadFrame();
    // Writes the frame last read to `path`, top row first: into
    // `path`.part, synced and renamed to `path` once complete. False, with
    // a reason in `error`, when the file cannot be written; the partial
    // file is then removed and `path` left as it was. Something at the
    // partial file's name that is not a regular file (a link, a named
    // pipe) is neither followed nor waited on nor removed: it is named in
    // `error`.
    bool WritePng(const std::string& path, std::string* error);

    // The frame last read: RGB bytes, bottom row first.
    const std::vector<uint8_t>& pixels() const { return pixels_; }

private:
    int width_;
    int height_;
    std::vector<uint8_t> pixels_;
    std::vector<uint8_t*> rows_;  // top row first, into pixels_
};
