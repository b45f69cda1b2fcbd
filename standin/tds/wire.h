// The TDS wire format as the front needs it: bounded reading of client
// messages from a socket, a little-endian reader that never reads past its
// buffer, the token writers of a server reply, and the text conversions
// between the clients' UCS-2 and the engine's single-byte Windows-1252.
//
// Nothing here keeps state beyond the objects a session owns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "standin/engine.h"
#include "standin/tds/channel.h"

namespace standin::tds {

// Packet types of the client's requests and the server's one reply type.
enum PacketType : std::uint8_t {
    kSqlBatch = 1,
    kRpc = 3,
    kReply = 4,
    kAttention = 6,
    kTransactionManager = 14,
    kLogin7 = 16,
    kPrelogin = 18,
};

// The largest packet a client may send: the largest packet size TDS lets
// a login negotiate. A longer length field is a malformed stream.
constexpr std::size_t kMaxPacket = 32767;
// The largest request (all packets of one message); a client sending more is
// cut off. The batch's statements are a few hundred bytes.
constexpr std::size_t kMaxMessage = 4 * 1024 * 1024;

struct Message {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> data;  // the packets' payloads joined
};

enum class ReadResult { Ok, Closed, Malformed };

// Reads one whole message (packets up to the one marked end-of-message) from
// the channel. Closed: the peer closed or the socket failed; Malformed: a length out
// of bounds, a message over kMaxMessage, or packets of mixed types.
ReadResult readMessage(Channel& channel, Message* message);

// Sends payload as a reply message in packets of packetSize bytes. Returns
// false when the socket fails.
bool writeMessage(Channel& channel, std::uint8_t type, const std::vector<std::uint8_t>& payload,
                  std::size_t packetSize);

// Little-endian reading with bounds: every getter fails (returns false and
// marks the reader bad) instead of reading past the end.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit Reader(const std::vector<std::uint8_t>& v) : Reader(v.data(), v.size()) {}

    bool u8(std::uint8_t* v);
    bool u16(std::uint16_t* v);
    bool u32(std::uint32_t* v);
    bool u64(std::uint64_t* v);
    bool bytes(std::size_t n, const std::uint8_t** p);
    bool skip(std::size_t n);
    // n UCS-2 characters, converted to Windows-1252.
    bool ucs2(std::size_t chars, std::string* out);

    std::size_t pos() const { return pos_; }
    std::size_t left() const { return size_ - pos_; }
    bool seek(std::size_t pos);
    bool ok() const { return ok_; }

  private:
    bool need(std::size_t n);
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Windows-1252 bytes to UCS-2 little-endian and back; a character 1252 cannot
// hold becomes '?', as a server converting to a code page does.
std::string ucs2ToCp1252(const std::uint8_t* p, std::size_t chars);
void appendUcs2(std::vector<std::uint8_t>& out, std::string_view cp1252);

// Token codes of the reply stream.
enum Token : std::uint8_t {
    kReturnStatus = 0x79,
    kColMetadata = 0x81,
    kError = 0xAA,
    kInfo = 0xAB,
    kReturnValue = 0xAC,
    kLoginAck = 0xAD,
    kRow = 0xD1,
    kEnvChange = 0xE3,
    kDone = 0xFD,
    kDoneProc = 0xFE,
    kDoneInProc = 0xFF,
};

// DONE status bits.
enum DoneStatus : std::uint16_t {
    kDoneFinal = 0x00,
    kDoneMore = 0x01,
    kDoneError = 0x02,
    kDoneCount = 0x10,
    kDoneAttn = 0x20,
};

// Builds a reply: tokens appended in order, sent whole by writeMessage.
class Writer {
  public:
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void u64(std::uint64_t v);
    void raw(const void* p, std::size_t n);
    // B_VARCHAR: a character count byte and UCS-2 text (cut at 255).
    void bVarchar(std::string_view cp1252);
    // US_VARCHAR: a 16-bit character count and UCS-2 text.
    void usVarchar(std::string_view cp1252);

    // ERROR for class > 10, INFO otherwise, from our server's name.
    void message(std::int32_t number, std::uint8_t state, std::uint8_t cls, std::string_view text);
    void envChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
    void envChangeCollation();
    void loginAck(std::uint32_t tdsVersion);
    void done(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t count);
    void returnStatus(std::int32_t status);
    // RETURNVALUE of an int output parameter.
    void returnInt(std::uint16_t ordinal, std::int32_t value);
    // COLMETADATA for columns; with none, the "no metadata" marker.
    void colMetadata(const std::vector<Column>& columns);
    // ROW; false, with nothing written, when a value does not fit its
    // column's wire type.
    bool row(const std::vector<Column>& columns, const Row& row);

    const std::vector<std::uint8_t>& bytes() const { return out_; }
    void clear() { out_.clear(); }

  private:
    bool rowValues(const std::vector<Column>& columns, const Row& row);
    std::vector<std::uint8_t> out_;
};

// The 5-byte collation every character column and value carries: Latin-1
// general, case-insensitive, accent-sensitive, code page 1252.
extern const std::uint8_t kCollation[5];

// The class SQL Server gives each message number the engine raises.
std::uint8_t severityOf(std::int32_t native);

// The datetime wire value of the engine's "yyyy-mm-dd hh:mm:ss.fff": days
// since 1900-01-01 and three-hundredths of a second since midnight. False
// for text of another shape.
bool encodeDateTime(std::string_view text, std::int32_t* days, std::uint32_t* ticks);

}  // namespace standin::tds
