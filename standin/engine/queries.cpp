// SELECT: the select list, FROM with comma joins, WHERE, ORDER BY
// (see translator.h).

#include "standin/engine/translator.h"
#include "standin/engine/values.h"

namespace standin::translation {

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
        // Not s.alias = "t": GCC 12 warns of an overlapping copy there
        // (-Wrestrict) when optimising.
        s.alias.assign(1, 't');
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

}  // namespace standin::translation
