// The schema name in front of every table name.
//
// The configuration stores the schema followed by one more character (the
// tool writes "qrv." for the schema "qrv"); the run drops that character and
// upper-cases the rest.
#pragma once

#include "frame/fixed_text.h"

// Forms the schema name from the stored SCHEMA value: all characters but
// the last (an empty value stays empty), upper-cased, cut at 20 characters.
void formSchemaName(const char* storedValue, FixedText<21>& schemaName);
