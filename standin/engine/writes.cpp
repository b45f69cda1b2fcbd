// INSERT, UPDATE and DELETE (see translator.h).
#include <algorithm>
#include <set>

#include "standin/engine/translator.h"
#include "standin/engine/values.h"

namespace standin::translation {

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

}  // namespace standin::translation
