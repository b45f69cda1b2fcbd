// Expressions of the accepted T-SQL: their types, the implicit and explicit
// conversions between them, operators, functions and column references
// (see translator.h).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>

#include "standin/engine/translator.h"
#include "standin/engine/values.h"

namespace standin::translation {

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

Expr toInt(const Expr& e, const char* type) {
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

namespace {

Expr boolean(const std::string& sql, const Expr& a, const Expr& b) {
    Expr e;
    e.ty = Ty::Bool;
    e.sql = sql;
    e.aggregate = a.aggregate || b.aggregate;
    e.bareColumn = a.bareColumn.empty() ? b.bareColumn : a.bareColumn;
    return e;
}

}  // namespace

namespace {

void requireCondition(const Expr& e, const Token& near) {
    if (e.ty != Ty::Bool) {
        fail(4145, "42000",
             "An expression of non-boolean type specified in a context where a condition is "
             "expected, near '" +
                 near.raw + "'.");
    }
}

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace standin::translation
