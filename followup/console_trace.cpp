// The console trace of the follow-up processing. No state.
#include "followup/console_trace.h"

#include "frame/log.h"

void dumpDayRecord(const DayRecord& rec) {
    consoleLine(
        "\nTagPnr: %s\nTagTag: %s\nTagVon: %s\nTagUhr: %s\nTagBis: %s\nTagEnd: %s\nTagSol: "
        "%ld\nTagTgb: %s\nTagTgs: %ld\nTagHtv: %s\nTagHvs: %ld\nTagHtn: %s\nTagHns: %ld\n\n",
        rec.TagPnr.c_str(), rec.TagTag.c_str(), rec.TagVon.c_str(), rec.TagUhr.c_str(),
        rec.TagBis.c_str(), rec.TagEnd.c_str(), static_cast<long>(rec.TagSol), rec.TagTgb.c_str(),
        static_cast<long>(rec.TagTgs), rec.TagHtv.c_str(), static_cast<long>(rec.TagHvs),
        rec.TagHtn.c_str(), static_cast<long>(rec.TagHns));
}
