// Lookups in the master data: message types (Qrv131Fcd) and the working-time
// rule assigned to an employee (Qrv329Ztg with Qrv140Azv).
//
// No state: each lookup runs on a handle of its own, freed before it returns.
#include "db/master_data.h"

#include <cstddef>

#include "db/statement_patterns.h"

namespace {

constexpr const char* kFollowUpCodeSql = "SELECT FcdFlg FROM %s.Qrv131Fcd WHERE FcdNum = '%s'";

// Missing priorities rank as 0; a missing FcdFcd as -9, which matches no
// real message type in the last-message-day search.
constexpr const char* kMessageTypeSql =
    "SELECT FcdTyp, FcdZwt, FcdStd, FcdSol, COALESCE(FcdPri, 0), COALESCE(FcdGpu, 0), "
    "COALESCE(FcdFcd, -9), FcdFlg FROM %s.Qrv131Fcd WHERE FcdNum = '%s' ";

// The rule assigned exactly on the day, valid on it, neither assignment nor
// rule at status 4 or above.
constexpr const char* kWorkTimeRuleSql =
    "SELECT AzvNum, CONVERT(char(8), ZtgVon, 112), AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2, AzvHtv "
    "FROM %s.Qrv329Ztg, %s.Qrv140Azv WHERE ZtgPnr = '%s' AND ZtgVon = CONVERT(Datetime, '%s', "
    "112) AND ZtgAzt = AzvNum AND ZtgVon >= AzvGvo AND (ZtgVon <= AzvGbi OR AzvGbi IS NULL) AND "
    "ZtgSta < 4 AND AzvSta < 4 ";

constexpr ColumnSpec kFollowUpCodeColumn[] = {
    {1, SQL_C_CHAR, 4, ColumnForm::Trimmed, 0, sizeof(FixedText<4>)},
};
static_assert(columnsFit<FixedText<4>>(kFollowUpCodeColumn));

#define FCD_FIELD(f) offsetof(MessageType, f), sizeof(MessageType::f)

// FcdFlg stays as the table holds it: the last-message-day search counts a
// code of blanks as naming a follow-up type.
constexpr ColumnSpec kMessageTypeColumns[] = {
    {1, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdTyp)},
    {2, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdZwt)},
    {3, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdStd)},
    {4, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdSol)},
    {5, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdPri)},
    {6, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdGpu)},
    {7, SQL_C_LONG, 4, ColumnForm::Number, FCD_FIELD(FcdFcd)},
    {8, SQL_C_CHAR, 4, ColumnForm::AsFetched, FCD_FIELD(FcdFlg)},
};
static_assert(columnsFit<MessageType>(kMessageTypeColumns));

#undef FCD_FIELD

#define AZV_FIELD(f) offsetof(WorkTimeRule, f), sizeof(WorkTimeRule::f)

constexpr ColumnSpec kWorkTimeRuleColumns[] = {
    {1, SQL_C_CHAR, 6, ColumnForm::Trimmed, AZV_FIELD(AzvNum)},
    {2, SQL_C_CHAR, 9, ColumnForm::Trimmed, AZV_FIELD(ZtgVon)},
    {3, SQL_C_LONG, 4, ColumnForm::Number, AZV_FIELD(AzvSol)},
    {4, SQL_C_LONG, 4, ColumnForm::Number, AZV_FIELD(AzvSo2)},
    {5, SQL_C_LONG, 4, ColumnForm::Number, AZV_FIELD(AzvVhs)},
    {6, SQL_C_LONG, 4, ColumnForm::Number, AZV_FIELD(AzvHso)},
    {7, SQL_C_LONG, 4, ColumnForm::Number, AZV_FIELD(AzvHs2)},
    {8, SQL_C_LONG, 4, ColumnForm::Number, AZV_FIELD(AzvHtv)},
};
static_assert(columnsFit<WorkTimeRule>(kWorkTimeRuleColumns));

#undef AZV_FIELD

}  // namespace

int readFollowUpCode(const FixedText<4>& code, FixedText<4>& followUp) {
    return lookupRow(kFollowUpCodeColumn, &followUp, kFollowUpCodeSql, tableSchema(),
                     quoted(code).text);
}

int readMessageType(MessageType& type) {
    return lookupRow(kMessageTypeColumns, &type, kMessageTypeSql, tableSchema(),
                     quoted(type.FcdNum).text);
}

int readWorkTimeRule(const FixedText<9>& pnr, const FixedText<9>& day, WorkTimeRule& rule) {
    return lookupRow(kWorkTimeRuleColumns, &rule, kWorkTimeRuleSql, tableSchema(), tableSchema(),
                     quoted(pnr).text, quoted(day).text);
}
