// T-SQL to SQLite translation (see translate.h).
#include "standin/engine/translate.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>

#include "standin/engine/functions.h"
#include "standin/engine/lexer.h"
#include "standin/engine/values.h"

namespace standin {

namespace {

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

Expr constant(Ty ty, const Val& value) {
    Expr e;
    e.ty = ty;
    e.isConst = true;
    e.value = value;
    e.nullable = false;
    if (std::holds_alternative<std::monostate>(value)) {
        e.sql = "NULL";
        e.nullable = true;
    } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
        e.sql = *i < 0 ? "(" + std::to_string(*i) + ")" : std::to_string(*i);
    } else {
        e.sql = quoteLiteral(std::get<std::string>(value));
        e.size = static_cast<int>(std::get<std::string>(value).size());
    }
    return e;
}

bool isNullConstant(const Expr& e) {
    return e.isConst && std::holds_alternative<std::monostate>(e.value);
}

// A call of one of the engine's functions; folded when every argument is
// constant.
Expr call(const std::string& fn, const std::vector<Expr>& args, Expr shape) {
    bool allConst = true;
    std::string sql = fn + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += args[i].sql;
        allConst = allConst && args[i].isConst;
        shape.aggregate = shape.aggregate || args[i].aggregate;
        if (shape.bareColumn.empty()) shape.bareColumn = args[i].bareColumn;
    }
    if (allConst) {
        std::vector<Val> values;
        for (const Expr& a : args) values.push_back(a.value);
        Expr folded = constant(shape.ty, findFunction(fn)(values));
        folded.fixed = shape.fixed;
        folded.small = shape.small;
        folded.wide = shape.wide;
        if (shape.size > 0) folded.size = shape.size;
        return folded;
    }
    shape.sql = sql + ")";
    shape.isConst = false;
    shape.plainColumn = false;
    shape.columnName.clear();
    return shape;
}

Expr intConst(std::int64_t v) {
    return constant(Ty::Int, v);
}
Expr textConst(const std::string& v) {
    return constant(Ty::Str, v);
}

Expr typed(const Expr& from, Ty ty) {
    Expr shape = from;
    shape.ty = ty;
    shape.fixed = false;
    shape.small = false;
    shape.wide = false;
    shape.size = 0;
    return shape;
}

Expr toDateTime(const Expr& e) {
    if (e.ty == Ty::DateTime || e.ty == Ty::Null) return typed(e, Ty::DateTime);
    return call("ts_dt", {e, intConst(0)}, typed(e, Ty::DateTime));
}

Expr toInt(const Expr& e, const char* type = "int") {
    if (e.ty == Ty::Int || e.ty == Ty::Null) return e.ty == Ty::Null ? typed(e, Ty::Int) : e;
    if (e.ty == Ty::DateTime) {
        fail(529, "42000",
             std::string("Explicit conversion from data type datetime to ") + type +
                 " is not allowed.");
    }
    Expr shape = typed(e, Ty::Int);
    shape.small = std::string(type) == "smallint";
    return call("ts_int", {e, textConst(type)}, shape);
}

// An integer as a value of type int or smallint, for a CONVERT or an
// assignment: a numeric beyond the type's range is 8115, an int beyond
// smallint's 220 with the value, as the server words them.
Expr fitInt(const Expr& e, const char* type) {
    const bool small = std::string(type) == "smallint";
    Expr v = toInt(e, type);
    if (v.ty == Ty::Null || (small && v.small) || (!small && !v.wide)) {
        v.small = small;
        return v;
    }
    Expr shape = typed(v, Ty::Int);
    shape.small = small;
    return call("ts_range", {v, textConst(type), intConst(v.wide ? 8115 : 220)}, shape);
}

// Implicit conversion to text, as SQL Server does it for assignments.
Expr toText(const Expr& e) {
    if (e.ty == Ty::Str) return e;
    if (e.ty == Ty::Null) return typed(e, Ty::Str);
    Expr shape = typed(e, Ty::Str);
    if (e.ty == Ty::DateTime) {
        shape.size = 19;
        return call("ts_dtstr", {e, intConst(0)}, shape);
    }
    shape.size = 12;
    return call("ts_str", {e}, shape);
}

// The value as a datetime, int or smallint for a target of that type, as
// CONVERT and an assignment to a column both need it; nullopt for a text
// target, whose conversion differs between the two.
std::optional<Expr> toNonText(ColType type, const Expr& e) {
    switch (type) {
        case ColType::DateTime:
            return toDateTime(e);
        case ColType::Int:
            return fitInt(e, "int");
        case ColType::SmallInt:
            return fitInt(e, "smallint");
        default:
            return std::nullopt;
    }
}

const char* typeName(Ty ty) {
    switch (ty) {
        case Ty::Int:
            return "int";
        case Ty::Str:
            return "varchar";
        case Ty::DateTime:
            return "datetime";
        default:
            return "bit";
    }
}

Column describe(const Expr& e, const std::string& name) {
    Column c;
    c.name = name;
    c.nullable = e.nullable;
    switch (e.ty) {
        case Ty::Str:
            c.type = e.fixed ? ColType::Char : ColType::VarChar;
            c.size = std::max(e.size, 1);
            break;
        case Ty::DateTime:
            c.type = ColType::DateTime;
            c.size = 23;
            break;
        default:
            c.type = e.wide ? ColType::Numeric : e.small ? ColType::SmallInt : ColType::Int;
            c.size = e.wide ? 19 : e.small ? 6 : 11;
    }
    return c;
}

const std::set<std::string>& reservedWords() {
    static const std::set<std::string> words = {
        "add",          "all",     "alter",         "and",         "any",
        "as",           "asc",     "authorization", "begin",       "between",
        "by",           "case",    "check",         "clustered",   "commit",
        "constraint",   "convert", "create",        "cross",       "current_timestamp",
        "default",      "delete",  "desc",          "distinct",    "drop",
        "else",         "end",     "exec",          "exists",      "foreign",
        "from",         "full",    "group",         "having",      "identity",
        "in",           "index",   "inner",         "insert",      "into",
        "is",           "join",    "key",           "left",        "like",
        "nonclustered", "not",     "null",          "on",          "or",
        "order",        "outer",   "primary",       "references",  "right",
        "rollback",     "schema",  "select",        "set",         "table",
        "then",         "top",     "tran",          "transaction", "union",
        "unique",       "update",  "values",        "when",        "where",
        "with"};
    return words;
}

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

