// The requests a night sends over the network, as standin-tds logs them:
// the batch makes the driver cancel nothing on the server, closes every
// server cursor it opens, and sends each statement once. Round trips are
// counted here, never timed; bench/run prints what they cost.
#include <map>
#include <sstream>
#include <string>

#include "tests/e2e/followup_e2e.h"

namespace {

TEST(RoundTrips, TheBatchCancelsNothingAndClosesEveryCursor) {
    if (!kt::onFreeTds()) GTEST_SKIP() << "the in-process driver makes no round trips";
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    const std::string requestLog = batch.work().file("requests");
    const std::string trace = batch.work().file("trace");
    batch.arm({{"RequestLog", requestLog}, {"Trace", trace}});
    fu::Outcome o = batch.run();
    ASSERT_EQ(o.tgb, fu::tgbLine("1001") + fu::tgbLine("1002"));

    std::map<std::string, int> kinds;
    std::istringstream lines(kt::readFile(requestLog));
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
        ASSERT_NE(b, std::string::npos) << line;
        ++kinds[line.substr(a + 1, b - a - 1)];
    }
    EXPECT_EQ(kinds["attention"], 0);
    EXPECT_GT(kinds["sp_cursoropen"], 0);
    EXPECT_EQ(kinds["sp_cursorclose"], kinds["sp_cursoropen"]);
    // Every statement the server ran arrived as one batch or one cursor open.
    std::istringstream traced(kt::readFile(trace));
    int statements = 0;
    while (std::getline(traced, line)) ++statements;
    EXPECT_EQ(kinds["batch"] + kinds["sp_cursoropen"], statements);
}

}  // namespace
