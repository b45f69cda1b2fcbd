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

void formSchemaName(const char* storedValue, FixedText<21>& schemaName) {
    std::size_t keep = std::strlen(storedValue);
    if (keep > 0) --keep;
    if (keep > FixedText<21>::capacity - 1) keep = FixedText<21>::capacity - 1;
    schemaName.assignFormat("%.*s", static_cast<int>(keep), storedValue);
    upperCaseInPlace(schemaName.text);
}
