// The engine over one SQLite connection: translates each statement, runs
// it, materialises results, keeps the transaction state and turns SQLite's
// constraint failures into SQL Server's messages.
//
// State per engine: the connection, the catalog (reloaded after DDL and
// after a rollback), the autocommit flag and the BEGIN TRAN nesting count.
#include "standin/engine.h"

#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "standin/engine/catalog.h"
#include "standin/engine/functions.h"
#include "standin/engine/translate.h"
#include "standin/engine/values.h"

namespace standin {

namespace {

Diag terminated() {
    return Diag{"01000", 3621, "The statement has been terminated."};
}

// INSERT, UPDATE or DELETE, by the statement's first word.
bool isWrite(std::string_view sql) {
    std::size_t i = sql.find_first_not_of(" \t\r\n");
    if (i == std::string_view::npos) return false;
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i++]))));
    return word == "insert" || word == "update" || word == "delete";
}

// The sessions of this process that hold an open write transaction, per
// database file: a waiter whose calls are serialised with theirs knows it
// would wait forever.
class Holders {
  public:
    void hold(const std::string& file, const void* session) {
        std::lock_guard lock(mutex_);
        held_[file].insert(session);
    }
    void release(const std::string& file, const void* session) {
        std::lock_guard lock(mutex_);
        auto it = held_.find(file);
        if (it == held_.end()) return;
        it->second.erase(session);
        if (it->second.empty()) held_.erase(it);
    }
    bool heldByAnother(const std::string& file, const void* session) {
        std::lock_guard lock(mutex_);
        auto it = held_.find(file);
        if (it == held_.end()) return false;
        return it->second.size() > it->second.count(session);
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::set<const void*>> held_;
};

Holders& holders() {
    static Holders h;
    return h;
}

// Session numbers as the server counts user sessions, for the message.
std::atomic<int> nextSessionId{51};

const int kDeadlock = 1205;

Diag deadlockVictim(int sessionId) {
    return Diag{"40001", kDeadlock,
                "Transaction (Process ID " + std::to_string(sessionId) +
                    ") was deadlocked on lock resources with another process and has been "
                    "chosen as the deadlock victim. Rerun the transaction."};
}

void pause(int attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 20 ? 1 : 10));
}

Result failure(const Diag& diag) {
    Result r;
    r.status = Status::Error;
    r.diags.push_back(diag);
    return r;
}

class SqliteEngine : public Engine {
  public:
    SqliteEngine(sqlite3* db, Options options)
        : db_(db), options_(std::move(options)), noCount_(options_.noCount) {
        sqlite3_busy_handler(db_, &SqliteEngine::onBusy, this);
    }
    ~SqliteEngine() override {
        holders().release(options_.databasePath, this);
        sqlite3_close_v2(db_);
    }
    SqliteEngine(const SqliteEngine&) = delete;
    SqliteEngine& operator=(const SqliteEngine&) = delete;

    int loadCatalog() { return catalog_.load(db_); }

    Result execute(std::string_view sql) override;
    void setAutocommit(bool on) override;
    Result endTransaction(bool commit) override;

  private:
    bool inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }
    // SQLite's busy handler: waits for another session's lock without a
    // time-out, unless it can never be released (see Options).
    static int onBusy(void* self, int attempt);
    bool waitIsHopeless() const {
        return options_.callsSerialised && holders().heldByAnother(options_.databasePath, this);
    }
    // Ends the transaction after a deadlock, as the server does with its victim.
    void rollBackVictim();
    // Runs one SQLite statement to its end; rows (when not null) receive its
    // result. Throws SqlError with the mapped error.
    void run(const std::string& sql, const Plan* plan, std::vector<Row>* rows);
    void runPlain(const std::string& sql) { run(sql, nullptr, nullptr); }
    Diag mapError(int rc, const std::string& message, const Plan* plan);
    std::string duplicateKey(const Plan& plan, const std::vector<int>& key);
    Result runPlan(const Plan& plan);

    sqlite3* db_;
    Options options_;
    Catalog catalog_;
    bool autocommit_ = true;
    int tranCount_ = 0;  // BEGIN TRAN nesting, as @@TRANCOUNT counts it
    bool noCount_;       // SET NOCOUNT ON in effect
    int sessionId_ = nextSessionId++;
};

