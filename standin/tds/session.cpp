// A TDS session: login, then one reply per request.
//
// The engine materialises every result when a statement runs, so a server
// cursor here is the rows of its SELECT kept under a handle until the client
// closes it; each sp_cursorfetch hands out the next rows. A default result
// set is sent whole at once, as a server streams it; the client keeps what
// it has not read yet.
#include "standin/tds/session.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "standin/tds/wire.h"

namespace standin::tds {

namespace {

constexpr std::uint32_t kTds72 = 0x72090002;
constexpr std::uint32_t kTds74 = 0x74000004;
constexpr std::size_t kDefaultPacket = 4096;

// CurCmd values of DONE tokens.
constexpr std::uint16_t kCmdSelect = 0xC1;
constexpr std::uint16_t kCmdInsert = 0xC3;
constexpr std::uint16_t kCmdDelete = 0xC4;
constexpr std::uint16_t kCmdUpdate = 0xC5;

// Procedure ids of the system procedures a client may call by number.
enum ProcId : std::uint16_t {
    kCursorOpen = 2,
    kCursorFetch = 7,
    kCursorOption = 8,
    kCursorClose = 9,
    kExecuteSql = 10,
    kPrepare = 11,
    kExecute = 12,
    kPrepExec = 13,
    kUnprepare = 15,
};

// Fetch types of sp_cursorfetch.
constexpr std::int64_t kFetchFirst = 1;
constexpr std::int64_t kFetchNext = 2;

std::string firstWord(std::string_view sql) {
    std::size_t i = 0;
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
        ++i;
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i++]))));
    return word;
}

std::uint16_t commandOf(std::string_view sql) {
    const std::string w = firstWord(sql);
    if (w == "select") return kCmdSelect;
    if (w == "insert") return kCmdInsert;
    if (w == "delete") return kCmdDelete;
    if (w == "update") return kCmdUpdate;
    return 0;
}

// The return code the ODBC front traces for the same outcome.
int traceCode(Status status) {
    switch (status) {
        case Status::Success:
            return 0;
        case Status::SuccessWithInfo:
            return 1;
        case Status::NoData:
            return 100;
        case Status::Error:
            break;
    }
    return -1;
}

// Widens character columns to their longest value, so a value never
// exceeds what the metadata announced.
void fitColumns(Result& r) {
    for (std::size_t c = 0; c < r.columns.size(); ++c) {
        Column& col = r.columns[c];
        if (col.type != ColType::Char && col.type != ColType::VarChar) continue;
        std::size_t longest = static_cast<std::size_t>(std::max(col.size, 1));
        for (const Row& row : r.rows) {
            if (c < row.size() && row[c]) longest = std::max(longest, row[c]->size());
        }
        col.size = static_cast<int>(std::min<std::size_t>(longest, 8000));
    }
}

const char* wireTypeName(ColType type) {
    switch (type) {
        case ColType::SmallInt:
            return "smallint";
        case ColType::Numeric:
            return "numeric";
        case ColType::DateTime:
            return "datetime";
        case ColType::Char:
        case ColType::VarChar:
            return "varchar";
        case ColType::Int:
            break;
    }
    return "int";
}

// A value the wire cannot carry fails the statement before anything of its
// result goes out, as an overflow the server meets while computing it does:
// the client gets an ERROR token, never half a row, and the session goes on.
void refuseUnencodable(Result& r) {
    if (!r.hasResultSet || r.status == Status::Error) return;
    Writer scratch;
    for (const Row& row : r.rows) {
        if (scratch.row(r.columns, row)) {
            scratch.clear();
            continue;
        }
        const char* type = "int";
        for (std::size_t c = 0; c < r.columns.size() && c < row.size(); ++c) {
            scratch.clear();
            if (!scratch.row({r.columns[c]}, {row[c]})) {
                type = wireTypeName(r.columns[c].type);
                break;
            }
        }
        Result failed;
        failed.status = Status::Error;
        failed.diags.push_back(
            {"22003", 8115,
             std::string("Arithmetic overflow error converting expression to data type ") + type +
                 "."});
        r = std::move(failed);
        return;
    }
}

// One RPC parameter as the procedures here need it.
struct Param {
    bool isNull = true;
    bool isText = false;
    std::int64_t number = 0;
    std::string text;
};

