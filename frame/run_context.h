// The process-wide run settings.
//
// RunContext is written only by the entry point while it starts up (flags
// from the parameters and the environment, the log file, the schema name);
// from the moment the run driver is called every module only reads it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "frame/fixed_text.h"

struct RunContext {
    int logVerbose;    // Param3 starts with an upper-case D
    int consoleDebug;  // KELBOR_DBG is defined
    int consolidated;  // Param2 is exactly "QUORV"
    std::FILE* logFile;
    FixedText<21> schemaName;  // qualifies every table name
};

extern RunContext runContext;
