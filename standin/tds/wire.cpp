// TDS framing, bounded reading and the reply tokens.
#include "standin/tds/wire.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace standin::tds {

namespace {

constexpr std::size_t kHeader = 8;
constexpr std::uint8_t kEndOfMessage = 0x01;

// Reads exactly n bytes; false when the peer closes or the channel fails.
bool readFull(Channel& channel, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const long got = channel.receive(p, n);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Windows-1252's 0x80-0x9F; 0 marks the five unassigned bytes.
constexpr std::uint16_t kHigh1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::uint16_t toUnicode(unsigned char c) {
    if (c < 0x80 || c >= 0xA0) return c;
    std::uint16_t u = kHigh1252[c - 0x80];
    return u != 0 ? u : c;  // unassigned bytes pass through as the C1 control
}

char toCp1252(std::uint16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
    for (int i = 0; i < 32; ++i) {
        if (kHigh1252[i] == u) return static_cast<char>(0x80 + i);
    }
    if (u >= 0x80 && u < 0xA0) return static_cast<char>(u);
    return '?';
}

}  // namespace

const std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

ReadResult readMessage(Channel& channel, Message* message) {
    message->data.clear();
    bool first = true;
    for (;;) {
        std::uint8_t header[kHeader];
        if (!readFull(channel, header, kHeader)) return ReadResult::Closed;
        const std::size_t length = (std::size_t{header[2]} << 8) | header[3];
        if (length < kHeader || length > kMaxPacket) return ReadResult::Malformed;
        if (first) message->type = header[0];
        if (header[0] != message->type) return ReadResult::Malformed;
        first = false;
        const std::size_t body = length - kHeader;
        if (message->data.size() + body > kMaxMessage) return ReadResult::Malformed;
        const std::size_t at = message->data.size();
        message->data.resize(at + body);
        if (!readFull(channel, message->data.data() + at, body)) return ReadResult::Closed;
        if (header[1] & kEndOfMessage) return ReadResult::Ok;
    }
}

bool writeMessage(Channel& channel, std::uint8_t type, const std::vector<std::uint8_t>& payload,
                  std::size_t packetSize) {
    const std::size_t chunk = packetSize - kHeader;
    std::size_t at = 0;
    std::uint8_t packetId = 1;
    std::vector<std::uint8_t> packet;
    do {
        const std::size_t n = std::min(chunk, payload.size() - at);
        const bool last = at + n == payload.size();
        const std::size_t length = n + kHeader;
        packet.assign({type, static_cast<std::uint8_t>(last ? kEndOfMessage : 0),
                       static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0,
                       0, packetId++, 0});
        packet.insert(packet.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                      payload.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (!channel.send(packet.data(), packet.size())) return false;
        at += n;
    } while (at < payload.size());
    return true;
}

bool Reader::need(std::size_t n) {
    if (ok_ && n <= size_ - pos_) return true;
    ok_ = false;
    return false;
}

bool Reader::u8(std::uint8_t* v) {
    if (!need(1)) return false;
    *v = data_[pos_++];
    return true;
}

bool Reader::u16(std::uint16_t* v) {
    if (!need(2)) return false;
    *v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
}

bool Reader::u32(std::uint32_t* v) {
    if (!need(4)) return false;
    *v = 0;
    for (int i = 3; i >= 0; --i) *v = (*v << 8) | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return true;
}

bool Reader::u64(std::uint64_t* v) {
    std::uint32_t lo = 0, hi = 0;
    if (!u32(&lo) || !u32(&hi)) return false;
    *v = (std::uint64_t{hi} << 32) | lo;
    return true;
}

bool Reader::bytes(std::size_t n, const std::uint8_t** p) {
    if (!need(n)) return false;
    *p = data_ + pos_;
    pos_ += n;
    return true;
}

bool Reader::skip(std::size_t n) {
    if (!need(n)) return false;
    pos_ += n;
    return true;
}

bool Reader::ucs2(std::size_t chars, std::string* out) {
    const std::uint8_t* p = nullptr;
    if (chars > size_ || !bytes(chars * 2, &p)) return false;
    *out = ucs2ToCp1252(p, chars);
    return true;
}

bool Reader::seek(std::size_t pos) {
    if (!ok_ || pos > size_) return ok_ = false;
    pos_ = pos;
    return true;
}

std::string ucs2ToCp1252(const std::uint8_t* p, std::size_t chars) {
    std::string out(chars, '\0');
    for (std::size_t i = 0; i < chars; ++i)
        out[i] = toCp1252(static_cast<std::uint16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
    return out;
}

void appendUcs2(std::vector<std::uint8_t>& out, std::string_view cp1252) {
    for (char c : cp1252) {
        std::uint16_t u = toUnicode(static_cast<unsigned char>(c));
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

void Writer::u16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Writer::u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Writer::u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
}

void Writer::raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
}

void Writer::bVarchar(std::string_view cp1252) {
    cp1252 = cp1252.substr(0, 255);
    u8(static_cast<std::uint8_t>(cp1252.size()));
    appendUcs2(out_, cp1252);
}

void Writer::usVarchar(std::string_view cp1252) {
    cp1252 = cp1252.substr(0, 65535);
    u16(static_cast<std::uint16_t>(cp1252.size()));
    appendUcs2(out_, cp1252);
}

namespace {

// Reserves a 16-bit length and fills it in when the token is complete.
class LengthScope {
  public:
    LengthScope(std::vector<std::uint8_t>& out) : out_(out), at_(out.size()) {
        out_.push_back(0);
        out_.push_back(0);
    }
    ~LengthScope() {
        const std::size_t n = out_.size() - at_ - 2;
        out_[at_] = static_cast<std::uint8_t>(n);
        out_[at_ + 1] = static_cast<std::uint8_t>(n >> 8);
    }

  private:
    std::vector<std::uint8_t>& out_;
    std::size_t at_;
};

constexpr std::string_view kServerName = "STANDIN";

}  // namespace

void Writer::message(std::int32_t number, std::uint8_t state, std::uint8_t cls,
                     std::string_view text) {
    u8(cls > 10 ? kError : kInfo);
    LengthScope length(out_);
    u32(static_cast<std::uint32_t>(number));
    u8(state);
    u8(cls);
    usVarchar(text);
    bVarchar(kServerName);
    bVarchar("");
    u32(1);  // line number within the batch
}

void Writer::envChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue) {
    u8(kEnvChange);
    LengthScope length(out_);
    u8(type);
    bVarchar(newValue);
    bVarchar(oldValue);
}

void Writer::envChangeCollation() {
    u8(kEnvChange);
    LengthScope length(out_);
    u8(7);  // SQL collation
    u8(sizeof kCollation);
    raw(kCollation, sizeof kCollation);
    u8(0);
}

void Writer::loginAck(std::uint32_t tdsVersion) {
    u8(kLoginAck);
    LengthScope length(out_);
    u8(1);  // interface: SQL
    for (int i = 3; i >= 0; --i) u8(static_cast<std::uint8_t>(tdsVersion >> (8 * i)));
    bVarchar("Microsoft SQL Server");
    const std::uint8_t version[4] = {16, 0, 0x03, 0xE8};  // 16.0.1000
    raw(version, sizeof version);
}

void Writer::done(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd,
                  std::uint64_t count) {
    u8(token);
    u16(status);
    u16(curCmd);
    u64(count);
}

void Writer::returnStatus(std::int32_t status) {
    u8(kReturnStatus);
    u32(static_cast<std::uint32_t>(status));
}

void Writer::returnInt(std::uint16_t ordinal, std::int32_t value) {
    u8(kReturnValue);
    u16(ordinal);
    bVarchar("");
    u8(0x01);  // output parameter
    u32(0);    // user type
    u16(0x0001);
    u8(0x26);  // INTN
    u8(4);
    u8(4);
    u32(static_cast<std::uint32_t>(value));
}

namespace {

constexpr std::uint8_t kIntN = 0x26;
constexpr std::uint8_t kDateTimeN = 0x6F;
constexpr std::uint8_t kNumericN = 0x6C;
constexpr std::uint8_t kNumericLength = 9;  // sign and 8 bytes: precision 19
constexpr std::uint8_t kBigVarChar = 0xA7;
constexpr std::uint8_t kBigChar = 0xAF;

int wireLength(const Column& c) {
    return c.size > 0 && c.size <= 8000 ? c.size : 8000;
}

}  // namespace

void Writer::colMetadata(const std::vector<Column>& columns) {
    u8(kColMetadata);
    if (columns.empty()) {
        u16(0xFFFF);
        return;
    }
    u16(static_cast<std::uint16_t>(columns.size()));
    for (const Column& c : columns) {
        u32(0);                             // user type
        u16(c.nullable ? 0x0001 : 0x0000);  // flags: nullable, read-only
        switch (c.type) {
            case ColType::Int:
                u8(kIntN);
                u8(4);
                break;
            case ColType::SmallInt:
                u8(kIntN);
                u8(2);
                break;
            case ColType::DateTime:
                u8(kDateTimeN);
                u8(8);
                break;
            case ColType::Numeric:
                u8(kNumericN);
                u8(kNumericLength);
                u8(19);  // precision
                u8(0);   // scale
                break;
            case ColType::Char:
            case ColType::VarChar:
                u8(c.type == ColType::Char ? kBigChar : kBigVarChar);
                u16(static_cast<std::uint16_t>(wireLength(c)));
                raw(kCollation, sizeof kCollation);
                break;
        }
        bVarchar(c.name);
    }
}

bool Writer::row(const std::vector<Column>& columns, const Row& row) {
    // A value that does not fit takes back the whole token: a client must
    // never see half a row.
    const std::size_t start = out_.size();
    if (rowValues(columns, row)) return true;
    out_.resize(start);
    return false;
}

bool Writer::rowValues(const std::vector<Column>& columns, const Row& row) {
    u8(kRow);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        const Value& v = i < row.size() ? row[i] : Value{};
        switch (c.type) {
            case ColType::Int:
            case ColType::SmallInt:
            case ColType::Numeric: {
                if (!v) {
                    u8(0);
                    break;
                }
                char* end = nullptr;
                errno = 0;
                const long long n = std::strtoll(v->c_str(), &end, 10);
                if (end == v->c_str() || *end != '\0' || errno != 0) return false;
                if (c.type == ColType::Numeric) {
                    u8(kNumericLength);
                    u8(n < 0 ? 0 : 1);
                    u64(n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n));
                } else if (c.type == ColType::Int) {
                    if (n < INT32_MIN || n > INT32_MAX) return false;
                    u8(4);
                    u32(static_cast<std::uint32_t>(n));
                } else {
                    if (n < INT16_MIN || n > INT16_MAX) return false;
                    u8(2);
                    u16(static_cast<std::uint16_t>(n));
                }
                break;
            }
            case ColType::DateTime: {
                if (!v) {
                    u8(0);
                    break;
                }
                std::int32_t days = 0;
                std::uint32_t ticks = 0;
                if (!encodeDateTime(*v, &days, &ticks)) return false;
                u8(8);
                u32(static_cast<std::uint32_t>(days));
                u32(ticks);
                break;
            }
            case ColType::Char:
            case ColType::VarChar: {
                if (!v) {
                    u16(0xFFFF);
                    break;
                }
                const std::size_t limit = static_cast<std::size_t>(wireLength(c));
                if (v->size() > limit) return false;
                u16(static_cast<std::uint16_t>(v->size()));
                raw(v->data(), v->size());
                break;
            }
        }
    }
    return true;
}

