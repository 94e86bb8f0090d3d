// Fuzz target: RESFILE::Open, SeekLump and LoadData on arbitrary files.
#include <cstdlib>

#include "fuzz_input.h"
#include "resources/resfile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceAlerts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteScratch(data, size)) return 0;
    RESFILE res;
    if (!res.Open(ScratchPath().c_str())) {
        FUZZ_CHECK(res.SeekLump(0) == 0);
        return 0;
    }
    FUZZ_CHECK(res.fileLength == size);
    FUZZ_CHECK(uint64_t{res.header.dirOffset} + uint64_t{res.header.count} * 28 <= size);
    const uint32_t lumps = res.header.count < 64 ? res.header.count : 64;
    for (uint32_t i = 0; i < lumps; ++i) {
        const RESENTRY& e = res.directory[i];
        void* lump = nullptr;
        if (res.LoadData(static_cast<int>(i), &lump)) {
            FUZZ_CHECK(uint64_t{e.offset} + e.size <= size);
            const auto* bytes = static_cast<const unsigned char*>(lump);
            // The data must be the file's own bytes.
            for (uint32_t k = 0; k < e.size; ++k) FUZZ_CHECK(bytes[k] == data[e.offset + k]);
            delete[] bytes;
        } else {
            FUZZ_CHECK(lump == nullptr);
            FUZZ_CHECK(uint64_t{e.offset} + e.size > size);
        }
        if (res.SeekLump(static_cast<int>(i)) && e.offset < size) {
            FUZZ_CHECK(res.stream.get() == data[e.offset]);
        }
    }
    FUZZ_CHECK(res.SeekLump(static_cast<int>(res.header.count)) == 0);
    FUZZ_CHECK(res.SeekLump(-1) == 0);
    return 0;
}
