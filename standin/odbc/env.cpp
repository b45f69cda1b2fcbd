// Environment attributes. The ODBC version the application declared decides
// what a zero-row UPDATE or DELETE returns on every connection of it.
#include "standin/odbc/handles.h"

namespace standin::odbc {

SQLRETURN setEnvAttr(Env& env, SQLINTEGER attribute, SQLPOINTER value) {
    auto v = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
    switch (attribute) {
        case SQL_ATTR_ODBC_VERSION:
            if (v != SQL_OV_ODBC2 && v != SQL_OV_ODBC3 && v != SQL_OV_ODBC3_80)
                return driverError(env.diags, "HY024", "Invalid attribute value");
            env.odbcVersion = v;
            return SQL_SUCCESS;
        case SQL_ATTR_OUTPUT_NTS:
            if (v != SQL_TRUE)
                return driverError(env.diags, "HYC00", "Optional feature not implemented");
            return SQL_SUCCESS;
        default:
            return driverError(env.diags, "HY092", "Invalid attribute/option identifier");
    }
}

SQLRETURN getEnvAttr(Env& env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* length) {
    SQLINTEGER v = 0;
    switch (attribute) {
        case SQL_ATTR_ODBC_VERSION:
            v = env.odbcVersion;
            break;
        case SQL_ATTR_OUTPUT_NTS:
            v = SQL_TRUE;
            break;
        default:
            return driverError(env.diags, "HY092", "Invalid attribute/option identifier");
    }
    if (value) *static_cast<SQLINTEGER*>(value) = v;
    if (length) *length = sizeof v;
    return SQL_SUCCESS;
}

}  // namespace standin::odbc
