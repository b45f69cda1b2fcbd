// The run driver: the parameter file "kelbortgb", the walk over the
// accounting day's records, a failing previous-day cursor, and the console
// trace under KELBOR_DBG.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::day;
using fu::type;
using Bookings = std::vector<std::string>;

TEST(FollowUpDriver, ParameterLineForms) {
    const struct {
        const char* param2;
        std::string tgb;
    } cases[] = {
        {"QUORV",
         "QRV                 ,1001    ,09.03.2026\nQRV                 ,1003    ,09.03.2026\n"},
        {"XXX", "1001    ,09.03.2026\n1003    ,09.03.2026\n"},
        {"quorv", "1001    ,09.03.2026\n1003    ,09.03.2026\n"},
        {"QUORVX", "1001    ,09.03.2026\n1003    ,09.03.2026\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.param2);
        fu::Batch batch;
        // 1002 has no earlier message and gets no line.
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") + fu::accDay("1002") +
                   fu::sickSinceFriday("1003"));
        fu::Outcome o = batch.run(c.param2);
        EXPECT_EQ(o.tgb, c.tgb);
    }
}

TEST(FollowUpDriver, DateFieldIsDayMonthYearOfTheAccountingDay) {
    const struct {
        const char* serverTime;
        const char* accDay;
        const char* prevDay;
        const char* field;
    } cases[] = {
        {"2009-09-18 01:00:00", "20090917", "20090916", "17.09.2009"},
        {"2026-01-01 00:00:00", "20251231", "20251230", "31.12.2025"},
        {"2024-03-01 23:59:59", "20240229", "20240228", "29.02.2024"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serverTime);
        fu::Batch batch(std::map<std::string, std::string>{{"ServerTime", c.serverTime}});
        batch.load(fu::commonTypes() + day("1001", c.prevDay, "KR") +
                   booking("1001", c.prevDay, "00:00:00", 1, "KR") +
                   fu::accDay("1001", 480, c.accDay) + fu::rule("1001", {}, c.accDay));
        fu::Outcome o = batch.run();
        EXPECT_EQ(o.tgb, fu::tgbLine("1001", c.field));
    }
}

TEST(FollowUpDriver, ParameterFileIsReplacedEvenWhenNothingQualifies) {
    const struct {
        const char* name;
        std::string fixture;
    } cases[] = {
        {"no day record of the accounting day", fu::commonTypes() + day("1001", "20260306", "KR")},
        {"no earlier message", fu::commonTypes() + day("1001", "20260306") + fu::accDay("1001")},
        {"a follow-up refused", fu::commonTypes() + fu::sickSinceFriday("1001") +
                                    booking("1001", fu::kAccDay, "00:00:00", 1, "UR")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(c.fixture);
        kt::writeFile(batch.work().file("kelbortgb"), "4711    ,01.01.2020\n");
        fu::Outcome o = batch.run();
        EXPECT_TRUE(o.tgbExists);
        EXPECT_EQ(o.tgb, "");
    }
}

TEST(FollowUpDriver, RunThatDoesNotConnectKeepsTheParameterFile) {
    fu::Batch batch;
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo", "NoSuchSource", "qrv");
    kt::writeFile(batch.work().file("kelbortgb"), "4711    ,01.01.2020\n");
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.tgb, "4711    ,01.01.2020\n");
}

