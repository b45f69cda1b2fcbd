// What the engine knows of the database's schemas, tables, columns and
// keys. SQLite holds the tables themselves (one SQLite table "schema.table"
// per T-SQL table, declared types such as char(8) kept in its schema); what
// SQLite cannot hold (schemas, primary key names, T-SQL default expressions)
// lives in the table "standin$meta". The engine owns one Catalog per
// connection and reloads it after a rollback.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "standin/engine.h"

namespace standin {

struct ColumnDef {
    std::string name;
    ColType type = ColType::VarChar;
    int size = 0;  // char/varchar length
    bool notNull = false;
    std::string defaultSql;  // T-SQL text of the DEFAULT, empty when none
};

struct IndexDef {
    std::string name;  // as created, e.g. "IX_Bch"
    bool unique = false;
    std::vector<int> columns;
};

struct TableDef {
    std::string schema;
    std::string name;
    std::vector<ColumnDef> columns;
    std::vector<int> primaryKey;  // column positions, in key order
    std::string primaryKeyName;
    std::vector<IndexDef> indexes;

    std::string qualifiedName() const { return schema + "." + name; }
    // The SQLite table, quoted for use in SQL text.
    std::string sqliteName() const;
    int findColumn(const std::string& column) const;  // -1 when absent
};

std::string lowerCase(std::string text);
std::string quoteName(const std::string& name);     // "name" with doubled quotes
std::string quoteLiteral(const std::string& text);  // 'text' with doubled quotes
std::string declaredType(const ColumnDef& column);  // e.g. char(8)

class Catalog {
  public:
    // Creates the meta table when missing and reads every table. Returns a
    // SQLite result code.
    int load(sqlite3* db);

    bool hasSchema(const std::string& schema) const;
    const TableDef* findTable(const std::string& schema, const std::string& name) const;
    std::vector<const TableDef*> tables() const;

    void addSchema(const std::string& schema) { schemas_.insert(lowerCase(schema)); }
    void putTable(const TableDef& table);
    void dropTable(const std::string& schema, const std::string& name);

  private:
    std::set<std::string> schemas_;           // lower case
    std::map<std::string, TableDef> tables_;  // key: lower-case "schema.table"
};

}  // namespace standin
