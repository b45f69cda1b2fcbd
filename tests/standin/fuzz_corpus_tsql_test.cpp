// The kept fuzz corpus of the stand-in's T-SQL front, replayed through the
// entry function the fuzz target calls, on a database with the project's
// tables: every input must run to a result or a diagnostic, never crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/tsql_entry.h"
#include "tests/support/support.h"

namespace {

TEST(FuzzCorpus, TsqlFront) {
    kt::TempDir dir;
    auto engine =
        fuzz::openEngine(dir.file("db.sqlite"), kt::readFile(kt::sourceDir() + "/sql/schema.sql"));
    ASSERT_TRUE(engine);
    std::size_t n = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(kt::sourceDir() + "/fuzz/corpus/tsql")) {
        SCOPED_TRACE(entry.path().string());
        std::string input = kt::readFile(entry.path());
        fuzz::tsql(*engine, reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        ++n;
    }
    EXPECT_GT(n, 10u);
    // The rollback after every input leaves the tables as the schema made them.
    auto result = engine->execute("SELECT COUNT(*) FROM QRV.Qrv321Bch");
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.rows[0][0].value_or("NULL"), "0");
}

}  // namespace
