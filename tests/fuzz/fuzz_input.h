// Shared by the fuzz targets: each input is written to a scratch file of
// this process (the readers under test take paths and file streams), and
// alerts are swallowed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/diagnostics.h"

inline const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/mereglass-fuzz-" + std::to_string(getpid());
    }();
    return path;
}

// Writes prefix zero bytes, then the input. False if the file cannot be made.
inline bool WriteScratch(const uint8_t* data, size_t size, size_t prefix = 0) {
    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (size_t i = 0; i < prefix && ok; ++i) ok = std::fputc(0, f) != EOF;
    ok = ok && (size == 0 || std::fwrite(data, size, 1, f) == 1);
    return std::fclose(f) == 0 && ok;
}

inline void SilenceAlerts() {
    SetAlertSink([](const char*, const char*) {});
    std::atexit([] { std::remove(ScratchPath().c_str()); });
}

// Stops the run with a crash report when an invariant does not hold.
#define FUZZ_CHECK(cond)               \
    do {                               \
        if (!(cond)) __builtin_trap(); \
    } while (0)
