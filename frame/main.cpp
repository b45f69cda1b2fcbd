// The entry point of the nightly batch: the accounting day is the day
// before the database server's date.
//
// The exit status is 0 whatever happens; the log tells how the run went.
#include <cstdio>

#include "followup/run_driver.h"
#include "frame/night.h"
#include "frame/run_context.h"

namespace {

void printUsage() {
    std::printf("Aufruf: kelbor [Param1] [Param2] [Param3]\n");
    std::printf("Param1: Pfad der Inidatei\n");
    std::printf("Param2: QUORV/XXX QUORV=Firmenkonsol.-Version\n");
    std::printf("Param3: D/X D=Debug\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        printUsage();
        return 0;
    }
    if (startNight(argv[1], argv[2], argv[3]) == 0) processDayRecords(runContext.schemaName.text);
    endNight();
    return 0;
}
