// Data definition: CREATE SCHEMA, CREATE TABLE, CREATE [UNIQUE] INDEX and
// DROP TABLE (see translator.h).

#include "standin/engine/translator.h"
#include "standin/engine/values.h"

namespace standin::translation {

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

}  // namespace standin::translation
