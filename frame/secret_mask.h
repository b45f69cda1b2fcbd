// Keeping the password out of texts the batch and its tool print: driver
// messages, log details, console lines. No state.
//
// The password is replaced only where it stands as a token of its own, that
// is where neither neighbour is a letter, a digit, "_" or a byte above 127.
// Cutting into words would garble a message ("[uni***ODBC]" for the
// password "x") and, by what it cuts, tell a short password's content.
#pragma once

#include <cstddef>

#include "frame/fixed_text.h"

// Writes text to out (at most outSize-1 characters, always terminated) with
// every token occurrence of password replaced by "***". An empty password
// leaves the text as it is. Returns the number of replacements.
int maskPassword(const char* text, const char* password, char* out, std::size_t outSize);

template <std::size_t N>
int maskPassword(const char* text, const char* password, FixedText<N>& out) {
    return maskPassword(text, password, out.text, N);
}