void Translator::finish() {
    acceptSymbol(";");
    if (peek().kind != Tok::End) syntaxError();
}

Plan Translator::statement() {
    const Token& first = peek();
    if (acceptWord("select")) return select();
    if (acceptWord("insert")) return insert();
    if (acceptWord("update")) return update();
    if (acceptWord("delete")) return remove();
    if (acceptWord("create")) return create();
    if (acceptWord("drop")) return drop();
    Plan plan;
    if (acceptWord("begin")) {
        if (!acceptWord("tran") && !acceptWord("transaction")) syntaxError();
        plan.kind = PlanKind::Begin;
    } else if (acceptWord("commit") || acceptWord("rollback")) {
        plan.kind = isWord(first, "commit") ? PlanKind::Commit : PlanKind::Rollback;
        if (!acceptWord("tran") && !acceptWord("transaction")) acceptWord("work");
    } else if (acceptWord("set")) {
        // SET NOCOUNT is the one session option the engine keeps.
        if (!acceptWord("nocount")) syntaxError();
        plan.kind = PlanKind::SetNoCount;
        if (acceptWord("on")) {
            plan.setOn = true;
        } else if (!acceptWord("off")) {
            syntaxError();
        }
        finish();
        return plan;
    } else {
        syntaxError();
    }
    if (atName()) name();
    finish();
    return plan;
}

Expr Translator::defaultValue() {
    Expr e = value();
    finish();
    return e;
}

// --- SELECT ---

Plan Translator::select() {
    Plan plan;
    plan.kind = PlanKind::Select;
    const bool distinct = acceptWord("distinct");
    std::string limit;
    if (acceptWord("top")) {
        const bool paren = acceptSymbol("(");
        if (peek().kind != Tok::Number) syntaxError();
        limit = next().text;
        if (paren) expectSymbol(")");
    }
    // The FROM clause names the columns the select list may use, so it is
    // read first and the list afterwards.
    const size_t listStart = pos_;
    size_t depth = 0;
    while (peek().kind != Tok::End && !(depth == 0 && atWord("from"))) {
        if (atSymbol("(")) ++depth;
        if (atSymbol(")") && depth > 0) --depth;
        next();
    }
    const size_t listEnd = pos_;
    std::string from;
    if (acceptWord("from")) {
        fromClause();
        for (size_t i = 0; i < scope_.size(); ++i) {
            from += (i == 0 ? " FROM " : ", ") + scope_[i].table->sqliteName() + " AS " +
                    scope_[i].alias;
        }
    }
    const size_t afterFrom = pos_;
    pos_ = listStart;
    std::vector<Expr> items;
    std::vector<std::string> itemSql;
    std::vector<std::string> aliases;
    do {
        if (pos_ >= listEnd) syntaxError();
        if (atSymbol("*") || (atName() && peek(1).text == "." && peek(2).text == "*")) {
            std::string qualifier;
            if (!acceptSymbol("*")) {
                qualifier = lowerCase(name());
                next();
                next();
            }
            bool any = false;
            for (const Source& s : scope_) {
                if (!qualifier.empty() && s.exposed != qualifier) continue;
                any = true;
                for (size_t c = 0; c < s.table->columns.size(); ++c) {
                    items.push_back(column(s, static_cast<int>(c)));
                    aliases.push_back(s.table->columns[c].name);
                }
            }
            if (!any) {
                if (qualifier.empty()) fail(263, "42000", "Must specify table to select from.");
                fail(4104, "42000",
                     "The multi-part identifier \"" + qualifier + "\" could not be bound.");
            }
            continue;
        }
        Expr e = value();
        std::string alias = e.columnName;
        if (acceptWord("as")) {
            if (peek().kind == Tok::String) {
                alias = next().text;
            } else {
                alias = name();
            }
        } else if (pos_ < listEnd && (atName() || peek().kind == Tok::String)) {
            alias = next().text;
        }
        items.push_back(e);
        aliases.push_back(alias);
    } while (pos_ < listEnd && acceptSymbol(","));
    if (pos_ != listEnd) syntaxError();
    pos_ = afterFrom;

    bool anyAggregate = false;
    for (const Expr& e : items) anyAggregate = anyAggregate || e.aggregate;
    std::string list;
    for (size_t i = 0; i < items.size(); ++i) {
        const Expr& e = items[i];
        if (anyAggregate && !e.bareColumn.empty()) {
            fail(8120, "42000",
                 "Column '" + e.bareColumn +
                     "' is invalid in the select list because it is not contained in either an "
                     "aggregate function or the GROUP BY clause.");
        }
        list += (i == 0 ? "" : ", ") + e.sql;
        plan.columns.push_back(describe(e, aliases[i]));
    }

    std::string sql = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + list + from;
    sql += whereClause();
    std::string order;
    if (acceptWord("order")) {
        expectWord("by");
        do {
            Expr e;
            if (peek().kind == Tok::Number) {
                const int ordinal = std::atoi(next().text.c_str());
                if (ordinal < 1 || ordinal > static_cast<int>(items.size())) {
                    fail(108, "42000",
                         "The ORDER BY position number " + std::to_string(ordinal) +
                             " is out of range of the number of items in the select list.");
                }
                e = items[ordinal - 1];
            } else {
                bool byAlias = false;
                if (atName() && !(peek(1).text == "." || peek(1).text == "(")) {
                    const std::string wanted = lowerCase(peek().text);
                    for (size_t i = 0; i < items.size(); ++i) {
                        if (lowerCase(aliases[i]) == wanted && !items[i].plainColumn) {
                            e = items[i];
                            byAlias = true;
                            next();
                            break;
                        }
                    }
                }
                if (!byAlias) e = value();
            }
            std::string term = e.sql;
            if (e.ty == Ty::Str && !e.plainColumn) term = "(" + term + ") COLLATE TSQL";
            if (acceptWord("desc")) {
                term += " DESC";
            } else {
                acceptWord("asc");
            }
            order += (order.empty() ? " ORDER BY " : ", ") + term;
        } while (acceptSymbol(","));
    } else if (!scope_.empty() && !anyAggregate && !distinct) {
        // Without ORDER BY, rows come in the order of the first table's
        // clustered key, as a scan of a clustered index gives them.
        for (const Source& s : scope_) {
            if (s.table->primaryKey.empty()) {
                order += (order.empty() ? " ORDER BY " : ", ") + s.alias + ".rowid";
            }
            for (const int c : s.table->primaryKey) {
                order += (order.empty() ? " ORDER BY " : ", ") + column(s, c).sql;
            }
        }
    }
    sql += order;
    if (!limit.empty()) sql += " LIMIT " + limit;
    finish();
    plan.sql.push_back(sql);
    return plan;
}