int SqliteEngine::onBusy(void* self, int attempt) {
    auto* engine = static_cast<SqliteEngine*>(self);
    if (engine->waitIsHopeless()) return 0;
    pause(attempt);
    return 1;
}

void SqliteEngine::rollBackVictim() {
    if (inTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    tranCount_ = 0;
    holders().release(options_.databasePath, this);
    loadCatalog();
}

Value columnValue(sqlite3_stmt* st, int i) {
    if (sqlite3_column_type(st, i) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return std::string(text, static_cast<size_t>(sqlite3_column_bytes(st, i)));
}

void SqliteEngine::run(const std::string& sql, const Plan* plan, std::vector<Row>* rows) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
    for (int attempt = 0; rc == SQLITE_OK || rc == SQLITE_BUSY; ++attempt) {
        const int columns = sqlite3_column_count(st);
        const std::size_t before = rows == nullptr ? 0 : rows->size();
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            if (rows == nullptr) continue;
            Row row;
            row.reserve(static_cast<size_t>(columns));
            for (int i = 0; i < columns; ++i) row.push_back(columnValue(st, i));
            rows->push_back(std::move(row));
        }
        // Inside a transaction that has read already, SQLite does not wait
        // for another session's write lock itself: wait here until that
        // session is done. If it committed meanwhile, this transaction has
        // read what is no longer current and cannot write: a deadlock.
        if (rc != SQLITE_BUSY || sqlite3_extended_errcode(db_) != SQLITE_BUSY || !inTransaction() ||
            waitIsHopeless())
            break;
        if (rows != nullptr) rows->resize(before);
        sqlite3_reset(st);
        pause(attempt);
    }
    if (rc == SQLITE_DONE) {
        sqlite3_finalize(st);
        return;
    }
    const int extended = sqlite3_extended_errcode(db_);
    const std::string message = sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    throw SqlError{mapError(extended, message, plan)};
}

// Column names of a failed constraint: "UNIQUE constraint failed: S.T.a, S.T.b".
std::vector<std::string> constraintColumns(const std::string& message) {
    std::vector<std::string> out;
    size_t pos = message.find(": ");
    if (pos == std::string::npos) return out;
    pos += 2;
    while (pos < message.size()) {
        size_t end = message.find(", ", pos);
        if (end == std::string::npos) end = message.size();
        const std::string item = message.substr(pos, end - pos);
        out.push_back(item.substr(item.rfind('.') + 1));
        pos = end + 2;
    }
    return out;
}

Diag SqliteEngine::mapError(int rc, const std::string& message, const Plan* plan) {
    Diag d;
    if (decodeError(message, d.native, d.sqlState, d.message)) return d;
    // A lock that cannot be had: never SQLite's "database is locked".
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
        return deadlockVictim(sessionId_);
    const TableDef* table = plan == nullptr ? nullptr : plan->table;
    if (rc == SQLITE_CONSTRAINT_NOTNULL && table != nullptr) {
        std::string db = options_.databasePath.substr(options_.databasePath.rfind('/') + 1);
        db = db.substr(0, db.find('.'));
        return Diag{"23000", 515,
                    "Cannot insert the value NULL into column '" +
                        constraintColumns(message).at(0) + "', table '" + db + "." +
                        table->qualifiedName() + "'; column does not allow nulls. " +
                        (plan->kind == PlanKind::Update ? "UPDATE" : "INSERT") + " fails."};
    }
    if ((rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE) &&
        table != nullptr) {
        std::vector<int> columns;
        for (const std::string& c : constraintColumns(message))
            columns.push_back(table->findColumn(c));
        const std::string object = table->qualifiedName();
        if (columns == table->primaryKey) {
            return Diag{"23000", 2627,
                        "Violation of PRIMARY KEY constraint '" + table->primaryKeyName +
                            "'. Cannot insert duplicate key in object '" + object +
                            "'. The duplicate key value is (" + duplicateKey(*plan, columns) +
                            ")."};
        }
        std::string index;
        for (const IndexDef& i : table->indexes) {
            if (i.unique && i.columns == columns) index = i.name;
        }
        return Diag{"23000", 2601,
                    "Cannot insert duplicate key row in object '" + object +
                        "' with unique index '" + index + "'. The duplicate key value is (" +
                        duplicateKey(*plan, columns) + ")."};
    }
    return Diag{"HY000", 0, "SQLite: " + message};
}