bool readPlp(Reader& in, bool unicode, Param* p) {
    std::uint64_t total = 0;
    if (!in.u64(&total)) return false;
    if (total == ~std::uint64_t{0}) return true;  // NULL
    std::vector<std::uint8_t> bytes;
    for (;;) {
        std::uint32_t chunk = 0;
        const std::uint8_t* data = nullptr;
        if (!in.u32(&chunk)) return false;
        if (chunk == 0) break;
        if (bytes.size() + chunk > kMaxMessage || !in.bytes(chunk, &data)) return false;
        bytes.insert(bytes.end(), data, data + chunk);
    }
    p->isNull = false;
    p->text = unicode ? ucs2ToCp1252(bytes.data(), bytes.size() / 2)
                      : std::string(bytes.begin(), bytes.end());
    return true;
}

bool readCharValue(Reader& in, bool unicode, std::size_t length, Param* p) {
    const std::uint8_t* data = nullptr;
    if (!in.bytes(length, &data)) return false;
    p->isNull = false;
    p->text = unicode ? ucs2ToCp1252(data, length / 2)
                      : std::string(reinterpret_cast<const char*>(data), length);
    return true;
}

bool readInteger(Reader& in, std::size_t length, Param* p) {
    const std::uint8_t* data = nullptr;
    if (length == 0) return true;  // NULL
    if (length != 1 && length != 2 && length != 4 && length != 8) return false;
    if (!in.bytes(length, &data)) return false;
    std::uint64_t v = 0;
    for (std::size_t i = length; i-- > 0;) v = (v << 8) | data[i];
    const unsigned shift = static_cast<unsigned>(64 - 8 * length);
    // Sign-extend all but the unsigned tinyint.
    p->number =
        length == 1 ? static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v << shift) >> shift;
    p->isNull = false;
    return true;
}

// Reads one parameter: name, status, type info and value. False on a
// malformed or unsupported type.
bool readParam(Reader& in, Param* p) {
    std::uint8_t nameLength = 0, status = 0, type = 0;
    std::string name;
    if (!in.u8(&nameLength) || !in.ucs2(nameLength, &name) || !in.u8(&status) || !in.u8(&type))
        return false;
    p->isText = false;
    switch (type) {
        case 0x30:  // tinyint, smallint, int, bigint
        case 0x34:
        case 0x38:
        case 0x7F: {
            const std::size_t n = type == 0x30 ? 1 : type == 0x34 ? 2 : type == 0x38 ? 4 : 8;
            return readInteger(in, n, p);
        }
        case 0x26:    // INTN
        case 0x68: {  // BITN
            std::uint8_t max = 0, length = 0;
            return in.u8(&max) && in.u8(&length) && readInteger(in, length, p);
        }
        case 0xE7:  // nvarchar, nchar, varchar, char
        case 0xEF:
        case 0xA7:
        case 0xAF: {
            const bool unicode = type == 0xE7 || type == 0xEF;
            std::uint16_t max = 0, length = 0;
            p->isText = true;
            if (!in.u16(&max) || !in.skip(sizeof kCollation)) return false;
            if (max == 0xFFFF) return readPlp(in, unicode, p);
            if (!in.u16(&length)) return false;
            return length == 0xFFFF || readCharValue(in, unicode, length, p);
        }
        case 0x63:    // ntext
        case 0x23: {  // text
            std::uint32_t max = 0, length = 0;
            p->isText = true;
            if (!in.u32(&max) || !in.skip(sizeof kCollation) || !in.u32(&length)) return false;
            return length == 0xFFFFFFFF || readCharValue(in, type == 0x63, length, p);
        }
        default:
            return false;
    }
}

// Skips ALL_HEADERS at the start of a batch or RPC.
bool skipAllHeaders(Reader& in) {
    std::uint32_t total = 0;
    if (!in.u32(&total) || total < 4) return false;
    return in.skip(total - 4);
}

struct Cursor {
    Result result;
    std::size_t next = 0;
    std::int64_t failFetchAfter = -1;
};

class Session {
  public:
    Session(int fd, const ServerSettings& settings)
        : channel_(fd), settings_(settings), faults_(settings.faults) {}

    void run();

