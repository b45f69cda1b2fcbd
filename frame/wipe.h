// Wiping secrets from memory.
//
// A plain memset on a buffer that is about to go out of scope may be removed
// by the optimiser as a dead store; the deciphered password and the cipher
// state must really be gone once they are no longer needed.
#pragma once

#include <string.h>

#include <cstddef>

// Overwrites n bytes at p with zeros; never optimised away.
inline void wipeMemory(void* p, std::size_t n) {
    explicit_bzero(p, n);
}
