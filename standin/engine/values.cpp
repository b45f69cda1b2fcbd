// Value conversions with SQL Server's rules (see values.h).
#include "standin/engine/values.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>

namespace standin {

void fail(int native, const char* sqlState, std::string message) {
    throw SqlError{Diag{sqlState, native, std::move(message)}};
}

namespace {

[[noreturn]] void badDateText() {
    fail(241, "22007", "Conversion failed when converting date and/or time from character string.");
}

[[noreturn]] void dateOutOfRange() {
    fail(242, "22008",
         "The conversion of a varchar data type to a datetime data type resulted in an "
         "out-of-range value.");
}

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr std::int64_t kMsPerDay = 86400000;

std::int64_t toMillis(const DateTime& dt) {
    return daysFromCivil(dt.year, dt.month, dt.day) * kMsPerDay +
           ((dt.hour * 60 + dt.minute) * 60 + dt.second) * 1000LL + dt.millis;
}

// Back from milliseconds since 1970; false when outside SQL Server's range.
bool fromMillis(std::int64_t ms, DateTime& out) {
    std::int64_t days = ms / kMsPerDay;
    std::int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    civilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int>(rest / 3600000);
    out.minute = static_cast<int>(rest / 60000 % 60);
    out.second = static_cast<int>(rest / 1000 % 60);
    out.millis = static_cast<int>(rest % 1000);
    return out.year >= 1753 && out.year <= 9999;
}

// Milliseconds to SQL Server's 1/300 s ticks and back: .999 becomes the next
// second, .995 becomes .997.
DateTime roundTicks(const DateTime& dt) {
    const int ticks = (dt.millis * 300 + 500) / 1000;
    DateTime out = dt;
    out.millis = 0;
    const std::int64_t ms = toMillis(out) + (ticks * 1000 + 150) / 300;
    if (!fromMillis(ms, out)) dateOutOfRange();
    return out;
}

// Reads exactly `count` digits at pos.
bool digits(std::string_view s, size_t& pos, size_t count, int& value) {
    if (pos + count > s.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = s[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

// One or two digits.
bool shortNumber(std::string_view s, size_t& pos, int& value) {
    if (!digits(s, pos, 1, value)) return false;
    int second = 0;
    size_t p = pos;
    if (digits(s, p, 1, second)) {
        value = value * 10 + second;
        pos = p;
    }
    return true;
}

bool parseTime(std::string_view s, size_t& pos, DateTime& dt) {
    if (!shortNumber(s, pos, dt.hour)) return false;
    if (pos >= s.size() || s[pos] != ':') return false;
    ++pos;
    if (!shortNumber(s, pos, dt.minute)) return false;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        if (!shortNumber(s, pos, dt.second)) return false;
        if (pos < s.size() && (s[pos] == '.' || s[pos] == ':')) {
            ++pos;
            size_t start = pos;
            int ms = 0;
            int digit = 0;
            while (pos < s.size() && digits(s, pos, 1, digit)) ms = ms * 10 + digit;
            const size_t n = pos - start;
            if (n == 0 || n > 3) return false;
            for (size_t i = n; i < 3; ++i) ms *= 10;
            dt.millis = ms;
        }
    }
    return true;
}

bool parseDate(std::string_view s, size_t& pos, DateTime& dt) {
    if (!digits(s, pos, 4, dt.year)) return false;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '/' || s[pos] == '.')) {
        const char sep = s[pos++];
        if (!shortNumber(s, pos, dt.month)) return false;
        if (pos >= s.size() || s[pos] != sep) return false;
        ++pos;
        return shortNumber(s, pos, dt.day);
    }
    return digits(s, pos, 2, dt.month) && digits(s, pos, 2, dt.day);
}

}  // namespace

DateTime parseDateTime(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && text[begin] == ' ') ++begin;
    while (end > begin && text[end - 1] == ' ') --end;
    const std::string_view s = text.substr(begin, end - begin);
    DateTime dt;
    size_t pos = 0;
    if (!s.empty()) {
        const bool timeOnly =
            s.find(':') != std::string_view::npos && s.size() >= 3 && (s[1] == ':' || s[2] == ':');
        if (timeOnly) {
            if (!parseTime(s, pos, dt)) badDateText();
        } else {
            if (!parseDate(s, pos, dt)) badDateText();
            if (pos < s.size()) {
                if (s[pos] != ' ' && s[pos] != 'T') badDateText();
                while (pos < s.size() && s[pos] == ' ') ++pos;
                if (pos < s.size() && s[pos] == 'T') ++pos;
                if (!parseTime(s, pos, dt)) badDateText();
            }
        }
        if (pos != s.size()) badDateText();
    }
    if (dt.year < 1753 || dt.month < 1 || dt.month > 12 || dt.day < 1 ||
        dt.day > daysInMonth(dt.year, dt.month) || dt.hour > 23 || dt.minute > 59 ||
        dt.second > 59) {
        dateOutOfRange();
    }
    return roundTicks(dt);
}

