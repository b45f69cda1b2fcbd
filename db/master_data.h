// Message types (Qrv131Fcd) and working-time rules (Qrv329Ztg with
// Qrv140Azv): the three single-row lookups. No state.
#pragma once

#include <cstdint>

#include "frame/fixed_text.h"

struct MessageType {
    FixedText<4> FcdNum;  // the code; set by the caller, the lookup key
    std::int32_t FcdTyp;  // 1, 2, 3 select the day-record slot
    std::int32_t FcdZwt;  // which time value a follow-up credits
    std::int32_t FcdStd;  // fixed time value
    std::int32_t FcdSol;  // 1: needs a positive target time
    std::int32_t FcdPri;  // priority, smaller wins (NULL as 0)
    std::int32_t FcdGpu;  // decides equal priorities (NULL as 0)
    std::int32_t FcdFcd;  // NULL as -9
    FixedText<4> FcdFlg;  // follow-up code, as fetched (not trimmed)
};

struct WorkTimeRule {
    FixedText<6> AzvNum;
    FixedText<9> ZtgVon;
    std::int32_t AzvSol;
    std::int32_t AzvSo2;
    std::int32_t AzvVhs;
    std::int32_t AzvHso;
    std::int32_t AzvHs2;
    std::int32_t AzvHtv;
};

// Lookups return 0 when a row was read, SQL_NO_DATA when none matched, -1
// after an allocation or execution failure (diagRecord filled), or the
// fetch's own failure code. On any non-zero result the output is untouched.

// The type's FcdFlg, trimmed (possibly empty), into followUp.
int readFollowUpCode(const FixedText<4>& code, FixedText<4>& followUp);

// Fills every field of type but FcdNum, which names the type to read.
int readMessageType(MessageType& type);

// The rule assigned to the employee by an assignment dated exactly on day.
int readWorkTimeRule(const FixedText<9>& pnr, const FixedText<9>& day, WorkTimeRule& rule);
