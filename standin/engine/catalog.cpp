// The engine's knowledge of schemas and tables (see catalog.h).
#include "standin/engine/catalog.h"

#include <algorithm>
#include <cctype>

namespace standin {

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string quoteName(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::string quoteLiteral(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

std::string declaredType(const ColumnDef& column) {
    switch (column.type) {
        case ColType::Char:
            return "char(" + std::to_string(column.size) + ")";
        case ColType::VarChar:
            return "varchar(" + std::to_string(column.size) + ")";
        case ColType::Int:
            return "int";
        case ColType::SmallInt:
            return "smallint";
        case ColType::Numeric:
            return "numeric";
        case ColType::DateTime:
            // "text" gives the column SQLite's text affinity, so the
            // 'yyyy-mm-dd hh:mm:ss.fff' values are never taken for numbers.
            return "datetime text";
    }
    return "";
}

std::string TableDef::sqliteName() const {
    return quoteName(qualifiedName());
}

int TableDef::findColumn(const std::string& column) const {
    const std::string wanted = lowerCase(column);
    for (size_t i = 0; i < columns.size(); ++i) {
        if (lowerCase(columns[i].name) == wanted) return static_cast<int>(i);
    }
    return -1;
}

namespace {

std::string columnText(sqlite3_stmt* st, int col) {
    const unsigned char* text = sqlite3_column_text(st, col);
    return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
}

// Runs a query and hands each row to fn. Returns a SQLite result code.
template <typename Fn>
int eachRow(sqlite3* db, const std::string& sql, Fn fn) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    if (rc != SQLITE_OK) return rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) fn(st);
    sqlite3_finalize(st);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void parseDeclaredType(const std::string& declared, ColumnDef& column) {
    const std::string type = lowerCase(declared);
    const size_t paren = type.find('(');
    const int size = paren == std::string::npos ? 0 : std::atoi(type.c_str() + paren + 1);
    if (type.rfind("varchar", 0) == 0) {
        column.type = ColType::VarChar;
    } else if (type.rfind("char", 0) == 0) {
        column.type = ColType::Char;
    } else if (type.rfind("smallint", 0) == 0) {
        column.type = ColType::SmallInt;
    } else if (type.rfind("int", 0) == 0) {
        column.type = ColType::Int;
    } else {
        column.type = ColType::DateTime;
    }
    column.size = size;
}

}  // namespace

int Catalog::load(sqlite3* db) {
    schemas_.clear();
    tables_.clear();
    schemas_.insert("dbo");
    int rc = sqlite3_exec(db,
                          "CREATE TABLE IF NOT EXISTS \"standin$meta\" (kind TEXT, schema_name "
                          "TEXT, table_name TEXT, item TEXT, detail TEXT)",
                          nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    std::vector<std::string> names;
    rc = eachRow(db,
                 "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE '%.%' "
                 "ORDER BY name",
                 [&](sqlite3_stmt* st) { names.push_back(columnText(st, 0)); });
    if (rc != SQLITE_OK) return rc;
    for (const std::string& full : names) {
        TableDef table;
        const size_t dot = full.find('.');
        table.schema = full.substr(0, dot);
        table.name = full.substr(dot + 1);
        std::vector<std::pair<int, int>> keyParts;  // (position in key, column)
        rc = eachRow(db, "PRAGMA table_info(" + quoteName(full) + ")", [&](sqlite3_stmt* st) {
            ColumnDef column;
            column.name = columnText(st, 1);
            parseDeclaredType(columnText(st, 2), column);
            column.notNull = sqlite3_column_int(st, 3) != 0;
            const int pk = sqlite3_column_int(st, 5);
            if (pk > 0) keyParts.emplace_back(pk, static_cast<int>(table.columns.size()));
            table.columns.push_back(column);
        });
        if (rc != SQLITE_OK) return rc;
        std::sort(keyParts.begin(), keyParts.end());
        for (const auto& part : keyParts) table.primaryKey.push_back(part.second);
        std::vector<std::pair<std::string, bool>> indexNames;
        rc = eachRow(db, "PRAGMA index_list(" + quoteName(full) + ")", [&](sqlite3_stmt* st) {
            if (columnText(st, 3) == "c") {
                indexNames.emplace_back(columnText(st, 1), sqlite3_column_int(st, 2) != 0);
            }
        });
        if (rc != SQLITE_OK) return rc;
        for (const auto& [sqliteIndex, unique] : indexNames) {
            IndexDef index;
            index.name = sqliteIndex.substr(std::min(sqliteIndex.size(), full.size() + 1));
            index.unique = unique;
            rc = eachRow(
                db, "PRAGMA index_info(" + quoteName(sqliteIndex) + ")",
                [&](sqlite3_stmt* st) { index.columns.push_back(sqlite3_column_int(st, 1)); });
            if (rc != SQLITE_OK) return rc;
            table.indexes.push_back(index);
        }
        tables_[lowerCase(full)] = table;
    }
    return eachRow(db, "SELECT kind, schema_name, table_name, item, detail FROM \"standin$meta\"",
                   [&](sqlite3_stmt* st) {
                       const std::string kind = columnText(st, 0);
                       const std::string schema = columnText(st, 1);
                       if (kind == "schema") {
                           schemas_.insert(lowerCase(schema));
                           return;
                       }
                       auto it = tables_.find(lowerCase(schema + "." + columnText(st, 2)));
                       if (it == tables_.end()) return;
                       if (kind == "pk") it->second.primaryKeyName = columnText(st, 3);
                       if (kind == "default") {
                           const int col = it->second.findColumn(columnText(st, 3));
                           if (col >= 0) it->second.columns[col].defaultSql = columnText(st, 4);
                       }
                   });
}

bool Catalog::hasSchema(const std::string& schema) const {
    return schemas_.count(lowerCase(schema)) != 0;
}

const TableDef* Catalog::findTable(const std::string& schema, const std::string& name) const {
    auto it = tables_.find(lowerCase(schema + "." + name));
    return it == tables_.end() ? nullptr : &it->second;
}

std::vector<const TableDef*> Catalog::tables() const {
    std::vector<const TableDef*> out;
    for (const auto& entry : tables_) out.push_back(&entry.second);
    return out;
}

void Catalog::putTable(const TableDef& table) {
    tables_[lowerCase(table.qualifiedName())] = table;
}

void Catalog::dropTable(const std::string& schema, const std::string& name) {
    tables_.erase(lowerCase(schema + "." + name));
}

}  // namespace standin