void Translator::fromClause() {
    do {
        const TableName n = tableName();
        Source s;
        s.table = &existingTable(n);
        s.exposed = lowerCase(n.name);
        if (acceptWord("as")) {
            s.exposed = lowerCase(name());
        } else if (atName()) {
            s.exposed = lowerCase(name());
        }
        s.alias = "t";
        s.alias += std::to_string(scope_.size());
        for (const Source& other : scope_) {
            if (other.exposed == s.exposed) {
                fail(1013, "42000",
                     "The objects \"" + n.written + "\" and \"" + other.table->qualifiedName() +
                         "\" in the FROM clause have the same exposed names. Use correlation "
                         "names to distinguish them.");
            }
        }
        scope_.push_back(s);
    } while (acceptSymbol(","));
}

std::string Translator::whereClause() {
    if (!acceptWord("where")) return "";
    const Expr e = condition();
    if (e.aggregate) {
        fail(147, "42000",
             "An aggregate may not appear in the WHERE clause unless it is in a subquery "
             "contained in a HAVING clause or a select list, and the column being aggregated is "
             "an outer reference.");
    }
    return " WHERE " + e.sql;
}

// --- INSERT, UPDATE, DELETE ---

Plan Translator::insert() {
    Plan plan;
    plan.kind = PlanKind::Insert;
    acceptWord("into");
    const TableName n = tableName();
    const TableDef& table = existingTable(n);
    plan.table = &table;
    std::vector<int> targets;
    if (acceptSymbol("(")) {
        do {
            const std::string col = name();
            const int index = table.findColumn(col);
            if (index < 0) fail(207, "42S22", "Invalid column name '" + col + "'.");
            if (std::find(targets.begin(), targets.end(), index) != targets.end()) {
                fail(264, "42000",
                     "The column name '" + col +
                         "' is specified more than once in the SET clause or column list of an "
                         "INSERT. A column cannot be assigned more than one value in the same "
                         "clause. Modify the clause to make sure that a column is updated only "
                         "once.");
            }
            targets.push_back(index);
        } while (acceptSymbol(","));
        expectSymbol(")");
    }
    const bool allColumns = targets.empty();
    if (allColumns) {
        for (size_t c = 0; c < table.columns.size(); ++c) targets.push_back(static_cast<int>(c));
    }
    expectWord("values");

    // Defaults are the same for every row: translate them once.
    std::vector<std::string> defaults(table.columns.size(), "NULL");
    for (size_t c = 0; c < table.columns.size(); ++c) {
        const ColumnDef& col = table.columns[c];
        if (col.defaultSql.empty()) continue;
        Translator dt(col.defaultSql, catalog_, now_);
        defaults[c] = assignTo(col, dt.defaultValue()).sql;
    }

    std::string columns;
    for (size_t c = 0; c < table.columns.size(); ++c) {
        columns += (c == 0 ? "" : ", ") + quoteName(table.columns[c].name);
    }
    std::string rows;
    do {
        expectSymbol("(");
        std::vector<std::string> row = defaults;
        size_t count = 0;
        do {
            std::string literal;
            if (count < targets.size() && loneLiteral(table.columns[targets[count]], literal)) {
                row[targets[count]] = std::move(literal);
            } else {
                const Expr e = value();
                if (count < targets.size())
                    row[targets[count]] = assignTo(table.columns[targets[count]], e).sql;
            }
            ++count;
        } while (acceptSymbol(","));
        expectSymbol(")");
        if (count != targets.size()) {
            if (allColumns) {
                fail(213, "21S01",
                     "Column name or number of supplied values does not match table "
                     "definition.");
            }
            if (count > targets.size()) {
                fail(110, "21S01",
                     "There are fewer columns in the INSERT statement than values specified in "
                     "the VALUES clause. The number of values in the VALUES clause must match "
                     "the number of columns specified in the INSERT statement.");
            }
            fail(109, "21S01",
                 "There are more columns in the INSERT statement than values specified in the "
                 "VALUES clause. The number of values in the VALUES clause must match the "
                 "number of columns specified in the INSERT statement.");
        }
        std::string tuple;
        for (size_t c = 0; c < row.size(); ++c) tuple += (c == 0 ? "(" : ", ") + row[c];
        rows += (rows.empty() ? "" : ", ") + tuple + ")";
    } while (acceptSymbol(","));
    finish();
    plan.sql.push_back("INSERT INTO " + table.sqliteName() + " (" + columns + ") VALUES " + rows);
    plan.keyProbeSql = "VALUES " + rows;
    return plan;
}

// A value that is one literal of the column's own kind (a load script's
// thousands of rows are nothing else) becomes the column's value directly,
// as value() and assignTo() would make it, without the descent through
// every expression level. Anything else is left to them: returns false
// without moving.
bool Translator::loneLiteral(const ColumnDef& column, std::string& sql) {
    const Token& t = peek();
    const Token& after = peek(1);
    if (after.kind != Tok::Symbol || (after.text != "," && after.text != ")")) return false;
    if (t.kind == Tok::Word && t.lower == "null") {
        sql = "NULL";
    } else if (t.kind == Tok::String && column.type == ColType::DateTime) {
        sql = quoteLiteral(canonical(parseDateTime(t.text)));
    } else if (t.kind == Tok::String &&
               (column.type == ColType::Char || column.type == ColType::VarChar)) {
        sql = quoteLiteral(assignText(t.text, column.size, column.type == ColType::Char));
    } else if (t.kind == Tok::Number &&
               (column.type == ColType::Int || column.type == ColType::SmallInt)) {
        sql = toNonText(column.type, primary())->sql;
        return true;
    } else {
        return false;
    }
    next();
    return true;
}