std::string canonical(const DateTime& dt) {
    // Written digit by digit: every statement and every datetime value
    // passes through here, and formatted output costs several times more.
    std::string out = "0000-00-00 00:00:00.000";
    const auto put = [&out](size_t end, int value, int width) {
        for (int i = 0; i < width; ++i, value /= 10)
            out[end - i] = static_cast<char>('0' + value % 10);
    };
    put(3, dt.year, 4);
    put(6, dt.month, 2);
    put(9, dt.day, 2);
    put(12, dt.hour, 2);
    put(15, dt.minute, 2);
    put(18, dt.second, 2);
    put(22, dt.millis, 3);
    return out;
}

std::string formatDateTime(const DateTime& dt, int style) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[48];
    const bool century = style >= 100 || style == 20 || style == 21 || style == 23 || style == 0;
    const int year = century ? dt.year : dt.year % 100;
    const int yw = century ? 4 : 2;
    switch (style % 100) {
        case 0: {
            const int h12 = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
            std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", months[dt.month - 1], dt.day,
                          dt.year, h12, dt.minute, dt.hour < 12 ? "AM" : "PM");
            break;
        }
        case 1:
            std::snprintf(buf, sizeof buf, "%02d/%02d/%0*d", dt.month, dt.day, yw, year);
            break;
        case 3:
            std::snprintf(buf, sizeof buf, "%02d/%02d/%0*d", dt.day, dt.month, yw, year);
            break;
        case 4:
            std::snprintf(buf, sizeof buf, "%02d.%02d.%0*d", dt.day, dt.month, yw, year);
            break;
        case 8:
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", dt.hour, dt.minute, dt.second);
            break;
        case 12:
            std::snprintf(buf, sizeof buf, "%0*d%02d%02d", yw, year, dt.month, dt.day);
            break;
        case 14:
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", dt.hour, dt.minute, dt.second,
                          dt.millis);
            break;
        case 20:
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dt.year, dt.month,
                          dt.day, dt.hour, dt.minute, dt.second);
            break;
        case 21:
            return canonical(dt);
        case 23:
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", dt.year, dt.month, dt.day);
            break;
        case 26:
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", dt.year, dt.month,
                          dt.day, dt.hour, dt.minute, dt.second, dt.millis);
            break;
        default:
            buf[0] = 0;
    }
    static const int known[] = {0,  100, 1,  101, 3,  103, 4,  104, 8,  108,
                                12, 112, 14, 114, 20, 120, 21, 121, 23, 126};
    for (const int k : known) {
        if (k == style) return buf;
    }
    fail(281, "42000",
         std::to_string(style) +
             " is not a valid style number when converting from datetime to a character string.");
}

DateTime addToDateTime(const DateTime& dt, const std::string& part, std::int64_t n) {
    DateTime out = dt;
    std::int64_t ms = toMillis(dt);
    if (part == "month" || part == "year") {
        std::int64_t months = static_cast<std::int64_t>(dt.year) * 12 + (dt.month - 1) +
                              (part == "year" ? n * 12 : n);
        if (months < 1753 * 12 || months >= 10000 * 12) {
            fail(517, "22008", "Adding a value to a 'datetime' column caused an overflow.");
        }
        out.year = static_cast<int>(months / 12);
        out.month = static_cast<int>(months % 12) + 1;
        if (out.day > daysInMonth(out.year, out.month)) out.day = daysInMonth(out.year, out.month);
        return out;
    }
    std::int64_t unit = 0;
    if (part == "day") unit = kMsPerDay;
    if (part == "hour") unit = 3600000;
    if (part == "minute") unit = 60000;
    if (part == "second") unit = 1000;
    if (part == "millisecond") unit = 1;
    const std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 4;
    if (n > limit / unit || n < -limit / unit || !fromMillis(ms + n * unit, out)) {
        fail(517, "22008", "Adding a value to a 'datetime' column caused an overflow.");
    }
    return unit == 1 ? roundTicks(out) : out;
}

