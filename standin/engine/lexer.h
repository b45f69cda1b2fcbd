// Tokenizer of the stand-in's T-SQL subset: words ([bracketed] and
// "quoted" names included), string literals ('' doubles a quote, N'..'
// accepted), integers and operators. Comments (-- and /* */) are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace standin {

enum class Tok { Word, QuotedName, String, Number, Symbol, End };

struct Token {
    Tok kind = Tok::End;
    std::string text;   // the value: name without brackets, literal without quotes
    std::string lower;  // Word: text in lower case, for keyword checks
    std::string raw;    // as written, for error messages
    size_t begin = 0;   // offsets into the statement text
    size_t end = 0;
};

// Throws SqlError (102) for an unterminated literal or an unknown character.
std::vector<Token> tokenize(std::string_view sql);

}  // namespace standin
