// The session's settings and the server's date, through the statement
// patterns like every other statement.
#include "db/session.h"

#include <cstddef>

#include "db/statement_patterns.h"

namespace {

constexpr const char* kRowCountsSql = "SET NOCOUNT OFF";
constexpr const char* kServerDateSql = "SELECT CONVERT(char(8), CURRENT_TIMESTAMP, 112)";

struct ServerDate {
    FixedText<9> day;
};

constexpr ColumnSpec kServerDateColumns[] = {
    {1, SQL_C_CHAR, 9, ColumnForm::Trimmed, offsetof(ServerDate, day), sizeof(ServerDate::day)},
};
static_assert(columnsFit<ServerDate>(kServerDateColumns));

}  // namespace

int requestRowCounts() {
    int rc = executeWrite("%s", kRowCountsSql);
    return rc == SQL_NO_DATA ? 0 : rc;
}

int readServerDate(FixedText<9>& today) {
    ServerDate date{};
    int rc = lookupRow(kServerDateColumns, &date, "%s", kServerDateSql);
    if (rc != 0) return rc;
    today.assign(date.day.c_str());
    return 0;
}
