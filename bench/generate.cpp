// kelbor-bench-gen: writes a synthetic time-recording database of N
// employees with D days of history each, for the benchmark (bench/run).
//
//   kelbor-bench-gen --db FILE --schema-file sql/schema.sql --employees N --days D
//                    [--seed S] [--server-time "yyyy-mm-dd hh:mm:ss"]
//
// The data goes through the stand-in's engine as T-SQL (the same path a
// client's statements take), in transactions of multi-row INSERTs.
//
// What a night of the batch finds in it, per employee:
// - one day record and one day-plan row (TgbZtr 1) for every calendar day;
//   closed days have the window 06:00:00 to 22:00:00, the accounting day
//   (the day before the server's date) has the open window 12:00:00 to
//   12:00:00;
// - on working days a come and a go booking (codes 11 and 12, which the
//   batch's statements never name), now and then an errand or a doctor's
//   visit (hourly codes 21 to 25, 29, 30, 0), sometimes a cancelled
//   booking (45);
// - absence spells: sickness (KR, then the follow-ups KF an earlier night
//   would have generated), vacation (UR), flexi days (GL), special leave
//   (SU, passed over once by the search), half days (HU, slot 2), each as
//   a day-message booking (1 or 2) with the code in the day's slot;
// - a working-time rule assignment at the start, at each rule change and
//   on the accounting day for most employees.
//
// Deterministic for a seed: each employee draws from a generator seeded by
// (seed, employee), and the life of every employee is simulated from a
// fixed date ten years back, so the 365-day database holds exactly the last
// 365 days of the 1,460-day one, and the 500-employee database the first
// 500 employees of the 2,000-employee one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "standin/engine.h"

namespace {

// splitmix64: small, fast and the same on every platform (the standard
// distributions are not).
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }

  private:
    std::uint64_t state_;
};

// Days since 1970-01-01 and back (proleptic Gregorian).
long daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int y, m, d;
};

Civil civilFromDays(long z) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {static_cast<int>(yoe + era * 400 + (m <= 2)), m, d};
}

std::string dateText(long day) {
    const Civil c = civilFromDays(day);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", c.y, c.m, c.d);
    return buf;
}

std::string stamp(long day, int seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "'%s %02d:%02d:%02d'", dateText(day).c_str(), seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return buf;
}

bool isWeekend(long day) {
    const long weekday = ((day % 7) + 7 + 3) % 7;  // 0 = Monday; 1970-01-01 was a Thursday
    return weekday >= 5;
}

constexpr int hms(int h, int m, int s = 0) {
    return h * 3600 + m * 60 + s;
}

// Collects the rows of one table and sends them as multi-row INSERTs.
class Inserter {
  public:
    Inserter(standin::Engine& engine, std::string head) : engine_(engine), head_(std::move(head)) {}
    void add(const std::string& row) {
        text_ += (count_ == 0 ? head_ : ", ") + row;
        ++rows_;
        if (++count_ == kRowsPerStatement) flush();
    }
    void flush() {
        if (count_ == 0) return;
        run(engine_, text_);
        text_.clear();
        count_ = 0;
    }
    long rows() const { return rows_; }

    static void run(standin::Engine& engine, const std::string& sql) {
        const standin::Result r = engine.execute(sql);
        if (r.status == standin::Status::Error) {
            std::cerr << "kelbor-bench-gen: " << r.diags.at(0).message
                      << "\n  in: " << sql.substr(0, 300) << "\n";
            std::exit(1);
        }
    }

  private:
    static constexpr int kRowsPerStatement = 400;
    standin::Engine& engine_;
    std::string head_;
    std::string text_;
    int count_ = 0;
    long rows_ = 0;
};

struct Tables {
    Inserter tag, tgb, bch, ztg;
    explicit Tables(standin::Engine& e)
        : tag(e,
              "INSERT INTO QRV.Qrv327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, "
              "TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns) VALUES "),
          tgb(e, "INSERT INTO QRV.Qrv320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES "),
          bch(e,
              "INSERT INTO QRV.Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchBis, BchVws, "
              "BchFcd, BchZwt, BchAbt, BchKst, BchSta, BchErf, BchDat) VALUES "),
          ztg(e, "INSERT INTO QRV.Qrv329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES ") {}
    void flush() {
        tag.flush();
        tgb.flush();
        bch.flush();
        ztg.flush();
    }
    long rows() const { return tag.rows() + tgb.rows() + bch.rows() + ztg.rows(); }
};

