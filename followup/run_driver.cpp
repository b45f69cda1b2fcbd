// Placeholder until the run driver lands: a connected run ends here.
#include "followup/run_driver.h"

void processDayRecords(const char* /*schema*/) {}

void dumpDayRecord(const DayRecord& /*rec*/) {}
