// Message-type and working-time-rule lookups against the stand-in.
#include <cstring>
#include <string>

#include "db/master_data.h"
#include "tests/db/db_fixture.h"

namespace {

using dbtest::DbTest;

class MasterDataTest : public DbTest {
  protected:
    void SetUp() override {
        DbTest::SetUp();
        db().exec(R"(
INSERT INTO $(SCHEMA).Qrv131Fcd VALUES ('U', 'Urlaub', 1, 2, 480, 1, 5, 1, 24, 'UF')
INSERT INTO $(SCHEMA).Qrv131Fcd VALUES ('UF', 'Folge', 2, 3, 240, 0, NULL, NULL, NULL, NULL)
INSERT INTO $(SCHEMA).Qrv131Fcd VALUES ('O''K', 'Apostroph', 3, 0, 0, 0, 7, 0, 0, 'X')
INSERT INTO $(SCHEMA).Qrv131Fcd VALUES ('BL', 'Blanks', 1, 0, 0, 0, 0, 0, 0, '   ')
)");
    }
};

TEST_F(MasterDataTest, ReadFollowUpCodeTrimsAndKeepsOutputOnNoRow) {
    FixedText<4> out{};
    out.assign("old");
    EXPECT_EQ(readFollowUpCode({"NO"}, out), SQL_NO_DATA);
    EXPECT_STREQ(out.text, "old");

    EXPECT_EQ(readFollowUpCode({"U"}, out), 0);
    EXPECT_STREQ(out.text, "UF");  // char(3) 'UF ' loses its blank
    EXPECT_EQ(readFollowUpCode({"UF"}, out), 0);
    EXPECT_STREQ(out.text, "");  // NULL
    EXPECT_EQ(readFollowUpCode({"BL"}, out), 0);
    EXPECT_STREQ(out.text, "");
    EXPECT_EQ(readFollowUpCode({"O'K"}, out), 0);
    EXPECT_STREQ(out.text, "X");
}

TEST_F(MasterDataTest, ReadMessageTypeFillsAllButTheCode) {
    MessageType type{};
    type.FcdNum.assign("U");
    EXPECT_EQ(readMessageType(type), 0);
    EXPECT_STREQ(type.FcdNum.text, "U");
    EXPECT_EQ(type.FcdTyp, 1);
    EXPECT_EQ(type.FcdZwt, 2);
    EXPECT_EQ(type.FcdStd, 480);
    EXPECT_EQ(type.FcdSol, 1);
    EXPECT_EQ(type.FcdPri, 5);
    EXPECT_EQ(type.FcdGpu, 1);
    EXPECT_EQ(type.FcdFcd, 24);
    EXPECT_STREQ(type.FcdFlg.text, "UF ");  // as fetched, not trimmed

    // NULL priorities and FcdFcd are replaced by the server; NULL FcdFlg is empty.
    MessageType follow{};
    follow.FcdNum.assign("UF");
    follow.FcdFlg.assign("old");
    EXPECT_EQ(readMessageType(follow), 0);
    EXPECT_EQ(follow.FcdPri, 0);
    EXPECT_EQ(follow.FcdGpu, 0);
    EXPECT_EQ(follow.FcdFcd, -9);
    EXPECT_STREQ(follow.FcdFlg.text, "");

    MessageType blanks{};
    blanks.FcdNum.assign("BL");
    EXPECT_EQ(readMessageType(blanks), 0);
    EXPECT_STREQ(blanks.FcdFlg.text, "   ");

    MessageType apostrophe{};
    apostrophe.FcdNum.assign("O'K");
    EXPECT_EQ(readMessageType(apostrophe), 0);
    EXPECT_EQ(apostrophe.FcdPri, 7);

    MessageType missing{};
    missing.FcdNum.assign("NO");
    missing.FcdPri = 3;
    MessageType before = missing;
    EXPECT_EQ(readMessageType(missing), SQL_NO_DATA);
    EXPECT_EQ(0, std::memcmp(&missing, &before, sizeof missing));
}

TEST_F(DbTest, OverLongFollowUpCodeArrivesCut) {
    db().exec(R"(
DROP TABLE $(SCHEMA).Qrv131Fcd
CREATE TABLE $(SCHEMA).Qrv131Fcd (FcdNum varchar(10) NOT NULL, FcdBez varchar(40) NULL, FcdTyp int NULL, FcdZwt int NULL, FcdStd int NULL, FcdSol int NULL, FcdPri int NULL, FcdGpu int NULL, FcdFcd int NULL, FcdFlg varchar(10) NULL)
INSERT INTO $(SCHEMA).Qrv131Fcd VALUES ('U', 'Urlaub', 1, 2, 480, 1, 5, 1, 24, 'ABCDEFG')
)");
    FixedText<4> out{};
    EXPECT_EQ(readFollowUpCode({"U"}, out), 0);
    EXPECT_STREQ(out.text, "ABC");
    MessageType type{};
    type.FcdNum.assign("U");
    EXPECT_EQ(readMessageType(type), 0);
    EXPECT_STREQ(type.FcdFlg.text, "ABC");
}

TEST_F(DbTest, FailedLookupFillsDiagnosticsAndKeepsOutput) {
    injectFault({{"FailOn", "SELECT FcdFlg"}, {"FailNative", "4060"}});
    FixedText<4> out{};
    out.assign("old");
    EXPECT_EQ(readFollowUpCode({"U"}, out), -1);
    EXPECT_EQ(diagRecord.NativeError, 4060);
    EXPECT_STREQ(out.text, "old");
}

TEST_F(DbTest, ReadWorkTimeRuleNeedsExactDayValidityAndLowStatus) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv140Azv VALUES ('A1', '20090101', '20091231', 0, 480, 450, 30, 240, 225, 15)
INSERT INTO $(SCHEMA).Qrv140Azv VALUES ('A1', '20100101', NULL, 0, 1, 1, 1, 1, 1, 1)
INSERT INTO $(SCHEMA).Qrv140Azv VALUES ('OPEN', '20090101', NULL, 3, 400, 0, 0, 0, 0, 0)
INSERT INTO $(SCHEMA).Qrv140Azv VALUES ('ENDED', '20090101', '20090916', 0, 300, 0, 0, 0, 0, 0)
INSERT INTO $(SCHEMA).Qrv140Azv VALUES ('LATE', '20090918', NULL, 0, 300, 0, 0, 0, 0, 0)
INSERT INTO $(SCHEMA).Qrv140Azv VALUES ('DEAD', '20090101', NULL, 4, 300, 0, 0, 0, 0, 0)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1001', '20090917', 'A1', 3)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1002', '20090917', 'OPEN', 0)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1003', '20090916', 'A1', 0)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1004', '20090917', 'ENDED', 0)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1005', '20090917', 'LATE', 0)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1006', '20090917', 'DEAD', 0)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('1007', '20090917', 'A1', 4)
INSERT INTO $(SCHEMA).Qrv329Ztg VALUES ('O''R', '20090917', 'OPEN', 0)
)");
    WorkTimeRule rule{};
    EXPECT_EQ(readWorkTimeRule({"1001"}, {"20090917"}, rule), 0);
    EXPECT_STREQ(rule.AzvNum.text, "A1");
    EXPECT_STREQ(rule.ZtgVon.text, "20090917");
    EXPECT_EQ(rule.AzvSol, 480);
    EXPECT_EQ(rule.AzvSo2, 450);
    EXPECT_EQ(rule.AzvVhs, 30);
    EXPECT_EQ(rule.AzvHso, 240);
    EXPECT_EQ(rule.AzvHs2, 225);
    EXPECT_EQ(rule.AzvHtv, 15);

    rule = WorkTimeRule{};
    EXPECT_EQ(readWorkTimeRule({"1002"}, {"20090917"}, rule), 0);  // open-ended rule
    EXPECT_STREQ(rule.AzvNum.text, "OPEN");
    EXPECT_EQ(rule.AzvSol, 400);
    rule = WorkTimeRule{};
    EXPECT_EQ(readWorkTimeRule({"O'R"}, {"20090917"}, rule), 0);
    EXPECT_EQ(rule.AzvSol, 400);

    struct Miss {
        FixedText<9> pnr;
        FixedText<9> day;
        const char* why;
    };
    const Miss misses[] = {
        {"1003", "20090917", "assignment dated another day"},
        {"1001", "20090918", "no assignment on the day"},
        {"1004", "20090917", "day after the rule's end"},
        {"1005", "20090917", "day before the rule's start"},
        {"1006", "20090917", "rule status 4"},
        {"1007", "20090917", "assignment status 4"},
    };
    for (const Miss& m : misses) {
        WorkTimeRule cleared{};
        EXPECT_EQ(readWorkTimeRule(m.pnr, m.day, cleared), SQL_NO_DATA) << m.why;
        EXPECT_STREQ(cleared.AzvNum.text, "") << m.why;
        EXPECT_EQ(cleared.AzvSol, 0) << m.why;
    }
}

}  // namespace