bool sameKey(const Row& a, const Row& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        const std::string& x = a[i].value_or("");
        const std::string& y = b[i].value_or("");
        if (compareText(x.data(), static_cast<int>(x.size()), y.data(),
                        static_cast<int>(y.size())) != 0) {
            return false;
        }
    }
    return true;
}

// The first key value of the failed statement that is already in the table
// or written twice. The statement has been rolled back, so the table shows
// the rows as they were before it.
std::string SqliteEngine::duplicateKey(const Plan& plan, const std::vector<int>& key) {
    std::vector<Row> rows;
    try {
        run(plan.keyProbeSql, nullptr, &rows);
    } catch (const SqlError&) {
        return "";
    }
    const TableDef& table = *plan.table;
    std::string probe = "SELECT 1 FROM " + table.sqliteName() + " WHERE ";
    for (size_t k = 0; k < key.size(); ++k) {
        probe += (k == 0 ? "" : " AND ") + quoteName(table.columns[key[k]].name) + " = ?";
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, probe.c_str(), -1, &st, nullptr) != SQLITE_OK) return "";
    std::vector<Row> seen;
    std::string found;
    for (const Row& row : rows) {
        Row newKey;
        Row oldKey;
        for (const int c : key) {
            newKey.push_back(row.at(c));
            if (row.size() > table.columns.size())
                oldKey.push_back(row.at(table.columns.size() + c));
        }
        if (!oldKey.empty() && sameKey(newKey, oldKey)) continue;
        bool duplicate = false;
        for (const Row& s : seen) duplicate = duplicate || sameKey(s, newKey);
        if (!duplicate) {
            sqlite3_reset(st);
            for (size_t k = 0; k < newKey.size(); ++k) {
                const std::string v = newKey[k].value_or("");
                sqlite3_bind_text(st, static_cast<int>(k + 1), v.c_str(),
                                  static_cast<int>(v.size()), SQLITE_TRANSIENT);
            }
            duplicate = sqlite3_step(st) == SQLITE_ROW;
        }
        if (duplicate) {
            for (size_t k = 0; k < newKey.size(); ++k) {
                found += (k == 0 ? "" : ", ") + newKey[k].value_or("NULL");
            }
            break;
        }
        seen.push_back(newKey);
    }
    sqlite3_finalize(st);
    return found;
}

