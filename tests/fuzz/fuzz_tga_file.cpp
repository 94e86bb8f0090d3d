// Fuzz target: the TGA file decoders on arbitrary files.
#include "fuzz_tga.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceAlerts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteScratch(data, size)) return 0;
    Texture t;
    CheckDecoded(LoadTGA(&t, ScratchPath().c_str()), t);
    return 0;
}
