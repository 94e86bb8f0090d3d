// Fuzz target: the TGA stream decoders, reading from the middle of a file as
// they do inside an archive.
#include <fstream>

#include "fuzz_tga.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceAlerts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kPrefix = 24;
    if (!WriteScratch(data, size, kPrefix)) return 0;
    std::ifstream stream(ScratchPath(), std::ios::binary);
    stream.seekg(kPrefix);
    Texture t;
    const int result = LoadTGA2(&t, &stream);
    CheckDecoded(result, t);
    if (result == 1) {
        // Stopped inside the input, after at least the two headers.
        const std::streamoff at = stream.tellg();
        FUZZ_CHECK(at >= static_cast<std::streamoff>(kPrefix + 18));
        FUZZ_CHECK(at <= static_cast<std::streamoff>(kPrefix + size));
    }
    return 0;
}