  private:
    bool prelogin(const Message& m);
    // False when the login is refused or malformed (the connection ends).
    bool login(const Message& m);
    bool send();
    void log(std::string_view kind, std::string_view detail) {
        if (settings_.requestLogPath.empty()) return;
        const bool numbered = kind != "attention" && kind != "transaction";
        logRequest(settings_.requestLogPath, numbered ? std::to_string(requests_) : "-", kind,
                   detail);
    }
    void count(std::atomic<std::int64_t> RequestCounts::*kind) {
        if (settings_.counts != nullptr) ++(settings_.counts->*kind);
    }
    bool batch(const Message& m);
    bool rpc(const Message& m);
    bool transactionRequest(const Message& m);

    // Runs sql with the fault rules and the trace.
    Result execute(const std::string& sql);
    void writeDiags(const Result& r);
    void writeError(std::int32_t number, std::string_view text);
    void writeRows(const Result& r, std::size_t from, std::size_t count);

    bool cursorOpen(const std::vector<Param>& params);
    bool cursorFetch(const std::vector<Param>& params);
    bool cursorClose(const std::vector<Param>& params);
    bool executeSql(const std::vector<Param>& params);
    // sp_prepare, or with run sp_prepexec: keeps the text under a new handle.
    bool prepare(const std::vector<Param>& params, bool run);
    bool executePrepared(const std::vector<Param>& params);
    bool unprepare(const std::vector<Param>& params);
    // The tokens of one statement's outcome up to its DONE (of a batch) or
    // DONEINPROC (with kDoneMore, inside a procedure). Returns false when the
    // statement failed or its result broke off by an injected fetch fault.
    bool writeResult(const Result& r, const std::string& sql, std::uint8_t doneToken,
                     std::uint16_t more);
    void writeFetchFault();
    bool refuseParameters();
    // RETURNSTATUS and the closing DONEPROC of an RPC.
    bool endProc(bool failed);
    bool failRequest(std::uint8_t type, std::string_view what);

    Channel channel_;
    const ServerSettings& settings_;
    odbc::Faults faults_;
    std::unique_ptr<Engine> engine_;
    std::size_t packetSize_ = kDefaultPacket;
    std::uint32_t tdsVersion_ = kTds74;
    std::map<std::int32_t, Cursor> cursors_;
    std::int32_t nextCursor_ = 180150001;
    std::map<std::int32_t, std::string> prepared_;  // sp_prepare handles and their texts
    std::int32_t nextPrepared_ = 1;
    std::int64_t requests_ = 0;  // batches and RPCs received
    Writer out_;
};

bool Session::send() {
    if (settings_.latencyMicros > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(settings_.latencyMicros));
    const bool ok = writeMessage(channel_, kReply, out_.bytes(), packetSize_);
    out_.clear();
    return ok;
}

bool Session::prelogin(const Message& m) {
    // The client's ENCRYPTION option: 0 off (login only), 1 on, 2 not
    // supported, 3 required.
    std::uint8_t clientEncryption = 2;
    for (std::size_t i = 0; i + 5 <= m.data.size() && m.data[i] != 0xFF; i += 5) {
        const std::size_t offset = (std::size_t{m.data[i + 1]} << 8) | m.data[i + 2];
        const std::size_t length = (std::size_t{m.data[i + 3]} << 8) | m.data[i + 4];
        if (m.data[i] == 0x01 && length >= 1 && offset < m.data.size())
            clientEncryption = m.data[offset];
    }
    // With a certificate the server forces encryption, of the whole session:
    // "on" to a client that asked for it, "required" to any other.
    const std::uint8_t encryption = settings_.tls == nullptr ? 2 : clientEncryption == 1 ? 1 : 3;

    // VERSION, ENCRYPTION, INSTOPT, THREADID, MARS (off).
    struct Option {
        std::uint8_t token;
        std::vector<std::uint8_t> data;
    };
    const Option options[] = {
        {0x00, {16, 0, 0x03, 0xE8, 0, 0}},
        {0x01, {encryption}},
        {0x02, {0x00}},
        {0x03, {}},
        {0x04, {0x00}},
    };
    std::size_t offset = sizeof options / sizeof options[0] * 5 + 1;
    for (const Option& o : options) {
        out_.u8(o.token);
        out_.u8(static_cast<std::uint8_t>(offset >> 8));
        out_.u8(static_cast<std::uint8_t>(offset));
        out_.u8(0);
        out_.u8(static_cast<std::uint8_t>(o.data.size()));
        offset += o.data.size();
    }
    out_.u8(0xFF);
    for (const Option& o : options) out_.raw(o.data.data(), o.data.size());
    if (!send()) return false;
    // A client that will not encrypt sends its login in the clear instead of
    // a handshake; that ends the connection before the login is read.
    return settings_.tls == nullptr || channel_.startTls(settings_.tls);
}