Plan Translator::update() {
    Plan plan;
    plan.kind = PlanKind::Update;
    const TableName n = tableName();
    const TableDef& table = existingTable(n);
    plan.table = &table;
    qualify_ = false;
    scope_.push_back(Source{&table, "", lowerCase(n.name)});
    expectWord("set");
    std::vector<std::string> newValues;
    std::vector<std::string> oldValues;
    for (const ColumnDef& c : table.columns) {
        newValues.push_back(quoteName(c.name));
        oldValues.push_back(quoteName(c.name));
    }
    std::string sets;
    std::set<int> assigned;
    do {
        const std::string col = name();
        const int index = table.findColumn(col);
        if (index < 0) fail(207, "42S22", "Invalid column name '" + col + "'.");
        if (!assigned.insert(index).second) {
            fail(264, "42000",
                 "The column name '" + col +
                     "' is specified more than once in the SET clause or column list of an "
                     "INSERT. A column cannot be assigned more than one value in the same "
                     "clause. Modify the clause to make sure that a column is updated only once.");
        }
        expectSymbol("=");
        const Expr e = assignTo(table.columns[index], value());
        if (e.aggregate) {
            fail(157, "42000",
                 "An aggregate may not appear in the set list of an UPDATE statement.");
        }
        newValues[index] = e.sql;
        sets += (sets.empty() ? "" : ", ") + quoteName(table.columns[index].name) + " = " + e.sql;
    } while (acceptSymbol(","));
    const std::string where = whereClause();
    finish();
    plan.sql.push_back("UPDATE " + table.sqliteName() + " SET " + sets + where);
    std::string probe;
    for (const std::string& v : newValues) probe += (probe.empty() ? "" : ", ") + v;
    for (const std::string& v : oldValues) probe += ", " + v;
    plan.keyProbeSql = "SELECT " + probe + " FROM " + table.sqliteName() + where;
    return plan;
}

Plan Translator::remove() {
    Plan plan;
    plan.kind = PlanKind::Delete;
    acceptWord("from");
    const TableName n = tableName();
    const TableDef& table = existingTable(n);
    plan.table = &table;
    qualify_ = false;
    scope_.push_back(Source{&table, "", lowerCase(n.name)});
    const std::string where = whereClause();
    finish();
    plan.sql.push_back("DELETE FROM " + table.sqliteName() + where);
    return plan;
}

// --- DDL ---

Plan Translator::create() {
    if (acceptWord("schema")) {
        Plan plan;
        plan.kind = PlanKind::CreateSchema;
        const std::string schema = name();
        if (acceptWord("authorization")) name();
        finish();
        if (catalog_.hasSchema(schema)) {
            fail(2714, "42S01",
                 "There is already an object named '" + schema + "' in the database.");
        }
        plan.sql.push_back("INSERT INTO \"standin$meta\" (kind, schema_name) VALUES ('schema', " +
                           quoteLiteral(schema) + ")");
        return plan;
    }
    if (acceptWord("table")) return createTable();
    const bool unique = acceptWord("unique");
    if (!acceptWord("clustered")) acceptWord("nonclustered");
    expectWord("index");
    return createIndex(unique);
}

TypeSpec Translator::typeSpec(int defaultLength) {
    const Token& t = peek();
    if (t.kind != Tok::Word && t.kind != Tok::QuotedName) syntaxError();
    const std::string type = lowerCase(next().text);
    TypeSpec declared;
    declared.size = defaultLength;
    if (type == "char" || type == "varchar" || type == "character") {
        declared.type = type == "varchar" ? ColType::VarChar : ColType::Char;
        if (acceptSymbol("(")) {
            if (peek().kind != Tok::Number) syntaxError();
            declared.size = std::atoi(next().text.c_str());
            if (declared.size < 1 || declared.size > 8000) {
                fail(131, "42000",
                     "The size (" + std::to_string(declared.size) + ") given to the type '" + type +
                         "' exceeds the maximum allowed for any data type (8000).");
            }
            expectSymbol(")");
        }
        return declared;
    }
    declared.size = 0;
    if (type == "int" || type == "integer") {
        declared.type = ColType::Int;
    } else if (type == "smallint") {
        declared.type = ColType::SmallInt;
    } else if (type == "datetime") {
        declared.type = ColType::DateTime;
    } else {
        fail(2715, "42000",
             "Column, parameter, or variable #1: Cannot find data type " + t.text + ".");
    }
    return declared;
}

