// The body of the T-SQL fuzz target, shared with the corpus replay: one
// statement through the stand-in engine on a database holding the
// project's tables, inside a transaction that is rolled back, so every
// input meets the same database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "standin/engine.h"

namespace fuzz {

// An engine on path with sql/schema.sql (schema QRV) loaded from schemaText.
inline std::unique_ptr<standin::Engine> openEngine(const std::string& path,
                                                   const std::string& schemaText) {
    standin::Diag error;
    auto engine = standin::Engine::open({path, "2026-03-10 02:30:00"}, &error);
    if (!engine) return nullptr;
    std::size_t pos = 0;
    while (pos < schemaText.size()) {
        std::size_t end = schemaText.find('\n', pos);
        if (end == std::string::npos) end = schemaText.size();
        std::string line = schemaText.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || line.rfind("--", 0) == 0) continue;
        for (std::size_t at; (at = line.find("$(SCHEMA)")) != std::string::npos;)
            line.replace(at, 9, "QRV");
        engine->execute(line);
    }
    engine->setAutocommit(false);
    return engine;
}

inline void tsql(standin::Engine& engine, const std::uint8_t* data, std::size_t size) {
    engine.execute(std::string_view(reinterpret_cast<const char*>(data), size));
    engine.endTransaction(false);
}

}  // namespace fuzz
