// libFuzzer target: decipherHexText.
#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::decipher(data, size);
    return 0;
}
