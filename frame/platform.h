// What the batch and its tool ask of the operating system beyond the
// standard library, in one place, so the rest of the code never asks which
// platform it runs on. No state.
#pragma once

// Makes the process non-dumpable: no core file is written when it crashes
// or is aborted, and other processes of the same user cannot attach to it
// or read its memory through /proc. Called before the configuration is
// read, so the deciphered password can never reach a core file. Returns 0,
// or -1 when the system refused (the run goes on; there is nothing better
// to do).
int forbidCoreDumps();
