// The kept fuzz corpora of the configuration reader and the cipher,
// replayed through the same entry functions the fuzz targets call: what
// once reached new code must keep running cleanly (under the sanitizers in
// the sanitizer build).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/entries.h"
#include "tests/support/support.h"

namespace {

namespace fs = std::filesystem;

std::size_t replay(const std::string& target, const auto& body) {
    std::size_t n = 0;
    for (const auto& entry : fs::directory_iterator(kt::sourceDir() + "/fuzz/corpus/" + target)) {
        SCOPED_TRACE(entry.path().string());
        std::string input = kt::readFile(entry.path());
        body(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        ++n;
    }
    return n;
}

TEST(FuzzCorpus, ConfigurationReader) {
    kt::TempDir dir;
    std::size_t n = replay("config", [&](const std::uint8_t* data, std::size_t size) {
        fuzz::configReader(data, size, dir.file("kelbor.ini"));
    });
    EXPECT_GT(n, 3u);
}

TEST(FuzzCorpus, DecipherHexText) {
    EXPECT_GT(replay("decipher", fuzz::decipher), 3u);
}

}  // namespace
