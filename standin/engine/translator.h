// The translator's parts shared by its four files: the typed expression,
// the helpers that convert and combine expressions, and the recursive
// descent parser of one statement. Each part of the accepted T-SQL (see the
// grammar in standin/README.md) has its file: expressions.cpp (expressions
// and the conversions between types), queries.cpp (SELECT), writes.cpp
// (INSERT, UPDATE, DELETE), definitions.cpp (CREATE and DROP); translate.cpp
// dispatches a statement to them. Internal to the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "standin/engine.h"
#include "standin/engine/catalog.h"
#include "standin/engine/functions.h"
#include "standin/engine/lexer.h"
#include "standin/engine/translate.h"
#include "standin/engine/values.h"

namespace standin::translation {

// The type of an expression. Bool is a search condition: it has no value
// and may stand only where a condition is expected.
enum class Ty { Null, Int, Str, DateTime, Bool };

struct Expr {
    std::string sql;
    Ty ty = Ty::Null;
    bool fixed = false;  // Str: char(n), blank-padded
    bool small = false;  // Int: smallint
    bool wide = false;   // Int: numeric, as a literal beyond int's range is
    int size = 0;        // Str: length
    bool nullable = true;
    bool isConst = false;
    Val value;                 // when isConst
    bool plainColumn = false;  // a column reference as it stands: carries its collation
    std::string columnName;    // declared name of a plain column
    bool aggregate = false;    // contains an aggregate
    std::string bareColumn;    // a column referenced outside any aggregate
};

Expr constant(Ty ty, const Val& value);
bool isNullConstant(const Expr& e);
// A call of one of the engine's functions; folded when every argument is
// constant.
Expr call(const std::string& fn, const std::vector<Expr>& args, Expr shape);
Expr intConst(std::int64_t v);
Expr textConst(const std::string& v);
Expr typed(const Expr& from, Ty ty);
Expr toDateTime(const Expr& e);
Expr toInt(const Expr& e, const char* type = "int");
// An integer as a value of type int or smallint, for a CONVERT or an
// assignment: a numeric beyond the type's range is 8115, an int beyond
// smallint's 220 with the value, as the server words them.
Expr fitInt(const Expr& e, const char* type);
// Implicit conversion to text, as SQL Server does it for assignments.
Expr toText(const Expr& e);
// The value as a datetime, int or smallint for a target of that type, as
// CONVERT and an assignment to a column both need it; nullopt for a text
// target, whose conversion differs between the two.
std::optional<Expr> toNonText(ColType type, const Expr& e);
const char* typeName(Ty ty);
Column describe(const Expr& e, const std::string& name);
const std::set<std::string>& reservedWords();

struct Source {
    const TableDef* table = nullptr;
    std::string alias;    // in the SQLite text: t0, t1, ...
    std::string exposed;  // lower case: the table name or its alias as written
};

struct TypeSpec {
    ColType type = ColType::VarChar;
    int size = 0;
};

class Translator {
  public:
    Translator(std::string_view sql, const Catalog& catalog, const std::string& now)
        : text_(sql), tokens_(tokenize(sql)), catalog_(catalog), now_(now) {}

    Plan statement();
    // A DEFAULT expression of a column, evaluated for an INSERT.
    Expr defaultValue();

  private:
    // --- tokens ---
    const Token& peek(size_t ahead = 0) const {
        return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
    }
    const Token& next() {
        const Token& t = peek();
        if (pos_ < tokens_.size() - 1) ++pos_;
        return t;
    }
    static bool isWord(const Token& t, const char* word) {
        return t.kind == Tok::Word && t.lower == word;
    }
    bool atWord(const char* word, size_t ahead = 0) const { return isWord(peek(ahead), word); }
    bool atSymbol(const char* sym) const {
        return peek().kind == Tok::Symbol && peek().text == sym;
    }
    bool acceptWord(const char* word) {
        if (!atWord(word)) return false;
        next();
        return true;
    }
    bool acceptSymbol(const char* sym) {
        if (!atSymbol(sym)) return false;
        next();
        return true;
    }
    void expectWord(const char* word) {
        if (!acceptWord(word)) syntaxError();
    }
    void expectSymbol(const char* sym) {
        if (!acceptSymbol(sym)) syntaxError();
    }

    [[noreturn]] void syntaxError() const {
        const Token* t = &peek();
        if (t->kind == Tok::End && pos_ > 0) t = &tokens_[pos_ - 1];
        if (t->kind == Tok::End) fail(102, "42000", "Incorrect syntax near ''.");
        if (t->kind == Tok::Word && reservedWords().count(t->lower) != 0) {
            fail(156, "42000", "Incorrect syntax near the keyword '" + t->raw + "'.");
        }
        fail(102, "42000", "Incorrect syntax near '" + t->text + "'.");
    }

    bool atName() const {
        const Token& t = peek();
        return t.kind == Tok::QuotedName ||
               (t.kind == Tok::Word && reservedWords().count(t.lower) == 0);
    }
    std::string name() {
        if (!atName()) syntaxError();
        return next().text;
    }

    struct TableName {
        std::string schema;
        std::string name;
        std::string written;
    };
    TableName tableName() {
        TableName n;
        n.name = name();
        n.written = n.name;
        n.schema = "dbo";
        if (acceptSymbol(".")) {
            n.schema = n.name;
            n.name = name();
            n.written += "." + n.name;
        }
        return n;
    }
    const TableDef& existingTable(const TableName& n) const {
        const TableDef* t = catalog_.findTable(n.schema, n.name);
        if (t == nullptr) fail(208, "42S02", "Invalid object name '" + n.written + "'.");
        return *t;
    }

    // --- statements ---
    Plan select();
    Plan insert();
    Plan update();
    Plan remove();
    Plan create();
    Plan createTable();
    Plan createIndex(bool unique);
    Plan drop();
    void finish();

    void fromClause();
    std::string whereClause();

    // --- expressions ---
    Expr expression();
    Expr logical(const char* word, const char* sqlOp, Expr (Translator::*operand)());
    Expr orExpr();
    Expr andExpr();
    Expr notExpr();
    Expr comparison();
    Expr additive();
    Expr multiplicative();
    Expr unary();
    Expr primary();
    Expr function(const std::string& fn);
    Expr columnRef();
    Expr aggregate(const std::string& fn);
    TypeSpec typeSpec(int defaultLength);
    Expr convert(const TypeSpec& type, const Expr& e, int style);
    Expr assignTo(const ColumnDef& column, const Expr& e);
    bool loneLiteral(const ColumnDef& column, std::string& sql);
    Expr condition();  // an expression that must be a search condition
    Expr value();      // an expression that must have a value
    Expr column(const Source& source, int index) const;

    // Counts one level of nesting (a parenthesis, a sign, a NOT) while it
    // lives. The server refuses statements nested too deeply; so does the
    // engine, before the descent could exhaust the stack.
    class Nesting {
      public:
        explicit Nesting(int& depth) : depth_(depth) {
            if (++depth_ <= kMaxNesting) return;
            --depth_;
            fail(191, "42000",
                 "Some part of your SQL statement is nested too deeply. Rewrite the query or "
                 "break it up into smaller queries.");
        }
        ~Nesting() { --depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

      private:
        static constexpr int kMaxNesting = 256;
        int& depth_;
    };

    std::string_view text_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    int depth_ = 0;
    const Catalog& catalog_;
    std::string now_;
    std::vector<Source> scope_;
    bool qualify_ = true;  // SELECT names columns by alias; UPDATE/DELETE do not
};

}  // namespace standin::translation
