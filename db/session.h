// The session's settings and the server's date. No state.
#pragma once

#include "frame/fixed_text.h"

// Asks the server to send row counts for the rest of the session (SET
// NOCOUNT OFF), so a write that matched no row is told from one that did
// whatever the server's default. Returns 0 when the server took it (a
// driver may answer a statement without a count with SQL_NO_DATA), else
// the statement's code (-1 after a failure, diagRecord filled).
int requestRowCounts();

// The database server's current date as yyyymmdd into today. Returns 0,
// or the lookup's code (-1 after a failure, diagRecord filled); today is
// untouched then.
int readServerDate(FixedText<9>& today);
