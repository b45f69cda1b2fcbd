// Shared pieces of the follow-up end-to-end tests: T-SQL fixture lines for
// message types, working-time rules, day records and bookings, one run of
// the real batch against a stand-in database, and readers for what the run
// left behind. The stand-in's clock stands at 2026-03-10 02:30:00, so the
// accounting day is Monday 2026-03-09 (compact 20260309).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace fu {

inline constexpr const char* kAccDay = "20260309";
inline constexpr const char* kServerTime = "2026-03-10 02:30:00";

inline std::string quoted(const std::optional<std::string>& v) {
    return v ? "'" + *v + "'" : "NULL";
}

// One message type. flg and fcd default to NULL.
struct Type {
    std::string num{};
    int typ = 1, zwt = 1, stdv = 0, sol = 0, pri = 10, gpu = 0;
    std::optional<int> fcd = std::nullopt;
    std::optional<std::string> flg = std::nullopt;
};

inline std::string type(const Type& t) {
    return "INSERT INTO $(SCHEMA).Qrv131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, "
           "FcdGpu, FcdFcd, FcdFlg) VALUES ('" +
           t.num + "', " + std::to_string(t.typ) + ", " + std::to_string(t.zwt) + ", " +
           std::to_string(t.stdv) + ", " + std::to_string(t.sol) + ", " + std::to_string(t.pri) +
           ", " + std::to_string(t.gpu) + ", " + (t.fcd ? std::to_string(*t.fcd) : "NULL") + ", " +
           quoted(t.flg) + ")\n";
}

// A working-time rule assigned to pnr on day (the batch reads only an
// assignment dated exactly on the accounting day).
struct Rule {
    int sol = 480, so2 = 300, vhs = 20, hso = 230, hs2 = 150, htv = 7;
};

inline std::string rule(const std::string& pnr, const Rule& r = {},
                        const std::string& day = kAccDay) {
    std::string num = "R" + pnr;
    return "INSERT INTO $(SCHEMA).Qrv140Azv (AzvNum, AzvGvo, AzvGbi, AzvSta, AzvSol, AzvSo2, "
           "AzvVhs, AzvHso, AzvHs2, AzvHtv) VALUES ('" +
           num + "', '20260101', NULL, 0, " + std::to_string(r.sol) + ", " + std::to_string(r.so2) +
           ", " + std::to_string(r.vhs) + ", " + std::to_string(r.hso) + ", " +
           std::to_string(r.hs2) + ", " + std::to_string(r.htv) + ")\n" +
           "INSERT INTO $(SCHEMA).Qrv329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES ('" + pnr +
           "', '" + day + "', '" + num + "', 0)\n";
}

// A closed earlier day (window 06:00 to 22:00) with its day plan; tgb is the
// code of message slot 1, which the search reads.
inline std::string day(const std::string& pnr, const std::string& date,
                       const std::optional<std::string>& tgb = std::nullopt, int sol = 480) {
    return "INSERT INTO $(SCHEMA).Qrv320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('" + pnr +
           "', '" + date + "', 1, " + std::to_string(sol) + ")\n" +
           "INSERT INTO $(SCHEMA).Qrv327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, "
           "TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns) VALUES ('" +
           pnr + "', '" + date + "', '" + date + "', '" + date + " 06:00:00', '" + date + "', '" +
           date + " 22:00:00', " + quoted(tgb) + ", 0, NULL, 0, NULL, 0)\n";
}

// The open accounting day (window 12:00:00 to 12:00:00) with its day plan.
inline std::string accDay(const std::string& pnr, int sol = 480,
                          const std::string& date = kAccDay) {
    return "INSERT INTO $(SCHEMA).Qrv320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('" + pnr +
           "', '" + date + "', 1, " + std::to_string(sol) + ")\n" +
           "INSERT INTO $(SCHEMA).Qrv327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, "
           "TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns) VALUES ('" +
           pnr + "', '" + date + "', '" + date + "', '" + date + " 12:00:00', '" + date + "', '" +
           date + " 12:00:00', NULL, 0, NULL, 0, NULL, 0)\n";
}

// A booking; time is hh:mm:ss and stored with its date, as the batch does.
inline std::string booking(const std::string& pnr, const std::string& date, const std::string& time,
                           int fkt, const std::optional<std::string>& fcd) {
    return "INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchSta, "
           "BchErf) VALUES ('" +
           pnr + "', '" + date + "', '" + date + " " + time + "', " + std::to_string(fkt) + ", " +
           quoted(fcd) + ", 0, 'Terminal')\n";
}

