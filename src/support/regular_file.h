// Opening files the program reads whole: only regular files are read, so
// a named pipe, a device or a folder in a file's place is refused at once
// instead of blocking start-up or being read without end. Relies on POSIX
// open, fstat and read.
#pragma once

#include <cstdint>
#include <string>

// Opens `path` for reading (following links) without blocking on it, and
// checks that it is a regular file of at most `maxBytes` bytes. The
// descriptor (close-on-exec, back in blocking mode), with the file's size
// in *size, when it is; -1 otherwise, with a short reason in `error`
// ("not a regular file", "larger than 1048576 bytes", or the system's
// words) and *absent (when given) telling whether nothing exists there.
int OpenRegularFile(const char* path, uint64_t maxBytes, uint64_t* size, std::string* error,
                    bool* absent = nullptr);

// Reads all of a regular file of at most `maxBytes` bytes into *bytes, as
// OpenRegularFile. False, with the reason, when it cannot.
bool ReadRegularFile(const char* path, uint64_t maxBytes, std::string* bytes, std::string* error,
                     bool* absent = nullptr);