DateTime dateTimeFromDays(std::int64_t days) {
    DateTime base;
    return addToDateTime(base, "day", days);
}

DateTime currentDateTime(const std::string& serverTime) {
    if (!serverTime.empty()) return parseDateTime(serverTime);
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&secs, &local);
    DateTime dt;
    dt.year = local.tm_year + 1900;
    dt.month = local.tm_mon + 1;
    dt.day = local.tm_mday;
    dt.hour = local.tm_hour;
    dt.minute = local.tm_min;
    dt.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    dt.millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    return roundTicks(dt);
}

std::int64_t parseInt(std::string_view text, const char* type) {
    size_t pos = 0;
    size_t end = text.size();
    while (pos < end && text[pos] == ' ') ++pos;
    while (end > pos && text[end - 1] == ' ') --end;
    bool negative = false;
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const bool smallint = std::string_view(type) == "smallint";
    const std::int64_t max = smallint ? 32767 : 2147483647;
    std::int64_t value = 0;
    bool overflow = false;
    const size_t first = pos;
    for (; pos < end; ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > max + 1) {
            overflow = true;
            value = max + 1;
        }
    }
    if (pos != end || (pos == first && first != end)) {
        fail(245, "22018",
             "Conversion failed when converting the varchar value '" + std::string(text) +
                 "' to data type " + type + ".");
    }
    if (overflow || value > max + (negative ? 1 : 0)) {
        fail(248, "22003",
             "The conversion of the varchar value '" + std::string(text) + "' overflowed an " +
                 type + " column.");
    }
    return negative ? -value : value;
}

std::string fitText(std::string_view text, int n, bool pad) {
    std::string out(text.substr(0, static_cast<size_t>(n)));
    if (pad && out.size() < static_cast<size_t>(n)) out.append(n - out.size(), ' ');
    return out;
}

std::string assignText(std::string_view text, int n, bool pad) {
    if (text.size() > static_cast<size_t>(n)) {
        if (text.find_first_not_of(' ', static_cast<size_t>(n)) != std::string_view::npos) {
            fail(8152, "22001", "String or binary data would be truncated.");
        }
        text = text.substr(0, static_cast<size_t>(n));
    }
    return fitText(text, n, pad);
}