// What a run left behind.
struct Outcome {
    kt::RunResult result;
    std::string log;  // kelbor.log without the run's time stamp line
    std::string tgb;  // kelbortgb
    bool tgbExists = false;
};

// Removes the empty line and the "Datum: ..." line every logging run starts with.
inline std::string withoutTimeStamp(const std::string& log) {
    std::string out;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t nl = log.find('\n', pos);
        size_t end = nl == std::string::npos ? log.size() : nl + 1;
        std::string line = log.substr(pos, end - pos);
        bool stamp = line.rfind("Datum: ", 0) == 0;
        if (stamp && !out.empty() && out.back() == '\n' &&
            (out.size() == 1 || out[out.size() - 2] == '\n')) {
            out.pop_back();  // the empty line in front of the stamp
        }
        if (!stamp) out += line;
        pos = end;
    }
    return out;
}

// A fresh stand-in database with the tables, in a fresh working folder.
class Batch {
  public:
    // Without the schema the test loads it itself (through isql, say).
    explicit Batch(std::map<std::string, std::string> keys = {}, bool withSchema = true)
        : db_(withClock(std::move(keys))) {
        if (withSchema) db_.loadSchema();
    }

    kt::StandinDb& db() { return db_; }
    const kt::TempDir& work() const { return work_; }

    void load(const std::string& fixture) { db_.exec(fixture); }

    // Switches fault injection on for the batch's run, after the fixture
    // is loaded (the fixture's own statements must not trip it).
    void arm(const std::map<std::string, std::string>& faults) { db_.setKeys(faults); }

    // Runs "kelbor kelbor.ini <param2> <param3>" in the working folder.
    Outcome run(const std::string& param2 = "XXX", const std::string& param3 = "D",
                const std::map<std::string, std::string>& env = {},
                const std::vector<std::string>& unset = {"KELBOR_DBG"}) {
        Outcome o = runHere({kt::kelborBinary(), ini(), param2, param3}, env, unset);
        EXPECT_EQ(o.result.exitCode, 0) << o.result.err;
        return o;
    }

    // Runs "kelbor-catchup kelbor.ini <day> XXX D" in the working folder.
    Outcome catchUp(const std::string& day) {
        return runHere({kt::catchupBinary(), ini(), day, "XXX", "D"}, {}, {"KELBOR_DBG"});
    }

  private:
    // The configuration file, written for the data source when missing.
    std::string ini() {
        std::string path = work_.file("kelbor.ini");
        if (!kt::fileExists(path)) kt::writeConfig(path, "demo", "demo-pw", db_.dsn(), "qrv");
        return path;
    }

    Outcome runHere(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env,
                    const std::vector<std::string>& unset) {
        Outcome o;
        o.result = kt::runProgram(argv, work_.path(), env, "", unset);
        if (kt::fileExists(work_.file("kelbor.log"))) {
            o.log = withoutTimeStamp(kt::readWritten(work_.file("kelbor.log")));
        }
        o.tgbExists = kt::fileExists(work_.file("kelbortgb"));
        if (o.tgbExists) o.tgb = kt::readWritten(work_.file("kelbortgb"));
        return o;
    }

  public:
    // The person's bookings as "yyyymmdd hh:mm:ss fkt fcd", oldest first.
    std::vector<std::string> bookings(const std::string& pnr) {
        std::vector<std::string> out;
        for (const auto& r : db_.query(
                 "SELECT CONVERT(char(8), BchVon, 112), CONVERT(char(8), BchUhr, 114), BchFkt, "
                 "COALESCE(BchFcd, '') FROM QRV.Qrv321Bch WHERE BchPnr = '" +
                 pnr + "' ORDER BY BchVon, BchUhr, BchFkt")) {
            out.push_back(r[0] + " " + r[1] + " " + r[2] + " " + trim(r[3]));
        }
        return out;
    }

    // The person's bookings on the accounting day.
    std::vector<std::string> accBookings(const std::string& pnr) {
        std::vector<std::string> out;
        for (const auto& b : bookings(pnr)) {
            if (b.rfind(kAccDay, 0) == 0) out.push_back(b.substr(9));
        }
        return out;
    }

