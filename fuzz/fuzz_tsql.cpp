// libFuzzer target: the stand-in's T-SQL front (translation and execution).
#include <fstream>
#include <sstream>

#include "fuzz/tsql_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<standin::Engine> engine = [] {
        std::ifstream in(KELBOR_SOURCE_DIR "/sql/schema.sql");
        std::stringstream schema;
        schema << in.rdbuf();
        return fuzz::openEngine(":memory:", schema.str());
    }();
    if (engine) fuzz::tsql(*engine, data, size);
    return 0;
}
