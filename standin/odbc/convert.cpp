// Conversions from the engine's text values to C types, and the ODBC shape of
// each engine column type. Values come as text (integers in decimal,
// datetime as "yyyy-mm-dd hh:mm:ss.fff"), as SQL Server's own drivers would
// convert the server's values for a C buffer.
#include "standin/odbc/convert.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace standin::odbc {

SQLSMALLINT sqlType(const Column& column, bool odbc3) {
    switch (column.type) {
        case ColType::Char:
            return SQL_CHAR;
        case ColType::VarChar:
            return SQL_VARCHAR;
        case ColType::Int:
            return SQL_INTEGER;
        case ColType::SmallInt:
            return SQL_SMALLINT;
        case ColType::Numeric:
            return SQL_NUMERIC;
        case ColType::DateTime:
            return odbc3 ? SQL_TYPE_TIMESTAMP : SQL_TIMESTAMP;
    }
    return SQL_VARCHAR;
}

SQLULEN columnSize(const Column& column) {
    switch (column.type) {
        case ColType::Int:
            return 10;
        case ColType::SmallInt:
            return 5;
        case ColType::Numeric:
            return 19;
        case ColType::DateTime:
            return 23;
        default:
            return static_cast<SQLULEN>(std::max(column.size, 1));
    }
}

SQLSMALLINT decimalDigits(const Column& column) {
    return column.type == ColType::DateTime ? 3 : 0;
}

SQLLEN displaySize(const Column& column) {
    switch (column.type) {
        case ColType::Int:
            return 11;
        case ColType::SmallInt:
            return 6;
        case ColType::Numeric:
            return 21;
        case ColType::DateTime:
            return 23;
        default:
            return static_cast<SQLLEN>(std::max(column.size, 1));
    }
}

const char* typeName(const Column& column) {
    switch (column.type) {
        case ColType::Char:
            return "char";
        case ColType::VarChar:
            return "varchar";
        case ColType::Int:
            return "int";
        case ColType::SmallInt:
            return "smallint";
        case ColType::Numeric:
            return "numeric";
        case ColType::DateTime:
            return "datetime";
    }
    return "varchar";
}

namespace {

SQLSMALLINT defaultCType(const Column& column) {
    switch (column.type) {
        case ColType::Int:
            return SQL_C_SLONG;
        case ColType::SmallInt:
            return SQL_C_SSHORT;
        case ColType::DateTime:
            return SQL_C_TYPE_TIMESTAMP;
        default:
            return SQL_C_CHAR;
    }
}

SQLRETURN castError(Diagnostics& diags) {
    return driverError(diags, "22018", "Invalid character value for cast specification");
}

// UTF-8 text as UTF-16LE bytes. A byte that is not valid UTF-8 stands for
// itself (Latin-1), so single-byte data still arrives readable.
std::string toUtf16(const std::string& text) {
    std::string out;
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
        std::uint32_t cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : b & 0x1F;
        bool valid = extra > 0;
        for (int k = 1; valid && k <= extra; ++k) {
            if (i + k >= text.size())
                valid = false;
            else {
                auto c = static_cast<unsigned char>(text[i + k]);
                if ((c & 0xC0) != 0x80) valid = false;
                cp = (cp << 6) | (c & 0x3F);
            }
        }
        if (!valid) {
            put(b);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

// Delivers bytes (the rest after what SQLGetData gave before) into the
// buffer with a terminator of terminatorSize bytes, whole units of unitSize.
SQLRETURN deliverBytes(Diagnostics& diags, const std::string& bytes, std::size_t terminatorSize,
                       std::size_t unitSize, SQLPOINTER target, SQLLEN bufferLength,
                       SQLLEN* indicator, SQLLEN* delivered) {
    std::size_t start = delivered && *delivered > 0 ? static_cast<std::size_t>(*delivered) : 0;
    if (delivered && *delivered >= 0 && start >= bytes.size()) return SQL_NO_DATA;
    std::size_t remaining = bytes.size() - start;
    if (indicator) *indicator = static_cast<SQLLEN>(remaining);
    std::size_t n = 0;
    auto length = static_cast<std::size_t>(bufferLength);
    if (target && length >= terminatorSize) {
        std::size_t room = (length - terminatorSize) / unitSize * unitSize;
        n = std::min(room, remaining);
        std::memcpy(target, bytes.data() + start, n);
        std::memset(static_cast<char*>(target) + n, 0, terminatorSize);
    }
    if (delivered) *delivered = static_cast<SQLLEN>(start + n);
    if (n == remaining) return SQL_SUCCESS;
    diags.addDriver("01004", "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
}

// Decimal integer text, blanks around it allowed.
bool parseInteger(const std::string& text, long long* out) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const char* begin = text.c_str() + first;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return false;
    while (*end == ' ') ++end;
    if (*end != '\0') return false;
    *out = v;
    return true;
}

template <typename T>
SQLRETURN putInteger(Diagnostics& diags, const std::string& text, SQLPOINTER target,
                     SQLLEN* indicator) {
    long long v = 0;
    if (!parseInteger(text, &v)) return castError(diags);
    if (v < static_cast<long long>(std::numeric_limits<T>::min()) ||
        (v > 0 && static_cast<unsigned long long>(v) > std::numeric_limits<T>::max()))
        return driverError(diags, "22003", "Numeric value out of range");
    if (target) *static_cast<T*>(target) = static_cast<T>(v);
    if (indicator) *indicator = sizeof(T);
    return SQL_SUCCESS;
}

// "yyyy-mm-dd[ hh:mm:ss[.fff]]" into a timestamp.
bool parseTimestamp(const std::string& text, SQL_TIMESTAMP_STRUCT* ts) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char frac[10] = {0};
    int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%9[0-9]", &y, &mo, &d, &h, &mi, &s,
                        frac);
    if (n != 3 && n != 6 && n != 7) return false;
    std::string digits = frac;
    digits.resize(9, '0');
    *ts = SQL_TIMESTAMP_STRUCT{};
    ts->year = static_cast<SQLSMALLINT>(y);
    ts->month = static_cast<SQLUSMALLINT>(mo);
    ts->day = static_cast<SQLUSMALLINT>(d);
    ts->hour = static_cast<SQLUSMALLINT>(h);
    ts->minute = static_cast<SQLUSMALLINT>(mi);
    ts->second = static_cast<SQLUSMALLINT>(s);
    ts->fraction = static_cast<SQLUINTEGER>(std::strtoul(digits.c_str(), nullptr, 10));
    return true;
}

SQLRETURN putDateTime(Diagnostics& diags, SQLSMALLINT cType, const std::string& text,
                      SQLPOINTER target, SQLLEN* indicator) {
    SQL_TIMESTAMP_STRUCT ts{};
    if (!parseTimestamp(text, &ts)) return castError(diags);
    switch (cType) {
        case SQL_C_TYPE_DATE:
        case SQL_C_DATE:
            if (target) *static_cast<SQL_DATE_STRUCT*>(target) = {ts.year, ts.month, ts.day};
            if (indicator) *indicator = sizeof(SQL_DATE_STRUCT);
            return SQL_SUCCESS;
        case SQL_C_TYPE_TIME:
        case SQL_C_TIME:
            if (target) *static_cast<SQL_TIME_STRUCT*>(target) = {ts.hour, ts.minute, ts.second};
            if (indicator) *indicator = sizeof(SQL_TIME_STRUCT);
            return SQL_SUCCESS;
        default:
            if (target) *static_cast<SQL_TIMESTAMP_STRUCT*>(target) = ts;
            if (indicator) *indicator = sizeof(SQL_TIMESTAMP_STRUCT);
            return SQL_SUCCESS;
    }
}

}  // namespace

