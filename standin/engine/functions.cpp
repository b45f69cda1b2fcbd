// SQL functions and collation of the translated statements (see functions.h).
#include "standin/engine/functions.h"

#include <cstdint>
#include <cstring>

#include "standin/engine/values.h"

namespace standin {

std::string valText(const Val& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return "";
}

namespace {

bool isNull(const Val& v) {
    return std::holds_alternative<std::monostate>(v);
}

std::int64_t valInt(const Val& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
    return parseInt(valText(v));
}

DateTime valDateTime(const Val& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return dateTimeFromDays(*i);
    return parseDateTime(valText(v));
}

// ts_dt(x [, style]): text or day number to the stored datetime form.
Val toDateTime(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    return canonical(valDateTime(a[0]));
}

// ts_dtstr(dt, style): a datetime in a CONVERT style.
Val dateTimeText(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    return formatDateTime(valDateTime(a[0]), static_cast<int>(valInt(a[1])));
}

// ts_fit(text, n, pad): CONVERT to char(n) or varchar(n).
Val fit(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    return fitText(valText(a[0]), static_cast<int>(valInt(a[1])), valInt(a[2]) != 0);
}

// ts_assign(text, n, pad): a value stored into a char(n) or varchar(n) column.
Val assign(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    return assignText(valText(a[0]), static_cast<int>(valInt(a[1])), valInt(a[2]) != 0);
}

// ts_int(x, type): text to int or smallint.
Val toInt(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    if (const auto* i = std::get_if<std::int64_t>(&a[0])) return *i;
    const std::string type = valText(a[1]);
    return parseInt(valText(a[0]), type.c_str());
}

// ts_range(n, type, error): n as a value of int or smallint. Beyond the
// type's range: 8115 as for an expression, or 220 naming the value as for an
// int put into a smallint.
Val inRange(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    const std::int64_t n = valInt(a[0]);
    const std::string type = valText(a[1]);
    const std::int64_t max = type == "smallint" ? INT16_MAX : INT32_MAX;
    if (n >= -max - 1 && n <= max) return n;
    if (valInt(a[2]) == 220) {
        fail(220, "22003",
             "Arithmetic overflow error for data type " + type + ", value = " + std::to_string(n) +
                 ".");
    }
    fail(8115, "22003",
         "Arithmetic overflow error converting expression to data type " + type + ".");
}

// ts_str(x): an int as text.
Val toText(const std::vector<Val>& a) {
    if (isNull(a[0])) return {};
    return valText(a[0]);
}

// ts_dateadd(part, n, dt).
Val dateAdd(const std::vector<Val>& a) {
    if (isNull(a[1]) || isNull(a[2])) return {};
    return canonical(addToDateTime(valDateTime(a[2]), valText(a[0]), valInt(a[1])));
}

std::int64_t divisor(const Val& v) {
    const std::int64_t d = valInt(v);
    if (d == 0) fail(8134, "22012", "Divide by zero error encountered.");
    return d;
}

Val divide(const std::vector<Val>& a) {
    if (isNull(a[0]) || isNull(a[1])) return {};
    const std::int64_t d = divisor(a[1]);
    return valInt(a[0]) / d;
}

Val modulo(const std::vector<Val>& a) {
    if (isNull(a[0]) || isNull(a[1])) return {};
    const std::int64_t d = divisor(a[1]);
    return valInt(a[0]) % d;
}

struct FunctionDef {
    const char* name;
    int args;
    FunctionImpl impl;
};

const FunctionDef kFunctions[] = {
    {"ts_dt", 2, toDateTime},   {"ts_dtstr", 2, dateTimeText}, {"ts_fit", 3, fit},
    {"ts_assign", 3, assign},   {"ts_int", 2, toInt},          {"ts_str", 1, toText},
    {"ts_dateadd", 3, dateAdd}, {"ts_div", 2, divide},         {"ts_mod", 2, modulo},
    {"ts_range", 3, inRange},
};

void callFromSqlite(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const auto impl = reinterpret_cast<FunctionImpl>(sqlite3_user_data(ctx));
    std::vector<Val> args(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        switch (sqlite3_value_type(argv[i])) {
            case SQLITE_NULL:
                break;
            case SQLITE_INTEGER:
                args[i] = static_cast<std::int64_t>(sqlite3_value_int64(argv[i]));
                break;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
                args[i] = std::string(text, static_cast<size_t>(sqlite3_value_bytes(argv[i])));
            }
        }
    }
    try {
        const Val result = impl(args);
        if (const auto* i = std::get_if<std::int64_t>(&result)) {
            sqlite3_result_int64(ctx, *i);
        } else if (const auto* s = std::get_if<std::string>(&result)) {
            sqlite3_result_text(ctx, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_result_null(ctx);
        }
    } catch (const SqlError& e) {
        const std::string text = encodeError(e.diag.native, e.diag.sqlState, e.diag.message);
        sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
    }
}

// Row-by-row paths of the two functions every CONVERT of a datetime column
// to text runs through, once per row and column: the batch's cursors and
// counts call them for each booking and day a person has. A stored datetime
// is always the canonical 'yyyy-mm-dd hh:mm:ss.fff', so the common styles
// are slices of it; anything else takes the general path above.
bool isCanonicalDateTime(const unsigned char* t, int n) {
    if (n != 23) return false;
    static const char shape[] = "dddd-dd-dd dd:dd:dd.ddd";
    for (int i = 0; i < 23; ++i) {
        const bool digit = t[i] >= '0' && t[i] <= '9';
        if (shape[i] == 'd' ? !digit : t[i] != static_cast<unsigned char>(shape[i])) return false;
    }
    return true;
}

// Writes the style's text of canonical t into out; returns its length, or
// -1 for a style without a slice.
int sliceDateTime(const unsigned char* t, int style, char* out) {
    const auto copy = [&](int at, int from, int count) {
        for (int i = 0; i < count; ++i) out[at + i] = static_cast<char>(t[from + i]);
    };
    switch (style) {
        case 112:  // yyyymmdd
            copy(0, 0, 4);
            copy(4, 5, 2);
            copy(6, 8, 2);
            return 8;
        case 114:  // hh:mi:ss:mmm
            copy(0, 11, 8);
            out[8] = ':';
            copy(9, 20, 3);
            return 12;
        case 8:
        case 108:  // hh:mi:ss
            copy(0, 11, 8);
            return 8;
        case 20:
        case 120:  // yyyy-mm-dd hh:mi:ss
            copy(0, 0, 19);
            return 19;
        case 21:
        case 121:
            copy(0, 0, 23);
            return 23;
        case 23:  // yyyy-mm-dd
            copy(0, 0, 10);
            return 10;
        default:
            return -1;
    }
}

void dateTimeTextFromSqlite(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_TEXT &&
        sqlite3_value_type(argv[1]) == SQLITE_INTEGER) {
        const unsigned char* t = sqlite3_value_text(argv[0]);
        const int n = sqlite3_value_bytes(argv[0]);
        char out[32];
        const int length =
            isCanonicalDateTime(t, n) ? sliceDateTime(t, sqlite3_value_int(argv[1]), out) : -1;
        if (length >= 0) {
            sqlite3_result_text(ctx, out, length, SQLITE_TRANSIENT);
            return;
        }
    }
    callFromSqlite(ctx, argc, argv);
}

void fitFromSqlite(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const int type = sqlite3_value_type(argv[0]);
    const int n = sqlite3_value_int(argv[1]);
    if (type == SQLITE_TEXT && n >= 0 && n <= 64) {
        const char* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        const int length = sqlite3_value_bytes(argv[0]);
        const bool pad = sqlite3_value_int(argv[2]) != 0;
        char out[64];
        const int kept = length < n ? length : n;
        std::memcpy(out, t, static_cast<size_t>(kept));
        const int total = pad ? n : kept;
        std::memset(out + kept, ' ', static_cast<size_t>(total - kept));
        sqlite3_result_text(ctx, out, total, SQLITE_TRANSIENT);
        return;
    }
    callFromSqlite(ctx, argc, argv);
}

int collate(void*, int na, const void* a, int nb, const void* b) {
    return compareText(static_cast<const char*>(a), na, static_cast<const char*>(b), nb);
}

}  // namespace

