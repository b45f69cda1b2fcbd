// libFuzzer target: the configuration reader.
#include <unistd.h>

#include <string>

#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/kelbor-fuzz-config-" + std::to_string(getpid());
    fuzz::configReader(data, size, path);
    return 0;
}