Plan Translator::createTable() {
    Plan plan;
    plan.kind = PlanKind::CreateTable;
    const TableName n = tableName();
    if (!catalog_.hasSchema(n.schema)) {
        fail(2760, "42000",
             "The specified schema name \"" + n.schema +
                 "\" either does not exist or you do not have permission to use it.");
    }
    if (catalog_.findTable(n.schema, n.name) != nullptr) {
        fail(2714, "42S01", "There is already an object named '" + n.name + "' in the database.");
    }
    TableDef table;
    table.schema = n.schema;
    table.name = n.name;
    for (const TableDef* t : catalog_.tables()) {
        if (lowerCase(t->schema) == lowerCase(n.schema)) table.schema = t->schema;
    }
    expectSymbol("(");
    std::vector<std::string> keyColumns;
    auto primaryKey = [&](const std::string& constraintName) {
        if (!table.primaryKeyName.empty() || !keyColumns.empty()) {
            fail(8110, "42000",
                 "Cannot add multiple PRIMARY KEY constraints to table '" + n.name + "'.");
        }
        table.primaryKeyName = constraintName.empty() ? "PK__" + n.name : constraintName;
        if (!acceptWord("clustered")) acceptWord("nonclustered");
    };
    do {
        std::string constraintName;
        if (acceptWord("constraint")) constraintName = name();
        if (acceptWord("primary")) {
            expectWord("key");
            primaryKey(constraintName);
            expectSymbol("(");
            do {
                keyColumns.push_back(name());
                if (!acceptWord("asc")) acceptWord("desc");
            } while (acceptSymbol(","));
            expectSymbol(")");
            continue;
        }
        if (!constraintName.empty()) syntaxError();
        ColumnDef col;
        col.name = name();
        if (table.findColumn(col.name) >= 0) {
            fail(2705, "42S21",
                 "Column names in each table must be unique. Column name '" + col.name +
                     "' in table '" + n.written + "' is specified more than once.");
        }
        const TypeSpec declared = typeSpec(1);
        col.type = declared.type;
        col.size = declared.size;
        while (true) {
            if (acceptWord("null")) continue;
            if (acceptWord("not")) {
                expectWord("null");
                col.notNull = true;
                continue;
            }
            std::string columnConstraint;
            if (acceptWord("constraint")) columnConstraint = name();
            if (acceptWord("default")) {
                const size_t start = pos_;
                Translator check(std::string_view(), catalog_, now_);
                check.tokens_.assign(tokens_.begin() + static_cast<long>(start), tokens_.end());
                check.value();  // validates the expression and finds its end
                pos_ = start + check.pos_;
                col.defaultSql = std::string(text_.substr(
                    tokens_[start].begin, tokens_[pos_ - 1].end - tokens_[start].begin));
                continue;
            }
            if (acceptWord("primary")) {
                expectWord("key");
                primaryKey(columnConstraint);
                keyColumns.push_back(col.name);
                continue;
            }
            if (!columnConstraint.empty()) syntaxError();
            break;
        }
        table.columns.push_back(col);
    } while (acceptSymbol(","));
    expectSymbol(")");
    finish();
    for (const std::string& k : keyColumns) {
        const int index = table.findColumn(k);
        if (index < 0) {
            fail(1911, "42000",
                 "Column name '" + k + "' does not exist in the target table or view.");
        }
        table.columns[index].notNull = true;
        table.primaryKey.push_back(index);
    }
    if (table.columns.empty()) syntaxError();

    std::string ddl = "CREATE TABLE " + table.sqliteName() + " (";
    for (size_t i = 0; i < table.columns.size(); ++i) {
        const ColumnDef& c = table.columns[i];
        ddl += (i == 0 ? "" : ", ") + quoteName(c.name) + " " + declaredType(c);
        if (c.type == ColType::Char || c.type == ColType::VarChar) ddl += " COLLATE TSQL";
        if (c.notNull) ddl += " NOT NULL";
    }
    if (!table.primaryKey.empty()) {
        ddl += ", PRIMARY KEY (";
        for (size_t i = 0; i < table.primaryKey.size(); ++i) {
            ddl += (i == 0 ? "" : ", ") + quoteName(table.columns[table.primaryKey[i]].name);
        }
        ddl += ")";
    }
    ddl += table.primaryKey.empty() ? ")" : ") WITHOUT ROWID";
    plan.sql.push_back(ddl);
    const std::string meta =
        "INSERT INTO \"standin$meta\" (kind, schema_name, table_name, item, "
        "detail) VALUES (";
    const std::string owner = quoteLiteral(table.schema) + ", " + quoteLiteral(table.name);
    if (!table.primaryKeyName.empty()) {
        plan.sql.push_back(meta + "'pk', " + owner + ", " + quoteLiteral(table.primaryKeyName) +
                           ", NULL)");
    }
    for (const ColumnDef& c : table.columns) {
        if (c.defaultSql.empty()) continue;
        plan.sql.push_back(meta + "'default', " + owner + ", " + quoteLiteral(c.name) + ", " +
                           quoteLiteral(c.defaultSql) + ")");
    }
    return plan;
}

Plan Translator::createIndex(bool unique) {
    Plan plan;
    plan.kind = PlanKind::CreateIndex;
    const std::string index = name();
    expectWord("on");
    const TableName n = tableName();
    const TableDef& table = existingTable(n);
    std::string columns;
    expectSymbol("(");
    do {
        const std::string col = name();
        const int c = table.findColumn(col);
        if (c < 0) {
            fail(1911, "42000",
                 "Column name '" + col + "' does not exist in the target table or view.");
        }
        columns += (columns.empty() ? "" : ", ") + quoteName(table.columns[c].name);
        if (acceptWord("desc")) {
            columns += " DESC";
        } else {
            acceptWord("asc");
        }
    } while (acceptSymbol(","));
    expectSymbol(")");
    finish();
    for (const IndexDef& existing : table.indexes) {
        if (lowerCase(existing.name) == lowerCase(index)) {
            fail(1913, "42000",
                 "The operation failed because an index or statistics with name '" + index +
                     "' already exists on table '" + table.qualifiedName() + "'.");
        }
    }
    plan.sql.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                       quoteName(table.qualifiedName() + "." + index) + " ON " +
                       table.sqliteName() + " (" + columns + ")");
    return plan;
}

Plan Translator::drop() {
    Plan plan;
    plan.kind = PlanKind::DropTable;
    expectWord("table");
    const TableName n = tableName();
    finish();
    const TableDef* table = catalog_.findTable(n.schema, n.name);
    if (table == nullptr) {
        fail(3701, "42S02",
             "Cannot drop the table '" + n.written +
                 "', because it does not exist or you do not have permission.");
    }
    plan.sql.push_back("DROP TABLE " + table->sqliteName());
    plan.sql.push_back("DELETE FROM \"standin$meta\" WHERE kind <> 'schema' AND schema_name = " +
                       quoteLiteral(table->schema) +
                       " AND table_name = " + quoteLiteral(table->name));
    return plan;
}

// --- expressions ---

Expr Translator::condition() {
    const Token& start = peek();
    Expr e = expression();
    if (e.ty != Ty::Bool) {
        fail(4145, "42000",
             "An expression of non-boolean type specified in a context where a condition is "
             "expected, near '" +
                 (peek().kind == Tok::End ? start.raw : peek().raw) + "'.");
    }
    return e;
}

Expr Translator::value() {
    const Token& start = peek();
    Expr e = expression();
    if (e.ty == Ty::Bool) {
        fail(102, "42000", "Incorrect syntax near '" + start.raw + "'.");
    }
    return e;
}

Expr Translator::expression() {
    return orExpr();
}