FunctionImpl findFunction(const std::string& name) {
    for (const FunctionDef& f : kFunctions) {
        if (name == f.name) return f.impl;
    }
    return nullptr;
}

std::string encodeError(int native, const std::string& sqlState, const std::string& message) {
    // Appended piece by piece: GCC 12 takes "literal" + std::string for an
    // overlapping copy (-Wrestrict) when optimising.
    std::string text(1, '\x01');
    text += std::to_string(native);
    text += '|';
    text += sqlState;
    text += '|';
    text += message;
    return text;
}

bool decodeError(const std::string& text, int& native, std::string& sqlState,
                 std::string& message) {
    if (text.empty() || text[0] != '\x01') return false;
    const size_t bar1 = text.find('|');
    const size_t bar2 = text.find('|', bar1 + 1);
    if (bar1 == std::string::npos || bar2 == std::string::npos) return false;
    native = std::atoi(text.c_str() + 1);
    sqlState = text.substr(bar1 + 1, bar2 - bar1 - 1);
    message = text.substr(bar2 + 1);
    return true;
}

int registerFunctions(sqlite3* db) {
    for (const FunctionDef& f : kFunctions) {
        auto entry = callFromSqlite;
        if (f.impl == dateTimeText) entry = dateTimeTextFromSqlite;
        if (f.impl == fit) entry = fitFromSqlite;
        const int rc = sqlite3_create_function_v2(
            db, f.name, f.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
            reinterpret_cast<void*>(f.impl), entry, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) return rc;
    }
    return sqlite3_create_collation_v2(db, "TSQL", SQLITE_UTF8, nullptr, collate, nullptr);
}

}  // namespace standin
