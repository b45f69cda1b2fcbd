// Fixed-size, always NUL-terminated text fields.
//
// Every text field of a record (day records, bookings, message types, login
// values) is a FixedText<N>: N bytes, of which at most N-1 are characters.
// Code writes one through assign/clear/assignFormat, each bounded by N, so
// no value from the database or a file can run past the field. The few
// writers that fill `text` directly bound themselves by the size: ODBC
// calls handed `text` with sizeof, the fetch's column copy, quoteInto,
// the statement patterns' vsnprintf into their buffer, the date and time
// conversions (fromDbText, toDbText) and the in-place upper-casing of the
// schema name. The type is trivially
// copyable and exactly N bytes, so ODBC can bind into `text` with sizeof.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

template <std::size_t N>
struct FixedText {
    static_assert(N >= 1, "a text field needs room for its terminator");
    char text[N];

    static constexpr std::size_t capacity = N;

    // Copies at most N-1 characters of s (a null s counts as empty) and
    // terminates. Returns the number of characters kept.
    std::size_t assign(const char* s) {
        std::size_t i = 0;
        if (s != nullptr) {
            for (; i + 1 < N && s[i] != '\0'; ++i) text[i] = s[i];
        }
        text[i] = '\0';
        return i;
    }

    template <std::size_t M>
    std::size_t assign(const FixedText<M>& other) {
        return assign(other.text);
    }

    // printf into the field, cut at N-1 characters. Returns 0 when the whole
    // text fitted, -1 when it was cut.
    __attribute__((format(printf, 2, 3))) int assignFormat(const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        int n = std::vsnprintf(text, N, fmt, ap);
        va_end(ap);
        if (n < 0) {
            text[0] = '\0';
            return -1;
        }
        return static_cast<std::size_t>(n) < N ? 0 : -1;
    }

    void clear() { std::memset(text, 0, N); }
    bool empty() const { return text[0] == '\0'; }
    std::size_t length() const { return std::strlen(text); }
    const char* c_str() const { return text; }
};

static_assert(sizeof(FixedText<9>) == 9);
static_assert(std::is_trivially_copyable_v<FixedText<9>>);
