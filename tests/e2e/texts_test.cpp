// Texts in Windows-1252 travel byte for byte: from the database into the
// batch, from the batch into the database and its log. On the FreeTDS
// route they cross the wire as UCS-2, so the data source's ClientCharset
// decides whether they come back as they were.
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

// A follow-up code of three characters outside ASCII, among them two that
// Latin-1 lacks (the euro sign and Y with diaeresis).
const std::string kCode =
    "\x80"
    "\xFC"
    "\x9F";

TEST(Texts, Windows1252CodesReachTheDatabaseAndTheLogUnchanged) {
    fu::Batch batch;
    batch.load(fu::type({.num = "KR", .flg = kCode}) + fu::type({.num = kCode, .flg = kCode}) +
               fu::sickSinceFriday("1001"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.log, fu::generated("1001", 1, kCode));
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 " + kCode});
    EXPECT_EQ(batch.slots("1001"), kCode + ":480 :0 :0");

    // The file itself, read by the stand-in driver: a conversion that is
    // wrong both ways would pass the checks above.
    kt::StandinDb direct(batch.db(), {}, kt::Route::Standin);
    EXPECT_EQ(direct.query("SELECT BchFcd FROM QRV.Qrv321Bch WHERE BchFkt = 1 AND BchVon = "
                           "CONVERT(datetime, '20260309', 112)"),
              std::vector<std::vector<std::string>>{{kCode}});
    EXPECT_EQ(direct.scalar("SELECT TagTgb FROM QRV.Qrv327Tag WHERE TagTag = CONVERT(datetime, "
                            "'20260309', 112)"),
              kCode);
}

}  // namespace