TEST(FollowUpDriver, PreviousDayCursorFailures) {
    const struct {
        const char* name;
        std::map<std::string, std::string> faults;
        size_t handled;  // records handled before the failure
        std::string log;
    } cases[] = {
        {"open fails",
         {{"FailOn", "DATEADD"}},
         0,
         "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! RC:-1\n"
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"},
        {"fetch fails after the first record",
         {{"FailFetchOn", "DATEADD"}, {"FailFetchAfter", "1"}},
         1,
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"},
        {"fetch fails after the second record",
         {{"FailFetchOn", "DATEADD"}, {"FailFetchAfter", "2"}},
         2,
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"},
    };
    const std::vector<std::string> people{"1001", "1002", "1003"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        std::string fixture = fu::commonTypes();
        for (const auto& p : people) fixture += fu::sickSinceFriday(p);
        batch.load(fixture);
        batch.arm(c.faults);
        fu::Outcome o = batch.run();

        // The records come in the server's order: whichever were handled
        // got their follow-up and their line, in that order; the rest none.
        std::vector<std::string> handled;
        for (size_t pos = 0; pos < o.tgb.size(); pos = o.tgb.find('\n', pos) + 1) {
            handled.push_back(o.tgb.substr(pos, 4));
        }
        ASSERT_EQ(handled.size(), c.handled);
        std::string expectedLog;
        std::string expectedTgb;
        for (const auto& p : handled) {
            expectedLog += fu::generated(p, 1, "KF");
            expectedTgb += fu::tgbLine(p);
        }
        for (const auto& p : people) {
            bool done = std::find(handled.begin(), handled.end(), p) != handled.end();
            EXPECT_EQ(batch.accBookings(p), done ? Bookings{"00:00:00 1 KF"} : Bookings{}) << p;
        }
        EXPECT_EQ(o.tgb, expectedTgb);
        EXPECT_EQ(o.log, expectedLog + c.log);
    }
}

std::string dump(const std::string& tag, const std::string& von, const std::string& uhr,
                 const std::string& end, int sol, const std::string& tgb, int tgs) {
    return "\nTagPnr: 1001\nTagTag: " + tag + "\nTagVon: " + von + "\nTagUhr: " + uhr +
           "\nTagBis: " + von + "\nTagEnd: " + end + "\nTagSol: " + std::to_string(sol) +
           "\nTagTgb: " + tgb + "\nTagTgs: " + std::to_string(tgs) +
           "\nTagHtv: \nTagHvs: 0\nTagHtn: \nTagHns: 0\n\n";
}

TEST(FollowUpDriver, ConsoleTraceUnderKelborDbg) {
    // 1001 sick on Friday, and a doctor's visit running to Friday's end whose
    // follow-up AF gives way to the KF the daily rule just generated.
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::day("1001", "20260306", "KR") +
               booking("1001", "20260306", "00:00:00", 1, "KR") +
               booking("1001", "20260306", "15:00:00", 24, "AR") + fu::accDay("1001") +
               fu::rule("1001"));
    fu::Outcome o = batch.run("XXX", "X", {{"KELBOR_DBG", ""}}, {});

    const std::string accBefore = dump("20260309", "20260309", "120000", "120000", 480, "", 0);
    const std::string accAfter = dump("20260309", "20260309", "120000", "120000", 480, "KF", 480);
    const std::string last = dump("20260306", "20260306", "060000", "220000", 480, "KR", 0);
    EXPECT_EQ(o.result.out,
              "\nLesen TagSatz!\n"
              "aktueller Tagsatz!!!\n" +
                  accBefore + "\nTag mit Tagesmeldungen gefunden !\n" + last +
                  "Tag mit letzter Meldung gefungen! Pnr: 1001 Datum: 20260306!\n"
                  "\nBeginn Meldungsverarbeitung!\n"
                  "aktueller Tagsatz!!!\n" +
                  accBefore + "letzter Tagsatz!!!\n" + last +
                  "Beginn Meldung generieren!\n"
                  "Ende Meldung generieren!\n"
                  "Folgemeldung zu Mld AR einlesen!\n"
                  "Meldungsart (Satz) zu Folgemld AF lesen!\n"
                  "\nEnde Meldungsverarbeitung!\n"
                  "aktueller Tagsatz!!!\n" +
                  accAfter + "letzter Tagsatz!!!\n" + last +
                  "Parametersatz in Datei schreiben: 1001    ,09.03.2026\n!\n");
    // The log switch is off: the trace goes to the console only.
    EXPECT_EQ(kt::readFile(batch.work().file("kelbor.log")), "");
}

TEST(FollowUpDriver, NoConsoleOutputWithoutKelborDbg) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.result.out, "");
    EXPECT_EQ(o.log, fu::generated("1001", 1, "KF"));
}

}  // namespace
