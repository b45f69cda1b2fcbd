// The demo data set tells the story its header promises: the run over
// sql/demo.sql carries, refuses, cancels and checks as tools/demo shows.
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using Bookings = std::vector<std::string>;

// Loads a script of sql/ as tools/demo does: through unixODBC's isql, one
// statement a line, comments and blank lines dropped, the schema named QRV. On the FreeTDS route
// this is isql through FreeTDS, as an operator would set up data by hand.
void loadWithIsql(kt::StandinDb& db, const std::string& path) {
    std::string script;
    std::istringstream in(kt::readFile(path));
    for (std::string line; std::getline(in, line);) {
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line.compare(first, 2, "--") == 0) continue;
        for (std::size_t at; (at = line.find("$(SCHEMA)")) != std::string::npos;)
            line.replace(at, 9, "QRV");
        script += line + "\n";
    }
    kt::RunResult r =
        kt::runProgram({"/usr/bin/isql", "-b", db.dsn(), kt::kTestLogin, kt::kTestPassword}, "",
                       kt::clientEnv(), script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // isql's exit status does not show a failed statement; its stderr does.
    ASSERT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
}

TEST(FollowUpDemo, DemoDataTellsItsStory) {
    const std::string demo = kt::sourceDir() + "/sql/demo.sql";
    for (const bool byIsql : {false, true}) {
        SCOPED_TRACE(byIsql ? "loaded by isql" : "loaded by the test support");
        fu::Batch batch({}, !byIsql);
        if (byIsql) {
            loadWithIsql(batch.db(), kt::sourceDir() + "/sql/schema.sql");
            loadWithIsql(batch.db(), demo);
        } else {
            batch.db().execFile(demo);
        }
        fu::Outcome o = batch.run();

        EXPECT_EQ(o.tgb, fu::tgbLine("1001") + fu::tgbLine("1003") + fu::tgbLine("1004"));
        EXPECT_EQ(o.log, fu::generated("1001", 1, "KF") + fu::prevails("1002", "UR") +
                             fu::generated("1003", 1, "KF") + fu::generated("1004", 2, "AF") +
                             fu::targetTimeRefused("1005", "AF"));

        EXPECT_EQ(batch.accBookings("1001"), Bookings{"00:00:00 1 KF"});
        EXPECT_EQ(batch.accBookings("1002"), Bookings{"00:00:00 1 UR"});
        EXPECT_EQ(batch.accBookings("1003"), (Bookings{"00:00:00 1 KF", "00:00:00 45 GL"}));
        EXPECT_EQ(batch.accBookings("1004"), Bookings{"00:00:00 2 AF"});
        EXPECT_EQ(batch.accBookings("1005"), Bookings{});
        EXPECT_EQ(batch.accBookings("1006"), Bookings{});

        EXPECT_EQ(batch.slots("1001"), "KF:480 :0 :0");
        EXPECT_EQ(batch.slots("1002"), ":0 :0 :0");
        EXPECT_EQ(batch.slots("1003"), "KF:480 :0 :0");
        EXPECT_EQ(batch.slots("1004"), ":0 AF:240 :0");
        EXPECT_EQ(batch.slots("1005"), ":0 :0 :0");
    }
}

// The next night carries Monday's follow-up on once more: a generated
// booking with function 1 makes its day a day with day messages, and KF
// follows itself.
TEST(FollowUpDemo, FollowUpIsCarriedOnTheNextNight) {
    fu::Batch batch;
    batch.db().execFile(kt::sourceDir() + "/sql/demo.sql");
    batch.load(fu::accDay("1001", 480, "20260310") + fu::rule("1001", {}, "20260310"));
    batch.run();
    batch.arm({{"ServerTime", "2026-03-11 02:30:00"}});
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.tgb, fu::tgbLine("1001", "10.03.2026"));
    EXPECT_EQ(batch.bookings("1001"), (Bookings{"20260306 00:00:00 1 KR", "20260309 00:00:00 1 KF",
                                                "20260310 00:00:00 1 KF"}));
    EXPECT_EQ(batch.slots("1001", "20260310"), "KF:480 :0 :0");
}

}  // namespace
