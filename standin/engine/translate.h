// Translation of one T-SQL statement of the accepted subset into the SQLite
// statements that carry it out with SQL Server's semantics. A recursive
// descent parser types every expression (int, text, datetime) and emits
// SQLite SQL as it goes: implicit conversions become calls of the engine's
// functions, text comparisons get the TSQL collation, and calls on
// constants are folded at once. Names are resolved against the Catalog.
//
// Errors (syntax, unknown objects, conversions of constants) throw SqlError.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "standin/engine.h"
#include "standin/engine/catalog.h"

namespace standin {

enum class PlanKind {
    Select,
    Insert,
    Update,
    Delete,
    CreateSchema,
    CreateTable,
    CreateIndex,
    DropTable,
    Begin,
    Commit,
    Rollback,
    SetNoCount
};

struct Plan {
    PlanKind kind = PlanKind::Select;
    std::vector<std::string> sql;     // SQLite statements, run in order
    std::vector<Column> columns;      // of a SELECT
    const TableDef* table = nullptr;  // target of INSERT, UPDATE, DELETE
    // For the duplicate-key message: a SELECT giving, per row written, the
    // new key values and (UPDATE only) the row's present key values.
    std::string keyProbeSql;
    bool setOn = false;  // SET NOCOUNT ON rather than OFF
};

// now: the statement's CURRENT_TIMESTAMP in the stored datetime form.
Plan translate(std::string_view sql, const Catalog& catalog, const std::string& now);

}  // namespace standin