Result SqliteEngine::runPlan(const Plan& plan) {
    Result r;
    switch (plan.kind) {
        case PlanKind::Begin:
            if (!inTransaction()) runPlain("BEGIN");
            ++tranCount_;
            return r;
        case PlanKind::Commit:
            if (!inTransaction()) {
                return failure({"25000", 3902,
                                "The COMMIT TRANSACTION request has no corresponding BEGIN "
                                "TRANSACTION."});
            }
            if (tranCount_ > 1) {
                --tranCount_;
                return r;
            }
            runPlain("COMMIT");
            tranCount_ = 0;
            holders().release(options_.databasePath, this);
            return r;
        case PlanKind::Rollback:
            if (!inTransaction()) {
                return failure({"25000", 3903,
                                "The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                                "TRANSACTION."});
            }
            runPlain("ROLLBACK");
            tranCount_ = 0;
            holders().release(options_.databasePath, this);
            loadCatalog();
            return r;
        case PlanKind::SetNoCount:
            noCount_ = plan.setOn;
            return r;
        default:
            break;
    }
    if (!autocommit_ && !inTransaction()) runPlain("BEGIN");
    switch (plan.kind) {
        case PlanKind::Select:
            r.hasResultSet = true;
            r.columns = plan.columns;
            run(plan.sql.at(0), &plan, &r.rows);
            return r;
        case PlanKind::Insert:
        case PlanKind::Update:
        case PlanKind::Delete:
            run(plan.sql.at(0), &plan, nullptr);
            if (inTransaction()) holders().hold(options_.databasePath, this);
            r.rowCount = sqlite3_changes(db_);
            if (r.rowCount == 0 && plan.kind != PlanKind::Insert) r.status = Status::NoData;
            if (noCount_) {
                r.rowCount = -1;
                r.status = Status::NoData;
            }
            return r;
        default:
            break;
    }
    // DDL takes several SQLite statements (the table, its meta rows): all or
    // nothing.
    runPlain("SAVEPOINT ddl");
    try {
        for (const std::string& sql : plan.sql) run(sql, &plan, nullptr);
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK TO ddl; RELEASE ddl", nullptr, nullptr, nullptr);
        throw;
    }
    runPlain("RELEASE ddl");
    if (inTransaction()) holders().hold(options_.databasePath, this);
    loadCatalog();
    return r;
}

Result SqliteEngine::execute(std::string_view sql) {
    try {
        const std::string now = canonical(currentDateTime(options_.serverTime));
        const Plan plan = translate(sql, catalog_, now);
        Result r = runPlan(plan);
        r.noCount = noCount_;
        return r;
    } catch (const SqlError& e) {
        if (e.diag.native == kDeadlock) rollBackVictim();
        Result r = failure(e.diag);
        // Errors that end a write are followed by the server's notice that
        // the statement was terminated; an overflow in a SELECT is not.
        static const int terminating[] = {515, 2601, 2627, 8152};
        static const int terminatingWrites[] = {220, 8115};
        for (const int n : terminating) {
            if (e.diag.native == n) r.diags.push_back(terminated());
        }
        for (const int n : terminatingWrites) {
            if (e.diag.native == n && isWrite(sql)) r.diags.push_back(terminated());
        }
        return r;
    } catch (const std::exception& e) {
        // A fault of the engine itself fails this statement only.
        return failure({"HY000", 0, std::string("Internal error of the engine: ") + e.what()});
    }
}

void SqliteEngine::setAutocommit(bool on) {
    // Switching autocommit on commits the open transaction, as ODBC says.
    if (on && !autocommit_ && inTransaction()) endTransaction(true);
    autocommit_ = on;
}

Result SqliteEngine::endTransaction(bool commit) {
    if (!inTransaction()) return Result{};
    try {
        runPlain(commit ? "COMMIT" : "ROLLBACK");
    } catch (const SqlError& e) {
        return failure(e.diag);
    }
    tranCount_ = 0;
    holders().release(options_.databasePath, this);
    if (!commit) loadCatalog();
    return Result{};
}

}  // namespace

std::unique_ptr<Engine> Engine::open(const Options& options, Diag* error) {
    auto reject = [&](const std::string& message) -> std::unique_ptr<Engine> {
        if (error != nullptr) *error = Diag{"08001", 0, message};
        return nullptr;
    };
    if (!options.serverTime.empty()) {
        try {
            parseDateTime(options.serverTime);
        } catch (const SqlError&) {
            return reject("ServerTime '" + options.serverTime + "' is not a valid date and time.");
        }
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(options.databasePath.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return reject("Cannot open database '" + options.databasePath + "': " + message);
    }
    rc = registerFunctions(db);
    // The engine owns the connection from here and waits for locks as its
    // sessions do, also while the file is set up.
    auto engine = std::make_unique<SqliteEngine>(db, options);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr,
                          nullptr, nullptr);
    }
    if (rc == SQLITE_OK) rc = engine->loadCatalog();
    if (rc != SQLITE_OK) {
        return reject("Cannot open database '" + options.databasePath + "': " + sqlite3_errmsg(db));
    }
    return engine;
}

}  // namespace standin
