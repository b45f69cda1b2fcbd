// The rules of the follow-up processing in one include: the search for the
// last message day, the daily and the hourly rule, the reconciliation and
// the generation. Each rule returns 1 when it generated (or, for
// reconcileAccountingDay, allowed) a follow-up, 0 otherwise.
#pragma once

#include "followup/daily_messages.h"
#include "followup/generate_followup.h"
#include "followup/hourly_messages.h"
#include "followup/last_message_day.h"
#include "followup/reconcile.h"