Expr boolean(const std::string& sql, const Expr& a, const Expr& b) {
    Expr e;
    e.ty = Ty::Bool;
    e.sql = sql;
    e.aggregate = a.aggregate || b.aggregate;
    e.bareColumn = a.bareColumn.empty() ? b.bareColumn : a.bareColumn;
    return e;
}

void requireCondition(const Expr& e, const Token& near) {
    if (e.ty != Ty::Bool) {
        fail(4145, "42000",
             "An expression of non-boolean type specified in a context where a condition is "
             "expected, near '" +
                 near.raw + "'.");
    }
}

// One level of AND or OR: operands from the next level down.
Expr Translator::logical(const char* word, const char* sqlOp, Expr (Translator::*operand)()) {
    Expr left = (this->*operand)();
    while (atWord(word)) {
        const Token& op = next();
        const Expr right = (this->*operand)();
        requireCondition(left, op);
        requireCondition(right, op);
        left = boolean("(" + left.sql + sqlOp + right.sql + ")", left, right);
    }
    return left;
}

Expr Translator::orExpr() {
    return logical("or", " OR ", &Translator::andExpr);
}

Expr Translator::andExpr() {
    return logical("and", " AND ", &Translator::notExpr);
}

Expr Translator::notExpr() {
    const Nesting level(depth_);
    if (atWord("not")) {
        const Token& op = next();
        const Expr inner = notExpr();
        requireCondition(inner, op);
        return boolean("(NOT " + inner.sql + ")", inner, inner);
    }
    return comparison();
}

Expr Translator::comparison() {
    Expr left = additive();
    // LIKE, IN and BETWEEN are outside the subset: refuse them by name.
    if (atWord("like") || atWord("in") || atWord("between")) syntaxError();
    if (atWord("is")) {
        next();
        const bool negated = acceptWord("not");
        expectWord("null");
        if (left.ty == Ty::Bool) syntaxError();
        return boolean("(" + left.sql + (negated ? " IS NOT NULL)" : " IS NULL)"), left, left);
    }
    static const char* const ops[] = {"=", "<>", "!=", "<", "<=", ">", ">=", "!<", "!>"};
    const Token& t = peek();
    if (t.kind != Tok::Symbol) return left;
    std::string op;
    for (const char* candidate : ops) {
        if (t.text == candidate) op = candidate;
    }
    if (op.empty()) return left;
    next();
    Expr right = additive();
    if (left.ty == Ty::Bool || right.ty == Ty::Bool) {
        fail(102, "42000", "Incorrect syntax near '" + t.raw + "'.");
    }
    if (op == "!=") op = "<>";
    if (op == "!<") op = ">=";
    if (op == "!>") op = "<=";
    // Both sides meet in the type of higher precedence: datetime, then int,
    // then text.
    if (left.ty == Ty::DateTime || right.ty == Ty::DateTime) {
        left = toDateTime(left);
        right = toDateTime(right);
    } else if (left.ty == Ty::Int || right.ty == Ty::Int) {
        left = toInt(left);
        right = toInt(right);
    }
    std::string sql;
    if (left.ty == Ty::Str && right.ty == Ty::Str && !left.plainColumn && !right.plainColumn) {
        sql = "((" + left.sql + ") COLLATE TSQL " + op + " " + right.sql + ")";
    } else {
        sql = "(" + left.sql + " " + op + " " + right.sql + ")";
    }
    return boolean(sql, left, right);
}

Expr arithmetic(const std::string& op, Expr a, Expr b) {
    if (a.ty == Ty::Bool || b.ty == Ty::Bool) {
        fail(102, "42000", "Incorrect syntax near '" + op + "'.");
    }
    Expr shape;
    shape.aggregate = a.aggregate || b.aggregate;
    shape.bareColumn = a.bareColumn.empty() ? b.bareColumn : a.bareColumn;
    shape.nullable = a.nullable || b.nullable;
    if (op == "+" && a.ty == Ty::Str && b.ty == Ty::Str) {
        shape.ty = Ty::Str;
        shape.fixed = a.fixed && b.fixed;
        shape.size = std::min(a.size + b.size, 8000);
        if (a.isConst && b.isConst) {
            Expr folded = constant(Ty::Str, valText(a.value) + valText(b.value));
            folded.fixed = shape.fixed;
            return folded;
        }
        shape.sql = "(" + a.sql + " || " + b.sql + ")";
        return shape;
    }
    if ((op == "+" || op == "-") && (a.ty == Ty::DateTime || b.ty == Ty::DateTime)) {
        // datetime plus or minus a number of days.
        Expr& days = a.ty == Ty::DateTime ? b : a;
        const Expr& date = a.ty == Ty::DateTime ? a : b;
        if (days.ty == Ty::DateTime || (op == "-" && b.ty == Ty::DateTime)) {
            fail(8117, "42000",
                 "Operand data type datetime is invalid for " +
                     std::string(op == "+" ? "add" : "subtract") + " operator.");
        }
        Expr n = toInt(days);
        if (op == "-") n = arithmetic("-", intConst(0), n);
        shape.ty = Ty::DateTime;
        return call("ts_dateadd", {textConst("day"), n, date}, shape);
    }
    if (a.ty == Ty::Null && b.ty == Ty::Null) return constant(Ty::Int, Val{});
    if (a.ty == Ty::Null || b.ty == Ty::Null) {
        const Ty other = a.ty == Ty::Null ? b.ty : a.ty;
        if (other == Ty::Str && op != "+") {
            fail(8117, "42000", "Operand data type varchar is invalid for operator " + op + ".");
        }
        Expr null = constant(other, Val{});
        null.aggregate = shape.aggregate;
        null.bareColumn = shape.bareColumn;
        return null;
    }
    a = toInt(a);
    b = toInt(b);
    // The result has the type of the higher operand: numeric over int over
    // smallint. An int or smallint result beyond its range is 8115, as the
    // server computes in the result's type.
    shape.ty = Ty::Int;
    shape.wide = a.wide || b.wide;
    shape.small = a.small && b.small;
    const char* type = shape.wide ? "numeric" : shape.small ? "smallint" : "int";
    auto inRange = [&](Expr e) {
        if (shape.wide) return e;
        e.small = shape.small;
        return call("ts_range", {e, textConst(type), intConst(8115)}, e);
    };
    if (op == "/" || op == "%")
        return inRange(call(op == "/" ? "ts_div" : "ts_mod", {a, b}, shape));
    // A folded NULL keeps the type of its expression (4*NULL is an int
    // NULL), so the type alone does not tell that there is no number.
    if (isNullConstant(a) || isNullConstant(b)) return constant(Ty::Int, Val{});
    if (a.isConst && b.isConst) {
        const std::int64_t x = std::get<std::int64_t>(a.value);
        const std::int64_t y = std::get<std::int64_t>(b.value);
        std::int64_t folded = 0;
        const bool overflow = op == "+"   ? __builtin_add_overflow(x, y, &folded)
                              : op == "-" ? __builtin_sub_overflow(x, y, &folded)
                                          : __builtin_mul_overflow(x, y, &folded);
        if (overflow) {
            fail(8115, "22003",
                 std::string("Arithmetic overflow error converting expression to data type ") +
                     type + ".");
        }
        Expr e = intConst(folded);
        e.wide = shape.wide;
        return inRange(e);
    }
    shape.sql = "(" + a.sql + " " + op + " " + b.sql + ")";
    return inRange(shape);
}