struct Rule {
    const char* number;
    int minutes;
};
constexpr Rule kRules[] = {{"VZ40", 480}, {"VZ38", 456}, {"TZ30", 360}, {"TZ20", 240}};

// The master data: message types and working-time rules.
void writeMasterData(standin::Engine& engine) {
    Inserter::run(
        engine,
        "INSERT INTO QRV.Qrv131Fcd (FcdNum, FcdBez, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, "
        "FcdGpu, FcdFcd, FcdFlg) VALUES "
        "('KR', 'Krank', 1, 1, 0, 0, 10, 0, NULL, 'KF'), "
        "('KF', 'Krank Folgetag', 1, 1, 0, 0, 10, 0, NULL, 'KF'), "
        "('UR', 'Urlaub', 1, 1, 0, 0, 5, 0, NULL, NULL), "
        "('GL', 'Gleittag', 1, 1, 0, 0, 30, 0, NULL, NULL), "
        "('SU', 'Sonderurlaub', 1, 1, 0, 0, 6, 0, 24, NULL), "
        "('HU', 'Halber Urlaubstag', 2, 1, 0, 0, 20, 0, NULL, NULL), "
        "('KV', 'Krank vormittags', 2, 1, 0, 0, 11, 1, NULL, 'KN'), "
        "('KN', 'Krank Folgetag halb', 3, 1, 0, 1, 11, 1, NULL, NULL), "
        "('AR', 'Arztbesuch', 0, 0, 0, 0, 40, 0, NULL, 'AF'), "
        "('AF', 'Arzt Folgetag', 2, 16, 0, 1, 15, 0, NULL, NULL), "
        "('DG', 'Dienstgang', 0, 0, 0, 0, 50, 0, NULL, NULL), "
        "('BS', 'Berufsschule', 0, 14, 240, 0, 45, 0, NULL, 'BF'), "
        "('BF', 'Berufsschule Folgetag', 3, 14, 240, 0, 45, 2, NULL, NULL)");
    Inserter::run(engine,
                  "INSERT INTO QRV.Qrv140Azv (AzvNum, AzvGvo, AzvGbi, AzvSta, AzvSol, AzvSo2, "
                  "AzvVhs, AzvHso, AzvHs2, AzvHtv) VALUES "
                  "('VZ40', '19900101', '20091231', 4, 480, 480, 0, 240, 240, 0), "
                  "('VZ40', '20100101', NULL, 0, 480, 480, 15, 240, 240, 10), "
                  "('VZ38', '19900101', NULL, 0, 456, 456, 15, 228, 228, 10), "
                  "('TZ30', '19900101', NULL, 0, 360, 360, 0, 180, 180, 0), "
                  "('TZ20', '19900101', NULL, 0, 240, 240, 0, 120, 120, 0)");
}

enum class Absence { None, Sick, Vacation, Flexi, Special, HalfDay, HalfSick };

struct Spell {
    Absence kind = Absence::None;
    int daysLeft = 0;
    bool first = false;
};

