// Schema name forming; no state.
#include "frame/schema_name.h"

#include <cstring>

namespace {

// Replaces the ASCII letters "a" to "z" of text by their upper-case forms,
// from the last character to the first; all other bytes stay. Returns text.
char* upperCaseInPlace(char* text) {
    for (std::size_t i = std::strlen(text); i > 0; --i) {
        char& ch = text[i - 1];
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return text;
}

}  // namespace

int isPlainSchemaName(const char* name) {
    if (*name == '\0') return 0;
    for (const char* p = name; *p != '\0'; ++p) {
        char ch = *p;
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                     (ch >= '0' && ch <= '9') || ch == '_';
        if (!plain) return 0;
    }
    return 1;
}

void formSchemaName(const char* storedValue, SchemaName& schemaName) {
    std::size_t keep = std::strlen(storedValue);
    if (keep > 0) --keep;
    if (keep > kSchemaNameWidth) keep = kSchemaNameWidth;
    schemaName.assignFormat("%.*s", static_cast<int>(keep), storedValue);
    upperCaseInPlace(schemaName.text);
}
