// The lock that keeps two runs on one working directory apart: an exclusive
// flock on "kelbor.lock" there, the one the nightly wrapper takes. Two runs
// at once would insert the same follow-ups twice and cancel bookings twice.
//
// A program the wrapper starts while holding the lock cannot take it
// afresh: a second open of the file would wait for the wrapper's own lock.
// The wrapper names its descriptor in KELBOR_LOCK_FD instead, and the
// program takes the lock on that descriptor, after making sure it is
// kelbor.lock of the working directory. Taking it there succeeds when the
// wrapper holds it (the same open file) or nobody does, and fails when
// another run holds it, so a wrong or stale number can never let two runs
// in. The lock is held until the process ends.
#pragma once

constexpr const char kRunLockName[] = "kelbor.lock";
constexpr const char kRunLockFdEnv[] = "KELBOR_LOCK_FD";

constexpr int kRunLockTaken = 0;
constexpr int kRunLockHeld = 1;      // another run holds it
constexpr int kRunLockUnusable = 2;  // it cannot be opened or locked; error says why
constexpr int kRunLockForeign = 3;   // the inherited descriptor is not kelbor.lock's

// Takes the lock, on the descriptor named by inheritedFd (the value of
// KELBOR_LOCK_FD, or null when unset) or on a fresh open of kelbor.lock
// (created when missing, never through a symbolic link, closed on exec).
// Returns one of the codes above; fd is the descriptor that holds the lock
// after kRunLockTaken; error is the errno value (or kNotRegularFile) behind
// kRunLockUnusable.
int takeRunLock(const char* inheritedFd, int& fd, int& error);