bool Session::login(const Message& m) {
    Reader in(m.data);
    std::uint32_t length = 0, version = 0, packetSize = 0;
    if (!in.u32(&length) || !in.u32(&version) || !in.u32(&packetSize)) return false;
    if (version < kTds72) return false;  // older clients need token shapes we do not write
    tdsVersion_ = std::min(version, kTds74);
    // The offset/length table: host, user, password, app, server, extension,
    // library, language, database.
    auto field = [&](std::size_t slot, std::string* out, bool scrambled) {
        Reader table(m.data);
        std::uint16_t offset = 0, chars = 0;
        if (!table.seek(36 + 4 * slot) || !table.u16(&offset) || !table.u16(&chars)) return false;
        if (!table.seek(offset) || table.left() < std::size_t{chars} * 2) return false;
        const std::uint8_t* p = nullptr;
        table.bytes(std::size_t{chars} * 2, &p);
        std::vector<std::uint8_t> bytes(p, p + std::size_t{chars} * 2);
        if (scrambled) {
            // Undo the login's scrambling: XOR 0xA5, then swap the nibbles.
            for (std::uint8_t& b : bytes) {
                b ^= 0xA5;
                b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
            }
        }
        *out = ucs2ToCp1252(bytes.data(), chars);
        return true;
    };
    std::string user, password, database;
    if (!field(1, &user, false) || !field(2, &password, true) || !field(8, &database, false))
        return false;
    if (packetSize >= 512 && packetSize <= kMaxPacket) packetSize_ = packetSize;

    if (!settings_.user.empty() &&
        (strcasecmp(settings_.user.c_str(), user.c_str()) != 0 || settings_.password != password)) {
        out_.message(18456, 1, 14, "Login failed for user '" + user + "'.");
        out_.done(kDone, kDoneError, 0, 0);
        send();
        return false;
    }
    Diag error;
    engine_ = Engine::open(settings_.engine, &error);
    if (!engine_) {
        out_.message(4060, 1, 11, "Cannot open database requested by the login. " + error.message);
        out_.done(kDone, kDoneError, 0, 0);
        send();
        return false;
    }
    if (database.empty()) database = "master";
    out_.envChange(1, database, "master");
    out_.message(5701, 2, 0, "Changed database context to '" + database + "'.");
    out_.envChangeCollation();
    out_.envChange(2, "us_english", "");
    out_.message(5703, 1, 0, "Changed language setting to us_english.");
    out_.loginAck(tdsVersion_);
    out_.envChange(4, std::to_string(packetSize_), std::to_string(kDefaultPacket));
    out_.done(kDone, kDoneFinal, 0, 0);
    return send();
}

Result Session::execute(const std::string& sql) {
    const auto start = std::chrono::steady_clock::now();
    Result r;
    if (odbc::statementMustFail(faults_, sql)) {
        r.status = Status::Error;
        r.diags.push_back(
            odbc::injectedDiag(faults_, "statement text contains '" + faults_.failOn + "'"));
    } else {
        odbc::throwIfInjected(faults_, sql);
        r = engine_->execute(sql);
        if (r.status != Status::Error) odbc::notePassed(faults_, sql);
        if (r.status != Status::Error && odbc::statementGetsInfo(faults_, sql)) {
            r.status = Status::SuccessWithInfo;
            r.diags.push_back(odbc::infoDiag(faults_));
        }
    }
    fitColumns(r);
    refuseUnencodable(r);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    odbc::traceStatement(faults_, sql, static_cast<SQLRETURN>(traceCode(r.status)), micros);
    return r;
}

