// Platform calls of the frame; see the header.
#include "frame/platform.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

int forbidCoreDumps() {
#ifdef __linux__
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : -1;
#else
    // Windows writes no core file of a console program unless error
    // reporting is set up to collect dumps, which is the machine's policy.
    return 0;
#endif
}
