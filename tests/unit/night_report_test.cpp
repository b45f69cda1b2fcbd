// The nightly wrapper's reading of a run's log entries and of the parameter
// file: what is counted, how errors are grouped, when an entry is cut off.
#include <gtest/gtest.h>

#include "tools/night_report.h"

namespace {

TEST(NightReport, CountsTheRunsEntriesAndGroupsErrorsByKind) {
    RunEntries e = readRunEntries(
        "\nDatum: 10.03.2026  Uhrzeit: 01:30:00\n"
        "Info: Buchung eingepflegt! RC:0 Pnr:1001 Tag:20260309 Fkt:1 Fcd:KF\n"
        "Fehler(Azv_Read): Arbeitszeitvorgaben lesen RC:100 Pnr:1001 Tag:20260309\n"
        "Info: TagesSatz aktualisiert! RC:0 Pnr:1001 Tag:20260309\n"
        "Info: Buchung eingepflegt! RC:0 Pnr:O'N1 Tag:20260309 Fkt:2 Fcd:AF\n"
        "Fehler: fwrite(kelbortgb)! RC:28\n"
        "Fehler(Azv_Read): Arbeitszeitvorgaben lesen RC:100 Pnr:O'N1 Tag:20260309\n"
        "Fehler ohne Art\n"
        "Info: (Fcd) in BchSatz hat h\xF6here Priorit\xE4t Pnr:1003 Tag:20260309 Fcd:UR\n"
        "Info: Folgemeldungsart mit Sollzeitpr\xFC"
        "fung! Pnr:1004 Tag:20260309 KelBor:KS\n"
        "Info: BchSatz(Storno) gel\xF6scht Pnr:1001\n"
        "  Fehler(Indented) is no entry\n");
    EXPECT_EQ(e.stamp, "10.03.2026 01:30:00");
    EXPECT_EQ(e.inserted, 2);
    EXPECT_EQ(e.refusedPriority, 1);
    EXPECT_EQ(e.refusedTargetTime, 1);
    EXPECT_EQ(e.oldCancellationsDeleted, 1);
    EXPECT_EQ(e.errorTotal, 4);
    using Kinds = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(e.errors, (Kinds{{"Azv_Read", 2}, {"fwrite(kelbortgb)", 1}, {"other", 1}}));
    EXPECT_TRUE(e.complete);
    using Days = std::set<std::pair<std::string, std::string>>;
    EXPECT_EQ(e.changedDays, (Days{{"1001", "20260309"}, {"O'N1", "20260309"}}));

    EXPECT_FALSE(readRunEntries("\nDatum: 10.03.2026  Uhrzeit: 01:30:00\nInfo: Buch").complete);
    EXPECT_TRUE(readRunEntries("").complete);
    EXPECT_TRUE(readRunEntries("").stamp.empty());
}

TEST(NightReport, RunStampAndParameterLinesInBothForms) {
    EXPECT_TRUE(startsWithRunStamp("\nDatum: 10.03.2026  Uhrzeit: 01:30:00\n"));
    EXPECT_FALSE(startsWithRunStamp("Datum: 10.03.2026  Uhrzeit: 01:30:00\n"));
    EXPECT_FALSE(startsWithRunStamp("xxxx\nDatum: 10.03.2026  Uhrzeit: 01:30:00\n"));

    using Days = std::set<std::pair<std::string, std::string>>;
    EXPECT_EQ(readParameterLines("1001    ,09.03.2026\n12345678,31.12.2025\n"),
              (Days{{"1001", "20260309"}, {"12345678", "20251231"}}));
    EXPECT_EQ(readParameterLines("QRV                 ,1001    ,09.03.2026\r\n"),
              (Days{{"1001", "20260309"}}));
    // Lines that are no parameter line name no day.
    EXPECT_EQ(readParameterLines("\ngarbage\n1001,9.3.2026\n"), Days{});
}

}  // namespace
