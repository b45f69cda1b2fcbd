// The steps every run of the batch takes before and after its pass over an
// accounting day, shared by the nightly entry point and the catch-up of a
// missed day: the run context from the parameters, the log and its time
// stamp, the login, the connection and the session's settings.
//
// Writes runContext while starting up; from the return of startNight on it
// is only read.
#pragma once

// Sets the run context from the parameters (edition word, debug word) and
// the environment, opens the log, writes the time stamp, reads the login
// from iniPath and connects. A failed connection is logged. Once connected
// it asks the server for row counts (a failure is logged and the run goes
// on). Returns 0 when connected, -1 otherwise.
int startNight(const char* iniPath, const char* edition, const char* debug);

// Closes the log. The connection ends with the process.
void endNight();
