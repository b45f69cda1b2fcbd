// The ODBC API's headers, in the order the platform needs: Windows' own
// declare their types through <windows.h>, which must come first (and is
// kept from defining min and max, and from pulling in the rest of the API).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
