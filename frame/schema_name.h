// The schema name in front of every table name.
//
// The configuration stores the schema followed by one more character (the
// tool writes "qrv." for the schema "qrv"); the run drops that character and
// upper-cases the rest.
#pragma once

#include <cstddef>

#include "frame/fixed_text.h"

// The longest schema name: the stored SCHEMA value holds one character more.
constexpr std::size_t kSchemaNameWidth = 20;
using SchemaName = FixedText<kSchemaNameWidth + 1>;

// 1 when name is not empty and holds only ASCII letters, digits and "_",
// the characters a table name can be qualified with unquoted; 0 otherwise.
int isPlainSchemaName(const char* name);

// Forms the schema name from the stored SCHEMA value: all characters but
// the last (an empty value stays empty), upper-cased, cut at 20 characters.
void formSchemaName(const char* storedValue, SchemaName& schemaName);
