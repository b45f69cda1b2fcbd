// T-SQL to SQLite translation (see translate.h): the dispatch of one
// statement to its part of the translator (see translator.h).
#include "standin/engine/translate.h"

#include "standin/engine/translator.h"

namespace standin {

namespace translation {

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

}  // namespace translation

Plan translate(std::string_view sql, const Catalog& catalog, const std::string& now) {
    translation::Translator t(sql, catalog, now);
    return t.statement();
}

}  // namespace standin
