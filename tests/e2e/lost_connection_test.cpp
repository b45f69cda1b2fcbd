// A link that breaks in the middle of a night: standin-tds closes the
// batch's connection without a reply at a chosen request, as a lost network
// would. Only the FreeTDS route has a link to lose.
//
// The people and bookings are the fault matrix's: 1001 was sick on Friday
// (KR carried forward as KF), and on the accounting day GL gives way to an
// older cancellation at the same time (count, delete, second update); 1002
// went to the doctor on Friday afternoon (AR, the hourly rule carries AF
// forward). Each break point is found by a first run on an identical
// database that logs every request; the second run breaks at that request.
// Afterwards the run has exited 0, logged every later failure, and the
// database holds exactly what the statements before the break did. A second
// run, as an operator would start it, then shows what a rerun repairs and
// what it does not (docs/failures.md).
#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using Bookings = std::vector<std::string>;

bool containsNoCase(const std::string& text, const std::string& part) {
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

// The number of the first request whose statement contains fragment, in a
// request log of standin-tds; 0 when there is none.
int requestNumber(const std::string& requestLog, const std::string& fragment) {
    std::istringstream lines(requestLog);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (b == std::string::npos || line[0] == '-') continue;
        if (containsNoCase(line.substr(b + 1), fragment)) return std::stoi(line.substr(0, a));
    }
    return 0;
}

struct BreakPoint {
    const char* where;
    std::string fragment;  // the statement whose request finds the link broken
    std::string log;
    Bookings bookings1001;
    std::string slots1001;
    std::string tgb;  // the parameter file the broken run wrote
    // After a second run without a break.
    std::string rerunSlots1001;
    std::string rerunTgb;
};

const std::string kBoth = fu::tgbLine("1001") + fu::tgbLine("1002");
const Bookings k1001Done{"00:00:00 1 KF", "07:00:00 1 ", "08:00:00 45 GL"};

// The log lines of the failures after the break. FreeTDS reports the
// broken link as its own error 20017 (08S01, "Unexpected EOF from the
// server") on the first request, and the later requests fail at once.
const std::string kSlotsFailed = fu::updated("1001", -1);
const std::string kRestFailed =
    "Fehler(Cur_Read): Buchungen(TagesMld Vortag) lesen RC:-1 Pnr:1001 Tag:20260306\n"
    "Fehler(Cur_open): Buchungen(StdMld) lesen! RC:-1 Pnr:1001 Tag:20260306\n"
    "Fehler(Cur_Read): Buchungen(StdMld) lesen RC:-1 Pnr:1001 Tag:20260306\n"
    "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n";
const std::string kCancelled =
    "Info: BchSatz(Storno) gel\xF6"
    "scht RC:0 Pnr:1001 Tag:20260309 Fcd:GL Fkt:45 \n";

std::vector<BreakPoint> breakPoints() {
    return {
        // The failed count ends 1001's search without a find; the
        // previous-day cursor's next read then ends the run.
        {"inside the last-message-day search, at 1001's first day-message count",
         "112) AND BchFkt = 1",
         "Fehler(Search): letzten Meldungstag lesen RC:-1 Pnr:1001 Tag:20260309\n"
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n",
         {"07:00:00 1 ", "08:00:00 1 GL", "08:00:00 45 UR"},
         ":0 :0 :0",
         "",
         "KF:480 :0 :0",
         kBoth},
        {"inside the reconciliation, after GL's cancellation and before KF's insert",
         "INSERT INTO",
         kCancelled + fu::inserted("1001", 1, "KF", 20017) +
             "Fehler(Azv_Read): Arbeitszeitvorgaben lesen RC:-1 Pnr:1001 Tag:20260309\n" +
             kSlotsFailed + kRestFailed,
         {"07:00:00 1 ", "08:00:00 45 GL"},
         ":0 :0 :0",
         fu::tgbLine("1001"),
         "KF:480 :0 :0",
         kBoth},
        {"inside the generation, after KF's insert and before the day update", "QRV327Tag SET",
         kCancelled + fu::inserted("1001", 1, "KF") + kSlotsFailed + kRestFailed, k1001Done,
         ":0 :0 :0", fu::tgbLine("1001"), ":0 :0 :0", fu::tgbLine("1002")},
    };
}

TEST(LostConnection, TheRunEndsCleanlyAndKeepsWhatWasDoneBeforeTheBreak) {
    if (!kt::onFreeTds()) GTEST_SKIP() << "the in-process driver has no link to lose";
    for (const BreakPoint& p : breakPoints()) {
        SCOPED_TRACE(p.where);
        // The first run, unbroken, numbers the requests.
        fu::Batch probe;
        probe.load(fu::twoPeopleNight());
        const std::string requestLog = probe.work().file("requests");
        probe.arm({{"RequestLog", requestLog}});
        probe.run();
        const int n = requestNumber(kt::readFile(requestLog), p.fragment);
        ASSERT_GT(n, 1) << kt::readFile(requestLog);

        fu::Batch batch;
        batch.load(fu::twoPeopleNight());
        const auto before1002 = batch.bookings("1002");
        batch.arm({{"DropAfter", std::to_string(n - 1)}});
        fu::Outcome o = batch.run();
        EXPECT_EQ(o.result.exitCode, 0);
        EXPECT_EQ(o.result.out, "");
        EXPECT_EQ(o.result.err, "");
        EXPECT_EQ(o.log, p.log);
        EXPECT_EQ(batch.accBookings("1001"), p.bookings1001);
        EXPECT_EQ(batch.slots("1001"), p.slots1001);
        // 1002 comes after the break: nothing of theirs changes.
        EXPECT_EQ(batch.bookings("1002"), before1002);
        EXPECT_EQ(batch.slots("1002"), ":0 :0 :0");
        EXPECT_EQ(o.tgb, p.tgb);

        // What an operator gets by running the batch once more.
        batch.arm({{"DropAfter", "1000000"}});
        fu::Outcome again = batch.run();
        EXPECT_EQ(again.tgb, p.rerunTgb);
        EXPECT_EQ(batch.accBookings("1001"), k1001Done);
        EXPECT_EQ(batch.slots("1001"), p.rerunSlots1001);
        EXPECT_EQ(batch.accBookings("1002"), Bookings{"00:00:00 2 AF"});
        EXPECT_EQ(batch.slots("1002"), ":0 AF:240 :0");
    }
}

}  // namespace