    // The accounting day's three message slots as "tgb:tgs htv:hvs htn:hns".
    std::string slots(const std::string& pnr, const std::string& date = kAccDay) {
        auto rows = db_.query(
            "SELECT COALESCE(TagTgb, ''), TagTgs, COALESCE(TagHtv, ''), TagHvs, "
            "COALESCE(TagHtn, ''), TagHns FROM QRV.Qrv327Tag WHERE TagPnr = '" +
            pnr + "' AND TagTag = CONVERT(datetime, '" + date + "', 112)");
        if (rows.size() != 1) return "no day record";
        const auto& r = rows[0];
        return trim(r[0]) + ":" + r[1] + " " + trim(r[2]) + ":" + r[3] + " " + trim(r[4]) + ":" +
               r[5];
    }

  private:
    static std::map<std::string, std::string> withClock(std::map<std::string, std::string> keys) {
        keys.emplace("ServerTime", kServerTime);
        return keys;
    }
    static std::string trim(std::string s) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    }

    kt::StandinDb db_;
    kt::TempDir work_;
};

// Log lines of the generation, as the batch writes them.
inline std::string inserted(const std::string& pnr, int fkt, const std::string& fcd, int rc = 0) {
    return std::string(rc == 0 ? "Info: Buchung eingepflegt! "
                               : "Fehler(Bch_Insert): Buchung einpflegen! ") +
           "RC:" + std::to_string(rc) + " Pnr:" + pnr + " Tag:" + kAccDay +
           " Fkt:" + std::to_string(fkt) + " Fcd:" + fcd + "\n";
}

inline std::string updated(const std::string& pnr, int rc = 0) {
    return std::string(rc == 0 ? "Info: TagesSatz aktualisiert! "
                               : "Fehler(Tag_Update): TagesSatz aktualisieren! ") +
           "RC:" + std::to_string(rc) + " Pnr:" + pnr + " Tag:" + kAccDay + "\n";
}

inline std::string generated(const std::string& pnr, int fkt, const std::string& fcd) {
    return inserted(pnr, fkt, fcd) + updated(pnr);
}

inline std::string prevails(const std::string& pnr, const std::string& fcd) {
    return "Info: (Fcd) in BchSatz hat h\xF6"
           "here Priorit\xE4"
           "t Pnr:" +
           pnr + " Tag:" + kAccDay + " Fcd:" + fcd + "\n";
}

inline std::string targetTimeRefused(const std::string& pnr, const std::string& fcd) {
    return "Info: Folgemeldungsart mit Sollzeitpr\xFC"
           "fung! Pnr:" +
           pnr + " Tag:" + kAccDay + " KelBor:" + fcd + "\n";
}

inline std::string noRule(const std::string& pnr) {
    return "Fehler(Azv_Read): Arbeitszeitvorgaben lesen RC:100 Pnr:" + pnr + " Tag:" + kAccDay +
           "\n";
}

inline std::string tgbLine(const std::string& pnr, const std::string& date = "09.03.2026") {
    std::string p = pnr;
    p.resize(8, ' ');
    return p + "," + date + "\n";
}

// Message types most cases share: KR (sick) followed by KF, which follows
// itself; UR (vacation, higher priority, no follow-up); GL (flexi day, lower
// priority); AR (doctor, hourly) followed by AF.
inline std::string commonTypes() {
    return type({.num = "KR", .flg = "KF"}) + type({.num = "KF", .flg = "KF"}) +
           type({.num = "UR", .pri = 5}) + type({.num = "GL", .pri = 30}) +
           type({.num = "AR", .typ = 0, .zwt = 0, .pri = 40, .flg = "AF"}) +
           type({.num = "AF", .typ = 2, .pri = 15});
}

// A person sick on Friday 2026-03-06 (KR booking, KR in slot 1), the weekend
// without messages, the accounting day open, and a full-time rule.
inline std::string sickSinceFriday(const std::string& pnr) {
    return day(pnr, "20260306", "KR") + booking(pnr, "20260306", "00:00:00", 1, "KR") +
           day(pnr, "20260307", std::nullopt, 0) + day(pnr, "20260308", std::nullopt, 0) +
           accDay(pnr) + rule(pnr);
}

// The fault matrix's two people, on whom every statement of the batch runs:
// 1001 sick since Friday, with an unnamed booking, a GL that gives way and an
// older cancellation in the way on the accounting day; 1002 with an hourly AR
// on Friday that is carried forward as AF.
inline std::string twoPeopleNight() {
    return commonTypes() + sickSinceFriday("1001") +
           booking("1001", kAccDay, "07:00:00", 1, std::nullopt) +
           booking("1001", kAccDay, "08:00:00", 1, "GL") +
           booking("1001", kAccDay, "08:00:00", 45, "UR") + day("1002", "20260306") +
           booking("1002", "20260306", "15:00:00", 24, "AR") + accDay("1002") + rule("1002");
}

}  // namespace fu