std::uint8_t severityOf(std::int32_t native) {
    switch (native) {
        case 3621:
            return 0;
        case 3701:
            return 11;
        case 1205:
            return 13;
        case 2601:
        case 2627:
        case 18456:
            return 14;
        case 102:
        case 105:
        case 109:
        case 110:
        case 113:
        case 131:
        case 147:
        case 155:
        case 156:
        case 157:
        case 174:
        case 195:
        case 4145:
            return 15;
        default:
            return native == 0 ? 0 : 16;
    }
}

namespace {

// Days from 1900-01-01 to y-m-d in the proleptic Gregorian calendar.
std::int32_t daysSince1900(int y, int m, int d) {
    // Days from civil, shifted so March starts the year.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int fromEpoch1970 = era * 146097 + doe - 719468;
    return fromEpoch1970 + 25567;  // 1900-01-01 is 25567 days before 1970-01-01
}

bool digits(std::string_view t, std::size_t at, std::size_t n, int* out) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    *out = v;
    return true;
}

}  // namespace

bool encodeDateTime(std::string_view t, std::int32_t* days, std::uint32_t* ticks) {
    int y, mo, d, h, mi, s, ms;
    if (t.size() != 23 || !digits(t, 0, 4, &y) || !digits(t, 5, 2, &mo) || !digits(t, 8, 2, &d) ||
        !digits(t, 11, 2, &h) || !digits(t, 14, 2, &mi) || !digits(t, 17, 2, &s) ||
        !digits(t, 20, 3, &ms))
        return false;
    *days = daysSince1900(y, mo, d);
    // .000, .003, .007 are whole three-hundredths; round to the nearest.
    *ticks = static_cast<std::uint32_t>(((h * 3600 + mi * 60 + s) * 1000 + ms) * 3 + 5) / 10;
    return true;
}

}  // namespace standin::tds
