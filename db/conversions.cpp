// Date and time text conversions between the database's forms and the
// compact forms of the records. No state.
#include "db/conversions.h"

#include <cstring>

void storeText(char* field, std::size_t fieldSize, const char* value) {
    if (fieldSize == 0) return;
    std::size_t n = 0;
    for (; n + 1 < fieldSize && value[n] != '\0'; ++n) field[n] = value[n];
    std::memset(field + n, 0, fieldSize - n);
}

void fromDbText(const char* src, char* dst, std::size_t dstSize, const char* code) {
    char work[30] = {};
    char result[30] = {};
    for (std::size_t i = 0; i + 1 < sizeof work && src[i] != '\0'; ++i) work[i] = src[i];
    if (std::strcmp(code, "Z") == 0) {
        // hh:mm:ss -> hhmmss; the separators are skipped whatever they hold.
        result[0] = work[0];
        result[1] = work[1];
        result[2] = work[3];
        result[3] = work[4];
        for (std::size_t i = 0; i < 4; ++i) result[4 + i] = work[6 + i];
    }
    // result is built before dst is written, so src may be dst.
    storeText(dst, dstSize, result);
}

namespace {

// The character at position pos of text, or NUL when text ends before it,
// so a short input yields a short output instead of a read past its end.
char charAt(const char* text, std::size_t pos) {
    for (std::size_t i = 0; i < pos; ++i) {
        if (text[i] == '\0') return '\0';
    }
    return text[pos];
}

}  // namespace

int toDbText(const char* date, const char* time, char* out, std::size_t outSize, const char* code) {
    char work[20] = {};
    std::size_t at = 0;
    bool withDate = std::strcmp(code, "T") == 0;
    if (!withDate && std::strcmp(code, "Z") != 0) return 1;
    if (withDate) {
        // yyyymmdd -> yyyy-mm-dd, then the blank before the time.
        for (std::size_t i = 0; i < 8; ++i) {
            if (i == 4 || i == 6) work[at++] = '-';
            work[at++] = charAt(date, i);
        }
        work[at++] = ' ';
    }
    // hhmmss -> hh:mm:ss
    for (std::size_t i = 0; i < 6; ++i) {
        if (i == 2 || i == 4) work[at++] = ':';
        work[at++] = charAt(time, i);
    }
    storeText(out, outSize, work);
    return 0;
}

char* trimTrailingBlanks(char* text) {
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\n')) --n;
    text[n] = '\0';
    return text;
}