Expr Translator::additive() {
    Expr left = multiplicative();
    while (atSymbol("+") || atSymbol("-")) {
        const std::string op = next().text;
        left = arithmetic(op, left, multiplicative());
    }
    return left;
}

Expr Translator::multiplicative() {
    Expr left = unary();
    while (atSymbol("*") || atSymbol("/") || atSymbol("%")) {
        const std::string op = next().text;
        left = arithmetic(op, left, unary());
    }
    return left;
}

Expr Translator::unary() {
    const Nesting level(depth_);
    if (acceptSymbol("-")) {
        const Expr inner = unary();
        if (inner.ty == Ty::DateTime || inner.ty == Ty::Str) {
            fail(8117, "42000",
                 std::string("Operand data type ") + typeName(inner.ty) +
                     " is invalid for minus operator.");
        }
        return arithmetic("-", intConst(0), inner);
    }
    if (acceptSymbol("+")) return unary();
    return primary();
}

Expr Translator::primary() {
    const Token& t = peek();
    if (t.kind == Tok::String) {
        next();
        return textConst(t.text);
    }
    if (t.kind == Tok::Number) {
        next();
        errno = 0;
        const long long v = std::strtoll(t.text.c_str(), nullptr, 10);
        if (errno != 0)
            fail(8115, "22003",
                 "Arithmetic overflow error converting expression to data type numeric.");
        // Beyond int's range a literal is a numeric, as the server reads it.
        Expr e = intConst(v);
        e.wide = v > INT32_MAX;
        return e;
    }
    if (acceptSymbol("(")) {
        Expr e = expression();
        expectSymbol(")");
        e.plainColumn = false;
        if (e.ty != Ty::Bool) e.sql = "(" + e.sql + ")";
        return e;
    }
    if (t.kind == Tok::Word) {
        const std::string& word = t.lower;
        if (word == "null") {
            next();
            return constant(Ty::Null, Val{});
        }
        if (word == "current_timestamp") {
            next();
            return constant(Ty::DateTime, now_);
        }
        if (peek(1).kind == Tok::Symbol && peek(1).text == "(") {
            next();
            next();
            return function(word);
        }
    }
    if (atName()) return columnRef();
    syntaxError();
}

Expr Translator::aggregate(const std::string& fn) {
    Expr e;
    e.aggregate = true;
    e.ty = Ty::Int;
    if (fn == "count") {
        e.nullable = false;
        if (acceptSymbol("*")) {
            expectSymbol(")");
            e.sql = "count(*)";
            return e;
        }
        const bool distinct = acceptWord("distinct");
        const Expr arg = value();
        expectSymbol(")");
        std::string inner = arg.sql;
        if (arg.ty == Ty::Str && !arg.plainColumn) inner = "(" + inner + ") COLLATE TSQL";
        e.sql = std::string("count(") + (distinct ? "DISTINCT " : "") + inner + ")";
        return e;
    }
    const Expr arg = value();
    expectSymbol(")");
    if (arg.aggregate) {
        fail(130, "42000",
             "Cannot perform an aggregate function on an expression containing an aggregate or "
             "a subquery.");
    }
    if (fn == "sum") {
        // SUM of int and smallint is an int; its overflow fails the
        // statement when the sum is computed, before any row goes out.
        const Expr n = toInt(arg);
        e.wide = n.wide;
        e.sql = "sum(" + n.sql + ")";
        if (!e.wide) e.sql = "ts_range(" + e.sql + ", 'int', 8115)";
        return e;
    }
    e = arg;
    e.aggregate = true;
    e.bareColumn.clear();
    e.isConst = false;
    e.plainColumn = false;
    e.columnName.clear();
    std::string inner = arg.sql;
    if (arg.ty == Ty::Str && !arg.plainColumn) inner = "(" + inner + ") COLLATE TSQL";
    e.sql = fn + "(" + inner + ")";
    return e;
}