// One employee's life from `simStart` to the accounting day; rows are
// written for the days from `firstDay` on.
void writeEmployee(Tables& t, Rng& rng, int index, long simStart, long firstDay, long accDay) {
    char pnrBuf[16];
    std::snprintf(pnrBuf, sizeof pnrBuf, "%08d", 10000 + index);
    const std::string pnr = std::string("'") + pnrBuf + "'";
    int rule = rng.below(4);
    const bool worksMonday = rng.chance(0.9);  // part-timers with Monday off have target 0
    Spell spell;
    // Every draw happens whether or not its day is written, so the days
    // written are the same whatever the history length.
    bool emit = false;
    auto booking = [&](long day, int seconds, int fkt, const char* fcd, const char* author) {
        if (!emit) return;
        const std::string date = dateText(day);
        const std::string at = stamp(day, seconds);
        char fcdText[8] = "NULL";
        if (fcd[0] != 0) std::snprintf(fcdText, sizeof fcdText, "'%s'", fcd);
        char row[256];
        std::snprintf(row, sizeof row,
                      "(%s, '%s', %s, %d, '%s', NULL, %s, 0, 'Abt-07', 'KST 4711', 1, '%s', %s)",
                      pnr.c_str(), date.c_str(), at.c_str(), fkt, date.c_str(), fcdText, author,
                      at.c_str());
        t.bch.add(row);
    };
    for (long day = simStart; day <= accDay; ++day) {
        emit = day >= firstDay;
        const bool acc = day == accDay;
        const bool weekend = isWeekend(day);
        // Rule changes: a few per decade, each a new assignment row (a few
        // of them withdrawn, status 4); the first day written gets the rule
        // in force.
        if (day > simStart && !acc && rng.chance(1.0 / 400)) {
            rule = rng.below(4);
            const char* status = rng.chance(0.05) ? "4" : "1";
            if (emit && day > firstDay) {
                t.ztg.add("(" + pnr + ", '" + dateText(day) + "', '" + kRules[rule].number + "', " +
                          status + ")");
            }
        }
        if (day == firstDay) {
            t.ztg.add("(" + pnr + ", '" + dateText(day) + "', '" + kRules[rule].number + "', 0)");
        }
        if (spell.daysLeft == 0) {
            spell = Spell{};
            if (!weekend) {
                const int roll = rng.below(10000);
                if (roll < 120) {
                    spell = {Absence::Sick, rng.between(1, 12), true};
                } else if (roll < 330) {
                    spell = {Absence::Vacation, rng.between(1, 14), true};
                } else if (roll < 420) {
                    spell = {Absence::Flexi, 1, true};
                } else if (roll < 450) {
                    spell = {Absence::Special, rng.between(1, 2), true};
                } else if (roll < 520) {
                    spell = {Absence::HalfDay, 1, true};
                } else if (roll < 545) {
                    spell = {Absence::HalfSick, 1, true};
                }
            }
        }
        const int target = weekend || (acc && !worksMonday) ? 0 : kRules[rule].minutes;
        std::string slot1 = "NULL, 0", slot2 = "NULL, 0";
        bool present = !weekend;
        // The accounting day is what the batch works on: only what people
        // entered beforehand is there (planned vacation and flexi days, the
        // bookings of the day); sickness follow-ups are the batch's job.
        if (spell.kind != Absence::None) {
            const char* code = "";
            int fkt = 1;
            const char* author = "Terminal";
            switch (spell.kind) {
                case Absence::Sick:
                    code = spell.first ? "KR" : "KF";
                    author = spell.first ? "Personal" : "Quorvel";
                    present = false;
                    break;
                case Absence::Vacation:
                    code = "UR";
                    present = false;
                    break;
                case Absence::Flexi:
                    code = "GL";
                    present = false;
                    break;
                case Absence::Special:
                    code = "SU";
                    present = false;
                    break;
                case Absence::HalfDay:
                    code = "HU";
                    fkt = 2;
                    break;
                case Absence::HalfSick:
                    code = "KV";
                    fkt = 2;
                    break;
                case Absence::None:
                    break;
            }
            // Vacation and sickness spells run through weekends as
            // calendar days; only sickness is booked on them.
            const bool booked =
                !(weekend && spell.kind != Absence::Sick) && !(acc && spell.kind == Absence::Sick);
            if (emit && booked) {
                booking(day, 0, fkt, code, author);
                const std::string value =
                    std::to_string(fkt == 1 ? kRules[rule].minutes : kRules[rule].minutes / 2);
                (fkt == 1 ? slot1 : slot2) = "'" + std::string(code) + "', " + value;
            }
            spell.first = false;
            --spell.daysLeft;
        }
        // Attendance and hourly messages. The accounting day's bookings are
        // those of the morning the batch runs after, so every kind occurs.
        if (present) {
            const int come = hms(6, 30) + rng.below(2 * 3600);
            int go = hms(15, 0) + rng.below(3 * 3600);
            booking(day, come, 11, "", "Terminal");
            const int roll = rng.below(1000);
            bool leftEarly = false;
            if (roll < 25) {  // doctor's visit in the afternoon, often without return
                const int leave = hms(13, 0) + rng.below(2 * 3600);
                booking(day, leave, 24, "AR", "Terminal");
                leftEarly = rng.chance(0.6);
                if (!leftEarly) booking(day, leave + 3600 + rng.below(3600), 25, "AR", "Terminal");
            } else if (roll < 60) {  // errand with return
                const int leave = hms(9, 0) + rng.below(3 * 3600);
                booking(day, leave, 21, "DG", "Terminal");
                booking(day, leave + 1800 + rng.below(7200), 22, "DG", "Terminal");
            } else if (roll < 70) {  // vocational school, the whole afternoon
                booking(day, hms(12, 0), 23, "BS", "Personal");
                leftEarly = true;
            } else if (roll < 80) {
                booking(day, hms(12, 30) + rng.below(1800), 30, "DG", "Terminal");
            } else if (roll < 85) {
                booking(day, hms(11, 0) + rng.below(1800), 29, "", "Terminal");
            } else if (roll < 90) {
                booking(day, hms(10, 0) + rng.below(1800), 0, "", "Personal");
            }
            if (rng.chance(0.01)) booking(day, come + 60, 45, "", "Personal");
            if (!leftEarly) booking(day, go, 12, "", "Terminal");
        } else if (!weekend && rng.chance(0.003)) {
            booking(day, hms(8, 0), 45, "", "Personal");  // a come booking taken back
        }
        if (!emit) continue;
        std::string date = "'";
        date.append(dateText(day)).push_back('\'');
        if (acc) {
            t.tag.add("(" + pnr + ", " + date + ", " + date + ", " + stamp(day, hms(12, 0)) + ", " +
                      date + ", " + stamp(day, hms(12, 0)) + ", NULL, 0, NULL, 0, NULL, 0)");
            if (rng.chance(0.9)) {
                t.ztg.add("(" + pnr + ", " + date + ", '" + kRules[rule].number + "', 1)");
            }
        } else {
            t.tag.add("(" + pnr + ", " + date + ", " + date + ", " + stamp(day, hms(6, 0)) + ", " +
                      date + ", " + stamp(day, hms(22, 0)) + ", " + slot1 + ", " + slot2 +
                      ", NULL, 0)");
        }
        t.tgb.add("(" + pnr + ", " + date + ", 1, " + std::to_string(target) + ")");
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "kelbor-bench-gen: cannot read " << path << "\n";
        std::exit(1);
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// sql/schema.sql: one statement per line, $(SCHEMA) as the placeholder.
void loadSchema(standin::Engine& engine, const std::string& path) {
    std::istringstream lines(readFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line.rfind("--", 0) == 0) continue;
        for (size_t at; (at = line.find("$(SCHEMA)")) != std::string::npos;)
            line.replace(at, 9, "QRV");
        Inserter::run(engine, line);
    }
}

[[noreturn]] void usage() {
    std::cerr << "usage: kelbor-bench-gen --db FILE --schema-file FILE --employees N --days D "
                 "[--seed S] [--server-time 'yyyy-mm-dd hh:mm:ss']\n";
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string db, schemaFile, serverTime = "2026-03-10 02:30:00";
    long employees = -1, days = -1;
    std::uint64_t seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--db") {
            db = value;
        } else if (key == "--schema-file") {
            schemaFile = value;
        } else if (key == "--employees") {
            employees = std::atol(value);
        } else if (key == "--days") {
            days = std::atol(value);
        } else if (key == "--seed") {
            seed = std::strtoull(value, nullptr, 10);
        } else if (key == "--server-time") {
            serverTime = value;
        } else {
            usage();
        }
    }
    if (argc % 2 == 0 || db.empty() || schemaFile.empty() || employees < 1 || days < 1 ||
        serverTime.size() < 10) {
        usage();
    }
    std::remove(db.c_str());
    standin::Diag error;
    auto engine = standin::Engine::open({db, serverTime}, &error);
    if (!engine) {
        std::cerr << "kelbor-bench-gen: " << error.message << "\n";
        return 1;
    }
    loadSchema(*engine, schemaFile);
    const long today = daysFromCivil(std::atoi(serverTime.substr(0, 4).c_str()),
                                     std::atoi(serverTime.substr(5, 2).c_str()),
                                     std::atoi(serverTime.substr(8, 2).c_str()));
    const long accDay = today - 1;
    const long firstDay = accDay - days;
    const long simStart = std::min(firstDay, accDay - 3653);

    Inserter::run(*engine, "BEGIN TRAN");
    writeMasterData(*engine);
    Tables tables(*engine);
    for (long e = 0; e < employees; ++e) {
        Rng rng(seed * 0x100000001B3ULL + static_cast<std::uint64_t>(e));
        writeEmployee(tables, rng, static_cast<int>(e), simStart, firstDay, accDay);
        if (e % 50 == 49) {
            tables.flush();
            Inserter::run(*engine, "COMMIT");
            Inserter::run(*engine, "BEGIN TRAN");
        }
    }
    tables.flush();
    Inserter::run(*engine, "COMMIT");
    std::cout << tables.rows() + 18 << "\n";  // rows written, master data included
    return 0;
}
