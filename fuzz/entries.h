// The bodies of the fuzz targets, shared with the corpus replay in the
// normal test suite: each takes one input and must neither crash nor read
// or write out of bounds, whatever the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "frame/cipher.h"
#include "frame/config_reader.h"

namespace fuzz {

// The configuration reader: the input split at its first line feed into a
// header and a data line for the pair parser, and the whole input as a file
// read for each of the four keys the batch asks for.
inline void configReader(const std::uint8_t* data, std::size_t size, const std::string& path) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* nl = std::memchr(text, '\n', size);
    std::size_t headerLength = nl != nullptr ? static_cast<const char*>(nl) - text + 1 : size;
    ConfigEntry entry{};
    parseConfigPair(text, headerLength, text + headerLength, size - headerLength, entry);

    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    for (const char* key : {"LOGIN", "PASS", "DATABASE", "SCHEMA"}) {
        readConfigValue("", key, 0, path.c_str());
    }
}

// decipherHexText on the input as a text (up to its first zero byte), into
// an output of exactly the documented size; the cipher state must be all
// zero afterwards.
inline void decipher(const std::uint8_t* data, std::size_t size) {
    std::string hex(reinterpret_cast<const char*>(data), size);
    hex.resize(std::strlen(hex.c_str()));
    std::vector<char> out(decipheredSize(hex.size()));
    decipherHexText(hex.c_str(), out.data(), kConfigKey);
    const auto* state = reinterpret_cast<const unsigned char*>(&blowfishState);
    for (std::size_t i = 0; i < sizeof blowfishState; ++i) {
        if (state[i] != 0) std::abort();
    }
}

}  // namespace fuzz