bool supportedCType(SQLSMALLINT cType) {
    switch (cType) {
        case SQL_C_DEFAULT:
        case SQL_C_CHAR:
        case SQL_C_WCHAR:
        case SQL_C_BINARY:
        case SQL_C_LONG:
        case SQL_C_SLONG:
        case SQL_C_ULONG:
        case SQL_C_SHORT:
        case SQL_C_SSHORT:
        case SQL_C_USHORT:
        case SQL_C_SBIGINT:
        case SQL_C_UBIGINT:
        case SQL_C_DOUBLE:
        case SQL_C_TYPE_TIMESTAMP:
        case SQL_C_TIMESTAMP:
        case SQL_C_TYPE_DATE:
        case SQL_C_DATE:
        case SQL_C_TYPE_TIME:
        case SQL_C_TIME:
            return true;
        default:
            return false;
    }
}

SQLRETURN convertValue(Diagnostics& diags, const Column& column, const Value& value,
                       SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength, SQLLEN* indicator,
                       SQLLEN* delivered) {
    if (cType == SQL_C_DEFAULT) cType = defaultCType(column);
    if (!supportedCType(cType))
        return driverError(diags, "07006", "Restricted data type attribute violation");
    if (bufferLength < 0) return driverError(diags, "HY090", "Invalid string or buffer length");
    bool isText = cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
    // Fixed-size values and NULL are given once; the next SQLGetData finds no more.
    if (delivered && *delivered >= 0 && (!isText || !value)) return SQL_NO_DATA;
    if (!value) {
        if (!indicator)
            return driverError(diags, "22002", "Indicator variable required but not supplied");
        *indicator = SQL_NULL_DATA;
        if (delivered) *delivered = 0;
        return SQL_SUCCESS;
    }
    if (delivered && !isText) *delivered = 0;
    const std::string& text = *value;
    switch (cType) {
        case SQL_C_CHAR:
            return deliverBytes(diags, text, 1, 1, target, bufferLength, indicator, delivered);
        case SQL_C_WCHAR:
            return deliverBytes(diags, toUtf16(text), 2, 2, target, bufferLength, indicator,
                                delivered);
        case SQL_C_BINARY:
            return deliverBytes(diags, text, 0, 1, target, bufferLength, indicator, delivered);
        case SQL_C_LONG:
        case SQL_C_SLONG:
            return putInteger<SQLINTEGER>(diags, text, target, indicator);
        case SQL_C_ULONG:
            return putInteger<SQLUINTEGER>(diags, text, target, indicator);
        case SQL_C_SHORT:
        case SQL_C_SSHORT:
            return putInteger<SQLSMALLINT>(diags, text, target, indicator);
        case SQL_C_USHORT:
            return putInteger<SQLUSMALLINT>(diags, text, target, indicator);
        case SQL_C_SBIGINT:
            return putInteger<SQLBIGINT>(diags, text, target, indicator);
        case SQL_C_UBIGINT:
            return putInteger<SQLUBIGINT>(diags, text, target, indicator);
        case SQL_C_DOUBLE: {
            char* end = nullptr;
            double v = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || !std::isfinite(v)) return castError(diags);
            while (*end == ' ') ++end;
            if (*end != '\0') return castError(diags);
            if (target) *static_cast<SQLDOUBLE*>(target) = v;
            if (indicator) *indicator = sizeof(SQLDOUBLE);
            return SQL_SUCCESS;
        }
        default:
            return putDateTime(diags, cType, text, target, indicator);
    }
}

}  // namespace standin::odbc