Expr Translator::function(const std::string& fn) {
    if (fn == "count" || fn == "min" || fn == "max" || fn == "sum") return aggregate(fn);
    if (fn == "getdate") {
        expectSymbol(")");
        return constant(Ty::DateTime, now_);
    }
    if (fn == "convert") {
        const TypeSpec type = typeSpec(30);
        expectSymbol(",");
        const Expr e = value();
        int style = -1;
        if (acceptSymbol(",")) {
            const Expr s = value();
            if (!s.isConst || s.ty != Ty::Int || isNullConstant(s)) syntaxError();
            style = static_cast<int>(std::get<std::int64_t>(s.value));
        }
        expectSymbol(")");
        return convert(type, e, style);
    }
    if (fn == "cast") {
        const Expr e = value();
        expectWord("as");
        const TypeSpec type = typeSpec(30);
        expectSymbol(")");
        return convert(type, e, -1);
    }
    if (fn == "dateadd") {
        const std::string part = lowerCase(name());
        static const std::pair<const char*, const char*> parts[] = {{"dd", "day"},
                                                                    {"d", "day"},
                                                                    {"day", "day"},
                                                                    {"mm", "month"},
                                                                    {"m", "month"},
                                                                    {"month", "month"},
                                                                    {"yy", "year"},
                                                                    {"yyyy", "year"},
                                                                    {"year", "year"},
                                                                    {"hh", "hour"},
                                                                    {"hour", "hour"},
                                                                    {"mi", "minute"},
                                                                    {"n", "minute"},
                                                                    {"minute", "minute"},
                                                                    {"ss", "second"},
                                                                    {"s", "second"},
                                                                    {"second", "second"},
                                                                    {"ms", "millisecond"},
                                                                    {"millisecond", "millisecond"}};
        std::string unit;
        for (const auto& [alias, full] : parts) {
            if (part == alias) unit = full;
        }
        if (unit.empty()) fail(155, "42000", "'" + part + "' is not a recognized dateadd option.");
        expectSymbol(",");
        const Expr n = toInt(value());
        expectSymbol(",");
        const Expr date = toDateTime(value());
        expectSymbol(")");
        Expr shape = typed(date, Ty::DateTime);
        return call("ts_dateadd", {textConst(unit), n, date}, shape);
    }
    if (fn == "coalesce" || fn == "isnull") {
        std::vector<Expr> args;
        do {
            args.push_back(value());
        } while (acceptSymbol(","));
        expectSymbol(")");
        if (fn == "isnull" ? args.size() != 2 : args.size() < 2) {
            fail(174, "42000",
                 "The " + fn + " function requires " + (fn == "isnull" ? "2" : "at least 2") +
                     " argument(s).");
        }
        Ty ty = Ty::Null;
        for (const Expr& a : args) {
            if (a.ty == Ty::DateTime) ty = Ty::DateTime;
            if (a.ty == Ty::Int && ty != Ty::DateTime) ty = Ty::Int;
            if (a.ty == Ty::Str && ty == Ty::Null) ty = Ty::Str;
        }
        Expr e;
        e.ty = ty;
        e.fixed = true;
        e.nullable = true;
        std::string sql;
        for (Expr a : args) {
            if (ty == Ty::DateTime) a = toDateTime(a);
            if (ty == Ty::Int) a = toInt(a);
            e.fixed = e.fixed && a.fixed;
            e.size = std::max(e.size, a.size);
            e.small = a.small;
            e.nullable = e.nullable && a.nullable;
            e.aggregate = e.aggregate || a.aggregate;
            if (e.bareColumn.empty()) e.bareColumn = a.bareColumn;
            sql += (sql.empty() ? "" : ", ") + a.sql;
        }
        e.sql = "coalesce(" + sql + ")";
        return e;
    }
    fail(195, "42000", "'" + fn + "' is not a recognized built-in function name.");
}

Expr Translator::convert(const TypeSpec& type, const Expr& e, int style) {
    if (e.ty == Ty::Bool) syntaxError();
    if (std::optional<Expr> converted = toNonText(type.type, e)) return *converted;
    Expr text = e;
    if (e.ty == Ty::DateTime) {
        text = call("ts_dtstr", {e, intConst(style < 0 ? 0 : style)}, typed(e, Ty::Str));
    } else if (e.ty != Ty::Str) {
        text = toText(e);
    }
    Expr shape = typed(text, Ty::Str);
    shape.fixed = type.type == ColType::Char;
    shape.size = type.size;
    return call("ts_fit", {text, intConst(type.size), intConst(shape.fixed ? 1 : 0)}, shape);
}

Expr Translator::assignTo(const ColumnDef& column, const Expr& e) {
    if (e.ty == Ty::Bool) syntaxError();
    if (e.ty == Ty::Null) return constant(Ty::Null, Val{});
    if (std::optional<Expr> converted = toNonText(column.type, e)) return *converted;
    const Expr text = toText(e);
    Expr shape = typed(text, Ty::Str);
    const bool pad = column.type == ColType::Char;
    return call("ts_assign", {text, intConst(column.size), intConst(pad ? 1 : 0)}, shape);
}

Expr Translator::column(const Source& source, int index) const {
    const ColumnDef& c = source.table->columns[index];
    Expr e;
    e.sql = qualify_ ? source.alias + "." + quoteName(c.name) : quoteName(c.name);
    e.nullable = !c.notNull;
    e.plainColumn = true;
    e.columnName = c.name;
    e.bareColumn = source.table->name + "." + c.name;
    switch (c.type) {
        case ColType::Char:
        case ColType::VarChar:
            e.ty = Ty::Str;
            e.fixed = c.type == ColType::Char;
            e.size = c.size;
            break;
        case ColType::DateTime:
            e.ty = Ty::DateTime;
            break;
        default:
            e.ty = Ty::Int;
            e.small = c.type == ColType::SmallInt;
    }
    return e;
}

Expr Translator::columnRef() {
    std::vector<std::string> parts{name()};
    while (atSymbol(".") && parts.size() < 3) {
        next();
        parts.push_back(name());
    }
    const std::string& col = parts.back();
    std::string written;
    for (const std::string& p : parts) written += (written.empty() ? "" : ".") + p;
    const Source* found = nullptr;
    int foundIndex = -1;
    bool qualifierBound = parts.size() == 1;
    for (const Source& s : scope_) {
        if (parts.size() >= 2) {
            if (lowerCase(parts[parts.size() - 2]) != s.exposed) continue;
            if (parts.size() == 3 && lowerCase(parts[0]) != lowerCase(s.table->schema)) continue;
            qualifierBound = true;
        }
        const int index = s.table->findColumn(col);
        if (index < 0) continue;
        if (found != nullptr) fail(209, "42000", "Ambiguous column name '" + col + "'.");
        found = &s;
        foundIndex = index;
    }
    if (!qualifierBound) {
        fail(4104, "42000", "The multi-part identifier \"" + written + "\" could not be bound.");
    }
    if (found == nullptr) fail(207, "42S22", "Invalid column name '" + col + "'.");
    return column(*found, foundIndex);
}

}  // namespace

Plan translate(std::string_view sql, const Catalog& catalog, const std::string& now) {
    Translator t(sql, catalog, now);
    return t.statement();
}

}  // namespace standin
