// The nightly wrapper's reading of a run's log entries and of the parameter
// file: what is counted, how errors are grouped, when an entry is cut off.
#include <gtest/gtest.h>

#include "tools/night_report.h"

namespace {

const std::string kEveryKind =
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
    "  Fehler(Indented) is no entry\n";

// The log with the line ends the batch writes on Windows.
std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TEST(NightReport, CountsTheRunsEntriesAndGroupsErrorsByKind) {
    RunEntries e = readRunEntries(kEveryKind);
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

TEST(NightReport, WindowsLineEndsReadAsTheSameEntries) {
    RunEntries lf = readRunEntries(kEveryKind);
    RunEntries crlf = readRunEntries(withCrLf(kEveryKind));
    EXPECT_EQ(crlf.stamp, lf.stamp);
    EXPECT_EQ(crlf.inserted, lf.inserted);
    EXPECT_EQ(crlf.refusedPriority, lf.refusedPriority);
    EXPECT_EQ(crlf.refusedTargetTime, lf.refusedTargetTime);
    EXPECT_EQ(crlf.oldCancellationsDeleted, lf.oldCancellationsDeleted);
    EXPECT_EQ(crlf.errors, lf.errors);
    EXPECT_EQ(crlf.changedDays, lf.changedDays);
    EXPECT_TRUE(crlf.complete);
    // The last field of a line carries no carriage return into its value.
    using Days = std::set<std::pair<std::string, std::string>>;
    EXPECT_EQ(
        readRunEntries("Info: Buchung eingepflegt! RC:0 Pnr:1001 Tag:20260309\r\n").changedDays,
        (Days{{"1001", "20260309"}}));
    // A last line without its line end is cut off, with or without its CR.
    EXPECT_FALSE(
        readRunEntries(withCrLf("\nDatum: 10.03.2026  Uhrzeit: 01:30:00\n") + "Info: Bu").complete);
    EXPECT_FALSE(readRunEntries(withCrLf("\nDatum: 10.03.2026  Uhrzeit: 01:30:00\nInfo: Bu") + "\r")
                     .complete);
    EXPECT_TRUE(startsWithRunStamp("\r\nDatum: 10.03.2026  Uhrzeit: 01:30:00\r\n"));
    EXPECT_FALSE(startsWithRunStamp("\r\rDatum: 10.03.2026  Uhrzeit: 01:30:00\r\n"));
    EXPECT_FALSE(startsWithRunStamp("\rDatum: 10.03.2026  Uhrzeit: 01:30:00\r\n"));
    EXPECT_EQ(readParameterLines(withCrLf("1001    ,09.03.2026\n12345678,31.12.2025\n")),
              (Days{{"1001", "20260309"}, {"12345678", "20251231"}}));
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
