#include "frame/run_context.h"

constinit RunContext runContext{};
