// Bookings of Qrv321Bch and the three booking cursors.
//
// Owns one statement handle per cursor, null while closed: the previous-day
// message cursor over the last message day's day-message bookings, the
// accounting-day message cursor over the accounting day's (same statement),
// and the hourly-message cursor over the bookings inside a day record's time
// window, newest first.
#pragma once

#include <cstdint>

#include "frame/fixed_text.h"

// The booking function codes (BchFkt) code outside the SQL texts acts on:
// an hourly absence still running at the day's end (23, 24), and a
// cancelled booking (45). The day-message (1 to 3) and hourly codes the
// statements select stand in their SQL texts.
enum BookingFunction : std::int32_t {
    kFktHourly23 = 23,
    kFktHourly24 = 24,
    kFktCancelled = 45,
};

struct BookingRecord {
    FixedText<9> BchPnr;
    FixedText<9> BchVon;  // yyyymmdd
    FixedText<7> BchUhr;  // hhmmss
    std::int32_t BchFkt;
    FixedText<9> BchBis;
    FixedText<9> BchVws;
    FixedText<4> BchFcd;  // message-type code
    std::int32_t BchZwt;
    FixedText<16> BchAbt;
    FixedText<31> BchKst;
    FixedText<7> BchKtr;
    FixedText<5> BchKrt;
    FixedText<6> BchAzt;
    FixedText<14> BchVra;
    std::int32_t BchTxt;
    std::int32_t BchSta;
    FixedText<51> BchErf;   // never filled by a fetch
    FixedText<256> BchTrm;  // never filled by a fetch
};

// Opens return 0, -1 on failure (diagRecord filled), another ODBC code
// unchanged. Fetches return 0 with rec filled, SQL_NO_DATA after the last
// row, -1 when the cursor is closed or the fetch failed (rec untouched).
// Closes return 0 when closed already, else SQLFreeHandle's result.
int openPrevDayMsgCursor(const FixedText<9>& pnr, const FixedText<9>& day);
int fetchPrevDayMsgCursor(BookingRecord& rec);
int closePrevDayMsgCursor();

int openAccDayMsgCursor(const FixedText<9>& pnr, const FixedText<9>& day);
int fetchAccDayMsgCursor(BookingRecord& rec);
int closeAccDayMsgCursor();

int openHourlyMsgCursor(const FixedText<9>& pnr, const FixedText<9>& day);
int fetchHourlyMsgCursor(BookingRecord& rec);
int closeHourlyMsgCursor();