namespace {

// The weight of one Windows-1252 byte. Letters weigh 0x100 and up by their
// base letter, so they sort after digits and punctuation (which weigh their
// byte) and every accented form sits beside its base letter; the accent is
// a second level, looked at only when the base letters of two texts are
// equal throughout. Case has no weight at all. ß, æ and œ expand to two
// base letters (ss, ae, oe) and keep an accent of their own.
struct Weight {
    std::uint16_t first = 0;
    std::uint16_t second = 0;  // the second base letter of an expansion, else 0
    std::uint8_t accent = 0;
};

enum Accent : std::uint8_t {
    kPlain,
    kGrave,
    kAcute,
    kCircumflex,
    kTilde,
    kDiaeresis,
    kRing,
    kCedilla,
    kStroke,
    kCaron,
    kLigature,
    kHook,
    kOrdinal,
};

constexpr std::uint16_t letter(char base) {
    return static_cast<std::uint16_t>(0x100 + (base - 'a'));
}

const std::array<Weight, 256>& weights() {
    static const std::array<Weight, 256> table = [] {
        std::array<Weight, 256> t{};
        for (int b = 0; b < 256; ++b) t[b].first = static_cast<std::uint16_t>(b);
        auto set = [&t](int byte, char base, std::uint8_t accent, char second = 0) {
            t[byte] = Weight{letter(base), second == 0 ? std::uint16_t{0} : letter(second), accent};
        };
        // Each letter's upper and lower case, 0x20 apart in Latin-1.
        auto both = [&set](int upper, char base, std::uint8_t accent, char second = 0) {
            set(upper, base, accent, second);
            set(upper + 0x20, base, accent, second);
        };
        for (char c = 'a'; c <= 'z'; ++c) both(c - 0x20, c, kPlain);
        const struct {
            int upper;
            char base;
            std::uint8_t accent;
        } accented[] = {
            {0xC0, 'a', kGrave},      {0xC1, 'a', kAcute},      {0xC2, 'a', kCircumflex},
            {0xC3, 'a', kTilde},      {0xC4, 'a', kDiaeresis},  {0xC5, 'a', kRing},
            {0xC7, 'c', kCedilla},    {0xC8, 'e', kGrave},      {0xC9, 'e', kAcute},
            {0xCA, 'e', kCircumflex}, {0xCB, 'e', kDiaeresis},  {0xCC, 'i', kGrave},
            {0xCD, 'i', kAcute},      {0xCE, 'i', kCircumflex}, {0xCF, 'i', kDiaeresis},
            {0xD0, 'd', kStroke},     {0xD1, 'n', kTilde},      {0xD2, 'o', kGrave},
            {0xD3, 'o', kAcute},      {0xD4, 'o', kCircumflex}, {0xD5, 'o', kTilde},
            {0xD6, 'o', kDiaeresis},  {0xD8, 'o', kStroke},     {0xD9, 'u', kGrave},
            {0xDA, 'u', kAcute},      {0xDB, 'u', kCircumflex}, {0xDC, 'u', kDiaeresis},
            {0xDD, 'y', kAcute},
        };
        for (const auto& a : accented) both(a.upper, a.base, a.accent);
        both(0xC6, 'a', kLigature, 'e');  // Æ æ
        // Þ þ: a letter of its own, after z.
        t[0xDE] = t[0xFE] = Weight{static_cast<std::uint16_t>(letter('z') + 1), 0, kPlain};
        set(0xDF, 's', kLigature, 's');  // ß
        set(0x8A, 's', kCaron);          // Š
        set(0x9A, 's', kCaron);          // š
        set(0x8E, 'z', kCaron);          // Ž
        set(0x9E, 'z', kCaron);          // ž
        set(0x8C, 'o', kLigature, 'e');  // Œ
        set(0x9C, 'o', kLigature, 'e');  // œ
        set(0x9F, 'y', kDiaeresis);      // Ÿ
        set(0xFF, 'y', kDiaeresis);      // ÿ
        set(0x83, 'f', kHook);           // ƒ
        set(0xAA, 'a', kOrdinal);        // ª
        set(0xBA, 'o', kOrdinal);        // º
        return t;
    }();
    return table;
}

// The base letters (and other first-level weights) of a text in order,
// expansions taken apart.
class FirstLevel {
  public:
    FirstLevel(const unsigned char* text, int n) : text_(text), n_(n) {}
    bool next(std::uint16_t* w) {
        if (pending_ != 0) {
            *w = pending_;
            pending_ = 0;
            return true;
        }
        if (i_ >= n_) return false;
        const Weight& weight = weights()[text_[i_++]];
        *w = weight.first;
        pending_ = weight.second;
        return true;
    }

  private:
    const unsigned char* text_;
    int n_;
    int i_ = 0;
    std::uint16_t pending_ = 0;
};

}  // namespace

int compareText(const char* a, int na, const char* b, int nb) {
    while (na > 0 && a[na - 1] == ' ') --na;
    while (nb > 0 && b[nb - 1] == ' ') --nb;
    const auto* ua = reinterpret_cast<const unsigned char*>(a);
    const auto* ub = reinterpret_cast<const unsigned char*>(b);
    // Plain ASCII apart from case is decided at once, as most keys are.
    const std::array<Weight, 256>& w = weights();
    int i = 0;
    const int n = na < nb ? na : nb;
    while (i < n && w[ua[i]].first == w[ub[i]].first && w[ua[i]].second == 0 &&
           w[ub[i]].second == 0 && w[ua[i]].accent == w[ub[i]].accent)
        ++i;
    if (i == na && i == nb) return 0;
    FirstLevel x(ua + i, na - i), y(ub + i, nb - i);
    for (;;) {
        std::uint16_t wx = 0, wy = 0;
        const bool hx = x.next(&wx);
        const bool hy = y.next(&wy);
        if (!hx || !hy) {
            if (hx != hy) return hx ? 1 : -1;
            break;
        }
        if (wx != wy) return wx < wy ? -1 : 1;
    }
    // The same base letters throughout: the accents decide, in order.
    for (int k = i; k < na && k < nb; ++k) {
        if (w[ua[k]].accent != w[ub[k]].accent) return w[ua[k]].accent < w[ub[k]].accent ? -1 : 1;
    }
    return na < nb ? -1 : (na > nb ? 1 : 0);
}

}  // namespace standin
