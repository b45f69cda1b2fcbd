// Tokenizer of the stand-in's T-SQL subset (see lexer.h).
#include "standin/engine/lexer.h"

#include <cctype>

#include "standin/engine/values.h"

namespace standin {

namespace {

bool isWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool isWordChar(char c) {
    return isWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}

[[noreturn]] void syntaxNear(std::string_view near) {
    fail(102, "42000", "Incorrect syntax near '" + std::string(near) + "'.");
}

// Reads a quoted run from pos (after the opening quote) up to its closing
// quote, a doubled closing quote standing for one. Returns the position
// after the run.
size_t readQuoted(std::string_view sql, size_t pos, char close, std::string& value) {
    while (true) {
        if (pos >= sql.size()) {
            fail(105, "42000",
                 "Unclosed quotation mark after the character string '" + value + "'.");
        }
        if (sql[pos] == close) {
            if (pos + 1 < sql.size() && sql[pos + 1] == close) {
                value += close;
                pos += 2;
                continue;
            }
            return pos + 1;
        }
        value += sql[pos++];
    }
}

}  // namespace

std::vector<Token> tokenize(std::string_view sql) {
    std::vector<Token> tokens;
    size_t i = 0;
    const size_t n = sql.size();
    while (true) {
        while (i < n && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
        if (i + 1 < n && sql[i] == '-' && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n') ++i;
            continue;
        }
        if (i + 1 < n && sql[i] == '/' && sql[i + 1] == '*') {
            const size_t close = sql.find("*/", i + 2);
            if (close == std::string_view::npos)
                fail(113, "42000", "Missing end comment mark '*/'.");
            i = close + 2;
            continue;
        }
        Token t;
        t.begin = i;
        if (i >= n) {
            t.kind = Tok::End;
            t.end = n;
            tokens.push_back(std::move(t));
            return tokens;
        }
        const char c = sql[i];
        const bool national = (c == 'N' || c == 'n') && i + 1 < n && sql[i + 1] == '\'';
        if (c == '\'' || national) {
            t.kind = Tok::String;
            i = readQuoted(sql, national ? i + 2 : i + 1, '\'', t.text);
        } else if (c == '[' || c == '"') {
            t.kind = Tok::QuotedName;
            i = readQuoted(sql, i + 1, c == '[' ? ']' : '"', t.text);
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t j = i;
            while (j < n && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
            // Decimal and float literals are outside the subset: fail on them
            // rather than misread them.
            if (j < n && (sql[j] == '.' || isWordStart(sql[j]))) {
                syntaxNear(sql.substr(i, j + 1 - i));
            }
            t.kind = Tok::Number;
            t.text = std::string(sql.substr(i, j - i));
            i = j;
        } else if (isWordStart(c)) {
            size_t j = i;
            while (j < n && isWordChar(sql[j])) ++j;
            t.kind = Tok::Word;
            t.text = std::string(sql.substr(i, j - i));
            t.lower = t.text;
            for (char& ch : t.lower)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            i = j;
        } else {
            static const char* const twoChar[] = {"<>", "!=", "<=", ">=", "!<", "!>"};
            t.kind = Tok::Symbol;
            for (const char* op : twoChar) {
                if (i + 1 < n && sql[i] == op[0] && sql[i + 1] == op[1]) t.text = op;
            }
            if (t.text.empty()) {
                if (std::string_view("(),.;*+-/%=<>").find(c) == std::string_view::npos) {
                    syntaxNear(sql.substr(i, 1));
                }
                t.text = std::string(1, c);
            }
            i += t.text.size();
        }
        t.end = i;
        t.raw = std::string(sql.substr(t.begin, t.end - t.begin));
        tokens.push_back(std::move(t));
    }
}

}  // namespace standin
