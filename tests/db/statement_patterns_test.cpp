// The statement patterns' buffer against the stand-in: a statement that
// fills it to the last byte runs; one that would be cut runs nothing.
#include <cstdint>
#include <cstring>
#include <string>

#include "db/statement_patterns.h"
#include "tests/db/db_fixture.h"

namespace {

using dbtest::DbTest;

TEST_F(DbTest, StatementThatWouldBeCutRunsNothing) {
    const ColumnSpec value[] = {{1, SQL_C_LONG, 4, ColumnForm::Number, 0, sizeof(std::int32_t)}};
    std::int32_t got = 0;
    std::string blanks(kStatementCapacity - 1 - std::strlen("SELECT 7"), ' ');
    EXPECT_EQ(lookupRow(value, &got, "SELECT 7%s", blanks.c_str()), 0);
    EXPECT_EQ(got, 7);

    blanks += ' ';
    got = 0;
    diagRecord.NativeError = 4711;
    EXPECT_EQ(lookupRow(value, &got, "SELECT 7%s", blanks.c_str()), -1);
    EXPECT_EQ(executeWrite("SET NOCOUNT OFF%s", blanks.c_str()), -1);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(diagRecord.NativeError, 4711) << "a statement reached the server";
}

}  // namespace
