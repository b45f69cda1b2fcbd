// The process-wide run settings.
//
// RunContext is written while a program starts up: by the run's start that
// the batch and the catch-up share (flags from the parameters and the
// environment, the schema name), by the log module as it opens and closes
// the log file, and by kelbor-config check and kelbor-nightly, which set
// the schema name before their own statements. From the moment the run
// driver (or a tool's first statement) is called every module only reads
// it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "frame/fixed_text.h"
#include "frame/schema_name.h"

struct RunContext {
    int logVerbose;    // Param3 starts with an upper-case D
    int consoleDebug;  // KELBOR_DBG is defined
    int consolidated;  // Param2 is exactly "QUORV"
    std::FILE* logFile;
    SchemaName schemaName;  // qualifies every table name
};

extern RunContext runContext;
