// The stand-in's T-SQL engine: runs the statements of the batch (and of
// isql sessions) with SQL Server's semantics on a SQLite database.
//
// This header is the whole contract between the engine and its fronts (the
// ODBC driver and the TDS server). The engine knows nothing about ODBC handles, fault
// injection or tracing; the front knows nothing about SQL.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// One diagnostic record, shaped as SQL Server reports it.
struct Diag {
    std::string sqlState;     // five characters, e.g. "23000"
    std::int32_t native = 0;  // SQL Server message number, 0 for driver-made records
    std::string message;      // without any "[vendor][driver]" prefix
};

// Numeric (precision 19, scale 0) only as the type of an expression: an
// integer literal beyond int's range and what is computed from it.
enum class ColType { Char, VarChar, Int, SmallInt, DateTime, Numeric };

struct Column {
    std::string name;  // empty for an unnamed expression
    ColType type = ColType::VarChar;
    int size = 0;  // declared length for char/varchar; display size otherwise
    bool nullable = true;
};

// Values travel as text: integers in decimal, datetime as
// "yyyy-mm-dd hh:mm:ss.fff", char(n) blank-padded to n. nullopt is NULL.
using Value = std::optional<std::string>;
using Row = std::vector<Value>;

enum class Status { Success, SuccessWithInfo, NoData, Error };

struct Result {
    Status status = Status::Success;
    std::vector<Diag> diags;    // the records in order; first is the cause
    bool hasResultSet = false;  // a SELECT ran: columns and rows are set
    std::vector<Column> columns;
    std::vector<Row> rows;       // materialised when the statement ran
    std::int64_t rowCount = -1;  // rows affected by INSERT/UPDATE/DELETE, -1 otherwise
    // SET NOCOUNT ON was in effect: the server sends no count for this
    // statement, not even a SELECT's. An INSERT, UPDATE or DELETE then gives
    // Status::NoData and rowCount -1 whatever it changed, since a client
    // cannot tell one such statement from another (Microsoft's driver and
    // FreeTDS both answer it with SQL_NO_DATA).
    bool noCount = false;
};

struct Options {
    std::string databasePath;  // SQLite file, created when missing
    std::string serverTime;    // "yyyy-mm-dd hh:mm:ss": the server's clock; empty = local time
    // The server-wide default of a DBA's "user options": every session starts
    // with SET NOCOUNT ON until it says SET NOCOUNT OFF.
    bool noCount = false;
    // The front runs one call of all its sessions at a time (the ODBC driver
    // does): a session of this process that holds a lock cannot release it
    // while another session of it waits, so such a wait is a deadlock.
    bool callsSerialised = false;
};

class Engine {
  public:
    virtual ~Engine() = default;

    // Opens (creating when missing) the database. Returns null and fills
    // *error when the file cannot be opened.
    static std::unique_ptr<Engine> open(const Options& options, Diag* error);

    // Runs one statement. A statement that meets another session's open
    // write waits until that session commits or rolls back, without a
    // time-out, and then goes on; one that can never go on (a deadlock) fails
    // with 1205 and its transaction is rolled back.
    // A searched UPDATE or DELETE that matches no row
    // gives Status::NoData with rowCount 0; the front decides what an ODBC 2
    // application sees instead.
    virtual Result execute(std::string_view sql) = 0;

    // Autocommit is on by default: each statement commits by itself.
    // With it off, the first statement opens a transaction that lasts until
    // endTransaction. BEGIN TRAN / COMMIT / ROLLBACK work in either mode.
    virtual void setAutocommit(bool on) = 0;
    virtual Result endTransaction(bool commit) = 0;
};

}  // namespace standin