void Session::writeDiags(const Result& r) {
    for (const Diag& d : r.diags) {
        std::uint8_t cls = severityOf(d.native);
        // An engine error without a server number is still an error.
        if (r.status == Status::Error && &d == &r.diags.front() && cls <= 10) cls = 16;
        if (r.status != Status::Error) cls = std::min<std::uint8_t>(cls, 10);
        out_.message(d.native, d.native == 3621 ? 0 : 1, cls, d.message);
    }
}

void Session::writeError(std::int32_t number, std::string_view text) {
    out_.message(number, 1, 16, text);
}

void Session::writeRows(const Result& r, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) {
        if (!out_.row(r.columns, r.rows[i])) break;  // fitColumns makes every row fit
    }
}

bool Session::batch(const Message& m) {
    Reader in(m.data);
    std::string sql;
    if (!skipAllHeaders(in) || !in.ucs2(in.left() / 2, &sql)) return false;
    log("batch", sql);

    // Autocommit is a session setting the client changes by statement.
    const std::string compact = [&] {
        std::string s;
        for (char c : sql) {
            if (!std::isspace(static_cast<unsigned char>(c)))
                s.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
        return s;
    }();
    if (compact == "SETIMPLICIT_TRANSACTIONSON" || compact == "SETIMPLICIT_TRANSACTIONSOFF") {
        engine_->setAutocommit(compact.ends_with("OFF"));
        out_.done(kDone, kDoneFinal, 0, 0);
        return send();
    }

    writeResult(execute(sql), sql, kDone, 0);
    return send();
}

bool Session::endProc(bool failed) {
    out_.returnStatus(failed ? 1 : 0);
    out_.done(kDoneProc, failed ? kDoneError : kDoneFinal, 0, 0);
    return send();
}

bool Session::cursorOpen(const std::vector<Param>& params) {
    if (params.size() < 2 || !params[1].isText || params[1].isNull) return false;
    const std::string& sql = params[1].text;
    const std::int32_t scrollOpt =
        params.size() > 2 ? static_cast<std::int32_t>(params[2].number) : 4;
    const std::int32_t ccOpt = params.size() > 3 ? static_cast<std::int32_t>(params[3].number) : 1;
    Result r = execute(sql);
    writeDiags(r);
    std::int32_t handle = 0;
    std::int32_t rowCount = 0;
    bool failed = r.status == Status::Error;
    if (!failed && r.hasResultSet) {
        out_.colMetadata(r.columns);
        out_.done(kDoneInProc, kDoneMore, 0, 0);
        handle = nextCursor_++;
        // Forward-only and dynamic cursors do not know their size.
        rowCount = (scrollOpt & 0x1C) != 0 ? -1 : static_cast<std::int32_t>(r.rows.size());
        Cursor& c = cursors_[handle];
        c.failFetchAfter = odbc::fetchFaultLimit(faults_, sql);
        c.result = std::move(r);
    } else if (!failed) {
        // Not a SELECT: the server runs it as it stands and opens no cursor.
        out_.message(16954, 1, 10, "Executing SQL directly; no cursor.");
        if (r.rowCount >= 0) {
            out_.done(kDoneInProc, kDoneMore | kDoneCount, commandOf(sql),
                      static_cast<std::uint64_t>(r.rowCount));
        }
    } else {
        out_.done(kDoneInProc, kDoneMore | kDoneError, 0, 0);
    }
    out_.returnStatus(failed ? 1 : 0);
    out_.returnInt(0, handle);
    out_.returnInt(2, scrollOpt);
    out_.returnInt(3, ccOpt);
    out_.returnInt(4, rowCount);
    out_.done(kDoneProc, failed ? kDoneError : kDoneFinal, 0, 0);
    return send();
}

bool Session::cursorFetch(const std::vector<Param>& params) {
    if (params.empty()) return false;
    auto it = cursors_.find(static_cast<std::int32_t>(params[0].number));
    if (it == cursors_.end()) {
        writeError(16955, "Could not create an acceptable cursor.");
        return endProc(true);
    }
    Cursor& c = it->second;
    const std::int64_t fetchType = params.size() > 1 ? params[1].number : kFetchNext;
    std::int64_t rows = params.size() > 3 && !params[3].isNull ? params[3].number : 1;
    if (fetchType == kFetchFirst) {
        c.next = 0;
    } else if (fetchType != kFetchNext) {
        writeError(16902, "sp_cursorfetch: The value of the parameter fetchtype is invalid.");
        return endProc(true);
    }
    rows = std::max<std::int64_t>(rows, 1);
    std::size_t n = std::min(static_cast<std::size_t>(rows), c.result.rows.size() - c.next);
    // The fault counts fetches, not rows: asking past the last row still
    // breaks off once the rows it lets through are out.
    bool broken = false;
    const std::size_t asked = c.next + static_cast<std::size_t>(rows);
    if (c.failFetchAfter >= 0 && asked > static_cast<std::size_t>(c.failFetchAfter)) {
        n = static_cast<std::size_t>(c.failFetchAfter) > c.next
                ? static_cast<std::size_t>(c.failFetchAfter) - c.next
                : 0;
        broken = true;
    }
    out_.colMetadata({});
    writeRows(c.result, c.next, n);
    c.next += n;
    if (settings_.counts != nullptr) settings_.counts->cursorRows += static_cast<std::int64_t>(n);
    if (broken) {
        writeFetchFault();
        out_.done(kDoneInProc, kDoneMore | kDoneError | kDoneCount, 0, n);
        return endProc(true);
    }
    out_.done(kDoneInProc, kDoneMore | kDoneCount, 0, n);
    return endProc(false);
}

bool Session::cursorClose(const std::vector<Param>& params) {
    if (params.empty()) return false;
    if (cursors_.erase(static_cast<std::int32_t>(params[0].number)) == 0) {
        writeError(16917, "Cursor is not open.");
        return endProc(true);
    }
    return endProc(false);
}

bool Session::writeResult(const Result& r, const std::string& sql, std::uint8_t doneToken,
                          std::uint16_t more) {
    writeDiags(r);
    const std::uint16_t cmd = commandOf(sql);
    if (r.status == Status::Error) {
        out_.done(doneToken, more | kDoneError, cmd, 0);
        return false;
    }
    if (r.hasResultSet) {
        out_.colMetadata(r.columns);
        const std::int64_t limit = odbc::fetchFaultLimit(faults_, sql);
        if (limit >= 0 && static_cast<std::size_t>(limit) <= r.rows.size()) {
            // The result breaks off after the rows the fault lets through.
            const std::size_t n = static_cast<std::size_t>(limit);
            writeRows(r, 0, n);
            writeFetchFault();
            out_.done(doneToken, more | kDoneError | kDoneCount, kCmdSelect, n);
            return false;
        }
        writeRows(r, 0, r.rows.size());
        if (r.noCount) {
            out_.done(doneToken, more, kCmdSelect, 0);
        } else {
            out_.done(doneToken, more | kDoneCount, kCmdSelect, r.rows.size());
        }
        return true;
    }
    if (r.rowCount >= 0) {
        out_.done(doneToken, more | kDoneCount, cmd, static_cast<std::uint64_t>(r.rowCount));
        return true;
    }
    out_.done(doneToken, more, cmd, 0);
    return true;
}

void Session::writeFetchFault() {
    const Diag d = odbc::injectedDiag(
        faults_, "fetch of a statement containing '" + faults_.failFetchOn + "'");
    out_.message(d.native, 1, std::max<std::uint8_t>(severityOf(d.native), 11), d.message);
}

bool Session::refuseParameters() {
    writeError(8180, "Statement(s) could not be prepared: parameters are not supported.");
    return endProc(true);
}

bool Session::executeSql(const std::vector<Param>& params) {
    if (params.empty() || !params[0].isText || params[0].isNull) return false;
    if (params.size() > 2) return refuseParameters();
    return endProc(!writeResult(execute(params[0].text), params[0].text, kDoneInProc, kDoneMore));
}

bool Session::prepare(const std::vector<Param>& params, bool run) {
    // @handle OUTPUT, @params, @stmt, then the values when it also runs.
    if (params.size() < 3 || !params[2].isText || params[2].isNull) return false;
    if (params.size() > (run ? 3u : 4u)) return refuseParameters();
    const std::string& sql = params[2].text;
    const std::int32_t handle = nextPrepared_++;
    prepared_[handle] = sql;
    bool failed = false;
    if (run) {
        failed = !writeResult(execute(sql), sql, kDoneInProc, kDoneMore);
    }
    out_.returnStatus(failed ? 1 : 0);
    out_.returnInt(0, handle);
    out_.done(kDoneProc, failed ? kDoneError : kDoneFinal, 0, 0);
    return send();
}

bool Session::executePrepared(const std::vector<Param>& params) {
    if (params.empty()) return false;
    auto it = prepared_.find(static_cast<std::int32_t>(params[0].number));
    if (it == prepared_.end()) {
        writeError(8179, "Could not find prepared statement with handle " +
                             std::to_string(params[0].number) + ".");
        return endProc(true);
    }
    if (params.size() > 1) return refuseParameters();
    const std::string sql = it->second;
    return endProc(!writeResult(execute(sql), sql, kDoneInProc, kDoneMore));
}

bool Session::unprepare(const std::vector<Param>& params) {
    if (params.empty()) return false;
    prepared_.erase(static_cast<std::int32_t>(params[0].number));
    return endProc(false);
}

bool Session::rpc(const Message& m) {
    Reader in(m.data);
    std::uint16_t nameLength = 0, procId = 0, flags = 0;
    std::string name;
    if (!skipAllHeaders(in) || !in.u16(&nameLength)) return false;
    if (nameLength == 0xFFFF) {
        if (!in.u16(&procId)) return false;
    } else {
        if (!in.ucs2(nameLength, &name)) return false;
        static const std::pair<const char*, ProcId> byName[] = {
            {"sp_cursoropen", kCursorOpen},     {"sp_cursorfetch", kCursorFetch},
            {"sp_cursoroption", kCursorOption}, {"sp_cursorclose", kCursorClose},
            {"sp_executesql", kExecuteSql},     {"sp_prepare", kPrepare},
            {"sp_execute", kExecute},           {"sp_prepexec", kPrepExec},
            {"sp_unprepare", kUnprepare}};
        for (const auto& [known, id] : byName) {
            if (strcasecmp(name.c_str(), known) == 0) procId = id;
        }
    }
    if (!in.u16(&flags)) return false;
    std::vector<Param> params;
    while (in.left() > 0) {
        Param p;
        if (!readParam(in, &p)) return false;
        params.push_back(std::move(p));
    }
    static const char* const names[] = {"#0",
                                        "sp_cursor",
                                        "sp_cursoropen",
                                        "sp_cursorprepare",
                                        "sp_cursorexecute",
                                        "sp_cursorprepexec",
                                        "sp_cursorunprepare",
                                        "sp_cursorfetch",
                                        "sp_cursoroption",
                                        "sp_cursorclose",
                                        "sp_executesql",
                                        "sp_prepare",
                                        "sp_execute",
                                        "sp_prepexec",
                                        "sp_prepexecrpc",
                                        "sp_unprepare"};
    const std::string kind = !name.empty() ? name
                             : procId < 16 ? names[procId]
                                           : std::string("#").append(std::to_string(procId));
    std::string detail;
    for (const Param& p : params) {
        if (!detail.empty()) detail += " ";
        detail += p.isNull ? "NULL" : p.isText ? p.text : std::to_string(p.number);
    }
    log(kind, detail);
    count(procId == kCursorOpen     ? &RequestCounts::cursorOpens
          : procId == kCursorFetch  ? &RequestCounts::cursorFetches
          : procId == kCursorOption ? &RequestCounts::cursorOptions
          : procId == kCursorClose  ? &RequestCounts::cursorCloses
                                    : &RequestCounts::otherRpcs);
    switch (procId) {
        case kCursorOpen:
            return cursorOpen(params);
        case kCursorFetch:
            return cursorFetch(params);
        case kCursorOption:
            // Naming a cursor or setting its options changes nothing here.
            return endProc(false);
        case kCursorClose:
            return cursorClose(params);
        case kExecuteSql:
            return executeSql(params);
        case kPrepare:
            return prepare(params, false);
        case kPrepExec:
            return prepare(params, true);
        case kExecute:
            return executePrepared(params);
        case kUnprepare:
            return unprepare(params);
        default:
            writeError(2812,
                       "Could not find stored procedure '" +
                           (name.empty() ? std::string("#").append(std::to_string(procId)) : name) +
                           "'.");
            return endProc(true);
    }
}

bool Session::transactionRequest(const Message& m) {
    Reader in(m.data);
    std::uint16_t request = 0;
    if (!skipAllHeaders(in) || !in.u16(&request)) return false;
    // Begin (5), commit (7), rollback (8); the latter two may begin anew.
    std::uint8_t nameLength = 0, again = 0;
    const std::uint8_t descriptor[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    if (request == 5) {
        engine_->setAutocommit(false);
        out_.u8(kEnvChange);
        out_.u16(3 + sizeof descriptor);
        out_.u8(8);
        out_.u8(sizeof descriptor);
        out_.raw(descriptor, sizeof descriptor);
        out_.u8(0);
    } else if (request == 7 || request == 8) {
        in.u8(&nameLength);
        in.skip(std::size_t{nameLength} * 2);
        in.u8(&again);
        Result r = engine_->endTransaction(request == 7);
        if (r.status == Status::Error) {
            writeDiags(r);
            out_.done(kDone, kDoneError, 0, 0);
            return send();
        }
        if (!again) engine_->setAutocommit(true);
        out_.u8(kEnvChange);
        out_.u16(3 + sizeof descriptor);
        out_.u8(request == 7 ? 9 : 10);
        out_.u8(0);
        out_.u8(sizeof descriptor);
        out_.raw(descriptor, sizeof descriptor);
    } else {
        writeError(3906, "The transaction request is not supported by this server.");
        out_.done(kDone, kDoneError, 0, 0);
        return send();
    }
    out_.done(kDone, kDoneFinal, 0, 0);
    return send();
}

// A request whose handling threw: whatever of its reply was built is
// dropped, and the client gets an ERROR token and the end of the reply
// instead, so the session goes on with the next request.
bool Session::failRequest(std::uint8_t type, std::string_view what) {
    out_.clear();
    writeError(50000, "Internal error of the stand-in: " + std::string(what));
    if (type == kRpc) {
        out_.returnStatus(1);
        out_.done(kDoneProc, kDoneError, 0, 0);
    } else {
        out_.done(kDone, kDoneError, 0, 0);
    }
    return send();
}

void Session::run() {
    Message m;
    if (readMessage(channel_, &m) != ReadResult::Ok || m.type != kPrelogin || !prelogin(m)) return;
    if (readMessage(channel_, &m) != ReadResult::Ok || m.type != kLogin7 || !login(m)) return;
    count(&RequestCounts::logins);
    for (;;) {
        if (readMessage(channel_, &m) != ReadResult::Ok) return;
        if (m.type == kSqlBatch || m.type == kRpc) {
            if (settings_.dropAfter >= 0 && requests_ >= settings_.dropAfter) return;
            ++requests_;
        } else if (m.type == kAttention) {
            log("attention", "");
        } else if (m.type == kTransactionManager) {
            log("transaction", "");
        }
        bool ok = false;
        try {
            switch (m.type) {
                case kSqlBatch:
                    count(&RequestCounts::batches);
                    ok = batch(m);
                    break;
                case kRpc:
                    ok = rpc(m);
                    break;
                case kTransactionManager:
                    count(&RequestCounts::transactions);
                    ok = transactionRequest(m);
                    break;
                case kAttention:
                    count(&RequestCounts::attentions);
                    // Every reply is complete before the next request is read, so
                    // there is nothing left to cancel; the client still waits for
                    // the acknowledgement.
                    out_.done(kDone, kDoneAttn, 0, 0);
                    ok = send();
                    break;
                default:
                    ok = false;
            }
        } catch (const std::exception& e) {
            ok = failRequest(m.type, e.what());
        } catch (...) {
            ok = failRequest(m.type, "unknown exception");
        }
        out_.clear();
        if (!ok) return;
    }
}

}  // namespace

void logRequest(const std::string& path, const std::string& number, std::string_view kind,
                std::string_view detail) {
    static std::mutex mutex;
    std::string line = number + "\t" + std::string(kind) + "\t";
    for (char c : detail) line.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
    line.push_back('\n');
    std::lock_guard<std::mutex> lock(mutex);
    if (std::FILE* f = std::fopen(path.c_str(), "a")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

void serveConnection(int fd, const ServerSettings& settings) {
    Session session(fd, settings);
    session.run();
}

}  // namespace standin::tds
